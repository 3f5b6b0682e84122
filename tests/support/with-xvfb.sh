#!/bin/sh
# Starts a private Xvfb on a display number of its own (parallel runs never
# share a server), runs the command against it and stops the server again,
# whatever the command's outcome.
set -eu
dir=$(mktemp -d "${TMPDIR:-/tmp}/xvfb.XXXXXX")
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
  return 0
}
trap cleanup EXIT INT TERM
# A display number far from the low ones that -displayfd alone hands out
# and other X servers on the machine use: a server started in a PID
# namespace of its own cannot see ours, takes its lock for stale, and
# replaces its socket, which is the only way in from a network namespace.
# -displayfd still says when the server is ready; a number in use makes
# Xvfb exit, and the next one is tried.
tries=0
while :; do
  n=$(( $(od -An -N2 -tu2 /dev/urandom) % 800 + 100 ))
  : >"$dir/display"
  Xvfb ":$n" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$dir/display" >"$dir/log" 2>&1 &
  xvfb_pid=$!
  i=0
  while [ ! -s "$dir/display" ] && kill -0 "$xvfb_pid" 2>/dev/null && [ $i -lt 200 ]; do
    sleep 0.05
    i=$((i + 1))
  done
  [ -s "$dir/display" ] && break
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
  tries=$((tries + 1))
  if [ $tries -ge 10 ]; then
    echo "with-xvfb: Xvfb did not start" >&2
    cat "$dir/log" >&2
    exit 1
  fi
done
export DISPLAY=":$(head -n 1 "$dir/display")"
export QT_QPA_PLATFORM=xcb
"$@"
