// The hashes of a FIT image, checked as the bootloader checks them before
// it boots the image: a FIT damaged on its way to the device is refused
// before it replaces the running firmware.
#pragma once

// Walks the tree of the FIT image open at fd (size bytes; header holds its
// first 40 bytes at least, and its totalsize fits the file) and checks
// every hash node under /images whose algo is crc32, sha1 or sha256
// against the bytes of its image, inside the tree or after it (data,
// data-offset, data-position). Reads through a fixed buffer: the image is
// never held whole. On a mismatch, a tree that cannot be walked or image
// data outside the file, prints one line and returns -1. Otherwise
// returns 0 and sets *checked to what was checked; at verbosity 2 and
// above, each hash of an algorithm it does not compute gets a line saying
// that it was not checked.
int check_fit(int fd, long long size, const char **checked);
