# Cross build for big-endian 32-bit MIPS with Debian's mips-linux-gnu
# toolchain and glibc: the unit tests, under user-mode emulation.
#   cmake -S . -B build/mips -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-gnu.cmake -DREFLASHER_STATIC=ON
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(QEMU_MIPS qemu-mips-static)
if(QEMU_MIPS)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_MIPS};-L;/usr/mips-linux-gnu)
endif()
