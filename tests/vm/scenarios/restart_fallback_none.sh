# Neither reboot(2) (no CAP_SYS_BOOT) nor SysRq (both files bound read-only)
# restarts anything: the program pauses twice 5 seconds and exits 0.
# rig: timeout 180
mkdir -p /tmp/root
make_image /tmp/fw.bin 1000
mask='mount --bind /proc/sysrq-trigger /proc/sysrq-trigger &&
mount -o remount,bind,ro /proc/sysrq-trigger &&
mount --bind /proc/sys/kernel/sysrq /proc/sys/kernel/sysrq &&
mount -o remount,bind,ro /proc/sys/kernel/sysrq &&
exec rig_helper noboot reflasher "$@"'
sysrq_before=$(cat /proc/sys/kernel/sysrq)
start=$(date +%s)
in_ns "$mask" --stage2 /tmp/fw.bin >/tmp/rf.out 2>/tmp/rf.err
elapsed=$(($(date +%s) - start))
expect_eq "exit status 0 when nothing restarts" 0 "$RF_RC"
expect_eq "nothing printed after the last milestone" "upgrade: Rebooting system..." "$(tail -n 1 /tmp/rf.err)"
# A lower bound only: the pauses cannot end sooner, while a loaded machine
# may take any time around them (their lengths are unit-tested).
check "at least 11 seconds after completion ($elapsed s)" test "$elapsed" -ge 11
expect_eq "sysrq setting unchanged" "$sysrq_before" "$(cat /proc/sys/kernel/sysrq)"
