#!/usr/bin/env bash
# Two copies of the program flashing two controllers at once from one installation folder,
# against the same two runs one after the other, measured side by side in one run: 32 KiB
# loader (twice), 128 KiB kernel, ten data files of 2 to 20 KiB, each controller a plcsim at
# 115200 8N1 with a 1 ms turnaround. Reports both wall times and their ratio; every controller
# must hold exactly the data files.
set -euo pipefail
source "$(dirname "$0")/bench-common.sh"
W=$B/run-parallel
build_bench
rm -rf "$W" && mkdir -p "$W/install/system" "$W/install/data"
head -c 32768 /dev/urandom >"$W/install/system/Floader.bin"
head -c 131072 /dev/urandom >"$W/install/system/Ethernet.bin"
for i in $(seq 1 10); do head -c $((i * 2048)) /dev/urandom >"$W/install/data/file$i.bin"; done

SIMS=()
start_sim() {
    local name=$1
    rm -rf "${W:?}/$name" && mkdir -p "$W/$name/flash"
    "$B/sim/plcsim" --link "$W/$name/line" --turnaround-us 1000 --request-ms 1000 \
        --manual-ms 1500 --once --files "$W/$name/flash" >"$W/$name/plcsim.log" 2>&1 &
    SIMS+=($!)
    for _ in $(seq 100); do [ -e "$W/$name/line" ] && break; sleep 0.05; done
}
flash() {
    "$B/cli/plcflash-cli" flash --port "$W/$1/line" --dir "$W/install" --yes >"$W/$1/flash.log" 2>&1
}
check() {
    for name in "$@"; do
        grep -q 'plcsim: protocol error' "$W/$name/plcsim.log" && {
            grep 'plcsim: protocol error' "$W/$name/plcsim.log" | head -n 5 >&2
            echo "benchmark void: $name counted protocol errors" >&2
            exit 1
        }
        for f in "$W"/install/data/*; do cmp "$f" "$W/$name/flash/$(basename "$f")"; done
    done
}
trap 'kill "${SIMS[@]}" 2>/dev/null || true' EXIT
now() { date +%s.%N; }

start_sim seq-a
start_sim seq-b
t0=$(now)
flash seq-a
flash seq-b
t1=$(now)
check seq-a seq-b

start_sim par-a
start_sim par-b
t2=$(now)
flash par-a &
a=$!
flash par-b &
b=$!
wait "$a"
wait "$b"
t3=$(now)
check par-a par-b

awk -v t0="$t0" -v t1="$t1" -v t2="$t2" -v t3="$t3" 'BEGIN {
    s = t1 - t0; p = t3 - t2
    printf "one after the other: %.2f s (%.2f s each)\n", s, s / 2
    printf "two at once: %.2f s = %.3f x one run\n", p, p / (s / 2)
}'
