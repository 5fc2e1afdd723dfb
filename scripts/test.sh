#!/bin/bash
# Installs what is missing, builds, and runs every test: the unit tests on
# the host (plain, under ASan+UBSan with gcc and with clang, under valgrind)
# and on AArch64 under qemu-user, the fuzz targets (a bounded run each and
# the replay of their corpus), the unit tests on AArch64, ARMv7 and
# big-endian MIPS under qemu-user, the release builds for those and x86_64
# with their size budget, the guest scenarios on the emulated device
# (AArch64, 32-bit ARM and big-endian MIPS guests running the release
# binaries, power cuts included; the device that boots through U-Boot,
# also with verified boot), and the static checks.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh
source scripts/common.sh

cache=${REFLASHER_VM_CACHE:-/var/cache/reflasher-vm}
jobs=$(nproc)
status=0
step() {
    echo "=== $1"
    shift
    "$@" || { echo "=== FAILED: $*"; status=1; }
}

# Release builds: static musl; the AArch64 and ARMv7 ones are what the
# guests run.
build_release_aarch64
build_release_armv7
# The release of the verified-boot device, built with its control tree.
tests/vm/boot/control-tree.sh build/rig-control.dtb
configure build/release-aarch64-keys cmake/aarch64-linux-musl.cmake -DREFLASHER_TESTS=OFF \
    -DREFLASHER_FIT_KEYS="$root/build/rig-control.dtb"
cmake --build build/release-aarch64-keys
configure build/release-x86_64 cmake/x86_64-linux-musl.cmake
cmake --build build/release-x86_64
for arch in mips mipsel; do
    configure build/release-$arch cmake/$arch-linux-musl.cmake
    cmake --build build/release-$arch
done
# Static glibc builds for the unit tests under qemu-user: AArch64, ARMv7
# and big- and little-endian MIPS.
for target in aarch64:aarch64-linux-gnu armv7:armv7-linux-gnueabihf mips:mips-linux-gnu mipsel:mipsel-linux-gnu; do
    configure "build/${target%%:*}" "cmake/${target#*:}.cmake" -DREFLASHER_STATIC=ON
    cmake --build "build/${target%%:*}"
done
# The host build, which also drives the guests.
cmake -S . -B build/host -G Ninja -DREFLASHER_GUEST_BINARY="$root/build/release-aarch64/reflasher" \
      -DREFLASHER_GUEST_HELPER="$root/build/release-aarch64/tests/rig_helper" \
      -DREFLASHER_GUEST_BINARY_ARM="$root/build/release-armv7/reflasher" \
      -DREFLASHER_GUEST_BINARY_MIPS="$root/build/release-mips/reflasher" \
      -DREFLASHER_GUEST_BINARY_KEYS="$root/build/release-aarch64-keys/reflasher" \
      -DREFLASHER_RIG_CONTROL_DTB="$root/build/rig-control.dtb" \
      -DREFLASHER_VM_CACHE="$cache" >/dev/null
cmake --build build/host
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DREFLASHER_SANITIZE=ON >/dev/null
cmake --build build/sanitize
# clang with libFuzzer, ASan and UBSan: the fuzz targets and the unit tests.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DREFLASHER_FUZZ=ON \
      -DREFLASHER_FUZZ_SECONDS="${REFLASHER_FUZZ_SECONDS:-30}" >/dev/null
cmake --build build/fuzz

step "host: unit and guest tests" ctest --test-dir build/host -j"$jobs" --output-on-failure
step "host: unit tests under ASan+UBSan" ctest --test-dir build/sanitize -j"$jobs" --output-on-failure
step "clang: unit tests and fuzzing under ASan+UBSan" ctest --test-dir build/fuzz -j"$jobs" --output-on-failure
step "host: unit tests under valgrind memcheck" scripts/valgrind-unit.sh build/host
for arch in aarch64 armv7 mips mipsel; do
    step "$arch: unit tests under qemu-user" ctest --test-dir "build/$arch" -j"$jobs" --output-on-failure
done
for arch in aarch64 x86_64 armv7 mips mipsel; do
    step "$arch release build: size budget, page alignment, run-time dependencies, usage text" \
        ctest --test-dir "build/release-$arch" --output-on-failure
done
step "release sizes" bench/size.sh --no-record
step "static checks" scripts/lint.sh build/host

exit $status
