#!/usr/bin/env bash
# How strong are the unit tests of the protocol code? Each mutation below is a typical slip (a
# wrong size band, a missing reset, a changed limit or constant, swapped bytes, an off-by-one),
# applied alone to a copy of the tree; the native unit tests of that code then run against it.
# A mutant the tests pass has SURVIVED: a fault of that kind would go unnoticed.
#
#   scripts/mutate.sh [WORD]    only the mutations whose file or description contains WORD
#   scripts/mutate.sh --check   only whether every mutation still applies (no build)
#   MUTATE_HOLD_UPS=1 scripts/mutate.sh   the same with the tests held up 200 ms every second
#
# The copy is build/mutate/src (the working tree's files, the tests included), built without
# sanitizers in build/mutate/build, so only the mutated file recompiles. A mutation whose text
# is no longer in its file is reported NOT APPLIED and fails the script: the list must follow
# the code. Exit status: 0 when every mutant was killed.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=$ROOT/build/mutate
SRC=$WORK/src
BUILD=$WORK/build
ONLY=${1:-}
TEST_SECONDS=300

FILES=() DESCRIPTIONS=() FROMS=() TOS=()
mutant() {
    FILES+=("$1") DESCRIPTIONS+=("$2") FROMS+=("$3") TOS+=("$4")
}

# The suites that test each file; a mutant runs only these.
suites_for() {
    case $1 in
        flash/xmodem*) echo 'Crc16.*:SendImage.*' ;;
        flash/console.cpp) echo 'WaitFor*:OpenEnginePort.*:SendAnswer.*:ReportProgress.*' ;;
        flash/packet* | flash/data_transfer.cpp) echo 'DataFolder.*:FileFetch.*:ReadRequest.*' ;;
        flash/file_fetch* | identity/read_thread.cpp)
            echo 'FileFetch.*:ReaderRun.*:ReadRequest.*:IdentityReader.ASilent*' ;;
        identity/identity_file.cpp) echo 'IdentityFile.*:IdentitySave.*' ;;
        *) echo "no suites for $1" >&2 && exit 2 ;;
    esac
}

# Image upload.
mutant flash/xmodem.cpp "NAK limit 3 -> 4" '++*refusals == 3' '++*refusals == 4'
mutant flash/xmodem.cpp "EOT tries 3 -> 4" 'tries == 3' 'tries == 4'
mutant flash/xmodem.cpp "block number not reset per image" 'm_nBlockNumber = 0;' ''
mutant flash/xmodem.cpp "more-data flag not set per image" 'm_bMoreData = true;' ''
mutant flash/xmodem.cpp "short block band < -> <=" 'got < kDataSize' 'got <= kDataSize'
mutant flash/xmodem.cpp "CRC high and low byte swapped" \
    $'m_Block[kCrcAt] = static_cast<uint8_t>(crc >> 8);\n    m_Block[kCrcAt + 1] = static_cast<uint8_t>(crc & 0xFF);' \
    $'m_Block[kCrcAt] = static_cast<uint8_t>(crc & 0xFF);\n    m_Block[kCrcAt + 1] = static_cast<uint8_t>(crc >> 8);'
mutant flash/xmodem.cpp "complement 255 -> 256" '255 - m_nBlockNumber' '256 - m_nBlockNumber'
mutant flash/xmodem.h "fill byte 0x1A -> 0x00" 'kFill = 0x1A' 'kFill = 0x00'
# Boot loader console.
mutant flash/console.cpp "text kept past a NUL" 'm_strReceived.append(chunk, std::strlen(chunk));' \
    'm_strReceived.append(chunk, got);'
mutant flash/console.cpp "read time-out 7000 -> 2000 ms" 'SetupPort(m_hPort, 5000, 1, 20, 200, 7000)' \
    'SetupPort(m_hPort, 5000, 1, 20, 200, 2000)'
