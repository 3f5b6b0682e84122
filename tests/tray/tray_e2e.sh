#!/bin/sh
# End to end on the private X server that with-xvfb.sh started: trayer is the
# tray, xdotool the hand, tray_demo the program. The demo is started before
# any tray, so it must dock when one appears; then its icon is looked at
# (screenshot) and driven, the tray is restarted, and the icon must return.
# Usage: tray_e2e.sh <tray_demo> <selection_probe>
set -eu

demo=$1
probe=$2
build=${TARNWICK_BUILD_DIR:-.}
# Keep Qt on X11 and off any bus; logical and device pixels stay the same.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_SCALE_FACTOR
export QT_QPA_PLATFORM=xcb

test_name=tray-e2e
. "$(dirname "$0")/../support/desktop-test-lib.sh"
log="$work/demo.log"
: >"$log"
demo_pid=""

fail() {
    echo "FAIL: $*"
    echo "--- demo log"
    cat "$log"
    exit 1
}

mark() { wc -l <"$log"; }

# Lines logged after mark $1.
since() { tail -n "+$(($1 + 1))" "$log"; }

# Waits up to 5 s for a line matching $2 after mark $1.
wait_line() {
    i=0
    while ! since "$1" | grep -Eq -- "$2"; do
        kill -0 "$demo_pid" 2>/dev/null || fail "the demo died waiting for '$2'"
        i=$((i + 1))
        [ $i -le 100 ] || fail "no line '$2'"
        sleep 0.05
    done
}

# The events after mark $1 without motion lines, one line, separated by '|'.
events_since() { since "$1" | grep -Ev '^(MOVE|ENTER|EXIT|DOCKED)' | paste -sd'|' -; }

expect_events() {
    got=$(events_since "$1")
    [ "$got" = "$2" ] || fail "events: expected '$2', got '$got'"
}

icon_class='^tarnwick-tray-icon$'

# Sets X Y WIDTH HEIGHT (root coordinates) and CX CY (the icon's middle).
find_icon() {
    wait_for 5 xdotool search --onlyvisible --classname "$icon_class" || fail "no visible icon window"
    WIN=$(xdotool search --onlyvisible --classname "$icon_class" | head -n 1)
    eval "$(xdotool getwindowgeometry --shell "$WIN")"
    CX=$((X + WIDTH / 2))
    CY=$((Y + HEIGHT / 2))
}

pixel() {
    convert "$1" -crop "1x1+$2+$3" +repage -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:
}

# --- a program started before any tray --------------------------------------
"$probe" none 100 || fail "a tray already runs on $DISPLAY"
"$demo" >"$log" 2>"$work/demo.err" &
demo_pid=$!
pids="$pids $demo_pid"
wait_line 0 '^NO_TRAY waiting$'
dbl=$(sed -n 's/^BACKEND xembed doubleclick=\([0-9]*\)$/\1/p' "$log")
[ -n "$dbl" ] || fail "not on the X11 tray backend"

m=$(mark)
start_trayer
wait_line "$m" '^RESTARTED$'
wait_line "$m" '^DOCKED 1 '
# The tray may still move the socket once the icon is in: the area's latest
# report must come to match where X has the window.
reported_where_x_says() {
    # Not find_icon: its own wait would restart this one's clock.
    WIN=$(xdotool search --onlyvisible --classname "$icon_class" | head -n 1)
    eval "$(xdotool getwindowgeometry --shell "$WIN")"
    CX=$((X + WIDTH / 2))
    CY=$((Y + HEIGHT / 2))
    docked=$(since "$m" | grep '^DOCKED 1 ' | tail -n 1)
    [ "$docked" = "DOCKED 1 $X,$Y,$WIDTH,$HEIGHT" ]
}
wait_for 5 reported_where_x_says ||
    fail "the area reported '$docked', X says $X,$Y,$WIDTH,$HEIGHT"
echo "icon at $X,$Y size ${WIDTH}x$HEIGHT"

