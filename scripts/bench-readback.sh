#!/usr/bin/env bash
# What the read-back check adds to a run of a 317: the whole run of the console tool (the
# images of bench-flash.sh, the sample's data files with a 40-byte identity file and a 4 KiB
# calibration file) against plcsim at 115200 8N1 with a 1 ms turnaround, RUNS times (3). The run
# log gives each phase its duration: the check's against the data files' and the whole run's,
# measured in the same run.
set -euo pipefail
source "$(dirname "$0")/bench-common.sh"
RUNS=${1:-3}
W=$B/run-readback
build_bench
rm -rf "$W" && mkdir -p "$W/install/system" "$W/install/data" "$W/flash"
head -c 32768 /dev/urandom >"$W/install/system/Floader.bin"
head -c 524288 /dev/urandom >"$W/install/system/Ethernet.bin"
cp "$ROOT"/scripts/sample/data/* "$W/install/data/"
head -c 4096 /dev/urandom >"$W/install/data/calib.inc"
cp "$ROOT/scripts/sample/plc.ini" "$W/install/"
start_bench_sim "$W" --request-ms 1000 --manual-ms 1500 --idle-ms 4000 --files "$W/flash"
for run in $(seq "$RUNS"); do
    # The controller leaves its file service for the boot loader after 4 s of quiet.
    [ "$run" = 1 ] || sleep 6
    rm -f "$W/run.log"
    start=$(date +%s.%N)
    "$B/cli/plcflash-cli" flash --port "$W/line" --dir "$W/install" --yes --log "$W/run.log" \
        >"$W/flash.log" 2>&1
    end=$(date +%s.%N)
    phase() { grep "^Этап $1:" "$W/run.log" | sed 's/.*: \([0-9.]*\) с.*/\1/'; }
    echo "$run $(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $(phase 'файлы data') $(phase 'проверка записи')"
done | awk '{
    printf "run %d: whole %.2f s, data files %.2f s, read-back %.2f s = %.1f %% of the run\n",
        $1, $2, $3, $4, 100 * $4 / $2
    whole += $2; data += $3; check += $4
} END {
    printf "mean of %d: read-back %.2f s added to a %.2f s run (%.1f %%), %.2f x the data files\n",
        NR, check / NR, whole / NR, 100 * check / whole, check / data
}'
