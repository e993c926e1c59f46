#!/usr/bin/env bash
# The release kit: build/dist/plcflash-<version>-win64.zip and -win32.zip, each one folder that
# the engineer unpacks on the PC and fills with the controller's images and data files.
# Run after `make windows windows32` (`make dist` does both).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIST=$ROOT/build/dist
GUIDE=$ROOT/docs/user-guide-ru.txt

fail() {
    echo "dist: $*" >&2
    exit 1
}

VERSION=$(sed -n 's/^project(plcflash VERSION \([0-9][0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
[ -n "$VERSION" ] || fail "no 'project(plcflash VERSION x.y.z' in CMakeLists.txt"
[ -f "$GUIDE" ] || fail "the user's guide $GUIDE is missing"
iconv -f UTF-8 -t UTF-8 "$GUIDE" >/dev/null 2>&1 || fail "$GUIDE is not UTF-8"
TOP=plcflash-$VERSION

# Notepad before Windows 10 shows a file right only with CR LF line ends.
crlf() { LC_ALL=C awk '{ sub(/\r$/, ""); printf "%s\r\n", $0 }' "$1"; }

# check_build BUILD_DIR OBJDUMP_FORMAT: both programs there, and built for that Windows.
check_build() {
    local build=$1 format=$2 exe
    for exe in plcflash.exe cli/plcflash-cli.exe; do
        [ -f "$build/$exe" ] || fail "$build/$exe is missing: make windows windows32"
        # A kit for one Windows with the other one's program in it would not start there.
        [[ $(x86_64-w64-mingw32-objdump -f "$build/$exe") == *"file format $format"$'\n'* ]] ||
            fail "$build/$exe is not $format"
    done
}

# write_sums SYSTEM_DIR: SYSTEM_DIR/SHA256SUMS in sha256sum's format (CR LF; the program takes
# either line end) of the images in SYSTEM_DIR, which the program checks before a run sends
# them. No images, no SHA256SUMS: the kit as it is ships none (the engineer adds the
# controller's images, with the list of their release), and a list without them would make the
# program refuse those images.
write_sums() {
    local system=$1 images=()
    mapfile -t images < <(cd "$system" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%P\n' |
        LC_ALL=C sort)
    [ ${#images[@]} -gt 0 ] || return 0
    (cd "$system" && sha256sum -- "${images[@]}") | crlf /dev/stdin >"$system/SHA256SUMS"
}

# kit ARCH BUILD_DIR: the zip for one Windows, its programs from BUILD_DIR.
kit() {
    local arch=$1 build=$2
    local stage=$DIST/$arch zip=$DIST/$TOP-$arch.zip
    mkdir -p "$stage/$TOP/system" "$stage/$TOP/data"
    cp "$build/plcflash.exe" "$build/cli/plcflash-cli.exe" "$stage/$TOP/"
    crlf "$ROOT/scripts/sample/plc.ini" >"$stage/$TOP/plc.ini"
    # The byte order mark makes Notepad read the guide as UTF-8 rather than in the ANSI code page.
    { printf '\xEF\xBB\xBF'; crlf "$GUIDE" | LC_ALL=C sed '1s/^\xEF\xBB\xBF//'; } \
        >"$stage/$TOP/user-guide-ru.txt"
    write_sums "$stage/$TOP/system"
    local shipped
    shipped=$(cd "$stage/$TOP/system" && find . -maxdepth 1 -type f -printf "$TOP/system/%P\n")
    # -X: no Unix owners in the zip; directories get entries of their own, so the empty system
    # and data folders are unpacked too.
    (cd "$stage" && zip -q -r -X "$zip" "$TOP")
    rm -rf "$stage"

    local expected got
    expected=$({ printf '%s\n' "$TOP/" "$TOP/data/" "$TOP/plc.ini" "$TOP/plcflash-cli.exe" \
        "$TOP/plcflash.exe" "$TOP/system/" "$TOP/user-guide-ru.txt"; [ -z "$shipped" ] ||
        printf '%s\n' "$shipped"; } | LC_ALL=C sort)
    got=$(unzip -Z1 "$zip" | LC_ALL=C sort)
    [ "$got" = "$expected" ] || fail "$zip holds"$'\n'"$got"$'\n'"instead of"$'\n'"$expected"
    unzip -tq "$zip" >/dev/null || fail "$zip is damaged"
    unzip -l "$zip"
}

check_build "$ROOT/build/windows" pei-x86-64
check_build "$ROOT/build/windows32" pei-i386
# No kit of an earlier version or run is left beside the new ones.
rm -rf "$DIST" && mkdir -p "$DIST"
kit win64 "$ROOT/build/windows"
kit win32 "$ROOT/build/windows32"
