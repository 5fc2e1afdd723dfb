# Release build for 32-bit ARM devices (ARMv7, hard-float): static musl, no
# libstdc++.
#   cmake -S . -B build/release-armv7 -DCMAKE_TOOLCHAIN_FILE=cmake/armv7-linux-musleabihf.cmake
# Needs musl-dev:armhf (it brings arm-linux-musleabihf-gcc) and
# g++-arm-linux-gnueabihf.
set(CMAKE_SYSTEM_PROCESSOR armv7)
set(MUSL_TRIPLET arm-linux-musleabihf)
set(GNU_TRIPLET arm-linux-gnueabihf)
set(KERNEL_HEADERS /usr/arm-linux-gnueabihf/include)
set(QEMU_USER qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/musl-common.cmake)
