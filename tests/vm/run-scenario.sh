#!/bin/bash
# Boots the test guest with one scenario and judges the result.
#
#   run-scenario.sh --kernel IMAGE --busybox BUSYBOX --program REFLASHER \
#                   --helper RIG_HELPER --work DIR SCENARIO.sh [--data FILE]...
#                   [--cut-after LINE --cut-ms MS] [--overlay DIR] [--arch ARCH]
#
# --arch is the guest's architecture: arm64 (AArch64, the default), arm
# (32-bit ARMv7) or mips (32-bit big-endian MIPS); kernel, busybox, program
# and helper must be built for it.
# --overlay copies DIR's tree into the guest's root (extra programs and
# their libraries).
# With --cut-after, QEMU is killed MS milliseconds after LINE first shows on
# the console (a power cut); the scenario then counts as one that restarts.
#
# The guest runs SCENARIO.sh (sourcing lib.sh) and prints "ok"/"not ok"
# lines and a closing "RIG-END passed=N failed=M" on its serial console.
# Lines "# rig: KEY VALUE" in the scenario set up the boot:
#   append PARAMS   more kernel parameters (later ones override the layout's)
#   restart         the scenario ends by restarting the guest (no RIG-END)
#   initramfs       the guest stays on the kernel's initramfs root (no
#                   move onto tmpfs) and /tmp is a plain directory of it
#   timeout SECONDS how long the guest may run (default 120)
#   disk0 OPTIONS   more QEMU -drive options for the first disk
#   disk1 BLOCKS    size of the spare disk in 64 KiB blocks (default 32)
#   data NAME SIZE  a file of SIZE random bytes, made on the host, at
#                   /rig/data/NAME in the guest and RIG_WORK/data/NAME here
#   pflash          QEMU's two CFI flash banks too (the kernel must have
#                   the CFI driver: build-kernel.sh's "boot" flavour); the
#                   second, erased, is the partition "BenchCFI"
# A file SCENARIO.prep beside it, if present, runs on the host first (bash,
# with RIG_DATA set to the directory that becomes /rig/data in the guest),
# to make data files.
# A file SCENARIO.host beside it, if present, runs on the host afterwards
# (bash, with RIG_WORK, RIG_CONSOLE, RIG_DISK0, RIG_DISK1 set) and prints
# its own "ok"/"not ok" lines.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
kernel= busybox= program= helper= work= scenario= cut_after= cut_ms=0 overlay= arch=arm64
data=()
while [ $# -gt 0 ]; do
    case "$1" in
    --kernel) kernel=$2; shift 2 ;;
    --busybox) busybox=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    --helper) helper=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --data) data+=("$2"); shift 2 ;;
    --cut-after) cut_after=$2; shift 2 ;;
    --overlay) overlay=$2; shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    --cut-ms) cut_ms=$2; shift 2 ;;
    *) scenario=$1; shift ;;
    esac
done
[ -n "$kernel" ] && [ -n "$busybox" ] && [ -n "$program" ] && [ -n "$helper" ] && [ -n "$work" ] &&
    [ -n "$scenario" ] || {
    echo "usage: $0 --kernel IMAGE --busybox BUSYBOX --program REFLASHER --helper HELPER --work DIR SCENARIO.sh" >&2
    exit 2
}
name=$(basename "$scenario" .sh)

rig_opt() { sed -n "s/^# rig: $1 *//p" "$scenario"; }
rig_flag() { grep -q "^# rig: $1\$" "$scenario"; }

# The device's flash layout:
#  - "Firmware_1": block2mtd on the first disk (64 KiB erase blocks), so its
#    contents can be checked on the host after a real restart;
#  - mtdram (1 MiB, 64 KiB blocks): U-Boot, U-Config and Firmware_2;
#  - nandsim: 8 MiB NAND, 128 KiB blocks, 2 KiB pages, blocks 2, 5 and 6
#    of the chip bad: Preloader (blocks 0-1), Kernel_1 (2-17, its blocks 0,
#    3 and 4 bad), RootFS_1 (the rest).
layout="block2mtd.block2mtd=/dev/vda,65536,Firmware_1"
layout+=" nandsim.id_bytes=0xec,0xa1,0x00,0x15 nandsim.overridesize=6 nandsim.badblocks=2,5,6"
parts="mtdram test device:256k(U-Boot),256k(U-Config),-(Firmware_2);NAND 128MiB 1,8V 8-bit:256k(Preloader),2M(Kernel_1),-(RootFS_1)"
pflash=()
if rig_flag pflash; then
    parts+=";0.flash:64m(CFI-Bank0)ro,-(BenchCFI)"
    # Only the second bank has a file: with one in the first, QEMU would
    # run it as the machine's firmware instead of the kernel.
    pflash=(-drive if=pflash,unit=1,format=raw,file="$work/bank1.img")
