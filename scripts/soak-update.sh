#!/usr/bin/env bash
# Soak of the whole bench: many `plcflash-cli update` runs over 1-4 simulated controllers at
# once, every port with one fault drawn from a deck that covers every phase (the reading, the
# boot loader before and after the kernel's erase, the data files, the read-back), and some
# runs stopped by Ctrl-C or given a record that cannot be written. After each run the script
# checks, itself, what must hold whatever the faults:
#
#   own       every controller ends with its own identity and calibration, or its port failed
#             (the summary names it) and its backup holds them
#   foreign   no controller, and no controller's backup, holds another controller's bytes
#   record    one record row per attempt (or the tool's line that it could not add it)
#   sanitizer no sanitizer report from the tool or a simulator
#   deadline  the run ended within its limit
#   protocol  no simulator counted a protocol error of the program's
#
#   scripts/soak-update.sh [RUNS [SEED]]     RUNS defaults to 20; SEED to $SOAK_SEED, else the clock
#
# Environment: SOAK_SEED; SOAK_LIMIT (seconds a run may take before it is killed, 240);
# SOAK_JOBS (runs side by side, 1); SOAK_ONLY (port faults to draw from); SOAK_PORTS (ports a
# run, instead of 1-4 at random); SOAK_RUN_FAULTS (run faults to draw from: none ctrl-c
# record-locked); SOAK_BUILD (see soak.sh); SOAK_PLANT (swap-identity or drop-row: a fault
# planted after the run, to see the checks catch it).
#
# The same seed replays the same faults with the same parameters (with the same bash). Not part
# of `make test`; docs/benchmarks.md has the results.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${1:-20}
SEED=${2:-${SOAK_SEED:-$(date +%s)}}
LIMIT=${SOAK_LIMIT:-240}
JOBS=${SOAK_JOBS:-1}
if [[ ! $RUNS =~ ^[1-9][0-9]*$ || ! $SEED =~ ^[0-9]+$ || ! $LIMIT =~ ^[1-9][0-9]*$ ||
    ! $JOBS =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/soak-update.sh [RUNS [SEED]]  (positive whole numbers)" >&2
    exit 2
fi
source "$ROOT/scripts/soak-common.sh"
soak_build soak-update

# Port faults: what the controller on one port does wrong.
ORDER=(none pulled-reading pulled-before-erase pulled-after-erase pulled-data power-reading
    power-boot power-data identity-unreadable identity-unreadable-backup identity-stored-damaged
    identity-always-damaged calibration-stored-damaged repeated-packet bad-sum-packet
    missing-ack silent-controller chattering)
[ -n "${SOAK_ONLY:-}" ] && read -r -a ORDER <<<"$SOAK_ONLY"
# Run faults: what happens to the whole bench; most runs have none.
RUN_ORDER=(none none none ctrl-c record-locked)
[ -n "${SOAK_RUN_FAULTS:-}" ] && read -r -a RUN_ORDER <<<"$SOAK_RUN_FAULTS"
RUN_DECK=()
STAGES=(loader loader-menu loader2 erase-kernel kernel-menu kernel erase-ffs start-core)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/plcflash-soak-update.XXXXXX")
# A small kit: the sample installation with a 12 KiB kernel (the faults are about the
# controller's files, not the upload's length) and no identity file of its own.
KIT=$WORK/kit
cp -r "$ROOT/scripts/sample" "$KIT"
rm -f "$KIT/data/local_addres.dat"
head -c 12288 "$ROOT/scripts/sample/system/Ethernet.bin" >"$KIT/system/Ethernet.bin"

# plan RUN: draws everything of run RUN into its folder's plan (sourced by execute).
plan() {
    local run=$1 dir=$WORK/run-$1 p ports fault opts label mac
    mkdir -p "$dir"
    if [ -n "${SOAK_PORTS:-}" ]; then ports=$SOAK_PORTS; else rand 1 4; ports=$R; fi
    draw RUN_DECK RUN_ORDER
    local run_fault=$FAULT at_ms=0 format=
    if [ "$run_fault" = ctrl-c ]; then rand 1000 25000; at_ms=$R; fi
    rand 0 1
    [ "$R" = 1 ] && format=--format
    {
        echo "PORTS=$ports RUN_FAULT=$run_fault CTRL_C_MS=$at_ms FORMAT=$format"
        for ((p = 1; p <= ports; ++p)); do
            draw
            fault=$FAULT
            opts=()
            case $fault in
            none) ;;
            pulled-reading) opts=(--vanish-on "read local_addres.dat") ;;
            pulled-before-erase) rand 0 800; opts=(--vanish-on "answer b" --vanish-ms "$R") ;;
            pulled-after-erase) rand 0 1500; opts=(--vanish-on "answer k" --vanish-ms "$R") ;;
            pulled-data) rand 0 300; opts=(--vanish-on "file " --vanish-ms "$R") ;;
            power-reading) opts=(--rd-silent) ;;
            power-boot) rand 0 7; opts=(--silent-after "${STAGES[R]}") ;;
            power-data) rand 1 42; opts=(--fs-silent-after "$R") ;;
            identity-unreadable | identity-unreadable-backup) opts=(--rd-refuse all) ;;
            identity-stored-damaged) opts=(--rd-corrupt local_addres.dat) ;;
            identity-always-damaged) opts=(--rd-corrupt local_addres.datxall) ;;
            calibration-stored-damaged) opts=(--rd-corrupt calib.inc) ;;
            # The reads' packets, counted over the run: the identity file's (1), the
            # calibration's (2-9), then the read-back's (10, 11-18). A repeat of a file's last
            # packet is left out: the program has taken the file whole and moved on, and no
            # side can tell a lost last acknowledgement from a kept one.
            repeated-packet)
                rand 0 1
                if [ "$R" = 0 ]; then rand 2 8; else rand 11 17; fi
                opts=(--rd-repeat "$R")
                ;;
            bad-sum-packet) rand 1 18; opts=(--rd-bad-sum "$R") ;;
            missing-ack) rand 1 42; opts=(--fs-wrong-seq "$R") ;;
            silent-controller) ;;  # started without --then, its reads unanswered (execute)
            chattering) rand 8 200; opts=(--garbage "$R") ;;
            *) echo "soak-update: no fault named $fault" >&2; exit 2 ;;
            esac
            # A MAC of its own for every controller of the soak.
            mac=$(printf '02:5A:%02X:%02X:%02X:%02X' $((run / 256 % 256)) $((run % 256)) "$p" $((RANDOM % 256)))
            printf 'PORT_FAULT[%d]=%q PORT_OPTS[%d]=%q MAC[%d]=%s\n' "$p" "$fault" "$p" \
                "${opts[*]@Q}" "$p" "$mac"
        done
    } >"$dir/plan"
}

