#!/bin/sh
# Builds the guest kernel into a cache directory keyed on the config
# fragments and this script, so it is built once per machine.
#   build-kernel.sh CACHE_DIR [ARCH [FLAVOUR]]  -> prints the path of the kernel image
# ARCH is the kernel's name of the architecture: arm64 (default), arm or
# mips (big-endian).
# FLAVOUR "boot" adds kernel-boot.config: the kernel of the device that
# boots from memory-mapped NOR through U-Boot (tests/vm/boot).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=$1
arch=${2:-arm64}
flavour=${3:-}
# The ARM guests start from tinyconfig on QEMU's virt board; the MIPS guest
# from the Malta board's defconfig (a tinyconfig kernel there lacks the
# board's timers and restart).
case "$arch" in
arm64) cross=aarch64-linux-gnu- image=arch/arm64/boot/Image base=tinyconfig board=virt ;;
arm) cross=arm-linux-gnueabihf- image=arch/arm/boot/zImage base=tinyconfig board=virt ;;
mips) cross=mips-linux-gnu- image=vmlinux base=malta_defconfig board= ;;
*) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
fragments="$here/kernel.config${board:+ $here/kernel-$board.config} $here/kernel-$arch.config"
fragments="$fragments${flavour:+ $here/kernel-$flavour.config}"
name=$(basename "$image")
# shellcheck disable=SC2086 # the fragments are paths without blanks
key=$(cat $fragments "$0" | sha256sum | cut -c1-16)
dir="$cache/kernel-$arch${flavour:+-$flavour}-$key"
if [ -f "$dir/$name" ]; then
    echo "$dir/$name"
    exit 0
fi
src=/usr/src/linux-source-6.1.tar.xz
[ -f "$src" ] || { echo "missing $src (apt-get install linux-source-6.1)" >&2; exit 1; }
rm -rf "$dir.tmp"
mkdir -p "$dir.tmp"
tar -C "$dir.tmp" -xf "$src"
ksrc="$dir.tmp/linux-source-6.1"
kmake() { make -s -C "$ksrc" ARCH="$arch" CROSS_COMPILE="$cross" O="$dir.tmp/out" "$@"; }
kmake "$base" >&2
# shellcheck disable=SC2086
(cd "$dir.tmp/out" && ARCH="$arch" "$ksrc/scripts/kconfig/merge_config.sh" -m -O . .config $fragments) >&2
kmake olddefconfig >&2
# Fail early when an option did not survive the merge.
# shellcheck disable=SC2086
missing=$(grep -h '^CONFIG_' $fragments | while read -r line; do
    grep -qx "$line" "$dir.tmp/out/.config" || echo "$line"; done)
if [ -n "$missing" ]; then echo "kernel options not applied: $missing" >&2; exit 1; fi
kmake -j"$(nproc)" "$name" >&2
mkdir -p "$dir"
cp "$dir.tmp/out/$image" "$dir/$name.part"
cp "$dir.tmp/out/.config" "$dir/config"
mv "$dir/$name.part" "$dir/$name"
rm -rf "$dir.tmp"
echo "$dir/$name"
