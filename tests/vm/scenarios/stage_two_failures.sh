# Stage two's failure paths and the cache drop.
make_image /tmp/img 70000

# Started by hand without /tmp/root: the bind mount fails, nothing mounted.
reset_tmp
before=$(cat /proc/self/mountinfo | wc -l)
run_rf --stage2 /tmp/img
expect_eq "no /tmp/root: exit 1" 1 "$RF_RC"
expect_file "no /tmp/root: lines" /tmp/rf.err "upgrade: Stage2 started: image=/tmp/img part=Firmware_1
upgrade: ramfs: bind-mounting /tmp/root
mount /tmp/root -> /tmp/root: $(errtext 2)
ERROR: bind mount failed
"
expect_eq "no /tmp/root: nothing mounted" "$before" "$(cat /proc/self/mountinfo | wc -l)"

# The cache drop happens only when /etc/diag.sh exists. A file bound over
# drop_caches inside the namespace shows what was written.
drop_run() {
    echo untouched >/tmp/drop
    in_ns 'mount --bind /tmp/drop /proc/sys/vm/drop_caches && exec reflasher "$@"' --stage2 -q /tmp/img >/tmp/rf.out 2>/tmp/rf.err
}
reset_tmp
rm -f /etc/diag.sh
drop_run
expect_eq "without diag.sh: run ends at the bind mount" 1 "$RF_RC"
expect_eq "without diag.sh: caches not dropped" untouched "$(cat /tmp/drop)"
echo '#!/bin/sh' >/etc/diag.sh
drop_run
expect_eq "with diag.sh: run ends at the bind mount" 1 "$RF_RC"
expect_file "with diag.sh: exactly the byte 3" /tmp/drop "3"
rm -f /etc/diag.sh

# A protected name given to stage two directly: refused after the switch,
# nothing written, no restart.
reset_tmp
mkdir -p /tmp/root
read_blocks Firmware_2 0 8 >/tmp/before
ns_rf --stage2 --part Firmware_2 /tmp/img
expect_eq "protected in stage two: exit 1, no restart" 1 "$RF_RC"
# Everything up to "Performing system upgrade...", then the refusal.
expect_file "protected in stage two: refused after the switch" /tmp/rf.err \
"$(stage2_progress /tmp/img Firmware_2 | sed '$d')
ERROR: refusing to write to protected partition 'Firmware_2'
"
read_blocks Firmware_2 0 8 >/tmp/after
same_bytes "protected in stage two: Firmware_2 unchanged" /tmp/before /tmp/after

# The same partition named by its device node: refused after the switch.
ns_rf --stage2 -q --part "$(mtd_dev Firmware_2)" /tmp/img
expect_file "protected device node in stage two: refused" /tmp/rf.err "ERROR: refusing to write to protected partition 'Firmware_2' (given as $(mtd_dev Firmware_2))
"
read_blocks Firmware_2 0 8 >/tmp/after
same_bytes "protected device node in stage two: Firmware_2 unchanged" /tmp/before /tmp/after

# A failed pivot (a file where the put-old directory belongs): the run ends
# as before, and /proc is back in place for the rest of the system.
reset_tmp
mkdir -p /tmp/root
: >/tmp/root/mnt
in_ns 'reflasher --stage2 -q "$@"; echo "status $?"; test -r /proc/self/mountinfo && echo "/proc readable"' /tmp/img >/tmp/rf.out 2>/tmp/rf.err
expect_file "failed pivot: lines" /tmp/rf.err "pivot_root: $(errtext 20)
ERROR: pivot_root failed
"
expect_file "failed pivot: status 1, /proc still there" /tmp/rf.out "status 1
/proc readable
"
rm -f /tmp/root/mnt

# A missing image after the switch.
ns_rf --stage2 -q /tmp/no-such-image
expect_file "missing image in stage two" /tmp/rf.err "ERROR: cannot open image '/tmp/no-such-image': $(errtext 2)
"

# Leftover pivot directories are accepted.
check "pivot directories left from earlier runs" test -d /tmp/root/mnt
ns_rf --stage2 -q --part Firmware_1 /tmp/img
expect_eq "rerun over leftovers: restarted" "$RESTARTED" "$RF_RC"
