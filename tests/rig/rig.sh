#!/bin/sh
# rig.sh [--hosts FILE] COMMAND [ARGS...]
#
# Runs COMMAND inside a private test network and tears the network down
# afterwards. Nothing in it is connected to the machine's own network: every
# link is a veth pair between namespaces created here, so no packet of a test
# can ever reach a real host or a real name server.
#
# COMMAND runs as root in the "client" namespace, in private network, mount and
# PID namespaces. When it ends, every process started inside the rig is killed
# (the PID namespace goes with it) and the peer namespaces are deleted.
#
# Topology (also in rig_hosts.h):
#   client  lo up
#           c-r1  198.18.1.2/24, default route via 198.18.1.1
#           c-rs  198.18.10.1/24
#           c-dns 198.18.20.1/24
#           neighbour timers shortened on all three (mcast_solicit 1,
#           retrans 200 ms), so an unanswered ARP fails in about 200 ms.
#   r1      198.18.1.1 (r1-c) | 198.18.2.1 (r1-r2); forwarding, icmp_ratelimit 0;
#           routes 198.18.3.0/24 and 198.18.5.0/24 via r2, nothing else;
#           drops packets for 198.18.5.0/24 arriving with TTL 1 (that hop
#           never answers).
#   r2      198.18.2.2 (r2-r1) | 198.18.3.1 (r2-t) | 198.18.5.1 (r2-t5);
#           forwarding, icmp_ratelimit 0, default via r1; REJECTs
#           198.18.3.50 (icmp-host-unreachable), 198.18.3.51
#           (icmp-net-unreachable); DROPs 198.18.3.53.
#   tgt     198.18.3.2, answered by the kernel.
#   tgt5    198.18.5.2, answered by the kernel.
#   rs      198.18.10.2, kernel echo replies off: tests run our own responder
#           there (tests/rig/rig_responder, through RigResponder).
#   dns     198.18.20.2, UDP and TCP port 53 dropped: a name server that never
#           answers.
#
# Names: /etc/hosts, /etc/resolv.conf (nameserver 198.18.20.2, options
# timeout:1 attempts:1), /etc/host.conf and /etc/nsswitch.conf ("hosts: files
# dns") are private copies, so no lookup can reach a real resolver. --hosts FILE
# puts FILE in place of the rig's own hosts file (localhost and the rig names
# of rig_hosts.h). Inside the rig a test, being root in its own mount
# namespace, may also bind-mount another file over /etc/hosts.
#
# net.ipv4.ping_group_range stays at the kernel's "1 0" in the client (no one
# may open ICMP datagram sockets). A test that wants them writes
# "0 2147483647" to /proc/sys/net/ipv4/ping_group_range; that affects this
# rig's namespace only.
#
# Environment for COMMAND: TARNWICK_RIG=1; TARNWICK_RIG_SCRATCH, a directory on
# a private tmpfs (mode 755, not nosuid) that every user can reach.
#
# Exit status: COMMAND's. When the rig cannot be built (no root, no
# namespaces, no iptables) it exits 77 (skip), or 1 when CI=true.

set -eu

usage() {
    echo "usage: rig.sh [--hosts FILE] COMMAND [ARGS...]" >&2
    exit 2
}

unavailable() {
    echo "rig.sh: cannot build the test network: $*" >&2
    if [ "${CI:-}" = true ]; then
        exit 1
    fi
    exit 77
}

hosts_file=
while [ $# -gt 0 ]; do
    case $1 in
    --hosts)
        [ $# -ge 2 ] || usage
        hosts_file=$2
        shift 2
        ;;
    --)
        shift
        break
        ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || usage

self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

if [ "${TARNWICK_RIG_STAGE:-}" != inner ]; then
    [ "$(id -u)" -eq 0 ] || unavailable "it needs root"
    for tool in unshare ip iptables sysctl mount; do
        command -v "$tool" >/dev/null 2>&1 || unavailable "$tool is missing"
    done
    unshare --net --mount --pid --fork --kill-child true 2>/dev/null ||
        unavailable "unshare of network, mount and PID namespaces failed"
    if [ -n "$hosts_file" ]; then
        [ -r "$hosts_file" ] || { echo "rig.sh: cannot read $hosts_file" >&2; exit 2; }
        hosts_file=$(cd "$(dirname "$hosts_file")" && pwd)/$(basename "$hosts_file")
        set -- --hosts "$hosts_file" -- "$@"
    else
        set -- -- "$@"
    fi
    # The scratch directory is only a mount point: the rig mounts a private
    # tmpfs on it, so nothing written there outlives the rig.
    scratch=$(mktemp -d "/tmp/tarnwick-rig.XXXXXX")
    chmod 755 "$scratch"
    trap 'rmdir "$scratch" 2>/dev/null || true' EXIT
    trap 'exit 143' INT TERM
    rc=0
    TARNWICK_RIG_STAGE=inner TARNWICK_RIG_SCRATCH=$scratch \
        unshare --net --mount --pid --fork --kill-child --mount-proc \
        /bin/sh "$self" "$@" || rc=$?
    exit $rc
fi

# --- inside: PID 1 of the rig's PID namespace, in the client's network namespace ---

unset TARNWICK_RIG_STAGE
peers="r1 r2 tgt tgt5 rs dns"

setup_failed() {
    echo "rig.sh: setup failed: $*" >&2
    if [ "${CI:-}" = true ]; then
        exit 1
    fi
    exit 77
}

