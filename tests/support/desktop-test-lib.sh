# Sourced by the desktop tests, with $build and $test_name set: a work folder
# cleaned up on exit (every process in $app and $pids killed, the logs kept
# beside the screenshots), skipping, failing, the private network namespace to
# run the program in, and waiting on a condition.

art="$build/screenshots"
mkdir -p "$art"
work=$(mktemp -d "${TMPDIR:-/tmp}/$test_name.XXXXXX")
pids=""
app=""
cleanup() {
    # KILL: a program that hung on its way out must not hang the test too.
    for p in $app $pids; do kill -KILL "$p" 2>/dev/null || true; done
    for p in $app $pids; do wait "$p" 2>/dev/null || true; done
    cp "$work"/*.log "$art"/ 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
fail() { echo "FAIL: $*"; tail -20 "$work/app.log" 2>/dev/null; exit 1; }

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
