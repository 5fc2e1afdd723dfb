// The partitions this tool never writes.
#pragma once

#include <sys/types.h>

extern const char *const protected_partitions[];

// Ends the run through fatal() when name is on the protected list, or
// names the character device of a protected partition (directly or through
// links, such as /dev/mtd/by-name/...), or names an MTD character device
// whose partition the table does not list (nothing can be told of it).
// The comparison with the list is exact and case-sensitive. Returns the
// device number of the MTD character device that name led to, or 0 when
// it leads to none.
dev_t check_protected(const char *name);

// Inner form: the partition names come from the table at `table`, in the
// format of /proc/mtd.
dev_t check_protected_in(const char *table, const char *name);
