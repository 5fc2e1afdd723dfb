#!/bin/bash
# Installs what building and testing need, on a Debian 12 machine (root).
set -euo pipefail
packages=(cmake ninja-build g++ googletest clang libclang-rt-14-dev clang-tidy clang-format cppcheck valgrind
          g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-mips-linux-gnu g++-mipsel-linux-gnu
          qemu-system-arm qemu-system-mips qemu-user-static linux-source-6.1
          flex bison bc cpio xz-utils libssl-dev libelf-dev man-db
          musl-dev musl-tools musl-dev:arm64 musl-dev:armhf mtd-utils
          u-boot-tools squashfs-tools device-tree-compiler u-boot-qemu python3)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# musl and busybox for the guests come from Debian's arm64 and armhf
# archives.
foreign=()
for arch in arm64 armhf; do
    dpkg --print-foreign-architectures | grep -qx "$arch" || foreign+=("$arch")
done
if [ "${#missing[@]}" -eq 0 ] && [ "${#foreign[@]}" -eq 0 ]; then
    exit 0
fi
for arch in "${foreign[@]+"${foreign[@]}"}"; do dpkg --add-architecture "$arch"; done
apt-get update -qq
if [ "${#missing[@]}" -gt 0 ]; then
    echo "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
