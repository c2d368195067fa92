#!/usr/bin/env bash
# Builds the two release artefacts from the tree as it is (a fresh clone works):
#   build/dist/Tambrel-1.0-setup.exe   per-user installer (NSIS, 64-bit, Simplified Chinese)
#   build/dist/Tambrel-1.0-win64.zip   the stripped Tambrel.exe and a short read-me
# and beside them Tambrel.debug, the debug information of that executable (named in its
# .gnu_debuglink section) for reading crash addresses.
# Usage: scripts/package.sh [HOST:PORT]
# The stamp service's address is fixed in the executable at build time (config/tambrel.cmake,
# 127.0.0.1:8077 by default). With HOST:PORT the release is built for that service in a build
# folder of its own (build/windows-HOST-PORT), so the test build keeps the address its
# end-to-end tests use.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
host=${1:-}

bash scripts/setup.sh
if [ -n "$host" ]; then
  binary=build/windows-${host//[^A-Za-z0-9.]/-}
  configure=(cmake --preset windows -B "$binary" "-DTAMBREL_SERVICE_HOST=$host")
else
  binary=build/windows
  configure=(cmake --preset windows)
fi
(
  flock 9
  "${configure[@]}" >/dev/null
  cmake --build "$binary" --target tambrel_dist -j2
) 9>/tmp/tambrel-build.lock

version=$(sed -n 's/^project(Tambrel VERSION \([0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)
mkdir -p build/dist
for f in "$binary/dist/Tambrel-$version-setup.exe" "$binary/dist/Tambrel-$version-win64.zip" \
         "$binary/release/Tambrel.debug"; do
  cp -f "$f" build/dist/
done
ls -l build/dist
