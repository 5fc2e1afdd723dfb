# Shared part of the musl toolchain files. Expects MUSL_TRIPLET (for
# example aarch64-linux-musl), GNU_TRIPLET (the GNU toolchain whose g++
# compiles), KERNEL_HEADERS (where linux/, mtd/ and asm-generic/ live) and,
# when asm/ lies elsewhere, KERNEL_ASM_HEADERS. MUSL_INCLUDE_DIR and
# MUSL_GCC (musl's headers and its gcc wrapper, which links) default to
# Debian's places for MUSL_TRIPLET. QEMU_USER, when set, names the
# user-mode emulator that runs the release binary's own tests.
#
# The program needs no libstdc++ at all, not even its headers: g++ compiles
# against musl's headers only, and musl's gcc wrapper links.
set(CMAKE_SYSTEM_NAME Linux)
if(GNU_TRIPLET STREQUAL "")
  set(CMAKE_CXX_COMPILER g++)
  set(CMAKE_C_COMPILER gcc)
else()
  set(CMAKE_CXX_COMPILER ${GNU_TRIPLET}-g++)
  set(CMAKE_C_COMPILER ${GNU_TRIPLET}-gcc)
endif()

if(NOT MUSL_INCLUDE_DIR)
  set(MUSL_INCLUDE_DIR /usr/include/${MUSL_TRIPLET})
endif()
if(NOT MUSL_GCC)
  set(MUSL_GCC ${MUSL_TRIPLET}-gcc)
endif()

execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=include
                OUTPUT_VARIABLE gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)

# musl brings no kernel headers: a directory of links to the kernel's own.
set(kernel_links ${CMAKE_BINARY_DIR}/musl-kernel-headers)
file(MAKE_DIRECTORY ${kernel_links})
if(NOT KERNEL_ASM_HEADERS)
  set(KERNEL_ASM_HEADERS ${KERNEL_HEADERS}/asm)
endif()
foreach(dir linux mtd asm-generic)
  if(NOT EXISTS ${kernel_links}/${dir})
    file(CREATE_LINK ${KERNEL_HEADERS}/${dir} ${kernel_links}/${dir} SYMBOLIC)
  endif()
endforeach()
if(NOT EXISTS ${kernel_links}/asm)
  file(CREATE_LINK ${KERNEL_ASM_HEADERS} ${kernel_links}/asm SYMBOLIC)
endif()

set(CMAKE_CXX_FLAGS_INIT
    "${MUSL_CXX_FLAGS} -nostdinc -isystem ${MUSL_INCLUDE_DIR} -isystem ${kernel_links} -isystem ${gcc_include}")
set(CMAKE_CXX_LINK_EXECUTABLE
    "${MUSL_GCC} <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Only the program and the rig's helper: the unit tests need libstdc++.
set(REFLASHER_UNIT_TESTS OFF CACHE BOOL "Build the unit tests")
set(REFLASHER_RELEASE ON CACHE BOOL "Small, static, stripped release build")
# The C library is musl: its static startup applies no RELRO.
set(REFLASHER_MUSL ON)

if(QEMU_USER)
  find_program(qemu_user_program ${QEMU_USER})
  if(qemu_user_program)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${qemu_user_program})
  endif()
endif()
