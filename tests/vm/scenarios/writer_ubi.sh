# UBI images on NAND, attached for real. Image A is written and attached
# (UBI then writes its headers, with A's sequence number, into every block
# of the partition); image B, with another sequence number, is written over
# it while A is still attached and must attach, its volume holding B's data.
# rig: mtd-utils
mkdir -p /tmp/root
cp /rig/data/ubi-a.img /rig/data/ubi-b.img /tmp/
n=$(mtd_index RootFS_1)
attach() { ubiattach -m "$n" -O 2048 >/tmp/attach.out 2>&1; }

ns_rf --stage2 -q --part RootFS_1 /tmp/ubi-a.img
expect_eq "image A: restarted" "$RESTARTED" "$RF_RC"
check "image A: attaches" attach
same_bytes "image A: its volume holds A's data" /rig/data/a.data /dev/ubi0_0

# B is written while A is still attached (and idle): UBI is detached first.
ns_rf --stage2 --part RootFS_1 /tmp/ubi-b.img
expect_eq "image B: restarted" "$RESTARTED" "$RF_RC"
err_without_progress >/tmp/got
expect_file "image B: UBI detached, the rest of the partition erased" /tmp/got "Detached UBI device 0 from mtd$n
Writing to RootFS_1 ...
Erasing the rest of RootFS_1 for UBI ...
Done.
"
if attach; then ok "image B: attaches over A's blocks"; else
    not_ok "image B: attaches over A's blocks"
    sed "s/^/#   /" /tmp/attach.out
    dmesg | grep -i "ubi.*error" | tail -n 3 | sed "s/^/#   /"
fi
same_bytes "image B: its volume holds B's data" /rig/data/b.data /dev/ubi0_0
ubidetach -m "$n" >/dev/null 2>&1
