#!/usr/bin/env bash
# Runs the Windows tests under Wine: plcsim on COM ports, plcflash.exe under Xvfb; then the
# 32-bit plcflash.exe's start-up and good run, and the start-up in an English Windows.
set -euo pipefail
source "$(dirname "$0")/wine-common.sh"
mkdir -p "$RUN_DIR"
LOCKED_SET=
# The immutable installation must not outlive the run: nothing could remove it afterwards.
trap 'cleanup; [ -n "$LOCKED_SET" ] && chattr -R -i "$RUN_DIR/locked-install" 2>/dev/null; true' EXIT
# Found missing now rather than after the 64-bit cases; only needed where the 32-bit pass runs.
if [ "$RUNS_32BIT" = 1 ] && [ ! -f "$BUILD_WIN32/plcflash.exe" ]; then
    echo "no $BUILD_WIN32/plcflash.exe: make windows32" >&2
    exit 1
fi

start_display
init_prefix
# Ports mapped by an earlier run may lead to pseudo-terminals now reused by other controllers:
# Wine keeps them both in the registry and as links in dosdevices.
wine reg delete 'HKLM\Software\Wine\Ports' /va /f >/dev/null 2>&1 || true
rm -f "$WINEPREFIX"/dosdevices/com[0-9]*
start_sim console COM5 --start kernel-menu --request-ms 300 --manual-ms 50 --idle-ms 3000
start_sim echo COM12 --echo
rm -rf "$RUN_DIR/images" && mkdir -p "$RUN_DIR/images"
start_sim image COM7 --receive --request-ms 300 --images "$RUN_DIR/images"
rm -rf "$RUN_DIR/flash-files" && mkdir -p "$RUN_DIR/flash-files"
start_sim flash COM9 --request-ms 300 --manual-ms 100 --files "$RUN_DIR/flash-files"
# The MAC/IP page's controllers: one to read, one silent, one with a damaged identity file; and
# one for the progress page's runs, its boot loader starting over after each.
for f in identity damaged run; do rm -rf "$RUN_DIR/$f-files" && mkdir -p "$RUN_DIR/$f-files"; done
printf 'EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n' >"$RUN_DIR/identity-files/local_addres.dat"
printf 'calibration 1.0\r\n' >"$RUN_DIR/identity-files/calib.inc"
printf 'EMAC=00:1A:2B\r\nIP=0A:00:00:05\r\n' >"$RUN_DIR/damaged-files/local_addres.dat"
rm -f "$RUN_DIR/identity-line.log"
start_sim identity COM11 --start core --files "$RUN_DIR/identity-files" \
    --log "$RUN_DIR/identity-line.log"
start_sim silent COM13 --start core --rd-silent
start_sim damaged COM14 --start core --files "$RUN_DIR/damaged-files"
rm -f "$RUN_DIR/run-line.log"
start_sim run COM15 --request-ms 300 --manual-ms 100 --idle-ms 15000 --files "$RUN_DIR/run-files" \
    --log "$RUN_DIR/run-line.log"
# A boot loader that falls silent at the loader's fifth block: a failed run leaves its line trace.
start_sim trace COM16 --request-ms 300 --manual-ms 100 --idle-ms 15000 --silent-after-block 5
# The console tool's two flashes whose rows go into one record, a controller each.
for com in COM17 COM18; do
    rm -rf "$RUN_DIR/record-$com" && mkdir -p "$RUN_DIR/record-$com"
    start_sim "record-$com" "$com" --request-ms 300 --manual-ms 100 --files "$RUN_DIR/record-$com"
