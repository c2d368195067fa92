#!/usr/bin/env bash
# Figures for the stamp service: Google Benchmark (render + encode per shape at 300 and 1000 px,
# the generation round trip in-process), then a wrk load test of the generation round trip
# against a running stampd, with the server's peak RSS against its cache cap.
# Usage: scripts/bench-service.sh [seconds of load, default 60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
duration=${1:-60}
cache_mb=64
port=8099

flock /tmp/tambrel-build.lock cmake --preset native >/dev/null
flock /tmp/tambrel-build.lock cmake --build --preset native --target stampd stampd_bench

echo "== render + encode (Google Benchmark)"
flock /tmp/tambrel-build.lock build/native/tests/service/stampd_bench --benchmark_min_time=0.5

# One wrk thread drives the 32 connections: on two cores a second one, always runnable next to
# the service's two workers, was seen (perf sched) to hold a core for 100 ms at a time while the
# kernel's network work for the service waited behind it, which put those stalls into the p99.
echo "== generation round trip over HTTP (wrk, ${duration}s, 1 thread, 32 connections)"
build/native/service/stampd --listen 127.0.0.1:$port --cache-mb $cache_mb --no-access-log 2>/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null || true; wait $pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do curl -fsS "http://127.0.0.1:$port/healthz" >/dev/null 2>&1 && break; sleep 0.1; done
peak=0
( while kill -0 $pid 2>/dev/null; do
    rss=$(awk '/VmRSS/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)
    echo "$rss"
    sleep 1
  done ) > /tmp/stampd-rss.$$ &
sampler=$!
flock /tmp/tambrel-build.lock wrk -t1 -c32 -d"${duration}s" --latency -s scripts/wrk-generation.lua "http://127.0.0.1:$port" |
  grep -E "Requests/sec|stamps/s|p50|errors|Latency  "
kill $pid; wait $pid 2>/dev/null || true
trap - EXIT
wait $sampler 2>/dev/null || true
peak=$(sort -n /tmp/stampd-rss.$$ | tail -1)
rm -f /tmp/stampd-rss.$$
echo "peak RSS: $((peak / 1024)) MiB (cache cap ${cache_mb} MiB)"
