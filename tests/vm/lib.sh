# Helpers for the scenarios that run inside the guest (busybox sh).
# Each check prints "ok - ..." or "not ok - ..."; rig_finish prints the
# totals that the host reads.

RIG_PASS=0
RIG_FAIL=0

ok() { RIG_PASS=$((RIG_PASS + 1)); echo "ok - $*"; }
not_ok() { RIG_FAIL=$((RIG_FAIL + 1)); echo "not ok - $*"; }

# check DESC COMMAND...: passes when the command succeeds.
check() {
    desc=$1
    shift
    if "$@"; then ok "$desc"; else not_ok "$desc"; fi
}

# expect_eq DESC EXPECTED ACTUAL
expect_eq() {
    if [ "$2" = "$3" ]; then
        ok "$1"
    else
        not_ok "$1"
        echo "#   expected: [$2]"
        echo "#   actual:   [$3]"
    fi
}

# expect_file DESC FILE EXPECTED-CONTENT (exact bytes; the expected text
# gets no trailing newline added)
expect_file() {
    printf '%s' "$3" >/tmp/.rig_expected
    if cmp -s /tmp/.rig_expected "$2"; then
        ok "$1"
    else
        not_ok "$1"
        echo "#   expected:"; sed 's/^/#     /' /tmp/.rig_expected
        echo "#   actual:"; sed 's/^/#     /' "$2"
    fi
}

# run_rf ARGS...: runs the program; stdout in /tmp/rf.out, stderr in
# /tmp/rf.err, exit status in RF_RC.
run_rf() {
    reflasher "$@" >/tmp/rf.out 2>/tmp/rf.err
    RF_RC=$?
}

# run_ns COMMAND...: runs a command in mount and PID namespaces of its own,
# so its root switch and restart end only that namespace. Output as run_rf.
run_ns() {
    unshare -m -p -f "$@" >/tmp/rf.out 2>/tmp/rf.err
    RF_RC=$?
    # Its read-only remount of the old root changes the guest's root too.
    mount -o remount,rw / 2>/dev/null
}

# mtd_index NAME: index of the first partition with that name.
mtd_index() { sed -n "s/^mtd\([0-9]*\):.*\"$1\"\$/\1/p" /proc/mtd | head -n 1; }
mtd_dev() { echo "/dev/mtd$(mtd_index "$1")"; }
mtd_size() { cat "/sys/class/mtd/mtd$(mtd_index "$1")/size"; }

# read_blocks NAME FIRST COUNT: bytes of erase blocks FIRST.. of a partition.
read_blocks() {
    i=$(mtd_index "$1")
    es=$(cat "/sys/class/mtd/mtd$i/erasesize")
    dd if="/dev/mtd$i" bs="$es" skip="$2" count="$3" 2>/dev/null
}

# make_image FILE SIZE: random bytes.
make_image() { head -c "$2" /dev/urandom >"$1"; }

# ff_bytes N: N bytes of 0xFF.
ff_bytes() { head -c "$1" /dev/zero | tr '\000' '\377'; }

# same_bytes DESC FILE-A FILE-B
same_bytes() { check "$1" cmp -s "$2" "$3"; }

rig_finish() { echo "RIG-END passed=$RIG_PASS failed=$RIG_FAIL"; }
