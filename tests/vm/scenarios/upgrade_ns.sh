# Whole upgrades from the administrator's command line, each in mount and
# PID namespaces of its own: the restart ends the namespace (SIGHUP).
mkdir -p /root

# NAND with bad blocks (Kernel_1: blocks 0, 3 and 4 bad), image outside /tmp.
reset_tmp
make_image /root/kernel.bin $((3 * EB_NAND + 1000))
ns_rf --part Kernel_1 /root/kernel.bin
expect_eq "NAND: restarted" "$RESTARTED" "$RF_RC"
expect_file "NAND: everything on stderr, in order" /tmp/rf.err "upgrade: Image not in /tmp, copying to /tmp/reflasher.img
upgrade: Commencing upgrade. Closing all shell sessions.
upgrade: Staging self into /tmp/root/sbin/reflasher
upgrade: Re-exec into tmpfs copy
$(stage2_progress /tmp/reflasher.img Kernel_1)
Writing to Kernel_1 ...
Skipping bad block at 0x00000000
Skipping bad block at 0x00060000
Skipping bad block at 0x00080000
Done.
upgrade: Upgrade completed
upgrade: Rebooting system...
"
# The log holds the same milestones, but for the line written between the
# pivot and the move of /tmp.
grep '^upgrade: ' /tmp/rf.err | grep -vx 'upgrade: ramfs: moving /sys, /dev, /tmp' >/tmp/want
same_bytes "NAND: the log, but for the line written between pivot and move" /tmp/want /tmp/reflasher.log
expect_file "NAND: that line is in the RAM tree's own /tmp" /tmp/root/tmp/reflasher.log \
"upgrade: ramfs: moving /sys, /dev, /tmp
"
{ read_blocks Kernel_1 1 2; read_blocks Kernel_1 5 2; } >/tmp/got
{ cat /root/kernel.bin; ff_bytes $((EB_NAND - 1000)); } >/tmp/want
same_bytes "NAND: image on the good blocks, byte for byte" /tmp/want /tmp/got
check "NAND: the guest's mounts are as before" grep -q ' /tmp tmpfs ' /proc/mounts

# NOR (block2mtd Firmware_1), the default partition, quiet: nothing on
# stderr, everything in the log.
reset_tmp
make_image /root/fw.bin 300000
ns_rf -q /root/fw.bin
expect_eq "NOR: restarted" "$RESTARTED" "$RF_RC"
expect_file "NOR -q: stderr silent" /tmp/rf.err ""
expect_eq "NOR -q: log complete" "upgrade: Rebooting system..." "$(tail -n 1 /tmp/reflasher.log)"
read_blocks Firmware_1 0 5 >/tmp/got
{ cat /root/fw.bin; ff_bytes $((5 * EB_NOR - 300000)); } >/tmp/want
same_bytes "NOR: image byte for byte" /tmp/want /tmp/got
read_blocks Firmware_1 5 1 >/tmp/got
pattern_block 5 >/tmp/want
same_bytes "NOR: block after the image untouched" /tmp/want /tmp/got

# A second run appends to the log instead of truncating it.
lines=$(wc -l </tmp/reflasher.log)
rm -rf /tmp/reflasher.img
ns_rf -q /root/fw.bin
expect_eq "second run appends" $((lines * 2)) "$(wc -l </tmp/reflasher.log)"

# Two runs on one device at once, the second a check of another partition
# from a namespace with a /tmp of its own: it is refused before it copies
# anything, and the first completes.
reset_tmp
make_image /root/first.bin 3000000
make_image /root/second.bin 300000
unshare -m -p -f sh -c 'exec reflasher -q "$@"' ns /root/first.bin >/tmp/rf.out 2>/tmp/rf.err &
first=$!
for i in $(seq 400); do [ -n "$(stage2_pid)" ] && break; usleep 10000; done
# (The first run makes the guest's root read-only: results go to /tmp.)
unshare -m sh -c 'mount -t tmpfs tmpfs /tmp && reflasher -T --part Kernel_1 /root/second.bin; echo "status $?"; ls -A /tmp' \
    >/tmp/second.out 2>/tmp/second.err
wait "$first"
RF_RC=$?
mount -o remount,rw /
expect_file "two at once: the second refused" /tmp/second.err "mtd: another upgrade of this device is under way
ERROR: cannot write to 'Kernel_1'
"
expect_file "two at once: the second ends with status 1, its /tmp untouched" /tmp/second.out "status 1
"
expect_eq "two at once: the first restarted" "$RESTARTED" "$RF_RC"
read_blocks Firmware_1 0 46 >/tmp/got
{ cat /root/first.bin; ff_bytes $((46 * EB_NOR - 3000000)); } >/tmp/want
same_bytes "two at once: the first image byte for byte" /tmp/want /tmp/got

# Whole upgrades of Firmware_1 in conditions met in the field; each must
# restart with the image on the flash, byte for byte.
upgraded() {
    expect_eq "$1: restarted" "$RESTARTED" "$RF_RC"
    read_blocks Firmware_1 0 5 >/tmp/got
    { cat /root/field.bin; ff_bytes $((5 * EB_NOR - 300000)); } >/tmp/want
    same_bytes "$1: image byte for byte" /tmp/want /tmp/got
}
make_image /root/field.bin 300000

# Every mount shared, as on systemd-based systems.
reset_tmp
in_ns 'mount --make-rshared / && exec reflasher -q "$@"' /root/field.bin >/tmp/rf.out 2>/tmp/rf.err
upgraded "shared mounts"

# Started with closed standard descriptors, as by some daemons.
reset_tmp
in_ns 'exec reflasher "$@" <&- 2>&-' /root/field.bin >/tmp/rf.out 2>/tmp/rf.err
upgraded "stdin and stderr closed"
reset_tmp
in_ns 'exec reflasher "$@" <&- >&- 2>&-' /root/field.bin >/tmp/rf.out 2>/tmp/rf.err
upgraded "all three closed"

# Signals of a closed terminal, Ctrl-C, a service manager and a vanished
# reader, round after round from the start of stage two to its end. Each
# round stops the program first and looks at its log before letting it go
# on: a round whose log already shows the root switch reached the program
# after it, however fast or slow the machine. The program runs below a
# shell (the first process of a PID namespace gets no signal it has no
# handler for).
reset_tmp
(
    pid=
    for i in $(seq 400); do
        pid=$(stage2_pid)
        [ -n "$pid" ] && break
        usleep 10000
    done
    after=0
    while [ -n "$pid" ] && kill -STOP "$pid" 2>/dev/null; do
        state=
        while [ "$state" != T ] && kill -0 "$pid" 2>/dev/null; do
            read -r _ _ state _ 2>/dev/null <"/proc/$pid/stat"
        done
        for sig in HUP INT TERM PIPE QUIT; do kill -"$sig" "$pid" 2>/dev/null; done
        while read -r line; do
            [ "$line" = "upgrade: Performing system upgrade..." ] && after=1
        done </tmp/reflasher.log
        kill -CONT "$pid" 2>/dev/null
    done
    echo "$after" >/tmp/signals-after-switch
) &
killer=$!
in_ns 'reflasher "$@"; echo "returned $?"' /root/field.bin >/tmp/rf.out 2>/tmp/rf.err
wait "$killer"
upgraded "signals"
expect_eq "signals: sent to stage two after the root switch" 1 "$(cat /tmp/signals-after-switch)"
expect_eq "signals: the log ends with the restart" "upgrade: Rebooting system..." "$(tail -n 1 /tmp/reflasher.log)"
