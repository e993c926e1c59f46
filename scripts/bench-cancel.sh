#!/usr/bin/env bash
# How fast a stop takes effect: Cancel on the progress page to the welcome page in each phase
# where the program waits for the controller (the assistant under Wine, the end-to-end Cancel
# cases, RUNS times, median), and Ctrl-C to exit for the console tool during an upload.
# Run after `make windows native`.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${1:-3}
OUT=$ROOT/build/bench/cancel
rm -rf "$OUT" && mkdir -p "$OUT"
for run in $(seq "$RUNS"); do
    E2E_CANCEL_TIMES_UNIX=$OUT/times.txt GTEST_FILTER='Phases/CancelInPhase.*' \
        bash "$ROOT/scripts/wine-tests.sh" -R 'e2e\.CancelInPhase' >"$OUT/run$run.log" 2>&1 ||
        { echo "run $run failed: $OUT/run$run.log"; exit 1; }
done
echo "Cancel to the welcome page (ms), median of $RUNS:"
sort -t$'\t' -k1,1 -k2,2n "$OUT/times.txt" | awk -F'\t' '
    { v[$1] = v[$1] " " $2; n[$1]++ }
    END { for (k in v) { split(substr(v[k], 2), a, " "); printf "  %-40s %s  (runs: %s)\n", k, a[int((n[k] + 1) / 2)], substr(v[k], 2) } }'

# The console tool: Ctrl-C during an upload to its exit.
SIM=$ROOT/build/native/sim/plcsim
CLI=$ROOT/build/native/cli/plcflash-cli
head -c 200000 /dev/urandom >"$OUT/big.bin"
echo "Ctrl-C to exit of plcflash-cli during an upload (ms):"
for run in $(seq "$RUNS"); do
    "$SIM" --link "$OUT/line" --receive --request-ms 50 --idle-ms 3000 >/dev/null 2>&1 &
    sim=$!
    for _ in $(seq 100); do [ -e "$OUT/line" ] && break; sleep 0.05; done
    "$CLI" send-image --port "$OUT/line" "$OUT/big.bin" >/dev/null 2>&1 &
    cli=$!
    sleep 2
    start=$(date +%s%N)
    kill -INT $cli
    wait $cli || true
    end=$(date +%s%N)
    echo "  run $run: $(((end - start) / 1000000))"
    kill $sim
    status=0
    wait $sim 2>/dev/null || status=$?
    if [ $status -eq 3 ]; then
        echo "benchmark void: the controller counted protocol errors" >&2
        exit 1
    fi
done
