# Sourced by the desktop tests, with $build and $test_name set: a work folder
# cleaned up on exit (every process in $app and $pids killed, the logs kept
# beside the screenshots), skipping, failing, the private network namespace to
# run the program in, and waiting on a condition.

art="$build/screenshots"
mkdir -p "$art"
work=$(mktemp -d "${TMPDIR:-/tmp}/$test_name.XXXXXX")
pids=""
app=""
cleanup() {
    # KILL: a program that hung on its way out must not hang the test too.
    for p in $app $pids; do kill -KILL "$p" 2>/dev/null || true; done
    for p in $app $pids; do wait "$p" 2>/dev/null || true; done
    cp "$work"/*.log "$art"/ 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
fail() { echo "FAIL: $*"; tail -20 "$work/app.log" 2>/dev/null; exit 1; }

# Skipped for a reason the run cannot help; in CI that is a failure.
skip() { echo "SKIP: $*"; [ "${CI:-}" = true ] && exit 1; exit 77; }

# A network namespace of the program's own (a user namespace too when not root).
if [ "$(id -u)" -eq 0 ]; then ns="unshare --net"; else ns="unshare --user --map-root-user --net"; fi
$ns true 2>/dev/null || skip "cannot create a private network namespace ($ns)"

. "$(dirname "$0")/../support/wait-lib.sh"

# Moves the pointer to $1,$2, then runs the rest as xdotool commands (e.g.
# click 1). xdotool's --sync waits for the pointer to move, and a move to
# where it is already waits 15 s for nothing; so it is asked only for a move.
pointer_to() {
    _px=$1 _py=$2
    shift 2
    if [ "$(xdotool getmouselocation | sed -n 's/^x:\([0-9]*\) y:\([0-9]*\) .*/\1,\2/p')" = "$_px,$_py" ]; then
        [ $# -eq 0 ] || xdotool "$@"
    else
        xdotool mousemove --sync "$_px" "$_py" "$@"
    fi
}

# The tray: trayer at the top right. Needs $probe, the selection probe.
trayer_pid=""
start_trayer() {
    trayer --edge top --align right --widthtype request --height 24 \
        --SetDockType false --SetPartialStrut false >>"$work/trayer.log" 2>&1 &
    trayer_pid=$!
    pids="$pids $trayer_pid"
    "$probe" owner 5000 || fail "trayer took no selection"
}
stop_trayer() {
    kill "$trayer_pid"
    wait "$trayer_pid" 2>/dev/null || true
    "$probe" none 5000 || fail "the selection outlived trayer"
}

# A session bus of our own, on a socket path (visible from the namespace),
# exported for everything started afterwards.
private_bus() {
    cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <!-- A program in a user namespace of its own names another uid. -->
  <auth>ANONYMOUS</auth>
  <allow_anonymous/>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=6 6>"$work/bus.addr" >"$work/bus.log" 2>&1 &
    pids="$pids $!"
    wait_for 5 test -s "$work/bus.addr" || fail "no session bus"
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.addr")
    export DBUS_SESSION_BUS_ADDRESS
}

property() { # service path interface name
    dbus-send --session --print-reply --reply-timeout=2000 --dest="$1" "$2" \
        org.freedesktop.DBus.Properties.Get string:"$3" string:"$4"
}
# The status notifier watcher's view.
watcher_property() { # name
    property org.kde.StatusNotifierWatcher /StatusNotifierWatcher org.kde.StatusNotifierWatcher "$1"
}
host_registered() { watcher_property IsStatusNotifierHostRegistered | grep -q 'boolean true'; }
# "service/path" of the first registered item.
sni_item() { watcher_property RegisteredStatusNotifierItems | sed -n 's/.*string "\(.*\)".*/\1/p' | head -n 1 | grep .; }

# lxqt-panel with the given plugins (statusnotifier, tray).
lxqt_pid=""
start_lxqt() { # plugins...
    mkdir -p "$XDG_CONFIG_HOME/lxqt"
    {
        echo "panels=panel1"
        echo
        echo "[panel1]"
        echo "plugins=spacer,$(echo "$@" | tr ' ' ',')"
        echo "position=Top"
        echo "desktop=0"
        echo
        echo "[spacer]"
        echo "type=spacer"
        echo "expandable=true"
        for p in "$@"; do
            echo
            echo "[$p]"
            echo "alignment=Right"
            echo "type=$p"
        done
    } >"$XDG_CONFIG_HOME/lxqt/panel.conf"
    lxqt-panel >>"$work/panel.log" 2>&1 &
    lxqt_pid=$!
    pids="$pids $lxqt_pid"
}
stop_lxqt() {
    kill "$lxqt_pid"
    wait "$lxqt_pid" 2>/dev/null || true
    wait_for 5 sh -c '! dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher | grep -q true' ||
        fail "the watcher outlived lxqt-panel"
}

# The program, copied into $work/app with a host list and a settings file
# that is not a first run's, started in its own network namespace with
# loopback up. $app is its pid, $work/app.pid the pid inside.
install_program() { # hosts (CR LF separated)
    mkdir -p "$work/app/data" "$XDG_CONFIG_HOME/Orlvane"
    cp "$build/tarnwick" "$build/tarnwick-icmp-helper" "$work/app/"
    printf "$1" >"$work/app/data/domains.cfg"
    printf '[General]\nfr=1\n' >"$XDG_CONFIG_HOME/Orlvane/Orlvane_Tarnwick.ini"
}
start_program() {
    $ns sh -c '
      ip link set lo up
      # Inside a user namespace only the mapped group can be named.
      echo "0 2147483647" > /proc/sys/net/ipv4/ping_group_range 2>/dev/null ||
        echo "0 0" > /proc/sys/net/ipv4/ping_group_range
      echo $$ > "$1"
      exec "$2"' sh "$work/app.pid" "$work/app/tarnwick" >>"$work/app.log" 2>&1 &
    app=$!
}
alive() { kill -0 "$app" 2>/dev/null; }
main_window() { xdotool search --onlyvisible --name '^Orlvane Auto Tarnwick  -  ' 2>/dev/null | head -n 1 | grep .; }
no_main_window() { ! main_window; }
# The main window, minimised rather than hidden.
main_window_iconic() {
    for w in $(xdotool search --name '^Orlvane Auto Tarnwick  -  ' 2>/dev/null); do
        xprop -id "$w" WM_STATE 2>/dev/null | grep -q 'window state: Iconic' && return 0
    done
    return 1
}
tray_icon() { xdotool search --onlyvisible --classname '^tarnwick-tray-icon$' 2>/dev/null | head -n 1 | grep .; }
# The close box, by the window manager's key. Keys go to the focused
# window, so it waits until that is the main window; a key the window
# manager lost under load is pressed again (once the window is hidden or
# minimised no more keys go).
close_main_window() {
    w=$(main_window) || fail "no main window to close"
    for attempt in 1 2 3; do
        xdotool windowactivate --sync "$w" >/dev/null 2>&1 || true
        wait_for 3 sh -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $w ]" ||
            fail "the main window never got the focus"
        xdotool key alt+F4
        wait_for 2 sh -c "! xdotool search --onlyvisible --name '^Orlvane Auto Tarnwick  -  ' | grep -qx $w" &&
            return 0
        echo "close key $attempt: the window is still up"
    done
}
# What the window manager and the server say of the main window, for a
# failure's message.
window_report() {
    w=$(main_window) || { echo "no visible main window"; return; }
    echo "state: $(xprop -id "$w" WM_STATE _NET_WM_STATE 2>&1 | tr '\n' ' ')," \
        "active: $(xdotool getactivewindow getwindowname 2>&1 | tr '\n' ' ')"
    import -window root "$art/$test_name-report.png" 2>/dev/null || true
}
