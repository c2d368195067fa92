#!/usr/bin/env bash
# The main job: builds what is missing, starts the stamp service on its default address,
# starts the desktop tool under Wine and stops the service when the tool exits.
# Without a display it starts a virtual one, waits for the first gallery page, saves a
# screenshot of the main window, says where it is and closes the tool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
(
  flock 9
  cmake --preset native >/dev/null && cmake --build --preset native --target stampd
  cmake --preset windows >/dev/null && cmake --build --preset windows --target Tambrel
) 9>/tmp/tambrel-build.lock

stampd=build/native/service/stampd
tool=build/windows/app/Tambrel.exe
host=$(sed -n 's/^set(TAMBREL_SERVICE_HOST "\([^"]*\)".*/\1/p' config/tambrel.cmake)

"$stampd" --listen "$host" &
service_pid=$!
cleanup() {
  kill "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
  scripts/wine-prefix.sh stop || true
}
trap cleanup EXIT
for _ in $(seq 50); do
  curl -fsS "http://$host/healthz" >/dev/null 2>&1 && break
  sleep 0.1
done
echo "stamp service listening on http://$host/"
echo "stamp maker in the browser: http://$host/"

headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  headless=1
  unset DISPLAY
fi
source scripts/xvfb.sh
tambrel_ensure_display
trap 'cleanup; tambrel_stop_display' EXIT
scripts/wine-prefix.sh start

if [ ! -f "$tool" ]; then
  echo "the desktop tool is not built yet; the service keeps running until Ctrl-C"
  wait "$service_pid"
  exit 0
fi

if [ "$headless" = 0 ]; then
  TAMBREL_WINE_TIMEOUT=${TAMBREL_WINE_TIMEOUT:-86400} scripts/wine-run.sh "$tool"
  exit 0
fi

# No display of the user's: show that it works with a screenshot of the first page.
TAMBREL_WINE_TIMEOUT=300 scripts/wine-run.sh "$tool" &
tool_pid=$!
cache=$(dirname "$tool")/tmp
for _ in $(seq 300); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Tambrel v1.0"' &&
     [ "$(ls "$cache" 2>/dev/null | wc -l)" -ge 4 ]; then
    break
  fi
  sleep 0.1
done
sleep 1
mkdir -p build/screenshots
shot=$root/build/screenshots/main-window.png
window=$(xwininfo -root -tree | awk '/"Tambrel v1.0"/ {print $1; exit}')
if [ -n "$window" ]; then
  import -display "$DISPLAY" -window "$window" "$shot"
else
  import -display "$DISPLAY" -window root "$shot"
fi
echo "screenshot of the main window: $shot"
kill "$tool_pid" 2>/dev/null || true
wait "$tool_pid" 2>/dev/null || true
