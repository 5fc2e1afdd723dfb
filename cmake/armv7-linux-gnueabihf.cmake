# Cross build for 32-bit ARM (ARMv7, hard-float) with Debian's
# arm-linux-gnueabihf toolchain and glibc: the unit tests, under user-mode
# emulation.
#   cmake -S . -B build/armv7 -DCMAKE_TOOLCHAIN_FILE=cmake/armv7-linux-gnueabihf.cmake -DREFLASHER_STATIC=ON
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(QEMU_ARM qemu-arm-static)
if(QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_ARM};-L;/usr/arm-linux-gnueabihf)
endif()
