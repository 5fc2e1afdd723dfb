#!/bin/bash
# Size report of the release binaries (AArch64, x86_64, ARMv7, big- and
# little-endian MIPS; all static musl): file size and sections of each, the
# largest symbols of the AArch64 one. Each is also built with a 4096-bit
# key (tests/unit/data/control-4096.dtb) as REFLASHER_FIT_KEYS; fails when
# that build leaves less than SPARE bytes (4096) of the budget.
# Also the big-endian MIPS program built as plain MIPS32 (for cores
# without MIPS16e), which has no budget.
# Records the sizes in bench/RESULTS.md unless given --no-record (the test
# command checks without recording).
#   bench/size.sh [--no-record] [BUDGET_BYTES] [SPARE]   (default 65536, 4096)
# Builds the release builds (build/release-TARGET) first if needed.
set -euo pipefail
cd "$(dirname "$0")/.."
record=1
if [ "${1:-}" = --no-record ]; then record=0; shift; fi
budget=${1:-65536}
spare=${2:-4096}
keys=$PWD/tests/unit/data/control-4096.dtb
targets="aarch64 x86_64 armv7 mips mipsel mips32"
status=0
table="| target | bytes | with a 4096-bit key | budget | to spare, with the key |
|---|---|---|---|---|"
for arch in $targets; do
    dir=build/release-$arch
    toolchain=$(ls cmake/"${arch%32}"-linux-musl*.cmake | head -n 1)
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        if [ "$arch" = mips32 ]; then
            cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-musl.cmake -DREFLASHER_MIPS16=OFF \
                >/dev/null
        else
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
| mips, plain MIPS32 (no MIPS16e), static, stripped | $bytes | - | none | - |"
        continue
    fi
    keyed=build/release-$arch-key4096
    [ -f "$keyed/CMakeCache.txt" ] ||
        cmake -S . -B "$keyed" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DREFLASHER_TESTS=OFF \
            -DREFLASHER_FIT_KEYS="$keys" >/dev/null
    cmake --build "$keyed" --target reflasher >/dev/null
    with_key=$(stat -c %s "$keyed/reflasher")
    if [ "$with_key" -gt $((budget - spare)) ]; then
        echo "         OVER BUDGET with a 4096-bit key: $with_key > $budget - $spare bytes"
        status=1
    else
        echo "         within budget with a 4096-bit key: $with_key <= $budget - $spare bytes"
    fi
    table+="
| $arch, static, stripped | $bytes | $with_key | $budget | $((budget - with_key)) |"
done
# Where the bytes go: the unstripped link of the AArch64 program.
link=$(cd build/release-aarch64 && ninja -t commands reflasher | tail -n 1 | sed 's/ -s / /; s/-o reflasher /-o reflasher.unstripped /')
(cd build/release-aarch64 && eval "$link")
echo "largest symbols (aarch64):"
aarch64-linux-gnu-nm --size-sort -S -C build/release-aarch64/reflasher.unstripped | tail -n 15 |
    while read -r _ size _ name; do printf '         %6d  %s\n' "$((16#$size))" "$name"; done
if [ "$record" -eq 1 ]; then
    printf '## Release binary sizes\n\n%s, `bench/size.sh`, revision %s:\n\n%s\n' "$(date -u +%Y-%m-%d)" \
        "$(git rev-parse --short HEAD 2>/dev/null || echo unknown)" "$table" | bench/record.sh sizes
fi
exit $status
