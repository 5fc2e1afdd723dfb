# Shared part of the glibc cross toolchain files, whose builds carry the
# unit tests. Expects GNU_TRIPLET (Debian's cross toolchain) and QEMU_USER
# (the user-mode emulator that runs the tests; no binfmt set-up needed).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${GNU_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${GNU_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(qemu_user_program ${QEMU_USER})
if(qemu_user_program)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${qemu_user_program};-L;/usr/${GNU_TRIPLET})
endif()
