#!/bin/sh
# One instance per data folder, with the real program in a real tray
# (trayer, openbox): a second start of the same copy shows the running
# one's hidden window, and a minimised one raised and active, then ends with
# status 0 after one line; a copy with a data folder of its own runs beside
# it; after a kill -9 the next start runs (the stale lock and socket block
# nothing); of two started at once exactly one stays. The host lists are
# empty: nothing is sent.
# Usage: e2e_single_instance.sh <selection_probe>
set -eu
probe=$1
build=${TARNWICK_BUILD_DIR:?}
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_SCALE_FACTOR
export QT_QPA_PLATFORM=xcb

test_name=e2e-single-instance
. "$(dirname "$0")/../support/desktop-test-lib.sh"

icon_of() { xdotool search --all --pid "$1" --classname '^tarnwick-tray-icon$' 2>/dev/null | head -n 1 | grep .; }
window_of() {
    xdotool search --all --onlyvisible --pid "$1" --name '^Orlvane Auto Tarnwick  -  ' 2>/dev/null |
        head -n 1 | grep .
}
no_window_of() { ! window_of "$1"; }
alive() { kill -0 "$1" 2>/dev/null; }
ended() { ! alive "$1"; }
active_is() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids="$pids $!"
trayer --edge top --align right --widthtype request --height 24 \
    --SetDockType false --SetPartialStrut false >"$work/trayer.log" 2>&1 &
pids="$pids $!"
"$probe" owner 5000 || fail "trayer took no selection"

for copy in a b; do
    mkdir -p "$work/$copy/data"
    cp "$build/tarnwick" "$build/tarnwick-icmp-helper" "$work/$copy/"
    : >"$work/$copy/data/domains.cfg"
done
data_a=$(cd -P "$work/a/data" && pwd)
# Not a first run: the program starts hidden, with only its icon.
mkdir -p "$XDG_CONFIG_HOME/Orlvane"
printf '[General]\nfr=1\n' >"$XDG_CONFIG_HOME/Orlvane/Orlvane_Tarnwick.ini"

start() { # copy, log: starts it in the background; its pid in $started
    "$work/$1/tarnwick" >"$work/$2.log" 2>&1 &
    started=$!
    pids="$pids $started"
}
# A second start of copy a: it must end by itself, with status 0 and one line.
second_start() { # log name
    rc=0
    timeout 30 "$work/a/tarnwick" >"$work/$1.log" 2>&1 || rc=$?
    [ "$rc" -eq 0 ] || fail "the second start ended with status $rc: $(cat "$work/$1.log")"
    [ "$(wc -l <"$work/$1.log")" -eq 1 ] || fail "the second start said more than one line: $(cat "$work/$1.log")"
    grep -q "^Tarnwick is running already with the settings in $data_a; its window is shown\.$" "$work/$1.log" ||
        fail "the second start said: $(cat "$work/$1.log")"
}

# --- a hidden first instance comes forward -----------------------------------------
start a first
first=$started
wait_for 20 icon_of "$first" || fail "the first instance docked no icon"
no_window_of "$first" || fail "the first instance shows its window at a start that is not the first"
second_start second
wait_for 10 window_of "$first" || fail "the second start did not bring the window forward"
alive "$first" || fail "the first instance ended"
import -window root "$art/single_instance_shown.png" 2>/dev/null || true

# --- a minimised one comes back, raised and active ------------------------------
win=$(window_of "$first")
xdotool windowminimize "$win"
wait_for 10 no_window_of "$first" || fail "the window could not be minimised"
second_start again
wait_for 10 window_of "$first" || fail "a second start left the minimised window minimised"
wait_for 10 active_is "$win" || fail "the window came back, but not active (active: $(xdotool getactivewindow 2>/dev/null))"

# --- another data folder runs beside it ------------------------------------------
start b other
other=$started
wait_for 20 icon_of "$other" || fail "a copy with a data folder of its own did not start"
alive "$first" || fail "the first instance ended when another copy started"
kill -TERM "$other"
rc=0
wait "$other" || rc=$?
[ "$rc" -eq 0 ] || fail "the other copy ended with status $rc after SIGTERM"

# --- a kill -9 leaves nothing that blocks -------------------------------------------
kill -KILL "$first"
wait "$first" 2>/dev/null || true
start a after-kill
revived=$started
wait_for 20 icon_of "$revived" || fail "after a kill -9 the next start did not run: $(cat "$work/after-kill.log")"
second_start after-kill-second
wait_for 10 window_of "$revived" || fail "after a kill -9 a second start did not reach the new instance"
kill -TERM "$revived"
rc=0
wait "$revived" || rc=$?
[ "$rc" -eq 0 ] || fail "status $rc after SIGTERM"

# --- two started at once: one stays, one shows it and ends --------------------------
start a race-1
one=$started
start a race-2
two=$started
both_settled() { { ended "$one" || icon_of "$one"; } && { ended "$two" || icon_of "$two"; }; }
wait_for 30 both_settled || fail "two starts at once did not settle"
if alive "$one" && alive "$two"; then
    fail "two instances run on one data folder"
fi
if ended "$one"; then gone=$one stays=$two log=race-1; else gone=$two stays=$one log=race-2; fi
rc=0
wait "$gone" || rc=$?
[ "$rc" -eq 0 ] || fail "the start that gave way ended with status $rc: $(cat "$work/$log.log")"
grep -q "is running already" "$work/$log.log" || fail "the start that gave way said: $(cat "$work/$log.log")"
kill -TERM "$stays"
rc=0
wait "$stays" || rc=$?
[ "$rc" -eq 0 ] || fail "status $rc after SIGTERM"
echo "PASS: a second start shows the hidden and the minimised window and ends with 0, another data folder runs beside, kill -9 blocks nothing, one of two at once"
