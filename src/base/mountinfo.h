// Reading the kernel's table of the mounts that the process sees.
#pragma once

#include <stddef.h>

// Finds the mount whose mount point is exactly `mount_point` in a file in
// the format of /proc/self/mountinfo; where several are stacked there, the
// last one listed (the one on top) counts. Copies its file-system type into
// fstype (cut to size - 1 characters). Returns 1 when found, 0 when not,
// -1 with errno when the file cannot be opened. Prints nothing.
int find_mount_in(const char *mountinfo, const char *mount_point, char *fstype, size_t size);

// Whether "/" is the kernel's initial rootfs (an initramfs root, which
// pivot_root cannot move), as the given mountinfo file shows it.
bool root_is_initial_rootfs(const char *mountinfo);
