// Finding an MTD partition by name in the kernel's partition table.
#pragma once

#include "base/paths.h"

// Where the partition table, the sysfs class directory and the device nodes
// live. The program always uses system_mtd_paths.
struct MtdPaths {
    const char *table;     // "/proc/mtd"
    const char *sysfs_dir; // holds mtd<N>/size
    const char *dev_dir;   // holds mtd/<N> and mtd<N>
};

inline constexpr MtdPaths system_mtd_paths = {paths::proc_mtd, paths::sysfs_mtd_dir, paths::dev_dir};

// Finds the partition whose quoted name appears in a table line and reads
// its size from sysfs. index is -1 when no line matched, size -1 when it
// was not read. Returns 0 when found (index >= 0, size > 0), else -1.
// Prints nothing.
int find_mtd_partition(const char *name, int *index, long long *size);
int find_mtd_partition_in(const MtdPaths &where, const char *name, int *index, long long *size);

// Opens the partition's character device read-write with synchronous
// writes: the directory node first, then the flat node. A name that no
// table line holds is opened as a path; *as_path (when given) tells which.
// Returns the descriptor or a negative value with errno from the last
// open. Prints nothing.
int open_mtd_by_name(const char *name, bool *as_path = nullptr);
int open_mtd_by_name_in(const MtdPaths &where, const char *name, bool *as_path = nullptr);

// Opens the device node of the partition with the given index, the
// directory node first, then the flat node, with the given open flags.
// Returns the descriptor or a negative value with errno from the last open.
int open_mtd_index(int index, int flags);
int open_mtd_index_in(const MtdPaths &where, int index, int flags);
