#!/bin/sh
# The real program and a notification area started in either order, the area
# restarted, stopped for good or replaced by another kind. Whatever happens,
# the program must never run with its window hidden and no icon on screen:
# the icon appears within 2 s of an area coming up, the window within 2 s of
# the icon's going, and the close box hides the window only while the icon is
# shown (it minimises it otherwise).
# Areas: trayer (X11 tray), lxqt (lxqt-panel with its status notifier host),
# lxqt-both (its X11 tray as well, which only relays to that host: the icon
# must go to the host directly), lying-watcher (a watcher that claims a host
# with none there; the host comes and goes).
# Usage: e2e_start_order.sh <selection_probe> <sni_double> <area> <order>
#   order: area-first | program-first | restart | stop | replace
set -eu
probe=$1
double=$2
area=$3
order=$4
build=${TARNWICK_BUILD_DIR:?}
unset WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_SCALE_FACTOR XDG_CURRENT_DESKTOP SESSION_MANAGER
export QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1

test_name=e2e-start-$area-$order
. "$(dirname "$0")/../support/desktop-test-lib.sh"
case $area in lxqt*) command -v lxqt-panel >/dev/null || skip "lxqt-panel is not installed" ;; esac

host_pid=""
area_up() { # kind
    case $1 in
    trayer) start_trayer ;;
    # Up once its host is registered (and its tray has the selection).
    lxqt)
        start_lxqt statusnotifier
        wait_for 15 host_registered || fail "lxqt-panel registered no host"
        ;;
    lxqt-both)
        start_lxqt statusnotifier tray
        wait_for 15 host_registered || fail "lxqt-panel registered no host"
        "$probe" owner 5000 || fail "lxqt-panel took no tray selection"
        ;;
    lying-watcher)
        "$double" host >"$work/host.log" 2>&1 &
        host_pid=$!
        pids="$pids $host_pid"
        wait_for 5 grep -q ready "$work/host.log" || fail "no host double"
        ;;
    esac
}
area_down() { # kind
    case $1 in
    trayer) stop_trayer ;;
    lxqt*) stop_lxqt ;;
    lying-watcher)
        kill "$host_pid"
        wait "$host_pid" 2>/dev/null || true
        ;;
    esac
}
# The icon is on screen, by the area's own account.
icon_shown() { # kind
    case $1 in
    trayer) tray_icon ;;
    lxqt | lying-watcher) sni_item ;;
    # On the host, and not (also) in the relaying tray.
    lxqt-both) sni_item && ! tray_icon ;;
    esac
}
wait_icon() { # kind what
    wait_for 2 icon_shown "$1" ||
        fail "no icon within 2 s $2 (item: $(sni_item || echo none), icon window: $(tray_icon || echo none))"
}
wait_window() { # what
    wait_for 2 main_window || fail "the window was not shown within 2 s $1"
}
# The close box hides the window: only right while the icon is shown.
close_hides() {
    close_main_window
    wait_for 5 no_main_window || fail "the close box did not hide the window although the icon is shown"
    alive || fail "the close box ended the program"
}
close_minimises() {
    close_main_window
    wait_for 5 main_window_iconic || fail "the close box did not minimise the window without an icon"
}
# Brings the window forward the way a user without an icon can: a second start.
second_start() {
    $ns "$work/app/tarnwick" >>"$work/second.log" 2>&1 || fail "the second start failed: $(cat "$work/second.log")"
    wait_window "after a second start"
}
# The window stays hidden for a while with the icon shown (a negative poll).
stays_hidden() { ! wait_for 2 main_window || fail "the window came up $1"; }
# Hidden: neither on screen nor minimised.
window_hidden() { ! main_window && ! main_window_iconic; }
stays_up() { ! wait_for 2 window_hidden || fail "the window was hidden $1"; }

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids="$pids $!"
private_bus
# A watcher that lies stays for the whole run, as a desktop's would.
if [ "$area" = lying-watcher ]; then
    "$double" watcher >"$work/watcher.log" 2>&1 &
    pids="$pids $!"
    wait_for 5 host_registered || fail "the watcher double did not start"
fi
install_program '127.0.0.1\r\n'

case $order in
program-first)
    start_program
    # Nothing shows the icon (the lying watcher claims a host all the same).
    wait_for 5 main_window || fail "no window at a start without an area"
    close_minimises
    area_up "$area"
    wait_icon "$area" "of the area coming up"
    second_start
    close_hides
    stays_hidden "with the icon shown"
    ;;
area-first | restart | stop | replace)
    area_up "$area"
    start_program
    wait_for 5 icon_shown "$area" || fail "no icon with the area up at start"
    stays_hidden "at a start with the icon shown"
    case $order in
    area-first)
        second_start
        close_hides
        ;;
    restart)
        area_down "$area"
        wait_window "of the area going"
        area_up "$area"
        wait_icon "$area" "of the area coming back"
        close_hides
        area_down "$area"
        wait_window "of the area going a second time"
        ;;
    stop)
        area_down "$area"
        wait_window "of the area going"
        close_minimises
        stays_up "with no area"
        ;;
    replace)
        # The other kind of area takes over.
        case $area in trayer) next=lxqt ;; *) next=trayer ;; esac
        area_down "$area"
        wait_window "of the area going"
        area_up "$next"
        wait_icon "$next" "of the new area coming up"
        close_hides
        ;;
    esac
    ;;
*) fail "unknown order $order" ;;
esac
alive || fail "the program died"
import -window root "$art/start_${area}_$order.png" 2>/dev/null || true
kill -TERM "$app"
rc=0
wait "$app" || rc=$?
app=""
[ "$rc" -eq 0 ] || fail "status $rc after SIGTERM"
echo "PASS: $area, $order"
