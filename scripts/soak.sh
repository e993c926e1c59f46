#!/usr/bin/env bash
# Soak: many whole reflashing runs (`plcflash-cli flash --format --yes`) of a copy of the sample
# installation against plcsim, each with one fault drawn from the table below. A run passes when
# it ends within the time limit, with an exit status its fault allows, and leaves the
# installation as it found it (data/local_addres.dat aside: the assistant rewrites it before a
# run). A run that reports success must also have left both loaders, the kernel and every data
# file on the controller; one stopped by a bad file must have sent nothing.
#
#   scripts/soak.sh [RUNS [SEED]]       RUNS defaults to 50; SEED to $SOAK_SEED, else the clock
#
# Environment: SOAK_SEED; SOAK_LIMIT (seconds a run may take before it is killed, 120);
# SOAK_ONLY (fault names, space separated, to draw from instead of the whole table);
# SOAK_BUILD (a build folder holding cli/plcflash-cli and sim/plcsim, used as it is; without
# it the native preset is built first).
#
# The same seed replays the same faults with the same parameters (with the same bash).
# Faults are dealt from a shuffled deck, so every entry comes up before any comes up again.
# The sanitizer build is the default: a soak walks rare error paths, where memory errors hide.
# Not part of `make test`: 50 runs take about 13 minutes.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${1:-50}
SEED=${2:-${SOAK_SEED:-$(date +%s)}}
LIMIT=${SOAK_LIMIT:-120}
SAMPLE=$ROOT/scripts/sample

if [[ ! $RUNS =~ ^[1-9][0-9]*$ || ! $SEED =~ ^[0-9]+$ || ! $LIMIT =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/soak.sh [RUNS [SEED]]  (positive whole numbers; SOAK_LIMIT seconds)" >&2
    exit 2
fi

source "$ROOT/scripts/soak-common.sh"
soak_build soak

# fault               exit     (the engine's result code + 10; see docs/benchmarks.md)
TABLE='
none                  0
nak-once              0
nak-twice             0
nak-thrice            10
nak-three-blocks      10
cancel                13
silent-after-block    15
eot-nak-twice         0
eot-nak-thrice        13
eot-unanswered        15
requests-before-ack   0
boot-silent           15
garbage               0
split-prompts         0
no-core-message       0
fs-bad-status         0
fs-wrong-seq          0
fs-short-reply        13
fs-silent             15
fs-busy               0
controller-lost       20|18
bad-data-file         21
no-kernel-image       21
long-data-name        21
'
declare -A EXPECT
ORDER=()
while read -r name codes; do
    [ -n "$name" ] || continue
    EXPECT[$name]=$codes
    ORDER+=("$name")
done <<<"$TABLE"
if [ -n "${SOAK_ONLY:-}" ]; then
    read -r -a ORDER <<<"$SOAK_ONLY"
    for name in "${ORDER[@]}"; do
        [ -n "${EXPECT[$name]:-}" ] || { echo "soak: no fault named $name" >&2; exit 2; }
    done
fi

# XMODEM blocks of an image: a file of a whole number of blocks still ends with one of fill.
blocks_of() { echo $(($(stat -c %s "$1") / 128 + 1)); }
LOADER_BLOCKS=$(blocks_of "$SAMPLE/system/Floader.bin")
KERNEL_BLOCKS=$(blocks_of "$SAMPLE/system/Ethernet.bin")
# Packets the sample's data files take: program.bin (5000 bytes, two segments) 40, the other
# two one each. A file-service fault at a packet past these would never fire.
FS_PACKETS=42
STAGES=(loader loader-menu loader2 erase-kernel kernel-menu kernel erase-ffs start-core)

# image_fault FIRST: IMAGE_OPTS picks the upload (FIRST..3; 0 is every one) that has the
# receiver fault, LAST is the number of blocks it has at least, BLOCK one of them.
image_fault() {
    rand "$1" 3
    IMAGE_OPTS=(--fault-image "$R")
    LAST=$LOADER_BLOCKS
    [ "$R" -eq 3 ] && LAST=$KERNEL_BLOCKS
    rand 1 "$LAST"
    BLOCK=$R
}

# arrange FAULT FOLDER: sets OPTS (plcsim's fault options), KILL_AT_MS and LABEL (the fault's
# parameters, for the report); spoils the copied installation for the bad-file faults.
arrange() {
    local install=$2/install
    OPTS=()
    KILL_AT_MS=0
    LABEL=
    case $1 in
        none) ;;
        nak-once)
            image_fault 0
            OPTS=(--nak-block "$BLOCK" "${IMAGE_OPTS[@]}")
            ;;
        nak-twice)
            image_fault 0
            OPTS=(--nak-block "${BLOCK}x2" "${IMAGE_OPTS[@]}")
            ;;
        nak-thrice)
            image_fault 1
            OPTS=(--nak-block "${BLOCK}x3" "${IMAGE_OPTS[@]}")
            ;;
        nak-three-blocks)  # once each: the limit counts an image's refusals, not a block's
            image_fault 1
            rand 1 $((LAST - 2))
            OPTS=(--nak-block "$R" --nak-block $((R + 1)) --nak-block $((R + 2)) "${IMAGE_OPTS[@]}")
            ;;
        cancel)
            image_fault 1
            OPTS=(--can-after "$BLOCK" "${IMAGE_OPTS[@]}")
            ;;
        silent-after-block)
            image_fault 1
            OPTS=(--silent-after-block "$BLOCK" "${IMAGE_OPTS[@]}")
            ;;
        eot-nak-twice)
            image_fault 0
            OPTS=(--eot-naks 2 "${IMAGE_OPTS[@]}")
            ;;
        eot-nak-thrice)
            image_fault 1
            OPTS=(--eot-naks 3 "${IMAGE_OPTS[@]}")
            ;;
        eot-unanswered)
            image_fault 1
            OPTS=(--eot-unanswered "${IMAGE_OPTS[@]}")
            ;;
        requests-before-ack)
            image_fault 0
            rand 1 3
            OPTS=(--requests-before-ack "$R" "${IMAGE_OPTS[@]}")
            ;;
        boot-silent)
            rand 0 $((${#STAGES[@]} - 1))
            OPTS=(--silent-after "${STAGES[R]}")
            ;;
        garbage)
            rand 8 200
            OPTS=(--garbage "$R")
            ;;
        split-prompts)  # halves further apart than the engine's 200 ms read interval, too
            rand 20 1000
            OPTS=(--split-ms "$R")
            ;;
        no-core-message) OPTS=(--no-core-message) ;;
        fs-bad-status | fs-wrong-seq | fs-short-reply)
            rand 1 $FS_PACKETS
            OPTS=("--$1" "$R")
            ;;
        fs-silent)
            rand 1 $FS_PACKETS
            OPTS=(--fs-silent-after "$R")
            ;;
        fs-busy)
            rand 1 4
            OPTS=(--fs-busy "$R")
            ;;
        controller-lost)  # plcsim ends mid-run, as a pulled cable; always within the run
            rand 1000 18000
            KILL_AT_MS=$R
            LABEL="plcsim killed after $(seconds "$R") s"
            ;;
        bad-data-file)
            ln -s /nonexistent "$install/data/zz_broken.bin"
            LABEL="data/zz_broken.bin -> /nonexistent"
            ;;
        no-kernel-image)
            rm "$install/system/Ethernet.bin"
            LABEL="system/Ethernet.bin removed"
            ;;
        long-data-name)  # 130 characters: the name field would be 132 bytes of the 122 allowed
            : >"$install/data/$(printf 'n%.0s' {1..126}).bin"
            LABEL="data/nnn...n.bin, 130 characters"
            ;;
    esac
    [ -n "$LABEL" ] || LABEL=${OPTS[*]}
}

