#!/usr/bin/env bash
# Image upload benchmark: a 256 KiB image to plcsim's receiver over a line paced at 115200 8N1
# with a 1 ms reply turnaround, sent by plcflash-cli and by lrzsz's sx in the same run.
set -euo pipefail
source "$(dirname "$0")/bench-common.sh"
W=$B/run
build_bench
rm -rf "$W" && mkdir -p "$W/images"
head -c 262144 /dev/urandom >"$W/image.bin"
# A request every second, as boot loaders ask: faster requests pile up, and sx answers each
# queued "C" with another copy of block 1, then runs ahead on the extra ACKs.
start_bench_sim "$W" --receive --request-ms 1000 --images "$W/images"

TIMEFORMAT='%R %U %S'
# Three rounds, the two senders alternating, so that both meet the same load on a shared
# machine; the medians are reported.
: >"$W/times"
for round in 1 2 3; do
    t=$( { time "$B/cli/plcflash-cli" send-image --port "$W/line" "$W/image.bin" >/dev/null 2>&1; } 2>&1 )
    echo "ours $t" >>"$W/times"
    sleep 0.5
    t=$( { time sx -X -q "$W/image.bin" <"$W/line" >"$W/line" 2>/dev/null; } 2>&1 )
    echo "sx $t" >>"$W/times"
    sleep 0.5
done
median() {  # sender: "wall cpu" of the round with the median wall time
    grep "^$1 " "$W/times" | awk '{print $2, $3 + $4}' | sort -n | sed -n 2p
}
ours=$(median ours)
theirs=$(median sx)

for f in "$W"/images/*.bin; do
    cmp -n 262144 "$W/image.bin" "$f" >/dev/null || { echo "image $f differs" >&2; exit 1; }
done

echo "rounds (sender wall user sys):"
sed 's/^/  /' "$W/times"
awk -v ours="$ours" -v theirs="$theirs" 'BEGIN {
    bytes = 262144
    ceiling = 128 / (134 * 10 / 115200 + 0.001)          # bytes per second
    split(ours, o, " "); split(theirs, s, " ")
    ot = bytes / o[1]; st = bytes / s[1]
    printf "ceiling (stop-and-wait, 134 byte times + 1 ms): %.0f B/s\n", ceiling
    printf "plcflash-cli (median): %.2f s wall, %.0f B/s = %.1f %% of the ceiling, CPU %.2f s = %.2f %% of wall\n", o[1], ot, 100 * ot / ceiling, o[2], 100 * o[2] / o[1]
    printf "sx (median):           %.2f s wall, %.0f B/s = %.1f %% of the ceiling, CPU %.2f s = %.2f %% of wall\n", s[1], st, 100 * st / ceiling, s[2], 100 * s[2] / s[1]
    printf "plcflash-cli / sx throughput: %.3f\n", ot / st
}'
