#!/usr/bin/env bash
# A whole reflashing run: 32 KiB loader (twice), 512 KiB kernel, ten data files of 1 to 20 KiB,
# with formatting, against plcsim paced at 115200 8N1 with a 1 ms turnaround. Reports the wall
# time less the line time (counted by plcsim) and the run's fixed pauses, and the CPU share.
set -euo pipefail
source "$(dirname "$0")/bench-common.sh"
W=$B/run-flash
build_bench
bench_install "$W"
REQUEST_MS=1000
MANUAL_MS=1500
start_bench_sim "$W" --request-ms $REQUEST_MS --manual-ms $MANUAL_MS --bad-pages 2 \
    --files "$W/flash" --log "$W/controller.log"

TIMEFORMAT='%R %U %S'
t=$( { time "$B/cli/plcflash-cli" flash --port "$W/line" --dir "$W/install" --format --yes \
    >"$W/flash.log" 2>&1; } 2>&1 )
for f in "$W"/install/data/*; do cmp "$f" "$W/flash/$(basename "$f")"; done
stats=$(grep ' file file' "$W/controller.log" | tail -n1 | sed 's/.*\[line //; s/\]//')
echo "run: $t (wall user sys); controller: $stats"
echo "$t $stats" | awk -v request=$REQUEST_MS -v manual=$MANUAL_MS '{
    wall = $1; cpu = $2 + $3
    for (i = 4; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
    byte = 10 / 115200
    line = (v["in"] + v["out"]) * byte + v["replies"] * 0.001
    # The controller asks three times ("CCC") before each of the three uploads, the engineer
    # takes the two manual steps and the power cycle, the engine settles 3 s after the kernel
    # starts.
    fixed = 3 * 3 * request / 1000 + 3 * manual / 1000 + 3
    printf "line time %.2f s, fixed pauses %.2f s, wall %.2f s\n", line, fixed, wall
    printf "overhead (wall - line - pauses): %.2f s; CPU %.2f s = %.2f %% of wall\n", wall - line - fixed, cpu, 100 * cpu / wall
}'
