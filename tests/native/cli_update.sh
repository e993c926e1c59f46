#!/usr/bin/env bash
# plcflash-cli update against several plcsim controllers at once: each ends as it should and
# gets only its own identity and calibration, the record holds a row per port, the manual steps
# are asked one port at a time, and Ctrl-C stops every port.
set -uo pipefail
cli=$1
sim=$2
sample=$3
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
failures=0
# shellcheck source=sim_harness.sh
source "$(dirname "$0")/sim_harness.sh"

fail() { echo "FAIL $*"; failures=$((failures + 1)); }
utf8() { iconv -f CP1251 -t UTF-8 "$@"; }
# controller NAME MAC-BYTE IP-BYTE: a controller's flash file system with its own identity and
# calibration.
controller() {
    mkdir -p "$work/$1"
    printf 'EMAC=00:0A:3C:12:34:%s\r\nIP=C0:A8:00:%s\r\n' "$2" "$3" >"$work/$1/local_addres.dat"
    printf 'calibration of %s\r\n' "$1" >"$work/$1/calib.inc"
}
# The sample installation for a 317, without an identity file of its own in data.
cp -r "$sample" "$work/install"
rm -f "$work/install/data/local_addres.dat"
quick=(--request-ms 300 --manual-ms 100)
read_then_loader=(--start core --then loader --then-ms 1000)

# Four controllers: a good one; one whose reads are refused (its kernel has lost the files),
# given --mac with a backup; one that stores its identity damaged once; one whose adapter is
# pulled out in the kernel upload.
controller good 56 11
controller refused 57 12
controller damaging 58 13
controller pulled 59 14
kept=$work/install/backup/000A3C123457/20261201-100000
mkdir -p "$kept"
mv "$work/refused/local_addres.dat" "$work/refused/calib.inc" "$kept/"
cp -r "$work/pulled" "$work/pulled.before"
start_sim "$work/lA" "${read_then_loader[@]}" "${quick[@]}" --files "$work/good"
pids=($sim_pid)
# Four refused reads (identity and calibration, each with its retry); the boot loader comes
# after the retry pause and before the engine gives up waiting for it.
start_sim "$work/lB" --start core --then loader --then-ms 6500 --rd-refuse 4 "${quick[@]}" \
    --files "$work/refused"
pids+=($sim_pid)
start_sim "$work/lC" "${read_then_loader[@]}" "${quick[@]}" --files "$work/damaging" \
    --rd-corrupt local_addres.dat
pids+=($sim_pid)
start_sim "$work/lD" "${read_then_loader[@]}" "${quick[@]}" --files "$work/pulled" \
    --vanish-on "answer k" --vanish-ms 500
pids+=($sim_pid)
status=0
timeout 120 "$cli" update --port "$work/lA" --port "$work/lB" --port "$work/lC" \
    --port "$work/lD" --mac "$work/lB=00:0A:3C:12:34:57" --dir "$work/install" --yes \
    --record "$work/history.csv" --log "$work/run.log" --trace "$work/bench.trace" \
    </dev/null >"$work/update.out" 2>&1 ||
    status=$?
stop_sim "${pids[@]}"
ok=1
[ $status -eq 26 ] || { echo "exit $status, expected 26"; ok=0; }
grep -q '^4 port(s): 0 running, 3 succeeded, 1 failed$' "$work/update.out" || ok=0
grep -q "^  $work/lD: failed with result code 13: .*after the kernel was erased" \
    "$work/update.out" || ok=0
[ "$(grep -c '^  ' "$work/update.out")" -eq 1 ] || ok=0
# Each controller holds its own identity and calibration: read from it, or from its backup.
for who in good:56:11 damaging:58:13; do
    IFS=: read -r name mac ip <<<"$who"
    grep -q "EMAC=00:0A:3C:12:34:$mac" "$work/$name/local_addres.dat" || ok=0
    grep -q "IP=C0:A8:00:$ip" "$work/$name/local_addres.dat" || ok=0
    grep -q "calibration of $name" "$work/$name/calib.inc" || ok=0
done
cmp -s "$kept/local_addres.dat" "$work/refused/local_addres.dat" || ok=0
cmp -s "$kept/calib.inc" "$work/refused/calib.inc" || ok=0
# The pulled-out one never got as far as its files; data\ of the installation got none.
diff -r "$work/pulled.before" "$work/pulled" >/dev/null || ok=0
[ ! -e "$work/install/data/local_addres.dat" ] && [ ! -e "$work/install/data/calib.inc" ] || ok=0
# The record: a byte order mark, the header and a row per port, the failure with its code.
[ "$(head -c3 "$work/history.csv" | od -An -tx1 | tr -d ' ')" = efbbbf ] || ok=0
[ "$(wc -l <"$work/history.csv")" -eq 5 ] || ok=0
for port in lA lB lC lD; do
    [ "$(grep -c "^[^,]*,plcflash-cli update,[^,]*,[^,]*,$work/$port," "$work/history.csv")" -eq 1 ] || ok=0
