#include "stage1/stage_one.h"

#include "base/log.h"
#include "base/meminfo.h"
#include "base/mountinfo.h"
#include "base/options.h"
#include "base/paths.h"
#include "base/process.h"
#include "base/text.h"
#include "image/image_format.h"
#include "mtd/claim.h"
#include "mtd/guard.h"
#include "mtd/mtd_device.h"
#include "mtd/mtd_table.h"
#include "mtd/stored.h"
#include "stage1/file_ops.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <mtd/mtd-user.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t verbosity_text_size = 8;

// What is stored on the partition being written: found before anything is
// staged, made read-only right before the exec into stage two.
Stored stored;

bool under_tmp(const char *resolved) { return strncmp(resolved, paths::tmp_prefix, strlen(paths::tmp_prefix)) == 0; }

// Settles where the image lies: in place under /tmp/, else copied there.
const char *stage_image(const char *resolved) {
    if (under_tmp(resolved))
        return resolved;
    log_progress("Image not in /tmp, copying to %s", paths::staged_image);
    if (copy_file(resolved, paths::staged_image, 0644) < 0)
        fatal("cannot copy image to tmpfs");
    return paths::staged_image;
}

// The bytes in the good blocks of a NAND partition, counted until enough
// for the image are found; -1 when the device cannot be opened or queried,
// or is not NAND. *erase_size is the partition's erase-block size, 0 when
// unknown.
long long good_capacity_of(int index, long long image_size, int32_t *erase_size) {
    *erase_size = 0;
    const int dev = open_mtd_index(index, O_RDONLY | O_CLOEXEC);
    if (dev < 0)
        return -1;
    MtdGeometry geo{};
    int64_t good = -1;
    int64_t failed_at = 0;
    if (read_geometry(dev, &geo) == 0 && geo.erase_size > 0) {
        *erase_size = geo.erase_size;
        if (is_nand_type(geo.type))
            good = good_capacity(dev, geo, 0, image_size, &failed_at);
    }
    (void)close(dev);
    return good;
}

// When /tmp is a directory of the root file system, the staged image and
// program would go with the old root at the switch, and the device would
// be stranded on the RAM tree. An initramfs root is not switched.
void require_tmp_mount() {
    // Without the mount table (-1) nothing can be told, and stage two could
    // not switch the root anyway.
    char fstype[32];
    if (find_mount_in(paths::mountinfo, paths::tmp_dir, fstype, sizeof fstype) != 0 ||
        root_is_initial_rootfs(paths::mountinfo))
        return;
    print_to(stderr, "%s is not a mount of its own: what is staged there would be lost with the old root\n",
             paths::tmp_dir);
    fatal("cannot stage into %s", paths::tmp_dir);
}

bool is_regular_file(const char *path) {
    struct stat st {};
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode);
}

[[noreturn]] void refuse_staging_dir(const char *path) { fatal("unsafe staging directory %s", path); }

// Once stage two has switched the root, a failure strands the device on
// the RAM tree: the partition is opened here exactly as the writer will
// open it, and a partition that could not be written is refused before
// anything is staged. No option lifts this.
void preflight_device(const char *part_name) {
    const int dev = open_mtd_by_name(part_name);
    if (dev < 0) {
        print_to(stderr, "mtd: cannot open %s for writing: %s\n", part_name, strerror(errno));
        fatal("cannot write to '%s'", part_name);
    }
    MtdGeometry geo{};
    bool writable = false;
    if (read_geometry(dev, &geo) != 0) {
        print_to(stderr, "mtd: cannot read the geometry of %s: %s\n", part_name, strerror(errno));
    } else if (erase_size_usable(geo, part_name)) {
        writable = (geo.flags & MTD_WRITEABLE) != 0;
        if (!writable)
            print_to(stderr, "mtd: %s is read-only (its MTD_WRITEABLE flag is clear)\n", part_name);
    }
    (void)close(dev);
    if (!writable)
        fatal("cannot write to '%s'", part_name);
}

[[noreturn]] void stage_self_and_exec(const char *staged_path) {
    check_protected(run_options.part_name);
    preflight_device(run_options.part_name);
    log_progress("Commencing upgrade. Closing all shell sessions.");

    make_staging_dirs();

    log_progress("Staging self into %s", paths::staged_program);
    if (copy_file(paths::self_exe, paths::staged_program, 0755) < 0)
        fatal("cannot stage self into tmpfs");

    char verbosity_text[verbosity_text_size];
    if (format_string(verbosity_text, sizeof verbosity_text, "%d", run_options.verbosity) < 0)
        verbosity_text[0] = '\0';

    const char *argv[] = {
        paths::staged_program, "--stage2",     "--part",    run_options.part_name,
        "--verbose",           verbosity_text, staged_path, nullptr,
    };
    // From here on no signal of a terminal, a session or a service manager
    // may end the run (nor the end of a writer below): the ignored
    // dispositions carry over into stage two.
    ignore_terminating_signals();
    // Nothing stored on the flash may write into the new firmware. Last of
    // all, so that only the exec can still fail after it, and puts back.
    if (make_stored_read_only(system_stored_paths, &stored) < 0)
        refuse_stored(run_options.part_name);
    log_progress("Re-exec into tmpfs copy");
    execv(paths::staged_program, const_cast<char *const *>(argv));
    const int error = errno;
    restore_stored(&stored);
    fatal("execv %s failed: %s", paths::staged_program, strerror(error));
}

} // namespace

