#!/bin/sh
# Memory for weeks: the real program at Delay 200 with the rig's five hosts,
# hidden in a notification area, for MINUTES on each echo path, inside the
# private test network (root) under an X server of its own. Prints RSS, open
# descriptors, threads and helper processes every minute, the RSS added per
# logged line, and what that makes after 7 days at the default Delay.
# usage: bench/soak/run.sh [MINUTES] [BUILD_DIR] [PATH...]
#   MINUTES  per path (default 10)
#   PATH     raw, datagram or helper (default: all three)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
minutes=${1:-10}
build=$(cd "${2:-$root/build-tests}" && pwd)
[ $# -gt 2 ] && shift 2 || set --
exec "$root/tests/support/run-isolated.sh" "$root/tests/rig/rig.sh" \
    "$root/tests/support/with-xvfb.sh" "$here/measure.sh" "$minutes" "$build" "$@"
