#!/usr/bin/env bash
# plcflash-cli's exit status for each way an upload ends, against plcsim's image receiver.
set -uo pipefail
cli=$1
sim=$2
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
head -c 1000 /dev/urandom >"$work/image.bin"

failures=0
check() {  # name expected-status plcsim-options...
    local name=$1 expected=$2
    shift 2
    local line=$work/line.$RANDOM
    # The receiver stays up until the sender is done: a line whose far end is gone loses
    # what was still queued for the sender.
    "$sim" --link "$line" --receive --request-ms 50 --idle-ms 2000 "$@" >/dev/null 2>&1 &
    local sim_pid=$!
    for _ in $(seq 100); do [ -e "$line" ] && break; sleep 0.05; done
    "$cli" send-image --port "$line" "$work/image.bin" >/dev/null 2>&1
    local status=$?
    kill $sim_pid
    wait $sim_pid 2>/dev/null
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

"$cli" send-image --port "$work/none" "$work/missing.bin" >/dev/null 2>&1
status=$?
[ $status -eq 3 ] && echo "ok   missing file: 3" || { echo "FAIL missing file: $status"; failures=$((failures + 1)); }
"$cli" send-image "$work/image.bin" >/dev/null 2>&1
status=$?
[ $status -eq 2 ] && echo "ok   usage: 2" || { echo "FAIL usage: $status"; failures=$((failures + 1)); }
"$cli" send-image --port "$work/none" "$work/image.bin" >/dev/null 2>&1
status=$?
[ $status -eq 18 ] && echo "ok   no such port: 18" || { echo "FAIL no such port: $status"; failures=$((failures + 1)); }
exit $failures
