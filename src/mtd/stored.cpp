#include "mtd/stored.h"

#include "base/lines.h"
#include "base/log.h"
#include "base/mountinfo.h"
#include "base/options.h"
#include "base/text.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

namespace {

// JFFS2 takes its device number from the MTD device it is mounted from, as
// an mtdblock device has it: major 31, minor the MTD index.
constexpr unsigned mtd_block_major = 31;
// Remounts refused by open files: each try ends the writers found, then
// waits 10 ms for them to go; about 5 s in all.
constexpr int remount_tries = 500;

// The per-mount flags that a remount clears unless it passes them. statfs
// gives them (f_flags, since Linux 2.6.36) with the values of the mount
// flags, but for relatime: ST_RELATIME is MS_BIND's value, which would make
// the remount one of this mount only, leaving the file system writable.
constexpr unsigned long kept_mount_flags = ST_NOSUID | ST_NODEV | ST_NOEXEC | ST_NOATIME | ST_NODIRATIME;

// The MTD indexes looked at for partitions of the same chip.
constexpr int max_mtd_index = 64;

// An MTD device's place: its sysfs class link ("../../devices/.../mtdN":
// the chip's device above it, or the whole device it is a partition of)
// and its range on the chip.
struct MtdPlace {
    char dir[PATH_MAX];
    long long offset; // -1: not given
    long long size, erase;
};

long long mtd_attr(const StoredPaths &where, int index, const char *name) {
    char path[PATH_MAX];
    (void)format_string(path, sizeof path, "%s/mtd%d/%s", where.mtd.sysfs_dir, index, name);
    return read_number_file(path);
}

bool read_place(const StoredPaths &where, int index, MtdPlace *place) {
    char link[PATH_MAX];
    (void)format_string(link, sizeof link, "%s/mtd%d", where.mtd.sysfs_dir, index);
    const ssize_t n = readlink(link, place->dir, sizeof place->dir - 1);
    if (n <= 0 || memchr(place->dir, '/', static_cast<size_t>(n)) == nullptr)
        return false;
    place->dir[n] = '\0';
    place->offset = mtd_attr(where, index, "offset");
    place->size = mtd_attr(where, index, "size");
    place->erase = mtd_attr(where, index, "erasesize");
    return true;
}

size_t parent_length(const char *dir) { return static_cast<size_t>(strrchr(dir, '/') - dir); }

// Whether `a` is the whole device that `b` is a partition of (a kernel
// that registers whole devices puts their partitions below them).
bool is_whole_of(const MtdPlace &a, const MtdPlace &b) {
    return parent_length(b.dir) == strlen(a.dir) && strncmp(a.dir, b.dir, strlen(a.dir)) == 0;
}

// Whether two MTD devices may share bytes of one chip: the same device
// above them, and ranges that overlap. Without an offset a device is a
// whole one (or its kernel gives none): it may hold any of the others.
// Devices without a parent device (the simulators) all sit under one
// directory, so there only partitions of the same erase size count as one
// chip.
bool may_overlap(const MtdPlace &a, const MtdPlace &b) {
    if (is_whole_of(a, b) || is_whole_of(b, a))
        return true;
    const size_t parent = parent_length(a.dir);
    if (parent != parent_length(b.dir) || strncmp(a.dir, b.dir, parent) != 0)
        return false;
    constexpr char no_parent[] = "/virtual/mtd";
    constexpr size_t no_parent_length = sizeof no_parent - 1;
    const bool simulated =
        parent >= no_parent_length && strncmp(a.dir + parent - no_parent_length, no_parent, no_parent_length) == 0;
    if (!simulated)
        return a.offset < 0 || b.offset < 0 || (a.offset < b.offset + b.size && b.offset < a.offset + a.size);
    return a.erase == b.erase && a.offset >= 0 && b.offset >= 0 && a.offset < b.offset + b.size &&
           b.offset < a.offset + a.size;
}

bool listed(const int *list, int count, int value) {
    for (int i = 0; i < count; i++) {
        if (list[i] == value)
            return true;
    }
    return false;
}

void add(int *list, int *count, int capacity, int value, bool *overflow) {
    if (listed(list, *count, value))
        return;
    if (*count == capacity) {
        *overflow = true;
        return;
    }
    list[(*count)++] = value;
}

void find_overlapping(const StoredPaths &where, int index, Stored *stored) {
    static MtdPlace target;
    static MtdPlace other;
    if (!read_place(where, index, &target))
        return;
    for (int i = 0; i < max_mtd_index; i++) {
        if (i != index && read_place(where, i, &other) && may_overlap(target, other))
            add(stored->mtd, &stored->mtd_count, max_stored_mtd, i, &stored->overflow);
    }
}

// The UBI device of a UBIFS source: "ubiX_Y", "ubiX:NAME", "ubiX!NAME"
// or "/dev/ubiX_Y" name UBI device X; "ubiY" and "ubi:NAME" device 0.
// -1 when the name is none of these.
int ubi_of_source(const char *source) {
    const char *p = source + (strncmp(source, "/dev/", 5) == 0 ? 5 : 0);
    if (strncmp(p, "ubi", 3) != 0)
        return -1;
    p += 3;
    int number = 0;
    const char *digits = p;
    for (; *p >= '0' && *p <= '9'; p++)
        number = number * 10 + (*p - '0');
    if (*p == ':' || (*p == '\0' && p > digits))
        return p > digits && *p == ':' ? number : 0;
    return p > digits && (*p == '_' || *p == '!') ? number : -1;
}

// The UBI device of a ubiblock device ("ubiblockX_Y"), by its number; -1
// for any other block device.
int ubi_of_block(const StoredPaths &where, unsigned major, unsigned minor) {
    char path[PATH_MAX];
    char target[PATH_MAX];
    (void)format_string(path, sizeof path, "%s/%u:%u", where.sys_dev_block, major, minor);
    const ssize_t n = readlink(path, target, sizeof target - 1);
    if (n <= 0)
        return -1;
    target[n] = '\0';
    const char *name = strrchr(target, '/');
    name = name != nullptr ? name + 1 : target;
    return strncmp(name, "ubiblock", 8) == 0 ? parse_atoi(name + 8) : -1;
}

// Where option `name` of a comma-separated list ends, or nullptr when it is
// not listed. A name ending in '=' is matched with any value after it.
const char *find_option(const char *options, const char *name) {
    const size_t length = strlen(name);
    const bool valued = name[length - 1] == '=';
    for (const char *p = options;; p++) {
        if (strncmp(p, name, length) == 0 && (valued || p[length] == ',' || p[length] == '\0'))
            return p + length;
        p = strchr(p, ',');
        if (p == nullptr)
            return nullptr;
    }
}

// Whether an overlay writes into the flash: its upper directory lies on
// one of its MTD devices (an upper UBIFS there is refused by itself), or
// cannot be told (its options cut, or the directory not found from here).
// One without an upper directory is read-only.
bool overlay_on_stored(const MountEntry &entry, const Stored &stored) {
    const char *upper = find_option(entry.super, "upperdir=");
    if (upper == nullptr)
        return strlen(entry.super) + 1 == sizeof entry.super;
    char dir[sizeof entry.super];
    (void)format_string(dir, sizeof dir, "%s", upper);
    *strchrnul(dir, ',') = '\0';
    struct stat st {};
    return stat(dir, &st) < 0 || (major(st.st_dev) == mtd_block_major &&
                                  listed(stored.mtd, stored.mtd_count, static_cast<int>(minor(st.st_dev))));
}

void add_mount(const MountEntry &entry, int ubi, Stored *stored) {
    if (stored->mount_count == max_stored_mounts) {
        stored->overflow = true;
        return;
    }
    StoredMount &m = stored->mounts[stored->mount_count++];
    (void)format_string(m.point, sizeof m.point, "%s", entry.point);
    (void)format_string(m.type, sizeof m.type, "%s", entry.type);
    (void)format_string(m.source, sizeof m.source, "%s", entry.source);
    m.id = entry.id;
    m.ubi = ubi;
    m.read_only = find_option(entry.super, "ro") != nullptr;
    m.made_read_only = false;
    m.flags = 0;
    struct statfs fs {};
    if (statfs(m.point, &fs) == 0) {
        const auto flags = static_cast<unsigned long>(fs.f_flags);
        m.flags = (flags & kept_mount_flags) | ((flags & ST_RELATIME) != 0 ? MS_RELATIME : 0);
    }
}

void find_mounts(const StoredPaths &where, Stored *stored) {
    LineReader file{};
    if (lines_open(file, where.mountinfo) < 0)
        return;
    MountEntry entry;
    while (next_mount(file, &entry)) {
        int ubi = -1;
        const bool ubifs = strcmp(entry.type, "ubifs") == 0;
        if (ubifs)
            ubi = ubi_of_source(entry.source);
        else if (entry.major != 0 && entry.major != mtd_block_major)
            ubi = ubi_of_block(where, entry.major, entry.minor);
        const bool on_mtd =
            entry.major == mtd_block_major && listed(stored->mtd, stored->mtd_count, static_cast<int>(entry.minor));
        // A UBIFS whose UBI device cannot be told counts when any UBI lies
        // on the flash.
        const bool on_ubi = ubifs && ubi < 0 ? stored->ubi_count > 0 : listed(stored->ubi, stored->ubi_count, ubi);
        if (on_mtd || on_ubi || (strcmp(entry.type, "overlay") == 0 && overlay_on_stored(entry, *stored)))
            add_mount(entry, !on_ubi ? -1 : ubi >= 0 ? ubi : stored->ubi[0], stored);
    }
    lines_close(file);
}

// The mount point of the stored mount that descriptor `fd` of process
// `pid` was opened through, when it is open for writing (or on a deleted
// file); else nullptr. By its fdinfo: the mount ID (a file of an overlay
// reports another device than the overlay's) and the octal open flags.
const char *written_mount(const char *proc_dir, const char *pid, const char *fd, const Stored &stored) {
    char path[PATH_MAX];
    (void)format_string(path, sizeof path, "%s/%s/fdinfo/%s", proc_dir, pid, fd);
    LineReader info{};
    if (lines_open(info, path) < 0)
        return nullptr;
    char line[64];
    unsigned flags = 0;
    unsigned mount_id = 0;
    while (lines_next(info, line, sizeof line)) {
        if (strncmp(line, "flags:", 6) == 0) {
            for (const char *p = line + 6; *p != '\0'; p++)
                flags = *p >= '0' && *p <= '7' ? flags * 8 + static_cast<unsigned>(*p - '0') : flags;
        } else if (strncmp(line, "mnt_id:", 7) == 0) {
            mount_id = static_cast<unsigned>(parse_atoi(line + 7));
        }
    }
    lines_close(info);
    for (int i = 0; i < stored.mount_count; i++) {
        if (stored.mounts[i].id != mount_id)
            continue;
        (void)format_string(path, sizeof path, "%s/%s/fd/%s", proc_dir, pid, fd);
        struct stat st {};
        const bool deleted = stat(path, &st) == 0 && st.st_nlink == 0;
        return (flags & O_ACCMODE) != O_RDONLY || deleted ? stored.mounts[i].point : nullptr;
    }
    return nullptr;
}

// Ends, with SIGKILL, each process but process 1 and this one that holds
// a file of the stored file systems open for writing, or a deleted one
// open: either keeps a remount from making it read-only.
void end_writers(const StoredPaths &where, const Stored &stored) {
    char path[PATH_MAX];
    char self[24] = "";
    (void)format_string(path, sizeof path, "%s/self", where.proc_dir);
    const ssize_t n = readlink(path, self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    static DirReader procs;
    static DirReader fds;
    if (dir_open(procs, where.proc_dir) < 0)
        return;
    for (const char *pid = dir_next(procs); pid != nullptr; pid = dir_next(procs)) {
        if (pid[0] < '1' || pid[0] > '9' || strcmp(pid, "1") == 0 || strcmp(pid, self) == 0)
            continue;
        (void)format_string(path, sizeof path, "%s/%s/fd", where.proc_dir, pid);
        if (dir_open(fds, path) < 0)
            continue;
        for (const char *fd = dir_next(fds); fd != nullptr; fd = dir_next(fds)) {
            const char *point = fd[0] == '.' ? nullptr : written_mount(where.proc_dir, pid, fd, stored);
            if (point == nullptr)
                continue;
            log_progress("Ending process %s: it holds a file on %s open", pid, point);
            (void)kill(parse_atoi(pid), SIGKILL);
            break;
        }
        dir_close(fds);
    }
    dir_close(procs);
}

} // namespace

int ubi_attached_mtd(const char *sysfs_ubi_dir, int ubi) {
    char path[PATH_MAX];
    (void)format_string(path, sizeof path, "%s/ubi%d/mtd_num", sysfs_ubi_dir, ubi);
    return static_cast<int>(read_number_file(path));
}

void find_stored_in(const StoredPaths &where, int index, Stored *stored) {
    *stored = Stored{};
    stored->mtd[stored->mtd_count++] = index;
    find_overlapping(where, index, stored);
    for (int ubi = 0; ubi < max_ubi_devices; ubi++) {
        const int mtd = ubi_attached_mtd(where.sysfs_ubi_dir, ubi);
        if (mtd >= 0 && listed(stored->mtd, stored->mtd_count, mtd))
            add(stored->ubi, &stored->ubi_count, max_stored_ubi, ubi, &stored->overflow);
    }
    find_mounts(where, stored);
}

int report_stored(const Stored &stored, const char *part_name, bool name_them) {
    if (name_them && run_options.verbosity > 1) {
        for (int i = 1; i < stored.mtd_count; i++)
            print_to(stderr, "Stored on '%s': mtd%d, which overlaps it\n", part_name, stored.mtd[i]);
        for (int i = 0; i < stored.ubi_count; i++)
            print_to(stderr, "Stored on '%s': UBI device %d\n", part_name, stored.ubi[i]);
        for (int i = 0; i < stored.mount_count; i++) {
            const StoredMount &m = stored.mounts[i];
            print_to(stderr, "Stored on '%s': %s %s on %s (%s)\n", part_name, m.type, m.source, m.point,
                     m.read_only ? "ro" : "rw");
        }
    }
    // More than the tables hold: refused by the line that ends the run.
    int rc = stored.overflow ? -1 : 0;
    for (int i = 0; i < stored.mount_count; i++) {
        const StoredMount &m = stored.mounts[i];
        if (m.ubi < 0)
            continue;
        print_to(stderr, "%s %s on %s lies in UBI device %d: no write under a live UBI is safe\n", m.type, m.source,
                 m.point, m.ubi);
        rc = -1;
    }
    return rc;
}

int make_stored_read_only(const StoredPaths &where, Stored *stored) {
    // Against the mount table's order: an overlay, mounted after what it
    // writes into, goes first. The writers of either are ended at the first.
    for (int i = stored->mount_count - 1; i >= 0; i--) {
        StoredMount &m = stored->mounts[i];
        if (m.read_only)
            continue;
        log_progress("Remounting %s read-only", m.point);
        for (int tries = 1; mount(nullptr, m.point, nullptr, MS_REMOUNT | MS_RDONLY | m.flags, nullptr) < 0; tries++) {
            const int error = errno;
            if (error != EBUSY || tries == remount_tries) {
                print_to(stderr, "%s %s on %s cannot be made read-only: %s\n", m.type, m.source, m.point,
                         strerror(error));
                restore_stored(stored);
                return -1;
            }
            end_writers(where, *stored);
            const timespec pause = {0, 10000000L};
            (void)nanosleep(&pause, nullptr);
        }
        m.made_read_only = true;
    }
    return 0;
}

void restore_stored(Stored *stored) {
    // In the mount table's order: what an overlay writes into first.
    for (int i = 0; i < stored->mount_count; i++) {
        StoredMount &m = stored->mounts[i];
        if (m.made_read_only && mount(nullptr, m.point, nullptr, MS_REMOUNT | m.flags, nullptr) == 0)
            m.made_read_only = false;
    }
}

void refuse_stored(const char *part_name) { fatal("refusing to write under what is stored on '%s'", part_name); }

void check_stored(const char *part_name, Stored *stored, bool name_them) {
    int index = -1;
    long long size = -1;
    // A partition not found fails elsewhere.
    (void)find_mtd_partition(part_name, &index, &size);
    if (index < 0)
        return;
    find_stored_in(system_stored_paths, index, stored);
    if (report_stored(*stored, part_name, name_them) < 0)
        refuse_stored(part_name);
}
