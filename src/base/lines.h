// The kernel's text files (/proc, /sys) read through a fixed buffer with
// plain system calls: the C library's streams for reading (fopen, fgets,
// getc and what they pull in) cost about 2 KiB of a static program.
#pragma once

#include <stddef.h>

struct LineReader {
    int fd;
    size_t at, end; // the buffered bytes not yet taken
    bool ended;     // a read found the end of the file (or failed)
    unsigned char buf[512];
};

// Opens path for reading. Returns 0, or -1 with errno from open().
int lines_open(LineReader &r, const char *path);

// The next byte, or -1 at the end of the file or after a read error (EINTR
// is repeated).
int lines_getc(LineReader &r);

// As fgets: the next line with its newline, or its first size - 1 bytes
// when it is longer (the rest comes with the next call), zero-terminated.
// False, with line untouched, when nothing is left.
bool lines_next(LineReader &r, char *line, size_t size);

void lines_close(LineReader &r);

// A directory's entries read with getdents64 into a fixed buffer (the C
// library's opendir allocates its buffer).
struct DirReader {
    int fd;
    long at, end;
    alignas(8) char buf[1024];
};

// Opens path as a directory. Returns 0, or -1 with errno from open().
int dir_open(DirReader &d, const char *path);

// The next entry's name ("." and ".." included), or nullptr at the end.
const char *dir_next(DirReader &d);

void dir_close(DirReader &d);
