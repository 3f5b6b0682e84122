#!/bin/sh
# The measuring half of run.sh, run inside the test network and the X server.
set -eu
build=$1
shift
[ $# -gt 0 ] || set -- 10000 30000 1000000
limit_s=${STARTUP_LIMIT_S:-120}
work=$(mktemp -d "${TMPDIR:-/tmp}/startup.XXXXXX")
pid=
cleanup() {
    if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
cp "$build/tarnwick" "$build/tarnwick-icmp-helper" "$work/"
mkdir -p "$work/data"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# CPU time of the program so far, in clock ticks: a busy machine lengthens
# the wall time, not this.
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)

# Sets shown to the milliseconds until the window is mapped, or "none".
start_and_wait() {
    t0=$(now_ms)
    "$work/tarnwick" >"$work/log" 2>&1 &
    pid=$!
    while :; do
        if xdotool search --onlyvisible --name '^Orlvane Auto Tarnwick' >/dev/null 2>&1; then
            shown=$(($(now_ms) - t0))
            cpu=$(($(ticks) * 1000 / hz))
            return
        fi
        if [ $(($(now_ms) - t0)) -gt $((limit_s * 1000)) ] || ! kill -0 "$pid" 2>/dev/null; then
            shown=none
            cpu=-
            return
        fi
        sleep 0.02
    done
}

stop() {
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
}

# Each count twice: as a first run (the window shows as soon as the main
# window is made) and as a later start, which waits up to 1.5 s for a
# notification area before it shows the window (there is none here). A first
# run with an empty list stores the marker that later starts find.
later=$work/later-config
first=$work/first-config
export BROWSER=true # what the first run opens
: >"$work/data/domains.cfg"
XDG_CONFIG_HOME=$later start_and_wait
stop
[ "$shown" != none ] || { echo "the program did not start:" >&2; cat "$work/log" >&2; exit 1; }

echo "lines    first run          later start   (ms from launch until the window is on screen,"
echo "         window   cpu       window   cpu   none after ${limit_s} s; cpu: its CPU time by then)"
for lines in "$@"; do
    # The rig's kernel-answered target: no name lookups, nothing leaves the rig.
    yes 198.18.3.2 | head -n "$lines" | sed 's/$/\r/' >"$work/data/domains.cfg"
    rm -rf "$first"
    XDG_CONFIG_HOME=$first start_and_wait
    stop
    row=$(printf '%-8s %-8s %-9s' "$lines" "$shown" "$cpu")
    XDG_CONFIG_HOME=$later start_and_wait
    stop
    printf '%s %-8s %s\n' "$row" "$shown" "$cpu"
done

# One line of 100 MB: the window, then the memory and the CPU it holds while
# monitoring runs (its slot pings that line once a second).
head -c 100000000 /dev/zero | tr '\0' a >"$work/data/domains.cfg"
XDG_CONFIG_HOME=$later start_and_wait
# Past the start-up: the workers run from 2 s on.
sleep 10
c0=$(ticks)
sleep 10
c1=$(ticks)
rss=$(awk '/^VmRSS/ { print int($2 / 1024) }' "/proc/$pid/status")
echo "one 100 MB line (later start): window $shown ms, cpu $cpu ms; then RSS ${rss} MB and" \
    "$(((c1 - c0) * 100 / hz / 10)) % of a core over 10 s"
stop
