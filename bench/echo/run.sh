#!/bin/sh
# Runs the echo benchmark inside the private test network.
# usage: bench/echo/run.sh [BUILD_DIR]   (default: build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
exec "$here/../../tests/rig/rig.sh" "$build/bench/echo/bench_echo" "$build/tarnwick-icmp-helper"
