# Sourced by the scripts that run Windows programs: one Wine prefix under the build folder,
# a Chinese locale so the ANSI code page is 936, no Mono/Gecko prompts, no desktop menu entries.
tambrel_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${TAMBREL_WINEPREFIX:-$tambrel_root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# A test may run the tool as a user of another locale would (TAMBREL_LC_ALL, in a prefix of its own).
export LC_ALL=${TAMBREL_LC_ALL:-zh_CN.UTF-8}
export WINEARCH=win64
