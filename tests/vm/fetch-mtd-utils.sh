#!/bin/bash
# Fetches Debian's mtd-utils for arm64 and the C library they need into a
# tree to lay over the guest's root (run-scenario.sh --overlay), once per
# cache directory, and prints its path.
#   fetch-mtd-utils.sh CACHE_DIR
set -euo pipefail
cache=$1
overlay=$cache/mtd-utils-arm64
tools=(flash_erase nandwrite flashcp ubiattach ubidetach)
if [ -x "$overlay/usr/sbin/ubidetach" ]; then echo "$overlay"; exit 0; fi
tmp=$(mktemp -d)
(cd "$tmp" && apt-get download mtd-utils:arm64 libc6:arm64 >/dev/null 2>&1) ||
    (cd "$tmp" && apt-get download mtd-utils:arm64 libc6:arm64 >&2)
for deb in "$tmp"/*.deb; do dpkg-deb -x "$deb" "$tmp/x"; done
rm -rf "$overlay.tmp"
mkdir -p "$overlay.tmp/usr/sbin"
cp -a "$tmp/x/lib" "$overlay.tmp/"
for t in "${tools[@]}"; do cp "$tmp/x/usr/sbin/$t" "$overlay.tmp/usr/sbin/"; done
rm -rf "$overlay" "$tmp"
mv "$overlay.tmp" "$overlay"
echo "$overlay"
