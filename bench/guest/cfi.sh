# Benchmark, inside the guest: the same image written onto QEMU's CFI NOR
# (memory-mapped, the physmap driver) by reflasher's stage two, by
# flashcp (which also verifies) and by a raw loop that erases and writes
# each block and does nothing else (rig_helper rawwrite, the floor), over
# an erased partition and over one that already holds the image; runs
# interleaved. Each is timed the same way: from its start to the end of
# its write (reflasher's "Done.", the others' exit), as rig_helper stamp
# sees its output. Prints "RESULT tool start run wall_ms" lines (start:
# erased or equal) for the host to tabulate.
# rig: pflash
# rig: timeout 1500
SIZE=$(sed -n 's/.*bench.size=\([0-9]*\).*/\1/p' /proc/cmdline)
RUNS=$(sed -n 's/.*bench.runs=\([0-9]*\).*/\1/p' /proc/cmdline)
head -c "$SIZE" /dev/urandom >/tmp/bench.img
mkdir -p /tmp/root
dev=$(mtd_dev BenchCFI)
es=$(cat "/sys/class/mtd/mtd$(mtd_index BenchCFI)/erasesize")
blocks=$(((SIZE + es - 1) / es))
# timed TRIGGER CMD...: milliseconds from the command's start to the line
# TRIGGER of its output.
timed() {
    trigger=$1
    shift
    "$@" 2>&1 | rig_helper stamp "$trigger" >/tmp/stamp
    sed -n "s/^\([0-9]*\) $trigger\$/\1/p" /tmp/stamp
}
# start erased|equal: the partition before each tool's run.
start() {
    if [ "$1" = erased ]; then flash_erase -q "$dev" 0 "$blocks"; else flashcp /tmp/bench.img "$dev"; fi
    sync
}
holds_image() {
    read_blocks BenchCFI 0 "$blocks" | head -c "$SIZE" | cmp -s - /tmp/bench.img || echo "not ok - $1 wrote BenchCFI wrongly"
}
for run in $(seq "$RUNS"); do
    for from in erased equal; do
        start "$from"
        echo "RESULT reflasher $from $run $(timed Done. in_ns 'exec reflasher --stage2 --part BenchCFI /tmp/bench.img 2>&1')"
        holds_image reflasher

        start "$from"
        echo "RESULT flashcp $from $run $(timed END sh -c 'flashcp "$1" "$2"; echo END' sh /tmp/bench.img "$dev")"
        holds_image flashcp

        start "$from"
        echo "RESULT raw $from $run $(timed END sh -c 'rig_helper rawwrite "$1" "$2"; echo END' sh "$dev" /tmp/bench.img)"
        holds_image "the raw loop"
    done
done
ok "benchmark finished"
