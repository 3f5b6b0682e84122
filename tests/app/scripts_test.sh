#!/bin/sh
# The set-up scripts as users meet them, with the PATH Debian's login gives
# an ordinary user (no sbin) and the real sudo: grant-echo.sh must say
# plainly whether echo requests will work and give the advice that fits
# (a sudoer, a user who may not use sudo, no sudo at all, a nosuid mount, a
# granted helper, a relative path) with the helper's full path; `make run`
# must start the program when the right cannot be granted; install-deps.sh
# must name the missing packages and stop when it cannot install them, and
# wait while another package manager holds the lock; `make clean` must keep
# the settings and remove a start-with-the-system entry of what it removes.
# Needs root (private network and mount namespaces, a second user, sudo's
# policy swapped for the test's inside them); exits 77 elsewhere. Nothing is
# sent: the echo helper only opens its socket. Nothing is installed: apt-get
# is a stand-in wherever it would run.
set -eu
build=${TARNWICK_BUILD_DIR:?}
src=${TARNWICK_SOURCE_DIR:?}
skip() { [ "${CI:-}" = true ] && { echo "FAIL: $*"; exit 1; }; echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root"
[ -x /usr/bin/sudo ] || skip "sudo is not installed (package sudo)"
sudo_gid=$(getent group sudo | cut -d: -f3)
[ -n "$sudo_gid" ] || skip "there is no group sudo"
# A folder the second user can reach (the test's own TMPDIR is private).
d=$(mktemp -d /tmp/tarnwick-scripts.XXXXXX)
chmod 755 "$d"
cleanup() { umount "$d/nosuid" 2>/dev/null || true; rm -rf "$d"; }
trap cleanup EXIT INT TERM
fail() { echo "FAIL: $*"; [ ! -f "$d/out" ] || sed 's/^/  | /' "$d/out"; exit 1; }

# The Makefile, scripts and CMake scripts as a copy the second user can read.
tree=$d/tree
mkdir -p "$tree"
cp "$src/Makefile" "$tree/"
cp -r "$src/scripts" "$src/cmake" "$tree/"
chmod -R a+rX "$tree"
grant=$tree/scripts/grant-echo.sh
helper=$build/tarnwick-icmp-helper
has_cap() { /usr/sbin/getcap "$1" 2>/dev/null | grep -q 'cap_net_raw[+=]ep'; }

# sudo's policies for the test: sudoers may use it without a password, or
# only with one (which nobody can type here).
printf 'root ALL=(ALL:ALL) ALL\n%%sudo ALL=(ALL:ALL) NOPASSWD: ALL\n' >"$d/sudoers-open"
printf 'root ALL=(ALL:ALL) ALL\n%%sudo ALL=(ALL:ALL) ALL\n' >"$d/sudoers-password"
chmod 440 "$d/sudoers-open" "$d/sudoers-password"
: >"$d/not-a-program"
chmod 644 "$d/not-a-program"

debian_path=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games
# Runs the command as the second user with Debian's login PATH, in new
# network and mount namespaces: the ICMP group range is closed (1 0) as on
# a stock Debian 12, sudo follows the given policy, or is not there at all.
#   as_user <sudoer|user> <open|password|no-sudo> command...
as_user() {
  groups=65534
  [ "$1" = sudoer ] && groups=$sudo_gid
  policy=$2
  shift 2
  unshare -m -n sh -c '
    d=$1 policy=$2 groups=$3 path=$4; shift 4
    if [ "$policy" = no-sudo ]; then
      mount --bind "$d/not-a-program" /usr/bin/sudo
    else
      mount --bind "$d/sudoers-$policy" /etc/sudoers
    fi
    cd "$d"
    # A session of its own: no terminal for sudo to ask a password on.
    exec setsid -w setpriv --reuid=65534 --regid=65534 --groups="$groups" \
      env -i PATH="$path" HOME="$d" LANG=C "$@"' sh "$d" "$policy" "$groups" "$debian_path" "$@"
}
run() { # expected status, command...
  want=$1; shift
  got=0
  "$@" >"$d/out" 2>&1 </dev/null || got=$?
  [ "$got" -eq "$want" ] || fail "status $got, not $want: $*"
}
said() { grep -qF -- "$1" "$d/out" || fail "did not say '$1'"; }
never_said() { ! grep -qF -- "$1" "$d/out" || fail "said '$1'"; }

# --- grant-echo.sh ------------------------------------------------------------------
cp "$helper" "$d/helper"
chmod 755 "$d/helper"

run 1 "$grant" "$d/no-such-helper"
said "there is no echo helper at $d/no-such-helper"

# An open group range needs nothing; the helper stays without a capability.
run 0 unshare -n sh -c 'sysctl -q -w net.ipv4.ping_group_range="0 2147483647" && "$1" "$2"' sh "$grant" "$d/helper"
said "allowed for your groups (net.ipv4.ping_group_range is 0 2147483647)"
has_cap "$d/helper" && fail "a capability was set although none was needed"

# No sudo: what to run as root, with the tools' and the helper's full paths
# (given relative here), and not a success.
run 1 as_user user no-sudo /bin/sh "$grant" ./helper
said "sudo is not installed"
said "Run as root (sudo is not installed):   /usr/sbin/setcap cap_net_raw+ep $d/helper"
said "/usr/sbin/sysctl -w net.ipv4.ping_group_range=\"0 2147483647\""
said "Tarnwick runs all the same"
never_said "sudo /"

# sudo is there, but this user may not use it: never asked.
run 1 as_user user open /bin/sh "$grant" "$d/helper"
said "your account may not use sudo"
said "Run as root (your account may not use sudo):   /usr/sbin/setcap cap_net_raw+ep $d/helper"
never_said "sudo /"
has_cap "$d/helper" && fail "a user who may not use sudo got a capability set"

# A sudoer whose sudo wants a password nobody can type: a failure, and the
# command to run themselves.
run 1 as_user sudoer password /bin/sh "$grant" "$d/helper"
said "setcap failed (sudo refused or could not ask for the password)"
said "Run:   sudo /usr/sbin/setcap cap_net_raw+ep $d/helper"
has_cap "$d/helper" && fail "a refused sudo left a capability"

# A sudoer: granted through sudo and seen to take effect, with sbin not on
# the PATH.
run 0 as_user sudoer open /bin/sh "$grant" "$d/helper"
said "giving cap_net_raw to $d/helper"
said "allowed through the echo helper"
has_cap "$d/helper" || fail "no capability after a grant through sudo"
# Granted: right for everyone now, sudo or not.
run 0 as_user user no-sudo /bin/sh "$grant" "$d/helper"
said "already has cap_net_raw"
run 0 as_user sudoer open /bin/sh "$grant" "$d/helper"
said "already has cap_net_raw"

# Permitted but not effective is no grant: root gives the right again.
/usr/sbin/setcap cap_net_raw+p "$d/helper"
run 0 unshare -n "$grant" "$d/helper"
said "giving cap_net_raw to $d/helper"
has_cap "$d/helper" || fail "root did not make the capability effective"

# On a nosuid mount the capability would be ignored: said, and not set.
mkdir -p "$d/nosuid"
run 1 unshare -m sh -c 'mount -t tmpfs -o nosuid,mode=755 tarnwick-test "$1/nosuid" &&
  cp "$1/helper" "$1/nosuid/helper" && "$2" "$1/nosuid/helper"; rc=$?;
  /usr/sbin/getcap "$1/nosuid/helper" >"$1/nosuid-cap"; exit $rc' sh "$d" "$grant"
said "mounted nosuid ($d/nosuid)"
[ ! -s "$d/nosuid-cap" ] || fail "a capability was set on the nosuid mount: $(cat "$d/nosuid-cap")"

# Granted by root from another folder, to a path given relative.
/usr/sbin/setcap -r "$d/helper"
run 0 unshare -n sh -c 'cd "$1" && "$2" ./helper' sh "$d" "$grant"
said "giving cap_net_raw to $d/helper"
has_cap "$d/helper" || fail "no capability after a grant by root"
# A capability that does not take effect for the user is not a success (a
# stand-in helper that cannot open its socket).
printf '#!/bin/sh\nexit 3\n' >"$d/helper-broken"
chmod 755 "$d/helper-broken"
/usr/sbin/setcap cap_net_raw+ep "$d/helper-broken"
run 1 as_user user no-sudo /bin/sh "$grant" "$d/helper-broken"
said "carries cap_net_raw, but it does not take effect here"

# --- make run starts the program even when the right cannot be granted -------
mkdir -p "$d/build"
cp "$helper" "$d/build/tarnwick-icmp-helper"
printf '#!/bin/sh\necho "program started"\n' >"$d/build/tarnwick"
chmod 755 "$d/build/tarnwick" "$d/build/tarnwick-icmp-helper"
# `-o build`: the build itself is not what is tested here.
run 0 as_user user open make -s -C "$tree" -o build run BUILD_DIR="$d/build"
said "your account may not use sudo"
said "/usr/sbin/setcap cap_net_raw+ep $d/build/tarnwick-icmp-helper"
said "program started"

# --- install-deps.sh names what is missing and stops ---------------------------
mkdir -p "$d/scripts"
cp "$tree/scripts/install-deps.sh" "$tree/scripts/common.sh" "$d/scripts/"
printf 'fake: coreutils tarnwick-no-such-package\n' >"$d/scripts/packages.txt"
chmod -R a+rX "$d/scripts"
deps=$d/scripts/install-deps.sh
run 1 as_user user no-sudo /bin/sh "$deps" fake
said "you are not root and sudo is not installed"
said "These Debian packages are missing: tarnwick-no-such-package"
said "Install them as root (sudo is not installed), then run make again:"
said "    apt-get install tarnwick-no-such-package"
run 1 as_user user open /bin/sh "$deps" fake
said "you are not root and your account may not use sudo"
said "    apt-get install tarnwick-no-such-package"
run 1 as_user sudoer password /bin/sh "$deps" fake
said "Installing the packages failed (sudo may have refused)"
said "    sudo apt-get install tarnwick-no-such-package"

# Another package manager holds the lock: it waits, says so, and goes on
# when the lock is free. apt-get is a stand-in that fails as apt does while
# $d/held exists.
cat >"$d/apt-get" <<EOF
#!/bin/sh
if [ -e "$d/held" ]; then
  echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (unattended-upgr)" >&2
  exit 100
fi
if [ -e "$d/broken" ]; then
  echo "E: Unable to locate package tarnwick-no-such-package" >&2
  exit 100
fi
echo "apt-get \$*" >>"$d/apt.log"
EOF
chmod 755 "$d/apt-get"
with_apt() { unshare -m sh -c 'mount --bind "$1/apt-get" /usr/bin/apt-get && shift && exec "$@"' sh "$d" "$@"; }
touch "$d/held"
with_apt /bin/sh "$deps" fake >"$d/out" 2>&1 &
waiting=$!
i=0
until grep -q 'Waiting for another package manager' "$d/out"; do
  i=$((i + 1))
  [ $i -le 400 ] || fail "install-deps.sh did not say that it waits"
  kill -0 "$waiting" 2>/dev/null || fail "install-deps.sh gave up instead of waiting"
  sleep 0.05
done
said "(/var/lib/dpkg/lock-frontend, held by process 4242 (unattended-upgr)); up to two minutes"
rm "$d/held"
rc=0
wait "$waiting" || rc=$?
[ "$rc" -eq 0 ] || fail "status $rc after the lock was freed"
grep -q '^apt-get update' "$d/apt.log" && grep -q '^apt-get install .*tarnwick-no-such-package' "$d/apt.log" ||
  fail "apt-get was not run after the wait: $(cat "$d/apt.log" 2>/dev/null)"
[ "$(grep -c 'Waiting for another package manager' "$d/out")" -eq 1 ] || fail "said more than once that it waits"
# Any other failure is not waited for.
touch "$d/broken"
start=$(date +%s)
run 1 with_apt /bin/sh "$deps" fake
[ $(($(date +%s) - start)) -lt 20 ] || fail "install-deps.sh waited on a failure that was not the lock"
said "Unable to locate package"
said "Installing the packages failed."
never_said "Waiting"

# --- make clean keeps the settings ------------------------------------------------
b=$d/clean
mkdir -p "$b/data" "$b/src/app" "$b/help"
printf '1500\r\n0\r\n2000\r\n32\r\n' >"$b/data/config.cfg"
printf 'localhost\r\n' >"$b/data/domains.cfg"
cp "$b/data/config.cfg" "$d/config.before"
touch "$b/tarnwick" "$b/CMakeCache.txt" "$b/.ninja_log" "$b/src/app/main.o" "$b/help/index.html"
t=$d/clean-tests
mkdir -p "$t/tests"
touch "$t/tarnwick" "$t/tests/tst_x"
# The start-with-the-system entry the build's program wrote, hidden or not,
# would start a missing file at every login.
mkdir -p "$XDG_CONFIG_HOME/autostart"
entry=$XDG_CONFIG_HOME/autostart/Orlvane_Tarnwick.desktop
printf '[Desktop Entry]\nType=Application\nName=Tarnwick\nExec="%s"\nHidden=false\n' "$b/tarnwick" >"$entry"
run 0 make -s -C "$tree" clean BUILD_DIR="$b" TEST_BUILD_DIR="$t"
said "Kept your settings in $b/data"
said "Removed the start-with-the-system entry $entry, which started $b/tarnwick"
[ ! -e "$entry" ] || fail "make clean kept an entry that starts the program it removed"
[ "$(cd "$b" && find . -mindepth 1 | sort | paste -sd' ' -)" = "./data ./data/config.cfg ./data/domains.cfg" ] ||
  fail "left after make clean: $(cd "$b" && find . -mindepth 1 | paste -sd' ' -)"
[ -z "$(ls -A "$t")" ] || fail "left in the test build after make clean: $(ls -A "$t")"
cmp -s "$d/config.before" "$b/data/config.cfg" || fail "make clean changed config.cfg"
# An entry of another program stays.
printf '[Desktop Entry]\nType=Application\nName=Tarnwick\nExec="/opt/other/tarnwick"\nHidden=false\n' >"$entry"
touch "$b/tarnwick"
run 0 make -s -C "$tree" clean BUILD_DIR="$b" TEST_BUILD_DIR="$t"
[ -f "$entry" ] || fail "make clean removed another program's entry"
never_said "start-with-the-system"
# A folder of sources is not a build.
mkdir -p "$d/sources"
touch "$d/sources/CMakeLists.txt"
run 2 make -s -C "$tree" clean BUILD_DIR="$d/sources"
said "holds sources, not a build"
[ -f "$d/sources/CMakeLists.txt" ] || fail "make clean removed sources"

echo "PASS: grant-echo.sh for a sudoer, a non-sudoer and without sudo, make run without the right, install-deps.sh without sudo and behind a lock, make clean"
