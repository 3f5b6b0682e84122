#!/bin/sh
# Runs the echo benchmark inside the private test network.
# usage: bench/echo/run.sh [BUILD_DIR]   (default: build-tests)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build-tests}" && pwd)
exec "$here/../../tests/rig/rig.sh" "$build/bench/echo/bench_echo" "$build/tarnwick-icmp-helper"