int check_staging_dir(const char *path) {
    struct stat st {};
    if (lstat(path, &st) < 0) {
        print_to(stderr, "%s: %s\n", path, strerror(errno));
        return -1;
    }
    if (S_ISLNK(st.st_mode)) {
        print_to(stderr, "%s: is a symbolic link\n", path);
        return -1;
    }
    if (!S_ISDIR(st.st_mode)) {
        print_to(stderr, "%s: not a directory\n", path);
        return -1;
    }
    if (st.st_uid != geteuid()) {
        print_to(stderr, "%s: owned by uid %u, not by uid %u\n", path, static_cast<unsigned>(st.st_uid),
                 static_cast<unsigned>(geteuid()));
        return -1;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        print_to(stderr, "%s: writable by group or others (mode %04o)\n", path,
                 static_cast<unsigned>(st.st_mode & 07777));
        return -1;
    }
    return 0;
}

void make_staging_dirs() {
    // Each directory is checked before anything is made inside it: a link
    // planted at /tmp/root would make the next mkdir land elsewhere, and
    // another user who controls either directory could swap the program
    // between the copy and the exec. A regular file at /tmp/root fails as
    // the mkdir of sbin inside it would, without that mkdir.
    if (make_dirs(paths::ram_root) < 0)
        fatal("mkdir %s failed", paths::ram_root);
    if (is_regular_file(paths::ram_root))
        fatal("mkdir %s/sbin failed", paths::ram_root);
    if (check_staging_dir(paths::ram_root) < 0)
        refuse_staging_dir(paths::ram_root);
    if (make_dirs(paths::ram_sbin) < 0)
        fatal("mkdir %s/sbin failed", paths::ram_root);
    if (check_staging_dir(paths::ram_sbin) < 0)
        refuse_staging_dir(paths::ram_sbin);
}

int check_staging_room_in(const char *meminfo, long long image_bytes, long long program_bytes) {
    const long long available = mem_available_in(meminfo);
    const long long needed = image_bytes + program_bytes + staging_margin;
    if (available < 0 || needed <= available)
        return 0;
    print_to(stderr, "staging needs %lld bytes of memory (image, program copy and margin), %lld are available\n",
             needed, available);
    return -1;
}

int check_image(const char *staged_path, bool *signed_ok) {
    *signed_ok = false;
    struct stat st {};
    if (stat(staged_path, &st) < 0 || (st.st_mode & S_IFMT) != S_IFREG) {
        print_to(stderr, "'%s' is not a regular file\n", staged_path);
        return -1;
    }
    const long long image_size = st.st_size;
    if (image_size <= 0) {
        fputs("image is empty\n", stderr);
        return -1;
    }
    int index = -1;
    long long part_size = -1;
    if (find_mtd_partition(run_options.part_name, &index, &part_size) < 0) {
        print_to(stderr, "cannot find mtd partition '%s'\n", run_options.part_name);
        return -1;
    }
    if (image_size > part_size) {
        print_to(stderr, "image is %lld bytes, '%s' holds only %lld bytes\n", image_size, run_options.part_name,
                 part_size);
        return -1;
    }
    int32_t erase_size = 0;
    const long long good = good_capacity_of(index, image_size, &erase_size);
    if (good >= 0 && image_size > good) {
        print_to(stderr, "image is %lld bytes, '%s' holds only %lld bytes in good blocks\n", image_size,
                 run_options.part_name, good);
        return -1;
    }
    return check_image_format_with(staged_path, image_size, erase_size, built_in_fit_keys, signed_ok);
}

int stage_one(const char *image_path) {
    char resolved[PATH_MAX];
    if (resolve_path(image_path, resolved) < 0)
        fatal("image not found: %s", image_path);
    // Before anything in /tmp changes: the copy would replace the image
    // that a running upgrade is writing.
    claim_or_refuse(run_options.part_name, false);
    // Before the copy: both copies take memory that no process owns.
    struct stat image {};
    struct stat self {};
    const long long image_bytes = !under_tmp(resolved) && stat(resolved, &image) == 0 ? image.st_size : 0;
    const long long program_bytes = stat(paths::self_exe, &self) == 0 ? self.st_size : 0;
    if (check_staging_room_in(paths::meminfo, image_bytes, program_bytes) < 0)
        fatal("not enough memory to stage the image");
    // What no remount can stop from writing to the flash is refused before
    // the copy; -F does not lift it.
    check_stored(run_options.part_name, &stored, true);

    const char *staged_path = stage_image(resolved);

    bool signed_ok = false;
    const int checked = check_image(staged_path, &signed_ok);
    // With the bootloader's keys built in, -F does not lift the check: an
    // image the device would refuse to boot is never written.
    if (built_in_fit_keys.count > 0 && !signed_ok)
        fatal("image check failed: not a FIT signed by this device's keys (-F does not override this)");
    if (checked < 0) {
        if (!run_options.force)
            fatal("image check failed (use -F to override)");
        fputs("Image check failed but --force given - will update anyway!\n", stderr);
    }

    if (run_options.test_only) {
        puts("Image check passed.");
        return 0;
    }
    require_tmp_mount();
    stage_self_and_exec(staged_path);
}
