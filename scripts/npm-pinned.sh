# Sourced: installs an npm package set exactly as its lock file pins it, once.
# npm_pinned <folder with package.json and package-lock.json> <install folder> <file>... [-- npm arg...]
# Nothing is fetched while the installed lock file is the same and every named file (relative to
# the install folder) is there. Debian's node and npm are installed only where there is no npm:
# a machine with node from elsewhere keeps it (its nodejs package carries npm and conflicts with
# Debian's).
npm_pinned() {
  local src=$1 dir=$2 missing=0 f
  shift 2
  local files=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do files+=("$1"); shift; done
  [ "${1:-}" = -- ] && shift
  if ! command -v npm >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
  fi
  mkdir -p "$dir"
  for f in "${files[@]}"; do [ -f "$dir/$f" ] || missing=1; done
  if [ $missing = 1 ] || ! cmp -s "$src/package-lock.json" "$dir/package-lock.json"; then
    cp "$src/package.json" "$src/package-lock.json" "$dir/"
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error "$@" >&2)
  fi
}
