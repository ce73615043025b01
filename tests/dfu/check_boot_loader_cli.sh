#!/usr/bin/env bash
# tools/with-wheel --model PELIX --boot-loader --flash FILE, driven by
# Debian's dfu-util: the loader is listed with its memory layout, takes a
# 229,376-byte image and leaves, the wheel comes back on the HID bus, the
# flash file holds the image from its first byte on, and a second run that
# starts from that file reads the same image back.
# usage: check_boot_loader_cli.sh WITH_WHEEL
set -u
with_wheel=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/dfu-cli.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

size=229376
# Every byte depends on its offset, so a block at the wrong place shows.
python3 -c "import sys; sys.stdout.buffer.write(bytes((i * 37 + (i >> 8) + (i >> 16)) & 255 for i in range($size)))" \
    >"$work/image.bin"

"$with_wheel" --model PELIX --boot-loader --flash "$work/flash.bin" --transcript "$work/flash.transcript" -- \
    bash -c '
        dfu-util -l >"$2/list.txt" 2>&1 || exit 10
        dfu-util -a 0 -s 0x08000000:leave -D "$1" >"$2/download.txt" 2>&1 || exit 11
        for _ in $(seq 200); do ls /dev/hidraw* >/dev/null 2>&1 && exit 0; sleep 0.05; done
        exit 12' _ "$work/image.bin" "$work"
case $? in
0) ;;
10) fail "dfu-util -l: $(cat "$work/list.txt")" ;;
11) fail "dfu-util -D: $(tail -5 "$work/download.txt")" ;;
12) fail "the wheel did not come back after the leave" ;;
*) fail "with-wheel failed" ;;
esac
grep -qF 'Found DFU: [0483:df11]' "$work/list.txt" || fail "not listed: $(cat "$work/list.txt")"
grep -qF 'name="@Internal Flash  /0x08000000/128*008Kg"' "$work/list.txt" || fail "layout: $(cat "$work/list.txt")"
[ "$(stat -c %s "$work/flash.bin")" -eq $((128 * 8192)) ] || fail "flash file size $(stat -c %s "$work/flash.bin")"
cmp -n $size "$work/image.bin" "$work/flash.bin" || fail "the flash file does not hold the image"
[ "$(tail -c +$((size + 1)) "$work/flash.bin" | tr -d '\377' | wc -c)" -eq 0 ] || fail "flash beyond the image not erased"
for line in 'plug 04 83 df 11' 'control 21 01 02 00 00 00 00 00' 'unplug 04 83 df 11'; do
    grep -q " $line\$" "$work/flash.transcript" || fail "no \"$line\" in the transcript"
done

# Starting again from the saved flash: the image reads back.
"$with_wheel" --model PELIX --boot-loader --flash "$work/flash.bin" -- \
    dfu-util -a 0 -s 0x08000000:$size -U "$work/readback.bin" >"$work/upload.txt" 2>&1 ||
    fail "dfu-util -U: $(tail -5 "$work/upload.txt")"
cmp "$work/image.bin" "$work/readback.bin" || fail "read back differs"
echo "PASS"
