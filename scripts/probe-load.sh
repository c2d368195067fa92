#!/usr/bin/env bash
# Prints stampd's figures under hostile load (see scripts/probe_load.py for what each is).
# Usage: scripts/probe-load.sh [seconds per load, default 10] [path/to/stampd]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stampd=${2:-$root/build/native/service/stampd}
[ -x "$stampd" ] || { echo "probe-load: $stampd not built"; exit 1; }
exec python3 "$root/scripts/probe_load.py" --stampd "$stampd" --seconds "${1:-10}"
