# Worn NAND blocks, injected by nandsim in partitions of their own (4
# blocks each, chip blocks 18-33): every erase of FaultErase's block 1 and
# FaultFull's block 1 fails (chip blocks 19 and 31), programming page 10
# of FaultProgram's block 1 fails (chip page 1482: not the first page,
# which takes the bad-block marker), and every read of
# the first page of FaultRead's block 1 comes back garbled (chip page 1728).
# rig: append nandsim.weakblocks=19:0,31:0 nandsim.weakpages=1482:0 nandsim.gravepages=1728:0 "mtdparts=mtdram test device:256k(U-Boot),256k(U-Config),-(Firmware_2);NAND 128MiB 1,8V 8-bit:256k(Preloader),2M(Kernel_1),512k(FaultErase),512k(FaultProgram),512k(FaultRead),512k(FaultFull),-(RootFS_1)"
mkdir -p /tmp/root
EB=$EB_NAND
bad_count() { cat "/sys/class/mtd/mtd$(mtd_index "$1")/bad_blocks"; }

# Each fault ends in a complete upgrade: the failing block is marked bad
# and its chunk goes to the next block; the image lies byte for byte in
# blocks 0, 2 and 3.
make_image /tmp/img $((3 * EB - 100))
for fault in "FaultErase:mtd: MEMERASE failed at 0x00020000: $(errtext 5)
mtd: marked the block at 0x00020000 bad: erase failed" "FaultProgram:write: $(errtext 5)
mtd: marked the block at 0x00020000 bad: write failed" "FaultRead:mtd: marked the block at 0x00020000 bad: read-back differs"; do
    part=${fault%%:*}
    stage2_run "$part" "$RESTARTED" "Writing to $part ...
${fault#*:}
Done.
" --part "$part" /tmp/img
    { read_blocks "$part" 0 1; read_blocks "$part" 2 2; } | head -c $((3 * EB - 100)) >/tmp/got
    same_bytes "$part: the image in blocks 0, 2 and 3" /tmp/img /tmp/got
    expect_eq "$part: block 1 reported bad" 1 "$(bad_count "$part")"
done

# Too few good blocks remain once block 1 is marked: refused, with the
# first block erased (so unbootable by its header), block 1 bad and the
# blocks after it untouched.
fill_nand_block FaultFull 0 $((0x70))
fill_nand_block FaultFull 2 $((0x72))
fill_nand_block FaultFull 3 $((0x73))
make_image /tmp/full $((4 * EB))
: >/tmp/reflasher.log
stage2_run "too few good blocks" 1 "Writing to FaultFull ...
mtd: MEMERASE failed at 0x00020000: $(errtext 5)
mtd: marked the block at 0x00020000 bad: erase failed
mtd: the rest of the image, $((3 * EB)) bytes, no longer fits FaultFull: $((2 * EB)) bytes of good blocks left
ERROR: flashing 'FaultFull' failed
" --part FaultFull /tmp/full
read_blocks FaultFull 0 1 >/tmp/got
ff_bytes "$EB" >/tmp/want
same_bytes "too few good blocks: the first block erased" /tmp/want /tmp/got
expect_eq "too few good blocks: block 1 reported bad" 1 "$(bad_count FaultFull)"
read_blocks FaultFull 2 2 >/tmp/got
{ repeat_byte $((0x72)) "$EB"; repeat_byte $((0x73)) "$EB"; } >/tmp/want
same_bytes "too few good blocks: blocks 2 and 3 untouched" /tmp/want /tmp/got
check_not "too few good blocks: no completion logged" grep -q 'Upgrade completed' /tmp/reflasher.log
