// The memory that the kernel can still give without swapping or killing.
#pragma once

// MemAvailable of a file in the format of /proc/meminfo, in bytes; -1 when
// the file cannot be read or has no such line (kernels before 3.14).
long long mem_available_in(const char *meminfo);
