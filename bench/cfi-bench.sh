#!/bin/bash
# The writer on the CFI NOR of the device that boots through U-Boot
# (QEMU's memory-mapped flash), against flashcp (mtd-utils, which also
# verifies) and a raw loop that only erases and writes each block (the
# floor), in one boot, interleaved, each timed from its start to the end
# of its write; the same image over an erased partition and over one that
# already holds it.
#   bench/cfi-bench.sh [SIZE_BYTES] [RUNS]     (default 8388608, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
size=${1:-8388608}
runs=${2:-3}
scripts/install-deps.sh
source scripts/common.sh
build_release_aarch64 --target reflasher rig_helper >/dev/null
cache=${REFLASHER_VM_CACHE:-/var/cache/reflasher-vm}
kernel=$(tests/vm/build-kernel.sh "$cache" arm64 boot)
busybox=$(tests/vm/fetch-busybox.sh "$cache")
overlay=$(tests/vm/fetch-mtd-utils.sh "$cache")
work=$root/build/cfi-bench
rm -rf "$work"
mkdir -p "$work"
sed -e "s/^# rig: pflash/# rig: pflash\n# rig: append bench.size=$size bench.runs=$runs/" bench/guest/cfi.sh >"$work/cfi.sh"
tests/vm/run-scenario.sh --kernel "$kernel" --busybox "$busybox" --program build/release-aarch64/reflasher \
    --helper build/release-aarch64/tests/rig_helper --overlay "$overlay" --work "$work/run" "$work/cfi.sh" \
    >"$work/run.log" 2>&1 || { cat "$work/run.log"; exit 1; }
grep '^RESULT' "$work/run/console.log" >"$work/results"
{
echo "## CFI NOR of the booting device"
echo
echo "$(date -u +%Y-%m-%d), \`bench/cfi-bench.sh $size $runs\`; QEMU TCG cortex-a53, Linux 6.1, physmap CFI NOR"
echo "(two interleaved chips, 256 KiB blocks); a random image of $size bytes, $runs runs each, interleaved; medians;"
echo "each tool timed from its start to the end of its write (reflasher's \"Done.\", the others' exit), revision $(git rev-parse --short HEAD)."
echo "The raw loop erases and writes each block and does nothing else: the floor, over an erased partition."
echo
awk -v size="$size" '
function median(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
{ wall[$2 " " $3] = wall[$2 " " $3] " " $5 }
END {
    printf "| partition before | reflasher ms | flashcp ms | raw erase + write loop ms | reflasher / flashcp | reflasher / raw loop |\n"
    printf "|---|---|---|---|---|---|\n"
    split("erased equal", from, " ")
    for (i = 1; i <= 2; i++) {
        r = median(wall["reflasher " from[i]]); f = median(wall["flashcp " from[i]]); b = median(wall["raw " from[i]])
        printf "| %s | %d | %d | %d | %.3f | %.3f |\n", from[i], r, f, b, r / f, r / b
    }
}' "$work/results"
} | tee "$work/table.md"
grep -q '^not ok' "$work/run/console.log" && { echo "a tool wrote the partition wrongly" >&2; exit 1; }
bench/record.sh cfi-benchmark <"$work/table.md"
