#!/bin/sh
# The measuring half of run.sh, run inside the test network and the X server.
# strace is attached after a warm-up to every thread of the subject and of its
# helper processes, and counts for SECONDS; the namespace's echo count over
# the same time is the divisor. strace slows every call down, so only the
# counts are figures here, not the times.
set -eu
seconds=$1
build=$2
[ "${TARNWICK_RIG:-}" = 1 ] || { echo "measure.sh: run me through run.sh" >&2; exit 2; }
work=$TARNWICK_RIG_SCRATCH/syscalls
mkdir -p "$work"
chmod 755 "$work"
. "$(dirname "$0")/../program-lib.sh"
trap 'stop_program; stop_companions' EXIT

# count NAME PID...: counts the calls of the processes given and their
# children for $seconds; prints one row.
count() {
    name=$1
    shift
    targets=
    for p in "$@"; do
        for c in $p $(children_of "$p"); do
            for t in /proc/"$c"/task/*; do targets="$targets -p ${t##*/}"; done
        done
    done
    e0=$(echoes_sent)
    # shellcheck disable=SC2086
    strace -f -c -o "$work/$name.strace" $targets 2>/dev/null &
    tracer=$!
    sleep "$seconds"
    kill -INT "$tracer"
    wait "$tracer" 2>/dev/null || true
    echoes=$(($(echoes_sent) - e0))
    # Columns: % time, seconds, usecs/call, calls, [errors,] syscall.
    calls=$(awk '$NF == "total" { print $4 }' "$work/$name.strace")
    top=$(awk 'NR > 2 && $NF != "total" && $1 !~ /^-/ { print $4, $NF }' "$work/$name.strace" |
        sort -rn | head -6 |
        awk -v e="$echoes" '{ printf "%s %.1f  ", $2, $1 / e }')
    printf '%-26s %7s %8s %9.1f   %s\n' "$name" "$echoes" "$calls" \
        "$(echo "$calls $echoes" | awk '{ print $2 ? $1 / $2 : 0 }')" "$top"
}

printf '%s s per subject, 5 hosts, Delay 1000, after a warm-up\n' "$seconds"
printf '%-26s %7s %8s %9s   %s\n' subject echoes calls "per echo" "most made (per echo)"
start_tray
install_program 1000
for path in raw datagram helper; do
    start_program "$path"
    sleep 8
    count "tarnwick $path, $(window_state)" "$bench_pid"
    stop_program
done
stop_companions

echo "1 0" >/proc/sys/net/ipv4/ping_group_range
# shellcheck disable=SC2086
fping -l -p 1000 $bench_hosts >"$work/fping.log" 2>&1 &
fping_pid=$!
sleep 3
count "fping -l -p 1000" "$fping_pid"
kill "$fping_pid"
wait "$fping_pid" 2>/dev/null || true
pids=
for h in $bench_hosts; do
    ping -n -i 1 "$h" >/dev/null 2>&1 &
    pids="$pids $!"
done
sleep 3
# shellcheck disable=SC2086
count "5 x ping -i 1" $pids
# shellcheck disable=SC2086
kill $pids
