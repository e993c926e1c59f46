#!/usr/bin/env bash
# plcsim itself held up (SIGSTOP) while the program's bytes arrive, as a loaded host holds it:
# a fault of content is counted whatever the host did, one of timing is excused only by a
# hold-up in its own exchange that outlasts the wait that ran out. Prints "N passed, N failed".
# Usage: sim_hold_up.sh PLCSIM
set -u
sim=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/sim-hold-up.XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
passed=0
failed=0

noise=$'\x01\x02\x03'          # bytes outside any frame: content
cut=$'\x55\x55\x0a'            # a control message's first three bytes: cut short, timing

# hold CASE BYTES WHEN: a controller in its running kernel is sent BYTES; it is held up for
# 800 ms WHEN: "none", "inside" (right after the bytes), "before" (2 s before them).
hold() {
    local name=$1 bytes=$2 when=$3 link=$work/$1.tty
    "$sim" --link "$link" --start core --log "$work/$name.log" >/dev/null 2>"$work/$name.err" &
    local pid=$!
    for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
    exec 3<>"$link"
    stty -F "$link" raw -echo
    if [ "$when" = before ]; then
        kill -STOP "$pid"; sleep 0.8; kill -CONT "$pid"; sleep 2
    fi
    printf '%s' "$bytes" >&3
    if [ "$when" = inside ]; then
        # Once the controller has taken the first bytes (the exchange has begun) and before
        # its 500 ms wait for the rest runs out.
        sleep 0.25
        kill -STOP "$pid"; sleep 0.8; kill -CONT "$pid"
    fi
    sleep 1.2
    exec 3>&-
    kill "$pid"
    wait "$pid"
    status=$?
}
check() {
    if [ "$3" = counted ]; then
        [ "$status" = 3 ] && grep -q 'plcsim: protocol error' "$work/$1.err" && ok=1 || ok=0
    else
        [ "$status" != 3 ] && grep -q 'plcsim: not counted:.*held plcsim up' "$work/$1.err" && ok=1 || ok=0
    fi
    if [ $ok = 1 ]; then
        passed=$((passed + 1))
    else
        echo "FAIL $1: expected $3, exit $status"
        sed 's/^/    /' "$work/$1.err"
        failed=$((failed + 1))
    fi
}

# case             bytes    hold-up   expected
cases=(
    "noise-quiet      noise    none      counted"
    "noise-held       noise    inside    counted"
    "cut-quiet        cut      none      counted"
    "cut-held         cut      inside    excused"
    "cut-held-before  cut      before    counted"
)
for row in "${cases[@]}"; do
    read -r name bytes when expected <<<"$row"
    [ "$bytes" = noise ] && b=$noise || b=$cut
    hold "$name" "$b" "$when"
    check "$name" "$bytes" "$expected"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
