# Release build for big-endian 32-bit MIPS devices: static musl, no
# libstdc++.
#   cmake -S . -B build/release-mips -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-musl.cmake
# Needs g++-mips-linux-gnu. Debian ships no musl for big-endian MIPS: it is
# built once from Debian's musl source into REFLASHER_MUSL_CACHE (an
# environment variable; default /var/cache/reflasher-musl).
set(CMAKE_SYSTEM_PROCESSOR mips)
set(MUSL_TRIPLET mips-linux-musl)
set(GNU_TRIPLET mips-linux-gnu)
set(KERNEL_HEADERS /usr/mips-linux-gnu/include)
set(musl_cache $ENV{REFLASHER_MUSL_CACHE})
if(NOT musl_cache)
  set(musl_cache /var/cache/reflasher-musl)
endif()
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-musl.sh ${musl_cache} ${GNU_TRIPLET}
                OUTPUT_VARIABLE musl_prefix OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE musl_result)
if(NOT musl_result EQUAL 0)
  message(FATAL_ERROR "cannot build musl for ${GNU_TRIPLET}")
endif()
set(MUSL_INCLUDE_DIR ${musl_prefix}/include)
set(MUSL_GCC ${musl_prefix}/bin/musl-gcc)



# Calls through a PLT instead of the GOT: smaller code in a static binary.
set(MUSL_CXX_FLAGS "-mplt")
set(QEMU_USER qemu-mips-static)
include(${CMAKE_CURRENT_LIST_DIR}/musl-common.cmake)
