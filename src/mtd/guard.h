// The partitions this tool never writes.
#pragma once

extern const char *const protected_partitions[];

// Ends the run through fatal() when name is on the protected list, or
// names the character device of a protected partition (directly or through
// links, such as /dev/mtd/by-name/...); returns otherwise. The comparison
// with the list is exact and case-sensitive.
void check_protected(const char *name);

// Inner form: the partition names are read from sysfs_dir/mtd<N>/name.
void check_protected_in(const char *sysfs_dir, const char *name);
