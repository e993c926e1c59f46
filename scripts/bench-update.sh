#!/usr/bin/env bash
# plcflash-cli update of 1, 4 and 8 simulated controllers at once, measured side by side in one
# run: the sample installation's images and data files, each controller a plcsim at 115200 8N1
# with a 1 ms turnaround, read in its running kernel and restarting in its boot loader a second
# later. Reports the wall time of each against one controller, and the tool's CPU time and
# peak memory (GNU time); then one controller with the line trace on against off, alternated.
# Every controller must end holding its own identity file.
set -euo pipefail
source "$(dirname "$0")/bench-common.sh"
W=$B/run-update
build_bench
SIMS=()
trap 'kill "${SIMS[@]}" 2>/dev/null || true' EXIT

# bench N [update options...]: N controllers updated at once; prints "wall user sys maxrss".
bench() {
    local n=$1 i ports=()
    shift
    rm -rf "$W" && mkdir -p "$W" && cp -r "$ROOT/scripts/sample" "$W/install"
    rm -f "$W/install/data/local_addres.dat"
    SIMS=()
    for i in $(seq 1 "$n"); do
        mkdir -p "$W/c$i"
        printf 'EMAC=00:0A:3C:12:35:%02X\r\nIP=C0:A8:01:%02X\r\n' "$i" "$i" >"$W/c$i/local_addres.dat"
        printf 'calibration %d\r\n' "$i" >"$W/c$i/calib.inc"
        "$B/sim/plcsim" --link "$W/l$i" --turnaround-us 1000 --request-ms 300 --manual-ms 100 \
            --start core --then loader --then-ms 1000 --files "$W/c$i" >"$W/sim$i.log" 2>&1 &
        SIMS+=($!)
        ports+=(--port "$W/l$i")
    done
    for i in $(seq 1 "$n"); do
        for _ in $(seq 100); do [ -e "$W/l$i" ] && break; sleep 0.05; done
    done
    /usr/bin/time -f '%e %U %S %M' -o "$W/time" "$B/cli/plcflash-cli" update "${ports[@]}" \
        --dir "$W/install" --yes --record "$W/history.csv" "$@" </dev/null >"$W/update.log" 2>&1
    kill "${SIMS[@]}" 2>/dev/null || true
    wait "${SIMS[@]}" 2>/dev/null || true
    for i in $(seq 1 "$n"); do
        if grep -q 'plcsim: protocol error' "$W/sim$i.log"; then
            echo "benchmark void: controller $i counted protocol errors" >&2
            exit 1
        fi
        grep -q "EMAC=00:0A:3C:12:35:$(printf %02X "$i")" "$W/c$i/local_addres.dat"
    done
    # A run that failed measures nothing.
    if ! grep -q "^$n port(s): 0 running, $n succeeded, 0 failed" "$W/update.log"; then
        tail -n 5 "$W/update.log" >&2
        echo "benchmark void: not every controller was updated" >&2
        exit 1
    fi
    tail -n 1 "$W/time"
}

one=$(bench 1)
four=$(bench 4)
eight=$(bench 8)
awk -v one="$one" -v four="$four" -v eight="$eight" 'BEGIN {
    split(one, a); split(four, b); split(eight, c)
    printf "%-26s %8s %8s %10s %10s\n", "controllers at once", "wall s", "x one", "CPU s", "peak RSS"
    printf "%-26s %8.2f %8.3f %10.2f %7d KiB\n", "1", a[1], 1, a[2] + a[3], a[4]
    printf "%-26s %8.2f %8.3f %10.2f %7d KiB\n", "4", b[1], b[1] / a[1], b[2] + b[3], b[4]
    printf "%-26s %8.2f %8.3f %10.2f %7d KiB\n", "8", c[1], c[1] / a[1], c[2] + c[3], c[4]
}'

# The trace's cost: one controller, trace off and on, alternated three times each.
if "$B/cli/plcflash-cli" --help | grep -q -- '--trace'; then
    off=0 on=0
    for _ in 1 2 3; do
        off=$(awk -v s="$off" -v t="$(bench 1 | cut -d' ' -f1)" 'BEGIN { print s + t }')
        on=$(awk -v s="$on" -v t="$(bench 1 --trace "$B/run-update-trace.txt" | cut -d' ' -f1)" 'BEGIN { print s + t }')
    done
    awk -v off="$off" -v on="$on" 'BEGIN {
        printf "trace off: %.2f s, on: %.2f s a run (3 each) = %.3f x\n", off / 3, on / 3, on / off
    }'
fi
