#include "stage2/ramfs.h"

#include "base/log.h"
#include "base/options.h"
#include "base/paths.h"
#include "base/text.h"

#include <errno.h>
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
    "/tmp/root/mnt", "/tmp/root/proc", "/tmp/root/sys", "/tmp/root/dev", "/tmp/root/tmp",
};

struct MountMove {
    const char *source;
    const char *target;
};

// Carried from under the old root into the new one after the pivot. Each
// move takes everything mounted beneath it along.
constexpr MountMove moves_after_pivot[] = {
    {"/mnt/sys", "/sys"},
    {"/mnt/dev", "/dev"},
    {"/mnt/tmp", "/tmp"},
};

void drop_caches_if_diag() {
    if (access(paths::diag_script, F_OK) != 0)
        return;
    FILE *file = fopen(paths::drop_caches, "w");
    if (file == nullptr)
        return;
    (void)fputc('3', file);
    (void)fclose(file);
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
        print_to(stderr, "pivot_root: %s\n", strerror(errno));
        (void)umount2(paths::ram_root, MNT_DETACH);
        fatal("pivot_root failed");
    }
    if (chdir("/") < 0)
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
