#!/usr/bin/env bash
# Benchmarks of the service's pages: headless Chromium against the real stampd, timings from
# the pages' Performance API marks, medians of several runs (figures, not a test).
#   the stamp maker: first screen of thumbnails, Enter to preview, the long tasks while the
#   gallery is built and Lighthouse's performance score (desktop and mobile); they depend on
#   the machine's load, so no test asserts them
#   the seal designer: edit to preview painted; with OLD_STAMPD, the same runs against that
#   older build (its pages are compiled into it), interleaved, printed beside
# Usage: scripts/bench-web.sh [runs] [OLD_STAMPD]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
exec 9>/tmp/tambrel-build.lock
flock 9
cmake --preset native >/dev/null && cmake --build --preset native --target stampd
/usr/bin/python3 tests/service/browser/maker_bench.py --stampd build/native/service/stampd --runs "${1:-9}"
echo
/usr/bin/python3 tests/service/browser/designer_bench.py --stampd build/native/service/stampd \
  --runs "${1:-9}" ${2:+--before "$2"}