done
# The end-to-end scenarios' controllers, each read in its running kernel first and then
# reflashed through its boot loader (--then loader).
SIMS=$RUN_DIR/sims
rm -rf "$SIMS" "$RUN_DIR/e2e" && mkdir -p "$RUN_DIR/e2e"
E2E_SIM=(--start core --then loader --then-ms 6000 --request-ms 300 --manual-ms 100)
e2e_sim() {
    local name=$1 com=$2
    shift 2
    mkdir -p "$SIMS/$name/files" "$SIMS/$name/images"
    # The tests count what the controller logged in this run only.
    rm -f "$RUN_DIR/e2e-$name-line.log"
    start_sim "e2e-$name" "$com" "${E2E_SIM[@]}" \
        --files "$SIMS/$name/files" --images "$SIMS/$name/images" \
        --log "$RUN_DIR/e2e-$name-line.log" "$@"
}
identity() { printf 'EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n' >"$SIMS/$1/files/local_addres.dat"; }
e2e_sim good COM21 --idle-ms 20000
identity good
printf 'calibration of this controller\r\n\x01\x02\xff' >"$SIMS/good/files/calib.inc"
e2e_sim format COM22 --idle-ms 20000 --bad-pages 5
identity format
e2e_sim silent COM23 --idle-ms 20000 --rd-silent
e2e_sim cancel COM25 --idle-ms 6000
identity cancel
e2e_sim drop COM26 --idle-ms 20000 --fault-image 3 --silent-after-block 30
identity drop
e2e_sim check COM27 --idle-ms 20000
identity check
# The identity's safety net: a 317 read, then found in its boot loader by the next start; two
# 317s, A read and B not (B stores its identity file damaged once); one that always damages it.
e2e_sim restore COM32 --idle-ms 20000
identity restore
printf 'calibration of the restored one\r\n\x05\x06' >"$SIMS/restore/files/calib.inc"
e2e_sim two-a COM33 --idle-ms 20000
identity two-a
printf 'calibration of A\r\n' >"$SIMS/two-a/files/calib.inc"
e2e_sim two-b COM34 --idle-ms 20000 --rd-silent --rd-corrupt local_addres.dat
e2e_sim damaging COM35 --idle-ms 20000 --rd-corrupt local_addres.datxall
identity damaging
# Cancel and close: a boot loader that never asks for an image, a kernel that does not announce
# itself, a run to a large data file, and a 317 whose reading is slow.
e2e_sim quiet COM36 --idle-ms 20000 --silent-after loader
identity quiet
e2e_sim unannounced COM37 --idle-ms 30000 --no-core-message
identity unannounced
e2e_sim large COM38 --idle-ms 20000
identity large
e2e_sim slow COM39 --idle-ms 20000 --rd-silent
# Two copies of the program from one folder, one per controller; and a 317 read by a program
# whose folder cannot be written.
e2e_sim copy-a COM46 --idle-ms 30000
printf 'EMAC=02:00:00:00:00:0A\r\nIP=0A:00:00:0A\r\n' >"$SIMS/copy-a/files/local_addres.dat"
printf 'calibration of copy A\r\n\x0a' >"$SIMS/copy-a/files/calib.inc"
e2e_sim copy-b COM47 --idle-ms 30000
printf 'EMAC=02:00:00:00:00:0B\r\nIP=0A:00:00:0B\r\n' >"$SIMS/copy-b/files/local_addres.dat"
printf 'calibration of copy B\r\n\x0b\x0b' >"$SIMS/copy-b/files/calib.inc"
e2e_sim locked COM48 --idle-ms 20000
printf 'EMAC=02:4C:4F:43:4B:44\r\nIP=0A:00:00:4C\r\n' >"$SIMS/locked/files/local_addres.dat"
printf 'calibration of the locked one\r\n' >"$SIMS/locked/files/calib.inc"
# Adapters pulled out: during the kernel upload, and as the controller is being read.
e2e_sim pulled-upload COM49 --idle-ms 20000 --vanish-on "answer k" --vanish-ms 1500
identity pulled-upload
e2e_sim pulled-read COM50 --idle-ms 20000 --vanish-on "read local_addres.dat"
identity pulled-read
# The tests run as root, whom permission bits do not stop: the folder is made immutable. A file
# system without the attribute leaves the scenario skipped (it says so).
LOCKED=$RUN_DIR/locked-install
[ -d "$LOCKED" ] && { chattr -R -i "$LOCKED" 2>/dev/null || true; }
rm -rf "$LOCKED" && mkdir -p "$LOCKED"
cp -r "$ROOT/scripts/sample/system" "$ROOT/scripts/sample/data" "$ROOT/scripts/sample/plc.ini" \
    "$BUILD_WIN/plcflash.exe" "$LOCKED/"
if chattr -R +i "$LOCKED" 2>/dev/null; then
    export E2E_LOCKED_INSTALL=$(winepath -w "$LOCKED")
    LOCKED_SET=1
else
    echo "chattr +i is not supported here: the scenario with a folder that cannot be written is skipped"
