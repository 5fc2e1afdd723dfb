#!/bin/bash
# The writer against the flash's own limit and against mtd-utils, measured
# side by side in one boot of the AArch64 guest (nandsim with realistic
# timings, and a NOR-like block2mtd partition).
#   bench/guest-bench.sh [SIZE_BYTES] [RUNS] [PROGRAM]     (default 33554432, 3)
# Needs the release build (build/release-aarch64) and the guest kernel;
# fetches Debian's mtd-utils and libc for arm64 into the guest.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
size=${1:-33554432}
runs=${2:-3}
# Another build of the program (an older one, to compare) may be given as
# PROGRAM; its figures are printed, not recorded.
program=${3:-}
scripts/install-deps.sh
source scripts/common.sh
build_release_aarch64 --target reflasher rig_helper >/dev/null
cache=${REFLASHER_VM_CACHE:-/var/cache/reflasher-vm}
kernel=$(tests/vm/build-kernel.sh "$cache")
busybox=$(tests/vm/fetch-busybox.sh "$cache")

# mtd-utils and the C library they need, for the guest.
overlay=$(tests/vm/fetch-mtd-utils.sh "$cache")

work=$root/build/bench
rm -rf "$work"
mkdir -p "$work"
scenario=$work/writer.sh
sed -e "s/^# rig: append /# rig: append bench.size=$size bench.runs=$runs /" \
    -e "s/^# rig: disk1 .*/# rig: disk1 $((size / 65536 + 2))/" bench/guest/writer.sh >"$scenario"
# A 16 MiB legacy U-Boot image and a 16 MiB FIT with a sha256 hash, for
# the speed of the images' own checks.
head -c 16777216 /dev/urandom >"$work/payload"
mkimage -A arm -O linux -T kernel -C none -a 0 -e 0 -n bench -d "$work/payload" "$work/bench.uimage" >/dev/null
printf '/dts-v1/;\n/ { description = "bench"; #address-cells = <1>; images { kernel { data = /incbin/("%s"); type = "kernel";
    arch = "arm64"; os = "linux"; compression = "none"; load = <0>; entry = <0>; hash { algo = "sha256"; }; }; };
    configurations { default = "conf"; conf { kernel = "kernel"; }; }; };\n' "$work/payload" >"$work/bench.its"
mkimage -f "$work/bench.its" "$work/bench.fit" >/dev/null
# The same FIT signed with the 4096-bit test key, checked by the release
# built with that key (the program that the guest gets as data).
sed 's/conf { kernel = "kernel"; }/conf { kernel = "kernel"; signature { algo = "sha256,rsa4096"; key-name-hint = "dev4096"; }; }/' \
    "$work/bench.its" >"$work/signed.its"
mkimage -f "$work/signed.its" -k tests/unit/data/keys "$work/bench-signed.fit" >/dev/null
configure build/release-aarch64-key4096 cmake/aarch64-linux-musl.cmake -DREFLASHER_TESTS=OFF \
    -DREFLASHER_FIT_KEYS="$root/tests/unit/data/control-4096.dtb"
cmake --build build/release-aarch64-key4096 --target reflasher >/dev/null
cp build/release-aarch64-key4096/reflasher "$work/reflasher-signed"
tests/vm/run-scenario.sh --kernel "$kernel" --busybox "$busybox" \
    --program "${program:-build/release-aarch64/reflasher}" \
    --helper build/release-aarch64/tests/rig_helper --overlay "$overlay" --work "$work/run" \
    --data "$work/bench.uimage" --data "$work/bench.fit" --data "$work/bench-signed.fit" \
    --data "$work/reflasher-signed" "$scenario" >"$work/run.log" 2>&1 ||
    { cat "$work/run.log"; exit 1; }
grep -E '^(RESULT|MEMORY|NOR16|CHECK|FITCHECK|SIGCHECK)' "$work/run/console.log" >"$work/results"
grep -E '^(RESULT|PROBE|not ok)' "$work/run/console.log" | grep -q '^not ok' && { cat "$work/run.log"; exit 1; }

