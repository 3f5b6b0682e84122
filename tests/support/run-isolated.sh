#!/bin/sh
# Runs a test with a throw-away HOME and XDG folders so that nothing of the
# real user's settings, autostart entries or caches is read or written.
set -eu
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT INT TERM
mkdir -p "$tmp/home" "$tmp/config" "$tmp/data" "$tmp/cache" "$tmp/runtime" "$tmp/tmp"
chmod 700 "$tmp/runtime"
export HOME="$tmp/home"
export XDG_CONFIG_HOME="$tmp/config"
export XDG_DATA_HOME="$tmp/data"
export XDG_CACHE_HOME="$tmp/cache"
export XDG_RUNTIME_DIR="$tmp/runtime"
export TMPDIR="$tmp/tmp"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
# Keep Qt off any desktop bus and theme of the machine running the tests.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME
"$@"