done
grep -q ",$work/lD,.*,13,failed with result code 13" "$work/history.csv" || ok=0
kernel_sum=$(sha256sum "$work/install/system/Ethernet.bin" | cut -d' ' -f1)
[ "$(grep -c ",$kernel_sum," "$work/history.csv")" -eq 4 ] || ok=0
grep -q ",$work/lB,.*из резервной копии.*,да," "$work/history.csv" || ok=0
[ "$(grep -c '^Результат: ' "$work/run.log")" -eq 4 ] || ok=0
# --trace: each port's line after the other, the pulled-out one ending where its line went.
for port in lA lB lC lD; do grep -q "^Порт: $work/$port\$" "$work/bench.trace" || ok=0; done
tail -n 3 "$work/bench.trace" | grep -q 'порт пропал' || ok=0
if [ $ok = 1 ]; then
    echo "ok   update of four controllers: each as it should, the others untouched, four rows"
else
    fail "update of four controllers"; utf8 "$work/update.out"; cat "$work/history.csv"
fi

# The manual steps of two ports: one prompt at a time, each naming its port; the second port's
# jumper step waits for the first one's Enter.
# two_waiting NAME:LINE:MAC:IP...: good controllers read in their kernels, their pids in `pids`.
two_waiting() {
    local controller_of name line mac ip
    pids=()
    for controller_of in "$@"; do
        IFS=: read -r name line mac ip <<<"$controller_of"
        controller "$name" "$mac" "$ip"
        start_sim "$work/$line" "${read_then_loader[@]}" "${quick[@]}" --files "$work/$name"
        pids+=($sim_pid)
    done
}
two_waiting one:l1:60:15 two:l2:61:16
mkfifo "$work/enter"
exec 7<>"$work/enter"
"$cli" update --port "$work/l1" --port "$work/l2" --dir "$work/install" \
    --record "$work/prompts.csv" <"$work/enter" >"$work/prompts.out" 2>&1 &
cli_pid=$!
prompts() { grep -c -- '-- press Enter when done$' "$work/prompts.out"; }
# wait_prompts N: true once N prompts have been shown (bounded).
wait_prompts() {
    for _ in $(seq 300); do [ "$(prompts)" -ge "$1" ] && return 0; sleep 0.1; done
    return 1
}
ok=1
wait_prompts 1 || ok=0
sleep 2  # both controllers have been read by now and wait for their jumper
[ "$(prompts)" -eq 1 ] || { echo "a second prompt before the first was answered"; ok=0; }
for n in $(seq 2 8); do
    echo >&7
    wait_prompts "$n" || { echo "no prompt $n"; ok=0; break; }
done
echo >&7
status=0
wait $cli_pid || status=$?
exec 7>&-
stop_sim "${pids[@]}"
shown=$(grep -a -- '-- press Enter when done$' "$work/prompts.out")
first=$(sed -n 1p <<<"$shown")
second=$(sed -n 2p <<<"$shown")
# The first two are the jumper steps of both ports, one each.
[[ $first == */l[12]:\ * && $second == */l[12]:\ * && ${first%%:*} != "${second%%:*}" ]] || ok=0
[ "$(printf '%s\n%s\n' "$first" "$second" | utf8 | grep -c 'Установите джампер')" -eq 2 ] || ok=0
[ "$(grep -c "^$work/l1: " <<<"$shown")" -eq 4 ] && [ "$(grep -c "^$work/l2: " <<<"$shown")" -eq 4 ] || ok=0
if [ $ok = 1 ] && [ $status -eq 0 ]; then
    echo "ok   two ports' manual steps: eight prompts, one at a time, each naming its port"
else
    fail "two ports' manual steps: exit $status"; utf8 "$work/prompts.out"
fi

# Ctrl-C at a prompt stops every port: 12, and a row for each.
two_waiting three:l3:62:17 four:l4:63:18
exec 7<>"$work/enter"
"$cli" update --port "$work/l3" --port "$work/l4" --dir "$work/install" \
    --record "$work/stopped.csv" <"$work/enter" >"$work/stopped.out" 2>&1 &
cli_pid=$!
for _ in $(seq 300); do grep -q 'press Enter' "$work/stopped.out" && break; sleep 0.1; done
if interrupt $cli_pid "Ctrl-C at an update's prompt"; then
    if [ $status -eq 12 ] && [ "$(grep -c ',2,failed with result code 2: stopped,' "$work/stopped.csv")" -eq 2 ]; then
        echo "ok   Ctrl-C at an update's prompt: 12, both ports stopped and recorded"
    else
        fail "Ctrl-C at an update's prompt: exit $status"; utf8 "$work/stopped.out"
        cat "$work/stopped.csv"
    fi
fi
exec 7>&-
stop_sim "${pids[@]}"

# Images that do not match the published sums: nothing is read or sent, on any port; the file
# and both sums are named.
cp -r "$work/install" "$work/unpublished"
printf '%064d  Ethernet.bin\n' 0 >"$work/unpublished/system/SHA256SUMS"
sha256sum "$work/unpublished/system/Floader.bin" | sed 's, .*/,  ,' >>"$work/unpublished/system/SHA256SUMS"
status=0
"$cli" update --port "$work/nowhere1" --port "$work/nowhere2" --dir "$work/unpublished" --yes \
    --record "$work/unpublished.csv" </dev/null >"$work/sums.out" 2>&1 || status=$?
if [ $status -eq 25 ] && grep -q "Ethernet.bin" "$work/sums.out" &&
    grep -q "$(printf '%064d' 0)" "$work/sums.out" && grep -q "$kernel_sum" "$work/sums.out" &&
    [ ! -e "$work/unpublished.csv" ]; then
    echo "ok   update with an image unlike its published sum: 25, the sums named, nothing done"
else
    fail "update with an image unlike its published sum: exit $status"; cat "$work/sums.out"
fi

exit $failures
