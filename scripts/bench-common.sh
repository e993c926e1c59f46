# Shared by the benchmark scripts: a build without sanitizers and a simulated controller.
# Sourced, not run; sets ROOT, B (the build) and starts plcsim on $W/line with the given options.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
B=$ROOT/build/bench

build_bench() {
    cmake -S "$ROOT" -B "$B" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$B" -j"$(nproc)" --target plcflash-cli plcsim >/dev/null
}

# A figure measured against a controller that refused part of the run measures nothing.
end_bench_sim() {
    kill "$BENCH_SIM" 2>/dev/null || true
    if grep -q 'plcsim: protocol error' "$BENCH_SIM_LOG" 2>/dev/null; then
        grep 'plcsim: protocol error' "$BENCH_SIM_LOG" | head -n 5 >&2
        echo "benchmark void: the controller counted protocol errors" >&2
        exit 1
    fi
}

# start_bench_sim FOLDER [plcsim options...]: the controller on FOLDER/line, 115200, 1 ms turnaround.
start_bench_sim() {
    local folder=$1
    shift
    "$B/sim/plcsim" --link "$folder/line" --turnaround-us 1000 "$@" >"$folder/plcsim.log" 2>&1 &
    BENCH_SIM=$!
    BENCH_SIM_LOG=$folder/plcsim.log
    trap end_bench_sim EXIT
    for _ in $(seq 100); do [ -e "$folder/line" ] && break; sleep 0.05; done
}
