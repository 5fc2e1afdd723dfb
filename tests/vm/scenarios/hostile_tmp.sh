# What someone else plants in /tmp never makes the program write elsewhere:
# a link at the log (full run), a file of theirs at the staged image, FIFOs
# and hard links at both. (Links at the staged image, the RAM tree and the
# program copy: stage_one_check.)
mkdir -p /root /outside
make_image /root/fw.bin 100000
plant() { echo "precious $1" >"/outside/$1"; }
untouched() { expect_eq "$1: target untouched" "precious $2" "$(cat "/outside/$2")"; }

# The log: the run goes on and restarts; the target never sees a line.
reset_tmp
plant log
ln -s /outside/log /tmp/reflasher.log
ns_rf -q /root/fw.bin
expect_eq "link at the log: the upgrade still completes" "$RESTARTED" "$RF_RC"
untouched "link at the log" log
check "link at the log: still a link" test -L /tmp/reflasher.log

# A regular file planted at the staged image by another user: its owner
# could change it between the check and the write.
reset_tmp
echo theirs >/tmp/reflasher.img
chown 1000 /tmp/reflasher.img
ns_rf /root/fw.bin
expect_eq "foreign staged image: refused" 1 "$RF_RC"
expect_file "foreign staged image: lines" /tmp/rf.err "upgrade: Image not in /tmp, copying to /tmp/reflasher.img
cp: /tmp/reflasher.img: owned by uid 1000, not by uid 0
ERROR: cannot copy image to tmpfs
"
expect_eq "foreign staged image: untouched" theirs "$(cat /tmp/reflasher.img)"

# A link in /tmp to an image outside is only read (and staged).
reset_tmp
ln -s /root/fw.bin /tmp/fw-link
run_rf -T /tmp/fw-link
expect_eq "image through a link from /tmp: checked" "0 Image check passed." "$RF_RC $(cat /tmp/rf.out)"
check "nothing new outside /tmp" test "$(ls /outside | tr '\n' ' ')" = "log "

# FIFOs and hard links planted at the log and at the staged image: never a
# hang (each run has a time limit), never a write into the linked file.
echo "root's own" >/tmp/precious
for kind in fifo hardlink; do
    reset_tmp
    plant_at() { if [ "$kind" = fifo ]; then mkfifo "$1"; else ln /tmp/precious "$1"; fi; }
    plant_at /tmp/reflasher.log
    timeout 20 reflasher -T /root/fw.bin >/tmp/rf.out 2>/tmp/rf.err
    expect_eq "$kind at the log: the check still passes" "0 Image check passed." "$? $(cat /tmp/rf.out)"
    rm -f /tmp/reflasher.log /tmp/reflasher.img
    plant_at /tmp/reflasher.img
    timeout 20 reflasher -T -q /root/fw.bin >/tmp/rf.out 2>/tmp/rf.err
    expect_eq "$kind at the staged image: refused" 1 "$?"
    why="not a regular file"
    [ "$kind" = hardlink ] && why="has 2 links, another file would be overwritten"
    expect_file "$kind at the staged image: lines" /tmp/rf.err "cp: /tmp/reflasher.img: $why
ERROR: cannot copy image to tmpfs
"
done
expect_eq "hard links: the linked file untouched" "root's own" "$(cat /tmp/precious)"
