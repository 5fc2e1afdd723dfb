#!/bin/sh
# Fetches Debian's static busybox for the guest's architecture into the
# cache directory (for big-endian MIPS, builds it) and prints its path.
# Needs that architecture in dpkg (scripts/install-deps.sh adds it).
#   fetch-busybox.sh CACHE_DIR [ARCH]    ARCH: arm64 (default), arm or mips
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=$1
case "${2:-arm64}" in
arm64) deb_arch=arm64 ;;
arm) deb_arch=armhf ;;
mips) deb_arch= ;;
*) echo "unknown architecture $2" >&2; exit 2 ;;
esac
# Debian ships no big-endian MIPS binaries: busybox is built from Debian's
# source package, patches and static configuration, with Debian's cross
# compiler (static glibc). tc does not build against this kernel's
# headers.
if [ -z "$deb_arch" ]; then
    out="$cache/busybox-mips/busybox"
    if [ -x "$out" ]; then echo "$out"; exit 0; fi
    tmp="$cache/busybox-mips.tmp"
    rm -rf "$tmp"
    mkdir -p "$tmp"
    "$here/../../scripts/debian-source.sh" busybox "$tmp" >&2
    tar -C "$tmp" -xjf "$tmp"/busybox_*.orig.tar.bz2
    tar -C "$tmp" -xJf "$tmp"/busybox_*.debian.tar.xz
    src=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d -name 'busybox-*' | head -n 1)
    for patch in $(grep -v '^#' "$tmp/debian/patches/series"); do
        patch -d "$src" -p1 -s --batch <"$tmp/debian/patches/$patch"
    done
    sed -e 's/^CONFIG_TC=y$/# CONFIG_TC is not set/' \
        "$tmp/debian/config/pkg/static" >"$src/.config"
    bbmake() { make -s -C "$src" ARCH=mips CROSS_COMPILE=mips-linux-gnu- "$@"; }
    yes '' | bbmake oldconfig >/dev/null 2>&1
    bbmake -j"$(nproc)" busybox >&2
    mkdir -p "$cache/busybox-mips"
    cp "$src/busybox" "$out.part"
    mv "$out.part" "$out"
    rm -rf "$tmp"
    echo "$out"
    exit 0
fi
out="$cache/busybox-$deb_arch/busybox"
if [ -x "$out" ]; then echo "$out"; exit 0; fi
tmp="$cache/busybox-$deb_arch.tmp"
rm -rf "$tmp"
mkdir -p "$tmp"
(cd "$tmp" && apt-get download "busybox-static:$deb_arch" >&2 2>/dev/null) ||
    (cd "$tmp" && apt-get download "busybox-static:$deb_arch" >&2)
dpkg-deb -x "$tmp"/busybox-static_*_"$deb_arch".deb "$tmp/x"
mkdir -p "$cache/busybox-$deb_arch"
cp "$tmp/x/bin/busybox" "$out.part"
mv "$out.part" "$out"
rm -rf "$tmp"
echo "$out"
