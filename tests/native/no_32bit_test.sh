#!/usr/bin/env bash
# What a kernel without 32-bit support makes of the test rig, the answer of scripts/runs-32bit.sh
# stood in for by PLCFLASH_ASSUME_NO_32BIT=1: no wine32 to install, `wine` starting the 64-bit
# loader, and the skip line said. Then the same with the kernel's own answer. Prints
# "N passed, N failed".
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
passed=0
failed=0
check() {
    if eval "$2"; then
        passed=$((passed + 1))
    else
        echo "FAIL $1"
        failed=$((failed + 1))
    fi
}

export PLCFLASH_ASSUME_NO_32BIT=1
check "the probe answers no" '! bash "$root/scripts/runs-32bit.sh"'
packages=$(bash "$root/scripts/install-deps.sh" --print-packages)
check "no wine32 to install" '! grep -q "^wine32" <<<"$packages" && grep -qx wine64 <<<"$packages"'
rig=$(
    source "$root/scripts/wine-common.sh"
    echo "runs=$RUNS_32BIT"
    echo "wine=$(command -v wine)"
    echo "loader=$(sed -n 's/^exec \([^ ]*\).*/\1/p' "$(command -v wine-stable)")"
    say_32bit_skipped
)
check "the rig knows" 'grep -qx "runs=0" <<<"$rig"'
check "wine is the 64-bit stand-in" 'grep -qx "wine=$root/build/wine64-only/wine" <<<"$rig"'
check "wine-stable too (wineboot, winepath)" 'grep -qx "loader=/usr/lib/wine/wine64" <<<"$rig"'
check "the skip line" 'grep -q "^32-bit pass SKIPPED: this kernel cannot run 32-bit programs" <<<"$rig"'

unset PLCFLASH_ASSUME_NO_32BIT
# The kernel's own answer decides the same way: wine32 is asked for exactly when it can run.
packages=$(bash "$root/scripts/install-deps.sh" --print-packages)
if bash "$root/scripts/runs-32bit.sh"; then
    check "wine32 where 32-bit runs" 'grep -qx "wine32:i386" <<<"$packages"'
else
    check "no wine32 where 32-bit does not run" '! grep -q "^wine32" <<<"$packages"'
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
