#!/usr/bin/env bash
# The assistant against the simulated controller: plcsim on COM3 of a Russian Wine prefix,
# plcflash.exe started in a sample folder. With a display it runs until you close it; without
# one it runs under Xvfb, and a screenshot is saved in build/demo.
set -euo pipefail
source "$(dirname "$0")/wine-common.sh"
DEMO=$ROOT/build/demo
mkdir -p "$RUN_DIR"
trap cleanup EXIT

rm -rf "$DEMO"
mkdir -p "$DEMO"
cp -r "$ROOT/scripts/sample/." "$DEMO/"
cp "$BUILD_WIN/plcflash.exe" "$DEMO/"
echo "left over from an earlier run" >"$DEMO/data/calib.inc"

headless=1
[ -n "${DISPLAY:-}" ] && headless=0
if [ $headless = 1 ]; then start_display; else start_display use_existing; fi
init_prefix
start_sim demo COM3 --log "$RUN_DIR/demo-controller.log"
apply_ports

echo "plcsim is the controller on COM3 (what it saw: $RUN_DIR/demo-controller.log)"
if [ $headless = 0 ]; then
    (cd "$DEMO" && wine plcflash.exe)
    exit 0
fi

# Headless: no window manager draws title bars, so Wine's own desktop window does; wait for
# the assistant in it, photograph it, close it with Cancel.
(cd "$DEMO" && wine explorer /desktop=plcflash,800x560 plcflash.exe) &
app=$!
win=
for _ in $(seq 200); do
    win=$(xdotool search --name 'Wine' 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && break
    sleep 0.1
done
[ -n "$win" ] || { echo "the assistant did not open" >&2; exit 1; }
sleep 2
import -window "$win" "$DEMO/screenshot-startup.png"
echo "screenshot: $DEMO/screenshot-startup.png"
# The Cancel button ("Отмена"), where the template puts it in Wine's desktop.
xdotool mousemove --window "$win" 415 358 click 1 2>/dev/null || true
# Wine's desktop window outlives the program: the program's exit shows in its clean-up, which
# removes the calibration file left from an earlier run.
for _ in $(seq 100); do [ -e "$DEMO/data/calib.inc" ] || break; sleep 0.1; done
[ -e "$DEMO/data/calib.inc" ] && { echo "the assistant did not close cleanly" >&2; exit 1; }

# Until the assistant's pages drive it, the engine of the same Windows build flashes the sample
# through COM3 from the console tool: three uploads, the formatting report, the data files.
echo "flashing the sample installation through COM3 with plcflash-cli.exe"
wine "$BUILD_WIN/cli/plcflash-cli.exe" flash --port COM3 --dir "$(winepath -w "$DEMO")" \
    --format --yes 2>&1 | tr -d '\r' | iconv -f CP1251 -t UTF-8 | tee "$DEMO/flash.log"
grep -q 'flashing done' "$DEMO/flash.log" || { echo "the flashing run failed" >&2; exit 1; }
echo "demo finished; the controller's log: $RUN_DIR/demo-controller.log"
