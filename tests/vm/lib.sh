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

# check_not DESC COMMAND...: passes when the command fails.
check_not() {
    desc=$1
    shift
    if "$@"; then not_ok "$desc"; else ok "$desc"; fi
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

# A run that restarted inside its namespaces (see in_ns).
RESTARTED=129

# in_ns SCRIPT ARGS...: runs the shell script SCRIPT, with ARGS as its "$@",
# as the first process of fresh mount and PID namespaces, so that a root
# switch and a restart end only that namespace (a restart shows as status
# $RESTARTED, SIGHUP). Status in RF_RC. The read-only remount of the old
# root reaches the guest's root too: it is made writable again afterwards.
in_ns() {
    script=$1
    shift
    unshare -m -p -f sh -c "$script" ns "$@"
    RF_RC=$?
    mount -o remount,rw /
}

# ns_rf ARGS...: the program in fresh namespaces (in_ns); its own output
# goes to /tmp/rf.out and /tmp/rf.err, the shell's elsewhere.
ns_rf() { in_ns 'exec reflasher "$@" >/tmp/rf.out 2>/tmp/rf.err' "$@" 2>/tmp/ns.err; }

# stage2_run DESC STATUS STDERR ARGS...: stage two with ARGS in fresh
# namespaces; checks its exit status and its standard error without the
# progress echoes.
stage2_run() {
    desc=$1 status=$2 err=$3
    shift 3
    ns_rf --stage2 "$@"
    expect_eq "$desc: exit status" "$status" "$RF_RC"
    err_without_progress >/tmp/got
    expect_file "$desc: messages" /tmp/got "$err"
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

. /rig/pattern.sh

# ff_bytes N: N bytes of 0xFF.
ff_bytes() { repeat_byte 255 "$1"; }

# same_bytes DESC FILE-A FILE-B
same_bytes() { check "$1" cmp -s "$2" "$3"; }

rig_finish() { echo "RIG-END passed=$RIG_PASS failed=$RIG_FAIL"; }

# errtext N: the C library's text for error number N, as the program sees it.
errtext() { rig_helper strerror "$1"; }

# stage2_pid: the process id of a running stage two, if any.
stage2_pid() {
    for p in /proc/[0-9]*; do
        case "$(tr '\000' ' ' <"$p/cmdline" 2>/dev/null)" in
        /tmp/root/sbin/reflasher\ --stage2*) echo "${p#/proc/}"; return ;;
        esac
    done
}

# Standard error without the progress echoes.
err_without_progress() { grep -v '^upgrade: ' /tmp/rf.err; }

# The progress echoes of a complete stage-two run on partition $2 with image $1.
stage2_progress() {
    cat <<END
upgrade: Stage2 started: image=$1 part=$2
upgrade: ramfs: bind-mounting /tmp/root
upgrade: ramfs: creating pivot directories
upgrade: ramfs: moving /proc
upgrade: ramfs: pivot_root /tmp/root -> /tmp/root/mnt
upgrade: ramfs: moving /sys, /dev, /tmp
upgrade: ramfs: remounting old root read-only
upgrade: ramfs: detaching old root
upgrade: ramfs: switch complete
upgrade: Performing system upgrade...
upgrade: Writing $1 to mtd partition '$2'
END
}

# fill_nand_block NAME N VALUE: writes block N of an erased NAND partition
# with the byte VALUE (decimal), so that an erase would show.
fill_nand_block() {
    repeat_byte "$3" "$EB_NAND" | dd of="$(mtd_dev "$1")" bs="$EB_NAND" seek="$2" conv=notrunc 2>/dev/null
}

# Clears what earlier runs left in /tmp.
reset_tmp() { rm -rf /tmp/root /tmp/reflasher.img /tmp/reflasher.log; }

# absent DESC PATH
absent() { if [ -e "$2" ] || [ -L "$2" ]; then not_ok "$1"; else ok "$1"; fi; }

# mode_of PATH: permission bits in octal.
mode_of() { stat -c %a "$1"; }
