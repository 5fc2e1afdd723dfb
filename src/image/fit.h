// A FIT image, checked as the bootloader checks it before it boots it: a
// FIT that it would refuse, damaged on its way to the device or not signed
// by its key, is refused before it replaces the running firmware.
#pragma once

#include "image/fit_keys.h"

// Checks the FIT image open at fd (size bytes, at least its 40-byte
// header, its totalsize within them) as the bootloader would take it: the
// tree's structure (fdt_open), a root description and timestamp, images
// and configurations, every image's data inside the file and every hash
// node (crc32, sha1 and sha256 computed against the image's bytes, the
// other algorithms' values checked for their length). The file is mapped,
// never read whole into memory. On any fault prints one line and returns
// -1. Otherwise returns 0 and sets *checked to what was checked; at
// verbosity 2 and above, each hash of an algorithm it does not compute
// gets a line saying that it was not checked. With keys (count above 0),
// every configuration's signature must also verify with them
// (check_fit_signatures).
int check_fit(int fd, long long size, const FitKeys &keys, const char **checked);
