# The device that boots from its flash through U-Boot, seen from the host
# (bash, sourced). QEMU virt with two CFI flash banks: the first, read-only,
# holds Debian's U-Boot for QEMU; the second is the device's flash, which
# Linux partitions by the mtdparts that U-Boot's environment passes:
#   U-Config    256 KiB at 0          U-Boot's environment
#   Firmware_1  16 MiB  at 0x40000    the firmware U-Boot boots first
#   Firmware_2  16 MiB  at 0x1040000  the rescue firmware (protected)
# Each firmware is a FIT (or a legacy uImage) with the kernel and an
# initramfs (firmware-init, busybox, reflasher, rig_helper) that says which
# firmware it is. The
# image to install arrives on a disk, as a download would (make_job).
#
#   boot_rig_prepare CACHE PROGRAM HELPER WORK   kernel, firmwares, banks
#   fresh_flash FIRMWARE_1 [ENV]                  bank files for one run
#   make_job DISK FROM IMAGE [MOMENT OFFSET BYTES [FLAGS]]
#   boot_device LOG DISK [TIMEOUT]                one run of the device

BOOT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BANK_SIZE=$((64 << 20))
ENV_SIZE=$((256 << 10))
FW1_OFFSET=$((256 << 10))
FW2_OFFSET=$(((256 << 10) + (16 << 20)))
FW_SIZE=$((16 << 20))
# Linux sees the two interleaved chips of a bank as one with 256 KiB blocks.
EB_CFI=$((256 << 10))
MTDPARTS="mtdparts=0.flash:64m(U-Boot)ro,256k(U-Config),16m(Firmware_1),16m(Firmware_2)"
UBOOT_BIN=/usr/lib/u-boot/qemu_arm64/u-boot.bin

# its_kernel HASH_NODE: the kernel image node of a firmware's FIT source.
its_kernel() {
    cat <<ITS
        kernel {
            data = /incbin/("$BOOT_KERNEL");
            type = "kernel"; arch = "arm64"; os = "linux"; compression = "none";
            load = <0x40400000>; entry = <0x40400000>;
            $1
        };
ITS
}

# make_firmware NAME OUT [nohash|uimage|signed|signed-other]: a FIT that
# U-Boot checks by its sha256 hashes (by its header only with nohash), or
# a legacy multi-file uImage (the gzip'd kernel, the initramfs and the
# board's device tree), which the uImage environment boots with verify=n:
# U-Boot then checks its 64-byte header only. A signed FIT's configuration
# is signed with the rig's key (keys/rig.key; with signed-other, another
# key the device does not hold), and it carries the release built with the
# rig's control tree (BOOT_PROGRAM_KEYS). Each firmware's initramfs holds random bytes of
# its own length, so that the kernel lies at another offset in each image
# and an upgrade rewrites every block.
make_firmware() {
    local name=$1 out=$2 variant=${3:-} dir pad hash=""
    dir=$(mktemp -d)
    mkdir -p "$dir/root/bin" "$dir/root/etc" "$dir/root/usr/sbin" "$dir/root/proc" "$dir/root/sys" \
        "$dir/root/dev" "$dir/root/tmp"
    cp "$BOOT_BUSYBOX" "$dir/root/bin/busybox"
    cp "$BOOT_DIR/firmware-init" "$dir/root/init"
    case "$variant" in
    signed*) cp "$BOOT_PROGRAM_KEYS" "$dir/root/usr/sbin/reflasher" ;;
    *) cp "$BOOT_PROGRAM" "$dir/root/usr/sbin/reflasher" ;;
    esac
    cp "$BOOT_HELPER" "$dir/root/usr/sbin/rig_helper"
    echo "$name" >"$dir/root/etc/firmware"
    case "$name" in v1) pad=40000 ;; v2) pad=200000 ;; *) pad=100000 ;; esac
    head -c "$pad" /dev/urandom >"$dir/root/etc/padding"
    (cd "$dir/root" && find . | cpio -o -H newc --quiet -R 0:0) | gzip -1 >"$dir/ramdisk.gz"
    if [ "$variant" = uimage ]; then
        gzip -1 -c "$BOOT_KERNEL" >"$dir/Image.gz"
        mkimage -A arm64 -O linux -T multi -C gzip -a 0x40400000 -e 0x40400000 -n "rig firmware $name" \
            -d "$dir/Image.gz:$dir/ramdisk.gz:$BOOT_WORK/virt.dtb" "$out" >/dev/null
        rm -rf "$dir"
        return
    fi
    [ "$variant" = nohash ] || hash='hash { algo = "sha256"; };'
    local signature="" keys=$BOOT_DIR/keys key=rig
    [ "$variant" != signed-other ] || { keys=$BOOT_DIR/keys/other key=other; }
    case "$variant" in
    signed*) signature="signature { algo = \"sha256,rsa2048\"; key-name-hint = \"$key\"; sign-images = \"kernel\", \"ramdisk\"; };" ;;
    esac
    cat >"$dir/fw.its" <<ITS
