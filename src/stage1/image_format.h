// Images that carry their own length or checksum: a legacy U-Boot image
// (uImage), a FIT image, squashfs 4 and a UBI image. A copy cut short or a
// flipped byte shows there before anything is written.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Checks the image at path (size bytes) by its own header: the uImage's
// header and data CRCs and data size, the FIT tree's totalsize, the
// squashfs superblock's bytes_used, and for a UBI image that it is a whole
// number of erase blocks of erase_size bytes (the partition's; 0 when
// unknown, and the UBI test is skipped) each beginning with an
// erase-counter header whose CRC is right. Any other image passes. On a
// failure prints one line that names the format and what is wrong, with
// the figures, and returns -1; at verbosity 2 and above a passing image of
// a known format is named.
int check_image_format(const char *path, long long size, int32_t erase_size);

// CRC-32 as zlib computes it, continued from crc (0 to start).
uint32_t crc32_update(uint32_t crc, const unsigned char *data, size_t length);
