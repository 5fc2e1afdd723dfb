#!/bin/bash
# Reliability figures beyond one test run: a batch of power cuts in the
# guest, each fuzz target for a while, every unit test under valgrind.
# Records the figures in bench/RESULTS.md.
#   bench/reliability.sh [CUTS] [FUZZ_SECONDS] [SEED]   (default 40, 60, the date)
# Needs the builds of the test command (scripts/test.sh): build/host,
# build/fuzz and build/release-aarch64.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cuts=${1:-40}
fuzz_seconds=${2:-60}
seed=${3:-$(date +%s)}
cache=${REFLASHER_VM_CACHE:-/var/cache/reflasher-vm}
work=build/reliability
rm -rf "$work"
mkdir -p "$work"

echo "== $cuts power cuts"
tests/vm/powercut.sh "$cache" build/release-aarch64/reflasher build/release-aarch64/tests/rig_helper \
    "$work/powercut" "$cuts" "$seed" | tee "$work/powercut.log"
passed=$(sed -n 's/^\([0-9]*\) passed, [0-9]* failed$/\1/p' "$work/powercut.log")
inside=$(grep -c '^# blocks: .[NOX]*X' "$work/powercut.log" || true)

echo "== fuzzing, $fuzz_seconds s each"
fuzz_lines=""
for target in cli mtd_table image_format; do
    # Run inside the work directory (a target makes its scratch files in
    # its working directory, and may change it: absolute paths).
    mkdir -p "$work/corpus-$target"
    (cd "$work" && "$root/build/fuzz/fuzz/fuzz_$target" -close_fd_mask=3 -max_total_time="$fuzz_seconds" \
        -print_final_stats=1 -artifact_prefix="$root/$work/" "$root/$work/corpus-$target" \
        "$root/fuzz/corpus/$target" 2>"$root/$work/fuzz-$target.log") || true
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz-$target.log")
    crashes=$(find "$work" -maxdepth 1 -name 'crash-*' | wc -l)
    fuzz_lines+="| $target | $fuzz_seconds | ${runs:-?} | $crashes |
"
done

echo "== valgrind"
scripts/valgrind-unit.sh build/host | tee "$work/valgrind.log"
vg_ok=$(grep -c '^ok - ' "$work/valgrind.log" || true)
vg_bad=$(grep -c '^not ok - ' "$work/valgrind.log" || true)

{
    echo "## Reliability"
    echo
    echo "$(date -u +%Y-%m-%d), \`bench/reliability.sh $cuts $fuzz_seconds $seed\`, revision $(git rev-parse --short HEAD):"
    echo
    echo "- power cuts during a 3.7 MB write: $passed of $cuts passed, $inside of them inside a block (seed $seed)"
    echo "- unit test binaries under valgrind memcheck: $vg_ok clean, $vg_bad with errors or leaks"
    echo
    echo "| fuzz target | seconds | executions | crash inputs |"
    echo "|---|---|---|---|"
    printf '%s' "$fuzz_lines"
} | bench/record.sh reliability
