#!/bin/sh
# The measuring half of run.sh, run inside the test network and the X server.
set -eu
minutes=$1
build=$2
shift 2
[ $# -gt 0 ] || set -- datagram helper raw
[ "${TARNWICK_RIG:-}" = 1 ] || { echo "measure.sh: run me through run.sh" >&2; exit 2; }
work=$TARNWICK_RIG_SCRATCH/soak
mkdir -p "$work"
chmod 755 "$work"
. "$(dirname "$0")/../program-lib.sh"
trap 'stop_program; stop_companions' EXIT

# The default Delay, the five hosts, a week: the lines a week adds.
week_lines=$((5 * 7 * 86400))
# Past the start-up: the workers start at 2 s, the first helpers with them.
warmup_s=15

start_tray
for path in "$@"; do
    install_program 200
    start_program "$path"
    sleep "$warmup_s"
    echo "tarnwick $path path, window $(window_state), Delay 200, 5 hosts, $minutes min" \
        "after a ${warmup_s} s warm-up"
    printf "%5s %9s %9s %12s %4s %8s %8s\n" min lines "rss kB" "helpers (rss)" fds threads "B/line"
    e0=$(echoes_sent)
    rss0=$(rss_kb "$bench_pid")
    half=$((minutes / 2))
    rssh=$rss0
    linesh=0
    m=0
    while :; do
        helpers=$(children_of "$bench_pid")
        count=$(echo "$helpers" | grep -c . || true)
        hrss=0
        for h in $helpers; do hrss=$((hrss + $(rss_kb "$h"))); done
        lines=$(($(echoes_sent) - e0))
        rss=$(rss_kb "$bench_pid")
        per=$(echo "$rss $rss0 $lines" | awk '{ print $3 ? int(($1 - $2) * 1024 / $3) : "-" }')
        printf '%5s %9s %9s %4s %4s kB %4s %8s %8s\n' "$m" "$lines" "$rss" "$count" "$hrss" \
            "$(fd_count "$bench_pid")" "$(thread_count "$bench_pid")" "$per"
        if [ "$m" -eq "$half" ]; then
            rssh=$rss
            linesh=$lines
        fi
        [ "$m" -lt "$minutes" ] || break
        sleep 60
        m=$((m + 1))
    done
    # The first minutes hold one-off growth (caches, allocator arenas, the
    # blocks a log keeps in memory): the second half shows what each line adds
    # for good, and the week is projected from it.
    echo "$rss0 $rss $lines $rssh $linesh $week_lines" | awk '{
        whole = $3 ? ($2 - $1) * 1024 / $3 : 0
        late = ($3 > $5) ? ($2 - $4) * 1024 / ($3 - $5) : whole
        printf "RSS per logged line %.1f B over the run, %.1f B over its second half;\n", whole, late
        printf "after 7 days at Delay 1000 (%d lines): %.0f MB from the second half, %.0f MB from the whole run\n",
               $6, ($2 * 1024 + late * ($6 - $3)) / 1048576, ($1 * 1024 + whole * $6) / 1048576 }'
    stop_program
    echo
done
