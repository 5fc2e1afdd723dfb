# For targets that Debian ships no musl for (MIPS): musl is built once from
# Debian's musl source package with Debian's cross compiler GNU_TRIPLET-gcc
# (build-musl.sh), into REFLASHER_MUSL_CACHE (an environment variable;
# default /var/cache/reflasher-musl). Sets MUSL_INCLUDE_DIR and MUSL_GCC
# for musl-common.cmake.
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
