#include "mtd/claim.h"

#include "base/log.h"
#include "base/text.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The node of the first MTD device in the table, opened read-only and
// without blocking whatever lies there; -1 when there is none.
int open_claim_node(const MtdPaths &where) {
    FILE *table = fopen(where.table, "re");
    if (table == nullptr)
        return -1;
    char line[4096];
    int index = -1;
    while (index < 0 && fgets(line, sizeof line, table) != nullptr)
        (void)scan_mtd_prefix(line, &index);
    (void)fclose(table);
    return index < 0 ? -1 : open_mtd_index_in(where, index, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

} // namespace

int claim_device_in(const MtdPaths &where) {
    const int fd = open_claim_node(where);
    if (fd < 0)
        return 0;
    if (flock(fd, LOCK_EX | LOCK_NB) < 0) {
        const int error = errno;
        (void)close(fd);
        errno = error;
        return error == EWOULDBLOCK ? -1 : 0;
    }
    // Where stage two looks for it, without close-on-exec. Should that
    // number be out of reach, the claim stays close-on-exec: the exec drops
    // it, and stage two takes it anew.
    if (fd == claim_descriptor)
        (void)fcntl(fd, F_SETFD, 0);
    else if (dup2(fd, claim_descriptor) == claim_descriptor)
        (void)close(fd);
    return 0;
}

int keep_claim_in(const MtdPaths &where) {
    const int fd = open_claim_node(where);
    if (fd < 0)
        return 0;
    struct stat node {};
    struct stat handed {};
    const bool is_node = fstat(fd, &node) == 0 && fstat(claim_descriptor, &handed) == 0 &&
                         handed.st_ino == node.st_ino && handed.st_dev == node.st_dev;
    (void)close(fd);
    // Locking again through the description that holds the lock succeeds;
    // through one whose lock another description holds, it fails.
    if (is_node && flock(claim_descriptor, LOCK_EX | LOCK_NB) == 0)
        return 0;
    return claim_device_in(where);
}

void claim_or_refuse(const char *part_name, bool handed_over) {
    const int rc = handed_over ? keep_claim_in(system_mtd_paths) : claim_device_in(system_mtd_paths);
    if (rc == 0)
        return;
    fputs("mtd: another upgrade of this device is under way\n", stderr);
    fatal("cannot write to '%s'", part_name);
}
