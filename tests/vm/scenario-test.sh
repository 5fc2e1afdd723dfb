#!/bin/sh
# scenario-test.sh CACHE PROGRAM HELPER WORKDIR SCENARIO: one guest test for ctest.
# A scenario with the line "# rig: mtd-utils" gets Debian's arm64 mtd-utils
# laid over the guest's root.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
kernel=$("$here/build-kernel.sh" "$1")
busybox=$("$here/fetch-busybox.sh" "$1")
if grep -q '^# rig: mtd-utils$' "$5"; then
    overlay=$("$here/fetch-mtd-utils.sh" "$1")
    exec "$here/run-scenario.sh" --kernel "$kernel" --busybox "$busybox" --program "$2" --helper "$3" \
        --work "$4" --overlay "$overlay" "$5"
fi
exec "$here/run-scenario.sh" --kernel "$kernel" --busybox "$busybox" --program "$2" --helper "$3" \
    --work "$4" "$5"
