#!/usr/bin/env bash
# The bench soak's own checks catch a planted fault: a controller given another's identity,
# a record row gone. Each plant must fail the soak, naming the check. Prints "N passed, N failed".
# Usage: soak_checks.sh BUILD-FOLDER (holding cli/plcflash-cli and sim/plcsim)
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/soak-checks.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0
# plant            the check that must catch it
cases=(
    "swap-identity   foreign: controller 1 (or its backup) holds controller 2's bytes"
    "drop-row        record: 1 row(s) and 0 refusal(s) for 2 attempt(s)"
)
for row in "${cases[@]}"; do
    read -r plant expected <<<"$row"
    out=$(TMPDIR=$tmp SOAK_BUILD=$1 SOAK_PLANT=$plant SOAK_PORTS=2 SOAK_ONLY=none \
        SOAK_RUN_FAULTS=none bash "$root/scripts/soak-update.sh" 1 1 2>&1)
    status=$?
    if [ $status = 1 ] && grep -qF "    $expected" <<<"$out"; then
        passed=$((passed + 1))
    else
        echo "FAIL planted $plant: exit $status, expected the violation \"$expected\""
        echo "$out" | sed 's/^/    /'
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
