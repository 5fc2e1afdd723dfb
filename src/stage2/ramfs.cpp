#include "stage2/ramfs.h"

#include "base/log.h"
#include "base/mountinfo.h"
#include "base/options.h"
#include "base/paths.h"
#include "base/text.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Directories of the RAM tree that the pivot and the moves need.
constexpr const char *pivot_dirs[] = {
    paths::ram_put_old, paths::ram_proc, paths::ram_sys, paths::ram_dev, paths::ram_tmp,
};

struct MountMove {
    const char *source;
    const char *target;
};

// Carried from under the old root into the new one after the pivot. Each
// move takes everything mounted beneath it along.
constexpr MountMove moves_after_pivot[] = {
    {paths::old_sys, paths::sys},
    {paths::old_dev, paths::dev_dir},
    {paths::old_tmp, paths::tmp_dir},
};

void drop_caches_if_diag() {
    if (access(paths::diag_script, F_OK) != 0)
        return;
    const int fd = open(paths::drop_caches, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return;
    // Nothing to do when it fails: dropping the caches only helps.
    if (write(fd, "3", 1) != 1)
        errno = 0;
    (void)close(fd);
}

} // namespace

int do_mount(const char *source, const char *target, unsigned long flags) {
    if (mount(source, target, nullptr, flags, nullptr) == 0)
        return 0;
    const int saved_errno = errno;
    print_to(stderr, "mount %s -> %s: %s\n", source, target, strerror(saved_errno));
    errno = saved_errno;
    return -1;
}

void switch_to_ramfs(const char *image_path) {
    log_progress("Stage2 started: image=%s part=%s", image_path, run_options.part_name);
    (void)mlockall(MCL_CURRENT | MCL_FUTURE);
    drop_caches_if_diag();

    log_progress("ramfs: bind-mounting %s", paths::ram_root);
    // With shared propagation (every mount on systemd-based systems) the
    // kernel refuses the moves and the pivot below. The device restarts
    // right after the write, so nothing relies on the propagation any more.
    // A failure shows in the steps that follow.
    (void)mount(nullptr, paths::root, nullptr, MS_REC | MS_PRIVATE, nullptr);
    if (do_mount(paths::ram_root, paths::ram_root, MS_BIND) < 0)
        fatal("bind mount failed");

    log_progress("ramfs: creating pivot directories");
    for (const char *dir : pivot_dirs)
        (void)mkdir(dir, 0755);

    log_progress("ramfs: moving /proc");
    if (do_mount(paths::proc, paths::ram_proc, MS_MOVE) < 0)
        fatal("move /proc failed");

    log_progress("ramfs: pivot_root %s -> %s/mnt", paths::ram_root, paths::ram_root);
    if (syscall(SYS_pivot_root, paths::ram_root, paths::ram_put_old) < 0) {
        const int error = errno;
        // An initramfs root cannot be pivoted, and needs no switch: nothing
        // on flash is mounted as the root.
        const bool initramfs = root_is_initial_rootfs(paths::ram_mountinfo);
        if (!initramfs)
            print_to(stderr, "pivot_root: %s\n", strerror(error));
        // The detach below would take /proc with it, from the whole system.
        (void)do_mount(paths::ram_proc, paths::proc, MS_MOVE);
        (void)umount2(paths::ram_root, MNT_DETACH);
        if (!initramfs)
            fatal("pivot_root failed");
        log_progress("ramfs: root is the initramfs, already in RAM: it stays");
        return;
    }
    if (chdir(paths::root) < 0)
        fatal("chdir / failed");

    // Until /tmp is moved across, this line lands in the new root's own
    // /tmp directory, which the moved mount then covers.
    log_progress("ramfs: moving /sys, /dev, /tmp");
    for (const MountMove &move : moves_after_pivot)
        (void)do_mount(move.source, move.target, MS_MOVE);

    log_progress("ramfs: remounting old root read-only");
    (void)mount(nullptr, paths::old_root, nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
    log_progress("ramfs: detaching old root");
    (void)umount2(paths::old_root, MNT_DETACH);
    log_progress("ramfs: switch complete");
}
