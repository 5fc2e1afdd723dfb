#!/bin/sh
# Builds the guest kernel and fetches busybox into the cache (once).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/build-kernel.sh" "$1"
"$here/fetch-busybox.sh" "$1"
