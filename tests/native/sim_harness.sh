# The harness the console tool's test scripts share: plcsim controllers started and stopped,
# Ctrl-C to the tool. Sourced; expects `sim` (plcsim), `work` (a scratch folder) and `failures`.
# start_sim LINE [plcsim options...]: a controller on LINE, its pid in sim_pid, once the line is
# there.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sim-priority.sh"
start_sim() {
    local link=$1
    shift
    "${SIM_NICE[@]}" "$sim" --link "$link" "$@" >/dev/null 2>>"$work/sims.err" &
    sim_pid=$!
    for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
}
# stop_sim PID...: ends the controllers; one that saw the program break its protocol exits
# with 3, and that fails the run whatever else went right.
stop_sim() {
    local pid status
    for pid in "$@"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        status=$?
        if [ "$status" -eq 3 ]; then
            echo "FAIL the controller counted protocol errors:"
            grep 'protocol error' "$work/sims.err" | tail -n 5
            failures=$((failures + 1))
        fi
    done
    # What they excused is said once, not counted.
    if grep -q 'plcsim: not counted' "$work/sims.err" 2>/dev/null; then
        echo "note the controllers excused timing errors (held up by the host):"
        grep 'plcsim: not counted' "$work/sims.err" | tail -n 5
        sed -i '/plcsim: not counted/d' "$work/sims.err"
    fi
}
# interrupt PID NAME: Ctrl-C to the tool; true with its exit status in `status` once it has
# ended. Bounded: a stop that waited for a transfer or a prompt would still be running after
# 5 s, which fails NAME.
interrupt() {
    kill -INT "$1"
    for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$1" 2>/dev/null; then
        kill -9 "$1"; wait "$1" 2>/dev/null
        echo "FAIL $2: still running 5 s later"; failures=$((failures + 1))
        return 1
    fi
    wait "$1"
    status=$?
    return 0
}
