#!/usr/bin/env bash
# The assistant's good run (the demo's, driven through the window under Xvfb): the flashing part
# from the progress page to the result page against the line time plcsim counted and the run's
# fixed pauses; plcflash.exe's peak working set and CPU time over the whole run; its size.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUN=$ROOT/build/run
# Wine's GetProcessTimes counts more than the process's own threads (about twice what Linux
# counts for it), so the CPU figures come from /proc: the program's user and system ticks,
# sampled every 100 ms with the time, for the whole life of the process.
SAMPLES=$RUN/demo-cpu-samples.txt
: >"$SAMPLES"
CI=1 bash "$ROOT/scripts/demo.sh" >/dev/null &
demo=$!
tick=$(getconf CLK_TCK)
pid=
while kill -0 $demo 2>/dev/null && [ -z "$pid" ]; do
    pid=$(pgrep -f 'demo-e2e.*plcflash\.exe' | head -n1 || true)
    sleep 0.1
done
# /proc read with builtins: the sampling takes little from the run it measures.
while [ -n "$pid" ] && read -r -a stat <"/proc/$pid/stat" 2>/dev/null; do
    printf '%s %s\n' "$EPOCHREALTIME" $((stat[13] + stat[14])) >>"$SAMPLES"
    sleep 0.1
done
wait $demo
REQUEST_MS=300  # as scripts/demo.sh starts plcsim without a display
MANUAL_MS=100
figures=$(tr '\n' ' ' <"$RUN/demo-figures.txt")
# CPU seconds at the flashing's start and end, and over the whole process.
read -r start_unix end_unix < <(awk '/flash_start_unix/ {s = $2} /flash_end_unix/ {e = $2} END {print s, e}' "$RUN/demo-figures.txt")
proc=$(awk -v s="$start_unix" -v e="$end_unix" -v tick="$tick" '
    NR == 1 { t0 = $1 } { t = $1; c = $2 / tick; if (t <= s) cs = c; if (t <= e) ce = c; last = c; tl = t }
    END { printf "proc_flash_cpu %.3f proc_cpu %.3f proc_wall %.3f", ce - cs, last, tl - t0 }' "$SAMPLES")
figures="$figures $proc"
# Line counters at the end of the reading (the kernel left for the boot loader) and at the last
# data file.
before=$(grep ' done core ' "$RUN/demo-controller.log" | head -n1 | sed 's/.*\[line //; s/\]//')
after=$(grep ' file ' "$RUN/demo-controller.log" | tail -n1 | sed 's/.*\[line //; s/\]//')
size=$(stat -c %s "$ROOT/build/windows/plcflash.exe")
echo "plcflash.exe: $figures size_bytes $size"
echo "controller line: before the run $before; after it $after"
echo "$figures | $before | $after" | awk -v request=$REQUEST_MS -v manual=$MANUAL_MS -v size="$size" '
BEGIN { FS = "|" }
{
    n = split($1, f, " "); for (i = 1; i < n; i += 2) fig[f[i]] = f[i + 1]
    split($2, b, " "); for (i in b) { split(b[i], kv, "="); v0[kv[1]] = kv[2] }
    split($3, a, " "); for (i in a) { split(a[i], kv, "="); v1[kv[1]] = kv[2] }
    byte = 10 / 115200
    line = (v1["in"] - v0["in"] + v1["out"] - v0["out"]) * byte + (v1["replies"] - v0["replies"]) * 0.001
    # Three "C" requests awaited before each of the three uploads, the engineer'"'"'s three
    # manual steps in the controller, the 3 s the engine lets the new kernel settle.
    fixed = 3 * 3 * request / 1000 + 3 * manual / 1000 + 3
    flash = fig["flash_seconds"]
    printf "flashing %.2f s = line %.2f s + fixed pauses %.2f s + added %.2f s\n", flash, line, fixed, flash - line - fixed
    printf "CPU while flashing %.2f s = %.2f %% of %.2f s (GetProcessTimes says %.2f s)\n", fig["proc_flash_cpu"], 100 * fig["proc_flash_cpu"] / flash, flash, fig["flash_cpu_seconds"]
    printf "CPU over the whole run %.2f s over %.2f s = %.2f %%, Wine start-up included (GetProcessTimes says %.2f s)\n", fig["proc_cpu"], fig["proc_wall"], 100 * fig["proc_cpu"] / fig["proc_wall"], fig["cpu_seconds"]
    printf "peak working set %.1f MiB; executable %.2f MiB\n", fig["peak_working_set_bytes"] / 1048576, size / 1048576
}'
