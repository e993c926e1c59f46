#!/usr/bin/env bash
# The pictures of warnings and boxes in docs/screens, taken from what the Windows tests pictured
# (build/screenshots, left by `make test-windows`): the pages of the good run come from
# `make demo`; these are the states a good run never shows, and every page at 144 DPI. Each picture is the newest of its
# kind; a missing one is named and the others are still taken.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
FROM=${1:-$ROOT/build/screenshots}
TO=$ROOT/docs/screens
missing=0

# take NAME PATTERN [last]: the file matching PATTERN (the highest-numbered box with "last")
take() {
    local name=$1 pattern=$2 pick=${3:-first} found
    if [ "$pick" = last ]; then
        found=$(ls "$FROM"/$pattern 2>/dev/null | sort -V | tail -n 1)
    else
        found=$(ls "$FROM"/$pattern 2>/dev/null | sort -V | head -n 1)
    fi
    if [ -z "$found" ]; then
        echo "screens: no picture $pattern in $FROM" >&2
        missing=1
        return
    fi
    convert "$found" -strip "$TO/$name.png" && echo "$TO/$name.png <- $(basename "$found")"
}

mkdir -p "$TO"
take 07-macip-not-read 'SilentControllerTakesTheTypedMacAndFormats-*-macip-not-read.*'
take 08-macip-calibration-at-risk 'macip-calibration-at-risk.*'
take 09-box-calibration-from-backup 'RestoreTheCalibrationFromTheBackup-box-1.*'
take 10-box-file-name-too-long 'DataFileWithATooLongNameStopsTheRunBeforeAnythingIsSent-box-*.*' last
take 11-box-sum-mismatch 'sum-mismatch-box-*.*' last
take 12-box-port-lost 'DuringTheKernelUpload-box-*.*' last
take 13-box-read-back-failed 'AnIdentityFileTheControllerAlwaysDamagesFailsTheRun-box-*.*' last
# Each page at 150 % (144 DPI), beside the pages of the demo at 100 %.
take 01-welcome-144dpi 'dpi144-1-welcome.*'
take 02-port-144dpi 'dpi144-2-port.*'
take 03-macip-144dpi 'dpi144-3-macip.*'
take 04-jumper-144dpi 'dpi144-4-jumper.*'
take 05-progress-144dpi 'dpi144-5-progress.*'
take 06-result-144dpi 'dpi144-6-result.*'

exit $missing
