#!/bin/sh
# The real program in the notification area: trayer as the tray, openbox as
# the window manager, xdotool as the hand, the program in a network namespace
# of its own monitoring loopback. It must start with no window and its icon
# docked; the icon turns from the all-failing picture to the all-OK one as
# replies come; hovering shows the summary in a hint window that goes on
# leaving; a click shows the window and the close box hides it again; the
# menu's items do what they say; killing the tray brings the window up and a
# new tray gets the icon back; "E&xit" ends the program with status 0, and so
# does SIGTERM. Screenshots stay in the build folder.
# Usage: e2e_tray.sh <selection_probe>
set -eu
probe=$1
build=${TARNWICK_BUILD_DIR:?}
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_SCALE_FACTOR
export QT_QPA_PLATFORM=xcb

test_name=e2e-tray
. "$(dirname "$0")/../support/desktop-test-lib.sh"

icon() { xdotool search --onlyvisible --classname '^tarnwick-tray-icon$' 2>/dev/null | head -n 1 | grep .; }
# Windows of the program other than the icon and the main window.
others() {
    for w in $(xdotool search --onlyvisible --pid "$(cat "$work/app.pid")" 2>/dev/null); do
        [ "$w" = "$(icon)" ] && continue
        [ "$w" = "$(main_window || true)" ] && continue
        echo "$w"
    done | head -n 1 | grep .
}
no_others() { ! others; }
# Red pixels in the icon: the cross of the all-failing picture.
red_in_icon() {
    import -window root "$work/shot.png"
    convert "$work/shot.png" -crop "${IW}x${IH}+${IX}+${IY}" +repage -fx '(r>0.7&&g<0.35&&b<0.35)?1:0' \
        -format '%[fx:int(mean*w*h)]' info:
}
has_cross() { [ "$(red_in_icon)" -ge 4 ]; }
no_cross() { [ "$(red_in_icon)" -eq 0 ]; }
locate_icon() {
    wait_for 10 icon || fail "no icon docked"
    eval "$(xdotool getwindowgeometry --shell "$(icon)")"
    IX=$X IY=$Y IW=$WIDTH IH=$HEIGHT
    CX=$((IX + IW / 2)) CY=$((IY + IH / 2))
}
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids="$pids $!"
start_trayer

mkdir -p "$work/app/data" "$XDG_CONFIG_HOME/Orlvane"
cp "$build/tarnwick" "$build/tarnwick-icmp-helper" "$work/app/"
printf '127.0.0.1\r\nlocalhost\r\n' >"$work/app/data/domains.cfg"
# Not a first run: the program starts hidden.
printf '[General]\nfr=1\n' >"$XDG_CONFIG_HOME/Orlvane/Orlvane_Tarnwick.ini"
# Loopback comes up only once the test has seen the all-failing picture:
# however slow the start, there is one.
$ns sh -c '
  # Inside a user namespace only the mapped group can be named.
  echo "0 2147483647" > /proc/sys/net/ipv4/ping_group_range 2>/dev/null ||
    echo "0 0" > /proc/sys/net/ipv4/ping_group_range
  echo $$ > "$1"
  (i=0; while [ ! -e "$3" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done; ip link set lo up) &
  exec "$2"' sh "$work/app.pid" "$work/app/tarnwick" "$work/lo-up" >"$work/app.log" 2>&1 &
app=$!

locate_icon
# Before any reply every host fails; then the replies turn it all OK.
wait_for 5 has_cross || fail "the icon never showed the all-failing picture"
cp "$work/shot.png" "$art/tray_all_failing.png"
touch "$work/lo-up"
wait_for 8 no_cross || fail "the icon never turned to the all-OK picture"
cp "$work/shot.png" "$art/tray_all_ok.png"
# Hidden start: by now well past the time it waits for an area, and still
# no window.
no_main_window || fail "the main window is shown at a start that is not the first"

# Hover: the hint comes after the pause, with the summary's size, and goes.
xdotool mousemove --sync "$CX" "$CY"
t0=$(date +%s%N)
wait_for 3 others || fail "no hint window while hovering"
t1=$(date +%s%N)
hint=$(others)
eval "$(xdotool getwindowgeometry --shell "$hint")"
echo "hint after $(( (t1 - t0) / 1000000 )) ms: ${WIDTH}x${HEIGHT} at $X,$Y"
[ $(( (t1 - t0) / 1000000 )) -ge 400 ] || fail "the hint came before the pause"
[ "$HEIGHT" -ge 150 ] && [ "$WIDTH" -ge 150 ] || fail "the hint is ${WIDTH}x${HEIGHT}, too small for the summary"
import -window root "$art/tray_hint.png"
xdotool mousemove --sync 300 500
wait_for 2 no_others || fail "the hint stayed after the cursor left"

# A click shows the window; its close box hides it, and the icon stays.
xdotool mousemove --sync "$CX" "$CY" click 1
wait_for 5 main_window || fail "a click did not show the main window"
# Away from the icon, so that no hint comes up meanwhile.
xdotool mousemove --sync 300 500
wait_for 2 no_others || fail "the hint stayed after the cursor left"
close_main_window
wait_for 5 no_main_window || fail "the close box did not hide the window ($(window_report))"
alive || fail "the close box ended the program"
icon || fail "the icon went with the window"

# The menu: Show main window.
menu_item() { # index (0-based; the separator is not an item)
    xdotool mousemove --sync "$CX" "$CY" click 3
    wait_for 5 others || fail "no menu"
    import -window root "$art/tray_menu.png"
    # By the keyboard, which skips lines that cannot be chosen: until the
    # area is known to report hover, the summary heads the menu.
    case $1 in
    3) xdotool key Up Return ;;
    *) xdotool key $(seq 0 "$1" | sed 's/.*/Down/') Return ;;
    esac
}
xdotool mousemove --sync 300 500
menu_item 0
wait_for 5 main_window || fail "Show main window did not show it"
close_main_window
wait_for 5 no_main_window || fail "the close box did not hide the window ($(window_report))"
# About...: the About box, modal, closed with its OK button (Enter).
menu_item 2
wait_for 5 sh -c 'xdotool search --onlyvisible --name "^About\.\.\.$" | grep .' || fail "About... showed no About box"
xdotool windowactivate --sync "$(xdotool search --onlyvisible --name '^About\.\.\.$' | head -n 1)" key Return
wait_for 5 sh -c '! xdotool search --onlyvisible --name "^About\.\.\.$" | grep .' || fail "the About box stayed"

# The tray dies: the window comes up. A new tray gets the icon back.
stop_trayer
wait_for 5 main_window || fail "losing the tray did not show the window"
start_trayer
locate_icon
main_window >/dev/null || fail "the window went away when the tray came back"

# E&xit ends the program with status 0.
menu_item 3
i=0
while alive && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
if alive; then
    gdb -p "$app" -batch -ex "thread apply all bt" > "$art/hang.log" 2>&1 || true
    fail "still running 10 s after E&xit"
fi
rc=0
wait "$app" || rc=$?
app=""
[ "$rc" -eq 0 ] || fail "status $rc after E&xit"

# SIGTERM takes the same way out.
$ns sh -c 'ip link set lo up; exec "$1"' sh "$work/app/tarnwick" >>"$work/app.log" 2>&1 &
app=$!
locate_icon
kill -TERM "$app"
rc=0
wait "$app" || rc=$?
app=""
[ "$rc" -eq 0 ] || fail "status $rc after SIGTERM"

echo "PASS: hidden start, icon docked and turned OK, hint on hover, click and close box, menu, tray restart, exit; screenshots in $art"
