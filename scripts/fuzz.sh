#!/usr/bin/env bash
# Runs every fuzz target for SECONDS (default 10) from its corpus in the fuzz build's
# corpus/<target>, seeded from tests/fuzz/corpus/<target>. FUZZ_BUILD names another fuzz build
# folder (default build/fuzz), FUZZ_TARGETS a part of the targets (default all).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_EACH=${1:-10}
cd "${FUZZ_BUILD:-$ROOT/build/fuzz}"
read -r -a TARGETS <<<"${FUZZ_TARGETS:-fuzz_read_thread fuzz_xmodem_send fuzz_write_file \
    fuzz_console fuzz_identity_file fuzz_plc_ini fuzz_sha256sums}"
for target in "${TARGETS[@]}"; do
    mkdir -p "corpus/$target"
    seeds=()
    [ -d "$ROOT/tests/fuzz/corpus/$target" ] && seeds=("$ROOT/tests/fuzz/corpus/$target")
    echo "== $target, ${SECONDS_EACH} s"
    # An input that runs 10 s is a wait that does not end: a finding, not a slow case.
    set +e
    "./tests/fuzz/$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "corpus/$target" "${seeds[@]}" 2>&1 |
        grep -E 'DONE|stat::(number_of_executed_units|average_exec_per_sec)|invariant|ERROR|SUMMARY|Test unit written'
    # libFuzzer exits non-zero on a finding.
    status=${PIPESTATUS[0]}
    set -e
    [ "$status" -eq 0 ] || { echo "$target found a failure" >&2; echo "fuzz: 0 passed, 1 failed"; exit 1; }
done
echo "fuzz: ${#TARGETS[@]} passed, 0 failed"
