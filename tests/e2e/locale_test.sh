#!/usr/bin/env bash
# Runs an end-to-end test program in a Wine prefix as a user of another system meets the tool:
# its locale <locale> (the ANSI code page follows it) and, when given, its screen resolution
# <logpixels> (DPI). A prefix of its own under the build folder, made on first use, with its
# background processes started before the test and ended after it; the zh_CN prefix at 96 DPI
# is the one the other Windows tests use.
# Usage: locale_test.sh <source root> <build folder> <test.exe> <locale> <code page> [logpixels]
set -euo pipefail
root=$1 build=$2 exe=$3 locale=$4 acp=$5 logpixels=${6:-}
export TAMBREL_LC_ALL=$locale
own=yes
if [ -n "$logpixels" ]; then
  export TAMBREL_WINEPREFIX=$build/../wineprefix-dpi$logpixels
elif [ "$locale" = zh_CN.UTF-8 ]; then
  export TAMBREL_WINEPREFIX=${TAMBREL_WINEPREFIX:-$build/../wineprefix}
  own=no
else
  export TAMBREL_WINEPREFIX=$build/../wineprefix-${locale%%.*}
fi
locale -a 2>/dev/null | grep -qi "^${locale%%.*}.utf8$" || { echo "locale $locale is not generated (scripts/setup.sh)"; exit 1; }
if [ -n "$logpixels" ] && [ "$logpixels" -gt 144 ]; then
  # At 200 % and more the window is larger than the usual virtual screen: a screen of its own,
  # large enough for it, for this prefix only (its desktop process starts on it below).
  unset DISPLAY
  export TAMBREL_XVFB_SCREEN=2400x1800x24
  # shellcheck source=scripts/xvfb.sh
  source "$root/scripts/xvfb.sh"
  tambrel_ensure_display
  trap tambrel_stop_display EXIT
fi
"$root/scripts/wine-prefix.sh" start
if [ -n "$logpixels" ]; then
  # Read by each process as it starts; the desktop process is started again to take it too.
  TAMBREL_WINE_TIMEOUT=60 "$root/scripts/wine-run.sh" reg add 'HKCU\Control Panel\Desktop' /v LogPixels \
    /t REG_DWORD /d "$logpixels" /f </dev/null >/dev/null 2>&1
  "$root/scripts/wine-prefix.sh" stop
  "$root/scripts/wine-prefix.sh" start
fi
mkdir -p "$build/../screenshots"
shot="Z:$(cd "$build/.." && pwd)/screenshots/main-window-dpi${logpixels:-96}.png"
rc=0
TAMBREL_EXPECT_ACP=$acp TAMBREL_EXPECT_DPI=$logpixels TAMBREL_SCREENSHOT="${shot//\//\\}" \
  TAMBREL_WINE_TIMEOUT=600 "$root/scripts/wine-run.sh" "$exe" --gtest_color=no </dev/null || rc=$?
# The main prefix belongs to the other Windows tests of the run: only a prefix of our own is ended.
[ "$own" = no ] || "$root/scripts/wine-prefix.sh" stop
exit $rc
