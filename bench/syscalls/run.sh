#!/bin/sh
# System calls per echo request of the real program, hidden in a notification
# area, on each echo path, beside fping and five pings, inside the private test
# network (root) under an X server of its own.
# usage: bench/syscalls/run.sh [SECONDS] [BUILD_DIR]   (default 30 s per subject)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
seconds=${1:-30}
build=$(cd "${2:-$root/build-tests}" && pwd)
exec "$root/tests/support/run-isolated.sh" "$root/tests/rig/rig.sh" \
    "$root/tests/support/with-xvfb.sh" "$here/measure.sh" "$seconds" "$build"
