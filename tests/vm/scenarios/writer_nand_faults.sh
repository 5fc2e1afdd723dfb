# Erase and program failures injected by nandsim: every erase of chip
# block 20 (RootFS_1 block 2) fails, and so does programming chip page 256
# (the first page of chip block 4, Kernel_1 block 2).
# rig: append nandsim.weakblocks=20:0 nandsim.weakpages=256:0
mkdir -p /tmp/root
EB=131072

# The erase of partition block 2 fails: its line and the flashing failure;
# blocks 0-1 hold the image, block 3 and on keep their contents.
for b in 0 1 2 3 4 5; do
    fill_nand_block RootFS_1 "$b" "\\$(printf '%03o' $((0x60 + b)))"
done
make_image /tmp/img $((5 * EB))
ns_rf --stage2 --part RootFS_1 /tmp/img
expect_eq "erase failure: exit 1, no restart" 1 "$RF_RC"
err_without_progress >/tmp/got
expect_file "erase failure: two lines" /tmp/got "Writing to RootFS_1 ...
mtd: MEMERASE failed at 0x00040000: $(errtext 5)
ERROR: flashing 'RootFS_1' failed
"
read_blocks RootFS_1 0 2 >/tmp/got
head -c $((2 * EB)) /tmp/img >/tmp/want
same_bytes "erase failure: blocks before it written" /tmp/want /tmp/got
read_blocks RootFS_1 3 1 >/tmp/got
head -c $EB /dev/zero | tr '\000' '\143' >/tmp/want
same_bytes "erase failure: block after it untouched" /tmp/want /tmp/got
grep -q 'Upgrade completed' /tmp/reflasher.log && not_ok "erase failure: no completion logged" ||
    ok "erase failure: no completion logged"

# The program failure: Kernel_1 block 0 is bad, block 1 takes chunk 1, the
# write of chunk 2 onto block 2 fails.
fill_nand_block Kernel_1 5 '\125'
make_image /tmp/img2 $((3 * EB))
ns_rf --stage2 --part Kernel_1 /tmp/img2
expect_eq "program failure: exit 1" 1 "$RF_RC"
err_without_progress >/tmp/got
expect_file "program failure: write error then flashing failure" /tmp/got "Writing to Kernel_1 ...
Skipping bad block at 0x00000000
write: $(errtext 5)
ERROR: flashing 'Kernel_1' failed
"
read_blocks Kernel_1 1 1 >/tmp/got
head -c $EB /tmp/img2 >/tmp/want
same_bytes "program failure: block 1 written" /tmp/want /tmp/got
read_blocks Kernel_1 5 1 >/tmp/got
head -c $EB /dev/zero | tr '\000' '\125' >/tmp/want
same_bytes "program failure: later block untouched" /tmp/want /tmp/got
