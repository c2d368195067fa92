#!/usr/bin/env bash
# Installs the tests' tools from npm, exactly the versions that scripts/web-tools/package-lock.json
# pins, into $TAMBREL_WEB_TOOLS (default /var/lib/tambrel/web-tools): the stamp maker page's
# audits (Lighthouse 12.2.3 and axe-core 4.14.1; they run against Debian's chromium) and the
# API description's checks (@seriousme/openapi-schema-validator 2.11.0 for the document, Ajv
# 8.20.0 with ajv-formats 3.0.1 for the service's answers against its schemas).
# Safe to run again: nothing is fetched while the installed lock file is the same.
# Prints the folder that holds node_modules/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${TAMBREL_WEB_TOOLS:-/var/lib/tambrel/web-tools}

source "$here/npm-pinned.sh"
npm_pinned "$here/web-tools" "$dir" node_modules/lighthouse/package.json node_modules/axe-core/axe.min.js \
  node_modules/@seriousme/openapi-schema-validator/package.json
echo "$dir"
