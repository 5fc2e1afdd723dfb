# Shared by the scripts.

# configure DIR TOOLCHAIN [CMAKE ARGS...]: configures a build directory,
# giving the toolchain file only the first time (CMake keeps it).
configure() {
    local dir=$1 toolchain=$2
    shift 2
    local args=("$@")
    [ -f "$dir/CMakeCache.txt" ] || args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
    cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
}

# The release program for the device (static musl, AArch64) and the rig's
# guest helper built beside it: what the guest runs.
build_release_aarch64() {
    configure build/release-aarch64 cmake/aarch64-linux-musl.cmake
    cmake --build build/release-aarch64 "$@"
}

# The ARMv7 release program and its rig helper: what the 32-bit ARM guest
# runs.
build_release_armv7() {
    configure build/release-armv7 cmake/armv7-linux-musleabihf.cmake
    cmake --build build/release-armv7 "$@"
}
