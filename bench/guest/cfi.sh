# Benchmark, inside the guest: the same image written onto QEMU's CFI NOR
# (memory-mapped, the physmap driver) by reflasher's stage two, by
# flashcp (which also verifies) and by a raw erase + dd of whole blocks
# (the device's own bound), over an erased partition and over one that
# already holds the image; runs interleaved. Prints "RESULT tool start run
# wall_ms" lines (start: erased or equal) for the host to tabulate.
# rig: pflash
# rig: timeout 1500
SIZE=$(sed -n 's/.*bench.size=\([0-9]*\).*/\1/p' /proc/cmdline)
RUNS=$(sed -n 's/.*bench.runs=\([0-9]*\).*/\1/p' /proc/cmdline)
head -c "$SIZE" /dev/urandom >/tmp/bench.img
mkdir -p /tmp/root
dev=$(mtd_dev BenchCFI)
es=$(cat "/sys/class/mtd/mtd$(mtd_index BenchCFI)/erasesize")
blocks=$(((SIZE + es - 1) / es))
measure() { rig_helper measure "$@" 2>&1 >/dev/null | sed -n 's/^MEASURE //p'; }
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
        in_ns 'exec reflasher --stage2 --part BenchCFI /tmp/bench.img 2>&1' 2>/dev/null |
            rig_helper stamp "Done." >/tmp/stamp
        t0=$(sed -n 's/^\([0-9]*\) Writing to BenchCFI \.\.\.$/\1/p' /tmp/stamp)
        t1=$(sed -n 's/^\([0-9]*\) Done\.$/\1/p' /tmp/stamp)
        echo "RESULT reflasher $from $run $((t1 - t0))"
        holds_image reflasher

        start "$from"
        set -- $(measure flashcp /tmp/bench.img "$dev")
        echo "RESULT flashcp $from $run $1"
        holds_image flashcp

        start "$from"
        set -- $(measure flash_erase -q "$dev" 0 "$blocks")
        w=$1
        set -- $(measure dd if=/tmp/bench.img of="$dev" bs="$es")
        echo "RESULT bound $from $run $((w + $1))"
        holds_image "erase + dd"
    done
done
ok "benchmark finished"
