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
echo "/dev/vdb,65536,BenchNOR" >/sys/module/block2mtd/parameters/block2mtd
head -c "$SIZE" /dev/urandom >/tmp/bench.img
mkdir -p /tmp/root
# block2mtd erases and writes through the page cache, reading each page
# from the disk the first time: read the partition once so that no tool
# pays for that alone.
cat "$(mtd_dev BenchNOR)" >/dev/null

measure() { rig_helper measure "$@" 2>&1 >/dev/null | sed -n 's/^MEASURE //p'; }

# Memory of stage two while it writes, sampled in a run of its own.
for part in RootFS_1 BenchNOR; do
    kind=$([ "$part" = RootFS_1 ] && echo NAND || echo NOR)
    unshare -m -p -f sh -c 'exec reflasher --stage2 --part "$0" /tmp/bench.img 2>&1' "$part" 2>/dev/null |
        rig_helper stamp --sample "Done." >/tmp/stamp
    mount -o remount,rw /
    set -- $(sed -n 's/^PROBE //p' /tmp/stamp)
    es=$(cat "/sys/class/mtd/mtd$(mtd_index "$part")/erasesize")
    echo "MEMORY $kind $2 $3 $((es / 1024))"
done

for run in $(seq "$RUNS"); do
    for part in RootFS_1 BenchNOR; do
        dev=$(mtd_dev "$part")
        es=$(cat "/sys/class/mtd/mtd$(mtd_index "$part")/erasesize")
        blocks=$(((SIZE + es - 1) / es))
        kind=$([ "$part" = RootFS_1 ] && echo NAND || echo NOR)

        # Each tool starts with no dirty pages left by the one before: the
        # single CPU would otherwise write them back during its run.
        sync
        # reflasher: from its "Writing to" line to its "Done." line; CPU
        # read from the live process at "Done.".
        unshare -m -p -f sh -c 'exec reflasher --stage2 --part "$0" /tmp/bench.img 2>&1' "$part" 2>/dev/null |
            rig_helper stamp "Done." >/tmp/stamp
        mount -o remount,rw /
        t0=$(sed -n "s/^\([0-9]*\) Writing to $part \.\.\.\$/\1/p" /tmp/stamp)
        t1=$(sed -n 's/^\([0-9]*\) Done\.$/\1/p' /tmp/stamp)
        probe=$(sed -n 's/^PROBE //p' /tmp/stamp)
        set -- $probe
        echo "RESULT reflasher $kind $run $((t1 - t0)) $1"
        read_blocks "$part" 0 "$blocks" | head -c "$SIZE" | cmp -s - /tmp/bench.img ||
            echo "not ok - reflasher wrote $part wrongly"

        # mtd-utils.
        sync
        if [ "$kind" = NAND ]; then
            set -- $(measure flash_erase -q "$dev" 0 "$blocks")
            w=$1 c=$2
            set -- $(measure nandwrite -q -p "$dev" /tmp/bench.img)
            echo "RESULT mtd-utils $kind $run $((w + $1)) $((c + $2))"
        else
            set -- $(measure flashcp /tmp/bench.img "$dev")
            echo "RESULT mtd-utils $kind $run $1 $2"
        fi
        read_blocks "$part" 0 "$blocks" | head -c "$SIZE" | cmp -s - /tmp/bench.img ||
            echo "not ok - mtd-utils wrote $part wrongly"

        # The device's bound: erase, then whole blocks with dd.
        sync
        set -- $(measure flash_erase -q "$dev" 0 "$blocks")
        w=$1 c=$2
        set -- $(measure dd if=/tmp/bench.img of="$dev" bs="$es")
        echo "RESULT bound $kind $run $((w + $1)) $((c + $2))"
    done
done
ok "benchmark finished"
