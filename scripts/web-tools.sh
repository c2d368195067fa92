#!/usr/bin/env bash
# Installs the stamp maker page's audit tools from npm, exactly the versions that
# scripts/web-tools/package-lock.json pins (Lighthouse 12.2.3 and axe-core 4.14.1; they run
# against Debian's chromium), into $TAMBREL_WEB_TOOLS (default /var/lib/tambrel/web-tools).
# Safe to run again: nothing is fetched while the installed lock file is the same.
# Prints the folder that holds node_modules/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${TAMBREL_WEB_TOOLS:-/var/lib/tambrel/web-tools}

if ! command -v npm >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
mkdir -p "$dir"
if ! cmp -s "$here/web-tools/package-lock.json" "$dir/package-lock.json" ||
   [ ! -f "$dir/node_modules/lighthouse/package.json" ] || [ ! -f "$dir/node_modules/axe-core/axe.min.js" ]; then
  cp "$here/web-tools/package.json" "$here/web-tools/package-lock.json" "$dir/"
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error >&2)
fi
echo "$dir"
