#!/bin/bash
# The main job on the emulated device, a board that boots through U-Boot
# from NOR flash: builds what is needed, powers the device on with
# firmware v1 in Firmware_1 and v2 on its download disk; v1 runs reflasher
# on v2, the device restarts by itself, U-Boot verifies v2 and boots it,
# and v2 says so. The console shows it all as it happens; then the host
# compares Firmware_1 with v2.
#   scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cache=${REFLASHER_VM_CACHE:-/var/cache/reflasher-vm}
source scripts/common.sh
build_release_aarch64 --target reflasher rig_helper >/dev/null
echo "== preparing the device (its kernel is built once per machine, a few minutes)"
source tests/vm/boot/device.sh
work=$PWD/build/demo
rm -rf "$work"
boot_rig_prepare "$cache" build/release-aarch64/reflasher build/release-aarch64/tests/rig_helper "$work"
fresh_flash "$work/v1.fit"
make_job "$work/download.img" v1 "$work/v2.fit"
echo "== powering on: U-Boot boots v1, which installs v2 ($(stat -c %s "$work/v2.fit") bytes) from its download disk"
: >"$work/console.log.raw"
tail -n +1 -F "$work/console.log.raw" 2>/dev/null &
tail_pid=$!
boot_device "$work/console.log" "$work/download.img"
sleep 0.5
kill "$tail_pid"
echo
echo "== the device powered itself off; firmwares that started, in order: $(firmwares "$work/console.log")"
firmware_1 "$work/firmware_1.bin"
if [ "$(firmwares "$work/console.log")" = "v1 v2" ] &&
    cmp -n "$(stat -c %s "$work/v2.fit")" "$work/firmware_1.bin" "$work/v2.fit"; then
    echo "== Firmware_1 holds v2 byte for byte, and v2 booted"
else
    echo "== the upgrade did not end as it should" >&2
    exit 1
fi
