#include "mtd/mtd_table.h"
#include "base/lines.h"
#include "base/text.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

long long read_partition_size(const MtdPaths &where, int index) {
    char path[PATH_MAX];
    if (format_string(path, sizeof path, "%s/mtd%d/size", where.sysfs_dir, index) >= static_cast<int>(sizeof path))
        return -1;
    return read_number_file(path);
}

constexpr int write_flags = O_RDWR | O_SYNC;

} // namespace

int open_mtd_index_in(const MtdPaths &where, int index, int flags) {
    char path[PATH_MAX];
    (void)format_string(path, sizeof path, "%s/mtd/%d", where.dev_dir, index);
    const int fd = open(path, flags);
    if (fd >= 0)
        return fd;
    (void)format_string(path, sizeof path, "%s/mtd%d", where.dev_dir, index);
    return open(path, flags);
}

int open_mtd_index(int index, int flags) { return open_mtd_index_in(system_mtd_paths, index, flags); }

int find_mtd_partition_in(const MtdPaths &where, const char *name, int *index, long long *size) {
    *index = -1;
    *size = -1;

    // A name too long for the pattern loses its closing quote.
    char quoted[128];
    (void)format_string(quoted, sizeof quoted, "\"%s\"", name);

    LineReader table{};
    if (lines_open(table, where.table) < 0)
        return -1;
    char line[256];
    while (lines_next(table, line, sizeof line)) {
        if (contains(line, quoted)) {
            // The first line holding the name ends the search, prefix or not.
            (void)scan_mtd_prefix(line, index);
            break;
        }
    }
    lines_close(table);

    if (*index < 0)
        return -1;
    *size = read_partition_size(where, *index);
    return *size > 0 ? 0 : -1;
}

int find_mtd_partition(const char *name, int *index, long long *size) {
    return find_mtd_partition_in(system_mtd_paths, name, index, size);
}

int open_mtd_by_name_in(const MtdPaths &where, const char *name, bool *as_path) {
    if (as_path != nullptr)
        *as_path = false;
    char quoted[4096];
    (void)format_string(quoted, sizeof quoted, "\"%s\"", name);

    LineReader table{};
    if (lines_open(table, where.table) == 0) {
        char line[4096];
        while (lines_next(table, line, sizeof line)) {
            int index = -1;
            if (!scan_mtd_prefix(line, &index))
                continue;
            if (!contains(line, quoted))
                continue;
            // Listed: its device node or nothing; the name is not tried then.
            const int fd = open_mtd_index_in(where, index, write_flags);
            const int saved_errno = errno;
            lines_close(table);
            errno = saved_errno;
            return fd;
        }
        lines_close(table);
    }
    // Not listed: the name may be a device path given directly.
    if (as_path != nullptr)
        *as_path = true;
    return open(name, write_flags);
}

int open_mtd_by_name(const char *name, bool *as_path) { return open_mtd_by_name_in(system_mtd_paths, name, as_path); }
