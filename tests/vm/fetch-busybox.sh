#!/bin/sh
# Fetches Debian's static busybox for the guest's architecture into the
# cache directory and prints its path. Needs that architecture in dpkg
# (scripts/install-deps.sh adds it).
#   fetch-busybox.sh CACHE_DIR [ARCH]    ARCH: arm64 (default) or arm
set -eu
cache=$1
case "${2:-arm64}" in
arm64) deb_arch=arm64 ;;
arm) deb_arch=armhf ;;
*) echo "unknown architecture $2" >&2; exit 2 ;;
esac
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
