#!/bin/sh
# The set-up scripts as an ordinary user meets them: grant-echo.sh must say
# plainly whether echo requests will work (a nosuid mount, no sudo, a refused
# sudo, an open ICMP group range, a granted helper), `make run` must start
# the program when the right cannot be granted, install-deps.sh must name the
# missing packages and stop when it cannot install them, and `make clean`
# must keep the settings in the build's data folder.
# Needs root (a private network and mount namespace, a second user); exits 77
# elsewhere. Nothing is sent: the echo helper only opens its socket.
set -eu
build=${TARNWICK_BUILD_DIR:?}
src=${TARNWICK_SOURCE_DIR:?}
if [ "$(id -u)" -ne 0 ]; then
  [ "${CI:-}" = true ] && { echo "FAIL: needs root"; exit 1; }
  echo "SKIP: needs root"; exit 77
fi
# A folder the second user can reach (the test's own TMPDIR is private).
d=$(mktemp -d /tmp/tarnwick-scripts.XXXXXX)
chmod 755 "$d"
cleanup() { umount "$d/nosuid" 2>/dev/null || true; rm -rf "$d"; }
trap cleanup EXIT INT TERM
fail() { echo "FAIL: $*"; [ ! -f "$d/out" ] || sed 's/^/  | /' "$d/out"; exit 1; }

# The Makefile and scripts as a copy the second user can read.
tree=$d/tree
mkdir -p "$tree"
cp "$src/Makefile" "$tree/"
cp -r "$src/scripts" "$tree/"
chmod -R a+rX "$tree"
grant=$tree/scripts/grant-echo.sh
helper=$build/tarnwick-icmp-helper
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
has_cap() { getcap "$1" 2>/dev/null | grep -q cap_net_raw; }

# A PATH with the tools the scripts use and, unless given, no sudo.
mkdir -p "$d/bin" "$d/bin-refusing"
for t in cat id findmnt getcap setcap grep dpkg-query make sh dirname; do
  ln -s "$(command -v "$t")" "$d/bin/$t"
  ln -s "$(command -v "$t")" "$d/bin-refusing/$t"
done
printf '#!/bin/sh\necho "sudo: a password is required" >&2\nexit 1\n' >"$d/bin-refusing/sudo"
chmod 755 "$d/bin-refusing/sudo"

# Runs the command as the second user in a new network namespace, where the
# ICMP group range is closed (1 0) as on a stock Debian 12.
as_user() { # PATH, command...
  p=$1; shift
  unshare -n $nobody env -i PATH="$p" HOME="$d" "$@"
}
run() { # expected status, command...
  want=$1; shift
  got=0
  "$@" >"$d/out" 2>&1 || got=$?
  [ "$got" -eq "$want" ] || fail "status $got, not $want: $*"
}
said() { grep -q -- "$1" "$d/out" || fail "did not say '$1'"; }

# --- grant-echo.sh ------------------------------------------------------------------
cp "$helper" "$d/helper"
chmod 755 "$d/helper"

run 1 "$grant" "$d/no-such-helper"
said "there is no echo helper at $d/no-such-helper"

# An open group range needs nothing; the helper stays without a capability.
run 0 unshare -n sh -c 'sysctl -q -w net.ipv4.ping_group_range="0 2147483647" && "$1" "$2"' sh "$grant" "$d/helper"
said "allowed for your groups (net.ipv4.ping_group_range is 0 2147483647)"
has_cap "$d/helper" && fail "a capability was set although none was needed"

# An ordinary user without sudo: what to run as root, and not a success.
run 1 as_user "$d/bin" /bin/sh "$grant" "$d/helper"
said "sudo is not installed"
said "setcap cap_net_raw+ep $d/helper"
said "net.ipv4.ping_group_range=\"0 2147483647\""
said "Tarnwick runs all the same"

# A refused sudo is a failure too.
run 1 as_user "$d/bin-refusing" /bin/sh "$grant" "$d/helper"
said "setcap failed (sudo refused"
has_cap "$d/helper" && fail "a refused sudo left a capability"