/dts-v1/;
/ {
    description = "reflasher rig firmware $name";
    #address-cells = <1>;
    images {
        ramdisk {
            data = /incbin/("$dir/ramdisk.gz");
            type = "ramdisk"; arch = "arm64"; os = "linux"; compression = "none";
            $hash
        };
$(its_kernel "$hash")
    };
    configurations {
        default = "conf";
        conf { kernel = "kernel"; ramdisk = "ramdisk"; $signature };
    };
};
ITS
    if [ -n "$signature" ]; then
        mkimage -f "$dir/fw.its" -k "$keys" "$out" >/dev/null
    else
        mkimage -f "$dir/fw.its" "$out" >/dev/null
    fi
    rm -rf "$dir"
}

# The device whose root lives on its flash (flash-root.sh): Firmware_1
# holds a FIT (kernel and device tree, whose /chosen/bootargs carry the
# firmware's own partitions) in its first 6 MiB, then a squashfs root
# (partition RootFS, mounted through mtdblock); a JFFS2 overlay lives on
# partition Overlay, over the end of Firmware_1: v1's at 8 MiB of it, v2's
# (whose root is larger and reaches into v1's overlay) at 12 MiB.
FLASHROOT_FIT_SIZE=$((6 << 20))
# Chip offsets (the chip is both banks): Firmware_1 at 64 MiB + 256 KiB.
flashroot_parts() {
    local root_mb=$1 overlay_at_mb=$2 fw1_k=$(((64 << 10) + 256))
    echo "mtdparts=0.flash:64m(U-Boot)ro,256k(U-Config),16m(Firmware_1),16m(Firmware_2),${root_mb}m@$((fw1_k + 6144))k(RootFS),4m@$((fw1_k + (overlay_at_mb << 10)))k(Overlay)"
}

# make_flashroot_firmware NAME OUT ROOT_DIR: the firmware image (FIT
# padded to 6 MiB, then the squashfs); ROOT_DIR receives the root's tree.
make_flashroot_firmware() {
    local name=$1 out=$2 root=$3 dir pad root_mb overlay_mb
    case "$name" in v2) pad=3500000 root_mb=6 overlay_mb=12 ;; *) pad=100000 root_mb=2 overlay_mb=8 ;; esac
    dir=$(mktemp -d)
    rm -rf "$root"
    mkdir -p "$root/bin" "$root/etc" "$root/usr/sbin" "$root/proc" "$root/sys" "$root/dev" "$root/tmp" \
        "$root/rom" "$root/mnt" "$root/overlay" "$root/var"
    cp "$BOOT_BUSYBOX" "$root/bin/busybox"
    for applet in $(qemu-aarch64-static "$BOOT_BUSYBOX" --list); do
        [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
    done
    cp "$BOOT_DIR/flash-root-init" "$root/bin/preinit"
    cp "$BOOT_DIR/flash-root-rc" "$root/etc/rc"
    printf '::sysinit:/etc/rc\n' >"$root/etc/inittab"
    cp "$BOOT_PROGRAM" "$root/usr/sbin/reflasher"
    cp "$BOOT_HELPER" "$root/usr/sbin/rig_helper"
    echo "$name" >"$root/etc/firmware"
    head -c "$pad" /dev/urandom >"$root/etc/padding"
    mksquashfs "$root" "$dir/root.sqfs" -noappend -all-root -comp gzip -quiet >/dev/null
    cp "$BOOT_WORK/virt.dtb" "$dir/board.dtb"
    fdtput -t s "$dir/board.dtb" /chosen bootargs \
        "console=ttyAMA0 loglevel=1 root=/dev/mtdblock4 rootfstype=squashfs ro init=/bin/preinit $(flashroot_parts "$root_mb" "$overlay_mb")"
    cat >"$dir/fw.its" <<ITS
/dts-v1/;
/ {
    description = "reflasher rig firmware $name, root on flash";
    #address-cells = <1>;
    images {
$(its_kernel 'hash { algo = "sha256"; };')
        fdt {
            data = /incbin/("$dir/board.dtb");
            type = "flat_dt"; arch = "arm64"; compression = "none";
            hash { algo = "sha256"; };
        };
    };
    configurations {
        default = "conf";
        conf { kernel = "kernel"; fdt = "fdt"; };
    };
};
ITS
    mkimage -f "$dir/fw.its" "$dir/fw.fit" >/dev/null
    [ "$(stat -c %s "$dir/fw.fit")" -le "$FLASHROOT_FIT_SIZE" ] || { echo "FIT over 6 MiB" >&2; return 1; }
    [ "$(stat -c %s "$dir/root.sqfs")" -le $((root_mb << 20)) ] || { echo "root over ${root_mb} MiB" >&2; return 1; }
    { cat "$dir/fw.fit"; repeat_byte 255 $((FLASHROOT_FIT_SIZE - $(stat -c %s "$dir/fw.fit"))); cat "$dir/root.sqfs"; } >"$out"
    rm -rf "$dir"
}

