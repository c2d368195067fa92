#!/usr/bin/env bash
# Benchmark of the stamp maker page: headless Chromium against the real stampd, timings from
# the page's Performance API marks, the long tasks while the gallery is built and Lighthouse's
# performance score (desktop and mobile), medians of several runs. Figures, not a test: they
# depend on the machine's load, so no test asserts them.
# Usage: scripts/bench-web.sh [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
exec 9>/tmp/tambrel-build.lock
flock 9
cmake --preset native >/dev/null && cmake --build --preset native --target stampd
/usr/bin/python3 tests/service/browser/maker_bench.py --stampd build/native/service/stampd --runs "${1:-9}"
