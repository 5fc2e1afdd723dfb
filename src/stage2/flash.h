// Writing the image onto the MTD partition, erase block by erase block.
#pragma once

#include <sys/types.h>

// Streams the image onto the partition, NAND bad blocks skipped, the last
// block filled up with 0xFF: the first block erased before anything else
// and written last, every other block erased right before its data is
// written, every block read back (see flash.cpp for failing blocks). Returns only when the whole image is written;
// every failure ends the process with status 1. A partition given as a device path must still be the device `guarded`
// that the protected-partition guard resolved (0: none, then no MTD device is accepted through a path).
void flash_image(const char *image_path, const char *part_name, dev_t guarded = 0);

// The stage-two writing sequence: milestones, the protected-partition
// guard again, then flash_image for run_options.part_name.
void run_writing_sequence(const char *image_path);
