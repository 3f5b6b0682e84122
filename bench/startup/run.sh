#!/bin/sh
# Start-up with a long host list: how long the real program takes from its
# launch until its main window is on screen, for host list files of the given
# numbers of lines, and what a file of one huge line costs once it runs.
# Inside the private test network (root) and an X server of its own with no
# notification area, where the window shows at start.
# usage: bench/startup/run.sh [BUILD_DIR] [LINES...]  (default 10000 30000 1000000)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
build=$(cd "${1:-$root/build-tests}" && pwd)
[ $# -gt 0 ] && shift
exec "$root/tests/support/run-isolated.sh" "$root/tests/rig/rig.sh" \
    "$root/tests/support/with-xvfb.sh" "$here/measure.sh" "$build" "$@"
