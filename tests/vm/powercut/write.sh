# A write onto Firmware_1 (block2mtd) that the host cuts short by killing
# QEMU. block2mtd writes through the guest's page cache; a busy loop of
# sync calls pushes every block to the disk right after it is written, as
# flash would hold it, so the host sees what a device would keep at the
# cut. Reads from the disk are throttled: block2mtd reads each block in
# before it erases it, which stretches the write over a few seconds, as a
# real erase would, so that cuts land inside it.
# rig: data fw.bin 3700000
# rig: disk0 throttling.bps-read=1000000
while :; do sync; done &
mkdir -p /tmp/root
cp /rig/data/fw.bin /tmp/fw.bin
sync
echo "RIG-WRITE-START"
reflasher --stage2 --part Firmware_1 /tmp/fw.bin
