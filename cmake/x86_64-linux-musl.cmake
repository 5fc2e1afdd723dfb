# Release build for x86_64 hosts and tests: static musl, no libstdc++.
#   cmake -S . -B build/release-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-linux-musl.cmake
# Needs musl-dev and musl-tools (x86_64-linux-musl-gcc).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MUSL_TRIPLET x86_64-linux-musl)
set(GNU_TRIPLET "")
set(KERNEL_HEADERS /usr/include)
set(KERNEL_ASM_HEADERS /usr/include/x86_64-linux-gnu/asm)
include(${CMAKE_CURRENT_LIST_DIR}/musl-common.cmake)
