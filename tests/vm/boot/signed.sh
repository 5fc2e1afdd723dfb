#!/bin/bash
# The device with verified boot: U-Boot started with a control tree that
# requires the rig's key (control-tree.sh), v1, v2 and the rescue signed
# with it, v1 carrying the release built with that tree.
#  - an unsigned v2 (given with -F), a v2 signed by another key and a
#    signed v2 whose load address was changed after signing are each
#    refused in stage one: Firmware_1 keeps v1 byte for byte;
#  - the same images written into Firmware_1 by the rig itself make U-Boot
#    refuse them and boot the rescue (the rig tells them apart);
#  - a signed v2 upgrades, and U-Boot verifies its signature at the boot
#    after the restart.
#   signed.sh CACHE PROGRAM HELPER WORK CONTROL.dtb   (PROGRAM built with CONTROL.dtb)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/device.sh"
cache=$1 program=$2 helper=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
BOOT_PROGRAM_KEYS=$program
BOOT_DTB=$work/control.dtb
cp "$5" "$BOOT_DTB"
boot_rig_prepare "$cache" "$program" "$helper" "$work"
make_firmware v1 "$work/v1-signed.fit" signed
make_firmware v2 "$work/v2-signed.fit" signed
make_firmware rescue "$work/rescue-signed.fit" signed
make_firmware v2 "$work/v2-other.fit" signed-other
python3 "$here/../../unit/data/fit-edit.py" "$work/v2-signed.fit" "$work/v2-load.fit" flip /images/kernel load 3

passed=0 failed=0
check() {
    local d=$1
    shift
    if "$@"; then passed=$((passed + 1)); echo "ok - $d"; else failed=$((failed + 1)); echo "not ok - $d"; fi
}

for row in "v2.fit:-F:configuration 'conf' has no signature" \
    "v2-other.fit::configuration 'conf': signature 'signature' is by an unknown key, not by key 'rig'" \
    "v2-load.fit::configuration 'conf': signature 'signature' does not verify with key 'rig'"; do
    IFS=: read -r image flags line <<<"$row"
    fresh_flash "$work/v1-signed.fit" "$work/env.bin" "$work/rescue-signed.fit"
    firmware_1 "$work/before.bin"
    make_job "$work/job.img" v1 "$work/$image" none 0 0 "$flags"
    boot_device "$work/$image.log" "$work/job.img"
    check "$image: v1 booted, verified by U-Boot" grep -q 'sha256,rsa2048:rig+ OK' "$work/$image.log"
    check "$image${flags:+ with $flags}: refused in stage one" \
        sh -c "grep -qxF \"FIT image: $line\" '$work/$image.log' && grep -q '^RIG-UPGRADE-FAILED 1$' '$work/$image.log'"
    firmware_1 "$work/now.bin"
    check "$image: Firmware_1 unchanged byte for byte" cmp -s "$work/before.bin" "$work/now.bin"
    # Written by the rig itself, U-Boot refuses it and boots the rescue.
    fresh_flash "$work/$image" "$work/env.bin" "$work/rescue-signed.fit"
    make_job "$work/job.img" none "$work/$image"
    boot_device "$work/$image-written.log" "$work/job.img"
    check "$image: written by the rig, U-Boot refuses it and boots the rescue" \
        sh -c "grep -q 'Failed to verify required signature' '$work/$image-written.log' &&
               [ \"\$(sed -n 's/^RIG-FIRMWARE //p' '$work/$image-written.log')\" = rescue ]"
done

fresh_flash "$work/v1-signed.fit" "$work/env.bin" "$work/rescue-signed.fit"
make_job "$work/job.img" v1 "$work/v2-signed.fit"
boot_device "$work/signed.log" "$work/job.img"
check "signed v2: the device restarted into v2 by itself" [ "$BOOT_END $(firmwares "$work/signed.log")" = "off v1 v2" ]
check "signed v2: U-Boot verified v2's signature after the restart" \
    sh -c "awk '/^U-Boot 20/ { n++ } n >= 2' '$work/signed.log' | grep -q 'sha256,rsa2048:rig+ OK'"
firmware_1 "$work/now.bin"
check "signed v2: Firmware_1 holds v2" cmp -s -n "$(stat -c %s "$work/v2-signed.fit")" "$work/now.bin" "$work/v2-signed.fit"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
