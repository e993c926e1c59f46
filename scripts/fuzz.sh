#!/usr/bin/env bash
# Runs every fuzz target for SECONDS (default 10) from its corpus in build/fuzz/corpus.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_EACH=${1:-10}
cd "$ROOT/build/fuzz"
for target in fuzz_read_thread fuzz_identity_file fuzz_plc_ini; do
    mkdir -p "corpus/$target"
    echo "== $target, ${SECONDS_EACH} s"
    "./tests/fuzz/$target" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 \
        -print_final_stats=1 "corpus/$target" 2>&1 | grep -E 'stat::number_of_executed_runs|ERROR|SUMMARY|Done' || true
    # libFuzzer exits non-zero on a finding; the pipe above must not hide it.
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "$target found a failure" >&2; echo "fuzz: 0 passed, 1 failed"; exit 1; }
done
echo "fuzz: 3 passed, 0 failed"
