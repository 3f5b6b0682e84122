#!/bin/sh
# Runs the idle benchmark inside the private test network, under an X server
# of its own.
# usage: bench/idle/run.sh [SECONDS] [BUILD_DIR] [BEFORE_BUILD_DIR]
#   SECONDS           per subject (default 120)
#   BEFORE_BUILD_DIR  another build to compare with (its tarnwick and helper)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-120}
build=$(cd "${2:-$here/../../build-tests}" && pwd)
before=${3:+$(cd "$3" && pwd)}
set -- --seconds "$seconds"
if [ -n "$before" ]; then
    set -- "$@" --before "$before/tarnwick" "$before/tarnwick-icmp-helper"
fi
exec "$here/../../tests/support/run-isolated.sh" "$here/../../tests/rig/rig.sh" \
    "$here/../../tests/support/with-xvfb.sh" \
    "$build/bench/idle/bench_idle" "$@" "$build/tarnwick" "$build/tarnwick-icmp-helper"
