# Sourced: makes sure DISPLAY names a working X server. Without one, starts Xvfb on a free
# display number (screen TAMBREL_XVFB_SCREEN, 1280x1024x24 by default); the caller stops it with
# tambrel_stop_display.
tambrel_ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local fdfile
  fdfile=$(mktemp)
  # Started without the caller's other open files (such as the build lock).
  (
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      if [ "$fd" -gt 2 ] && [ "$fd" -lt 255 ]; then eval "exec $fd>&-"; fi
    done
    exec Xvfb -displayfd 3 -screen 0 "${TAMBREL_XVFB_SCREEN:-1280x1024x24}" -nolisten tcp 3>"$fdfile" >/dev/null 2>&1
  ) &
  TAMBREL_XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"
}

# Stops the display that tambrel_ensure_display started, if it started one.
tambrel_stop_display() {
  if [ -n "${TAMBREL_XVFB_PID:-}" ]; then
    kill "$TAMBREL_XVFB_PID" 2>/dev/null || true
    TAMBREL_XVFB_PID=
  fi
}
