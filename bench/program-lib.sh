# Sourced by the benchmarks that run the real program inside the private test
# network (tests/rig/rig.sh, as root) under an X server of their own: a copy of
# the program with a data folder of its own and the helper beside it granted
# its capability, a home for uid 65534, a notification area, and readings from
# /proc. Needs $build (the build folder) and $work (a scratch folder every
# user can reach) set.

# The rig's five hosts: two targets and three router addresses.
bench_hosts="198.18.3.2 198.18.1.1 198.18.2.2 198.18.5.2 198.18.3.1"
bench_pid=
bench_companions=

# install_program DELAY: copies the program into $work/prog, hosts and Delay set.
install_program() {
    prog=$work/prog
    rm -rf "$prog"
    mkdir -p "$prog/data" "$prog/home" "$prog/config/Orlvane" "$prog/runtime" "$prog/tmp"
    chmod 700 "$prog/runtime" "$prog/tmp"
    cp "$build/tarnwick" "$build/tarnwick-icmp-helper" "$prog/"
    setcap cap_net_raw+ep "$prog/tarnwick-icmp-helper"
    : >"$prog/data/domains.cfg"
    for h in $bench_hosts; do printf '%s\r\n' "$h" >>"$prog/data/domains.cfg"; done
    # Delay, no autostart entry, time-out 2000, 32 bytes; not a first run.
    printf '%s\r\n0\r\n2000\r\n32\r\n' "$1" >"$prog/data/config.cfg"
    printf '[General]\nfr=1\n' >"$prog/config/Orlvane/Orlvane_Tarnwick.ini"
    chown -R 65534:65534 "$prog/data" "$prog/home" "$prog/config" "$prog/runtime" "$prog/tmp"
}

# start_tray: a window manager and a notification area (trayer) on the display.
start_tray() {
    openbox >"$work/openbox.log" 2>&1 &
    bench_companions="$bench_companions $!"
    sleep 0.5
    trayer --edge bottom --align right --widthtype pixel --width 64 \
        --heighttype pixel --height 24 >"$work/trayer.log" 2>&1 &
    bench_companions="$bench_companions $!"
    # Until the area has taken its selection.
    i=0
    while ! xdotool search --name '^panel$' >/dev/null 2>&1 && [ $i -lt 100 ]; do
        sleep 0.05
        i=$((i + 1))
    done
}

# start_program PATH: PATH is raw (root, raw socket in the process), datagram
# (uid 65534, ICMP datagram sockets allowed) or helper (uid 65534, datagram
# sockets refused, so the helper beside the program sends).
start_program() {
    case $1 in
    raw) echo "1 0" >/proc/sys/net/ipv4/ping_group_range; as= ;;
    datagram) echo "0 2147483647" >/proc/sys/net/ipv4/ping_group_range
        as="setpriv --reuid=65534 --regid=65534 --clear-groups" ;;
    helper) echo "1 0" >/proc/sys/net/ipv4/ping_group_range
        as="setpriv --reuid=65534 --regid=65534 --clear-groups" ;;
    *) echo "unknown path $1" >&2; return 1 ;;
    esac
    # A temporary folder of its own: the benchmark's is not the user's to write.
    HOME=$prog/home XDG_CONFIG_HOME=$prog/config XDG_RUNTIME_DIR=$prog/runtime \
        TMPDIR=$prog/tmp QT_QPA_PLATFORM=xcb $as "$prog/tarnwick" >"$work/program-$1.log" 2>&1 &
    bench_pid=$!
    # setpriv execs the program, so the pid is the program's.
}

stop_program() {
    [ -n "$bench_pid" ] || return 0
    kill -TERM "$bench_pid" 2>/dev/null || true
    wait "$bench_pid" 2>/dev/null || true
    bench_pid=
}

stop_companions() {
    for p in $bench_companions; do kill -TERM "$p" 2>/dev/null || true; done
    for p in $bench_companions; do wait "$p" 2>/dev/null || true; done
    bench_companions=
}

window_state() {
    if xdotool search --onlyvisible --name '^Orlvane Auto Tarnwick' >/dev/null 2>&1; then
        echo shown
    else
        echo hidden
    fi
}

# Echo requests this network namespace has sent (Icmp OutEchos).
echoes_sent() {
    awk '/^Icmp:/ { if (!h) { for (i = 1; i <= NF; i++) if ($i == "OutEchos") c = i; h = 1 }
                    else { print $c; exit } }' /proc/net/snmp
}

# Processes whose parent is $1.
children_of() {
    for s in /proc/[0-9]*/stat; do
        awk -v p="$1" '{ sub(/.*\) /, ""); if ($2 == p) print FILENAME }' "$s" 2>/dev/null
    done | sed 's|/proc/||; s|/stat||'
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
fd_count() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
thread_count() { awk '/^Threads:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
