#!/bin/bash
# What the big-endian MIPS guest adds to the test command on this machine:
# its kernel and busybox built from an empty cache, and its scenarios and
# power cuts run (ctest -R vm_mips, two at a time as the test command runs
# them). Records the figures in bench/RESULTS.md.
#   bench/mips-guest-cost.sh      (after scripts/test.sh has built build/host)
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/host/CTestTestfile.cmake ] || { echo "build/host is missing: run scripts/test.sh first" >&2; exit 1; }
cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT
seconds() { local t0=$SECONDS; "$@" >/dev/null 2>&1; echo $((SECONDS - t0)); }
kernel=$(seconds tests/vm/build-kernel.sh "$cache" mips)
busybox=$(seconds tests/vm/fetch-busybox.sh "$cache" mips)
t0=$SECONDS
ctest --test-dir build/host -R vm_mips -j2 >"$cache/ctest.log" 2>&1 || { cat "$cache/ctest.log"; exit 1; }
runs=$((SECONDS - t0))
scenarios=$(grep -c 'Test *#.*vm_mips_' "$cache/ctest.log")
{
    echo "## What the MIPS guest adds"
    echo
    echo "$(date -u +%Y-%m-%d), \`bench/mips-guest-cost.sh\`, revision $(git rev-parse --short HEAD), $(nproc) cores:"
    echo
    echo "| step | seconds |"
    echo "|---|---|"
    echo "| kernel (malta_defconfig, 16 KiB pages), built once per machine | $kernel |"
    echo "| busybox from Debian's source, built once per machine | $busybox |"
    echo "| $scenarios tests (\`ctest -R vm_mips -j2\`: the scenarios and 5 power cuts) | $runs |"
    echo "| in all | $((kernel + busybox + runs)) |"
} | tee /dev/stderr | bench/record.sh mips-guest-cost
