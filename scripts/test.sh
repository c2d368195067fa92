#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the native service and the Windows tool,
# runs the service's tests natively and the Windows tests under Wine on a virtual display.
# Usage: scripts/test.sh [native|windows]   (default: both)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
which=${1:-all}

bash scripts/setup.sh || { echo "set-up failed"; exit 1; }

# One build at a time on this machine: developers share its two cores.
exec 9>/tmp/tambrel-build.lock
flock 9

status=0
step() {  # step <description> <command...>
  echo "==> $1"
  shift
  "$@" || { echo "FAILED: $*"; status=1; return 1; }
}

if [ "$which" = all ] || [ "$which" = native ]; then
  step "configure native" cmake --preset native >/dev/null &&
  step "build native" cmake --build --preset native &&
  step "test native" ctest --preset native -j2
  # The service's tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
  step "configure native-asan" cmake --preset native-asan >/dev/null &&
  step "build native-asan" cmake --build --preset native-asan &&
  step "test native-asan" ctest --preset native-asan -j2
  # What an operator installs: the Debian package (lintian), the systemd unit, stampd(8) and
  # the nginx front; then three instances behind that nginx on loopback.
  if step "package and check the service" scripts/package-service.sh; then
    step "cluster behind nginx" scripts/cluster-test.sh
    # The same package in an OCI image under podman, and a rolling restart of two containers.
    step "container image under podman" scripts/container-test.sh
  fi
  # Kubernetes manifests against their schemas; alert rules under promtool.
  step "deployment files" scripts/deploy-check.sh
fi

if [ "$which" = all ] || [ "$which" = windows ]; then
  source scripts/xvfb.sh
  tambrel_ensure_display
  stampd="$root/build/native/service/stampd"
  [ -x "$stampd" ] || stampd=""
  step "configure windows" cmake --preset windows -DTAMBREL_STAMPD="$stampd" >/dev/null &&
  step "build windows" cmake --build --preset windows &&
  step "prepare wine" scripts/wine-prefix.sh start &&
  step "test windows" ctest --preset windows
  scripts/wine-prefix.sh stop
  tambrel_stop_display
fi

if [ $status -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME STEPS FAILED"; fi
exit $status
