#!/bin/bash
# pattern-disk.sh FILE BLOCKS: a disk of BLOCKS 64 KiB blocks, block i
# filled with the byte 0x10 + i (mod 256).
set -eu
: >"$1"
for ((i = 0; i < $2; i++)); do
    head -c 65536 /dev/zero | tr '\0' "\\$(printf '%03o' $(((0x10 + i) % 256)))" >>"$1"
done
