# File systems stored on the flash being written. A UBIFS mounted from
# RootFS_1 (NAND) with a writer on it: the run is refused before staging,
# both untouched; unmounted, its UBI is detached and the partition written.
# Then a JFFS2 on "Tail", a partition over Firmware_1's last 512 KiB, and
# an overlay on it, each with a writer holding a file open: a real upgrade
# of Firmware_1 (the host checks its disk) remounts both read-only and
# ends the writers first.
# rig: restart
# rig: mtd-utils
# rig: data fw.bin 4194304
# rig: append "mtdparts=Firmware_1:4m(Firmware_1),512k@3584k(Tail);mtdram test device:256k(U-Boot),256k(U-Config),-(Firmware_2);NAND 128MiB 1,8V 8-bit:256k(Preloader),2M(Kernel_1),-(RootFS_1)"
mkdir -p /mnt/data /mnt/tail /tmp/root
n=$(mtd_index RootFS_1)
cp /rig/data/ubi-data.img /tmp/
ns_rf --stage2 -q --part RootFS_1 /tmp/ubi-data.img
expect_eq "UBI image written" "$RESTARTED" "$RF_RC"
ubiattach -m "$n" -O 2048 >/dev/null 2>&1
mount -t ubifs ubi0:data /mnt/data
(exec 3>>/mnt/data/log; while echo x >&3; do usleep 20000; done) &
writer=$!
mkdir -p /root
make_image /root/raw.img 300000
reset_tmp
ns_rf -v --part RootFS_1 /root/raw.img
expect_eq "mounted UBIFS: exit 1" 1 "$RF_RC"
err_without_progress >/tmp/got
expect_file "mounted UBIFS: named, then refused" /tmp/got "Stored on 'RootFS_1': UBI device 0
Stored on 'RootFS_1': ubifs ubi0:data on /mnt/data (rw)
ubifs ubi0:data on /mnt/data lies in UBI device 0: no write under a live UBI is safe
ERROR: refusing to write under what is stored on 'RootFS_1'
"
check "mounted UBIFS: writer untouched" kill -0 "$writer"
check "mounted UBIFS: still read-write" grep -q "^ubi0:data /mnt/data ubifs rw" /proc/mounts
absent "mounted UBIFS: image not staged" /tmp/reflasher.img
absent "mounted UBIFS: program not staged" /tmp/root/sbin/reflasher
kill "$writer"
wait "$writer" 2>/dev/null
# Its sleeping child may hold the file a moment longer.
tries=0
until umount /mnt/data 2>/dev/null || [ $tries -ge 500 ]; do usleep 10000; tries=$((tries + 1)); done
ns_rf --part RootFS_1 /root/raw.img
expect_eq "unmounted UBIFS: restarted" "$RESTARTED" "$RF_RC"
if grep -q -x "Detached UBI device 0 from mtd$n" /tmp/rf.err; then ok "unmounted UBIFS: UBI detached"; else
    not_ok "unmounted UBIFS: UBI detached"
    sed 's/^/#   /' /tmp/rf.err
fi
read_blocks RootFS_1 0 3 | head -c 300000 >/tmp/got
same_bytes "unmounted UBIFS: written" /root/raw.img /tmp/got

flash_erase -q "$(mtd_dev Tail)" 0 0
mount -t jffs2 mtd:Tail /mnt/tail
mkdir -p /mnt/tail/upper /mnt/tail/work /mnt/low /mnt/ov
mount -t overlay overlay -o lowerdir=/mnt/low,upperdir=/mnt/tail/upper,workdir=/mnt/tail/work /mnt/ov
(exec 3>>/mnt/tail/log; while echo x >&3; do usleep 20000; done) &
(exec 3>>/mnt/ov/log; while echo x >&3; do usleep 20000; done) &
echo "RIG-UPGRADE-BEGIN"
reflasher -v /rig/data/fw.bin
echo "not ok - reflasher returned $? instead of restarting the guest"
