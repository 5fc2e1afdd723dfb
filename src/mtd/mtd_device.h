// Requests on an open MTD character device: its geometry, its bad blocks,
// and how much of it can hold data.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

// What the writer and the image check need to know of an open device.
struct MtdGeometry {
    int type;           // MTD_NANDFLASH, MTD_NORFLASH, ...
    int32_t erase_size; // bytes per erase block
    int32_t page_size;  // smallest unit of a write (MEMGETINFO's writesize;
                        // the erase size where that gives no whole pages)
    int64_t size;       // bytes of the partition
    uint32_t flags;     // MTD_WRITEABLE, ...
};

// ioctl with the request type of whichever C library the build uses.
int mtd_ioctl(int dev, unsigned long request, void *arg);

// NAND types (4 and 8): bad blocks, and pages that must not be programmed
// with nothing but 0xFF.
bool is_nand_type(int type);

// MEMGETINFO, and the partition's 64-bit size: MEMGETINFO's size field has
// 32 bits only, so the size comes from a seek to the device's end (then
// back to 0), and from MEMGETINFO only where the device cannot seek.
// Returns 0, or -1 with errno from a refused MEMGETINFO. Prints nothing.
int read_geometry(int dev, MtdGeometry *geo);

// 1 when the block at offset is bad, 0 when good (always, without a
// query, on types without bad blocks), -1 when the query fails.
int query_bad_block(int dev, const MtdGeometry &geo, int64_t offset);

// Bytes in the good blocks of the partition from the block at `from` on,
// counted only until `needed` bytes are found: a result below `needed` is
// all the good capacity there is. -1 when a bad-block query fails;
// *failed_at is then the block's offset. Prints nothing.
int64_t good_capacity(int dev, const MtdGeometry &geo, int64_t from, int64_t needed, int64_t *failed_at);

// The index N of the MTD character device (mtdN, minor 2N, or mtdNro,
// minor 2N + 1) that st describes, or -1 when st is no such device.
int mtd_index_of(const struct stat &st);

// Whether the geometry's erase-block size can be used; when not, prints
// "mtd: PART reports an unusable erase block size of N bytes" (a size of
// 0 would make every chunk empty and report success without writing).
bool erase_size_usable(const MtdGeometry &geo, const char *part_name);

// Marks the block at offset bad (MEMSETBADBLOCK, which also erases it).
// Returns 0, or -1 with errno. Prints nothing.
int mark_bad_block(int dev, int64_t offset);

// Whether the n bytes at p are all 0xFF, as erased flash reads.
bool is_erased(const unsigned char *p, size_t n);
