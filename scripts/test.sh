#!/bin/bash
# Installs what is missing, builds, and runs every test: the unit tests on
# the host (plain and under ASan+UBSan) and on AArch64 under qemu-user, the
# guest scenarios on the emulated device, and the static checks.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh

cache=${REFLASHER_VM_CACHE:-/var/cache/reflasher-vm}
jobs=$(nproc)
status=0
step() {
    echo "=== $1"
    shift
    "$@" || { echo "=== FAILED: $*"; status=1; }
}

# The static AArch64 program that runs in the guest, and its unit tests.
source scripts/common.sh
build_aarch64
# The host build, which also drives the guest.
cmake -S . -B build/host -G Ninja -DREFLASHER_GUEST_BINARY="$root/build/aarch64/reflasher" \
      -DREFLASHER_VM_CACHE="$cache" >/dev/null
cmake --build build/host
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DREFLASHER_SANITIZE=ON >/dev/null
cmake --build build/sanitize

step "host: unit and guest tests" ctest --test-dir build/host -j"$jobs" --output-on-failure
step "host: unit tests under ASan+UBSan" ctest --test-dir build/sanitize -j"$jobs" --output-on-failure
step "aarch64: unit tests under qemu-user" ctest --test-dir build/aarch64 -j"$jobs" --output-on-failure
step "static checks" scripts/lint.sh build/host

exit $status