fi
layout+=" \"mtdparts=$parts\""

rm -rf "$work"
mkdir -p "$work/root/bin" "$work/root/rig/data" "$work/root/usr/sbin" "$work/root/etc" \
    "$work/root/proc" "$work/root/sys" "$work/root/dev"
cp "$busybox" "$work/root/bin/busybox"
cp "$here/init" "$work/root/init"
cp "$here/init2" "$here/lib.sh" "$here/pattern.sh" "$work/root/rig/"
cp "$scenario" "$work/root/rig/scenario.sh"
cp "$program" "$work/root/usr/sbin/reflasher"
cp "$helper" "$work/root/usr/sbin/rig_helper"
chmod 0755 "$work/root/init" "$work/root/rig/init2" "$work/root/usr/sbin/reflasher" "$work/root/usr/sbin/rig_helper"
mkdir -p "$work/data"
for f in "${data[@]+"${data[@]}"}"; do cp "$f" "$work/data/"; done
while read -r dname dsize; do
    [ -n "$dname" ] && head -c "$dsize" /dev/urandom >"$work/data/$dname"
done < <(rig_opt data)
prep="${scenario%.sh}.prep"
[ ! -f "$prep" ] || RIG_DATA="$work/data" bash "$prep"
cp -r "$work/data/." "$work/root/rig/data/"
[ -z "$overlay" ] || cp -a "$overlay/." "$work/root/"
(cd "$work/root" && find . | cpio -o -H newc --quiet -R 0:0) | gzip -1 >"$work/initrd.cpio.gz"

# Disks: the first, /dev/vda, holds Firmware_1, every 64 KiB block filled
# with its own byte (0x10 + block number) so that untouched blocks can be
# recognised; the second is a spare for partitions that scenarios add at
# run time.
"$here/pattern-disk.sh" "$work/disk0.img" 64
disk1_blocks=$(rig_opt disk1)
"$here/pattern-disk.sh" "$work/disk1.img" "${disk1_blocks:-32}"

if [ "${#pflash[@]}" -gt 0 ]; then
    head -c 64M /dev/zero | tr '\0' '\377' >"$work/bank1.img"
fi

timeout_s=$(rig_opt timeout); timeout_s=${timeout_s:-120}
disk0_opts=$(rig_opt disk0)
[ -z "$disk0_opts" ] || disk0_opts=",$disk0_opts"
append="console=ttyAMA0 loglevel=1 rdinit=/init rig.scenario=$name $layout $(rig_opt append)"
rig_flag initramfs && append+=" rig.initramfs"

# bootconfig_of PARAMS: the kernel parameters PARAMS (shell words) as a
# bootconfig, later values of a parameter replacing earlier ones.
bootconfig_of() {
    local -A value=()
    local order=() word key
    eval "set -- $1"
    for word; do
        key=${word%%=*}
        [ -n "${value[$key]+set}" ] || order+=("$key")
        value[$key]=${word#*=}
    done
    for key in "${order[@]}"; do printf 'kernel.%s = "%s"\n' "$key" "${value[$key]}"; done
}

# le32 N: N as 4 little-endian bytes.
le32() { printf "$(printf '\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }

# Malta's loader passes at most 255 characters of command line: the flash
# layout goes into a bootconfig at the end of the initrd instead, in the
# form the kernel reads there (the text padded with zeros to 4 bytes, its
# size, its byte sum, the magic).
if [ "$arch" = mips ]; then
    bootconfig_of "$layout $(rig_opt append)" >"$work/bootconfig"
    pad=$(((4 - ($(stat -c %s "$work/initrd.cpio.gz") + $(stat -c %s "$work/bootconfig")) % 4) % 4))
    head -c "$pad" /dev/zero >>"$work/bootconfig"
    sum=$(od -An -v -tu1 "$work/bootconfig" | awk '{ for (i = 1; i <= NF; i++) s += $i } END { print s + 0 }')
    { cat "$work/bootconfig"; le32 "$(stat -c %s "$work/bootconfig")"; le32 "$sum"; printf '#BOOTCONFIG\n'; } \
        >>"$work/initrd.cpio.gz"
    append="console=ttyS0 loglevel=1 rdinit=/init rig.scenario=$name bootconfig"
    rig_flag initramfs && append+=" rig.initramfs"
fi

set +e
# The boards: QEMU's virt for ARM (virtio-mmio names the disks in reverse
# order of their devices) and the Malta board for big-endian MIPS (a 24Kf,
# MIPS32r2 with MIPS16e; PCI names them in order).
case "$arch" in
arm64) qemu=(qemu-system-aarch64 -M virt -cpu cortex-a53 -m 512) disk=virtio-blk-device disks=(d1 d0) ;;
arm) qemu=(qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -m 512) disk=virtio-blk-device disks=(d1 d0) ;;
mips) qemu=(qemu-system-mips -M malta -cpu 24Kf -m 256 -vga none) disk=virtio-blk-pci disks=(d0 d1) ;;
*) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
"${qemu[@]}" -accel tcg -nographic -no-reboot -nic none \
    -kernel "$kernel" -initrd "$work/initrd.cpio.gz" -append "$append" \
    -drive file="$work/disk0.img",format=raw,if=none,id=d0$disk0_opts -drive file="$work/disk1.img",format=raw,if=none,id=d1 \
    -device "$disk",drive="${disks[0]}" -device "$disk",drive="${disks[1]}" "${pflash[@]+"${pflash[@]}"}" \
    </dev/null >"$work/console.raw" 2>&1 &
