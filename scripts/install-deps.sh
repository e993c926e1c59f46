#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12, only what is missing.
set -euo pipefail

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

SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo

# The 32-bit plcflash.exe runs under wine32, which is of use only where the kernel runs 32-bit
# programs; elsewhere it is left out (and the tests use the 64-bit Wine loader even when it is
# installed), and the 32-bit pass is skipped.
runs32=0
if bash "$(dirname "$0")/runs-32bit.sh"; then
    runs32=1
    PACKAGES+=(wine32:i386)
fi

# `install-deps.sh --print-packages`: the packages this machine needs, installing nothing.
if [ "${1:-}" = --print-packages ]; then
    printf '%s\n' "${PACKAGES[@]}"
    exit 0
fi

# wine32 comes from the i386 architecture, which apt knows of only once dpkg has it and the
# package lists have been read again.
update_needed=0
if [ $runs32 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "adding the i386 architecture"
    $SUDO dpkg --add-architecture i386
    update_needed=1
fi

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ] || [ $update_needed = 1 ]; then
    $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# Wine derives the Windows locale and the ANSI code page (1251) from LANG; glibc must know it.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
    echo "generating the ru_RU.UTF-8 locale"
    $SUDO sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
