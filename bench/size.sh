#!/bin/bash
# Size report of the release binaries (AArch64, x86_64, ARMv7, big- and
# little-endian MIPS; all static musl): file size and sections of each, the
# largest symbols of the AArch64 one; fails when one is over its budget.
# Also the big-endian MIPS program built as plain MIPS32 (for cores
# without MIPS16e), which has no budget.
# Records the sizes in bench/RESULTS.md unless given --no-record (the test
# command checks without recording).
#   bench/size.sh [--no-record] [BUDGET_BYTES]      (default 65536)
# Builds the release builds (build/release-TARGET) first if needed.
set -euo pipefail
cd "$(dirname "$0")/.."
record=1
if [ "${1:-}" = --no-record ]; then record=0; shift; fi
budget=${1:-65536}
targets="aarch64 x86_64 armv7 mips mipsel mips32"
status=0
table="| target | bytes | budget | to spare |
|---|---|---|---|"
for arch in $targets; do
    dir=build/release-$arch
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        if [ "$arch" = mips32 ]; then
            cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-musl.cmake -DREFLASHER_MIPS16=OFF \
                >/dev/null
        else
            toolchain=$(ls cmake/"$arch"-linux-musl*.cmake | head -n 1)
            cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
        fi
    fi
    cmake --build "$dir" --target reflasher >/dev/null
    bin=$dir/reflasher
    bytes=$(stat -c %s "$bin")
    printf '%-8s %s: %d bytes (%.1f KiB)\n' "$arch" "$bin" "$bytes" "$(echo "$bytes / 1024" | bc -l)"
    size "$bin" | sed 's/^/         /'
    if [ "$arch" = mips32 ]; then
        table+="
| mips, plain MIPS32 (no MIPS16e), static, stripped | $bytes | none | - |"
        continue
    fi
    if [ "$bytes" -gt "$budget" ]; then
        echo "         OVER BUDGET: $bytes > $budget bytes"
        status=1
    else
        echo "         within budget: $bytes <= $budget bytes"
    fi
    table+="
| $arch, static, stripped | $bytes | $budget | $((budget - bytes)) |"
done
# Where the bytes go: the unstripped link of the AArch64 program.
obj=build/release-aarch64/CMakeFiles/reflasher.dir/src/main/main.cpp.o
lib=build/release-aarch64/libreflasher_core.a
aarch64-linux-musl-gcc -static -Wl,--gc-sections -Wl,-z,max-page-size=65536 "$obj" "$lib" \
    -o build/release-aarch64/reflasher.unstripped
echo "largest symbols (aarch64):"
aarch64-linux-gnu-nm --size-sort -S -C build/release-aarch64/reflasher.unstripped | tail -n 15 |
    while read -r _ size _ name; do printf '         %6d  %s\n' "$((16#$size))" "$name"; done
if [ "$record" -eq 1 ]; then
    printf '## Release binary sizes\n\n%s, `bench/size.sh`, revision %s:\n\n%s\n' "$(date -u +%Y-%m-%d)" \
        "$(git rev-parse --short HEAD 2>/dev/null || echo unknown)" "$table" | bench/record.sh sizes
fi
exit $status
