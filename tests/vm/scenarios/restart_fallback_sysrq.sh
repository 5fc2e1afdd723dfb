# The restart fallback for real: reboot(2) is refused (no CAP_SYS_BOOT), so
# the SysRq trigger restarts the guest. The host sees QEMU end without the
# kernel's reboot(2) line and checks the flash.
# rig: restart
# rig: data fw.bin 200000
cp /rig/data/fw.bin /tmp/fw.bin
mkdir -p /tmp/root
echo "RIG-FALLBACK-BEGIN"
rig_helper noboot reflasher --stage2 /tmp/fw.bin
echo "not ok - reflasher returned $? instead of restarting the guest"
