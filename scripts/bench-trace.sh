#!/usr/bin/env bash
# What the line trace costs a run: plcflash-cli flash --format --yes with the images of
# bench-flash.sh (32 KiB loader twice, 512 KiB kernel: more than the trace keeps, so it drops its
# oldest events all along) and ten data files of 2 to 20 KiB, against plcsim at 115200 8N1 with a
# 1 ms turnaround, ROUNDS (3) times without the trace and with --trace, alternating in one
# session. Reports each run's wall and CPU time and the ratios of the medians.
set -euo pipefail
source "$(dirname "$0")/bench-common.sh"
ROUNDS=${1:-3}
W=$B/run-trace
build_bench
bench_install "$W"
start_bench_sim "$W" --request-ms 300 --manual-ms 100 --bad-pages 2 --idle-ms 4000 \
    --files "$W/flash"

TIMEFORMAT='%R %U %S'
run() {  # run off|on: one flash, its times on standard output
    local trace=()
    [ "$1" = on ] && trace=(--trace "$W/run.trace")
    rm -f "$W/run.trace"
    local t
    t=$( { time "$B/cli/plcflash-cli" flash --port "$W/line" --dir "$W/install" --format --yes \
        "${trace[@]}" >"$W/flash.log" 2>&1; } 2>&1 )
    for f in "$W"/install/data/*; do cmp "$f" "$W/flash/$(basename "$f")"; done
    [ "$1" = off ] || grep -q 'порт закрыт' "$W/run.trace"
    echo "$1 $t"
}
for round in $(seq "$ROUNDS"); do
    for mode in off on; do
        # The controller leaves its file service for the boot loader after 4 s of quiet.
        [ "$round$mode" = 1off ] || sleep 6
        run $mode
    done
done | tee "$W/times" | awk '{ printf "%-3s wall %6.2f s, CPU %.2f s\n", $1, $2, $3 + $4 }'
awk '
function median(a, n,   i, j, t) {
    for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
{ n[$1]++; wall[$1, n[$1]] = $2; cpu[$1, n[$1]] = $3 + $4 }
END {
    for (m in n) { for (i = 1; i <= n[m]; ++i) { w[i] = wall[m, i]; c[i] = cpu[m, i] }
                   mw[m] = median(w, n[m]); mc[m] = median(c, n[m]) }
    printf "median wall: off %.2f s, on %.2f s, on/off %.4f\n", mw["off"], mw["on"], mw["on"] / mw["off"]
    printf "median CPU:  off %.2f s, on %.2f s (%+.2f s)\n", mc["off"], mc["on"], mc["on"] - mc["off"]
}' "$W/times"
echo "the last trace: $(wc -c <"$W/run.trace") bytes, $(grep -c '' "$W/run.trace") lines"
