// Images that carry their own length or checksum: a legacy U-Boot image
// (uImage), a FIT image, squashfs 4 and a UBI image. A copy cut short or a
// flipped byte shows there before anything is written.
#pragma once

#include "image/fit_keys.h"

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

// Checks the image at path (size bytes) by its own header: the uImage's
// header and data CRCs and data size, the FIT tree's totalsize and its
// hashes, the squashfs superblock's bytes_used, and for a UBI image that
// it is a whole number of erase blocks of erase_size bytes (the
// partition's; 0 when unknown, and the UBI test is skipped) each beginning
// with an erase-counter header whose CRC is right. Any other image passes.
// A file that ends inside its header fails by the bytes read, whatever
// size says. On a failure prints one line that names the format and what
// is wrong, with the figures, and returns -1; at verbosity 2 and above a
// passing image of a known format is named.
int check_image_format(const char *path, long long size, int32_t erase_size);

// The same with the given keys (check_image_format takes the keys built
// in): with keys, an image that is not a FIT fails with a line saying that
// it is not a signed FIT, and *signed_ok (when given) tells whether the
// image is a FIT whose check, signatures included, passed.
int check_image_format_with(const char *path, long long size, int32_t erase_size, const FitKeys &keys, bool *signed_ok);

// Reads up to length bytes at offset of fd; returns how many (fewer only at
// the end of the file), or -1.
ssize_t read_at(int fd, unsigned char *buf, size_t length, uint64_t offset);

// The big-endian 32-bit number at p.
uint32_t be32(const unsigned char *p);
