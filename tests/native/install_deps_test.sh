#!/usr/bin/env bash
# scripts/install-deps.sh against stand-in apt-get, dpkg and dpkg-query on the PATH, over the
# states a Debian mirror is often in. Prints "N passed, N failed".
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/install-deps-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# The stand-ins keep the machine's state in $FAKE: installed (one package a line), archs (the
# foreign architectures), update-fails (indices that fail to download, matched against the
# architectures), update-fails-times (failures before the index comes right), broken (packages
# apt cannot install, a line each with apt's error), calls (what was run).
mkdir -p "$work/bin"
cat >"$work/bin/dpkg-query" <<'SH'
#!/usr/bin/env bash
fmt=; pkg=
for a in "$@"; do case $a in -f=*) fmt=${a#-f=} ;; -W) ;; *) pkg=$a ;; esac; done
if [ -z "$pkg" ]; then
    while read -r p; do
        arch=amd64; [[ $p == *:i386 ]] && arch=i386
        echo "$arch install ok installed"
    done <"$FAKE/installed"
    exit 0
fi
grep -qxF "$pkg" "$FAKE/installed" || exit 1
printf 'install ok installed'
SH
cat >"$work/bin/dpkg" <<'SH'
#!/usr/bin/env bash
echo "dpkg $*" >>"$FAKE/calls"
case $1 in
--print-foreign-architectures) cat "$FAKE/archs" ;;
--add-architecture) echo "$2" >>"$FAKE/archs" ;;
--remove-architecture) grep -vxF "$2" "$FAKE/archs" >"$FAKE/archs.new"; mv "$FAKE/archs.new" "$FAKE/archs" ;;
esac
SH
cat >"$work/bin/apt-get" <<'SH'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE/calls"
pkgs=(); simulate=0; cmd=
for a in "$@"; do
    case $a in
    update|install) cmd=$a ;;
    -s) simulate=1 ;;
    -*) ;;
    *) pkgs+=("$a") ;;
    esac
done
if [ "$cmd" = update ]; then
    left=$(cat "$FAKE/update-fails-times" 2>/dev/null || echo 1000)
    [ "$left" -gt 0 ] || exit 0
    rc=0
    while read -r arch; do
        if grep -qxF "$arch" "$FAKE/archs" "$FAKE/native" 2>/dev/null; then
            echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-$arch/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
            rc=100
        fi
    done <"$FAKE/update-fails"
    [ $rc = 0 ] || echo $((left - 1)) >"$FAKE/update-fails-times"
    exit $rc
fi
for p in "${pkgs[@]}"; do
    reason=$(grep "^$p " "$FAKE/broken" | cut -d' ' -f2-)
    if [ -n "$reason" ]; then echo "E: $reason"; exit 100; fi
    if [[ $p == *:i386 ]] && ! grep -qx i386 "$FAKE/archs"; then
        echo "E: Unable to locate package $p"; exit 100
    fi
done
[ $simulate = 1 ] || printf '%s\n' "${pkgs[@]}" >>"$FAKE/installed"
SH
printf '#!/bin/sh\necho ru_RU.utf8\n' >"$work/bin/locale"
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin"/*

# run CASE: a fresh machine with every package but the named missing ones, then the script.
# Sets out (its output) and rc.
run() {
    export FAKE=$work/$1
    rm -rf "$FAKE" && mkdir -p "$FAKE"
    PLCFLASH_ASSUME_NO_32BIT= bash "$root/scripts/install-deps.sh" --print-packages |
        grep -v ':i386$' >"$FAKE/installed"
    : >"$FAKE/archs"
    echo amd64 >"$FAKE/native"
    : >"$FAKE/update-fails"
    : >"$FAKE/broken"
    : >"$FAKE/calls"
}
go() {
    out=$(PATH=$work/bin:$PATH PLCFLASH_APT_PAUSE=0 PLCFLASH_STATE_DIR=$FAKE/state \
        bash "$root/scripts/install-deps.sh" 2>&1)
    rc=$?
}
check() {
    if eval "$2"; then
        passed=$((passed + 1))
    else
        echo "FAIL $1"
        echo "$out" | sed 's/^/    /'
        failed=$((failed + 1))
    fi
}
missing() { grep -vxF "$1" "$FAKE/installed" >"$FAKE/i.new"; mv "$FAKE/i.new" "$FAKE/installed"; }

