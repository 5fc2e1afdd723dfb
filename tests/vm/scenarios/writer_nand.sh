# The flash writer on NAND (nandsim, 128 KiB erase blocks) with bad blocks:
# Kernel_1 has its blocks 0, 3 and 4 bad, 16 blocks in all.
mkdir -p /tmp/root /root
EB=$EB_NAND

# Mark every good block with its own byte so that an erase would show.
for b in 1 2 5 6 7 8 9 10 11 12 13 14 15; do
    fill_nand_block Kernel_1 "$b" $((0x40 + b))
done
nand_block() { repeat_byte $((0x40 + $1)) "$EB"; }

# Three blocks and a bit: the bad first block and the two bad blocks in a
# row are skipped, each with its line; the chunks land on blocks 1, 2, 5, 6.
make_image /tmp/img $((3 * EB + 5))
stage2_run "bad blocks" "$RESTARTED" "Writing to Kernel_1 ...
Skipping bad block at 0x00000000
Skipping bad block at 0x00060000
Skipping bad block at 0x00080000
Done.
" --part Kernel_1 /tmp/img
read_blocks Kernel_1 1 2 >/tmp/got
head -c $((2 * EB)) /tmp/img >/tmp/want
same_bytes "bad blocks: chunks 1-2 on blocks 1-2" /tmp/want /tmp/got
read_blocks Kernel_1 5 1 >/tmp/got
dd if=/tmp/img bs=$EB skip=2 count=1 2>/dev/null >/tmp/want
same_bytes "bad blocks: chunk 3 on block 5" /tmp/want /tmp/got
read_blocks Kernel_1 6 1 >/tmp/got
{ dd if=/tmp/img bs=$EB skip=3 2>/dev/null; ff_bytes $((EB - 5)); } >/tmp/want
same_bytes "bad blocks: last chunk on block 6, filled with 0xFF" /tmp/want /tmp/got
read_blocks Kernel_1 7 1 >/tmp/got
nand_block 7 >/tmp/want
same_bytes "bad blocks: block 7 untouched" /tmp/want /tmp/got
expect_eq "bad blocks: still three bad" 3 "$(cat /sys/class/mtd/mtd$(mtd_index Kernel_1)/bad_blocks)"

# Two blocks: the bad blocks right past the image are never looked at.
make_image /tmp/two $((2 * EB))
stage2_run "bad blocks past the image: not queried" "$RESTARTED" "Writing to Kernel_1 ...
Skipping bad block at 0x00000000
Done.
" --part Kernel_1 /tmp/two
read_blocks Kernel_1 1 2 >/tmp/got
same_bytes "bad blocks past the image: data on blocks 1-2" /tmp/two /tmp/got

# Quiet: no skip lines.
make_image /tmp/small $((EB / 2))
ns_rf --stage2 --part Kernel_1 -q /tmp/small
expect_eq "-q: restarted" "$RESTARTED" "$RF_RC"
expect_file "-q: nothing on stderr" /tmp/rf.err ""
read_blocks Kernel_1 1 1 >/tmp/got
{ cat /tmp/small; ff_bytes $((EB / 2)); } >/tmp/want
same_bytes "-q: written to the first good block" /tmp/want /tmp/got

# More than the good blocks hold (13 good of 16), less than the raw size:
# the check fails in test mode, and a forced run is refused before the
# first erase, whatever the options.
make_image /root/big $((14 * EB))
run_rf -T --part Kernel_1 /root/big
expect_file "past the good blocks: test mode fails" /tmp/rf.err "upgrade: Image not in /tmp, copying to /tmp/reflasher.img
image is $((14 * EB)) bytes, 'Kernel_1' holds only $((13 * EB)) bytes in good blocks
ERROR: image check failed (use -F to override)
"
read_blocks Kernel_1 7 9 >/tmp/before
reset_tmp
ns_rf -F --part Kernel_1 /root/big
expect_eq "past the good blocks: forced run ends with status 1" 1 "$RF_RC"
err_without_progress >/tmp/got
expect_file "past the good blocks: refused by the writer" /tmp/got "image is $((14 * EB)) bytes, 'Kernel_1' holds only $((13 * EB)) bytes in good blocks
Image check failed but --force given - will update anyway!
mtd: image is $((14 * EB)) bytes, Kernel_1 holds only $((13 * EB)) bytes in good blocks
ERROR: flashing 'Kernel_1' failed
"
read_blocks Kernel_1 7 9 >/tmp/after
same_bytes "past the good blocks: flash untouched" /tmp/before /tmp/after
mkdir -p /tmp/root

# The neighbours on the chip are untouched: Preloader before, RootFS_1 after.
read_blocks Preloader 0 2 >/tmp/got
ff_bytes $((2 * EB)) >/tmp/want
same_bytes "Preloader untouched" /tmp/want /tmp/got
read_blocks RootFS_1 0 1 >/tmp/got
ff_bytes $EB >/tmp/want
same_bytes "RootFS_1 untouched" /tmp/want /tmp/got
