// Copying a file with an exact mode, and creating a directory path.
#pragma once

#include <sys/types.h>

// Copies source to destination and gives the copy exactly the given mode.
// On failure prints one "cp: ..." line on stderr and returns -1. Writes
// only into a regular file of its own with a single name: never through a
// symbolic link, a FIFO or a hard link planted at the destination, never
// into a file that another user owns, never onto its own source.
int copy_file(const char *source, const char *destination, mode_t mode);

// Creates path and any missing parents with mode 0755 (less the umask).
// An existing entry of any kind counts as success. Prints nothing.
int make_dirs(const char *path);

// realpath() as the kernel resolves it: the name that /proc/self/fd gives
// the path opened (the C library's resolver costs more than a kilobyte).
// resolved holds PATH_MAX bytes. Returns 0, or -1 with errno.
int resolve_path(const char *path, char *resolved);
