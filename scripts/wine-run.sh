#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's prefix. A GUI program without a
# display waits in its message loop forever instead of failing, so every run is bounded.
source "$(dirname "$0")/wine-env.sh"
exec timeout --kill-after=10 "${TAMBREL_WINE_TIMEOUT:-900}" wine "$@"