fi
# The 32-bit plcflash.exe's good run: a controller of its own holding what `good` holds, in a
# folder of its own laid out as the scenario expects.
RUN32=$RUN_DIR/32-bit
rm -rf "$RUN32" && mkdir -p "$RUN32/e2e" "$RUN32/sims/good/images"
cp -r "$SIMS/good/files" "$RUN32/sims/good/files"
start_sim e2e32-good COM40 "${E2E_SIM[@]}" --idle-ms 20000 --files "$RUN32/sims/good/files" \
    --images "$RUN32/sims/good/images" --log "$RUN32/e2e-good-line.log"
wine reg delete 'HKLM\Software\Wine\Ports' /v COM24 /f >/dev/null 2>&1 || true
apply_ports
# A port Windows still lists but that is gone, like an unplugged USB adapter's. The HARDWARE
# hive is volatile: a Wine server started anew has it no more.
unplugged_port() {
    wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Unplugged' /t REG_SZ \
        /d COM24 /f >/dev/null 2>&1
}
unplugged_port

export PLCSIM_CONSOLE_PORT=COM5 PLCSIM_ECHO_PORT=COM12
export PLCSIM_IMAGE_PORT=COM7 PLCSIM_IMAGE_DIR=$RUN_DIR/images
export PLCSIM_IDENTITY_PORT=COM11 PLCSIM_SILENT_PORT=COM13 PLCSIM_DAMAGED_PORT=COM14
export PLCSIM_RUN_PORT=COM15 PLCSIM_TRACE_PORT=COM16 PLCSIM_RECORD_PORTS=COM17,COM18
export E2E_PORT_GOOD=COM21 E2E_PORT_FORMAT=COM22 E2E_PORT_SILENT=COM23 E2E_PORT_MISSING=COM24
export E2E_PORT_CANCEL=COM25 E2E_PORT_DROP=COM26 E2E_PORT_CHECK=COM27
export E2E_PORT_RESTORE=COM32 E2E_PORT_TWO_A=COM33 E2E_PORT_TWO_B=COM34 E2E_PORT_DAMAGING=COM35
export E2E_PORT_QUIET=COM36 E2E_PORT_UNANNOUNCED=COM37 E2E_PORT_LARGE=COM38 E2E_PORT_SLOW=COM39
export E2E_PORT_COPY_A=COM46 E2E_PORT_COPY_B=COM47 E2E_PORT_LOCKED=COM48
export E2E_PORT_PULLED_UPLOAD=COM49 E2E_PORT_PULLED_READ=COM50
# The kernel's CRC-32 as the run log must give it: gzip's trailer carries it.
E2E_KERNEL_CRC=$(sample_kernel_crc)
export E2E_KERNEL_CRC E2E_RUN_DIR=$(winepath -w "$RUN_DIR")
# scripts/bench-cancel.sh: where the Cancel cases note how long each took.
if [ -n "${E2E_CANCEL_TIMES_UNIX:-}" ]; then
    export E2E_CANCEL_TIMES=$(winepath -w "$E2E_CANCEL_TIMES_UNIX")
