// Moving the running system onto the RAM tree under /tmp/root.
#pragma once

// mount(2) with no type and no data; prints "mount SRC -> DST: error" on
// failure and returns -1.
int do_mount(const char *source, const char *target, unsigned long flags);

// Locks the process in memory, pivots the root onto /tmp/root and carries
// /proc, /sys, /dev and /tmp across, then detaches the old root. Ends the
// run through fatal() when the switch cannot be made.
void switch_to_ramfs(const char *image_path);
