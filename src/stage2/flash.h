// Writing the image onto the MTD partition, erase block by erase block.
#pragma once

// Streams the image onto the partition: each block erased right before its
// data is written, NAND bad blocks skipped, the last block filled up with
// 0xFF. Returns only when the whole image is written; every failure ends
// the process with status 1.
void flash_image(const char *image_path, const char *part_name);

// The stage-two writing sequence: milestones, the protected-partition
// guard again, then flash_image for run_options.part_name.
void run_writing_sequence(const char *image_path);
