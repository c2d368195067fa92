#!/usr/bin/env bash
# Benchmark of the stamp maker page: headless Chromium against the real stampd, timings from
# the page's Performance API marks, medians of several runs (figures, not a test).
# Usage: scripts/bench-web.sh [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
exec 9>/tmp/tambrel-build.lock
flock 9
cmake --preset native >/dev/null && cmake --build --preset native --target stampd
/usr/bin/python3 tests/service/browser/maker_bench.py --stampd build/native/service/stampd --runs "${1:-9}"