qemu_pid=$!
# QEMU is only ever ended by its own process id (also by powercut.sh,
# which reads it here).
echo "$qemu_pid" >"$work/qemu.pid"
(
    for ((t = 0; t < timeout_s * 10; t++)); do
        sleep 0.1
        kill -0 "$qemu_pid" 2>/dev/null || exit 0
    done
    touch "$work/timed-out"
    kill -KILL "$qemu_pid" 2>/dev/null
) &
watchdog=$!
if [ -n "$cut_after" ]; then
    # Power cut: the moment the line shows on the console, wait the given
    # time and kill QEMU outright. The host's copy of the disk keeps what
    # the guest had written by then.
    until grep -q -F -- "$cut_after" "$work/console.raw" 2>/dev/null; do
        kill -0 "$qemu_pid" 2>/dev/null || break
        sleep 0.005
    done
    start_ns=$(date +%s%N)
    sleep "$(printf '%d.%03d' $((cut_ms / 1000)) $((cut_ms % 1000)))"
    kill -KILL "$qemu_pid" 2>/dev/null
    echo "# power cut $(( ($(date +%s%N) - start_ns) / 1000000 )) ms after: $cut_after"
fi
wait "$qemu_pid"
wait "$watchdog"
set -e
tr -d '\r' <"$work/console.raw" >"$work/console.log"

echo "== guest console ($name) =="
sed -n '/^RIG-START/,$p' "$work/console.log"

fail=0
if [ -f "$work/timed-out" ]; then
    echo "not ok - guest did not finish within ${timeout_s}s"
    fail=1
fi
grep -q '^RIG-START' "$work/console.log" || { echo "not ok - scenario never started"; fail=1; }
grep -q '^not ok' "$work/console.log" && fail=1
if rig_flag restart || [ -n "$cut_after" ]; then
    if grep -q '^RIG-END' "$work/console.log"; then
        echo "not ok - the guest was expected to restart but finished its scenario"
        fail=1
    else
        echo "ok - the guest stopped: $([ -n "$cut_after" ] && echo "power cut" || echo "restarted")"
    fi
else
    end=$(grep '^RIG-END' "$work/console.log" || true)
    case "$end" in
    "RIG-END passed="[1-9]*" failed=0") ;;
    *) echo "not ok - scenario did not end cleanly: ${end:-no RIG-END line}"; fail=1 ;;
    esac
fi

host_checks="${scenario%.sh}.host"
if [ -f "$host_checks" ]; then
    echo "== host checks ($name) =="
    out=$(RIG_WORK="$work" RIG_CONSOLE="$work/console.log" RIG_DISK0="$work/disk0.img" \
          RIG_DISK1="$work/disk1.img" bash "$host_checks" 2>&1) || fail=1
    echo "$out"
    echo "$out" | grep -q '^not ok' && fail=1
    echo "$out" | grep -q '^ok' || { echo "not ok - host checks reported nothing"; fail=1; }
fi

if [ "$fail" -ne 0 ]; then
    echo "SCENARIO $name: FAILED"
    exit 1
fi
echo "SCENARIO $name: passed"
