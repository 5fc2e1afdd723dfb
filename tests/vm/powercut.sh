#!/bin/bash
# Power cuts during a write to a block2mtd partition: each cut boots the
# guest, starts a 3.7 MB write and kills QEMU at a moment spread across the
# write; the host then checks the partition's blocks: the first block holds
# the new image only once every other block does.
#   powercut.sh CACHE PROGRAM HELPER WORKDIR [COUNT] [SEED]
# Every cut prints its seed and delay; POWERCUT_DELAYS="ms ms ..." replays
# given delays instead. POWERCUT_ARCH=arm (or mips) runs the 32-bit ARM
# guest with the ARMv7 program and helper (or the MIPS guest with the MIPS
# ones) instead of the AArch64 one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=$1 program=$2 helper=$3 work=$4
count=${5:-10}
seed=${6:-$(date +%s)}
mkdir -p "$work"
arch=${POWERCUT_ARCH:-arm64}
kernel=$("$here/build-kernel.sh" "$cache" "$arch")
busybox=$("$here/fetch-busybox.sh" "$cache" "$arch")
run() {
    "$here/run-scenario.sh" --arch "$arch" --kernel "$kernel" --busybox "$busybox" --program "$program" --helper "$helper" \
        --work "$1" "$here/powercut/write.sh" "${@:2}"
}

# How long the write takes here: a run without a cut, timed on the console.
if [ -z "${POWERCUT_DELAYS:-}" ]; then
    run "$work/calibrate" --cut-after "RIG-WRITE-START" --cut-ms 60000 >"$work.calibrate.log" 2>&1 &
    pid=$!
    until grep -q -F "Writing to Firmware_1 ..." "$work/calibrate/console.raw" 2>/dev/null ||
        ! kill -0 $pid 2>/dev/null; do sleep 0.005; done
    t0=$(date +%s%N)
    until grep -q -F "Done." "$work/calibrate/console.raw" 2>/dev/null ||
        ! kill -0 $pid 2>/dev/null; do sleep 0.005; done
    duration=$((($(date +%s%N) - t0) / 1000000))
    kill -KILL "$(cat "$work/calibrate/qemu.pid")" 2>/dev/null || true
    wait $pid 2>/dev/null || true
    echo "write takes about $duration ms here; seed $seed"
    RANDOM=$seed
    delays=""
    for ((i = 0; i < count; i++)); do
        delays+=" $(((i * duration + RANDOM % (duration + 1)) / count))"
    done
else
    delays=$POWERCUT_DELAYS
fi

failed=0
n=0
for d in $delays; do
    n=$((n + 1))
    echo "=== cut $n: $d ms after the write began (replay: POWERCUT_DELAYS=$d)"
    if run "$work/cut-$n" --cut-after "Writing to Firmware_1 ..." --cut-ms "$d" >"$work/cut-$n.log" 2>&1; then
        grep -E '^(# blocks|ok - the first block|# power cut)' "$work/cut-$n.log"
    else
        cat "$work/cut-$n.log"
        failed=$((failed + 1))
    fi
done
echo "$((n - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
