#!/bin/sh
# Takes the screenshots of the README and the help page on a private X server:
#   docs/screenshots/main-window.png  the main window monitoring three hosts
#   docs/screenshots/tray-hover.png   the icon in a panel with its hover summary
# Usage: docs/take-screenshots.sh [build folder]     (default: build)
# Needs a build and the packages of the "docs" group: scripts/install-deps.sh docs
# The program runs on a copy with a data folder of its own and pings loopback
# addresses only; nothing of the real user's settings is read or written.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "${1:-$root/build}" && pwd)
out=$here/screenshots

if [ -z "${TARNWICK_SHOTS_INSIDE:-}" ]; then
  # A throw-away HOME and XDG folders, then a private Xvfb.
  exec env TARNWICK_SHOTS_INSIDE=1 "$root/tests/support/run-isolated.sh" \
    "$root/tests/support/with-xvfb.sh" "$0" "$build"
fi

work=$(mktemp -d)
pids=
app_pid=
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null || true; done
  for p in $pids; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
  return 0
}
trap cleanup EXIT INT TERM
fail() { echo "take-screenshots: $*" >&2; exit 1; }

# Waits up to $1 seconds for the command to succeed.
wait_for() {
  limit=$1; shift
  i=0
  while ! "$@" >/dev/null 2>&1; do
    i=$((i + 1))
    [ $i -le $((limit * 20)) ] || return 1
    [ -z "$app_pid" ] || kill -0 "$app_pid" 2>/dev/null || fail "the program ended"
    sleep 0.05
  done
}

# No session bus: the program docks into the X11 tray below, whose icon
# reports the pointer, so the summary shows in its hint window.
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
unset WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_SCALE_FACTOR

mkdir -p "$work/app/data" "$XDG_CONFIG_HOME/Orlvane" "$out"
cp "$build/tarnwick" "$build/tarnwick-icmp-helper" "$work/app/"
printf '1000\r\n0\r\n2000\r\n32\r\n' >"$work/app/data/config.cfg"
printf '127.0.0.1\r\nlocalhost\r\n127.0.0.2\r\n' >"$work/app/data/domains.cfg"
# Not a first run: no browser, and the start of every day.
printf '[General]\nfr=1\n' >"$XDG_CONFIG_HOME/Orlvane/Orlvane_Tarnwick.ini"
# The copy of the helper has lost any capability; without the right to ping,
# the shots would show the notice instead of results.
"$root/scripts/grant-echo.sh" "$work/app/tarnwick-icmp-helper" ||
  fail "echo requests are not allowed here (see above); the shots would show no replies"

if command -v openbox >/dev/null; then
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids="$pids $!"
  wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
    fail "the window manager did not start"
fi
trayer --edge bottom --align right --widthtype request --height 24 --tint 0xdcdcdc \
  --transparent true --alpha 0 --SetDockType false --SetPartialStrut true \
  >"$work/trayer.log" 2>&1 &
pids="$pids $!"
wait_for 10 xdotool search --onlyvisible --class '^trayer$' || fail "trayer did not start"

cd "$work"
"$work/app/tarnwick" >"$work/app.log" 2>&1 &
app_pid=$!
pids="$app_pid $pids"

title='^Orlvane Auto Tarnwick  -  www\.orlvane\.example$'
main_window() { xdotool search --onlyvisible --name "$title"; }

# The icon: a small visible window of the program's own inside the panel.
icon_window() {
  for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    if [ "$WIDTH" -le 64 ] && [ "$HEIGHT" -le 64 ] && [ "$Y" -ge 700 ]; then
      echo "$w"
      return 0
    fi
  done
  return 1
}

# Started hidden, the program shows its icon; until it has one, its window.
wait_for 20 sh -c "xdotool search --onlyvisible --name '$title' || \
  xdotool search --onlyvisible --pid $app_pid" || fail "nothing of the program appeared"
# Monitoring starts a second after launch and the workers a second later;
# with the delay of 1000 ms every host has its two newest lines by then.
sleep 5

icon=
i=0
while [ $i -lt 40 ]; do
  if icon=$(icon_window); then break; fi
  icon=
  i=$((i + 1))
  sleep 0.05
done

if [ -n "$icon" ]; then
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  cx=$((X + WIDTH / 2))
  cy=$((Y + HEIGHT / 2))
  before=$(xdotool search --onlyvisible --pid "$app_pid" | sort)
  xdotool mousemove --sync "$cx" "$cy"
  # The summary shows half a second after the pointer arrives, in a window of
  # its own (a hint, or the icon's tooltip where hover is not reported).
  new_window() {
    xdotool search --onlyvisible --pid "$app_pid" | sort | grep -vxF "$before" | head -n 1
  }
  wait_for 3 sh -c "[ -n \"\$(xdotool search --onlyvisible --pid $app_pid | sort | \
    grep -vxF '$before')\" ]" || fail "no summary appeared over the icon"
  hint=$(new_window)
  sleep 0.1
  eval "$(xdotool getwindowgeometry --shell "$hint")"
  left=$((X - 12))
  [ "$left" -ge 0 ] || left=0
  top=$((Y - 12))
  [ "$top" -ge 0 ] || top=0
  import -window root -crop "$((1024 - left))x$((768 - top))+$left+$top" +repage "$out/tray-hover.png"
  echo "took $out/tray-hover.png"
  xdotool mousemove --sync 300 300
  if ! main_window >/dev/null 2>&1; then
    xdotool mousemove --sync "$cx" "$cy" click 1
    wait_for 10 main_window || fail "a click on the icon did not show the main window"
    sleep 0.5
  fi
else
  echo "take-screenshots: the program shows no icon in the panel yet; took the main window only"
fi

win=$(main_window) || fail "no main window"
xdotool windowactivate --sync "$win" 2>/dev/null || true
xdotool mousemove --sync 1000 10
sleep 0.3
import -frame -window "$win" "$out/main-window.png"
echo "took $out/main-window.png"
