#include "mtd/claim.h"

#include "base/lines.h"
#include "base/log.h"
#include "base/text.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The node of the first MTD device in the table, opened read-only and
// without blocking whatever lies there; -1 when there is none (*listed
// false) or it cannot be opened (*listed true, errno from the open).
int open_claim_node(const MtdPaths &where, bool *listed) {
    *listed = false;
    LineReader table{};
    if (lines_open(table, where.table) < 0)
        return -1;
    char line[4096];
    int index = -1;
    while (index < 0 && lines_next(table, line, sizeof line))
        (void)scan_mtd_prefix(line, &index);
    lines_close(table);
    *listed = index >= 0;
    return index < 0 ? -1 : open_mtd_index_in(where, index, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Whether the description at claim_descriptor holds an exclusive flock
// taken by this process: stage one took it before the exec, which keeps
// the process. A descriptor that a parent opened and passed on holds none,
// or one that the parent took.
bool holds_own_lock(const char *fdinfo) {
    LineReader info{};
    if (lines_open(info, fdinfo) < 0)
        return false;
    // The lock's owner as the /proc of fdinfo numbers it: its "self" link
    // (a PID namespace of the run's own numbers the process otherwise).
    char self[64];
    (void)format_string(self, sizeof self, "%s", fdinfo);
    // ".../self/fdinfo/9" less its last two names.
    char pid[24];
    ssize_t n = -1;
    for (int names = 0; names < 2; names++) {
        char *cut = strrchr(self, '/');
        if (cut != nullptr)
            *cut = '\0';
    }
    if (strrchr(self, '/') != nullptr)
        n = readlink(self, pid, sizeof pid - 1);
    if (n <= 0)
        (void)format_string(pid, sizeof pid, "%d", static_cast<int>(getpid()));
    else
        pid[n] = '\0';
    char line[256];
    char own[40];
    (void)format_string(own, sizeof own, " WRITE %s ", pid);
    bool held = false;
    while (!held && lines_next(info, line, sizeof line))
        held = strncmp(line, "lock:", 5) == 0 && contains(line, " FLOCK ") && contains(line, own);
    lines_close(info);
    return held;
}

} // namespace

int claim_device_in(const MtdPaths &where) {
    bool listed = false;
    const int fd = open_claim_node(where, &listed);
    if (fd < 0)
        return listed ? -1 : 0;
    if (flock(fd, LOCK_EX | LOCK_NB) < 0) {
        const int error = errno;
        (void)close(fd);
        errno = error;
        return -1;
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

int keep_claim_in(const MtdPaths &where, const char *fdinfo) {
    bool listed = false;
    const int fd = open_claim_node(where, &listed);
    if (fd < 0)
        return claim_device_in(where);
    struct stat node {};
    struct stat handed {};
    const bool is_node = fstat(fd, &node) == 0 && fstat(claim_descriptor, &handed) == 0 &&
                         handed.st_ino == node.st_ino && handed.st_dev == node.st_dev;
    (void)close(fd);
    if (is_node && holds_own_lock(fdinfo))
        return 0;
    return claim_device_in(where);
}

void claim_or_refuse(const char *part_name, bool handed_over) {
    const int rc =
        handed_over ? keep_claim_in(system_mtd_paths, paths::claim_fdinfo) : claim_device_in(system_mtd_paths);
    if (rc == 0)
        return;
    if (errno != EWOULDBLOCK) {
        // Nothing else holds it: the run goes on, but without the claim a
        // second run would not be kept out.
        print_to(stderr, "mtd: cannot claim the device, going on without the claim: %s\n", strerror(errno));
        return;
    }
    fputs("mtd: another upgrade of this device is under way\n", stderr);
    fatal("cannot write to '%s'", part_name);
}
