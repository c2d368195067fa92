#!/usr/bin/env bash
# Creates the Wine prefix on first use and starts Wine's background processes with their
# output sent away: when services.exe starts inside the first test it inherits ctest's pipe
# and ctest never sees the end of that test's output.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

# Wine's background processes outlive this script: they must not inherit its open files, or a
# lock held by whoever called us (the build lock) would stay held for as long as they run.
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  if [ "$fd" -gt 2 ] && [ "$fd" -lt 255 ]; then eval "exec $fd>&-"; fi
done
if [ ! -f "$WINEPREFIX/.tambrel-ready" ]; then
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot --init </dev/null >/dev/null 2>&1 || true
  timeout 120 wineserver -w || true
  # The interface font is not installed under Wine; map it to a CJK font from Debian.
  timeout 60 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '微软雅黑' /d 'WenQuanYi Micro Hei' /f \
    </dev/null >/dev/null 2>&1
  timeout 120 wineserver -w || true
  touch "$WINEPREFIX/.tambrel-ready"
fi
case "${1:-start}" in
  start)
    wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
    # The font test takes the mapping away for a while and puts it back; should it have been
    # ended in between, the mapping comes back here.
    timeout 60 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '微软雅黑' /d 'WenQuanYi Micro Hei' /f \
      </dev/null >/dev/null 2>&1 || true
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
esac
