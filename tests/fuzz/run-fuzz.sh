#!/bin/sh
# run-fuzz.sh TARGET SEEDS SECONDS: fuzzes TARGET for SECONDS on a fresh corpus
# grown from SEEDS (which stay as they are). An input that makes it fail is
# kept beside TARGET as crash-<hash> (or leak-, timeout-), to be added to
# SEEDS once the fault is fixed.
set -eu
target=$1
seeds=$2
seconds=$3
corpus=$(mktemp -d "${TMPDIR:-/tmp}/corpus.XXXXXX")
# Exit status 1 for a finding: libFuzzer's own 77 would read as a skip.
exec "$target" -max_total_time="$seconds" -timeout=10 -error_exitcode=1 -timeout_exitcode=1 \
    -print_final_stats=1 \
    -artifact_prefix="$(dirname "$target")/" "$corpus" "$seeds"
