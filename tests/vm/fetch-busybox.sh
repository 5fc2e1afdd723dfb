#!/bin/sh
# Fetches Debian's static busybox for arm64 into the cache directory and
# prints its path. Needs the arm64 architecture in dpkg (the test script
# adds it).
set -eu
cache=$1
out="$cache/busybox-arm64/busybox"
if [ -x "$out" ]; then echo "$out"; exit 0; fi
tmp="$cache/busybox-arm64.tmp"
rm -rf "$tmp"
mkdir -p "$tmp"
(cd "$tmp" && apt-get download busybox-static:arm64 >&2 2>/dev/null) || (cd "$tmp" && apt-get download busybox-static:arm64 >&2)
dpkg-deb -x "$tmp"/busybox-static_*_arm64.deb "$tmp/x"
mkdir -p "$cache/busybox-arm64"
cp "$tmp/x/bin/busybox" "$out.part"
mv "$out.part" "$out"
rm -rf "$tmp"
echo "$out"
