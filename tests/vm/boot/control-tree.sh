#!/bin/bash
# The control device tree of the verified-boot device: QEMU's own tree for
# the rig's machine (as it makes it with the rig's CPU, memory and flash
# banks), with the rig's key (keys/rig.key) added by mkimage as required
# for configurations. U-Boot is started with it (-dtb), and the release
# that the signed firmwares carry is built with it (REFLASHER_FIT_KEYS).
#   control-tree.sh OUT.dtb
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp /usr/lib/u-boot/qemu_arm64/u-boot.bin "$work/bank0"
truncate -s $((64 << 20)) "$work/bank0"
truncate -s $((64 << 20)) "$work/bank1"
qemu-system-aarch64 -M virt,dumpdtb="$work/control.dtb" -cpu cortex-a53 -m 512 -nographic -nic none \
    -drive if=pflash,format=raw,file="$work/bank0",readonly=on \
    -drive if=pflash,format=raw,file="$work/bank1" >/dev/null 2>&1
# Signing any FIT with -K -r writes the key into the tree.
head -c 64 /dev/zero >"$work/payload"
cat >"$work/key.its" <<ITS
/dts-v1/;
/ {
    description = "rig key";
    images { kernel { data = /incbin/("$work/payload"); type = "kernel"; arch = "arm64"; os = "linux";
                      compression = "none"; load = <0>; entry = <0>; hash { algo = "sha256"; }; }; };
    configurations { default = "conf";
        conf { kernel = "kernel"; signature { algo = "sha256,rsa2048"; key-name-hint = "rig"; }; }; };
};
ITS
mkimage -f "$work/key.its" -k "$here/keys" -K "$work/control.dtb" -r "$work/key.itb" >/dev/null
mv "$work/control.dtb" "$out"
