#!/usr/bin/env bash
# Builds stampd's OCI image from what the project already makes: a minimal Debian 12 base made
# by mmdebstrap from Debian's packages with the project's .deb installed into it (its Depends
# bring the fonts), then deploy/container/Containerfile on top (non-root user, health check,
# STOPSIGNAL). Nothing is pulled from an image registry. Prints the image's size.
# Usage: scripts/build-image.sh [path/to/stampd_*.deb]
#   default .deb: build/package/stampd_1.0-1_amd64.deb (made by scripts/package-service.sh
#   when missing); image: localhost/stampd:1.0-1 (STAMPD_IMAGE), in podman's storage.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
deb=${1:-$root/build/package/stampd_1.0-1_amd64.deb}
image=${STAMPD_IMAGE:-localhost/stampd:1.0-1}
out=$root/build/container
fail() { echo "build-image: FAILED: $*"; exit 1; }

if [ ! -f "$deb" ]; then
  [ $# -eq 0 ] || fail "no $deb"
  scripts/package-service.sh
fi
deb=$(realpath "$deb")
rm -rf "$out"
mkdir -p "$out"

# bookworm with its updates and security archives: the .deb was built against this machine's
# Debian 12 libraries, which may come from either. Docs, manual pages and translations are left
# out of the image; apt's lists and caches are removed after the install.
echo "-- mmdebstrap (essential + $(basename "$deb"))"
t0=$(date +%s.%N)
# apt installs the .deb from inside the chroot: the hook mounts its folder there (and unmounts
# it before the tarball is written).
mkdir -p "$out/deb"
cp "$deb" "$out/deb/"
mmdebstrap --quiet --variant=essential --include="$out/deb/$(basename "$deb")" \
  --hook-dir=/usr/share/mmdebstrap/hooks/maybe-merged-usr \
  --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount \
  --aptopt='Acquire::Check-Valid-Until "false"' \
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/*/copyright' \
  --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/info/*' \
  --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/lintian/*' \
  --customize-hook='echo "stampd:x:10001:10001:stampd:/nonexistent:/usr/sbin/nologin" >>"$1/etc/passwd"' \
  --customize-hook='echo "stampd:x:10001:" >>"$1/etc/group"' \
  --customize-hook='rm -rf "$1"/var/lib/apt/lists/* "$1"/var/cache/apt/* "$1"/var/log/*' \
  bookworm "$out/rootfs.tar" \
  "deb http://deb.debian.org/debian bookworm main" \
  "deb http://deb.debian.org/debian bookworm-updates main" \
  "deb http://deb.debian.org/debian-security bookworm-security main" >"$out/mmdebstrap.log" 2>&1 ||
  { tail -20 "$out/mmdebstrap.log"; fail "mmdebstrap"; }
tar -tf "$out/rootfs.tar" ./usr/sbin/stampd >/dev/null 2>&1 || fail "the base lacks /usr/sbin/stampd"
echo "   rootfs.tar: $(( $(stat -c %s "$out/rootfs.tar") / 1048576 )) MiB in $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }') s"

cp deploy/container/stampd-healthz "$out/"
# The Docker image format keeps HEALTHCHECK (the OCI image configuration has no field for it);
# every OCI runtime and registry takes it.
echo "-- podman build $image"
podman --runtime runc build --quiet --format docker --pull=never \
  -f deploy/container/Containerfile -t "$image" "$out" >"$out/build.log" 2>&1 ||
  { tail -20 "$out/build.log"; fail "podman build"; }
rm -f "$out/rootfs.tar"
size=$(podman image inspect --format '{{.Size}}' "$image")
echo "   $image: $(( size / 1048576 )) MiB ($size bytes)"
echo "build-image: done"
