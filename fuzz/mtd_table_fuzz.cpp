// Fuzz target: the two partition-table lookups over arbitrary table and
// size-file contents. Input: the partition name, a zero byte, the table,
// a zero byte, the size file's contents.
#include "mtd/mtd_table.h"

#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char root[PATH_MAX];

void write_all(const char *path, const uint8_t *data, size_t size) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        abort();
    if (size != 0 && write(fd, data, size) != static_cast<ssize_t>(size))
        abort();
    close(fd);
}

void setup() {
    if (root[0] != '\0')
        return;
    // A scratch tree below the working directory (the build tree).
    char tmpl[] = "mtd-fuzz-XXXXXX";
    if (mkdtemp(tmpl) == nullptr || realpath(tmpl, root) == nullptr)
        abort();
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s/sys", root);
    mkdir(path, 0755);
    snprintf(path, sizeof path, "%s/dev", root);
    mkdir(path, 0755);
    // Names that are not listed are opened as paths: relative to this
    // empty directory, and never absolute (see below).
    if (chdir(root) != 0)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    const auto *end = data + size;
    const auto *name_end = static_cast<const uint8_t *>(memchr(data, 0, size));
    if (name_end == nullptr)
        return 0;
    const auto *table = name_end + 1;
    const auto *table_end = static_cast<const uint8_t *>(memchr(table, 0, static_cast<size_t>(end - table)));
    if (table_end == nullptr)
        return 0;
    const auto *size_text = table_end + 1;

    const char *name = reinterpret_cast<const char *>(data);
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s/mtd", root);
    write_all(path, table, static_cast<size_t>(table_end - table));
    char sys_dir[PATH_MAX];
    char dev_dir[PATH_MAX];
    snprintf(sys_dir, sizeof sys_dir, "%s/sys", root);
    snprintf(dev_dir, sizeof dev_dir, "%s/dev", root);
    const MtdPaths where = {path, sys_dir, dev_dir};

    int index = 0;
    long long part_size = 0;
    (void)find_mtd_partition_in(where, name, &index, &part_size);
    if (index >= 0 && index < 100000) {
        char dir[PATH_MAX];
        snprintf(dir, sizeof dir, "%s/mtd%d", sys_dir, index);
        mkdir(dir, 0755);
        char file[PATH_MAX];
        snprintf(file, sizeof file, "%s/size", dir);
        write_all(file, size_text, static_cast<size_t>(end - size_text));
    }
    const int rc = find_mtd_partition_in(where, name, &index, &part_size);
    if (rc == 0 && (index < 0 || part_size <= 0))
        abort();
    if (rc != 0 && index >= 0 && part_size > 0)
        abort();

    // Opening an arbitrary absolute path read-write could touch a device of
    // this machine; only names without a slash are opened.
    if (strchr(name, '/') == nullptr) {
        const int fd = open_mtd_by_name_in(where, name);
        if (fd >= 0)
            close(fd);
    }
    return 0;
}