# Packet frame.
mutant flash/packet.cpp "sum skips len instead of itself" 'if (i != 6)' 'if (i != 2)'
mutant flash/packet.h "PutWord high byte first" \
    $'p[0] = static_cast<uint8_t>(v & 0xFF);\n    p[1] = static_cast<uint8_t>(v >> 8);' \
    $'p[0] = static_cast<uint8_t>(v >> 8);\n    p[1] = static_cast<uint8_t>(v & 0xFF);'
mutant flash/packet.h "name fill 0xCD -> 0xCC" 'kNameFill = 0xCD' 'kNameFill = 0xCC'
mutant flash/packet.h "segment header 0x0130 -> 0x0131" 'kSegmentHeader = 0x0130' 'kSegmentHeader = 0x0131'
mutant flash/packet.h "command 0x012F -> 0x022F" 'kCommandSegments = 0x012F' 'kCommandSegments = 0x022F'
mutant flash/packet.h "refusal status 20 -> 21" 'kStatusBad = 0x0014' 'kStatusBad = 0x0015'
mutant flash/packet.h "accepting status 10 -> 11" 'kStatusOk = 0x000A' 'kStatusOk = 0x000B'
mutant flash/packet.h "reply accepted whatever its first word" 'r.sync == kReplySync && ' ''
mutant flash/packet.h "reply accepted whatever its sequence number" 'r.seq == seq' '(r.seq == seq || r.seq != seq)'
mutant flash/packet.h "segment size 4500 -> 4499" 'kSegmentSize = 4500' 'kSegmentSize = 4499'
mutant flash/packet.h "packet payload 128 -> 127" 'kMaxPayload = 128' 'kMaxPayload = 127'
# Data files.
mutant flash/data_transfer.cpp "one-packet band <= -> <" 'whole <= kMaxPayload' 'whole < kMaxPayload'
mutant flash/data_transfer.cpp "segment band > -> >=" 'whole > kSegmentSize' 'whole >= kSegmentSize'
mutant flash/data_transfer.cpp "data sequence number not reset" 'dataSeq = 0;' ''
mutant flash/data_transfer.cpp "send limit 4 -> 5" 'sends == 4' 'sends == 5'
mutant flash/data_transfer.cpp "one file byte fewer in a data packet" 'plen - at)' 'plen - at - 1)'
mutant flash/data_transfer.cpp "segment header counts its own four bytes" \
    'static_cast<uint16_t>(fileBytes)' 'static_cast<uint16_t>(toSend)'
mutant flash/data_transfer.cpp "no purge in the segment handshake" \
    $'PurgePort(m_hPort);\n    WriteControl(0);' 'WriteControl(0);'
mutant flash/data_transfer.cpp "segment handshake: two-byte answer unchecked" \
    'if (ReadBytes(m_hPort, answer, 2) != 2) RaiseResult(ResultProtocol);' \
    'ReadBytes(m_hPort, answer, 2);'
mutant flash/data_transfer.cpp "end handshake: eight-byte answer unchecked" \
    $'if (ReadBytes(m_hPort, answer, 8) != 8) RaiseResult(ResultProtocol);\n    // "Up to eight' \
    $'ReadBytes(m_hPort, answer, 8);\n    // "Up to eight'
# Reading files out of the controller.
mutant flash/file_fetch.cpp "request sendings 3 -> 4" 'if (sends == 3)' 'if (sends == 4)'
mutant flash/file_fetch.cpp "no purge before a request" \
    $'CMyThread::PurgePort(port);\n        Send(m_Worker, port, request);' \
    'Send(m_Worker, port, request);'
mutant flash/file_fetch.cpp "header-read count not cleared" $'\n            headerReads = 0;' ''
mutant flash/file_fetch.cpp "header reads 3 -> 4" '++headerReads == 3' '++headerReads == 4'
mutant flash/file_fetch.cpp "a refusal where a header is due left unanswered" \
    'Word(header + 2) == kStatusBad) Send(m_Worker, port, lastAck);' 'Word(header + 2) == kStatusBad) {}'
