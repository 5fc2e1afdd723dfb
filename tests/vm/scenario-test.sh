#!/bin/sh
# One guest test for ctest:
#   scenario-test.sh CACHE ARCH PROGRAM HELPER WORKDIR SCENARIO
# ARCH: arm64, arm or mips. A scenario with the line "# rig: mtd-utils"
# gets Debian's arm64 mtd-utils laid over the guest's root, or on the other
# guests the rig's UBI tools in mtd-utils' form (ubi-tools/).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=$1 arch=$2 program=$3 helper=$4 work=$5 scenario=$6
kernel=$("$here/build-kernel.sh" "$cache" "$arch")
busybox=$("$here/fetch-busybox.sh" "$cache" "$arch")
set -- --arch "$arch" --kernel "$kernel" --busybox "$busybox" --program "$program" --helper "$helper" \
    --work "$work" "$scenario"
if grep -q '^# rig: mtd-utils$' "$scenario"; then
    case "$arch" in
    arm64) set -- "$@" --overlay "$("$here/fetch-mtd-utils.sh" "$cache")" ;;
    *) set -- "$@" --overlay "$here/ubi-tools" ;;
    esac
fi
exec "$here/run-scenario.sh" "$@"
