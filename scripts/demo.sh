#!/bin/bash
# The main job on the emulated device: builds what is needed, boots the
# AArch64 guest, runs reflasher on an image against "Firmware_1", lets the
# guest restart, and compares the flash with the image on the host.
#   scripts/demo.sh [IMAGE]     (default: a generated 1.5 MB image)
# The image must fit Firmware_1 (4 MiB).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh
cache=${REFLASHER_VM_CACHE:-/var/cache/reflasher-vm}

source scripts/common.sh
build_release_aarch64 --target reflasher rig_helper >/dev/null
echo "== preparing the guest (the kernel is built once per machine, a few minutes)"
kernel=$(tests/vm/build-kernel.sh "$cache")
busybox=$(tests/vm/fetch-busybox.sh "$cache")

mkdir -p build/demo
if [ $# -ge 1 ]; then
    image=$(realpath "$1")
else
    image=$root/build/demo/firmware.bin
    head -c 1500000 /dev/urandom >"$image"
    echo "== generated image $image"
fi
size=$(stat -c %s "$image")
[ "$size" -le 4194304 ] || { echo "image is $size bytes; Firmware_1 holds 4194304" >&2; exit 1; }

exec tests/vm/run-scenario.sh --kernel "$kernel" --busybox "$busybox" \
    --program build/release-aarch64/reflasher --helper build/release-aarch64/tests/rig_helper \
    --work build/demo/work --data "$image" tests/vm/demo/upgrade.sh
