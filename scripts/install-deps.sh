#!/bin/bash
# Installs what building and testing need, on a Debian 12 machine (root).
set -euo pipefail
packages=(cmake ninja-build g++ googletest clang libclang-rt-14-dev clang-tidy clang-format cppcheck valgrind
          g++-aarch64-linux-gnu qemu-system-arm qemu-user-static linux-source-6.1
          flex bison bc cpio xz-utils libssl-dev libelf-dev man-db
          musl-dev musl-tools musl-dev:arm64 mtd-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
arm64=0
dpkg --print-foreign-architectures | grep -qx arm64 || arm64=1
if [ "${#missing[@]}" -eq 0 ] && [ "$arm64" -eq 0 ]; then
    exit 0
fi
# busybox for the guest comes from Debian's arm64 archive.
[ "$arm64" -eq 1 ] && dpkg --add-architecture arm64
apt-get update -qq
if [ "${#missing[@]}" -gt 0 ]; then
    echo "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
