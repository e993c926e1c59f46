#!/usr/bin/env bash
# Exits 0 when this kernel runs 32-bit x86 programs, 1 when it does not (no IA-32 emulation:
# some virtual machines and containers). Debian's wine32 is of use only where it does: its
# loader, which `wine` prefers once it is installed, then fails with "Exec format error".
#
# The probe is the smallest 32-bit program there is, written here byte by byte so that it
# needs no 32-bit compiler or library: an ELF header, one loadable segment, and
# "mov eax, 1; xor ebx, ebx; int 0x80" (exit(0)).
set -u
# A stand-in for such a kernel, for the tests of what follows from the answer.
[ "${PLCFLASH_ASSUME_NO_32BIT:-}" = 1 ] && exit 1
[ "${PLCFLASH_ASSUME_32BIT:-}" = 1 ] && exit 0
probe=$(mktemp "${TMPDIR:-/tmp}/runs-32bit.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"   # ident: 32-bit, LE
printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08' >>"$probe"         # exec, i386, entry
printf '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' >>"$probe"         # phoff, shoff, flags
printf '\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' >>"$probe"         # sizes, 1 segment
printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"  # PT_LOAD
printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"  # r-x
printf '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >>"$probe"                     # exit(0)
chmod +x "$probe"
"$probe" 2>/dev/null
