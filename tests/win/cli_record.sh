#!/usr/bin/env bash
# plcflash-cli.exe flash through Wine's COM ports to two plcsim boot loaders adds each attempt to
# the record: a new file with the byte order mark and the header, then one row a run, appended.
# Run by scripts/wine-tests.sh.
set -euo pipefail
cli=$1
sample=$2
: "${PLCSIM_RECORD_PORTS:?run under scripts/wine-tests.sh}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$sample" "$work/install"
record=$work/history.csv
rows=1
for port in ${PLCSIM_RECORD_PORTS//,/ }; do
    log=$work/flash-$port.log
    wine "$cli" flash --port "$port" --dir "$(winepath -w "$work/install")" --yes \
        --record "$(winepath -w "$record")" </dev/null >"$log" 2>&1 ||
        { tr -d '\r' <"$log" | tail -n 20; exit 1; }
    # Each run's row is there once its program has ended, under the one header.
    rows=$((rows + 1))
    if [ "$(wc -l <"$record" 2>/dev/null || echo 0)" -ne $rows ]; then
        echo "after the flash on $port the record holds:"; cat "$record" 2>/dev/null
        tr -d '\r' <"$log" | tail -n 8
        exit 1
    fi
done
[ "$(head -c3 "$record" | od -An -tx1 | tr -d ' ')" = efbbbf ] || { echo "no byte order mark"; exit 1; }
rows=$(grep -c ',plcflash-cli flash,.*,1,успех,' "$record" || true)
[ "$rows" -eq 2 ] || { echo "record:"; cat "$record"; exit 1; }
echo "two flashes, two rows under one header"
