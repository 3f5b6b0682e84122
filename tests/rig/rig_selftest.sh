#!/bin/sh
# Checks the test rig itself: its topology and names as a test sees them, a
# test's own hosts file, the exit status it hands back, and that nothing it
# started or mounted outlives it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
rig=$here/rig.sh
fail() {
    echo "rig self-test: $*" >&2
    exit 1
}

hosts=$(mktemp)
trap 'rm -f "$hosts"' EXIT
printf '127.0.0.1\tlocalhost\n198.18.2.2\tUnknown\n' >"$hosts"

rc=0
"$rig" true || rc=$?
if [ "$rc" -eq 77 ]; then
    exit 77
fi
[ "$rc" -eq 0 ] || fail "an empty run failed ($rc)"

# The exit status of the command comes back unchanged.
rc=0
"$rig" sh -c 'exit 5' || rc=$?
[ "$rc" -eq 5 ] || fail "exit status 5 came back as $rc"

# What a test sees inside.
"$rig" --hosts "$hosts" sh -eu -c '
    fail() { echo "inside: $*" >&2; exit 1; }
    [ "$TARNWICK_RIG" = 1 ] || fail "TARNWICK_RIG not set"
    [ -d "$TARNWICK_RIG_SCRATCH" ] || fail "no scratch directory"
    [ "$(getent hosts Unknown | cut -d" " -f1)" = 198.18.2.2 ] || fail "the test hosts file is not in place"
    getent hosts target.tarnwick.test >/dev/null && fail "the default hosts file is still in place"
    grep -qx "nameserver 198.18.20.2" /etc/resolv.conf || fail "resolv.conf not private"
    [ "$(grep -c nameserver /etc/resolv.conf)" = 1 ] || fail "another name server is listed"
    [ "$(ip -o link show | grep -vc -e " lo:" -e " c-r1@" -e " c-rs@" -e " c-dns@")" = 0 ] ||
        fail "unexpected interfaces: $(ip -o link show)"
    ip route show default | grep -q "via 198.18.1.1 dev c-r1" || fail "default route"
    [ -z "$(ip -n r1 route show default)" ] || fail "r1 has a default route"
    [ "$(tr "\t" " " </proc/sys/net/ipv4/ping_group_range)" = "1 0" ] || fail "ping_group_range"
    ping -n -c 1 -W 2 198.18.3.2 >/dev/null || fail "target does not answer"
    hops=$(traceroute -I -n -q 1 -w 1 -m 4 198.18.3.2 | awk "NR > 1 { print \$2 }" | tr "\n" " ")
    [ "$hops" = "198.18.1.1 198.18.2.2 198.18.3.2 " ] || fail "route: $hops"
    # Left behind on purpose: the rig must end them.
    setsid ip netns exec rs sleep 86317 </dev/null >/dev/null 2>&1 &
    setsid sleep 86318 </dev/null >/dev/null 2>&1 &
    true
' || fail "the rig's inside is not as documented"

sleep_left=$(ps -eo args | grep -c -e "^sleep 86317" -e "^sleep 86318" || true)
[ "$sleep_left" = 0 ] || fail "processes started inside the rig outlived it"
grep -q tarnwick-rig /proc/self/mountinfo && fail "a rig mount is visible outside"
echo "rig self-test passed"
