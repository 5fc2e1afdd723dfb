#include "base/lines.h"

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

int lines_open(LineReader &r, const char *path) {
    r.at = r.end = 0;
    r.ended = false;
    r.fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    return r.fd < 0 ? -1 : 0;
}

int lines_getc(LineReader &r) {
    while (r.at == r.end) {
        const ssize_t n = read(r.fd, r.buf, sizeof r.buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            r.ended = true;
            return -1;
        }
        r.at = 0;
        r.end = static_cast<size_t>(n);
    }
    return r.buf[r.at++];
}

bool lines_next(LineReader &r, char *line, size_t size) {
    size_t length = 0;
    while (length + 1 < size) {
        const int c = lines_getc(r);
        if (c < 0)
            break;
        line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    if (length == 0)
        return false;
    line[length] = '\0';
    return true;
}

void lines_close(LineReader &r) { (void)close(r.fd); }

namespace {

// The layout that getdents64 writes: inode, offset, record length, type,
// then the zero-terminated name.
constexpr long dirent_reclen = 16;
constexpr long dirent_name = 19;

} // namespace

int dir_open(DirReader &d, const char *path) {
    d.at = d.end = 0;
    d.fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return d.fd < 0 ? -1 : 0;
}

const char *dir_next(DirReader &d) {
    if (d.at >= d.end) {
        d.at = 0;
        d.end = syscall(SYS_getdents64, d.fd, d.buf, sizeof d.buf);
        if (d.end <= 0)
            return nullptr;
    }
    unsigned short length = 0;
    memcpy(&length, d.buf + d.at + dirent_reclen, sizeof length);
    const char *name = d.buf + d.at + dirent_name;
    d.at += length;
    return name;
}

void dir_close(DirReader &d) { (void)close(d.fd); }
