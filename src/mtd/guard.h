// The partitions this tool never writes.
#pragma once

extern const char *const protected_partitions[];

// Ends the run through fatal() when name is on the protected list;
// returns otherwise. The comparison is exact and case-sensitive.
void check_protected(const char *name);
