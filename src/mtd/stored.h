// What is stored on the flash that a run writes, and stopping it from
// writing there. Stored on the partition are: the partition itself, every
// MTD device of the same chip whose range overlaps it, the UBI devices
// attached to any of these, and the file systems mounted from them (JFFS2
// and mtdblock file systems by their device number, UBIFS by its UBI
// device, ubiblock file systems by their block device) or through them
// (an overlay whose upper directory lies on one).
#pragma once

#include "base/paths.h"
#include "mtd/mtd_table.h"

constexpr int max_stored_mtd = 16;
constexpr int max_stored_ubi = 8;
constexpr int max_stored_mounts = 16;
// The kernel numbers UBI devices from 0 to 31.
constexpr int max_ubi_devices = 32;

struct StoredMount {
    char point[256];
    char type[16];
    char source[64];
    unsigned long flags; // this mount's MS_ flags, kept across its remounts
    unsigned id;         // the mount's ID (mountinfo's and fdinfo's mnt_id)
    int ubi;             // the UBI device it lies in, or -1
    bool read_only;      // the file system itself is read-only
    bool made_read_only; // remounted read-only by this run
};

struct Stored {
    int mtd[max_stored_mtd]; // the partition first
    int mtd_count;
    int ubi[max_stored_ubi];
    int ubi_count;
    StoredMount mounts[max_stored_mounts];
    int mount_count;
    bool overflow; // more than the tables hold: nothing can be promised
};

struct StoredPaths {
    MtdPaths mtd;
    const char *sysfs_ubi_dir; // holds ubi<N>/mtd_num
    const char *mountinfo;
    const char *sys_dev_block; // holds MAJOR:MINOR links to block devices
    const char *proc_dir;      // the processes, for their open files
};

inline constexpr StoredPaths system_stored_paths = {
    system_mtd_paths, paths::sysfs_ubi_dir, paths::mountinfo, paths::sys_dev_block, paths::proc,
};

// The MTD device that UBI device `ubi` is attached to, or -1.
int ubi_attached_mtd(const char *sysfs_ubi_dir, int ubi);

// Fills *stored for MTD device `index`. Where a kernel does not say how
// partitions lie (no sysfs "offset", before Linux 4.1), every partition of
// what may be the same chip counts as overlapping. Prints nothing.
void find_stored_in(const StoredPaths &where, int index, Stored *stored);

// Names what is stored on part_name at -v (when name_them), then prints a line for each
// file system that no remount can stop from writing there (any mount of a
// UBI volume on that flash: UBI itself writes under it, and it cannot be
// detached). Returns -1 when there is such a one, or more than the tables
// hold.
int report_stored(const Stored &stored, const char *part_name, bool name_them);

// Remounts each read-write file system of *stored read-only, the overlays
// on them first. Where open files refuse it (EBUSY), the processes holding
// files on them open for writing, or deleted files open, are ended with
// SIGKILL (never process 1 or this one), and the remount is tried again:
// the device restarts at the end of the run, so what they would still
// write is lost either way, and it would land in the new firmware. On a
// failure, prints a line naming the file system, puts back what was
// remounted and returns -1.
int make_stored_read_only(const StoredPaths &where, Stored *stored);

// Remounts read-write what make_stored_read_only remounted.
void restore_stored(Stored *stored);

// Finds what is stored on partition part_name into *stored (nothing when
// the partition is not found), names it (name_them) and ends the run
// through refuse_stored when report_stored refuses.
void check_stored(const char *part_name, Stored *stored, bool name_them);

// Ends the run: "refusing to write under what is stored on 'NAME'".
[[noreturn]] void refuse_stored(const char *part_name);
