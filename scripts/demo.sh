#!/usr/bin/env bash
# The assistant against the simulated controller: plcsim on COM3 of a Russian Wine prefix, a
# model 317 that is read in its running kernel and then reflashed through its boot loader, and
# plcflash.exe started in a sample installation folder.
# With a display the window opens for a person to click through. Without one the good run is
# driven through the window by our UI driver under Xvfb, on a Wine desktop that draws title bars,
# and a picture of every page is saved in docs/screens.
set -euo pipefail
source "$(dirname "$0")/wine-common.sh"
DEMO=$ROOT/build/demo
SIMS=$ROOT/build/demo-sims
SHOTS=$ROOT/docs/screens
mkdir -p "$RUN_DIR"
trap cleanup EXIT

headless=1
[ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && headless=0
if [ $headless = 1 ]; then start_display; else start_display use_existing; fi
init_prefix

# The controller: its identity and calibration files in its flash file system, its images kept.
rm -rf "$SIMS" "$RUN_DIR/demo" && mkdir -p "$SIMS/good/files" "$SIMS/good/images" "$RUN_DIR/demo"
printf 'EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n' >"$SIMS/good/files/local_addres.dat"
printf 'calibration of this controller\r\n' >"$SIMS/good/files/calib.inc"
manual=1500
[ $headless = 1 ] && manual=100
start_sim demo COM3 --start core --then loader --then-ms 6000 --request-ms 300 \
    --manual-ms "$manual" --idle-ms 60000 --files "$SIMS/good/files" \
    --images "$SIMS/good/images" --log "$RUN_DIR/demo/e2e-good-line.log"
apply_ports
echo "plcsim is the controller on COM3 (what it saw: $RUN_DIR/demo/e2e-good-line.log)"
echo "what it holds afterwards: $SIMS/good/files and $SIMS/good/images"

if [ $headless = 0 ]; then
    rm -rf "$DEMO" && mkdir -p "$DEMO"
    cp -r "$ROOT/scripts/sample/." "$DEMO/"
    cp "$BUILD_WIN/plcflash.exe" "$DEMO/"
    echo "choose COM3 on the port page; after the MAC/IP page wait about 6 s on the jumper page"
    echo "(the simulated engineer sets the jumper and presses Reset), then go on"
    (cd "$DEMO" && wine plcflash.exe)
    exit 0
fi

# Headless: the good run, driven from outside. Wine's own desktop window draws the title bars
# that Xvfb, having no window manager, would not.
# The run's pictures land apart first: docs/screens also holds pictures this run does not take
# (scripts/screens.sh).
PICTURES=$RUN_DIR/demo-pictures
rm -rf "$PICTURES" "$RUN_DIR/demo-e2e" && mkdir -p "$SHOTS" "$PICTURES" "$RUN_DIR/demo-e2e"
export PLCFLASH_EXE=$(winepath -w "$BUILD_WIN/plcflash.exe")
export PLCFLASH_SAMPLE=$(winepath -w "$ROOT/scripts/sample")
export PLCFLASH_SCREENSHOTS=$(winepath -w "$PICTURES")
export E2E_SIMS=$(winepath -w "$SIMS") E2E_ROOT=$(winepath -w "$RUN_DIR/demo-e2e")
export E2E_PORT_GOOD=COM3 E2E_KERNEL_CRC=$(sample_kernel_crc)
# The driver waits on what the controller logs, where the test rig keeps it.
export E2E_RUN_DIR=$(winepath -w "$RUN_DIR/demo")
export E2E_FIGURES=$(winepath -w "$RUN_DIR/demo-figures.txt")
result=$RUN_DIR/demo-result.xml
rm -f "$result" "$RUN_DIR/demo-figures.txt"
wine explorer /desktop=plcflash,640x480 "$BUILD_WIN/tests/win/plcflash_e2e.exe" \
    --gtest_filter=EndToEnd.GoodRunOfA317 --gtest_output="xml:$(winepath -w "$result")" \
    >"$RUN_DIR/demo-driver.log" 2>&1 || true
for bmp in "$PICTURES"/GoodRunOfA317-[0-9]*.bmp; do
    [ -e "$bmp" ] || continue
    name=$(basename "$bmp" .bmp)
    convert "$bmp" "$SHOTS/${name#GoodRunOfA317-}.png"
done
# The first two boxes of the run: the two manual steps.
[ -e "$PICTURES/GoodRunOfA317-box-1.bmp" ] &&
    convert "$PICTURES/GoodRunOfA317-box-1.bmp" "$SHOTS/05a-box-remove-jumper.png"
[ -e "$PICTURES/GoodRunOfA317-box-2.bmp" ] &&
    convert "$PICTURES/GoodRunOfA317-box-2.bmp" "$SHOTS/05b-box-press-reset.png"
if ! grep -q 'failures="0"' "$result" 2>/dev/null; then
    tr -d '\r' <"$RUN_DIR/demo-driver.log" | iconv -f CP1251 -t UTF-8 -c | tail -n 40 >&2
    echo "the demo run failed" >&2
    exit 1
fi
echo "the good run went through: welcome, port COM3, MAC/IP read, jumper, progress, result"
echo "pictures of every page: $SHOTS"
echo "plcflash.exe over the run: $(tr '\n' ' ' <"$RUN_DIR/demo-figures.txt")"
