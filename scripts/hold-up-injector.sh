#!/usr/bin/env bash
# Holds processes up the way a loaded host does: about every EVERY ms, each process whose
# command line matches PATTERN (pgrep -f) is stopped for MS ms and let go again. To see that
# what the simulated controller excuses is only what such hold-ups cause: a test run under it
# must fail on the same faults as without it (docs/benchmarks.md).
#
#   scripts/hold-up-injector.sh PATTERN [MS [EVERY_MS [SECONDS]]]   (200, 1000, 3600)
set -u
PATTERN=${1:?usage: hold-up-injector.sh PATTERN [MS [EVERY_MS [SECONDS]]]}
MS=${2:-200}
EVERY=${3:-1000}
LIMIT=${4:-3600}
held=()
count=0
release() { [ ${#held[@]} -gt 0 ] && kill -CONT "${held[@]}" 2>/dev/null; held=(); }
finish() {
    release
    echo "hold-up-injector: $count hold-up(s) of $MS ms" >&2
    exit 0
}
trap finish INT TERM
end=$((SECONDS + LIMIT))
while [ $SECONDS -lt $end ]; do
    # Jittered by up to half the period, so the hold-ups fall anywhere in an exchange.
    gap=$((EVERY / 2 + RANDOM % (EVERY + 1)))
    sleep "$(printf '%d.%03d' $((gap / 1000)) $((gap % 1000)))"
    mapfile -t held < <(pgrep -f -- "$PATTERN" | grep -vx "$$")
    [ ${#held[@]} -gt 0 ] || continue
    kill -STOP "${held[@]}" 2>/dev/null
    sleep "$(printf '%d.%03d' $((MS / 1000)) $((MS % 1000)))"
    release
    count=$((count + 1))
done
finish
