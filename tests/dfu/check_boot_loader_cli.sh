#!/usr/bin/env bash
# tools/with-wheel --model PELIX --boot-loader, driven by Debian's dfu-util,
# a DFU host nobody here wrote: the loader is listed with its memory layout,
# takes a 229,376-byte image over a flash that starts programmed to zeros
# (a host that skipped the erase would leave zeros behind), and leaves; the
# wheel comes back on the HID bus, the --flash file holds the image and
# erased flash behind it, and a second run that starts from that file reads
# the same image back. Then faults, below.
# usage: check_boot_loader_cli.sh WITH_WHEEL
set -u
with_wheel=$1
source "$(dirname "${BASH_SOURCE[0]}")/../support/session.sh" dfu-cli

size=229376
# Every byte depends on its offset, so a block at the wrong place shows.
python3 -c "import sys; sys.stdout.buffer.write(bytes((i * 37 + (i >> 8) + (i >> 16)) & 255 for i in range($size)))" \
    >"$work/image.bin"
head -c $size /dev/zero >"$work/flash.bin"

"$with_wheel" --model PELIX --boot-loader --dfu-transfer-size 1024 --flash "$work/flash.bin" \
    --transcript "$work/flash.transcript" -- bash -c '
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

# What went over the wire: every page the image covers erased once and in
# order, data in blocks of the transfer size asked for (not the default
# 2048), the leave (a zero-length download) answered by dfuMANIFEST, then
# the loader goes and the wheel comes.
python3 - "$work/flash.transcript" $size <<'PY' || fail "transcript: $(cat "$work/flash.transcript")"
import sys
bus, ctl = [], []
for line in open(sys.argv[1]):
    kind, *fields = line.split()[1:]
    if kind == "control":
        ctl.append(bytes.fromhex("".join(fields)))
    elif kind in ("plug", "unplug"):
        bus.append(" ".join([kind] + fields[:2]))
word = lambda c, at: c[at] | c[at + 1] << 8
dnload = [c for c in ctl if c[:2] == b"\x21\x01"]
erased = [int.from_bytes(c[9:13], "little") for c in dnload if word(c, 6) == 5 and c[8] == 0x41]
blocks = [word(c, 6) for c in dnload if word(c, 2) >= 2]
leave = [i for i, c in enumerate(ctl) if c[:2] == b"\x21\x01" and word(c, 2) >= 2 and word(c, 6) == 0]
checks = {
    "erases": erased == [0x08000000 + i * 8192 for i in range(int(sys.argv[2]) // 8192)],
    "block size": max(blocks) == 1024,
    "leave": len(leave) == 1 and ctl[leave[0] + 1][:2] == b"\xa1\x03" and ctl[leave[0] + 1][12] == 7,
    "bus": any(bus[i : i + 2] == ["unplug 04 83", "plug c8 72"] for i in range(len(bus))),
}
for name, ok in checks.items():
    if not ok:
        print("FAIL:", name, file=sys.stderr)
sys.exit(not all(checks.values()))
PY

# Faults as a real loader shows them, on a 16 KiB image: FAULT, dfu-util's
# exit status, boot loaders listed after it, bytes of the image in the saved
# flash and erased flash up to, and a line dfu-util prints. A loader that
# starts in dfuERROR must be cleared first, then all goes through; one that
# fails the third block stays, in dfuERROR with errPROG; one pulled at block
# 5 keeps the four blocks written and answered nothing after the fifth.
head -c 16384 "$work/image.bin" >"$work/small.bin"
while read -r fault status listed programmed erased expect; do
    "$with_wheel" --model PELIX --boot-loader --dfu-fault "$fault" --flash "$work/$fault.bin" \
        --transcript "$work/$fault.transcript" -- bash -c '
        dfu-util -a 0 -s 0x08000000:leave -D "$1" >"$2" 2>&1
        status=$?
        # A loader that took the leave goes a moment after dfuMANIFEST.
        for _ in $(seq 100); do
            listed=$(dfu-util -l 2>/dev/null | grep -c "Found DFU")
            [ "$listed" = "$3" ] && break
            sleep 0.05
        done
        echo $status $listed' _ "$work/small.bin" "$work/$fault.txt" "$listed" >"$work/result.txt"
    [ "$(cat "$work/result.txt")" = "$status $listed" ] ||
        fail "$fault: exit status, loaders $(cat "$work/result.txt"): $(cat "$work/$fault.txt")"
    grep -qF "$expect" "$work/$fault.txt" || fail "$fault: no \"$expect\": $(cat "$work/$fault.txt")"
    cmp -n "$programmed" "$work/small.bin" "$work/$fault.bin" || fail "$fault: not programmed up to $programmed"
    [ "$(tail -c +$((programmed + 1)) "$work/$fault.bin" | head -c $((erased - programmed)) | tr -d '\377' | wc -c)" \
        -eq 0 ] || fail "$fault: not erased up to $erased"
done <<'ROWS'
start-in-error 0 0 16384 16384 Clearing status
error-on-block:3 74 1 4096 6144 DFU state(10) = dfuERROR, status(6) = Program memory function failed
unplug-at-block:5 74 0 8192 16384 Error during download
ROWS
[ "$(grep ' control ' "$work/unplug-at-block:5.transcript" | tail -1 | cut -d' ' -f3,4,9,10)" = "21 01 00 08" ] ||
    fail "the pulled loader answered after the 2048-byte block"

"$with_wheel" --model PELIX --boot-loader --flash "$work/flash.bin" -- \
    dfu-util -a 0 -s 0x08000000:$size -U "$work/readback.bin" >"$work/upload.txt" 2>&1 ||
    fail "dfu-util -U: $(tail -5 "$work/upload.txt")"
cmp "$work/image.bin" "$work/readback.bin" || fail "read back differs"
echo "PASS"