{
echo "## Writer benchmark"
echo
echo "$(date -u +%Y-%m-%d), \`bench/guest-bench.sh $size $runs\`, revision $(git rev-parse --short HEAD); guest: QEMU TCG cortex-a53, Linux 6.1;"
echo "image $size bytes, $runs runs each, interleaved; medians. NAND-half: the same size, every 128 KiB"
echo "block half data, half 0xFF."
echo
awk -v size="$size" '
function median(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
$1 == "MEMORY" { rss[$2] = $3; lck[$2] = $4; block[$2] = $5; next }
$1 == "NOR16" { key = $2 " " $3; sectors[key] = sectors[key] " " $4; nwall[key] = nwall[key] " " $5; next }
$1 == "CHECK" { check = check " " $3; next }
$1 == "FITCHECK" { fit = fit " " $3; sha = sha " " $4; next }
$1 == "SIGCHECK" { sig = sig " " $3; sigsha = sigsha " " $4; next }
{
    key = $2 " " $3
    wall[key] = wall[key] " " $5; cpu[key] = cpu[key] " " $6
}
END {
    mib = size / 1048576
    ndev = split("NAND NOR NAND-half", devs, " "); split("reflasher mtd-utils bound", tools, " ")
    printf "| device | tool | wall ms | MB/s | CPU ms per MiB |\n"
    printf "|---|---|---|---|---|\n"
    for (d = 1; d <= ndev; d++) for (t = 1; t <= 3; t++) {
        key = tools[t] " " devs[d]
        if (!(key in wall)) continue
        w = median(wall[key]); c = median(cpu[key])
        W[key] = w; C[key] = c
        printf "| %s | %s | %d | %.2f | %.1f |\n", devs[d], tools[t], w, size / 1e6 / (w / 1000), c / mib
    }
    printf "\n| device | reflasher / bound (wall) | floor: (bound + read) / bound | reflasher / mtd-utils (wall) | CPU per MiB, reflasher / mtd-utils |\n"
    printf "|---|---|---|---|---|\n"
    for (d = 1; d <= ndev; d++) {
        r = "reflasher " devs[d]; b = "bound " devs[d]; p = "mtd-utils " devs[d]; rd = "read " devs[d]
        if (!(r in W)) continue
        ratio = (C[p] > 0) ? sprintf("%.2f", C[r] / C[p]) : "-"
        floor = (rd in wall) ? sprintf("%.3f", (W[b] + median(wall[rd])) / W[b]) : "-"
        printf "| %s | %.3f | %s | %.3f | %s |\n", devs[d], W[r] / W[b], floor, W[r] / W[p], ratio
    }
    printf "\n| device | erase block KiB | stage two peak RSS KiB | peak locked KiB | target KiB (3 blocks + 256) |\n"
    printf "|---|---|---|---|---|\n"
    for (d = 1; d <= 2; d++)
        printf "| %s | %d | %d | %d | %d |\n", devs[d], block[devs[d]], rss[devs[d]], lck[devs[d]], 3 * block[devs[d]] + 256
    printf "\nNOR, a 16-block image (64 KiB blocks) over the same image with 0, 1 or 16 blocks changed: sectors of 512 bytes written to the backing disk, wall ms (medians).\n\n"
    printf "| blocks changed | reflasher sectors | reflasher ms | flashcp sectors | flashcp ms |\n|---|---|---|---|---|\n"
    split("0 1 16", ch, " ")
    for (i = 1; i <= 3; i++)
        printf "| %s | %d | %d | %d | %d |\n", ch[i], median(sectors["reflasher " ch[i]]), median(nwall["reflasher " ch[i]]),
            median(sectors["flashcp " ch[i]]), median(nwall["flashcp " ch[i]])
    if (check != "")
        printf "\nImage check of a 16 MiB legacy U-Boot image (header and data CRC), `reflasher -T`: %d ms, %.1f%% of reflasher'"'"'s NAND write of the same size.\n", median(check), 100 * median(check) / W["reflasher NAND"]
    if (fit != "")
        printf "\nImage check of a 16 MiB FIT with a sha256 hash, `reflasher -T`: %d ms; busybox `sha256sum` of the same file, in the same boot: %d ms; %.2f times its time (target: at most 1.1).\n", median(fit), median(sha), median(fit) / median(sha)
    if (sig != "")
        printf "\nThe same FIT signed (sha256,rsa4096), checked by a release built with that key, `reflasher -T`: %d ms; busybox `sha256sum` of the signed file, in the same boot: %d ms; %.2f times its time (target: at most 1.1).\n", median(sig), median(sigsha), median(sig) / median(sigsha)
}' "$work/results"
} | tee "$work/table.md"
[ -n "$program" ] || bench/record.sh writer-benchmark <"$work/table.md"
