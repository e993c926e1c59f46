# Shared by wine-tests.sh and demo.sh: the private Wine prefix (a Russian Windows), a display,
# simulated controllers and the COM ports that lead to them. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# A second rig beside a running one needs its own builds, prefix and folder
# (PLCFLASH_WINEPREFIX too).
BUILD_WIN=${PLCFLASH_BUILD_WIN:-$ROOT/build/windows}
BUILD_WIN32=${PLCFLASH_BUILD_WIN32:-$ROOT/build/windows32}
BUILD_NATIVE=${PLCFLASH_BUILD_NATIVE:-$ROOT/build/native}
RUN_DIR=${PLCFLASH_RUN_DIR:-$ROOT/build/run}
PLCSIM=$BUILD_NATIVE/sim/plcsim
source "$ROOT/scripts/sim-priority.sh"

export WINEPREFIX=${PLCFLASH_WINEPREFIX:-$ROOT/build/wine-prefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# Wine takes the Windows locale, and with it the ANSI code page 1251, from these.
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
# No offer to install Mono or Gecko when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Debian's `wine` (and wineboot, winepath, which call it) starts the 32-bit loader whenever
# wine32 is installed, even for a 64-bit program; on a kernel that cannot run 32-bit programs
# that fails with "Exec format error". There, and where wine32 could not be installed (a
# mirror mid-sync, unmet multi-arch dependencies: install-deps.sh said why), the 64-bit loader
# runs everything, through stand-ins for `wine` and `wine-stable` put first on the PATH, and
# the 32-bit pass is skipped.
if ! bash "$ROOT/scripts/runs-32bit.sh"; then
    RUNS_32BIT=0
    NO_32BIT_REASON="this kernel cannot run 32-bit programs (no IA-32 emulation)"
elif [ "${PLCFLASH_ASSUME_NO_WINE32:-}" != 1 ] &&
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    RUNS_32BIT=1
else
    RUNS_32BIT=0
    NO_32BIT_REASON="wine32:i386 is not installed"
    left_out=${PLCFLASH_STATE_DIR:-/var/tmp/plcflash}/wine32-left-out
    [ -s "$left_out" ] && NO_32BIT_REASON+=" ($(head -n 1 "$left_out"))"
fi
if [ "$RUNS_32BIT" = 0 ]; then
    WINE64_BIN=$ROOT/build/wine64-only
    mkdir -p "$WINE64_BIN"
    # Written aside and renamed: a test that sources this file while the Windows tests run
    # must never let them start a stand-in half written.
    for name in wine wine-stable; do
        printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
            >"$WINE64_BIN/.$name.$$"
        chmod +x "$WINE64_BIN/.$name.$$"
        mv -f "$WINE64_BIN/.$name.$$" "$WINE64_BIN/$name"
    done
    export PATH=$WINE64_BIN:$PATH WINELOADER=/usr/lib/wine/wine64
fi

# The one line a run without the 32-bit pass prints instead of it.
say_32bit_skipped() {
    echo "32-bit pass SKIPPED: $NO_32BIT_REASON, so the 32-bit plcflash.exe was built but not run"
}

PIDS=()
XVFB_PIDS=()
E2E_PREFIX=

cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$E2E_PREFIX" ] && { WINEPREFIX=$E2E_PREFIX wineserver -k >/dev/null 2>&1 || true; }
    for pid in "${XVFB_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}

# A private X server, unless `use_existing` is given and a display is already there.
start_display() {
    if [ "${1:-}" = use_existing ] && [ -n "${DISPLAY:-}" ]; then return 0; fi
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1920x1440x24 -nolisten tcp >"$RUN_DIR/xvfb-$n.log" 2>&1 &
    XVFB_PIDS+=($!)
    export DISPLAY=":$n"
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2
    return 1
}

init_prefix() {
    local wow64=$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll
    # A prefix made while wine32 was not installed has no 32-bit Windows in it, and `wineboot -u`
    # cannot add one (it runs a 32-bit program to do so). The prefix holds nothing of ours that
    # a run does not set up again, so it is made anew.
    if [ "$RUNS_32BIT" = 1 ] && [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$wow64" ]; then
        echo "making the Wine prefix $WINEPREFIX again, now with its 32-bit half"
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "creating the Wine prefix $WINEPREFIX"
        wineboot -i >"$RUN_DIR/wineboot.log" 2>&1
        wineserver -w
    fi
    if [ "$RUNS_32BIT" = 1 ] && [ ! -f "$wow64" ]; then
        echo "no 32-bit Windows in $WINEPREFIX: is wine32:i386 installed?" >&2
        return 1
    fi
}

# start_sim NAME COMn [plcsim options...]: a simulated controller whose line Wine shows as COMn.
start_sim() {
    local name=$1 com=$2
    shift 2
    local link=$RUN_DIR/$name.tty log=$RUN_DIR/$name.log
    rm -f "$link"
    "${SIM_NICE[@]}" "$PLCSIM" --link "$link" "$@" >"$log" 2>&1 &
    PIDS+=($!)
    for _ in $(seq 100); do grep -q '^plcsim: ready' "$log" 2>/dev/null && break; sleep 0.05; done
    grep -q '^plcsim: ready' "$log" || { echo "plcsim $name did not start" >&2; cat "$log" >&2; return 1; }
    wine reg add 'HKLM\Software\Wine\Ports' /v "$com" /t REG_SZ /d "$link" /f >/dev/null 2>&1
}

# The controllers' complaints about the program: any fails the run, whatever else passed.
# What a controller excused (a fault of timing in an exchange the host held it up in) is
# counted and said, with the hold-up and the wait it outlasted.
check_sims() {
    local found excused
    excused=$(grep -H 'plcsim: not counted' "$RUN_DIR"/*.log 2>/dev/null || true)
    if [ -n "$excused" ]; then
        echo "the simulated controllers excused $(wc -l <<<"$excused") timing error(s):"
        head -n 20 <<<"$excused"
    else
        echo "the simulated controllers excused no error"
    fi
    found=$(grep -H 'plcsim: protocol error' "$RUN_DIR"/*.log 2>/dev/null | head -n 20 || true)
    if [ -n "$found" ]; then
        echo "the simulated controllers counted protocol errors:" >&2
        echo "$found" >&2
        return 1
    fi
    echo "the simulated controllers counted no protocol error"
}

# Wine reads its port map when its server starts. The server is started here, persistent and
# with its own log, so its closing dump of objects does not land in the test output.
# The first program a new server runs starts the prefix's services (services.exe,
# winedevice.exe, plugplay.exe), which inherit its standard output: were that program a ctest
# entry, ctest would wait for the services' end. A `reg query` of our own runs first instead.
# apply_ports [NAME]: NAME tells the server's log apart when two prefixes run at once.
stop_server() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
}
apply_ports() {
    stop_server
    wineserver -p >"$RUN_DIR/wineserver${1:+-$1}.log" 2>&1
    wine reg query 'HKLM\Software\Wine\Ports' >/dev/null 2>&1 || true
}

# The sample kernel's CRC-32 as the run log and the record write it (gzip's trailer holds it).
sample_kernel_crc() {
    printf '%08X' "0x$(gzip -c "$ROOT/scripts/sample/system/Ethernet.bin" | tail -c8 |
        od -An -tx4 -N4 | tr -d ' ')"
}
