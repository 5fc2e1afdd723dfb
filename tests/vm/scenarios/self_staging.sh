# Self-staging and the hand-over to stage two, in namespaces of its own.
mkdir -p /root

# stage2_argv ARGS...: runs stage one with ARGS on an image that is a FIFO
# in /tmp (accepted with -F), so stage two blocks when it opens the image;
# prints the stage-two command line, then ends that namespace.
stage2_argv() {
    reset_tmp
    rm -f /tmp/fifo
    mkfifo /tmp/fifo
    ns_rf "$@" &
    ns=$!
    argv=
    for i in $(seq 200); do
        pid=$(stage2_pid)
        [ -n "$pid" ] && argv=$(tr '\000' ' ' <"/proc/$pid/cmdline") && break
        usleep 50000
    done
    # Stage two logs this right before it opens the image, where it blocks.
    for i in $(seq 200); do
        grep -q '^upgrade: Writing /tmp/fifo to mtd partition' /tmp/reflasher.log 2>/dev/null && break
        usleep 50000
    done
    [ -n "$argv" ] && kill -9 "$pid"
    wait "$ns" 2>/dev/null
    echo "$argv"
}

expect_eq "default vector" "/tmp/root/sbin/reflasher --stage2 --part Firmware_1 --verbose 1 /tmp/fifo " \
    "$(stage2_argv -F /tmp/fifo)"
expect_eq "verbosity -1 after two -q" "/tmp/root/sbin/reflasher --stage2 --part Firmware_1 --verbose -1 /tmp/fifo " \
    "$(stage2_argv -q -F -q /tmp/fifo)"
expect_eq "verbosity cut to 7 characters" \
    "/tmp/root/sbin/reflasher --stage2 --part Firmware_1 --verbose 1234567 /tmp/fifo " \
    "$(stage2_argv -F --verbose 123456789 /tmp/fifo)"
expect_eq "negative verbosity cut to 7 characters" \
    "/tmp/root/sbin/reflasher --stage2 --part Firmware_1 --verbose -123456 /tmp/fifo " \
    "$(stage2_argv -F --verbose -12345678 /tmp/fifo)"
ln -sf /tmp/fifo /root/fifo-link
# A partition whose name begins with "-" (stage one checks that it can be
# written before it stages anything).
dd if=/dev/zero of=/dev/vdb bs="$EB_NOR" count=8 2>/dev/null
echo "/dev/vdb,$EB_NOR,-dash" >/sys/module/block2mtd/parameters/block2mtd
check "partition -dash exists" grep -q '"-dash"$' /proc/mtd
expect_eq "partition beginning with -, image through a link" \
    "/tmp/root/sbin/reflasher --stage2 --part -dash --verbose 0 /tmp/fifo " \
    "$(stage2_argv -F -q --part -dash /root/fifo-link)"
CHECK_LINES="'/tmp/fifo' is not a regular file
Image check failed but --force given - will update anyway!"
expect_eq "quiet: milestones only in the log" "$CHECK_LINES" "$(cat /tmp/rf.err)"
check "quiet: stage two logged its start" grep -q '^upgrade: Stage2 started: image=/tmp/fifo part=-dash$' /tmp/reflasher.log
stage2_argv -F --verbose -12345678 /tmp/fifo >/dev/null
expect_eq "stage two runs with the cut (negative) verbosity" "$CHECK_LINES" "$(cat /tmp/rf.err)"
stage2_argv -F --verbose 123456789 /tmp/fifo >/dev/null
check "stage two runs with the cut (positive) verbosity" grep -q '^upgrade: ramfs: switch complete$' /tmp/rf.err

# What lands in /tmp/root/sbin: the program itself, mode 0755, whatever the
# umask; and the milestones in order.
reset_tmp
make_image /root/fw.bin 200000
(umask 077; ns_rf /root/fw.bin; exit "$RF_RC")
expect_eq "full run restarted" "$RESTARTED" "$?"
same_bytes "staged program is the program" /usr/sbin/reflasher /tmp/root/sbin/reflasher
expect_eq "staged program mode" 755 "$(mode_of /tmp/root/sbin/reflasher)"
head -n 5 /tmp/reflasher.log >/tmp/got
expect_file "stage one milestones in order" /tmp/got "upgrade: Image not in /tmp, copying to /tmp/reflasher.img
upgrade: Commencing upgrade. Closing all shell sessions.
upgrade: Staging self into /tmp/root/sbin/reflasher
upgrade: Re-exec into tmpfs copy
upgrade: Stage2 started: image=/tmp/reflasher.img part=Firmware_1
"

# The partition whose name begins with "-" is written through the whole
# road.
make_image /root/dash.bin 100000
reset_tmp
ns_rf --part -dash /root/dash.bin
expect_eq "-dash: restarted" "$RESTARTED" "$RF_RC"
read_blocks -dash 0 2 >/tmp/got
{ cat /root/dash.bin; ff_bytes $((2 * EB_NOR - 100000)); } >/tmp/want
same_bytes "-dash: written" /tmp/want /tmp/got
