#!/bin/sh
# Fails when the program needs a shared library other than the C library
# (and the dynamic loader).
set -eu
needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "NEEDED: $needed"
for lib in $needed; do
    case "$lib" in
    libc.so.*|ld-linux*) ;;
    *) echo "unexpected run-time dependency: $lib" >&2; exit 1 ;;
    esac
done
