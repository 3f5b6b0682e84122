#!/bin/sh
# Starts a private Xvfb on a free display number, runs the command against it
# and stops the server again, whatever the command's outcome.
set -eu
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT INT TERM
n=90
while [ $n -lt 190 ]; do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    i=0
    while [ $i -lt 100 ]; do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then break; fi
      if ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
      sleep 0.05
      i=$((i + 1))
    done
    if xdpyinfo -display ":$n" >/dev/null 2>&1; then break; fi
    # Lost a race for this display number: try the next one.
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
  n=$((n + 1))
done
[ -n "$xvfb_pid" ] || { echo "with-xvfb: no free X display" >&2; exit 1; }
export DISPLAY=":$n"
export QT_QPA_PLATFORM=xcb
"$@"