mutant flash/file_fetch.cpp "acknowledgements always marked 55 55" \
    $'ack[0] = marker[0];\n    ack[1] = marker[1];' '(void)marker;'
mutant flash/file_fetch.cpp "a refused continuation not sent again" \
    '} while (Word(reply + 2) != kStatusOk);' '} while (false);'
mutant flash/file_fetch.cpp "no second fetch after a failed one" \
    $'    return Fetch(portNumber, name, content);\n}' $'    return result;\n}'
mutant flash/file_fetch.cpp "closing byte written" 'std::max(from, n - 1)' 'std::max(from, n)'
mutant flash/file_fetch.cpp "sub-header of five bytes" 'std::min<uint32_t>(kSegmentPrefix, n)' 'std::min<uint32_t>(kSegmentPrefix - 1, n)'
mutant flash/file_fetch.cpp "more-segments flag from byte 3" 'payload[kMoreSegmentsAt] : 0' 'payload[kMoreSegmentsAt + 1] : 0'
mutant flash/packet.h "sub-header of seven bytes, shared with the controller" 'kSegmentPrefix = 6' 'kSegmentPrefix = 7'
mutant flash/xmodem.h "CRC one byte late, shared with the receiver" 'kCrcAt = 3 + kDataSize' 'kCrcAt = 4 + kDataSize'
mutant flash/file_fetch.cpp "read time-out 2000 -> 7000 ms" 'SetupPort(port, 5000, 1, 20, 200, 2000)' \
    'SetupPort(port, 5000, 1, 20, 200, 7000)'
mutant flash/file_fetch.h "retry pause 5000 -> 500 ms" 'kRetryPauseMs = 5000' 'kRetryPauseMs = 500'
mutant identity/read_thread.cpp "a failed fetch replaces the local file" \
    'if (result != ResultDone) return result;' \
    'if (result != ResultDone && result != kTwoBytePayload) return result;'
# The identity file.
mutant identity/identity_file.cpp "MAC line length 22 -> 21" 'word.size() != 22' 'word.size() != 21'
mutant identity/identity_file.cpp "MAC digits one to the left" 'word.substr(5 + 3 * i, 2)' \
    'word.substr(4 + 3 * i, 2)'
mutant identity/identity_file.cpp "IP prefix of two characters" 'std::min<size_t>(3, ip.size())' \
    'std::min<size_t>(2, ip.size())'

# Copies the working tree's files into $SRC; a file is rewritten only when it differs, so the
# build stays incremental and a file left mutated by an interrupted run is rebuilt.
sync_copy() {
    mkdir -p "$SRC"
    (cd "$ROOT" && git ls-files -z -co --exclude-standard) | while IFS= read -r -d '' f; do
        [ -f "$ROOT/$f" ] || continue
        if ! cmp -s "$ROOT/$f" "$SRC/$f"; then
            mkdir -p "$(dirname "$SRC/$f")"
            cp "$ROOT/$f" "$SRC/$f"
        fi
    done
}

# apply FILE FROM TO: the exact text FROM, which must occur once, becomes TO.
apply() {
    python3 - "$1" "$2" "$3" <<'EOF'
import os, sys
path, old, new = (os.fsencode(a) for a in sys.argv[1:])
text = open(path, "rb").read()
count = text.count(old)
if count != 1:
    sys.exit(f"{count} occurrences")
open(path, "wb").write(text.replace(old, new))
EOF
}

build() {
    cmake --build "$BUILD" -j2 --target plcflash_tests >"$WORK/build.log" 2>&1
}

run_tests() {
    (cd "$BUILD/tests/native" &&
        timeout "$TEST_SECONDS" ./plcflash_tests --gtest_filter="$1" >"$WORK/test.log" 2>&1)
}

# The file under mutation goes back as it was, with a new time so that it is rebuilt.
current=""
restore() {
    if [ -n "$current" ]; then
        cp "$WORK/pristine" "$SRC/$current"
        touch "$SRC/$current"
        current=""
    fi
}
trap restore EXIT

