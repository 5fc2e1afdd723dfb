# Cross build for AArch64 Linux with Debian's aarch64-linux-gnu toolchain
# and glibc: the unit tests, under user-mode emulation.
#   cmake -S . -B build/aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DREFLASHER_STATIC=ON
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(GNU_TRIPLET aarch64-linux-gnu)
set(QEMU_USER qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/glibc-common.cmake)
