#include "stage2/flash.h"

#include "base/log.h"
#include "base/options.h"
#include "base/text.h"
#include "mtd/mtd_table.h"
#include "mtd/guard.h"

#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Geometry of the open device, kept for the whole write.
int flash_type;
int32_t erase_size;

// Past this end a block cannot be described by the 32-bit erase request.
constexpr int64_t erase32_limit = INT64_C(1) << 32;

// The C libraries disagree on the type of ioctl's request (unsigned long in
// glibc, int in musl); the kernel takes its low 32 bits either way.
template <typename Request> int call_ioctl(int (*call)(int, Request, ...), int dev, unsigned long request, void *arg) {
    return call(dev, static_cast<Request>(request), arg);
}

int mtd_ioctl(int dev, unsigned long request, void *arg) { return call_ioctl(ioctl, dev, request, arg); }

bool has_bad_blocks(int type) { return type == MTD_NANDFLASH || type == MTD_MLCNANDFLASH; }

[[noreturn]] void flashing_failed(const char *part_name) { fatal("flashing '%s' failed", part_name); }

[[noreturn]] void fail_and_release(unsigned char *buf, int dev, const char *part_name) {
    free(buf);
    (void)close(dev);
    flashing_failed(part_name);
}

// Fills buf with the next chunk of the image. Returns the number of bytes
// read (0 at the end of the image) or -1 after reporting a read error.
int64_t read_chunk(int image, unsigned char *buf) {
    int64_t fill = 0;
    while (fill < erase_size) {
        const ssize_t n = read(image, buf + fill, static_cast<size_t>(erase_size - fill));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            perror("read");
            return -1;
        }
        if (n == 0)
            break;
        fill += n;
    }
    return fill;
}

// Unlocks and erases the block at offset. Offsets whose block ends past
// 4 GiB take the 64-bit erase request; the unlock request has no such form
// and is left out there rather than sent a wrapped position.
int erase_block(int dev, int64_t offset) {
    if (offset + erase_size <= erase32_limit) {
        erase_info_user request{};
        request.start = static_cast<uint32_t>(offset);
        request.length = static_cast<uint32_t>(erase_size);
        (void)mtd_ioctl(dev, MEMUNLOCK, &request);
        return mtd_ioctl(dev, MEMERASE, &request);
    }
    erase_info_user64 request{};
    request.start = static_cast<__u64>(offset);
    request.length = static_cast<__u64>(erase_size);
    return mtd_ioctl(dev, MEMERASE64, &request);
}

// Writes the whole chunk at the device's current position. Returns 0, or -1
// after its diagnostic.
int write_chunk(int dev, const unsigned char *buf, const char *part_name) {
    uint32_t written = 0;
    const auto fill = static_cast<uint32_t>(erase_size);
    while (written < fill) {
        const ssize_t n = write(dev, buf + written, fill - written);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            perror("write");
            return -1;
        }
        if (n == 0) {
            print_to(stderr, "mtd: insufficient space on %s\n", part_name);
            return -1;
        }
        written += static_cast<uint32_t>(n);
    }
    return 0;
}

} // namespace

void flash_image(const char *image_path, const char *part_name) {
    const int image = open(image_path, O_RDONLY | O_CLOEXEC);
    if (image < 0)
        fatal("cannot open image '%s': %s", image_path, strerror(errno));

    const int dev = open_mtd_by_name(part_name);
    if (dev < 0) {
        print_to(stderr, "mtd: cannot open %s\n", part_name);
        flashing_failed(part_name);
    }

    mtd_info_user info{};
    if (mtd_ioctl(dev, MEMGETINFO, &info) != 0) {
        print_to(stderr, "mtd: MEMGETINFO failed for %s\n", part_name);
        (void)close(dev);
        flashing_failed(part_name);
    }
    flash_type = info.type;
    erase_size = static_cast<int32_t>(info.erasesize);

    // A block size of 0 would make every chunk empty and report success
    // without writing anything.
    if (erase_size <= 0) {
        print_to(stderr, "mtd: %s reports an unusable erase block size of %u bytes\n", part_name, info.erasesize);
        (void)close(dev);
        flashing_failed(part_name);
    }

    auto *buf = static_cast<unsigned char *>(malloc(static_cast<size_t>(erase_size)));
    if (buf == nullptr) {
        fputs("mtd: out of memory\n", stderr);
        (void)close(dev);
        flashing_failed(part_name);
    }

    if (run_options.verbosity > 0)
        print_to(stderr, "Writing to %s ...\n", part_name);

    int64_t queued = 0;
    int64_t offset = 0;
    int64_t skipped = 0;
    for (;;) {
        const int64_t fill = read_chunk(image, buf);
        if (fill < 0)
            fail_and_release(buf, dev, part_name);
        if (fill == 0)
            break;
        if (fill < erase_size)
            memset(buf + fill, 0xff, static_cast<size_t>(erase_size - fill));
        queued += erase_size;

        // Skip bad blocks up to the next good one, then erase it. The
        // device position follows the offset: writes move it over erased
        // blocks, a relative seek over bad ones.
        while (queued > offset - skipped) {
            if (has_bad_blocks(flash_type)) {
                loff_t position = offset;
                const int bad = mtd_ioctl(dev, MEMGETBADBLOCK, &position);
                if (bad < 0) {
                    print_to(stderr, "mtd: MEMGETBADBLOCK failed at 0x%x\n", static_cast<unsigned>(offset));
                    exit(1);
                }
                if (bad > 0) {
                    if (run_options.verbosity > 0)
                        print_to(stderr, "Skipping bad block at 0x%08zx\n", static_cast<size_t>(offset));
                    skipped += erase_size;
                    offset += erase_size;
                    (void)lseek(dev, erase_size, SEEK_CUR);
                    continue;
                }
            }
            if (erase_block(dev, offset) < 0) {
                print_to(stderr, "mtd: MEMERASE failed at 0x%08zx: %s\n", static_cast<size_t>(offset), strerror(errno));
                fail_and_release(buf, dev, part_name);
            }
            offset += erase_size;
        }

        if (write_chunk(dev, buf, part_name) < 0)
            fail_and_release(buf, dev, part_name);
    }

    free(buf);
    (void)close(dev);
    if (run_options.verbosity > 0)
        fputs("Done.\n", stderr);
    (void)close(image);
}

void run_writing_sequence(const char *image_path) {
    log_progress("Performing system upgrade...");
    check_protected(run_options.part_name);
    log_progress("Writing %s to mtd partition '%s'", image_path, run_options.part_name);
    flash_image(image_path, run_options.part_name);
}