# mutate I: applies mutation I to the copy; on failure prints why and returns 1.
mutate() {
    current=${FILES[$1]}
    cp "$SRC/$current" "$WORK/pristine"
    local why
    if ! why=$(apply "$SRC/$current" "${FROMS[$1]}" "${TOS[$1]}" 2>&1); then
        echo "!!! $current: \"${DESCRIPTIONS[$1]}\" does not apply: $why" >&2
        return 1
    fi
}

started=$(date +%s)
sync_copy
selected=()
for i in "${!FILES[@]}"; do
    if [[ -z $ONLY || $ONLY == --check || "${FILES[$i]} ${DESCRIPTIONS[$i]}" == *"$ONLY"* ]]; then
        selected+=("$i")
    fi
done
if [ "$ONLY" = --check ]; then
    failed=0
    for i in "${selected[@]}"; do
        mutate "$i" || failed=1
        restore
    done
    echo "${#selected[@]} mutations checked"
    exit "$failed"
fi

cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DPLCFLASH_SANITIZE=OFF >"$WORK/cmake.log"
build || { echo "the unmutated copy does not build: $WORK/build.log" >&2; exit 2; }
# Every suite must pass unmutated, or a "killed" means nothing.
declare -A baseline
for i in "${selected[@]}"; do
    suites=$(suites_for "${FILES[$i]}")
    if [ -n "${baseline[$suites]:-}" ]; then continue; fi
    run_tests "$suites" || { echo "unmutated tests fail: $suites ($WORK/test.log)" >&2; exit 2; }
    baseline[$suites]=1
done

# MUTATE_HOLD_UPS=1: the test processes are held up for 200 ms about every second meanwhile,
# as a loaded host holds them up; the simulated controllers must excuse nothing that lets a
# mutant through, so the count of the killed must not change.
injector=
if [ "${MUTATE_HOLD_UPS:-}" = 1 ]; then
    bash "$ROOT/scripts/hold-up-injector.sh" 'plcflash_tests --gtest_filter' 200 1000 &
    injector=$!
    trap 'restore; kill $injector 2>/dev/null' EXIT
fi

killed=0 survived=0 broken=0
rows=()
for i in "${selected[@]}"; do
    t0=$(date +%s)
    if ! mutate "$i"; then
        result="NOT APPLIED"
        broken=$((broken + 1))
    elif ! build; then
        result="DOES NOT BUILD"
        broken=$((broken + 1))
        echo "!!! ${FILES[$i]}: \"${DESCRIPTIONS[$i]}\" does not build: $WORK/build-failed-$i.log" >&2
        cp "$WORK/build.log" "$WORK/build-failed-$i.log"
    elif run_tests "$(suites_for "${FILES[$i]}")"; then
        result="SURVIVED"
        survived=$((survived + 1))
    else
        # The first test that failed, or the time-out.
        by=$(sed -n 's/^\[  FAILED  \] \([^ ]*\) (.*/\1/p' "$WORK/test.log" | head -1)
        result="killed by ${by:-a time-out or a crash}"
        killed=$((killed + 1))
    fi
    restore
    row="| $((i + 1)) | \`${FILES[$i]}\` | ${DESCRIPTIONS[$i]} | $result | $(($(date +%s) - t0)) s |"
    rows+=("$row")
    echo "$row"
done
# The last mutant's object must not outlive it.
build || true
[ -n "$injector" ] && kill "$injector" 2>/dev/null

{
    echo
    echo "| # | file | mutation | result | time |"
    echo "|---|---|---|---|---|"
    printf '%s\n' "${rows[@]}"
    echo
    echo "killed $killed/${#selected[@]}, survived $survived, not applied or not built $broken;" \
        "$(($(date +%s) - started)) s in all"
} | tee "$WORK/report.md"
[ "$survived" -eq 0 ] && [ "$broken" -eq 0 ]
