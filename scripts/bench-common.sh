# Shared by the benchmark scripts: a build without sanitizers and a simulated controller.
# Sourced, not run; sets ROOT, B (the build) and starts plcsim on $W/line with the given options.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
B=$ROOT/build/bench

build_bench() {
    cmake -S "$ROOT" -B "$B" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$B" -j"$(nproc)" --target plcflash-cli plcsim >/dev/null
}

# bench_install FOLDER: the whole-run benchmarks' installation in FOLDER/install (a 32 KiB
# loader, a 512 KiB kernel, ten data files of 2 to 20 KiB, all random) and FOLDER/flash for the
# controller's files.
bench_install() {
    rm -rf "$1" && mkdir -p "$1/install/system" "$1/install/data" "$1/flash"
    head -c 32768 /dev/urandom >"$1/install/system/Floader.bin"
    head -c 524288 /dev/urandom >"$1/install/system/Ethernet.bin"
    for i in $(seq 1 10); do head -c $((i * 2048)) /dev/urandom >"$1/install/data/file$i.bin"; done
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
