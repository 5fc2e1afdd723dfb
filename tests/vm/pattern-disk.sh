#!/bin/bash
# pattern-disk.sh FILE BLOCKS: a disk of BLOCKS 64 KiB blocks in the rig's
# pattern.
set -eu
source "$(dirname "$0")/pattern.sh"
for ((i = 0; i < $2; i++)); do pattern_block "$i"; done >"$1"