# --- what the icon looks like -------------------------------------------------
# The 16 x 16 disc sits in the middle of the socket; its corners are
# transparent and must show the tray's own background, the pixel left of the
# icon window. Painting can trail the docking a little, so look again until
# the picture is right or time is up.
shot="$art/tray_e2e.png"
ox=$((X + (WIDTH - 16) / 2))
oy=$((Y + (HEIGHT - 16) / 2))
i=0
while :; do
    import -window root "$shot"
    tray_bg=$(pixel "$shot" $((X - 1)) "$Y")
    corner=$(pixel "$shot" "$ox" "$oy")
    edge=$(pixel "$shot" "$X" "$Y")
    middle=$(pixel "$shot" $((ox + 8)) $((oy + 8)))
    r=${middle%%,*}
    gb=${middle#*,}
    if [ "$corner" = "$tray_bg" ] && [ "$edge" = "$tray_bg" ] && [ "$r" -ge 200 ] &&
        [ "${gb%,*}" -le 40 ] && [ "${gb#*,}" -le 40 ]; then
        break
    fi
    i=$((i + 1))
    [ $i -le 20 ] || fail "pixels: tray $tray_bg, icon corner $corner, edge $edge, middle $middle"
    sleep 0.1
done
echo "pixels: tray background $tray_bg, icon corner $corner, middle $middle ($art/tray_e2e.png)"

# --- hover ---------------------------------------------------------------------
m=$(mark)
pointer_to "$CX" "$CY"
wait_line "$m" '^ENTER$'
wait_line "$m" "^MOVE $CX,$CY\$"
# The tooltip is a visible window of the demo (the icon has a class of its own).
i=0
while [ "$(xdotool search --onlyvisible --classname '^tray_demo$' 2>/dev/null | wc -l)" -lt 1 ]; do
    i=$((i + 1))
    [ $i -le 100 ] || fail "no tooltip while hovering"
    sleep 0.05
done

# Many small moves inside the icon, faster than the 20 ms poll: the poll sees
# the pointer before its move is handled, which must not count as leaving.
m=$(mark)
cmd=""
n=0
while [ $n -lt 150 ]; do
    cmd="$cmd mousemove $((X + 1 + n % (WIDTH - 2))) $((Y + 1 + (n * 7) % (HEIGHT - 2))) sleep 0.006"
    n=$((n + 1))
done
last_x=$((X + 1 + 149 % (WIDTH - 2)))
last_y=$((Y + 1 + (149 * 7) % (HEIGHT - 2)))
# shellcheck disable=SC2086
xdotool $cmd
wait_line "$m" "^MOVE $last_x,$last_y\$"
moves=$(since "$m" | grep -c '^MOVE' || true)
exits=$(since "$m" | grep -c '^EXIT$' || true)
echo "moves inside the icon: $moves notified, $exits exits"
[ "$exits" -eq 0 ] || fail "left the icon while moving inside it"
[ "$moves" -ge 50 ] || fail "only $moves moves arrived"
m=$(mark)
pointer_to 10 300
wait_line "$m" '^EXIT$'

# --- buttons -------------------------------------------------------------------
m=$(mark)
pointer_to "$CX" "$CY"
wait_line "$m" '^ENTER$'
m=$(mark)
xdotool click 1
wait_line "$m" '^CLICK$'
expect_events "$m" "DOWN L $CX,$CY left|UP L $CX,$CY left|CLICK"

m=$(mark)
xdotool keydown shift click 1 keyup shift
wait_line "$m" '^CLICK$'
expect_events "$m" "DOWN L $CX,$CY shift+left|UP L $CX,$CY shift+left|CLICK"

# With OnDblClick set, a double click raises no click. That is an absence,
# so it takes a wait longer than the double-click time after the last up.
m=$(mark)
xdotool click --repeat 2 --delay 80 1
wait_line "$m" '^DBLCLICK$'
wait_line "$m" '^ACTION open$'
sleep "$(echo "$dbl" | awk '{ printf "%.2f", ($1 + 300) / 1000 }')"
expect_events "$m" "DOWN L $CX,$CY left|UP L $CX,$CY left|DBLCLICK|ACTION open|UP L $CX,$CY left"

m=$(mark)
xdotool click 2
wait_line "$m" '^UP M '
expect_events "$m" "DOWN M $CX,$CY middle|UP M $CX,$CY middle"

# The right button-down opens the menu at the cursor; the menu's grab keeps
# the button-up from the icon.
m=$(mark)
xdotool click 3
wait_line "$m" '^MENU '
menu=$(since "$m" | grep '^MENU ')
echo "menu: $menu"
expect_events "$m" "DOWN R $CX,$CY right|$menu"
item=${menu#*item0=}
ix=$(echo "$item" | cut -d, -f1)
iy=$(echo "$item" | cut -d, -f2)
iw=$(echo "$item" | cut -d, -f3)
ih=$(echo "$item" | cut -d, -f4)
menu_pos=$(echo "$menu" | cut -d' ' -f2)
mx=${menu_pos%,*}
my=${menu_pos#*,}
# Opened at the cursor, moved left only as far as the screen edge needs.
[ "$my" -eq "$CY" ] || fail "menu top $my, cursor at $CY"
[ "$mx" -le "$CX" ] || fail "menu left $mx, cursor at $CX"
m=$(mark)
pointer_to $((ix + iw / 2)) $((iy + ih / 2)) click 1
wait_line "$m" '^ACTION hello$'
pointer_to 10 300

# --- the tray restarts -----------------------------------------------------------
m=$(mark)
stop_trayer
wait_line "$m" '^LOST$'
i=0
while xdotool search --onlyvisible --classname "$icon_class" >/dev/null 2>&1; do
    i=$((i + 1))
    [ $i -le 100 ] || fail "the icon stayed on screen without a tray"
    sleep 0.05
done
m=$(mark)
start_trayer
wait_line "$m" '^RESTARTED$'
wait_line "$m" '^DOCKED 1 '
find_icon
m=$(mark)
pointer_to "$CX" "$CY" click 1
wait_line "$m" '^CLICK$'
expect_events "$m" "DOWN L $CX,$CY left|UP L $CX,$CY left|CLICK"
since "$m" | grep -q "^MOVE $CX,$CY\$" || fail "no move before the click after the restart"

echo "PASS: docked late, pixels right, events with screen positions, menu, restart"
