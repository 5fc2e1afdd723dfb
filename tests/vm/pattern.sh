# The rig's byte patterns, for the host's scripts (bash) and the guest's
# (busybox sh, as /rig/pattern.sh).

# The erase-block sizes of the rig's flash: block2mtd and mtdram (NOR-like)
# and nandsim (NAND).
EB_NOR=65536
EB_NAND=131072

# repeat_byte VALUE COUNT: COUNT bytes of the byte VALUE (decimal).
repeat_byte() { head -c "$2" /dev/zero | tr '\000' "\\$(printf '%03o' "$1")"; }

# Every 64 KiB block N of a block2mtd disk starts out filled with the
# byte 0x10 + N, so that untouched blocks can be recognised.
pattern_block() { repeat_byte $(((0x10 + $1) % 256)) "$EB_NOR"; }
