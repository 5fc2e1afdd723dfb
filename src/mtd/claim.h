// One upgrade of a partition at a time: an exclusive lock on the node of
// its MTD character device, which every run takes and holds until the
// process ends (across the exec into stage two, up to the restart). A lock
// on the device node, not a file in /tmp, holds across mount namespaces
// with a /tmp of their own.
#pragma once

#include "mtd/mtd_table.h"

// Takes the claim on the partition named part_name (a partition name or a
// device path; every name or node of one MTD device leads to the same
// claim). A claim this process already holds on another descriptor (the
// one stage one carried across the exec) counts as taken. Returns 0 when
// held, and also when the partition cannot be found or opened (the check
// reports that); -1 with errno EWOULDBLOCK when another run holds it.
// Prints nothing.
int claim_partition(const char *part_name);
int claim_partition_in(const MtdPaths &where, const char *part_name);

// Takes the claim, or ends the run through fatal() with a line saying that
// another upgrade of the partition is under way.
void claim_or_refuse(const char *part_name);