# An index that stays broken (the i386 security list mid-sync): the rest installs, the run goes
# on and names the index; wine32's i386 twins are missing, so it is left out with the reason
# and the architecture taken away again.
run mid-sync
missing socat
echo i386 >"$FAKE/update-fails"
echo "wine32:i386 Unable to correct problems, you have held broken packages." >>"$FAKE/broken"
PLCFLASH_ASSUME_32BIT=1 go
check "mid-sync: the run goes on" '[ $rc = 0 ]'
check "mid-sync: socat installed" 'grep -qx socat "$FAKE/installed"'
check "mid-sync: the failed index named" 'grep -q "binary-i386/Packages.xz" <<<"$out"'
check "mid-sync: wine32 left out with apt's reason" \
    'grep -q "^wine32:i386 left out, the 32-bit pass will be skipped: Unable to correct problems" <<<"$out"'
check "mid-sync: no i386 left behind" '! grep -qx i386 "$FAKE/archs" && grep -q "remove-architecture i386" "$FAKE/calls"'
check "mid-sync: the reason kept for the rig" 'grep -q "held broken packages" "$FAKE/state/wine32-left-out"'

# The same machine an hour later in the same session: wine32 is not asked for again at once.
: >"$FAKE/calls"
PLCFLASH_ASSUME_32BIT=1 go
check "asked again soon: not tried" '[ $rc = 0 ] && ! grep -q "wine32" "$FAKE/calls" && grep -q "left out" <<<"$out"'

# A transient failure of the lists: tried again, and nothing said once it reads.
run transient
missing zip
echo amd64 >"$FAKE/update-fails"
echo 1 >"$FAKE/update-fails-times"
PLCFLASH_ASSUME_NO_32BIT=1 go
check "transient: installed" '[ $rc = 0 ] && grep -qx zip "$FAKE/installed"'
check "transient: update tried again" '[ "$(grep -c "apt-get update" "$FAKE/calls")" = 2 ]'
check "transient: nothing to report" '! grep -q "could not be read" <<<"$out"'

# A package the run needs cannot be installed: the run fails and names that package alone.
run needed-broken
missing socat
missing lrzsz
echo "lrzsz Package lrzsz has no installation candidate" >>"$FAKE/broken"
PLCFLASH_ASSUME_NO_32BIT=1 go
check "needed: the run fails" '[ $rc != 0 ]'
check "needed: names the package, not the others" \
    'grep -q "cannot install what the build and the tests need: lrzsz (Package lrzsz has no installation candidate)" <<<"$out"'

# A kernel without IA-32: no i386 architecture, no wine32, nothing to fail.
run no-ia32
PLCFLASH_ASSUME_NO_32BIT=1 go
check "no IA-32: exits 0" '[ $rc = 0 ]'
check "no IA-32: no i386, no wine32" '! grep -q "i386" "$FAKE/calls" && [ ! -s "$FAKE/archs" ]'

# A sound mirror on a kernel that runs 32-bit programs: wine32 in, and i386 kept for it.
run sound
PLCFLASH_ASSUME_32BIT=1 go
check "sound: wine32 installed" '[ $rc = 0 ] && grep -qx "wine32:i386" "$FAKE/installed"'
check "sound: i386 kept" 'grep -qx i386 "$FAKE/archs" && [ ! -e "$FAKE/state/wine32-left-out" ]'

# The rig: without wine32 the 32-bit pass is skipped with the reason and the 64-bit loader.
rig=$(
    export PLCFLASH_ASSUME_32BIT=1 PLCFLASH_ASSUME_NO_WINE32=1
    source "$root/scripts/wine-common.sh"
    echo "runs=$RUNS_32BIT"
    echo "wine=$(command -v wine)"
    say_32bit_skipped
)
out=$rig
check "rig without wine32: skipped" 'grep -qx "runs=0" <<<"$rig"'
check "rig without wine32: the 64-bit stand-in" 'grep -qx "wine=$root/build/wine64-only/wine" <<<"$rig"'
check "rig without wine32: the line says why" \
    'grep -q "^32-bit pass SKIPPED: wine32:i386 is not installed" <<<"$rig"'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
