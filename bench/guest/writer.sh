# Benchmark, inside the guest: the same image written by reflasher's stage
# two, by mtd-utils, and by a raw erase + dd of whole blocks (the device's
# own bound), on NAND with realistic timings and on NOR-like block2mtd;
# runs interleaved. Prints "RESULT tool device run wall_ms cpu_ms
# [hwm_kb lck_kb]" lines for the host to tabulate, then the NOR16, CHECK
# and FITCHECK lines below.
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
        # read from the live process at "Done.". On NOR it would leave the
        # blocks that already hold the image alone: they are erased first,
        # so that it writes them all, as the other tools do.
        [ "$kind" = NOR ] && flash_erase -q "$dev" 0 "$blocks"
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
        # Reading those blocks back, once: the bound plus this is the floor
        # of a write that reads back everything it wrote (a random image
        # programs every page).
        if [ "$kind" = NAND ]; then
            set -- $(measure dd if="$dev" of=/dev/null bs="$es" count="$blocks")
            echo "RESULT read $kind $run $1 $2"
        fi
    done
done
# NOR blocks already up to date: a 16-block image on flash is rewritten
# with 0, 1 and all 16 blocks changed, by reflasher and by flashcp; what
# reaches BenchNOR's disk (sectors written, after a sync) and the wall time.
# "NOR16 tool changed sectors wall_ms".
written() { sync; set -- $(cat /sys/block/vdb/stat); echo "$7"; }
head -c $((16 * EB_NOR)) /dev/urandom >/tmp/n0.img
{ head -c $((5 * EB_NOR)) /tmp/n0.img; head -c "$EB_NOR" /dev/urandom; tail -c +$((6 * EB_NOR + 1)) /tmp/n0.img; } >/tmp/n1.img
head -c $((16 * EB_NOR)) /dev/urandom >/tmp/n16.img
nor=$(mtd_dev BenchNOR)
for run in $(seq "$RUNS"); do
    for changed in 0 1 16; do
        for tool in reflasher flashcp; do
            flashcp /tmp/n0.img "$nor" >/dev/null 2>&1
            before=$(written)
            if [ "$tool" = reflasher ]; then
                in_ns 'exec reflasher --stage2 --part BenchNOR "$1" 2>&1' "/tmp/n$changed.img" 2>/dev/null |
                    rig_helper stamp "Done." >/tmp/stamp
                t0=$(sed -n 's/^\([0-9]*\) Writing to BenchNOR \.\.\.$/\1/p' /tmp/stamp)
                t1=$(sed -n 's/^\([0-9]*\) Done\.$/\1/p' /tmp/stamp)
                wall=$((t1 - t0))
            else
                set -- $(measure flashcp "/tmp/n$changed.img" "$nor")
                wall=$1
            fi
            echo "NOR16 $tool $changed $(($(written) - before)) $wall"
            read_blocks BenchNOR 0 16 | cmp -s - "/tmp/n$changed.img" || echo "not ok - $tool wrote BenchNOR wrongly"
        done
    done
done

# The image check of a 16 MiB uImage (header and data CRC: the image read
# once), in test mode. "CHECK run wall_ms".
if [ -f /rig/data/bench.uimage ]; then
    cp /rig/data/bench.uimage /tmp/bench.uimage
    for run in $(seq "$RUNS"); do
        set -- $(measure reflasher -T -q --part RootFS_1 /tmp/bench.uimage)
        echo "CHECK $run $1"
    done
fi
# The image check of a 16 MiB FIT with a sha256 hash, beside busybox's
# sha256sum of the same file. "FITCHECK run reflasher_ms sha256sum_ms".
if [ -f /rig/data/bench.fit ]; then
    cp /rig/data/bench.fit /tmp/bench.fit
    for run in $(seq "$RUNS"); do
        set -- $(measure reflasher -T -q --part RootFS_1 /tmp/bench.fit)
        check_ms=$1
        set -- $(measure busybox sha256sum /tmp/bench.fit)
        echo "FITCHECK $run $check_ms $1"
    done
fi
# The same FIT signed, checked by the release built with its key.
# "SIGCHECK run reflasher_ms sha256sum_ms".
if [ -f /rig/data/bench-signed.fit ]; then
    cp /rig/data/bench-signed.fit /tmp/bench-signed.fit
    cp /rig/data/reflasher-signed /tmp/reflasher-signed
    chmod +x /tmp/reflasher-signed
    for run in $(seq "$RUNS"); do
        set -- $(measure /tmp/reflasher-signed -T -q --part RootFS_1 /tmp/bench-signed.fit)
        check_ms=$1
        set -- $(measure busybox sha256sum /tmp/bench-signed.fit)
        echo "SIGCHECK $run $check_ms $1"
    done
fi
ok "benchmark finished"
