# The flash writer on NOR-like flash (block2mtd, 64 KiB erase blocks, no
# bad-block handling), started as stage two by hand.
mkdir -p /tmp/root
EB=$EB_NOR

# An image of exactly three blocks: no fill, nothing past it touched.
make_image /tmp/img3 $((3 * EB))
ns_rf --stage2 --part Firmware_1 /tmp/img3
expect_eq "exact blocks: restarted (SIGHUP)" "$RESTARTED" "$RF_RC"
expect_file "exact blocks: progress and writer lines" /tmp/rf.err "$(stage2_progress /tmp/img3 Firmware_1)
Writing to Firmware_1 ...
Done.
upgrade: Upgrade completed
upgrade: Rebooting system...
"
read_blocks Firmware_1 0 3 >/tmp/got
same_bytes "exact blocks: data written" /tmp/img3 /tmp/got
read_blocks Firmware_1 3 1 >/tmp/got
pattern_block 3 >/tmp/want
same_bytes "exact blocks: next block untouched" /tmp/want /tmp/got

# One byte more: a fourth block holding that byte and 0xFF.
make_image /tmp/img4 $((3 * EB + 1))
ns_rf --stage2 --part Firmware_1 --verbose 0 /tmp/img4
expect_eq "N blocks + 1 byte: restarted" "$RESTARTED" "$RF_RC"
expect_file "-q: nothing on stderr" /tmp/rf.err ""
read_blocks Firmware_1 0 4 >/tmp/got
{ cat /tmp/img4; ff_bytes $((EB - 1)); } >/tmp/want
same_bytes "N blocks + 1 byte: last block filled with 0xFF" /tmp/want /tmp/got
read_blocks Firmware_1 4 1 >/tmp/got
pattern_block 4 >/tmp/want
same_bytes "N blocks + 1 byte: block 4 untouched" /tmp/want /tmp/got

# An empty image writes nothing and still completes.
: >/tmp/empty
read_blocks Firmware_1 0 8 >/tmp/before
stage2_run "empty image" "$RESTARTED" "Writing to Firmware_1 ...
Done.
" --part Firmware_1 /tmp/empty
read_blocks Firmware_1 0 8 >/tmp/after
same_bytes "empty image: flash unchanged" /tmp/before /tmp/after

# The partition named by its device path.
dev=$(mtd_dev Firmware_1)
make_image /tmp/img2 $((2 * EB))
stage2_run "device path" "$RESTARTED" "Writing to $dev ...
Done.
" --part "$dev" /tmp/img2
read_blocks Firmware_1 0 2 >/tmp/got
same_bytes "device path: data written" /tmp/img2 /tmp/got

# A name that is neither listed nor a path.
stage2_run "unknown name" 1 "mtd: cannot open NoSuchPart
ERROR: flashing 'NoSuchPart' failed
" --part NoSuchPart /tmp/img2

# An image one byte larger than the partition, forced past the check: the
# writer refuses it before the first erase.
size=$(mtd_size Firmware_1)
make_image /tmp/big $((size + 1))
read_blocks Firmware_1 0 8 >/tmp/before
ns_rf -F --verbose 0 /tmp/big
expect_eq "too large: exit 1" 1 "$RF_RC"
expect_file "too large: check line, force line, refusal" /tmp/rf.err "image is $((size + 1)) bytes, 'Firmware_1' holds only $size bytes
Image check failed but --force given - will update anyway!
mtd: image is $((size + 1)) bytes, Firmware_1 holds only $size bytes in good blocks
ERROR: flashing 'Firmware_1' failed
"
read_blocks Firmware_1 0 8 >/tmp/after
same_bytes "too large: flash untouched" /tmp/before /tmp/after

# Blocks that already hold their chunk are neither erased nor written:
# measured by what reaches Firmware_1's disk (block2mtd writes back only
# the pages it dirtied), in 512-byte sectors, after a sync.
sectors_written() { sync; set -- $(cat /sys/block/vda/stat); echo "$7"; }
make_image /tmp/a $((16 * EB))
ns_rf --stage2 --part Firmware_1 /tmp/a
before=$(sectors_written)
ns_rf --stage2 --part Firmware_1 -v /tmp/a
expect_eq "same image again: restarted" "$RESTARTED" "$RF_RC"
expect_eq "same image again: nothing written" 0 $(($(sectors_written) - before))
check "same image again: all blocks counted unchanged" grep -qx "16 of 16 blocks already up to date" /tmp/rf.err
# One block changed (block 5): it and the first block are written.
{ head -c $((5 * EB)) /tmp/a; head -c "$EB" /dev/urandom; tail -c +$((6 * EB + 1)) /tmp/a; } >/tmp/b
before=$(sectors_written)
ns_rf --stage2 --part Firmware_1 /tmp/b
added=$(($(sectors_written) - before))
check "one block changed: one block and the first written ($added sectors)" \
    [ "$added" -ge $((EB / 512)) -a "$added" -le $((2 * EB / 512)) ]
read_blocks Firmware_1 0 16 >/tmp/got
same_bytes "one block changed: the image on flash" /tmp/b /tmp/got
