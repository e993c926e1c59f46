#!/usr/bin/env bash
# `make test` once everything is built: the native tests and the Windows tests side by side
# (both spend their time waiting on simulated lines, and they share nothing: the native tests'
# controllers are pseudo-terminals of their own, the Windows tests have their own prefixes,
# displays and ports), then the fuzz targets, which keep a core busy and would only slow the
# waits down. Each stage's time is printed, and the run fails when any stage failed.
#
#   scripts/test-all.sh [FUZZ_SECONDS]
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
JOBS=${JOBS:-$(nproc)}
LOGS=$ROOT/build/test-logs
mkdir -p "$LOGS"
failed=()
took() { echo "stage $1: $(($(date +%s) - $2)) s$([ "$3" = 0 ] || echo ", FAILED")"; }

start=$(date +%s)
(cd "$ROOT" && ctest --preset native -j"$JOBS" >"$LOGS/native.log" 2>&1) &
native=$!
wine_start=$(date +%s)
bash "$ROOT/scripts/wine-tests.sh"
wine_status=$?
wine_took=$(took windows "$wine_start" $wine_status)
wait $native
native_status=$?
echo
echo "native tests (run beside the Windows tests):"
cat "$LOGS/native.log"
[ $native_status = 0 ] || failed+=(native)
[ $wine_status = 0 ] || failed+=(windows)
side_took=$(took "native and windows, side by side" "$start" 0)

fuzz_start=$(date +%s)
bash "$ROOT/scripts/fuzz.sh" "${1:-10}"
fuzz_status=$?
[ $fuzz_status = 0 ] || failed+=(fuzz)
echo
echo "$wine_took"
echo "$side_took"
took fuzz "$fuzz_start" $fuzz_status
if [ ${#failed[@]} -gt 0 ]; then
    echo "make test FAILED in: ${failed[*]}"
    exit 1
fi
echo "make test: every stage passed"
