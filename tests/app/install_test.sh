#!/bin/sh
# Installs the build into a temporary prefix (with a blank in its name, which
# the desktop entry must quote) the way `make install` does, and checks:
# the installed tree with stripped binaries, the desktop entry and the
# AppStream metadata with the field's own validators, the help page and its
# pictures, that a start-with-the-system entry of the build's program is
# pointed at the installed one (and one of another installation is not),
# that re-installing
# keeps the settings byte for byte and removes only what an earlier
# installation left, that the installed program started through its link
# from another working directory reads data/ beside the real executable, and
# that uninstalling removes everything but data/.
# The installed host list is empty: the program sends no packets.
set -eu
. "$(dirname "$0")/../support/wait-lib.sh"
build=${TARNWICK_BUILD_DIR:?}
src=${TARNWICK_SOURCE_DIR:?}
work=$(mktemp -d)
work=$(cd -P "$work" && pwd)
pid=
cleanup() {
  if [ -n "$pid" ]; then
    [ -s "$work/app.pid" ] && kill "$(cat "$work/app.pid")" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  return 0
}
trap cleanup EXIT INT TERM
fail() { echo "FAIL: $*"; exit 1; }

id=example.orlvane.Tarnwick
prefix="$work/the prefix"
app="$prefix/lib/tarnwick"
share="$prefix/share"

# Both say nothing of CMake's own: a warning there is a fault of ours.
quiet() { ! grep -q -e 'CMake Warning' -e 'CMake Error' "$1" || { cat "$1"; fail "CMake complained"; }; }
install_to() { # log file
  cmake --install "$build" --strip --prefix "$prefix" >"$1" 2>&1 || { cat "$1"; fail "install failed"; }
  quiet "$1"
}
uninstall() { # log file
  rc=0
  cmake -DPREFIX="$prefix" -P "$src/cmake/TarnwickUninstall.cmake" >"$1" 2>&1 || rc=$?
  quiet "$1"
  return $rc
}

# --- first installation ---------------------------------------------------------
# The build's program wrote a start-with-the-system entry (switched off).
autostart=$XDG_CONFIG_HOME/autostart/Orlvane_Tarnwick.desktop
mkdir -p "$XDG_CONFIG_HOME/autostart"
printf '[Desktop Entry]\nType=Application\nName=Tarnwick\nCategories=Network;Monitor;\nExec="%s"\nTerminal=false\nHidden=true\n' \
  "$build/tarnwick" >"$autostart"
install_to "$work/install1.log"
for f in "$app/tarnwick" "$app/tarnwick-icmp-helper"; do
  [ -f "$f" ] && [ -x "$f" ] || fail "$f is not an installed program"
  # Stripped: no symbol table, no debugging sections.
  if readelf -S -W "$f" | grep -q -e ' \.symtab ' -e ' \.debug_'; then
    fail "$f is not stripped: $(readelf -S -W "$f" | grep -o -e '\.symtab' -e '\.debug_[a-z]*' | paste -sd' ' -)"
  fi
done
grep -qx "Exec=\"$app/tarnwick\"" "$autostart" ||
  fail "the start-with-the-system entry still starts $(grep '^Exec=' "$autostart")"
grep -qx 'Hidden=true' "$autostart" && grep -qx 'Categories=Network;Monitor;' "$autostart" ||
  fail "pointing the entry at the installation changed more: $(cat "$autostart")"
grep -q "The start-with-the-system entry $autostart now starts $app/tarnwick (it started $build/tarnwick)" \
  "$work/install1.log" || fail "the install did not say that it pointed the entry at the installation"
# The prefix's bin is not ~/.local/bin: no promise that a login adds it.
grep -q "$prefix/bin is not on your PATH; add it there" "$work/install1.log" ||
  fail "the install did not say that the prefix's bin is off the PATH"
! grep -q 'Debian adds' "$work/install1.log" || fail "the install promised that Debian puts $prefix/bin on the PATH"
[ -d "$app/data" ] || fail "no data folder beside the program"
[ -z "$(ls -A "$app/data")" ] || fail "the installation put files into data/"
grep -q "Created the settings folder: $app/data" "$work/install1.log" ||
  fail "the install did not say it created data/"

