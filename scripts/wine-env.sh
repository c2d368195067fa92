# Sourced by the scripts that run Windows programs: one Wine prefix under the build folder,
# a Chinese locale so the ANSI code page is 936, no Mono/Gecko prompts, no desktop menu entries.
tambrel_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${TAMBREL_WINEPREFIX:-$tambrel_root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=zh_CN.UTF-8
export WINEARCH=win64
