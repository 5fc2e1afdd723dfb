#!/bin/bash
# Size report of the release binaries: file size, sections and the largest
# symbols of each; fails when the AArch64 binary is over its budget.
#   bench/size.sh [BUDGET_BYTES]      (default 65536)
# Builds build/release-aarch64 and build/release-x86_64 first if needed.
set -euo pipefail
cd "$(dirname "$0")/.."
budget=${1:-65536}
status=0
for arch in aarch64 x86_64; do
    dir=build/release-$arch
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$arch-linux-musl.cmake" >/dev/null
    fi
    cmake --build "$dir" --target reflasher >/dev/null
    bin=$dir/reflasher
    bytes=$(stat -c %s "$bin")
    printf '%-8s %s: %d bytes (%.1f KiB)\n' "$arch" "$bin" "$bytes" "$(echo "$bytes / 1024" | bc -l)"
    size "$bin" | sed 's/^/         /'
    if [ "$arch" = aarch64 ]; then
        if [ "$bytes" -gt "$budget" ]; then
            echo "         OVER BUDGET: $bytes > $budget bytes"
            status=1
        else
            echo "         within budget: $bytes <= $budget bytes"
        fi
    fi
done
# Where the bytes go: the unstripped link of the AArch64 program.
obj=build/release-aarch64/CMakeFiles/reflasher.dir/src/main/main.cpp.o
lib=build/release-aarch64/libreflasher_core.a
aarch64-linux-musl-gcc -static -Wl,--gc-sections -Wl,-z,max-page-size=4096 "$obj" "$lib" \
    -o build/release-aarch64/reflasher.unstripped
echo "largest symbols (aarch64):"
aarch64-linux-gnu-nm --size-sort -S -C build/release-aarch64/reflasher.unstripped | tail -n 15 |
    while read -r _ size _ name; do printf '         %6d  %s\n' "$((16#$size))" "$name"; done
exit $status
