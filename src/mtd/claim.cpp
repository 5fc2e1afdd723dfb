#include "mtd/claim.h"

#include "base/log.h"
#include "base/text.h"
#include "mtd/mtd_device.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Descriptors below this are searched for a claim that came across the
// exec: stage one opens only a handful before it takes it.
constexpr int max_inherited_fd = 64;

} // namespace

int claim_partition_in(const MtdPaths &where, const char *part_name) {
    // The claim is always on the read-write node of the MTD index, so that
    // a name, /dev/mtdN, /dev/mtdNro and links to them meet on one lock.
    int index = -1;
    long long size = -1;
    (void)find_mtd_partition_in(where, part_name, &index, &size);
    struct stat node {};
    if (index < 0 && stat(part_name, &node) == 0)
        index = mtd_index_of(node);
    // Kept open without close-on-exec: the lock belongs to this open file,
    // and stage two inherits it.
    const int fd = index >= 0 ? open_mtd_index_in(where, index, O_RDONLY) : open(part_name, O_RDONLY);
    if (fd < 0 || fstat(fd, &node) < 0)
        return 0;
    // A descriptor of this process on the same node that holds the claim
    // (stage one's): locking again through it succeeds.
    for (int held = 3; held < max_inherited_fd; held++) {
        struct stat st {};
        if (held != fd && fstat(held, &st) == 0 && st.st_ino == node.st_ino && st.st_dev == node.st_dev &&
            flock(held, LOCK_EX | LOCK_NB) == 0) {
            (void)close(fd);
            return 0;
        }
    }
    // Only another holder refuses the run: a node that cannot be locked at
    // all protects nothing, and must not stop every upgrade.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return 0;
    (void)close(fd);
    errno = EWOULDBLOCK;
    return -1;
}

int claim_partition(const char *part_name) { return claim_partition_in(system_mtd_paths, part_name); }

void claim_or_refuse(const char *part_name) {
    if (claim_partition(part_name) == 0)
        return;
    print_to(stderr, "mtd: another upgrade of %s is under way\n", part_name);
    fatal("cannot write to '%s'", part_name);
}
