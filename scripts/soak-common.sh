# Shared by the soaks (soak.sh, soak-update.sh): seeded draws and a deck of faults, times, the
# sanitizer build. Sourced, not run.

source "$(dirname "${BASH_SOURCE[0]}")/sim-priority.sh"

# Every draw goes through here, in the parent shell, so a seed replays a soak exactly.
rand() {  # LOW HIGH: R = a whole number in [LOW, HIGH]
    R=$(($1 + RANDOM % ($2 - $1 + 1)))
}

# draw [DECK-NAME ORDER-NAME]: FAULT = the next card of the deck (DECK of ORDER by default);
# a fresh shuffled deck when the last is used up, so every card comes up before any comes up
# again.
DECK=()
draw() {
    local -n deck=${1:-DECK} order=${2:-ORDER}
    if [ ${#deck[@]} -eq 0 ]; then
        deck=("${order[@]}")
        local i t
        for ((i = ${#deck[@]} - 1; i > 0; --i)); do
            rand 0 "$i"
            t=${deck[i]}
            deck[i]=${deck[R]}
            deck[R]=$t
        done
    fi
    FAULT=${deck[-1]}
    unset 'deck[-1]'
}

seconds() { printf '%d.%d' $(($1 / 1000)) $(($1 % 1000 / 100)); }

now_ms() {
    local t=${EPOCHREALTIME//[.,]/}
    NOW=$((t / 1000))
}

# soak_build NAME: CLI and SIM from SOAK_BUILD as it is, else from the native preset (ASan and
# UBSan, no recovery: a soak walks rare error paths, where memory errors hide), built first.
soak_build() {
    if [ -n "${SOAK_BUILD:-}" ]; then
        BUILD=$SOAK_BUILD
    else
        BUILD=$ROOT/build/native
        (cd "$ROOT" && cmake --preset native >/dev/null &&
            cmake --build --preset native -j"$(nproc)" --target plcflash-cli plcsim >/dev/null) ||
            { echo "$1: the native build failed" >&2; exit 2; }
    fi
    CLI=$BUILD/cli/plcflash-cli
    SIM=$BUILD/sim/plcsim
    local program
    for program in "$CLI" "$SIM"; do
        [ -x "$program" ] || { echo "$1: $program is missing" >&2; exit 2; }
    done
}

# sanitizer_report FILE...: true when any of them holds a sanitizer's report.
sanitizer_report() {
    grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$@" 2>/dev/null
}
