# Release build for big-endian 32-bit MIPS devices: static musl, no
# libstdc++, the program's code in MIPS16e (-DREFLASHER_MIPS16=OFF for
# plain MIPS32, for cores without MIPS16e).
#   cmake -S . -B build/release-mips -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-musl.cmake
# Needs g++-mips-linux-gnu; musl is built from Debian's source.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(MUSL_TRIPLET mips-linux-musl)
set(GNU_TRIPLET mips-linux-gnu)
set(KERNEL_HEADERS /usr/mips-linux-gnu/include)
# Calls through a PLT instead of the GOT: smaller code in a static binary.
set(MUSL_CXX_FLAGS "-mplt")
set(QEMU_USER qemu-mips-static)
set(REFLASHER_MIPS16 ON CACHE BOOL "MIPS: compile the program as MIPS16e code")
include(${CMAKE_CURRENT_LIST_DIR}/musl-from-source.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/musl-common.cmake)
