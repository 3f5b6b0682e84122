#!/bin/sh
# The real program on a StatusNotifierItem host with no X11 tray: lxqt-panel
# with only its status-notifier plugin, on a private session bus. The icon
# must be registered with the watcher, carry a picture, and its tooltip must
# hold the results summary, refreshed as replies come, and so must the head
# of its menu; Exit is not offered
# here, so SIGTERM ends it with status 0.
# Usage: e2e_sni.sh
set -eu
build=${TARNWICK_BUILD_DIR:?}
unset WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_SCALE_FACTOR XDG_CURRENT_DESKTOP SESSION_MANAGER
export QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1

test_name=e2e-sni
. "$(dirname "$0")/../support/desktop-test-lib.sh"
command -v lxqt-panel >/dev/null || skip "lxqt-panel is not installed"

private_bus

item_property() {
    it=$(sni_item)
    property "${it%%/*}" "/${it#*/}" org.kde.StatusNotifierItem "$1"
}
tooltip_has() { item_property ToolTip | grep -q -- "$1"; }

start_lxqt statusnotifier
wait_for 15 host_registered || fail "lxqt-panel registered no status notifier host"

install_program '127.0.0.1\r\n'
start_program

wait_for 10 sni_item || fail "the program registered no item"
item_property IconPixmap >"$work/pixmap.txt" || fail "the item has no IconPixmap"
# A picture of at least 16 x 16 pixels: 1024 bytes of ARGB, not all clear.
[ "$(sed -n '/array of bytes/,$p' "$work/pixmap.txt" | grep -oE '\b[0-9a-f]{2}\b' | wc -l)" -ge 1024 ] ||
    fail "the item's picture is empty"
grep -q 'ff [0-9a-f][0-9a-f] [0-9a-f][0-9a-f] [0-9a-f][0-9a-f]' "$work/pixmap.txt" || fail "the item's picture is transparent"
# The tooltip is the summary: its separators, then the replies as they come.
wait_for 5 tooltip_has '-----' || fail "the tooltip holds no summary: $(item_property ToolTip | tr '\n' ' ' | cut -c1-300)"
wait_for 8 tooltip_has 'Reply from 127.0.0.1' || fail "the tooltip did not follow the replies"
# No hover here: the summary also heads the menu the host shows, as lines
# that cannot be chosen, and it follows the replies.
menu_layout() {
    it=$(sni_item)
    menu=$(item_property Menu | sed -n 's/.*object path "\(.*\)".*/\1/p')
    dbus-send --session --print-reply --reply-timeout=2000 --dest="${it%%/*}" "$menu" \
        com.canonical.dbusmenu.GetLayout int32:0 int32:-1 array:string: 2>/dev/null
}
menu_has_reply() {
    menu_layout | tr -s ' \n' ' ' |
        grep -q '"enabled" variant boolean false ) dict entry( string "label" variant string "Reply from 127.0.0.1'
}
wait_for 5 menu_has_reply || fail "the menu has no summary: $(menu_layout | tr -s ' \n' ' ' | cut -c1-400)"
menu_layout | grep -q 'Show main window' || fail "the menu lost its own items"
# No window at a start that is not the first: the icon is the way in.
if xdotool search --onlyvisible --name '^Orlvane Auto Tarnwick  -  ' >/dev/null 2>&1; then
    fail "the main window is shown although the icon is in the area"
fi
import -window root "$art/sni_panel.png" 2>/dev/null || true

kill -TERM "$app"
rc=0
wait "$app" || rc=$?
app=""
[ "$rc" -eq 0 ] || fail "status $rc after SIGTERM"
echo "PASS: item registered with a picture, summary in its tooltip, hidden start, SIGTERM"