# execute RUN: runs one planned run and writes its verdict (and one line per port) to
# RUN/result. Runs in a subshell of its own, side by side with others.
execute() {
    local dir=$WORK/run-$1 p
    declare -A PORT_FAULT PORT_OPTS MAC
    source "$dir/plan"
    local kit=$dir/kit args=() sims=() links=() violations=()
    cp -r "$KIT" "$kit"
    local record=$dir/history.csv
    if [ "$RUN_FAULT" = record-locked ]; then
        : >"$record"
        chattr +i "$record" 2>/dev/null || chmod 0444 "$record"
    fi
    for ((p = 1; p <= PORTS; ++p)); do
        local f=$dir/c$p link=$dir/l$p mac=${MAC[$p]} opts=()
        eval "opts=(${PORT_OPTS[$p]})"
        mkdir -p "$f"
        printf 'EMAC=%s\r\nIP=0A:%02X:%02X:%02X\r\n' "$mac" $(($1 / 256 % 256)) $(($1 % 256)) "$p" \
            >"$f/local_addres.dat"
        # A calibration of eight packets, so that a repeat can fall inside it.
        printf 'calibration of %s\r\n' "$mac" >"$f/calib.inc"
        head -c 960 /dev/urandom >>"$f/calib.inc"
        cp "$f/local_addres.dat" "$dir/own-id-$p"
        cp "$f/calib.inc" "$dir/own-cal-$p"
        local start=(--start core --then loader --then-ms 1000)
        if [ "${PORT_FAULT[$p]}" = silent-controller ]; then
            start=(--start core --rd-silent)
            opts=()
        fi
        case ${PORT_FAULT[$p]} in
        identity-unreadable-backup)
            # Kept by an earlier run: the MAC from the sticker finds it.
            local kept=$kit/backup/${mac//:/}/20261201-100000
            mkdir -p "$kept"
            cp "$f/local_addres.dat" "$f/calib.inc" "$kept/"
            args+=(--mac "$link=$mac")
            ;;
        esac
        "${SIM_NICE[@]}" "$SIM" --link "$link" "${start[@]}" --request-ms 300 --manual-ms 50 --idle-ms 20000 \
            --files "$f" --log "$dir/sim$p.log" "${opts[@]}" >"$dir/sim$p.out" 2>&1 &
        sims+=($!)
        links+=("$link")
        args+=(--port "$link")
    done
    for link in "${links[@]}"; do
        for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
    done
    now_ms
    local began=$NOW
    # timeout passes the Ctrl-C on to the tool, and kills it at the limit (exit 137).
    timeout -s KILL "$LIMIT" "$CLI" update "${args[@]}" --dir "$kit" --yes $FORMAT \
        --record "$record" --log "$dir/run.log" --trace "$dir/trace.txt" </dev/null \
        >"$dir/cli.out" 2>&1 &
    local cli=$! killed=0 interrupter=
    if [ "$CTRL_C_MS" -gt 0 ]; then
        (sleep "$(seconds "$CTRL_C_MS")" && kill -INT "$cli" 2>/dev/null) &
        interrupter=$!
    fi
    wait "$cli"
    local status=$?
    [ -n "$interrupter" ] && kill "$interrupter" 2>/dev/null
    [ $status = 137 ] && killed=1
    now_ms
    local took=$((NOW - began))
    local sim_status=()
    for p in "${!sims[@]}"; do
        kill "${sims[p]}" 2>/dev/null
        wait "${sims[p]}"
        sim_status+=($?)
    done
    [ "$RUN_FAULT" = record-locked ] && { chattr -i "$record" 2>/dev/null; chmod 0644 "$record"; }
    plant "$dir"

    # The checks.
    [ $killed = 1 ] && violations+=("deadline: still running after $LIMIT s")
    sanitizer_report "$dir/cli.out" "$dir"/sim*.out && violations+=("sanitizer: a report")
    for p in "${!sims[@]}"; do
        if [ "${sim_status[p]}" = 3 ] || grep -q 'plcsim: protocol error' "$dir/sim$((p + 1)).out"; then
            violations+=("protocol: controller $((p + 1)) counted a protocol error")
        fi
    done
    local rows refusals
    rows=$(tail -n +2 "$record" 2>/dev/null | grep -c . || true)
    refusals=$(grep -c 'cannot add the attempt' "$dir/cli.out" || true)
    [ $((rows + refusals)) -eq "$PORTS" ] ||
        violations+=("record: $rows row(s) and $refusals refusal(s) for $PORTS attempt(s)")
    local outcomes=()
    for ((p = 1; p <= PORTS; ++p)); do
        local f=$dir/c$p mac=${MAC[$p]} outcome=ok q
        local line
        line=$(grep -a "^  $dir/l$p: " "$dir/cli.out" | head -n 1)
        if [ -n "$line" ]; then
            outcome=$(sed -n 's/.*result code \([0-9]*\).*/failed-\1/p' <<<"$line")
            [ -n "$outcome" ] || outcome=failed
        fi
        [ $killed = 1 ] && outcome=killed
        outcomes+=("$outcome")
        if ! cmp -s "$f/local_addres.dat" "$dir/own-id-$p" || ! cmp -s "$f/calib.inc" "$dir/own-cal-$p"; then
            local backed=0 b
            for b in "$kit/backup/${mac//:/}"/*/; do
                cmp -s "$b/local_addres.dat" "$dir/own-id-$p" && cmp -s "$b/calib.inc" "$dir/own-cal-$p" &&
                    backed=1
            done
            if [ "$outcome" = ok ]; then
                violations+=("own: controller $p succeeded without its own identity and calibration")
            elif [ $backed = 0 ]; then
                violations+=("own: controller $p lost its identity or calibration, and no backup holds them")
            fi
        fi
        for ((q = 1; q <= PORTS; ++q)); do
            [ $q = $p ] && continue
            if grep -rqF "${MAC[$q]}" "$f" "$kit/backup/${mac//:/}" 2>/dev/null; then
                violations+=("foreign: controller $p (or its backup) holds controller $q's bytes")
            fi
        done
    done
    {
        echo "status=$status took_ms=$took violations=${#violations[@]}"
        for ((p = 1; p <= PORTS; ++p)); do
            echo "port $p ${PORT_FAULT[$p]} ${outcomes[p - 1]}"
        done
        [ ${#violations[@]} -eq 0 ] || printf 'violation %s\n' "${violations[@]}"
    } >"$dir/result"
}

# A fault planted after the run, to see a check catch it.
plant() {
    case ${SOAK_PLANT:-} in
    swap-identity) [ -f "$1/c2/local_addres.dat" ] && cp "$1/c2/local_addres.dat" "$1/c1/" ;;
    drop-row) sed -i '$d' "$1/history.csv" ;;
    esac
}

cleanup() {
    kill $(jobs -p) 2>/dev/null
    wait 2>/dev/null
    find "$WORK" -name history.csv -exec chattr -i {} + 2>/dev/null
    if [ "${FAILED:-0}" -eq 0 ]; then rm -rf "$WORK"; else echo "soak-update: the failed runs' folders are in $WORK"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "soak-update: $RUNS run(s), seed $SEED, $JOBS side by side, limit $LIMIT s"
RANDOM=$SEED
now_ms
START=$NOW
for ((r = 1; r <= RUNS; ++r)); do plan "$r"; done
running=0
for ((r = 1; r <= RUNS; ++r)); do
    if [ $running -ge "$JOBS" ]; then wait -n; running=$((running - 1)); fi
    (execute "$r") &
    running=$((running + 1))
done
wait

# The report: every run's verdict, then per fault the ports, their outcomes and violations.
FAILED=0
declare -A COUNT OUTCOMES
LONGEST=0
for ((r = 1; r <= RUNS; ++r)); do
    result=$WORK/run-$r/result
    if [ ! -f "$result" ]; then
        echo "run $r: no result"
        FAILED=$((FAILED + 1))
        continue
    fi
    read -r _ took nviol <<<"$(head -n 1 "$result")"
    took=${took#took_ms=}
    [ "$took" -gt "$LONGEST" ] && LONGEST=$took
    source <(head -n 1 "$WORK/run-$r/plan")
    if [ "${nviol#violations=}" != 0 ]; then
        FAILED=$((FAILED + 1))
        echo "run $r ($RUN_FAULT$([ -n "$FORMAT" ] && echo ", --format")): $(sed -n 's/^port [0-9]* //p' "$result" | tr '\n' ' ')"
        sed -n 's/^violation /    /p' "$result"
    fi
    COUNT[run:$RUN_FAULT]=$((${COUNT[run:$RUN_FAULT]:-0} + 1))
    while read -r _ _ fault outcome; do
        COUNT[$fault]=$((${COUNT[$fault]:-0} + 1))
        OUTCOMES[$fault]+="$outcome "
    done < <(grep '^port ' "$result")
done
now_ms
echo
echo "| port fault | ports | outcomes |"
echo "|---|---|---|"
for fault in $(printf '%s\n' "${!COUNT[@]}" | grep -v '^run:' | sort); do
    echo "| $fault | ${COUNT[$fault]} | $(tr ' ' '\n' <<<"${OUTCOMES[$fault]}" | grep . | sort | uniq -c |
        awk '{printf "%s%s %s", (NR > 1 ? ", " : ""), $2, $1}') |"
done
echo
for key in $(printf '%s\n' "${!COUNT[@]}" | grep '^run:' | sort); do
    echo "runs with ${key#run:}: ${COUNT[$key]}"
done
excused=$(cat "$WORK"/run-*/sim*.out 2>/dev/null | grep -c 'plcsim: not counted' || true)
echo "the simulated controllers excused $excused timing error(s) (held up by the host)"
cat "$WORK"/run-*/sim*.out 2>/dev/null | grep 'plcsim: not counted' | head -n 5
echo "the longest run took $(seconds "$LONGEST") s (limit $LIMIT s)"
echo "soak-update: $RUNS run(s) in $(((NOW - START) / 1000)) s, $FAILED with violations"
echo "$((RUNS - FAILED)) passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
