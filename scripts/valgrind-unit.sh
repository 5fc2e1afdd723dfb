#!/bin/bash
# Runs every unit test binary of a build under valgrind memcheck: no errors
# and no leaks allowed.
#   scripts/valgrind-unit.sh [BUILD_DIR]    (default build/host)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/host}
vg=(valgrind --quiet --vgdb=no --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect
    --show-leak-kinds=definite,indirect --suppressions=tests/unit/valgrind.supp)
status=0
runs=0
for bin in "$build"/tests/unit/unit_*; do
    [ -x "$bin" ] || continue
    name=$(basename "$bin")
    if [ "$name" = unit_reboot ]; then
        tests/unit/contained.sh "${vg[@]}" "$bin" --gtest_brief=1 >"$build/valgrind-$name.log" 2>&1
    else
        "${vg[@]}" "$bin" --gtest_brief=1 >"$build/valgrind-$name.log" 2>&1
    fi
    rc=$?
    runs=$((runs + 1))
    if [ "$rc" -eq 0 ]; then
        echo "ok - $name under valgrind"
    else
        echo "not ok - $name under valgrind (status $rc)"
        tail -n 30 "$build/valgrind-$name.log"
        status=1
    fi
done
[ "$runs" -gt 0 ] || { echo "no unit test binaries in $build"; exit 1; }
exit $status
