#!/bin/sh
# Builds the guest kernel and fetches busybox into the cache (once).
#   prepare.sh CACHE_DIR [ARCH [FLAVOUR]]    ARCH: arm64 (default) or arm
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/build-kernel.sh" "$1" "${2:-arm64}" "${3:-}"
"$here/fetch-busybox.sh" "$1" "${2:-arm64}"
