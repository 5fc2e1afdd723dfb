#!/bin/sh
# scenario-test.sh CACHE PROGRAM HELPER WORKDIR SCENARIO: one guest test for ctest.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
kernel=$("$here/build-kernel.sh" "$1")
busybox=$("$here/fetch-busybox.sh" "$1")
exec "$here/run-scenario.sh" --kernel "$kernel" --busybox "$busybox" --program "$2" --helper "$3" \
    --work "$4" "$5"
