#!/bin/bash
# The device whose root lives on the flash it rewrites (device.sh's
# flash-root firmwares): v1 runs busybox init and a daemon from its
# squashfs root with a JFFS2 overlay over the end of Firmware_1, and
# upgrades itself to v2, whose root reaches into v1's overlay. v2 must boot
# with every file of its root as built and its overlay mounted; also with
# /etc/diag.sh present (caches dropped); and a power cut in the middle of
# the write, or inside the first block's final write, boots the rescue.
#   flash-root.sh CACHE PROGRAM HELPER WORK
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/device.sh"
source "$here/../pattern.sh"
cache=$1 program=$2 helper=$3 work=$4
rm -rf "$work"
boot_rig_prepare "$cache" "$program" "$helper" "$work"
make_flashroot_firmware v1 "$work/v1-root.img" "$work/v1-root"
make_flashroot_firmware v2 "$work/v2-root.img" "$work/v2-root"
# No bootargs in the environment: each firmware's device tree carries its
# own. The rescue gets the plain partitions.
rescue="setenv bootargs console=ttyAMA0 loglevel=1 rdinit=/init $MTDPARTS;"
rescue+=" bootm 0x05040000#conf 0x05040000:ramdisk \${fdtcontroladdr}; poweroff"
printf '%s\n' "bootdelay=0" "bootcmd=bootm 0x04040000#conf; $rescue" >"$work/env-root.txt"
mkenvimage -s "$ENV_SIZE" -o "$work/env-root.bin" "$work/env-root.txt"

passed=0 failed=0
ok() { passed=$((passed + 1)); echo "ok - $*"; }
not_ok() { failed=$((failed + 1)); echo "not ok - $*"; }
check() { local d=$1; shift; if "$@"; then ok "$d"; else not_ok "$d"; fi; }

# v2_whole LOG: v2's boot listed every file of its root as built, with its
# overlay mounted.
v2_whole() {
    (cd "$work/v2-root" && find . -type f | sort | while read -r f; do echo "RIG-FILE $(sha256sum "$f")"; done) \
        >"$work/want.txt"
    awk '/^RIG-FIRMWARE v2/ { v2 = 1 } v2 && /^RIG-FILE / { print }' "$1" >"$work/got.txt"
    cmp -s "$work/want.txt" "$work/got.txt" &&
        awk '/^RIG-OVERLAY/ { o = $0 } /^RIG-FIRMWARE v2/ { print o; exit }' "$1" | grep -qx "RIG-OVERLAY mounted"
}

for run in plain:none diag:diag; do
    name=${run%:*} flags=${run#*:}
    [ "$flags" != none ] || flags=
    fresh_flash "$work/v1-root.img" "$work/env-root.bin"
    make_job "$work/job.img" v1 "$work/v2-root.img" none 0 0 "$flags"
    boot_device "$work/$name.log" "$work/job.img"
    check "$name: v1 upgraded itself, the device restarted into v2" \
        [ "$BOOT_END $(firmwares "$work/$name.log")" = "off v1 v2" ]
    check "$name: v1 ran with its overlay" grep -qx "RIG-OVERLAY mounted" "$work/$name.log"
    check "$name: the overlay was made read-only and its writer ended" sh -c \
        "grep -qx 'upgrade: Remounting / read-only' '$work/$name.log' &&
         grep -qx 'upgrade: Remounting /overlay read-only' '$work/$name.log' &&
         grep -q '^upgrade: Ending process [0-9]*: it holds a file on / open' '$work/$name.log'"
    check "$name: v2's root is whole and its overlay mounts" v2_whole "$work/$name.log"
    check "$name: no file-system errors" sh -c "! grep -qiE 'squashfs error|jffs2.*(error|warning)' '$work/$name.log'"
done

# Power cuts: half-way through the program of a block in the middle of
# v2's root, and
# in the first block's final write (only its first 2 bytes written). The
# next power-on boots the rescue, which installs v2 again.
# The middle of v2's root file system: the FIT's padding before it is
# erased flash in both firmwares, already up to date, so never written.
size=$(stat -c %s "$work/v2-root.img")
middle=$(((FLASHROOT_FIT_SIZE / EB_CFI + (size + EB_CFI - 1) / EB_CFI) / 2))
for cut in "middle write $((middle * EB_CFI)) $((EB_CFI / 2))" "first-block-magic write 0 2"; do
    read -r name moment offset bytes <<<"$cut"
    fresh_flash "$work/v1-root.img" "$work/env-root.bin"
    make_job "$work/job.img" v1 "$work/v2-root.img" "$moment" "$offset" "$bytes"
    boot_device "$work/$name.log" "$work/job.img"
    check "$name: the power was cut at the moment" [ "$BOOT_END" = cut ]
    make_job "$work/job.img" rescue "$work/v2-root.img"
    boot_device "$work/$name-after.log" "$work/job.img"
    check "$name: powered on again, the rescue installed v2, which boots" \
        [ "$BOOT_END $(firmwares "$work/$name-after.log")" = "off rescue v2" ]
    check "$name: v2's root is whole" v2_whole "$work/$name-after.log"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