# Runs one setup step; any failure ends the rig (and, PID 1 leaving, every
# process in it).
q() {
    "$@" || setup_failed "$*"
}

# nsip NS ARGS: ip in namespace NS ("-" for the client).
nsip() {
    ns=$1
    shift
    if [ "$ns" = - ]; then q ip "$@"; else q ip -n "$ns" "$@"; fi
}

nsexec() {
    ns=$1
    shift
    if [ "$ns" = - ]; then q "$@"; else q ip netns exec "$ns" "$@"; fi
}

# link NS_A IF_A CIDR_A NS_B IF_B CIDR_B
link() {
    nsip "$1" link add name "$2" type veth peer name "$5" netns "$4"
    nsip "$1" addr add "$3" dev "$2"
    nsip "$4" addr add "$6" dev "$5"
    nsip "$1" link set "$2" up
    nsip "$4" link set "$5" up
}

q mount --make-rprivate /
q mkdir -p /run/netns
q mount -t tmpfs -o mode=755 tarnwick-rig-netns /run/netns
q mount -t tmpfs -o mode=755,size=64m tarnwick-rig "$TARNWICK_RIG_SCRATCH"

# Names: only our files, only our silent name server.
etc=$TARNWICK_RIG_SCRATCH/etc
q mkdir -p "$etc"
if [ -n "$hosts_file" ]; then
    q cp "$hosts_file" "$etc/hosts"
else
    cat >"$etc/hosts" <<'HOSTS'
127.0.0.1	localhost
198.18.1.2	client.tarnwick.test
198.18.1.1	r1.tarnwick.test
198.18.2.2	r2.tarnwick.test
198.18.3.2	target.tarnwick.test
198.18.5.2	target5.tarnwick.test
198.18.10.2	responder.tarnwick.test
198.18.20.2	dns.tarnwick.test
198.18.3.2	multi.tarnwick.test
198.18.10.2	multi.tarnwick.test
HOSTS
fi
printf 'nameserver 198.18.20.2\noptions timeout:1 attempts:1\n' >"$etc/resolv.conf"
printf 'multi on\n' >"$etc/host.conf"
if [ -r /etc/nsswitch.conf ]; then
    sed '/^hosts:/d' /etc/nsswitch.conf >"$etc/nsswitch.conf"
fi
printf 'hosts: files dns\n' >>"$etc/nsswitch.conf"
q chmod 644 "$etc/hosts" "$etc/resolv.conf" "$etc/host.conf" "$etc/nsswitch.conf"
for f in hosts resolv.conf host.conf nsswitch.conf; do
    [ -e "/etc/$f" ] || q touch "/etc/$f"
    q mount --bind "$etc/$f" "/etc/$f"
done
# A name service cache daemon would answer from outside the rig.
for d in /run/nscd /var/run/nscd; do
    if [ -d "$d" ]; then q mount -t tmpfs -o mode=755 tarnwick-rig-nscd "$d"; fi
done

for ns in $peers; do
    q ip netns add "$ns"
    nsip "$ns" link set lo up
done
nsip - link set lo up

link - c-r1 198.18.1.2/24 r1 r1-c 198.18.1.1/24
link r1 r1-r2 198.18.2.1/24 r2 r2-r1 198.18.2.2/24
link r2 r2-t 198.18.3.1/24 tgt t-r2 198.18.3.2/24
link r2 r2-t5 198.18.5.1/24 tgt5 t5-r2 198.18.5.2/24
link - c-rs 198.18.10.1/24 rs rs-c 198.18.10.2/24
link - c-dns 198.18.20.1/24 dns dns-c 198.18.20.2/24

nsip - route add default via 198.18.1.1
nsip r1 route add 198.18.3.0/24 via 198.18.2.2
nsip r1 route add 198.18.5.0/24 via 198.18.2.2
nsip r2 route add default via 198.18.2.1
nsip tgt route add default via 198.18.3.1
nsip tgt5 route add default via 198.18.5.1

# Less noise: no IPv6 on the peer hosts. The client keeps it, as a desktop
# would; with it getaddrinfo re-sorts IPv4 answers (multi.tarnwick.test), which
# lets tests tell the resolver's own order from a sorted one.
for ns in $peers; do
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 2>/dev/null || true
done

for r in r1 r2; do
    nsexec "$r" sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0
done
nsexec r1 iptables -t raw -A PREROUTING -d 198.18.5.0/24 -m ttl --ttl-eq 1 -j DROP
nsexec r2 iptables -A FORWARD -d 198.18.3.50 -j REJECT --reject-with icmp-host-unreachable
nsexec r2 iptables -A FORWARD -d 198.18.3.51 -j REJECT --reject-with icmp-net-unreachable
nsexec r2 iptables -A FORWARD -d 198.18.3.53 -j DROP
nsexec rs sysctl -qw net.ipv4.icmp_echo_ignore_all=1
nsexec dns iptables -A INPUT -p udp --dport 53 -j DROP
nsexec dns iptables -A INPUT -p tcp --dport 53 -j DROP
for dev in c-r1 c-rs c-dns; do
    nsexec - sysctl -qw "net.ipv4.neigh.$dev.mcast_solicit=1" "net.ipv4.neigh.$dev.retrans_time_ms=200"
done

export TARNWICK_RIG=1
rc=0
"$@" || rc=$?

# Everything the command left behind, in any namespace of the rig, then the
# namespaces themselves.
kill -KILL -1 2>/dev/null || true
for ns in $peers; do
    ip netns del "$ns" 2>/dev/null || true
done
exit $rc