fi
export E2E_SIMS=$(winepath -w "$SIMS") E2E_ROOT=$(winepath -w "$RUN_DIR/e2e")
export PLCSIM_FLASH_PORT=COM9 PLCSIM_FLASH_FILES=$(winepath -w "$RUN_DIR/flash-files")
export PLCFLASH_SAMPLE=$(winepath -w "$ROOT/scripts/sample")
# A second rig beside a running one takes its pictures elsewhere too.
SHOTS=${PLCFLASH_SCREENSHOT_DIR:-$ROOT/build/screenshots}
rm -rf "$SHOTS" && mkdir -p "$SHOTS"
export PLCFLASH_SCREENSHOTS=$(winepath -w "$SHOTS")
export PLCFLASH_EXE=$(winepath -w "$BUILD_WIN/plcflash.exe")
# The longest entry, e2e.EndToEnd (about half of all the time), runs beside the others, in a
# prefix and on a display of its own: a copy of this prefix, ports mapped, with its own Wine
# server, so neither the DPI runs' LogPixels nor a window or a box of the other side reaches
# it, and its controllers (COM21-35, COM39) are no other entry's. Each side's entries still run
# one at a time: they share controllers within a side. PLCFLASH_WINE_SERIAL=1 (or any ctest
# argument, such as -R) runs everything in this prefix, one after the other.
split_ok=1
if [ $# -eq 0 ] && [ "${PLCFLASH_WINE_SERIAL:-}" != 1 ]; then
    E2E_PREFIX=$WINEPREFIX-e2e
    stop_server
    rm -rf "$E2E_PREFIX"
    cp -a "$WINEPREFIX" "$E2E_PREFIX"
    apply_ports
    unplugged_port
    main_display=$DISPLAY
    start_display
    e2e_display=$DISPLAY
    export DISPLAY=$main_display
    (
        export WINEPREFIX=$E2E_PREFIX DISPLAY=$e2e_display
        apply_ports e2e
        unplugged_port
        ctest --test-dir "$BUILD_WIN" -R '^e2e\.EndToEnd$' --output-on-failure \
            >"$RUN_DIR/e2e-ctest.log" 2>&1
        status=$?
        wineserver -k >/dev/null 2>&1
        exit $status
    ) &
    e2e_pid=$!
    PIDS+=($e2e_pid)
    ctest --test-dir "$BUILD_WIN" -E '^e2e\.EndToEnd$' --output-on-failure || split_ok=0
    wait $e2e_pid || split_ok=0
    echo "e2e.EndToEnd (beside the rest, in $E2E_PREFIX):"
    cat "$RUN_DIR/e2e-ctest.log"
else
    ctest --test-dir "$BUILD_WIN" --output-on-failure "$@" || split_ok=0
fi

# run_cases TITLE LOG COMMAND...: a set of cases whose summary is shown and whole output kept,
# failing the script with the failures when any fails.
run_cases() {
    local title=$1 log=$2
    shift 2
    echo "$title"
    if "$@" >"$log" 2>&1; then
        tr -d '\r' <"$log" | tail -n 3
    else
        tr -d '\r' <"$log" | iconv -f CP1251 -t UTF-8 -c | tail -n 40
        echo "$title FAILED (the whole output: $log)" >&2
        return 1
    fi
}

# The 32-bit plcflash.exe in the same Russian Windows, driven by the 64-bit test programs.
if [ "$RUNS_32BIT" = 1 ]; then
    EXE32=$(winepath -w "$BUILD_WIN32/plcflash.exe")
    mkdir -p "$SHOTS/32-bit"
    run_cases "32-bit start-up:" "$RUN32/startup.log" \
        env PLCFLASH_EXE="$EXE32" PLCFLASH_SCREENSHOTS="$(winepath -w "$SHOTS/32-bit")" \
        wine "$BUILD_WIN/tests/win/plcflash_wintests.exe" --gtest_filter='Cases/Startup.*'
    run_cases "32-bit good run:" "$RUN32/good-run.log" \
        env PLCFLASH_EXE="$EXE32" PLCFLASH_SCREENSHOTS="$(winepath -w "$SHOTS/32-bit")" \
        E2E_PORT_GOOD=COM40 E2E_SIMS="$(winepath -w "$RUN32/sims")" \
        E2E_ROOT="$(winepath -w "$RUN32/e2e")" E2E_RUN_DIR="$(winepath -w "$RUN32")" \
        wine "$BUILD_WIN/tests/win/plcflash_e2e.exe" --gtest_filter=EndToEnd.GoodRunOfA317
else
    say_32bit_skipped
fi

check_sims || split_ok=0
[ $split_ok = 1 ] || { echo "the Windows tests FAILED" >&2; exit 1; }

# The pictures the tests took, as PNG for people to look at.
for bmp in "$SHOTS"/*.bmp "$SHOTS"/32-bit/*.bmp; do
    [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp"
done
echo "screenshots: $SHOTS"

# The assistant must read correctly on a Windows whose ANSI code page is not 1251: the start-up
# cases again in a prefix with an English locale.
wineserver -k >/dev/null 2>&1 || true
export WINEPREFIX=$WINEPREFIX-en LANG=C.UTF-8 LC_ALL=C.UTF-8
init_prefix
# A folder named in Cyrillic is where an English Windows used to lose the pictures.
run_cases "start-up under an English Windows:" "$RUN_DIR/startup-en.log" \
    wine "$BUILD_WIN/tests/win/plcflash_wintests.exe" \
    --gtest_filter='Cases/Startup.*:Cases/UnicodeFolder.*'
