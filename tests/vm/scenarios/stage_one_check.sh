# Stage one's image check against real partitions, and its refusals before
# anything is staged. Firmware_1 is block2mtd, 4 MiB.
SIZE=$(mtd_size Firmware_1)
FAILED="ERROR: image check failed (use -F to override)"
mkdir -p /root /tmpdata

# The four check messages, each alone, each ending the run.
reset_tmp
mkdir -p /tmp/adir
run_rf -T /tmp/adir
expect_eq "not regular: exit 1" 1 "$RF_RC"
expect_file "not regular: message" /tmp/rf.err "'/tmp/adir' is not a regular file
$FAILED
"
: >/tmp/empty.bin
run_rf -T /tmp/empty.bin
expect_file "empty: message, no partition lookup" /tmp/rf.err "image is empty
$FAILED
"
make_image /tmp/fw.bin 100000
run_rf -T --part Nope /tmp/fw.bin
expect_file "unlisted partition: message" /tmp/rf.err "cannot find mtd partition 'Nope'
$FAILED
"
make_image /tmp/exact.bin "$SIZE"
run_rf -T /tmp/exact.bin
expect_eq "exact fit passes" "0 Image check passed." "$RF_RC $(cat /tmp/rf.out)"
make_image /tmp/over.bin $((SIZE + 1))
run_rf -T -q /tmp/over.bin
expect_eq "one byte over: exit 1" 1 "$RF_RC"
expect_file "one byte over: sizes, even when quiet" /tmp/rf.err "image is $((SIZE + 1)) bytes, 'Firmware_1' holds only $SIZE bytes
$FAILED
"

# Little memory left (a tmpfs filled until less than 6 MiB are available;
# kernels count MemAvailable differently, so the fill is measured as it
# goes): a 3 MB image outside /tmp, the program copy and the 4 MiB margin
# do not fit, and the run ends before the copy, even with -F.
reset_tmp
make_image /root/mem.bin 3000000
mkdir -p /mnt/fill
mount -t tmpfs -o size=100% fill /mnt/fill
avail_kb() { sed -n 's/^MemAvailable: *\([0-9]*\) kB$/\1/p' /proc/meminfo; }
dd if=/dev/zero of=/mnt/fill/fill bs=1M count=$((($(avail_kb) - 16384) / 1024)) 2>/dev/null
n=0
while [ "$(avail_kb)" -ge 6144 ] && [ $n -lt 64 ]; do
    dd if=/dev/zero of=/mnt/fill/more$n bs=256k count=1 2>/dev/null
    n=$((n + 1))
