# Release build for little-endian 32-bit MIPS devices (MediaTek's MT7621,
# MT7628 and the like): static musl, no libstdc++, the program's code in
# MIPS16e (-DREFLASHER_MIPS16=OFF for plain MIPS32, for cores without
# MIPS16e).
#   cmake -S . -B build/release-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-musl.cmake
# Needs g++-mipsel-linux-gnu; musl is built from Debian's source.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(MUSL_TRIPLET mipsel-linux-musl)
set(GNU_TRIPLET mipsel-linux-gnu)
set(KERNEL_HEADERS /usr/mipsel-linux-gnu/include)
# Calls through a PLT instead of the GOT: smaller code in a static binary.
set(MUSL_CXX_FLAGS "-mplt")
set(QEMU_USER qemu-mipsel-static)
set(REFLASHER_MIPS16 ON CACHE BOOL "MIPS: compile the program as MIPS16e code")
include(${CMAKE_CURRENT_LIST_DIR}/musl-from-source.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/musl-common.cmake)
