#!/bin/bash
# The device boots what was written, refuses what its bootloader would
# refuse, and a power cut at any moment leaves a device that boots. On the
# device of device.sh:
#  - upgrades v1 to v2 and back: the device restarts by itself, U-Boot
#    verifies the new firmware and boots it;
#  - a v2 damaged on its way is refused before anything is written, and
#    the device still boots v1;
#  - power cuts at chosen moments of an upgrade from v1 to v2 (FITs, and
#    legacy uImages booted with verify=n): the writer is held there
#    (rig_helper cut) and QEMU killed. Each cut must leave the flash
#    exactly as that moment implies, the next power-on must boot v2 when
#    the image is complete and the rescue firmware otherwise (never a half
#    image), and from the rescue a second run must complete and boot v2.
#   run.sh CACHE PROGRAM HELPER WORK [--record]
# With --record, the figures go to bench/RESULTS.md.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/device.sh"
source "$here/../pattern.sh"
cache=$1 program=$2 helper=$3 work=$4 record=${5:-}
rm -rf "$work"
boot_rig_prepare "$cache" "$program" "$helper" "$work"

passed=0 failed=0
ok() { passed=$((passed + 1)); echo "ok - $*"; }
not_ok() { failed=$((failed + 1)); echo "not ok - $*"; }
check() { local d=$1; shift; if "$@"; then ok "$d"; else not_ok "$d"; fi; }

# holds IMAGE: Firmware_1 starts with IMAGE, byte for byte.
holds() { firmware_1 "$work/now.bin"; cmp -s -n "$(stat -c %s "$1")" "$work/now.bin" "$1"; }

