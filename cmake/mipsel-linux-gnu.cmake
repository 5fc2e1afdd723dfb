# Cross build for little-endian 32-bit MIPS with Debian's mipsel-linux-gnu
# toolchain and glibc: the unit tests, under user-mode emulation, over the
# program's code built as the release builds it (MIPS16e).
#   cmake -S . -B build/mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake -DREFLASHER_STATIC=ON
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(GNU_TRIPLET mipsel-linux-gnu)
set(QEMU_USER qemu-mipsel-static)
set(REFLASHER_MIPS16 ON CACHE BOOL "MIPS: compile the program as MIPS16e code")
include(${CMAKE_CURRENT_LIST_DIR}/glibc-common.cmake)
