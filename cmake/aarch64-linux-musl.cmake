# Release build for AArch64 devices: static musl, no libstdc++.
#   cmake -S . -B build/release-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-musl.cmake
# Needs musl-dev:arm64 (it brings aarch64-linux-musl-gcc) and g++-aarch64-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(MUSL_TRIPLET aarch64-linux-musl)
set(GNU_TRIPLET aarch64-linux-gnu)
set(KERNEL_HEADERS /usr/aarch64-linux-gnu/include)
set(QEMU_USER qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/musl-common.cmake)