link="$prefix/bin/tarnwick"
[ -L "$link" ] || fail "no link $link"
case "$(readlink "$link")" in /*) fail "the link in bin is absolute: $(readlink "$link")" ;; esac
[ "$(readlink -f "$link")" = "$app/tarnwick" ] || fail "the link leads to $(readlink -f "$link")"

# The echo right: the install said what it did; where it says it granted the
# right, the installed helper carries it.
grep -q '^Echo requests: ' "$work/install1.log" || fail "the install said nothing about echo requests"
if grep -q 'allowed through the echo helper' "$work/install1.log"; then
  getcap "$app/tarnwick-icmp-helper" | grep -q cap_net_raw ||
    fail "the install reported the right granted, but the helper has none"
fi

# Icons: the vector source and every bitmap size, at its size.
[ -f "$share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
for s in 16 22 24 32 48 64 128 256; do
  png="$share/icons/hicolor/${s}x${s}/apps/$id.png"
  [ -f "$png" ] || fail "no icon at $s pixels"
  [ "$(identify -format '%wx%h' "$png")" = "${s}x${s}" ] || fail "$png is $(identify -format '%wx%h' "$png")"
done

# The desktop entry, with the field's validator.
entry="$share/applications/$id.desktop"
[ -f "$entry" ] || fail "no desktop entry $entry"
said=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $said"
[ -z "$said" ] || fail "desktop-file-validate: $said"
grep -qx "Exec=\"$app/tarnwick\"" "$entry" || fail "Exec does not name the installed program: $(grep '^Exec=' "$entry")"
grep -qx "Icon=$id" "$entry" || fail "the entry names another icon"
grep -q '^Categories=.*Network;' "$entry" && grep -q '^Categories=.*Monitor;' "$entry" ||
  fail "categories: $(grep '^Categories=' "$entry")"

# The AppStream metadata, with the field's validator (no network).
meta="$share/metainfo/$id.metainfo.xml"
[ -f "$meta" ] || fail "no metainfo $meta"
appstreamcli validate --no-net --pedantic "$meta" >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log"; fail "appstreamcli validate"; }
grep -q "<id>$id</id>" "$meta" || fail "the metainfo has another id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$meta" || fail "the metainfo launches another entry"
grep -q '<release version="1.5"' "$meta" || fail "no release 1.5"
grep -q '<screenshot type="default">' "$meta" || fail "no screenshot"

# The help page: every picture and every anchor it refers to is there.
page="$app/help/index.html"
[ -f "$page" ] || fail "no help page beside the program"
for s in ok some many all; do
  grep -q "src=\"pictures/status_$s.svg\"" "$page" || fail "the help page shows no status_$s picture"
done
for ref in $(grep -o 'src="[^"]*"' "$page" | sed 's/^src="//; s/"$//'); do
  case "$ref" in *:*) fail "the help page loads $ref from elsewhere" ;; esac
  [ -f "$app/help/$ref" ] || fail "the help page refers to $ref, which is not installed"
done
for ref in $(grep -o 'href="#[^"]*"' "$page" | sed 's/^href="#//; s/"$//'); do
  grep -q "id=\"$ref\"" "$page" || fail "the help page links to #$ref, which it lacks"
done

# --- settings survive a re-installation, stale files do not -----------------------
printf '1500\r\n0\r\n2000\r\n32\r\n' >"$app/data/config.cfg"
: >"$app/data/domains.cfg"
cp "$app/data/config.cfg" "$work/config.before"
cp "$app/data/domains.cfg" "$work/domains.before"
# An earlier version's list naming a file this one no longer has, a settings
# file, and a path outside the prefix.
echo 'old' >"$app/retired-file"
echo 'outside' >"$work/outside"
printf 'lib/tarnwick/retired-file\nlib/tarnwick/data/config.cfg\n../outside\n' >>"$app/installed-files.txt"
# An entry that starts another installation is the user's choice.
mkdir -p "$work/other"
touch "$work/other/tarnwick" "$work/other/installed-files.txt"
printf '[Desktop Entry]\nType=Application\nName=Tarnwick\nExec="%s"\nHidden=false\n' "$work/other/tarnwick" >"$autostart"
install_to "$work/install2.log"
grep -qx "Exec=\"$work/other/tarnwick\"" "$autostart" || fail "the install took over another installation's entry"
grep -q "Kept the start-with-the-system entry $autostart: it starts another installation" "$work/install2.log" ||
  fail "the install did not say that it kept the entry"
rm "$autostart"
grep -q "Kept the settings folder as it is: $app/data" "$work/install2.log" ||
  fail "the re-install did not say it kept data/"
cmp -s "$work/config.before" "$app/data/config.cfg" || fail "re-installing changed config.cfg"
cmp -s "$work/domains.before" "$app/data/domains.cfg" || fail "re-installing changed domains.cfg"
[ ! -e "$app/retired-file" ] || fail "a file of the earlier installation was left behind"
[ -f "$work/outside" ] || fail "a listed path outside the prefix was removed"
[ "$(readlink -f "$link")" = "$app/tarnwick" ] || fail "the re-install broke the link"

# --- the installed program, through its link, from elsewhere -------------------
mkdir -p "$work/elsewhere/data" "$XDG_CONFIG_HOME/Orlvane"
printf '3000\r\n' >"$work/elsewhere/data/config.cfg"
printf 'wrong.invalid\r\n' >"$work/elsewhere/data/domains.cfg"
# Not a first run: no browser is to be started.
printf '[General]\nfr=1\n' >"$XDG_CONFIG_HOME/Orlvane/Orlvane_Tarnwick.ini"
# Keep Qt off any session bus (it could autolaunch one on this display).
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
cd "$work/elsewhere"
strace -f -qq -e trace=openat,sendto,sendmsg -o "$work/trace.log" \
  sh -c 'echo $$ > "$1"; exec "$2"' sh "$work/app.pid" "$link" &
pid=$!
watch=$pid
title='^Orlvane Auto Tarnwick  -  www\.orlvane\.example$'
# No notification area on this display: the window is shown at the start.
wait_for 20 xdotool search --onlyvisible --name "$title" || fail "the installed program showed no window"
win=$(xdotool search --onlyvisible --name "$title" | head -n 1)

grep -q "openat(.*\"$app/data/config.cfg\"" "$work/trace.log" || fail "config.cfg beside the real executable not read"
grep -q "openat(.*\"$app/data/domains.cfg\"" "$work/trace.log" || fail "domains.cfg beside the real executable not read"
if grep -q -e "$prefix/bin/data" -e "$work/elsewhere/data" "$work/trace.log"; then
  fail "read a data folder other than the one beside the real executable"
fi

# "File" > "Exit" ends it cleanly.
visible() { xdotool search --onlyvisible --pid "$(cat "$work/app.pid")" 2>/dev/null | wc -l; }
before=$(visible)
menu_open() { [ "$(visible)" -gt "$before" ]; }
xdotool mousemove --window "$win" 20 8 click 1
wait_for 5 menu_open || fail "the File menu did not open"
xdotool key Up Return
i=0
while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
kill -0 "$pid" 2>/dev/null && fail "still running 5 s after File > Exit"
rc=0
wait "$pid" || rc=$?
pid=
[ "$rc" -eq 0 ] || fail "exit status $rc after File > Exit"
if grep -E 'send(to|msg)\(.*AF_INET' "$work/trace.log" >/dev/null; then
  fail "the program sent packets with an empty host list"
fi
cmp -s "$work/config.before" "$app/data/config.cfg" || fail "running the program changed config.cfg"
cd "$work"

# --- uninstall -----------------------------------------------------------------------
# An autostart entry of this installation would start a missing file at login;
# one of another installation is not ours to remove.
mkdir -p "$XDG_CONFIG_HOME/autostart"
printf '[Desktop Entry]\nType=Application\nName=Tarnwick\nExec="%s"\nHidden=false\n' "$app/tarnwick" \
  >"$XDG_CONFIG_HOME/autostart/Orlvane_Tarnwick.desktop"
uninstall "$work/uninstall.log" || { cat "$work/uninstall.log"; fail "uninstall failed"; }
grep -q "Your settings stay in $app/data" "$work/uninstall.log" || fail "uninstall did not say where the settings stay"
[ ! -e "$XDG_CONFIG_HOME/autostart/Orlvane_Tarnwick.desktop" ] ||
  fail "the autostart entry of the removed program was kept"
left=$(cd "$prefix" && find . ! -type d | sort | paste -sd' ' -)
[ "$left" = "./lib/tarnwick/data/config.cfg ./lib/tarnwick/data/domains.cfg" ] ||
  fail "left after uninstall: $left"
[ ! -d "$app/help" ] || fail "the help folder was left"
cmp -s "$work/config.before" "$app/data/config.cfg" || fail "uninstalling changed config.cfg"
cmp -s "$work/domains.before" "$app/data/domains.cfg" || fail "uninstalling changed domains.cfg"

# An entry that starts a program that is gone is pointed at the new
# installation; one of another installation stays when this one goes;
# uninstalling again finds nothing and says so.
printf '[Desktop Entry]\nType=Application\nName=Tarnwick\nExec="/opt/gone/tarnwick"\nHidden=false\n' \
  >"$autostart"
install_to "$work/install3.log"
grep -qx "Exec=\"$app/tarnwick\"" "$autostart" || fail "an entry of a missing program was kept: $(grep '^Exec=' "$autostart")"
printf '[Desktop Entry]\nType=Application\nName=Tarnwick\nExec="%s"\nHidden=false\n' "$work/other/tarnwick" \
  >"$autostart"
uninstall "$work/uninstall2.log" || fail "uninstall after a new install failed"
[ -f "$XDG_CONFIG_HOME/autostart/Orlvane_Tarnwick.desktop" ] || fail "another installation's autostart entry was removed"
uninstall "$work/uninstall3.log" || fail "uninstalling again failed"
grep -q "No Tarnwick installation in $prefix" "$work/uninstall3.log" || fail "uninstalling nothing: $(cat "$work/uninstall3.log")"
[ -f "$app/data/config.cfg" ] || fail "the settings went"

echo "PASS: installed tree stripped, validators, help page, autostart entry pointed at the installation, settings kept, stale files removed, program read data/ beside the real executable, uninstall kept data/ only"
