# Cross build for big-endian 32-bit MIPS with Debian's mips-linux-gnu
# toolchain and glibc: the unit tests, under user-mode emulation.
#   cmake -S . -B build/mips -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-gnu.cmake -DREFLASHER_STATIC=ON
set(CMAKE_SYSTEM_PROCESSOR mips)
set(GNU_TRIPLET mips-linux-gnu)
set(QEMU_USER qemu-mips-static)
include(${CMAKE_CURRENT_LIST_DIR}/glibc-common.cmake)
