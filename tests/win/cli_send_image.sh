#!/usr/bin/env bash
# plcflash-cli.exe send-image through Wine's COM port to plcsim's image receiver: the image
# arrives byte for byte, followed by the fill of its last block. Run by scripts/wine-tests.sh.
set -euo pipefail
cli=$1
image=$2
: "${PLCSIM_IMAGE_PORT:?run under scripts/wine-tests.sh}" "${PLCSIM_IMAGE_DIR:?}"

before=$(ls "$PLCSIM_IMAGE_DIR" | wc -l)
wine "$cli" send-image --port "$PLCSIM_IMAGE_PORT" "$(winepath -w "$image")"
for _ in $(seq 50); do
    [ "$(ls "$PLCSIM_IMAGE_DIR" | wc -l)" -gt "$before" ] && break
    sleep 0.1
done
received=$(ls "$PLCSIM_IMAGE_DIR"/*.bin | sort | tail -n1)

size=$(stat -c %s "$image")
expected=$(( (size / 128 + 1) * 128 ))
[ "$(stat -c %s "$received")" -eq "$expected" ] || { echo "received $(stat -c %s "$received") bytes, expected $expected"; exit 1; }
cmp -n "$size" "$image" "$received"
fill=$(tail -c +$((size + 1)) "$received" | tr -d '\032' | wc -c)
[ "$fill" -eq 0 ] || { echo "the padding is not all 0x1A"; exit 1; }
echo "sent $size bytes; received $expected bytes with padding: identical"
