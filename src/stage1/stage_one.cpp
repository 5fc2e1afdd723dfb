#include "stage1/stage_one.h"

#include "base/log.h"
#include "base/options.h"
#include "base/paths.h"
#include "base/text.h"
#include "stage1/file_ops.h"
#include "mtd/mtd_table.h"
#include "mtd/guard.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t verbosity_text_size = 8;

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

bool is_symlink(const char *path) {
    struct stat st {};
    return lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

[[noreturn]] void refuse_staging_dir(const char *path) { fatal("unsafe staging directory %s", path); }

[[noreturn]] void stage_self_and_exec(const char *staged_path) {
    check_protected(run_options.part_name);
    log_progress("Commencing upgrade. Closing all shell sessions.");

    if (make_dirs(paths::ram_root) < 0)
        fatal("mkdir %s failed", paths::ram_root);
    // A link planted at /tmp/root would make the next mkdir land elsewhere.
    if (is_symlink(paths::ram_root)) {
        print_to(stderr, "%s: is a symbolic link\n", paths::ram_root);
        refuse_staging_dir(paths::ram_root);
    }
    if (make_dirs(paths::ram_sbin) < 0)
        fatal("mkdir %s/sbin failed", paths::ram_root);
    // Another user who controls either directory could swap the program
    // between the copy and the exec.
    if (check_staging_dir(paths::ram_root) < 0)
        refuse_staging_dir(paths::ram_root);
    if (check_staging_dir(paths::ram_sbin) < 0)
        refuse_staging_dir(paths::ram_sbin);

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
    log_progress("Re-exec into tmpfs copy");
    execv(paths::staged_program, const_cast<char *const *>(argv));
    fatal("execv %s failed: %s", paths::staged_program, strerror(errno));
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

int check_image(const char *staged_path) {
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
    return 0;
}

int stage_one(const char *image_path) {
    char resolved[PATH_MAX];
    if (realpath(image_path, resolved) == nullptr)
        fatal("image not found: %s", image_path);

    const char *staged_path = stage_image(resolved);

    if (check_image(staged_path) < 0) {
        if (!run_options.force)
            fatal("image check failed (use -F to override)");
        fputs("Image check failed but --force given - will update anyway!\n", stderr);
    }

    if (run_options.test_only) {
        puts("Image check passed.");
        return 0;
    }
    stage_self_and_exec(staged_path);
}
