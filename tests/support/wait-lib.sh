# Sourced by the shell tests: waiting on a condition instead of a fixed sleep.

# Waits up to $1 s for a command to succeed (polled every 50 ms). Gives up at
# once when the process that $watch names, if any, has ended: the condition
# can no longer come.
wait_for() {
    limit=$(( $(date +%s%N) / 1000000 + $1 * 1000 ))
    shift
    while ! "$@" >/dev/null 2>&1; do
        [ $(( $(date +%s%N) / 1000000 )) -lt "$limit" ] || return 1
        [ -z "${watch:-}" ] || kill -0 "$watch" 2>/dev/null || return 1
        sleep 0.05
    done
}