done
run_rf -T -F /root/mem.bin
umount /mnt/fill
expect_eq "little memory: exit 1" 1 "$RF_RC"
check "little memory: both figures, then the refusal" \
    sh -c "grep -q '^staging needs [0-9]* bytes of memory (image, program copy and margin), [0-9]* are available\$' /tmp/rf.err &&
           [ \"\$(tail -n 1 /tmp/rf.err)\" = 'ERROR: not enough memory to stage the image' ]"
absent "little memory: nothing copied" /tmp/reflasher.img

# -T -F with an unlisted partition: both lines, then the pass.
run_rf -T -F --part Nope /tmp/fw.bin
expect_eq "-T -F: exit 0" 0 "$RF_RC"
expect_file "-T -F: both lines on stderr" /tmp/rf.err "cannot find mtd partition 'Nope'
Image check failed but --force given - will update anyway!
"
expect_file "-T -F: passed on stdout" /tmp/rf.out "Image check passed.
"

# Images under /tmp are used in place: absolute, relative from /tmp, and
# through a link from outside.
reset_tmp
run_rf -T /tmp/fw.bin
(cd /tmp && reflasher -T fw.bin >/tmp/rf2.out 2>/tmp/rf2.err)
ln -sf /tmp/fw.bin /root/link-into-tmp
run_rf -T /root/link-into-tmp
expect_eq "in place: all three pass" "Image check passed." "$(cat /tmp/rf.out)"
expect_eq "in place: relative path passes" "Image check passed." "$(cat /tmp/rf2.out)"
absent "in place: nothing staged" /tmp/reflasher.img
absent "in place: nothing logged" /tmp/reflasher.log

# Images outside /tmp are copied with mode 0644, and so is a link in /tmp
# that leads outside; /tmpdata is not /tmp.
for src in /root/fw-out.bin /tmp/link-out /tmpdata/fw.bin; do
    reset_tmp
    make_image /root/fw-out.bin 70000
    chmod 0600 /root/fw-out.bin
    ln -sf /root/fw-out.bin /tmp/link-out
    cp /root/fw-out.bin /tmpdata/fw.bin
    run_rf -T "$src"
    expect_eq "$src: staged and passed" "0 Image check passed." "$RF_RC $(cat /tmp/rf.out)"
    expect_file "$src: copy line on stderr" /tmp/rf.err "upgrade: Image not in /tmp, copying to /tmp/reflasher.img
"
    same_bytes "$src: staged copy holds the image" /root/fw-out.bin /tmp/reflasher.img
    expect_eq "$src: staged copy mode" 644 "$(mode_of /tmp/reflasher.img)"
    expect_file "$src: copy line in the log" /tmp/reflasher.log "upgrade: Image not in /tmp, copying to /tmp/reflasher.img
"
done

# A directory outside /tmp fails in the copy; the copy is left empty.
mkdir -p /root/adir
run_rf -T /root/adir
expect_file "directory outside /tmp: cp line and fatal" /tmp/rf.err "upgrade: Image not in /tmp, copying to /tmp/reflasher.img
cp: read /root/adir: $(errtext 21)
ERROR: cannot copy image to tmpfs
"
expect_eq "directory outside /tmp: empty staged copy" 0 "$(stat -c %s /tmp/reflasher.img)"

# A missing image: the path as typed, nothing staged or logged.
reset_tmp
run_rf -T missing/fw.bin
expect_file "missing image" /tmp/rf.err "ERROR: image not found: missing/fw.bin
"
absent "missing image: nothing logged" /tmp/reflasher.log

# Protected names: -T never reaches the guard; without it, the refusal
# comes before /tmp/root exists.
run_rf -T --part Firmware_2 /tmp/fw.bin
expect_eq "protected with -T passes" "0 Image check passed." "$RF_RC $(cat /tmp/rf.out)"
run_rf -F --part Firmware_2 /tmp/fw.bin
expect_eq "protected: exit 1" 1 "$RF_RC"
expect_file "protected: refusal" /tmp/rf.err "ERROR: refusing to write to protected partition 'Firmware_2'
"
absent "protected: /tmp/root not created" /tmp/root

# The device node of a protected partition, directly and through a link,
# forced past the lookup: refused all the same, naming the partition.
dev=$(mtd_dev U-Boot)
mkdir -p /dev/mtd/by-name
ln -sf "$dev" /dev/mtd/by-name/bootloader
for given in "$dev" /dev/mtd/by-name/bootloader; do
    run_rf -F --part "$given" /tmp/fw.bin
    expect_file "protected device node $given: refused" /tmp/rf.err "cannot find mtd partition '$given'
Image check failed but --force given - will update anyway!
ERROR: refusing to write to protected partition 'U-Boot' (given as $given)
"
done
rm -rf /dev/mtd
absent "protected device node: /tmp/root not created" /tmp/root
# Without /sys the node is still named, through /proc/mtd.
in_ns 'umount /sys && exec reflasher -F --part "$1" /tmp/fw.bin' "$dev" >/tmp/rf.out 2>/tmp/rf.err
expect_file "protected device node, /sys unmounted: refused" /tmp/rf.err "cannot find mtd partition '$dev'
Image check failed but --force given - will update anyway!
ERROR: refusing to write to protected partition 'U-Boot' (given as $dev)
"

# A partition that cannot be opened for writing (its read-only node bound
# over it) is refused in stage one, -F or not: nothing staged, no stage two.
reset_tmp
fw=$(mtd_dev Firmware_1)
read_blocks Firmware_1 0 2 >/tmp/before
in_ns 'mount --bind "${1}ro" "$1" && exec reflasher -F /tmp/fw.bin' "$fw" >/tmp/rf.out 2>/tmp/rf.err
expect_eq "read-only partition: exit 1" 1 "$RF_RC"
err_without_progress >/tmp/got
expect_file "read-only partition: refused in stage one" /tmp/got "mtd: cannot open Firmware_1 for writing: $(errtext 13)
ERROR: cannot write to 'Firmware_1'
"
absent "read-only partition: nothing staged" /tmp/root
check_not "read-only partition: no stage two" grep -q 'Stage2 started' /tmp/reflasher.log
read_blocks Firmware_1 0 2 >/tmp/after
same_bytes "read-only partition: flash untouched" /tmp/before /tmp/after

# Images that check themselves, made by Debian's tools: intact they pass;
# cut short (or, for the uImage, with a flipped byte) they fail with a line
# that names the format, and -F still passes.
for img in uimage:uImage fit:FIT squashfs:squashfs ubi:UBI; do
    file=/rig/data/fw.${img%%:*} name=${img#*:}
    run_rf -T "$file"
    expect_eq "$name intact: passes" "0 Image check passed." "$RF_RC $(cat /tmp/rf.out)"
    head -c $(($(stat -c %s "$file") / 2 - 1)) "$file" >/tmp/broken.img
    run_rf -T /tmp/broken.img
    expect_eq "$name cut short: fails" 1 "$RF_RC"
    check "$name cut short: named in the one line" grep -q "^$name" /tmp/rf.err
    run_rf -T -F /tmp/broken.img
    expect_eq "$name cut short, -F: passes" "0 Image check passed." "$RF_RC $(cat /tmp/rf.out)"
    head -c 30 "$file" >/tmp/broken.img
    run_rf -T /tmp/broken.img
    check "$name cut inside its header: fails, named" [ "$RF_RC" = 1 ] && grep -q "^$name" /tmp/rf.err
done
# A FIT whose kernel lost a bit on its way is refused by its hash before
# stage two, without -T too, and the flash stays as it was.
cp /rig/data/fw.fit /tmp/broken.img
printf 'x' | dd of=/tmp/broken.img bs=1 seek=100000 conv=notrunc 2>/dev/null
read_blocks Firmware_1 0 8 >/tmp/before
ns_rf -q /tmp/broken.img
expect_file "FIT with a damaged kernel: refused by its hash" /tmp/rf.err "FIT image: the sha256 hash of image 'kernel' does not match its data
$FAILED
"
read_blocks Firmware_1 0 8 >/tmp/after
same_bytes "FIT with a damaged kernel: flash untouched" /tmp/before /tmp/after
# Padded with erased blocks, a UBI image is still good; a squashfs whose
# length has its top bit set is not.
{ cat /rig/data/fw.ubi; ff_bytes $((2 * EB_NOR)); } >/tmp/padded.img
run_rf -T /tmp/padded.img
expect_eq "UBI padded with erased blocks: passes" "0 Image check passed." "$RF_RC $(cat /tmp/rf.out)"
cp /rig/data/fw.squashfs /tmp/broken.img
printf '\200' | dd of=/tmp/broken.img bs=1 seek=47 conv=notrunc 2>/dev/null
run_rf -T /tmp/broken.img
check "squashfs with a huge length: fails" grep -q "^squashfs: the file is .* its header announces 92233" /tmp/rf.err
cp /rig/data/fw.uimage /tmp/broken.img
printf 'x' | dd of=/tmp/broken.img bs=1 seek=100000 conv=notrunc 2>/dev/null
run_rf -T /tmp/broken.img
check "uImage with a flipped byte: data CRC named" grep -q "^uImage: data CRC is 0x" /tmp/rf.err

# /tmp a plain directory of the root file system: what is staged there
# would go with the old root, so the run stops before stage two.
make_image /root/fw.bin 100000
read_blocks Firmware_1 0 2 >/tmp/before
in_ns 'umount -l /tmp && exec reflasher -q "$@"' /root/fw.bin >/tmp/rf.out 2>/tmp/rf.err
expect_file "/tmp no mount: refused" /tmp/rf.err "/tmp is not a mount of its own: what is staged there would be lost with the old root
ERROR: cannot stage into /tmp
"
read_blocks Firmware_1 0 2 >/tmp/after
same_bytes "/tmp no mount: flash untouched" /tmp/before /tmp/after

# Planted links are never followed.
reset_tmp
echo old >/root/victim
ln -s /root/victim /tmp/reflasher.img
run_rf -T /root/fw-out.bin
expect_file "link at the staged image: refused" /tmp/rf.err "upgrade: Image not in /tmp, copying to /tmp/reflasher.img
cp: open /tmp/reflasher.img: $(errtext ELOOP)
ERROR: cannot copy image to tmpfs
"
expect_eq "link at the staged image: target untouched" old "$(cat /root/victim)"

reset_tmp
mkdir -p /tmp/root/sbin
ln -s /root/victim /tmp/root/sbin/reflasher
run_rf -q /tmp/fw.bin
expect_file "link at the program copy: refused" /tmp/rf.err "cp: open /tmp/root/sbin/reflasher: $(errtext ELOOP)
ERROR: cannot stage self into tmpfs
"
expect_eq "link at the program copy: target untouched" old "$(cat /root/victim)"

reset_tmp
mkdir -p /root/elsewhere
ln -s /root/elsewhere /tmp/root
run_rf -q /tmp/fw.bin
expect_file "link at /tmp/root: refused" /tmp/rf.err "/tmp/root: is a symbolic link
ERROR: unsafe staging directory /tmp/root
"
absent "link at /tmp/root: nothing made behind it" /root/elsewhere/sbin
rm /tmp/root

mkdir -p /tmp/root
chown 1000 /tmp/root
run_rf -q /tmp/fw.bin
expect_file "foreign /tmp/root: refused" /tmp/rf.err "/tmp/root: owned by uid 1000, not by uid 0
ERROR: unsafe staging directory /tmp/root
"
absent "foreign /tmp/root: nothing copied" /tmp/root/sbin/reflasher
reset_tmp
mkdir -p /tmp/root/sbin
chmod 0777 /tmp/root/sbin
run_rf -q /tmp/fw.bin
expect_file "open /tmp/root/sbin: refused" /tmp/rf.err "/tmp/root/sbin: writable by group or others (mode 0777)
ERROR: unsafe staging directory /tmp/root/sbin
"
absent "open /tmp/root/sbin: nothing copied" /tmp/root/sbin/reflasher

# /tmp/root as a regular file: the directory step fails.
reset_tmp
: >/tmp/root
run_rf -q /tmp/fw.bin
expect_file "regular file at /tmp/root" /tmp/rf.err "ERROR: mkdir /tmp/root/sbin failed
"
rm -f /tmp/root
