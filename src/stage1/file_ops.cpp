#include "stage1/file_ops.h"
#include "base/paths.h"
#include "base/text.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t copy_buffer_size = 16384;
constexpr size_t path_buffer_size = 4096;

// Prints "cp: <what> <path>: <error text>" for the given error number and
// returns -1 with errno set to it.
int report(const char *what, const char *path, int error) {
    print_to(stderr, "cp: %s %s: %s\n", what, path, strerror(error));
    errno = error;
    return -1;
}

// A FIFO would block the copy for good (or hand the image to whoever reads
// it); a device or a socket is no copy either.
int refuse_not_regular(const char *destination, int error) {
    print_to(stderr, "cp: %s: not a regular file\n", destination);
    errno = error;
    return -1;
}

int close_keeping_errno(int fd) {
    const int saved_errno = errno;
    (void)close(fd);
    errno = saved_errno;
    return -1;
}

// Writes all of buf, continuing after partial writes and repeating writes
// interrupted before they wrote anything.
int write_all(int fd, const char *buf, size_t len, const char *path) {
    size_t done = 0;
    while (done < len) {
        const ssize_t n = write(fd, buf + done, len - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return report("write", path, errno);
        }
        // A write that takes nothing would otherwise spin forever; a full
        // device is the usual reason.
        if (n == 0)
            return report("write", path, ENOSPC);
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Copies everything from in to out. Returns 0 or -1 after its diagnostic.
int copy_contents(int in, int out, const char *source, const char *destination) {
    char buf[copy_buffer_size];
    for (;;) {
        const ssize_t n = read(in, buf, sizeof buf);
        if (n < 0)
            return report("read", source, errno);
        if (n == 0)
            return 0;
        if (write_all(out, buf, static_cast<size_t>(n), destination) < 0)
            return -1;
    }
}

// Refuses a destination that is the source itself (a hard link to it, or a
// source that is a link to the destination), that is not a regular file
// with a single name, or that another user owns; then truncates it. Done
// on the open descriptors so nothing can be swapped between the test and
// the use.
int prepare_destination(int in, int out, const char *source, const char *destination) {
    struct stat src_st {};
    struct stat dst_st {};
    if (fstat(in, &src_st) < 0)
        return report("stat", source, errno);
    if (fstat(out, &dst_st) < 0)
        return report("stat", destination, errno);
    if (src_st.st_dev == dst_st.st_dev && src_st.st_ino == dst_st.st_ino) {
        print_to(stderr, "cp: %s and %s are the same file\n", source, destination);
        errno = EINVAL;
        return -1;
    }
    if (!S_ISREG(dst_st.st_mode))
        return refuse_not_regular(destination, EINVAL);
    // A hard link would have some other file overwritten.
    if (dst_st.st_nlink != 1) {
        print_to(stderr, "cp: %s: has %u links, another file would be overwritten\n", destination,
                 static_cast<unsigned>(dst_st.st_nlink));
        errno = EMLINK;
        return -1;
    }
    // A file someone else owns (planted in /tmp ahead of us) could be
    // changed by its owner after the copy, under the program's feet.
    if (dst_st.st_uid != geteuid()) {
        print_to(stderr, "cp: %s: owned by uid %u, not by uid %u\n", destination, static_cast<unsigned>(dst_st.st_uid),
                 static_cast<unsigned>(geteuid()));
        errno = EPERM;
        return -1;
    }
    const int flags = fcntl(out, F_GETFL);
    if (flags < 0 || fcntl(out, F_SETFL, flags & ~O_NONBLOCK) < 0 || ftruncate(out, 0) < 0)
        return report("open", destination, errno);
    return 0;
}

} // namespace

int copy_file(const char *source, const char *destination, mode_t mode) {
    const int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return report("open", source, errno);

    // Truncation waits until the destination is known to be safe to
    // replace. O_NONBLOCK: opening a planted FIFO must not block.
    const int out = open(destination, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (out < 0) {
        // A FIFO without a reader (or a socket) refuses a non-blocking open
        // for writing with ENXIO.
        if (errno == ENXIO)
            (void)refuse_not_regular(destination, ENXIO);
        else
            (void)report("open", destination, errno);
        return close_keeping_errno(in);
    }

    if (prepare_destination(in, out, source, destination) < 0 || copy_contents(in, out, source, destination) < 0) {
        (void)close_keeping_errno(in);
        return close_keeping_errno(out);
    }

    // The exact mode, whatever the umask and whatever mode an existing
    // destination had.
    (void)fchmod(out, mode);
    (void)close(in);
    if (close(out) < 0)
        return report("close", destination, errno);
    return 0;
}

int make_dirs(const char *path) {
    const size_t len = strlen(path);
    if (len == 0) {
        errno = ENOENT;
        return -1;
    }
    if (len >= path_buffer_size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    char buf[path_buffer_size];
    memcpy(buf, path, len + 1);
    if (len > 1 && buf[len - 1] == '/')
        buf[len - 1] = '\0';

    // The first character is never a separator: a leading "/" makes no
    // attempt to create an empty path.
    for (char *p = buf + 1; *p != '\0'; p++) {
        if (*p != '/')
            continue;
        *p = '\0';
        const int rc = mkdir(buf, 0755);
        *p = '/';
        if (rc < 0 && errno != EEXIST)
            return -1;
    }
    if (mkdir(buf, 0755) < 0 && errno != EEXIST)
        return -1;
    return 0;
}

int resolve_path(const char *path, char *resolved) {
    const int fd = open(path, O_PATH | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char link[40];
    (void)format_string(link, sizeof link, "%s/%d", paths::self_fd_dir, fd);
    const ssize_t n = readlink(link, resolved, PATH_MAX - 1);
    const int error = errno;
    (void)close(fd);
    if (n <= 0) {
        errno = n == 0 ? ENOENT : error;
        return -1;
    }
    resolved[n] = '\0';
    return 0;
}
