#!/usr/bin/env bash
# Figures of the desktop tool's drawing paths, in-process under Wine, against a live stamp
# service on the tool's configured address (which must be free).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
(
  flock 9
  cmake --preset native >/dev/null && cmake --build --preset native --target stampd >/dev/null
  cmake --preset windows >/dev/null && cmake --build --preset windows --target app_bench >/dev/null
) 9>/tmp/tambrel-build.lock
host=$(sed -n 's/^set(TAMBREL_SERVICE_HOST "\([^"]*\)".*/\1/p' config/tambrel.cmake)
build/native/service/stampd --listen "$host" --no-access-log >/dev/null 2>&1 &
service=$!
source scripts/xvfb.sh
trap 'kill $service 2>/dev/null || true; tambrel_stop_display' EXIT
for _ in $(seq 50); do curl -fsS "http://$host/healthz" >/dev/null 2>&1 && break; sleep 0.1; done
tambrel_ensure_display
scripts/wine-prefix.sh start
scripts/wine-run.sh build/windows/tests/app/app_bench.exe