# What a run must not change: every entry's type, name and link target, every file's bytes.
installation_state() {
    (
        cd "$1" || exit 1
        find . -path ./data/local_addres.dat -prune -o -printf '%y %p %l\n' | LC_ALL=C sort
        find . -path ./data/local_addres.dat -prune -o -type f -print0 | LC_ALL=C sort -z |
            xargs -0 -r sha256sum
    )
}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/plcflash-soak.XXXXXX")
SIM_PID=
CLI_PID=
FAILED=0
cleanup() {
    [ -n "$CLI_PID" ] && kill -KILL "$CLI_PID" 2>/dev/null
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
    wait 2>/dev/null
    if [ "$FAILED" -eq 0 ]; then
        rm -rf "$WORK"
    else
        echo "soak: the failed runs' folders (logs, controller log, received files) are in $WORK"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

stop_sim() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null
        wait "$SIM_PID" 2>/dev/null
        SIM_PID=
    fi
}

# check_delivery RUN: what a successful run must have left on the controller.
check_delivery() {
    local run=$1 install=$1/install f n=0
    for f in "$install"/system/Floader.bin:001-loader "$install"/system/Floader.bin:002-loader \
        "$install"/system/Ethernet.bin:003-kernel; do
        local image=${f%:*} received=$run/images/${f##*:}.bin
        cmp -s -n "$(stat -c %s "$image")" "$image" "$received" ||
            { WHY="${f##*:} not received intact"; return 1; }
    done
    for f in "$install"/data/*; do
        cmp -s "$f" "$run/files/$(basename "$f")" ||
            { WHY="data/$(basename "$f") not stored intact"; return 1; }
        n=$((n + 1))
    done
    [ "$n" -gt 0 ] || { WHY="no data files"; return 1; }
}

# run_one N FAULT: one flashing run; sets STATUS, MS, WHY (empty when it passed).
run_one() {
    local run=$WORK/run-$1 fault=$2
    mkdir -p "$run/images" "$run/files"
    cp -r "$SAMPLE" "$run/install"
    arrange "$fault" "$run"
    installation_state "$run/install" >"$run/before"
    WHY=
    STATUS=-
    MS=0

    # Made before plcsim starts: the wait below must not look for its line in a missing file.
    : >"$run/plcsim.out"
    "${SIM_NICE[@]}" "$SIM" --link "$run/line" --request-ms 300 --manual-ms 50 --once \
        --images "$run/images" --files "$run/files" --log "$run/controller.log" \
        "${OPTS[@]}" >"$run/plcsim.out" 2>&1 &
    SIM_PID=$!
    local tries
    for ((tries = 0; tries < 100; ++tries)); do
        grep -q '^plcsim: ready' "$run/plcsim.out" && break
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    if ! grep -q '^plcsim: ready' "$run/plcsim.out"; then
        WHY="plcsim did not start"
        stop_sim
        return
    fi

    local start
    now_ms
    start=$NOW
    "$CLI" flash --port "$run/line" --dir "$run/install" --format --yes \
        </dev/null >"$run/cli.log" 2>&1 &
    CLI_PID=$!
    local timed_out=0
    while kill -0 "$CLI_PID" 2>/dev/null; do
        now_ms
        MS=$((NOW - start))
        if [ "$KILL_AT_MS" -gt 0 ] && [ "$MS" -ge "$KILL_AT_MS" ]; then
            stop_sim
            KILL_AT_MS=0
        fi
        if [ "$MS" -ge $((LIMIT * 1000)) ]; then
            timed_out=1
            kill "$CLI_PID" 2>/dev/null
            for ((tries = 0; tries < 20; ++tries)); do
                kill -0 "$CLI_PID" 2>/dev/null || break
                sleep 0.1
            done
            kill -KILL "$CLI_PID" 2>/dev/null
            break
        fi
        sleep 0.1
    done
    wait "$CLI_PID"
    STATUS=$?
    CLI_PID=
    now_ms
    MS=$((NOW - start))
    stop_sim
    EXCUSED=$((EXCUSED + $(grep -c 'plcsim: not counted' "$run/plcsim.out")))

    installation_state "$run/install" >"$run/after"
    if [ $timed_out = 1 ]; then
        WHY="still running after ${LIMIT} s: killed"
    elif [[ "|${EXPECT[$fault]}|" != *"|$STATUS|"* ]]; then
        WHY="exit $STATUS, expected ${EXPECT[$fault]}"
    elif ! diff "$run/before" "$run/after" >"$run/installation.diff"; then
        WHY="the installation changed (see installation.diff)"
    elif sanitizer_report "$run/cli.log" "$run/plcsim.out"; then
        WHY="a sanitizer report"
    elif grep -q 'plcsim: protocol error' "$run/plcsim.out"; then
        WHY="the controller counted a protocol error: $(grep -m1 'plcsim: protocol error' "$run/plcsim.out")"
    elif [ "$STATUS" -eq 0 ]; then
        check_delivery "$run"
    elif [ "$STATUS" -eq 21 ] && [ -n "$(find "$run/images" "$run/files" -mindepth 1)" ]; then
        WHY="a bad file, yet something was sent"
    fi
}

declare -A RAN PASSED MAX_MS
EXCUSED=0
RANDOM=$SEED
echo "soak: $RUNS runs, seed $SEED, limit $LIMIT s a run, $CLI"
now_ms
SOAK_START=$NOW
for ((n = 1; n <= RUNS; ++n)); do
    draw
    run_one "$n" "$FAULT"
    RAN[$FAULT]=$((${RAN[$FAULT]:-0} + 1))
    [ "$MS" -gt "${MAX_MS[$FAULT]:-0}" ] && MAX_MS[$FAULT]=$MS
    if [ -z "$WHY" ]; then
        PASSED[$FAULT]=$((${PASSED[$FAULT]:-0} + 1))
        verdict=ok
        rm -rf "$WORK/run-$n"
    else
        FAILED=$((FAILED + 1))
        verdict="FAIL: $WHY (folder run-$n)"
    fi
    printf '%3d/%d  %-20s %-44s exit %-3s %6s s  %s\n' "$n" "$RUNS" "$FAULT" "$LABEL" \
        "$STATUS" "$(seconds "$MS")" "$verdict"
done
now_ms
TOTAL_MS=$((NOW - SOAK_START))

echo
printf '%-20s %-6s %5s %7s %7s %7s\n' fault exit runs passed failed "max s"
for name in "${ORDER[@]}"; do
    ran=${RAN[$name]:-0}
    [ "$ran" -gt 0 ] || continue
    passed=${PASSED[$name]:-0}
    printf '%-20s %-6s %5d %7d %7d %7s\n' "$name" "${EXPECT[$name]}" "$ran" "$passed" \
        $((ran - passed)) "$(seconds "${MAX_MS[$name]}")"
done
printf '%-20s %-6s %5d %7d %7d\n' total "" "$RUNS" $((RUNS - FAILED)) "$FAILED"
echo "the controllers excused $EXCUSED timing error(s) (held up by the host)"
echo "soak: seed $SEED, $RUNS runs, $((RUNS - FAILED)) passed, $FAILED failed in $(seconds "$TOTAL_MS") s"
[ "$FAILED" -eq 0 ]
