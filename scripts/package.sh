#!/usr/bin/env bash
# Builds the two release artefacts from the tree as it is (a fresh clone works):
#   build/dist/Tambrel-1.0-setup.exe   per-user installer (NSIS, 64-bit, Simplified Chinese)
#   build/dist/Tambrel-1.0-win64.zip   the stripped Tambrel.exe and a short read-me
# and beside them Tambrel.debug, the debug information of that executable (named in its
# .gnu_debuglink section) for reading crash addresses.
# Usage: scripts/package.sh [-DTAMBREL_SERVICE_HOST=host:port ...]   (extra cmake settings)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
(
  flock 9
  cmake --preset windows "$@" >/dev/null
  cmake --build --preset windows --target tambrel_dist -j2
) 9>/tmp/tambrel-build.lock

version=$(sed -n 's/^project(Tambrel VERSION \([0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)
mkdir -p build/dist
for f in "build/windows/dist/Tambrel-$version-setup.exe" "build/windows/dist/Tambrel-$version-win64.zip" \
         build/windows/release/Tambrel.debug; do
  cp -f "$f" build/dist/
done
ls -l build/dist
