# Cross build for 32-bit ARM (ARMv7, hard-float) with Debian's
# arm-linux-gnueabihf toolchain and glibc: the unit tests, under user-mode
# emulation.
#   cmake -S . -B build/armv7 -DCMAKE_TOOLCHAIN_FILE=cmake/armv7-linux-gnueabihf.cmake -DREFLASHER_STATIC=ON
set(CMAKE_SYSTEM_PROCESSOR armv7)
set(GNU_TRIPLET arm-linux-gnueabihf)
set(QEMU_USER qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/glibc-common.cmake)