# Scenario 1: v1 to v2 and back, each a restart into the new firmware.
fresh_flash "$work/v1.fit"
times=""
for step in v1:v2 v2:v1; do
    from=${step%:*} to=${step#*:}
    make_job "$work/job.img" "$from" "$work/$to.fit"
    boot_device "$work/$from-$to.log" "$work/job.img"
    check "$from to $to: the device restarted into $to by itself" \
        [ "$BOOT_END $(firmwares "$work/$from-$to.log")" = "off $from $to" ]
    # In the boot after the restart only: v1's own boot verified v1.
    check "$from to $to: U-Boot verified $to's hashes" \
        sh -c "awk '/^U-Boot 20/ { n++ } n >= 2' '$work/$from-$to.log' | grep -q 'sha256+ OK'"
    check "$from to $to: Firmware_1 holds $to" holds "$work/$to.fit"
    times+="${BOOT_UPGRADE_MS:-?} "
done

# A v2 damaged on its way (a byte of its ramdisk flipped): v1 refuses it
# before anything is staged, Firmware_1 keeps v1 byte for byte, and the
# device still boots v1.
fresh_flash "$work/v1.fit"
firmware_1 "$work/before.bin"
cp "$work/v2.fit" "$work/damaged.fit"
printf 'x' | dd of="$work/damaged.fit" bs=1 seek=10000 conv=notrunc status=none
make_job "$work/job.img" v1 "$work/damaged.fit"
boot_device "$work/damaged.log" "$work/job.img"
check "damaged v2: refused by its ramdisk's hash" \
    grep -q "^FIT image: the sha256 hash of image 'ramdisk' does not match its data" "$work/damaged.log"
check "damaged v2: the run ended in stage one" grep -q '^RIG-UPGRADE-FAILED 1$' "$work/damaged.log"
firmware_1 "$work/now.bin"
check "damaged v2: Firmware_1 unchanged byte for byte" cmp -s "$work/before.bin" "$work/now.bin"
make_job "$work/job.img" none "$work/damaged.fit"
boot_device "$work/damaged-after.log" "$work/job.img"
check "damaged v2: powered on again, the device boots v1" [ "$(firmwares "$work/damaged-after.log")" = v1 ]

# The moments: the first erase; the erase of a block in the middle; the
# program of that block, cut half-way; the first block's last two writes,
# each cut short: all of the block but its first word, then that word (the
# magic), with a FIT checked by its hashes, one without hashes and a
# legacy uImage booted with verify=n (U-Boot checks only its header);
# after the last write, on the way to the restart. QEMU's CFI erase is
# instantaneous: "during an erase" is the moment it has returned.
size=$(stat -c %s "$work/v2.fit")
blocks=$(((size + EB_CFI - 1) / EB_CFI))
middle=$((blocks / 2))
moments=(
    "first-erase v2.fit erase 0 0"
    "middle-erase v2.fit erase $((middle * EB_CFI)) 0"
    "middle-program v2.fit write $((middle * EB_CFI)) $((EB_CFI / 2))"
    "first-block-rest v2.fit write 4 100000"
    "first-block-magic v2.fit write 0 2"
    "first-block-rest-nohash v2-nohash.fit write 4 2000"
    "first-block-magic-nohash v2-nohash.fit write 0 1"
    "first-block-rest-uimage v2.uimage write 4 2000"
    "first-block-rest-uimage-long v2.uimage write 4 200000"
    "first-block-magic-uimage v2.uimage write 0 1"
    "first-block-magic-uimage-3 v2.uimage write 0 3"
    "before-restart v2.fit reboot 0 0"
)

# expected OUT OLD IMAGE MOMENT OFFSET BYTES: Firmware_1 as the moment
# leaves it. Old is OLD over erased flash; new is IMAGE over old. The first
# block is erased first and written last, all but its first word, then
# that word; blocks before the cut one are new, the cut one is erased
# (and, for a write, holds BYTES of its data), the blocks after it are old.
expected() {
    local out=$1 old=$2 image=$3 moment=$4 offset=$5 bytes=$6 blocks cut_block
    blocks=$((($(stat -c %s "$image") + EB_CFI - 1) / EB_CFI))
    repeat_byte 255 "$FW_SIZE" >"$work/old.bin"
    put "$old" 0 "$work/old.bin"
    cp "$work/old.bin" "$work/new.bin"
    put "$image" 0 "$work/new.bin"
    if [ "$moment" = reboot ]; then cp "$work/new.bin" "$out"; return; fi
    # Blocks new up to the cut one; a cut in the first block comes after
    # all the others, but for its own first erase.
    cut_block=$((offset / EB_CFI))
    [ "$cut_block" -gt 0 ] || [ "$moment" = erase ] || cut_block=$blocks
    { head -c $((cut_block * EB_CFI)) "$work/new.bin"; tail -c +$((cut_block * EB_CFI + 1)) "$work/old.bin"; } >"$out"
    repeat_byte 255 "$EB_CFI" | put /dev/stdin 0 "$out"
    if [ "$cut_block" -lt "$blocks" ]; then repeat_byte 255 "$EB_CFI" | put /dev/stdin "$offset" "$out"; fi
    if [ "$moment" = write ] && [ "$offset" = 0 ]; then
        dd if="$work/new.bin" bs=64k iflag=skip_bytes,count_bytes skip=4 count=$((EB_CFI - 4)) status=none |
            put /dev/stdin 4 "$out"
    fi
    if [ "$moment" = write ]; then
        dd if="$work/new.bin" bs=64k iflag=skip_bytes,count_bytes skip="$offset" count="$bytes" status=none |
            put /dev/stdin "$offset" "$out"
    fi
}

tried=0 new=0 rescue=0 dead=0 rows=""
for m in "${moments[@]}"; do
    read -r name image moment offset bytes <<<"$m"
    tried=$((tried + 1))
    # uImages replace a uImage v1, on the flash whose U-Boot boots them.
    case "$image" in
    *.uimage) old=$work/v1.uimage env=$work/env-uimage.bin ;;
    *) old=$work/v1.fit env=$work/env.bin ;;
    esac
    fresh_flash "$old" "$env"
    make_job "$work/job.img" v1 "$work/$image" "$moment" "$offset" "$bytes"
    boot_device "$work/$name.log" "$work/job.img"
    check "$name: the power was cut at the moment ($(grep -m1 '^RIG-CUT' "$work/$name.log" || echo none))" \
        [ "$BOOT_END" = cut ]
    expected "$work/expected.bin" "$old" "$work/$image" "$moment" "$offset" "$bytes"
    firmware_1 "$work/now.bin"
    check "$name: Firmware_1 holds what that moment leaves" cmp -s "$work/expected.bin" "$work/now.bin"
    # Power on again; the rescue firmware installs the image once more.
    make_job "$work/job.img" rescue "$work/$image"
    boot_device "$work/$name-after.log" "$work/job.img"
    booted=$(firmwares "$work/$name-after.log")
    case "$booted" in
    "v2") new=$((new + 1)) ;;
    "rescue v2") rescue=$((rescue + 1)) ;;
    *) dead=$((dead + 1)) ;;
    esac
    held="$moment at 0x$(printf %x "$offset")"
    [ "$moment" != write ] || held+=", cut to $bytes bytes"
    rows+="| $name | $image | $held | ${booted:-nothing} ($BOOT_END) |
"
    if [ "$moment" = reboot ]; then want="v2"; else want="rescue v2"; fi
    check "$name: powered on again, booted: ${booted:-nothing} ($BOOT_END)" [ "$booted $BOOT_END" = "$want off" ]
    check "$name: Firmware_1 holds the image in the end" holds "$work/$image"
done

if [ "$record" = --record ]; then
    {
        echo "## Booting what was written"
        echo
        echo "$(date -u +%Y-%m-%d), \`tests/vm/boot/run.sh\`, revision $(git -C "$here" rev-parse --short HEAD): AArch64"
        echo "board booting through U-Boot from CFI NOR (QEMU TCG), FIT images of ${size} bytes (${blocks} blocks of 256 KiB)"
        echo "and legacy uImages of $(stat -c %s "$work/v2.uimage") bytes booted with verify=n;"
        echo "each cut is followed by a power-on, and from the rescue firmware by a second run."
        echo
        echo "| power cuts tried | booted new | booted rescue | did not boot | upgrade wall time, v1 to v2 and v2 to v1 (ms, reflasher's start to the new firmware's init) |"
        echo "|---|---|---|---|---|"
        echo "| $tried | $new | $rescue | $dead | ${times% } |"
        echo
        echo "| cut | image | the writer held at | firmwares booted after it (the rescue installing v2 again) |"
        echo "|---|---|---|---|"
        printf '%s' "$rows"
    } | "$here/../../../bench/record.sh" boot-power-cuts
fi
echo "cuts: $tried tried, $new booted new, $rescue booted rescue, $dead did not boot"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