# boot_rig_prepare CACHE PROGRAM HELPER WORK: the kernel (built once per
# machine), the firmwares (FITs v1, v2, rescue and v2 without hashes;
# uImages v1 and v2), and the banks' templates: U-Boot padded to its bank,
# and the environments of the flash: env.bin for FIT firmwares, verified
# by their hashes, env-uimage.bin for uImage firmwares with verify=n.
boot_rig_prepare() {
    BOOT_PROGRAM=$2 BOOT_HELPER=$3 BOOT_WORK=$4
    BOOT_KERNEL=$("$BOOT_DIR/../build-kernel.sh" "$1" arm64 boot)
    BOOT_BUSYBOX=$("$BOOT_DIR/../fetch-busybox.sh" "$1" arm64)
    mkdir -p "$BOOT_WORK"
    cp "$UBOOT_BIN" "$BOOT_WORK/bank0.template"
    truncate -s "$BANK_SIZE" "$BOOT_WORK/bank0.template"
    # The board's device tree, for the uImages: QEMU's own, as it makes it
    # for this machine and these flash banks.
    truncate -s "$BANK_SIZE" "$BOOT_WORK/bank1.img"
    qemu-system-aarch64 -M virt,dumpdtb="$BOOT_WORK/virt.dtb" -cpu cortex-a53 -m 512 -nographic -nic none \
        -drive if=pflash,format=raw,file="$BOOT_WORK/bank0.template",readonly=on \
        -drive if=pflash,format=raw,file="$BOOT_WORK/bank1.img" >/dev/null
    make_firmware v1 "$BOOT_WORK/v1.fit"
    make_firmware v2 "$BOOT_WORK/v2.fit"
    make_firmware v2 "$BOOT_WORK/v2-nohash.fit" nohash
    make_firmware rescue "$BOOT_WORK/rescue.fit"
    make_firmware v1 "$BOOT_WORK/v1.uimage" uimage
    make_firmware v2 "$BOOT_WORK/v2.uimage" uimage
    # U-Boot tries Firmware_1, then Firmware_2 (the rescue, a FIT), and
    # powers off when neither boots; it never waits at its prompt.
    local args="bootargs=console=ttyAMA0 loglevel=1 rdinit=/init $MTDPARTS"
    local rescue="bootm 0x05040000#conf 0x05040000:ramdisk \${fdtcontroladdr}; poweroff"
    printf '%s\n' "bootdelay=0" "$args" \
        "bootcmd=bootm 0x04040000#conf 0x04040000:ramdisk \${fdtcontroladdr}; $rescue" >"$BOOT_WORK/env.txt"
    printf '%s\n' "bootdelay=0" "verify=n" "$args" "bootcmd=bootm 0x04040000; $rescue" >"$BOOT_WORK/env-uimage.txt"
    mkenvimage -s "$ENV_SIZE" -o "$BOOT_WORK/env.bin" "$BOOT_WORK/env.txt"
    mkenvimage -s "$ENV_SIZE" -o "$BOOT_WORK/env-uimage.bin" "$BOOT_WORK/env-uimage.txt"
}

