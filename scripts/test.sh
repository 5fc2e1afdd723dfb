#!/bin/bash
# Installs what is missing, builds, and runs every test: the unit tests on
# the host (plain, under ASan+UBSan with gcc and with clang, under valgrind)
# and on AArch64 under qemu-user, the fuzz targets (a bounded run each and
# the replay of their corpus), the release builds with their size budget,
# the guest scenarios on the emulated device (running the AArch64 release
# binary, power cuts included), and the static checks.
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

# Release builds: static musl, the AArch64 one is what the guest runs.
build_release_aarch64
configure build/release-x86_64 cmake/x86_64-linux-musl.cmake
cmake --build build/release-x86_64
# Static glibc AArch64 build, for the unit tests under qemu-user.
configure build/aarch64 cmake/aarch64-linux-gnu.cmake -DREFLASHER_STATIC=ON
cmake --build build/aarch64
# The host build, which also drives the guest.
cmake -S . -B build/host -G Ninja -DREFLASHER_GUEST_BINARY="$root/build/release-aarch64/reflasher" \
      -DREFLASHER_GUEST_HELPER="$root/build/release-aarch64/tests/rig_helper" \
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
step "aarch64: unit tests under qemu-user" ctest --test-dir build/aarch64 -j"$jobs" --output-on-failure
step "release builds: size budget and run-time dependencies" \
    sh -c 'ctest --test-dir build/release-aarch64 --output-on-failure && ctest --test-dir build/release-x86_64 --output-on-failure'
step "release sizes" bench/size.sh --no-record
step "static checks" scripts/lint.sh build/host

exit $status
