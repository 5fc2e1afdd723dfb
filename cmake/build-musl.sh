#!/bin/bash
# Builds musl for a target that Debian ships no musl for, from Debian's own
# musl source package, with Debian's cross compiler TRIPLET-gcc; once per
# cache directory. Prints the install prefix, which holds include/, lib/
# and bin/musl-gcc (a wrapper around TRIPLET-gcc, as Debian's musl-tools
# has for the native target).
#   cmake/build-musl.sh CACHE_DIR TRIPLET
set -euo pipefail
cache=$1 triplet=$2
dir=$cache/musl-$triplet
if [ -f "$dir/.complete" ]; then echo "$dir"; exit 0; fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$(dirname "$0")/../scripts/debian-source.sh" musl "$tmp" >&2
tar -C "$tmp" -xzf "$tmp"/musl_*.orig.tar.gz
src=$(find "$tmp" -maxdepth 1 -type d -name 'musl-*' | head -n 1)
rm -rf "$dir"
# Its output goes to a log, shown only when the build fails.
(cd "$src" && ./configure --target="$triplet" CROSS_COMPILE="$triplet-" --prefix="$dir" --disable-shared \
    --enable-wrapper=gcc && make -j"$(nproc)" && make install) >"$tmp/build.log" 2>&1 ||
    { tail -n 40 "$tmp/build.log" >&2; exit 1; }
touch "$dir/.complete"
echo "$dir"