# On a nosuid mount the capability would be ignored: said, and not set.
mkdir -p "$d/nosuid"
run 1 unshare -m sh -c 'mount -t tmpfs -o nosuid,mode=755 tarnwick-test "$1/nosuid" &&
  cp "$1/helper" "$1/nosuid/helper" && "$2" "$1/nosuid/helper"; rc=$?;
  getcap "$1/nosuid/helper" >"$1/nosuid-cap"; exit $rc' sh "$d" "$grant"
said "mounted nosuid ($d/nosuid)"
[ ! -s "$d/nosuid-cap" ] || fail "a capability was set on the nosuid mount: $(cat "$d/nosuid-cap")"

# Granted by root; then the ordinary user finds it in effect (the helper opens
# its socket as that user).
run 0 unshare -n "$grant" "$d/helper"
said "giving cap_net_raw to $d/helper"
said "allowed through the echo helper"
has_cap "$d/helper" || fail "no capability after a grant"
run 0 as_user "$d/bin" /bin/sh "$grant" "$d/helper"
said "already has cap_net_raw"
# A capability that does not take effect for the user is not a success (a
# stand-in helper that cannot open its socket).
printf '#!/bin/sh\nexit 3\n' >"$d/helper-broken"
chmod 755 "$d/helper-broken"
setcap cap_net_raw+ep "$d/helper-broken"
run 1 as_user "$d/bin" /bin/sh "$grant" "$d/helper-broken"
said "carries cap_net_raw, but it does not take effect here"

# --- make run starts the program even when the right cannot be granted -------
mkdir -p "$d/build"
cp "$helper" "$d/build/tarnwick-icmp-helper"
printf '#!/bin/sh\necho "program started"\n' >"$d/build/tarnwick"
chmod 755 "$d/build/tarnwick" "$d/build/tarnwick-icmp-helper"
# `-o build`: the build itself is not what is tested here.
run 0 as_user "$d/bin" make -s -C "$tree" -o build run BUILD_DIR="$d/build"
said "sudo is not installed"
said "program started"

# --- install-deps.sh names what is missing and stops ---------------------------
mkdir -p "$d/scripts"
cp "$tree/scripts/install-deps.sh" "$d/scripts/"
printf 'fake: coreutils tarnwick-no-such-package\n' >"$d/scripts/packages.txt"
chmod -R a+rX "$d/scripts"
run 1 as_user "$d/bin" /bin/sh "$d/scripts/install-deps.sh" fake
said "sudo is not installed"
said "These Debian packages are missing: tarnwick-no-such-package$"
said "apt-get install tarnwick-no-such-package$"
run 1 as_user "$d/bin-refusing" /bin/sh "$d/scripts/install-deps.sh" fake
said "Installing the packages failed (sudo may have refused)"
said "apt-get install tarnwick-no-such-package$"

# --- make clean keeps the settings ------------------------------------------------
b=$d/clean
mkdir -p "$b/data" "$b/src/app" "$b/help"
printf '1500\r\n0\r\n2000\r\n32\r\n' >"$b/data/config.cfg"
printf 'localhost\r\n' >"$b/data/domains.cfg"
cp "$b/data/config.cfg" "$d/config.before"
touch "$b/tarnwick" "$b/CMakeCache.txt" "$b/.ninja_log" "$b/src/app/main.o" "$b/help/index.html"
run 0 make -s -C "$tree" clean BUILD_DIR="$b"
said "Kept your settings in $b/data"
[ "$(cd "$b" && find . -mindepth 1 | sort | paste -sd' ' -)" = "./data ./data/config.cfg ./data/domains.cfg" ] ||
  fail "left after make clean: $(cd "$b" && find . -mindepth 1 | paste -sd' ' -)"
cmp -s "$d/config.before" "$b/data/config.cfg" || fail "make clean changed config.cfg"
# A folder of sources is not a build.
mkdir -p "$d/sources"
touch "$d/sources/CMakeLists.txt"
run 2 make -s -C "$tree" clean BUILD_DIR="$d/sources"
said "holds sources, not a build"
[ -f "$d/sources/CMakeLists.txt" ] || fail "make clean removed sources"

echo "PASS: grant-echo.sh, make run without the right, install-deps.sh without sudo, make clean"
