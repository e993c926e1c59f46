#!/usr/bin/env bash
# Runs the Windows tests under Wine: plcsim on two COM ports, plcflash.exe under Xvfb.
set -euo pipefail
source "$(dirname "$0")/wine-common.sh"
mkdir -p "$RUN_DIR"
trap cleanup EXIT

start_display
init_prefix
start_sim console COM5 --start kernel-menu --request-ms 200 --manual-ms 50 --idle-ms 3000
start_sim echo COM12 --echo
apply_ports

export PLCSIM_CONSOLE_PORT=COM5 PLCSIM_ECHO_PORT=COM12
export PLCFLASH_EXE=$(winepath -w "$BUILD_WIN/plcflash.exe")
ctest --test-dir "$BUILD_WIN" --output-on-failure "$@"
