# A device running from its initramfs (a recovery image): "/" is the
# kernel's rootfs, which pivot_root cannot move, and /tmp a plain directory
# of it. Nothing on flash is the root, so the upgrade writes in place and
# restarts; the host checks Firmware_1's disk.
# rig: restart
# rig: initramfs
# rig: data fw.bin 300000
echo "RIG-UPGRADE-BEGIN"
reflasher /rig/data/fw.bin
echo "not ok - reflasher returned $? instead of restarting the guest"
