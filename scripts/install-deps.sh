#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12, only what is missing.
#
# Mirrors are often mid-sync: one index of many fails to download ("File has unexpected size …
# Mirror sync in progress?"), or the i386 twins of the security archive's amd64 libraries are
# not there yet. Neither may take the run down: a failed index is tried again and then left
# out, and the run fails only when a package it needs cannot be installed, naming it. wine32
# (the optional 32-bit pass) is left out with one line that says why.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
PACKAGES=(
    make cmake g++ clang-format             # native build
    clang libclang-rt-14-dev                # fuzz targets (libFuzzer)
    googletest libgtest-dev                 # tests, native and cross-built
    g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64   # Windows build
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686                          # 32-bit build
    wine wine64 fonts-wine                  # running plcflash.exe
    xvfb xdotool imagemagick x11-utils      # a display, clicks and screenshots
    locales                                 # ru_RU.UTF-8 for a Russian Wine
    socat lrzsz                             # serial peers for the protocol tests
    zip unzip                               # the release kit
    libssl-dev                              # SHA-256 of the images (libcrypto), native build
)
WINE32=wine32:i386
# Where the reason wine32 was left out is kept for the test rig's skip line: outside the
# work tree, so that a fresh clone on the same machine (CI) does not ask the mirror again.
STATE_DIR=${PLCFLASH_STATE_DIR:-/var/tmp/plcflash}
TRIES=${PLCFLASH_APT_TRIES:-3}
PAUSE=${PLCFLASH_APT_PAUSE:-5}

SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo

# The 32-bit plcflash.exe runs under wine32, which is of use only where the kernel runs 32-bit
# programs; elsewhere it is left out (and the tests use the 64-bit Wine loader even when it is
# installed), and the 32-bit pass is skipped.
runs32=0
bash "$here/runs-32bit.sh" && runs32=1

# `install-deps.sh --print-packages`: the packages this machine needs, installing nothing.
if [ "${1:-}" = --print-packages ]; then
    printf '%s\n' "${PACKAGES[@]}"
    [ $runs32 = 1 ] && echo "$WINE32"
    exit 0
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# The last error apt printed, as the one-line reason of a failure.
last_error() { grep '^E:' | tail -n 1 | sed 's/^E: *//'; }

# Reads the package lists, trying a failed download again a few times. An index that still
# fails is left out (apt keeps the lists it has); whether that matters shows at the install.
update_lists() {
    local out try
    for try in $(seq "$TRIES"); do
        if out=$($SUDO apt-get update -qq 2>&1); then return 0; fi
        [ "$try" -lt "$TRIES" ] && sleep "$PAUSE"
    done
    echo "apt-get update: some package lists could not be read; going on without them:"
    grep '^E: Failed to fetch' <<<"$out" | sed 's/^E: Failed to fetch \([^ ]*\).*/    \1/' | head -n 5
    return 0
}

# Installs the given packages, reading the lists again between tries. Prints apt's last error
# when the last try fails.
install_packages() {
    local out try
    for try in $(seq "$TRIES"); do
        if out=$(DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
            --no-install-recommends "$@" 2>&1); then
            return 0
        fi
        if [ "$try" -lt "$TRIES" ]; then
            sleep "$PAUSE"
            update_lists >/dev/null
        fi
    done
    last_error <<<"$out"
    return 1
}

missing=()
for p in "${PACKAGES[@]}"; do installed "$p" || missing+=("$p"); done

if [ ${#missing[@]} -gt 0 ]; then
    update_lists
    echo "installing: ${missing[*]}"
    if ! reason=$(install_packages "${missing[@]}"); then
        # Which of them apt cannot install, each asked on its own.
        bad=()
        for p in "${missing[@]}"; do
            installed "$p" || $SUDO apt-get install -s -y -qq "$p" >/dev/null 2>&1 || bad+=("$p")
        done
        [ ${#bad[@]} -gt 0 ] || bad=("${missing[@]}")
        echo "cannot install what the build and the tests need: ${bad[*]} ($reason)" >&2
        exit 1
    fi
fi

# wine32 comes from the i386 architecture, which apt knows of only once dpkg has it and the
# package lists have been read again. The architecture stays only if wine32 is then really
# installed: a half-synced i386 index left configured would fail every later `apt-get update`.
has_i386() { dpkg --print-foreign-architectures | grep -qx i386; }
drop_i386() {
    # dpkg refuses while any i386 package is installed, and then the architecture is in use.
    if has_i386 && ! dpkg-query -W -f='${Architecture} ${Status}\n' 2>/dev/null |
        grep -q '^i386 install ok installed'; then
        $SUDO dpkg --remove-architecture i386 2>/dev/null || true
    fi
}
marker=$STATE_DIR/wine32-left-out
left_out() {
    echo "$WINE32 left out, the 32-bit pass will be skipped: $1"
    mkdir -p "$STATE_DIR" && echo "$1" >"$marker"
    drop_i386
}
if [ $runs32 = 0 ]; then
    installed "$WINE32" || drop_i386
    mkdir -p "$STATE_DIR" && echo "this kernel cannot run 32-bit programs (no IA-32 emulation)" >"$marker"
elif installed "$WINE32"; then
    rm -f "$marker"
elif [ -n "$(find "$marker" -mmin -60 2>/dev/null)" ]; then
    # Every make target runs this script; a mirror that refused wine32 a moment ago is not
    # asked again within the hour.
    echo "$WINE32 left out, the 32-bit pass will be skipped: $(cat "$marker")"
else
    has_i386 || $SUDO dpkg --add-architecture i386
    update_lists
    echo "installing: $WINE32"
    if ! reason=$(TRIES=1 install_packages "$WINE32"); then
        left_out "${reason:-apt-get could not install it}"
    else
        rm -f "$marker"
    fi
fi

# Wine derives the Windows locale and the ANSI code page (1251) from LANG; glibc must know it.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
    echo "generating the ru_RU.UTF-8 locale"
    $SUDO sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null || { echo "cannot generate the ru_RU.UTF-8 locale" >&2; exit 1; }
fi
exit 0
