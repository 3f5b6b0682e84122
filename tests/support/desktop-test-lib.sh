# Sourced by the desktop tests: skipping, the private network namespace to run
# the program in, and waiting on a condition.

# Skipped for a reason the run cannot help; in CI that is a failure.
skip() { echo "SKIP: $*"; [ "${CI:-}" = true ] && exit 1; exit 77; }

# A network namespace of the program's own (a user namespace too when not root).
if [ "$(id -u)" -eq 0 ]; then ns="unshare --net"; else ns="unshare --user --map-root-user --net"; fi
$ns true 2>/dev/null || skip "cannot create a private network namespace ($ns)"

# Waits up to $1 s for a command to succeed (polled every 50 ms).
wait_for() {
    limit=$(( $(date +%s%N) / 1000000 + $1 * 1000 ))
    shift
    while ! "$@" >/dev/null 2>&1; do
        [ $(( $(date +%s%N) / 1000000 )) -lt "$limit" ] || return 1
        sleep 0.05
    done
}
