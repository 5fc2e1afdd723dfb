#!/bin/sh
# Build the guest kernel Image into a cache directory keyed on the config
# fragment, so it is built once per machine.
#   build-kernel.sh CACHE_DIR   -> prints the path of the Image
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=$1
key=$(cat "$here/kernel.config" "$0" | sha256sum | cut -c1-16)
dir="$cache/kernel-$key"
if [ -f "$dir/Image" ]; then
    echo "$dir/Image"
    exit 0
fi
src=/usr/src/linux-source-6.1.tar.xz
[ -f "$src" ] || { echo "missing $src (apt-get install linux-source-6.1)" >&2; exit 1; }
rm -rf "$dir.tmp"
mkdir -p "$dir.tmp"
tar -C "$dir.tmp" -xf "$src"
ksrc="$dir.tmp/linux-source-6.1"
kmake() { make -s -C "$ksrc" ARCH=arm64 CROSS_COMPILE=aarch64-linux-gnu- O="$dir.tmp/out" "$@"; }
kmake tinyconfig >&2
(cd "$dir.tmp/out" && ARCH=arm64 "$ksrc/scripts/kconfig/merge_config.sh" -m -O . .config "$here/kernel.config") >&2
kmake olddefconfig >&2
# Fail early when an option did not survive the merge.
missing=$(grep '^CONFIG_' "$here/kernel.config" | while read -r line; do
    grep -qx "$line" "$dir.tmp/out/.config" || echo "$line"; done)
if [ -n "$missing" ]; then echo "kernel options not applied: $missing" >&2; exit 1; fi
kmake -j"$(nproc)" Image >&2
mkdir -p "$dir"
cp "$dir.tmp/out/arch/arm64/boot/Image" "$dir/Image.part"
cp "$dir.tmp/out/.config" "$dir/config"
mv "$dir/Image.part" "$dir/Image"
rm -rf "$dir.tmp"
echo "$dir/Image"
