# A real upgrade with no namespace: the guest itself restarts (QEMU ends)
# and the host checks Firmware_1's disk byte for byte.
# rig: restart
# rig: data fw.bin 1000000
echo "RIG-UPGRADE-BEGIN"
reflasher /rig/data/fw.bin
echo "not ok - reflasher returned $? instead of restarting the guest"
