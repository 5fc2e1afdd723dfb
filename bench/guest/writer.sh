# Benchmark, inside the guest: the same image written by reflasher's stage
# two, by mtd-utils, and by a raw erase + dd of whole blocks (the device's
# own bound), on NAND with realistic timings and on NOR-like block2mtd;
# runs interleaved. Prints "RESULT tool device run wall_ms cpu_ms
# [hwm_kb lck_kb]" lines for the host to tabulate.
# rig: append nandsim.do_delays=1 nandsim.overridesize=9 nandsim.badblocks=2
# rig: disk1 544
# rig: timeout 1500
SIZE=$(sed -n 's/.*bench.size=\([0-9]*\).*/\1/p' /proc/cmdline)
RUNS=$(sed -n 's/.*bench.runs=\([0-9]*\).*/\1/p' /proc/cmdline)
echo "/dev/vdb,$EB_NOR,BenchNOR" >/sys/module/block2mtd/parameters/block2mtd
head -c "$SIZE" /dev/urandom >/tmp/bench.img
# The same size, each 128 KiB block half data and half 0xFF, as a UBI
# image's empty page tails are: written on NAND only.
i=0
while [ $((i * EB_NAND)) -lt "$SIZE" ]; do
    head -c $((EB_NAND / 2)) /dev/urandom
    ff_bytes $((EB_NAND / 2))
    i=$((i + 1))
done | head -c "$SIZE" >/tmp/half.img
mkdir -p /tmp/root
# block2mtd erases and writes through the page cache, reading each page
# from the disk the first time: read the partition once so that no tool
# pays for that alone.
cat "$(mtd_dev BenchNOR)" >/dev/null

measure() { rig_helper measure "$@" 2>&1 >/dev/null | sed -n 's/^MEASURE //p'; }

# Memory of stage two while it writes, sampled in a run of its own.
for part in RootFS_1 BenchNOR; do
    kind=$([ "$part" = RootFS_1 ] && echo NAND || echo NOR)
    in_ns 'exec reflasher --stage2 --part "$1" /tmp/bench.img 2>&1' "$part" 2>/dev/null |
        rig_helper stamp --sample "Done." >/tmp/stamp
    set -- $(sed -n 's/^PROBE //p' /tmp/stamp)
    es=$(cat "/sys/class/mtd/mtd$(mtd_index "$part")/erasesize")
    echo "MEMORY $kind $2 $3 $((es / 1024))"
done

for run in $(seq "$RUNS"); do
    for job in "RootFS_1 bench" "BenchNOR bench" "RootFS_1 half"; do
        set -- $job
        part=$1 img=/tmp/$2.img
        dev=$(mtd_dev "$part")
        es=$(cat "/sys/class/mtd/mtd$(mtd_index "$part")/erasesize")
        blocks=$(((SIZE + es - 1) / es))
        kind=$([ "$part" = RootFS_1 ] && echo NAND || echo NOR)
        [ "$2" = half ] && kind=NAND-half

        # Each tool starts with no dirty pages left by the one before: the
        # single CPU would otherwise write them back during its run.
        sync
        # reflasher: from its "Writing to" line to its "Done." line; CPU
        # read from the live process at "Done.".
        in_ns 'exec reflasher --stage2 --part "$1" "$2" 2>&1' "$part" "$img" 2>/dev/null |
            rig_helper stamp "Done." >/tmp/stamp
        t0=$(sed -n "s/^\([0-9]*\) Writing to $part \.\.\.\$/\1/p" /tmp/stamp)
        t1=$(sed -n 's/^\([0-9]*\) Done\.$/\1/p' /tmp/stamp)
        probe=$(sed -n 's/^PROBE //p' /tmp/stamp)
        set -- $probe
        echo "RESULT reflasher $kind $run $((t1 - t0)) $1"
        read_blocks "$part" 0 "$blocks" | head -c "$SIZE" | cmp -s - "$img" ||
            echo "not ok - reflasher wrote $part wrongly"

        # mtd-utils.
        sync
        if [ "$part" = RootFS_1 ]; then
            set -- $(measure flash_erase -q "$dev" 0 "$blocks")
            w=$1 c=$2
            set -- $(measure nandwrite -q -p "$dev" "$img")
            echo "RESULT mtd-utils $kind $run $((w + $1)) $((c + $2))"
        else
            set -- $(measure flashcp "$img" "$dev")
            echo "RESULT mtd-utils $kind $run $1 $2"
        fi
        read_blocks "$part" 0 "$blocks" | head -c "$SIZE" | cmp -s - "$img" ||
            echo "not ok - mtd-utils wrote $part wrongly"

        # The device's bound: erase, then whole blocks with dd.
        sync
        set -- $(measure flash_erase -q "$dev" 0 "$blocks")
        w=$1 c=$2
        set -- $(measure dd if="$img" of="$dev" bs="$es")
        echo "RESULT bound $kind $run $((w + $1)) $((c + $2))"
    done
done
ok "benchmark finished"
