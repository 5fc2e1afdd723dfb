// Reading the kernel's table of the mounts that the process sees.
#pragma once

#include "base/lines.h"

#include <stddef.h>

// One line of /proc/self/mountinfo. Fields longer than their buffer are
// cut; octal escapes (\040 for a blank) are undone.
constexpr size_t mount_field_size = 256;

struct MountEntry {
    unsigned id;                   // the mount's ID
    unsigned major, minor;         // of the file system's device (st_dev)
    char point[mount_field_size];  // mount point
    char type[mount_field_size];   // file-system type
    char source[mount_field_size]; // "mtd:data", "/dev/mtdblock3", "ubi0:data"
    char super[mount_field_size];  // the file system's options: "rw,upperdir=..."
};

// Reads the next line of a mountinfo file. False at its end.
bool next_mount(LineReader &file, MountEntry *entry);

// Finds the mount whose mount point is exactly `mount_point` in a file in
// the format of /proc/self/mountinfo; where several are stacked there, the
// last one listed (the one on top) counts. Copies its file-system type into
// fstype (cut to size - 1 characters). Returns 1 when found, 0 when not,
// -1 with errno when the file cannot be opened. Prints nothing.
int find_mount_in(const char *mountinfo, const char *mount_point, char *fstype, size_t size);

// Whether "/" is the kernel's initial rootfs (an initramfs root, which
// pivot_root cannot move), as the given mountinfo file shows it.
bool root_is_initial_rootfs(const char *mountinfo);
