# Helpers for the host-side checks of guest scenarios (bash).
source "$(dirname "${BASH_SOURCE[0]}")/pattern.sh"

# expect_disk_image DISK IMAGE ERASESIZE BLOCKS: the disk starts with the
# image, padded with 0xFF to a whole erase block; every later block still
# holds the rig's pattern (block i filled with 0x10 + i).
expect_disk_image() {
    local disk=$1 image=$2 es=$3 total=$4
    local size blocks padded
    size=$(stat -c %s "$image")
    blocks=$(((size + es - 1) / es))
    padded=$((blocks * es))
    if cmp -s -n "$size" "$disk" "$image"; then
        echo "ok - disk holds the image byte for byte"
    else
        echo "not ok - disk holds the image byte for byte"
    fi
    if tail -c +$((size + 1)) "$disk" | head -c $((padded - size)) | cmp -s - <(repeat_byte 255 $((padded - size))); then
        echo "ok - last block filled with 0xFF"
    else
        echo "not ok - last block filled with 0xFF"
    fi
    local expected
    expected=$(mktemp)
    for ((i = blocks; i < total; i++)); do pattern_block "$i"; done >"$expected"
    if tail -c +$((padded + 1)) "$disk" | cmp -s - "$expected"; then
        echo "ok - blocks past the image keep their old contents"
    else
        echo "not ok - blocks past the image keep their old contents"
    fi
    rm -f "$expected"
}

# expect_console_order CONSOLE LINE...: the lines appear whole, in order.
expect_console_order() {
    local console=$1 from=1 n
    shift
    for line in "$@"; do
        n=$(tail -n +"$from" "$console" | grep -n -x -F -- "$line" | head -n 1 | cut -d: -f1)
        if [ -z "$n" ]; then
            echo "not ok - console shows, in order: $line"
            return
        fi
        from=$((from + n))
    done
    echo "ok - console shows the ${#} lines in order"
}

# expect_console_lacks CONSOLE LINE
expect_console_lacks() {
    if grep -q -x -F -- "$2" "$1"; then echo "not ok - console lacks: $2"; else echo "ok - console lacks: $2"; fi
}

# expect_cut_state DISK IMAGE ERASESIZE BLOCKS: the first block holds the
# new image's first chunk only when every other block of the image does
# too. Until then it is old (nothing begun yet) or in between (erased, or
# being written last), and the blocks after it are new, then at most one
# in between, then old (the rig's pattern) up to the end.
expect_cut_state() {
    local disk=$1 image=$2 es=$3 total=$4
    local size blocks i off state states=""
    size=$(stat -c %s "$image")
    blocks=$(((size + es - 1) / es))
    local padded old_disk
    padded=$(mktemp)
    old_disk=$(mktemp)
    { cat "$image"; repeat_byte 255 $((blocks * es - size)); } >"$padded"
    "$(dirname "${BASH_SOURCE[0]}")/pattern-disk.sh" "$old_disk" "$total"
    for ((i = 0; i < total; i++)); do
        off=$((i * es))
        if [ "$i" -lt "$blocks" ] && cmp -s -i "$off:$off" -n "$es" "$disk" "$padded"; then
            state=N
        elif cmp -s -i "$off:$off" -n "$es" "$disk" "$old_disk"; then
            state=O
        else
            state=X
        fi
        states+=$state
    done
    rm -f "$padded" "$old_disk"
    echo "# blocks: $states (N new, X in between, O old)"
    local complete
    complete=$(printf "%${blocks}s" "" | tr ' ' N)
    if [[ $states =~ ^($complete(O*)|O+|X(N*)X?O*)$ ]]; then
        echo "ok - the first block is new only with every other block new ($states)"
    else
        echo "not ok - block states break the first-block-last order: $states"
    fi
}
