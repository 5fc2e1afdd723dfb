# Erase and program failures injected by nandsim: every erase of chip
# block 20 (RootFS_1 block 2) fails, and so does programming chip page 256
# (the first page of chip block 4, Kernel_1 block 2).
# rig: append nandsim.weakblocks=20:0 nandsim.weakpages=256:0
mkdir -p /tmp/root
EB=$EB_NAND

# The erase of partition block 2 fails: its line and the flashing failure;
# blocks 0-1 hold the image, block 3 and on keep their contents.
for b in 0 1 2 3 4 5; do
    fill_nand_block RootFS_1 "$b" $((0x60 + b))
done
make_image /tmp/img $((5 * EB))
stage2_run "erase failure" 1 "Writing to RootFS_1 ...
mtd: MEMERASE failed at 0x00040000: $(errtext 5)
ERROR: flashing 'RootFS_1' failed
" --part RootFS_1 /tmp/img
read_blocks RootFS_1 0 2 >/tmp/got
head -c $((2 * EB)) /tmp/img >/tmp/want
same_bytes "erase failure: blocks before it written" /tmp/want /tmp/got
read_blocks RootFS_1 3 1 >/tmp/got
repeat_byte $((0x63)) "$EB" >/tmp/want
same_bytes "erase failure: block after it untouched" /tmp/want /tmp/got
check_not "erase failure: no completion logged" grep -q 'Upgrade completed' /tmp/reflasher.log

# The program failure: Kernel_1 block 0 is bad, block 1 takes chunk 1, the
# write of chunk 2 onto block 2 fails.
fill_nand_block Kernel_1 5 $((0125))
make_image /tmp/img2 $((3 * EB))
stage2_run "program failure" 1 "Writing to Kernel_1 ...
Skipping bad block at 0x00000000
write: $(errtext 5)
ERROR: flashing 'Kernel_1' failed
" --part Kernel_1 /tmp/img2
read_blocks Kernel_1 1 1 >/tmp/got
head -c $EB /tmp/img2 >/tmp/want
same_bytes "program failure: block 1 written" /tmp/want /tmp/got
read_blocks Kernel_1 5 1 >/tmp/got
repeat_byte $((0125)) "$EB" >/tmp/want
same_bytes "program failure: later block untouched" /tmp/want /tmp/got