# put FILE OFFSET DISK: FILE's bytes at OFFSET of DISK.
put() { dd if="$1" of="$3" bs=64k oflag=seek_bytes seek="$2" conv=notrunc status=none; }

# fresh_flash FIRMWARE_1 [ENV] [RESCUE]: the bank files for a run, with
# FIRMWARE_1 in Firmware_1, the environment ENV (default env.bin), RESCUE
# (default rescue.fit) in Firmware_2 and everything else erased.
fresh_flash() {
    cp "$BOOT_WORK/bank0.template" "$BOOT_WORK/bank0.img"
    head -c "$BANK_SIZE" /dev/zero | tr '\0' '\377' >"$BOOT_WORK/bank1.img"
    put "${2:-$BOOT_WORK/env.bin}" 0 "$BOOT_WORK/bank1.img"
    put "$1" "$FW1_OFFSET" "$BOOT_WORK/bank1.img"
    put "${3:-$BOOT_WORK/rescue.fit}" "$FW2_OFFSET" "$BOOT_WORK/bank1.img"
}

# firmware_1 OUT: the partition's bytes as the flash holds them now.
firmware_1() {
    dd if="$BOOT_WORK/bank1.img" bs=64k iflag=skip_bytes,count_bytes skip="$FW1_OFFSET" count="$FW_SIZE" \
        status=none >"$1"
}

# make_job DISK FROM IMAGE [MOMENT OFFSET BYTES [FLAGS]]: the download disk.
make_job() {
    { printf '%-4095s\n' "REFLASHER-JOB $2 $(stat -c %s "$3") ${4:-none} ${5:-0} ${6:-0} ${7:-}"; cat "$3"; } >"$1"
}

# boot_device LOG DISK [TIMEOUT]: powers the device on with the download
# disk and runs it until it powers itself off; U-Boot takes BOOT_DTB as
# its control tree when set (QEMU's own otherwise). A line "RIG-CUT" on the
# console cuts the power (SIGKILL, the writer being held at that moment);
# more than four U-Boot starts is a boot loop, also cut. BOOT_END tells
# how the run ended (off, cut, loop, timeout); BOOT_UPGRADE_MS the time
# from the start of the upgrade to the next firmware's start, when both
# showed.
boot_device() {
    local log=$1 disk=$2 timeout_s=${3:-240}
    local pid start now t_up=0 t_next=0
    qemu-system-aarch64 -M virt -cpu cortex-a53 -m 512 -nographic -accel tcg -nic none \
        ${BOOT_DTB:+-dtb "$BOOT_DTB"} \
        -drive if=pflash,format=raw,file="$BOOT_WORK/bank0.img",readonly=on \
        -drive if=pflash,format=raw,file="$BOOT_WORK/bank1.img" \
        -drive file="$disk",format=raw,if=none,id=download -device virtio-blk-device,drive=download \
        </dev/null >"$log.raw" 2>&1 &
    pid=$!
    # Killing it is the point: no report of the job's end.
    disown "$pid"
    start=$(date +%s%N)
    BOOT_END=off
    while kill -0 "$pid" 2>/dev/null; do
        now=$(date +%s%N)
        if grep -q '^RIG-CUT' "$log.raw"; then
            kill -KILL "$pid"
            BOOT_END=cut
        elif [ "$(grep -c '^U-Boot 20' "$log.raw")" -gt 4 ]; then
            kill -KILL "$pid"
            BOOT_END=loop
        elif [ $((now - start)) -gt $((timeout_s * 1000000000)) ]; then
            kill -KILL "$pid"
            BOOT_END=timeout
        fi
        if [ "$t_up" = 0 ] && grep -q '^RIG-UPGRADE ' "$log.raw"; then t_up=$now; fi
        if [ "$t_up" != 0 ] && [ "$t_next" = 0 ] && [ "$(grep -c '^RIG-FIRMWARE' "$log.raw")" -ge 2 ]; then
            t_next=$now
        fi
        sleep 0.02
    done
    while kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
    tr -d '\r' <"$log.raw" >"$log"
    BOOT_UPGRADE_MS=$(((t_next - t_up) / 1000000))
    [ "$t_next" != 0 ] || BOOT_UPGRADE_MS=
}

# firmwares LOG: the firmwares that started, in order, on one line.
firmwares() { sed -n 's/^RIG-FIRMWARE //p' "$1" | tr '\n' ' ' | sed 's/ $//'; }
