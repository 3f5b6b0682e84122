#!/bin/sh
# The real program, copied with a data folder of its own, started from another
# working directory under Xvfb, inside a network namespace of its own (so the
# echo requests it sends to loopback never leave the test): it must read the
# files beside the executable (and only those), show its main window with its
# caption exactly as given, open the traceroute window from a log's double
# click, and end with status 0 through File > Exit. A screenshot is left in
# the build folder.
set -eu
. "$(dirname "$0")/../support/wait-lib.sh"
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

skip() {
  echo "SKIP: $*"
  [ "${CI:-}" = true ] && exit 1
  exit 77
}
# A namespace of our own: as root a plain one, otherwise a user namespace.
if [ "$(id -u)" -eq 0 ]; then ns="unshare --net"; else ns="unshare --user --map-root-user --net"; fi
$ns true 2>/dev/null || skip "cannot create a private network namespace ($ns)"

mkdir -p "$work/app/data" "$work/elsewhere/data" "$XDG_CONFIG_HOME/Orlvane"
cp "$build/tarnwick" "$build/tarnwick-icmp-helper" "$work/app/"
printf '1500\r\n0\r\n2000\r\n32\r\n' > "$work/app/data/config.cfg"
printf '127.0.0.1\r\nlocalhost\r\n' > "$work/app/data/domains.cfg"
printf '3000\r\n' > "$work/elsewhere/data/config.cfg"
printf 'wrong.invalid\r\n' > "$work/elsewhere/data/domains.cfg"
# Not a first run: no browser is to be started by this test.
printf '[General]\nfr=1\n' > "$XDG_CONFIG_HOME/Orlvane/Orlvane_Tarnwick.ini"

cd "$work/elsewhere"
# Inside: loopback up, datagram ICMP sockets allowed in this namespace only.
$ns strace -f -qq -e trace=openat,sendto -o "$work/trace.log" sh -c '
  ip link set lo up
  echo "0 2147483647" > /proc/sys/net/ipv4/ping_group_range
  echo $$ > "$1"
  exec "$2"' sh "$work/app.pid" "$work/app/tarnwick" &
pid=$!
watch=$pid
caption() { xprop -id "$1" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }

title='^Orlvane Auto Tarnwick  -  www\.orlvane\.example$'
wait_for 15 xdotool search --onlyvisible --name "$title" || { echo "FAIL: no main window"; exit 1; }
main=$(xdotool search --onlyvisible --name "$title" | head -n 1)
# The title the desktop shows is the caption itself, nothing appended.
shown=$(caption "$main")
[ "$shown" = "Orlvane Auto Tarnwick  -  www.orlvane.example" ] || { echo "FAIL: main window caption \"$shown\""; exit 1; }
# Monitoring starts by itself: wait for the first echo requests, then for
# more, so that a result line and the tab captions are on screen.
wait_for 15 sh -c "[ \$(grep -c 'sendto(.*inet_addr' '$work/trace.log') -ge 3 ]" ||
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
eval "$(xdotool getwindowgeometry --shell "$main")"
mx=$X my=$Y
xdotool mousemove $((X + 200)) $((Y + 200)) click --repeat 2 --delay 80 1
wait_for 10 xdotool search --onlyvisible --name '^TraceRoute$' || { echo "FAIL: no traceroute window"; exit 1; }
trace=$(xdotool search --onlyvisible --name '^TraceRoute$' | head -n 1)
[ "$(caption "$trace")" = "TraceRoute" ] || { echo "FAIL: traceroute caption \"$(caption "$trace")\""; exit 1; }
xdotool windowunmap "$trace"

# "File" > "Exit" ends the program cleanly while its workers run: the click
# goes to the menu's first item once its window is on screen.
windows() { xdotool search --onlyvisible --pid "$(cat "$work/app.pid")" 2>/dev/null | sort; }
windows > "$work/before"
xdotool mousemove $((mx + 20)) $((my + 8)) click 1
new_window() { windows | comm -13 "$work/before" - | head -n 1 | grep .; }
# Under strace on a busy machine the menu can take seconds; a click that came
# while the window was still busy with the unmapped trace window is repeated
# once (no second click while the menu may be on its way: that would close it).
if ! wait_for 10 new_window; then
  xdotool mousemove $((mx + 20)) $((my + 8)) click 1
  wait_for 10 new_window || { echo "FAIL: the File menu did not open"; exit 1; }
fi
menu=$(new_window)
eval "$(xdotool getwindowgeometry --shell "$menu")"
xdotool mousemove $((X + 15)) $((Y + 10)) click 1
i=0
while kill -0 "$pid" 2>/dev/null && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL: still running 10 s after File > Exit"; exit 1; fi
rc=0
wait "$pid" || rc=$?
pid=
[ "$rc" -eq 0 ] || { echo "FAIL: exit status $rc after File > Exit"; exit 1; }

echo "PASS: window shown with its caption, files read from beside the executable, trace window opened, clean exit; screenshot $build/screenshots/main_window.png"
