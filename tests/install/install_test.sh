#!/usr/bin/env bash
# The installer in a fresh Wine prefix of its own, as a new Windows user would meet it:
#   1. silent install of an older-numbered build, a thumbnail in its cache;
#   2. silent upgrade to this version over it; the installation checked from inside
#      (install_checks.exe Installed.*), including the installed program against the real
#      stamp service;
#   3. with the program running, the installer and the uninstaller refuse (exit code 2) and
#      change nothing;
#   4. silent uninstall; nothing left (Removed.NothingOfTambrelIsLeft...);
#   5. install again, the user saves a file into the program's folder, uninstall: the file stays;
#   6. install through the pages: the finish page starts the program where the shortcut does.
# Usage: install_test.sh <source root> <setup.exe> <older setup.exe> <install_checks.exe> [stampd]
set -euo pipefail
root=$1 setup=$2 older=$3 checks=$4 stampd=${5:-}

work=$(mktemp -d /tmp/tambrel-install.XXXXXX)
export TAMBREL_WINEPREFIX=$work/prefix
cleanup() {
  WINEPREFIX=$TAMBREL_WINEPREFIX timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "fresh prefix: $TAMBREL_WINEPREFIX"
"$root/scripts/wine-prefix.sh" start
user_dir=$TAMBREL_WINEPREFIX/drive_c/users/$(id -un)
installed=$user_dir/AppData/Local/Programs/Tambrel
# Another program's folder beside ours: the uninstaller must leave it alone.
mkdir -p "$user_dir/AppData/Local/Programs/Other"
echo keep > "$user_dir/AppData/Local/Programs/Other/keep.txt"

wine_run() { TAMBREL_WINE_TIMEOUT=120 "$root/scripts/wine-run.sh" "$@" </dev/null; }
checks() {  # checks <filter> [VAR=value ...]
  local filter=$1
  shift
  env "$@" TAMBREL_STAMPD="$stampd" TAMBREL_WINE_TIMEOUT=300 \
    "$root/scripts/wine-run.sh" "$checks" --gtest_color=no --gtest_filter="$filter" </dev/null
}

# The installer's title on a system of this UI language: it starts (not silently), its window
# is read from the display, and it is ended without installing anything.
installer_title() {  # installer_title <locale>
  local pid id title=""
  TAMBREL_LC_ALL=$1 TAMBREL_WINE_TIMEOUT=60 "$root/scripts/wine-run.sh" "$setup" </dev/null >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    id=$(LC_ALL=C.UTF-8 xwininfo -root -tree 2>/dev/null | grep -m1 '"Tambrel 1.0 ' | awk '{print $1}') || true
    if [ -n "$id" ]; then
      title=$(xprop -id "$id" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
      [ -n "$title" ] && break
    fi
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "$title"
}

echo "==> the installer speaks English but to Chinese users"
# NSIS falls back to the first language listed for a language it has no file for; that must be
# English, not Chinese. Simplified and Traditional Chinese users keep Chinese.
for case in "de_DE.UTF-8|Tambrel 1.0 Setup" "ja_JP.UTF-8|Tambrel 1.0 Setup" "en_US.UTF-8|Tambrel 1.0 Setup" \
            "zh_CN.UTF-8|Tambrel 1.0 安装" "zh_TW.UTF-8|Tambrel 1.0 安裝"; do
  loc=${case%%|*} expected=${case#*|}
  got=$(installer_title "$loc" | sed "s/ *$//")  # NSIS ends some captions with a space
  [ "$got" = "$expected" ] || { echo "installer on $loc: title \"$got\", expected \"$expected\""; exit 1; }
  echo "$loc: $got"
done
[ ! -d "$installed" ] || { echo "the language check installed something"; exit 1; }

echo "==> install the older build"
wine_run "$older" /S
checks 'Installed.ProgramAndUninstaller*:Installed.UninstallEntry*' TAMBREL_EXPECT_VERSION=0.9
mkdir -p "$installed/tmp"
echo "an old thumbnail" > "$installed/tmp/old-thumbnail.png"

echo "==> upgrade to this version"
wine_run "$setup" /S
[ -f "$installed/tmp/old-thumbnail.png" ] || { echo "the upgrade lost the cache"; exit 1; }
checks 'Installed.*' TAMBREL_EXPECT_VERSION=1.0

echo "==> neither upgrade nor uninstall touches a running program"
TAMBREL_WINE_TIMEOUT=300 "$root/scripts/wine-run.sh" "$installed/Tambrel.exe" </dev/null >/dev/null 2>&1 &
tool=$!
for _ in $(seq 300); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Tambrel v1.0"' && break
  sleep 0.1
done
xwininfo -root -tree 2>/dev/null | grep -q '"Tambrel v1.0"' || { echo "the installed program did not start"; exit 1; }
rc=0; wine_run "$setup" /S || rc=$?
[ "$rc" = 2 ] || { echo "installing over the running program: exit code $rc, expected 2"; exit 1; }
# In place (_?=) the uninstaller reports its exit code instead of finishing from a copy of itself.
rc=0; wine_run "$installed/uninst.exe" /S "_?=$(printf 'C:\\users\\%s\\AppData\\Local\\Programs\\Tambrel' "$(id -un)")" || rc=$?
[ "$rc" = 2 ] || { echo "uninstalling the running program: exit code $rc, expected 2"; exit 1; }
checks 'Installed.ProgramAndUninstaller*:Installed.UninstallEntry*:Installed.StartMenu*' TAMBREL_EXPECT_VERSION=1.0
kill "$tool" 2>/dev/null || true
wait "$tool" 2>/dev/null || true

echo "==> uninstall"
wine_run "$installed/uninst.exe" /S
checks 'Removed.NothingOfTambrelIsLeftAndNothingElseIsTouched'

echo "==> install, a file of the user's in the program's folder, uninstall"
wine_run "$setup" /S
echo "user's stamp" > "$installed/我的印章.png"
wine_run "$installed/uninst.exe" /S
checks 'Removed.UsersOwnFileKeepsTheFolder'

echo "==> install through the installer's pages; the finish page starts the program"
checks 'FinishPage.*' TAMBREL_SETUP="Z:${setup//\//\\}"
wine_run "$installed/uninst.exe" /S
echo "install test passed"
