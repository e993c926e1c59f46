#!/usr/bin/env bash
# plcflash-cli's commands against plcsim: the exit status for each way an upload ends, files
# written, and a whole flashing run of the sample installation.
set -uo pipefail
cli=$1
sim=$2
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
head -c 1000 /dev/urandom >"$work/image.bin"

failures=0
# shellcheck source=sim_harness.sh
source "$(dirname "$0")/sim_harness.sh"

# flash_case NAME STATUS PATTERN [flash options...] -- [plcsim options...]: a whole flash of the
# sample installation (standard input at its end) against a boot loader with those options
# must end with STATUS and say PATTERN.
flash_case() {
    local name=$1 expected=$2 pattern=$3
    shift 3
    local options=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
    shift
    local line=$work/line.$RANDOM log=$work/flash-case.log
    start_sim "$line" --request-ms 300 --manual-ms 100 "$@"
    local status=0
    timeout 60 "$cli" flash --port "$line" --dir "$work/install" "${options[@]}" </dev/null \
        >"$log" 2>&1 || status=$?
    if [ $status -eq "$expected" ] && grep -q "$pattern" "$log"; then
        echo "ok   $name: $status"
    else
        echo "FAIL $name: exit $status, expected $expected"; cat "$log"
        failures=$((failures + 1))
    fi
    stop_sim $sim_pid
}
# trace_ends NAME FILE TAIL PATTERN COUNT...: the line trace FILE ends with the port closed, and
# its last TAIL lines hold each PATTERN (grep -E) COUNT times; a failure is counted under NAME.
trace_ends() {
    local name=$1 file=$2 tail=$3 ok=1
    shift 3
    [ "$(tail -n 1 "$file" 2>/dev/null | sed 's/^ *[0-9.]* *//')" = "порт закрыт" ] || ok=0
    while [ $# -ge 2 ]; do
        [ "$(tail -n "$tail" "$file" 2>/dev/null | grep -cE "$1")" -eq "$2" ] || ok=0
        shift 2
    done
    if [ $ok = 1 ]; then
        echo "ok   $name: the trace ends with the last exchange"
    else
        echo "FAIL $name: the trace $file:"; tail -n 20 "$file" 2>&1
        failures=$((failures + 1))
    fi
}
check() {  # name expected-status plcsim-options...
    local name=$1 expected=$2
    shift 2
    local line=$work/line.$RANDOM
    # The receiver stays up until the sender is done: a line whose far end is gone loses
    # what was still queued for the sender.
    start_sim "$line" --receive --request-ms 50 --idle-ms 2000 "$@"
    "$cli" send-image --port "$line" "$work/image.bin" >/dev/null 2>&1
    local status=$?
    stop_sim $sim_pid
    if [ "$status" -eq "$expected" ]; then
        echo "ok   $name: $status"
    else
        echo "FAIL $name: exit $status, expected $expected"
        failures=$((failures + 1))
    fi
}

check "clean upload" 0
check "three refusals" 10 --nak-block 2x3
check "cancelled by the receiver" 13 --can-after 3
check "end of transfer refused" 13 --eot-naks 3

# Ctrl-C during an upload: the receiver is told (CAN CAN), the port closed, exit 12 at once.
head -c 200000 /dev/urandom >"$work/big.bin"
line=$work/line.sigint
start_sim "$line" --receive --request-ms 50 --idle-ms 3000 --log "$work/sigint.log"
"$cli" send-image --port "$line" --trace "$work/sigint.trace" "$work/big.bin" >/dev/null 2>&1 &
cli_pid=$!
sleep 1.5
if interrupt $cli_pid "Ctrl-C during an upload"; then
    sleep 0.5
    if [ $status -eq 12 ] && grep -q 'image-cancelled' "$work/sigint.log"; then
        echo "ok   Ctrl-C during an upload: 12, CAN CAN"
    else
        echo "FAIL Ctrl-C during an upload: exit $status"; cat "$work/sigint.log"
        failures=$((failures + 1))
    fi
    trace_ends "--trace of an upload stopped by Ctrl-C" "$work/sigint.trace" 4 \
        'блок XMODEM' 1 'остановка по запросу' 1 '18 18 .*CAN CAN$' 1
fi
stop_sim $sim_pid

# --trace of a failing command: the last exchange is block 2 refused three times.
line=$work/line.trace
start_sim "$line" --receive --request-ms 50 --idle-ms 2000 --nak-block 2x3
"$cli" send-image --port "$line" --trace "$work/refused.trace" "$work/image.bin" >/dev/null 2>&1
status=$?
stop_sim $sim_pid
[ $status -eq 10 ] || { echo "FAIL --trace changed the exit status: $status"; failures=$((failures + 1)); }
trace_ends "--trace of three refusals" "$work/refused.trace" 7 'блок XMODEM 2,' 3 'NAK$' 3

"$cli" send-image --port "$work/none" "$work/missing.bin" >/dev/null 2>&1
status=$?
[ $status -eq 3 ] && echo "ok   missing file: 3" || { echo "FAIL missing file: $status"; failures=$((failures + 1)); }
"$cli" send-image "$work/image.bin" >/dev/null 2>&1
status=$?
[ $status -eq 2 ] && echo "ok   usage: 2" || { echo "FAIL usage: $status"; failures=$((failures + 1)); }
"$cli" send-image --port "$work/none" "$work/image.bin" >/dev/null 2>&1
status=$?
[ $status -eq 18 ] && echo "ok   no such port: 18" || { echo "FAIL no such port: $status"; failures=$((failures + 1)); }
# write-file: two files into the simulated flash file system, byte for byte; a missing file
# among them stops everything before the first byte.
mkdir -p "$work/flash"
head -c 7000 /dev/urandom >"$work/one.bin"
printf 'EMAC=00:0A:3C:12:34:56\r\nIP=C0:A8:00:11\r\n' >"$work/local_addres.dat"
line=$work/line.files
start_sim "$line" --start core --files "$work/flash"
"$cli" write-file --trace "$work/write.trace" --port "$line" "$work/one.bin" \
    "$work/local_addres.dat" >/dev/null 2>&1
status=$?
# A successful command's trace too: the session's opening, then one for each file.
trace_ends "--trace of a write-file" "$work/write.trace" 100000 'открыт COM1$' 3 \
    'EMAC=00:0A:3C:12' 1
if [ $status -eq 0 ] && cmp -s "$work/one.bin" "$work/flash/one.bin" &&
    cmp -s "$work/local_addres.dat" "$work/flash/local_addres.dat"; then
    echo "ok   write-file: both files arrived"
else
    echo "FAIL write-file: exit $status"; failures=$((failures + 1))
fi
rm -f "$work"/flash/*
"$cli" write-file --port "$line" "$work/one.bin" "$work/missing.dat" >/dev/null 2>&1
status=$?
if [ $status -eq 21 ] && [ -z "$(ls "$work/flash")" ]; then
    echo "ok   write-file with a missing file: 21, nothing sent"
else
    echo "FAIL write-file with a missing file: exit $status"; failures=$((failures + 1))
fi
stop_sim $sim_pid

# flash: the sample installation, through plcsim's whole boot loader; the controller ends up
# with both loaders, the kernel and every data file.
sample=$3
cp -r "$sample" "$work/install"
mkdir -p "$work/images" "$work/flashfs"
line=$work/line.flash
start_sim "$line" --request-ms 300 --manual-ms 100 --images "$work/images" \
    --files "$work/flashfs"
"$cli" flash --port "$line" --dir "$work/install" --format --yes --log "$work/run.log" \
    >"$work/flash.log" 2>&1
status=$?
ok=1
[ $status -eq 0 ] || ok=0
for f in "$work"/install/data/*; do cmp -s "$f" "$work/flashfs/$(basename "$f")" || ok=0; done
cmp -s -n "$(stat -c %s "$work/install/system/Floader.bin")" "$work/install/system/Floader.bin" "$work/images/001-loader.bin" || ok=0
cmp -s -n "$(stat -c %s "$work/install/system/Ethernet.bin")" "$work/install/system/Ethernet.bin" "$work/images/003-kernel.bin" || ok=0
grep -q 'Форматирование завершено! Найдено 2 испорченной памяти!' <(iconv -f CP1251 -t UTF-8 "$work/flash.log") || ok=0
# The run's block in the log (UTF-8): the kernel's CRC-32, the read-back, the result.
crc=$(printf '%08X' "0x$(gzip -c "$work/install/system/Ethernet.bin" | tail -c8 | od -An -tx4 -N4 | tr -d ' ')")
for part in "CRC-32 $crc" 'Проверка записи local_addres.dat: совпадает' 'Результат: 1' \
    'Отчет форматирования: Форматирование завершено!'; do
    grep -qF "$part" "$work/run.log" || { echo "log lacks: $part"; ok=0; }
done
if [ $ok = 1 ]; then
    echo "ok   flash: images, data files, the format report and the log"
else
    echo "FAIL flash: exit $status"; cat "$work/flash.log"; failures=$((failures + 1))
fi
stop_sim $sim_pid

# flash against a controller that always stores the identity file damaged: written twice, then
# the run fails naming it.
# The trace's FILE is taken before flash enters its folder: a relative one lands where it was
# given, with the read-back that failed the run at its end.
pushd "$work" >/dev/null
flash_case "flash with a damaging controller, naming the file" 22 \
    'data.local_addres.dat did not read back' --yes --trace damaging.trace -- \
    --rd-corrupt local_addres.datxall
popd >/dev/null
trace_ends "--trace of a flash given relative to the current folder" "$work/damaging.trace" 16 \
    'открыт COM1$' 1 'EMAC=00:0A' 1

# flash with a system\SHA256SUMS that publishes another kernel: 25, the file and both sums
# named, and the controller has not seen a byte.
cp -r "$sample" "$work/sums"
loader_sum=$(sha256sum "$work/sums/system/Floader.bin" | cut -c1-64)
kernel_sum=$(sha256sum "$work/sums/system/Ethernet.bin" | cut -c1-64)
other_sum=$(printf 'another kernel' | sha256sum | cut -c1-64)
printf '%s  system/Floader.bin\r\n%s *Ethernet.bin\r\n' "$loader_sum" "$other_sum" \
    >"$work/sums/system/SHA256SUMS"
mkdir -p "$work/sums-images" "$work/sums-fs"
line=$work/line.sums
start_sim "$line" --request-ms 300 --images "$work/sums-images" --files "$work/sums-fs" \
    --log "$work/sums-sim.log"
status=0
timeout 60 "$cli" flash --port "$line" --dir "$work/sums" --yes </dev/null >"$work/sums.log" 2>&1 ||
    status=$?
sleep 0.5  # a byte the tool wrote reaches the controller's log within its pacing
ok=1
[ $status -eq 25 ] || ok=0
for part in 'system.Ethernet.bin does not match' "expected SHA-256 (system.SHA256SUMS): $other_sum" \
    "actual SHA-256 of system.Ethernet.bin: $kernel_sum"; do
    grep -q "$part" "$work/sums.log" || { echo "output lacks: $part"; ok=0; }
done
[ -z "$(find "$work/sums-images" "$work/sums-fs" -mindepth 1)" ] || ok=0
! grep -q "in=[1-9]" "$work/sums-sim.log" 2>/dev/null || ok=0
if [ $ok = 1 ]; then
    echo "ok   flash with a mismatching SHA256SUMS: 25, nothing sent"
else
    echo "FAIL flash with a mismatching SHA256SUMS: exit $status"; cat "$work/sums.log"
    failures=$((failures + 1))
fi
stop_sim $sim_pid

# backup: the controller's two files under backup/<MAC>/<stamp>/; the same reading again makes
# no new folder; a controller without calib.inc is no error. identity leaves the current
# folder alone.
mkdir -p "$work/ctl" "$work/ctl2" "$work/user"
printf 'EMAC=00:0A:3C:12:34:56\r\nIP=C0:A8:00:11\r\n' >"$work/ctl/local_addres.dat"
printf 'calibration\r\n\x01' >"$work/ctl/calib.inc"
cp "$work/ctl/local_addres.dat" "$work/ctl2/"
line=$work/line.backup
line2=$work/line.backup2
start_sim "$line2" --start core --files "$work/ctl2"
sim2_pid=$sim_pid
start_sim "$line" --start core --files "$work/ctl"
ok=1
"$cli" backup --port "$line" --out "$work/bk" >/dev/null 2>&1 || ok=0
"$cli" backup --port "$line" --out "$work/bk" >/dev/null 2>&1 || ok=0
kept=("$work"/bk/backup/000A3C123456/*/)
[ ${#kept[@]} -eq 1 ] || ok=0
cmp -s "$work/ctl/calib.inc" "${kept[0]}calib.inc" || ok=0
cmp -s "$work/ctl/local_addres.dat" "${kept[0]}local_addres.dat" || ok=0
"$cli" backup --port "$line2" --out "$work/bk2" >/dev/null 2>&1 || ok=0
kept=("$work"/bk2/backup/000A3C123456/*/)
[ -f "${kept[0]}local_addres.dat" ] && [ ! -e "${kept[0]}calib.inc" ] || ok=0
printf 'the user\x27s own' >"$work/user/local_addres.dat"
(cd "$work/user" && "$cli" identity --port "$line" >"$work/identity.out" 2>&1) || ok=0
grep -q 'MAC 00:0A:3C:12:34:56' "$work/identity.out" || ok=0
[ "$(cat "$work/user/local_addres.dat")" = "the user's own" ] || ok=0
if [ $ok = 1 ]; then
    echo "ok   backup and identity"
else
    echo "FAIL backup and identity"; cat "$work/identity.out"; ls -R "$work/bk" "$work/bk2"; failures=$((failures + 1))
fi
stop_sim $sim_pid $sim2_pid
# backup from a controller that sends a packet of calib.inc again, as one that lost the
# acknowledgement does: the copy holds it once.
mkdir -p "$work/ctl3"
cp "$work/ctl/local_addres.dat" "$work/ctl3/"
head -c 1000 /dev/urandom >"$work/ctl3/calib.inc"
line=$work/line.repeat
start_sim "$line" --start core --files "$work/ctl3" --rd-repeat 3
ok=1
"$cli" backup --port "$line" --out "$work/bk3" >/dev/null 2>&1 || ok=0
kept=("$work"/bk3/backup/000A3C123456/*/)
cmp -s "$work/ctl3/calib.inc" "${kept[0]}calib.inc" || ok=0
if [ $ok = 1 ]; then
    echo "ok   backup from a controller that sends a packet again"
else
    echo "FAIL backup from a controller that sends a packet again"; failures=$((failures + 1))
fi
# read-file into a folder that cannot be written (a plain file stands in its place): the
# reading is good, but a file on disk is what was asked for.
touch "$work/not-a-folder"
status=0
"$cli" read-file --port "$line" calib.inc --out "$work/not-a-folder" >"$work/readfile.log" 2>&1 ||
    status=$?
if [ $status -eq 3 ] && grep -q 'cannot write calib.inc' "$work/readfile.log"; then
    echo "ok   read-file into a folder that cannot be written fails"
else
    echo "FAIL read-file into a folder that cannot be written: status $status"
    cat "$work/readfile.log"; failures=$((failures + 1))
fi
stop_sim $sim_pid
# flash waiting for the engineer at the jumper prompt: Ctrl-C stops it as Cancel does (12, at
# once), though the signal reaches the main thread and the prompt waits on the engine's; and
# standard input that ends before Enter is no Enter (12, and --yes is asked for).
line=$work/line.prompt
start_sim "$line" --request-ms 300 --manual-ms 100
mkfifo "$work/stdin"
exec 7<>"$work/stdin" # held open: the input never ends
"$cli" flash --port "$line" --dir "$work/install" <"$work/stdin" >"$work/prompt.log" 2>&1 &
cli_pid=$!
for _ in $(seq 300); do grep -q 'press Enter' "$work/prompt.log" && break; sleep 0.1; done
if interrupt $cli_pid "Ctrl-C at the jumper prompt"; then
    if [ $status -eq 12 ]; then
        echo "ok   Ctrl-C at the jumper prompt: 12"
    else
        echo "FAIL Ctrl-C at the jumper prompt: exit $status"; cat "$work/prompt.log"
        failures=$((failures + 1))
    fi
fi
exec 7>&-
stop_sim $sim_pid
flash_case "standard input at its end is no Enter, --yes asked for" 12 'give --yes' --

# The adapter pulled out (plcsim's line goes away) before and after the kernel is erased: exit
# 23 at once, and what it means for the controller.
for when in "answer b:old firmware" "answer k:the kernel was erased"; do
    flash_case "the port went away after \"${when%%:*}\"" 23 "${when#*:}" --yes -- \
        --vanish-on "${when%%:*}" --vanish-ms 500
done

# The build's one version, and the ports as paths a command takes with --port.
version=$("$cli" --version)
ports=$("$cli" list-ports)
if [ "$version" = "plcflash-cli $4" ] && [ -z "$(grep -v '^/dev/' <<<"$ports")" ]; then
    echo "ok   version $version, $(wc -l <<<"$ports") ports"
else
    echo "FAIL version '$version' (expected $4) or ports: $ports"; failures=$((failures + 1))
fi

exit $failures
