#!/bin/sh
# Starts a private Xvfb on a display number it picks itself (-displayfd, so
# parallel runs never share a server), runs the command against it and stops
# the server again, whatever the command's outcome.
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
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$dir/display" >"$dir/log" 2>&1 &
xvfb_pid=$!
i=0
while [ ! -s "$dir/display" ]; do
  if ! kill -0 "$xvfb_pid" 2>/dev/null || [ $i -ge 200 ]; then
    echo "with-xvfb: Xvfb did not start" >&2
    cat "$dir/log" >&2
    exit 1
  fi
  sleep 0.05
  i=$((i + 1))
done
export DISPLAY=":$(head -n 1 "$dir/display")"
export QT_QPA_PLATFORM=xcb
"$@"
