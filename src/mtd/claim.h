// One upgrade of the device at a time. Every upgrade ends by restarting the
// whole device, and every run stages into the same /tmp paths, so two runs
// conflict whatever partitions they name: each run, -T included, takes an
// exclusive lock (flock) on the character-device node of the first MTD
// device that the partition table lists (mtd0 wherever it exists), before
// it copies, stages or writes anything, and holds it until the process
// ends: across the exec into stage two, up to the restart. A lock on a
// device node, not a file in /tmp, holds across mount namespaces with a
// /tmp of their own; the kernel drops it with the last descriptor, so a
// crash or a kill leaves nothing stale.
#pragma once

#include "mtd/mtd_table.h"

// Where stage one hands its claim over the exec: stage two takes exactly
// this descriptor, whatever else the caller left open. Low enough for any
// descriptor limit, above those that shells and service managers pass on.
constexpr int claim_descriptor = 9;

// Stage one: opens the node anew (a descriptor of it that the run
// inherited is shared with its parent, and with every other run that
// parent starts, so it is never taken over), locks it and moves it to
// claim_descriptor without close-on-exec. Returns 0 when the claim is
// held, and also when the table lists no MTD device (nothing to protect);
// -1 with errno EWOULDBLOCK when another run holds it, and -1 with another
// errno when the node cannot be opened or locked. Never blocks. Prints
// nothing.
int claim_device_in(const MtdPaths &where);

// Stage two: the claim that stage one handed over at claim_descriptor,
// when that descriptor is the node (device and inode) and fdinfo, the
// descriptor's entry in /proc, shows its exclusive lock taken by this
// process (as that /proc numbers it: its self link); otherwise (stage two started by hand, or given a descriptor
// that it did not lock) claimed anew as by claim_device_in.
int keep_claim_in(const MtdPaths &where, const char *fdinfo);

// Takes the claim (stage one's form, or stage two's when handed_over), or
// ends the run through fatal() with a line saying that another upgrade is
// under way. A claim that cannot be taken for any other reason gets a line
// saying so, and the run goes on.
void claim_or_refuse(const char *part_name, bool handed_over);
