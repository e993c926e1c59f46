#!/usr/bin/env bash
# The Scaling suite at 96, 144 and 192 DPI, one after the other in the test prefix: Wine takes
# the display's DPI from its LogPixels value when a process starts. The 96-DPI run leaves the
# assistant's size for the others to compare with; the prefix is left at 96 whatever happens.
# Usage: dpi_runs.sh TESTS_EXE
set -uo pipefail
EXE=$1
KEY='HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'
FIGURES=$(mktemp)
set_dpi() {
    wine reg add "$KEY" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
trap 'set_dpi 96; rm -f "$FIGURES"' EXIT
export PLCFLASH_DPI_FIGURES=$(winepath -w "$FIGURES")
status=0
for dpi in 96 144 192; do
    set_dpi "$dpi"
    echo "== the assistant at $dpi DPI"
    PLCFLASH_EXPECT_DPI=$dpi wine "$EXE" --suite=Scaling || status=1
done
exit $status
