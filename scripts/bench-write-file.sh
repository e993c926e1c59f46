#!/usr/bin/env bash
# Data-file benchmark: one 64 KiB file written into plcsim's file service over a line paced at
# 115200 8N1 with a 1 ms reply turnaround, three times; the median is reported.
set -euo pipefail
source "$(dirname "$0")/bench-common.sh"
W=$B/run-files
build_bench
rm -rf "$W" && mkdir -p "$W/flash"
head -c 65536 /dev/urandom >"$W/data.bin"
start_bench_sim "$W" --start core --files "$W/flash"

TIMEFORMAT='%R %U %S'
: >"$W/times"
for round in 1 2 3; do
    t=$( { time "$B/cli/plcflash-cli" write-file --port "$W/line" "$W/data.bin" >/dev/null 2>&1; } 2>&1 )
    echo "$t" >>"$W/times"
    cmp "$W/data.bin" "$W/flash/data.bin"
    sleep 0.3
done
echo "rounds (wall user sys):"
sed 's/^/  /' "$W/times"
sort -n "$W/times" | sed -n 2p | awk '{
    bytes = 65536
    ceiling = 128 / ((136 + 6) * 10 / 115200 + 0.001)    # bytes per second
    t = bytes / $1
    printf "ceiling (stop-and-wait, 136 bytes out + 6 back + 1 ms per 128): %.0f B/s\n", ceiling
    printf "write-file (median): %.2f s wall, %.0f B/s = %.1f %% of the ceiling, CPU %.2f s = %.2f %% of wall\n", $1, t, 100 * t / ceiling, $2 + $3, 100 * ($2 + $3) / $1
}'
