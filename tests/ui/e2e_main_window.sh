#!/bin/sh
# The real program, copied with a data folder of its own, started from another
# working directory under Xvfb: it must read the files beside the executable
# (and only those), and show its main window with its caption; a double click
# on a log opens the traceroute window, and "File" > "Exit" ends the program.
# A screenshot is left in the build folder.
set -eu
build=${TARNWICK_BUILD_DIR:?}
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then
    [ -s "$work/app.pid" ] && kill "$(cat "$work/app.pid")" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
  fi
  rm -rf "$work"
  return 0
}
trap cleanup EXIT INT TERM

mkdir -p "$work/app/data" "$work/elsewhere/data" "$XDG_CONFIG_HOME/Orlvane"
cp "$build/tarnwick" "$work/app/tarnwick"
printf '1500\r\n0\r\n2000\r\n32\r\n' > "$work/app/data/config.cfg"
printf '127.0.0.1\r\nlocalhost\r\n' > "$work/app/data/domains.cfg"
printf '3000\r\n' > "$work/elsewhere/data/config.cfg"
printf 'wrong.invalid\r\n' > "$work/elsewhere/data/domains.cfg"
# Not a first run: no browser is to be started by this test.
printf '[General]\nfr=1\n' > "$XDG_CONFIG_HOME/Orlvane/Orlvane_Tarnwick.ini"

cd "$work/elsewhere"
strace -f -qq -e trace=openat,sendto -o "$work/trace.log" \
  sh -c 'echo $$ > "$1"; exec "$2"' sh "$work/app.pid" "$work/app/tarnwick" &
pid=$!

wait_for() { # seconds, command...
  limit=$1; shift
  i=0
  while ! "$@" >/dev/null 2>&1; do
    i=$((i + 1))
    [ $i -le $((limit * 20)) ] || return 1
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
}
title='^Orlvane Auto Tarnwick  -  www\.orlvane\.example$'
wait_for 15 xdotool search --onlyvisible --name "$title" || { echo "FAIL: no main window"; exit 1; }
# Monitoring starts by itself: wait for the first echo request, then for the
# second one so that a result line and the tab captions are on screen.
wait_for 15 sh -c "[ \$(grep -c 'sendto(' '$work/trace.log') -ge 3 ]" ||
  { echo "FAIL: no echo requests were sent"; exit 1; }

mkdir -p "$build/screenshots"
import -window root "$build/screenshots/main_window.png"

grep -q "openat(.*\"$work/app/data/config.cfg\"" "$work/trace.log" || { echo "FAIL: config.cfg beside the executable not read"; exit 1; }
grep -q "openat(.*\"$work/app/data/domains.cfg\"" "$work/trace.log" || { echo "FAIL: domains.cfg beside the executable not read"; exit 1; }
if grep -q "$work/elsewhere/data" "$work/trace.log"; then
  echo "FAIL: read the working directory's data folder"; exit 1
fi
# A double click on the first slot's log opens the traceroute window on that
# slot's host (loopback here) and traces it.
xdotool mousemove 200 200 click --repeat 2 --delay 80 1
wait_for 10 xdotool search --onlyvisible --name '^TraceRoute$' || { echo "FAIL: no traceroute window"; exit 1; }

# "File" > "Exit" ends the program cleanly while its workers run.
visible() { xdotool search --onlyvisible --pid "$(cat "$work/app.pid")" 2>/dev/null | wc -l; }
before=$(visible)
menu_open() { [ "$(visible)" -gt "$before" ]; }
xdotool mousemove 20 8 click 1
wait_for 5 menu_open || { echo "FAIL: the File menu did not open"; exit 1; }
xdotool key Up Return
i=0
while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL: still running 5 s after File > Exit"; exit 1; fi
rc=0
wait "$pid" || rc=$?
pid=
[ "$rc" -eq 0 ] || { echo "FAIL: exit status $rc after File > Exit"; exit 1; }

echo "PASS: window shown, files read from beside the executable, trace window opened, clean exit; screenshot $build/screenshots/main_window.png"
