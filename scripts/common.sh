# Shared by the scripts: configure and build the static AArch64 program
# (and the rig's guest helper) in build/aarch64.
build_aarch64() {
    local args=(-DREFLASHER_STATIC=ON)
    [ -f build/aarch64/CMakeCache.txt ] || args+=(-DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake)
    cmake -S . -B build/aarch64 -G Ninja "${args[@]}" >/dev/null
    cmake --build build/aarch64 "$@"
}
