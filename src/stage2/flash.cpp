#include "stage2/flash.h"

#include "base/log.h"
#include "base/options.h"
#include "base/text.h"
#include "mtd/guard.h"
#include "mtd/mtd_device.h"
#include "mtd/mtd_table.h"

#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Past this end a block cannot be described by the 32-bit erase request.
constexpr int64_t erase32_limit = INT64_C(1) << 32;

// UBI's erase-counter header magic, at the start of every UBI image.
constexpr char ubi_magic[] = "UBI#";
constexpr size_t ubi_magic_length = sizeof ubi_magic - 1;

// The partition being written. offset is the next block to examine, and
// the device descriptor's position is kept equal to it: writes and
// relative seeks move it, nothing ever sets it.
struct Target {
    int fd;
    const char *part_name;
    MtdGeometry geo;
    int64_t offset;
};

// How much of the image has been written, for the progress lines.
struct Progress {
    int64_t total;
    int64_t done;
    int tenths; // the last tenth reported
};

[[noreturn]] void flashing_failed(const char *part_name) { fatal("flashing '%s' failed", part_name); }

[[noreturn]] void fail_and_release(unsigned char *buf, const Target &target) {
    free(buf);
    (void)close(target.fd);
    flashing_failed(target.part_name);
}

// A failed bad-block query ends the run at once, without the flashing
// failure and without any cleanup.
[[noreturn]] void bad_block_query_failed(int64_t offset) {
    print_to(stderr, "mtd: MEMGETBADBLOCK failed at 0x%x\n", static_cast<unsigned>(offset));
    exit(1);
}

// Opens the partition and reads its geometry. Every failure ends the run.
Target open_target(const char *part_name) {
    Target target{-1, part_name, MtdGeometry{}, 0};
    target.fd = open_mtd_by_name(part_name);
    if (target.fd < 0) {
        print_to(stderr, "mtd: cannot open %s\n", part_name);
        flashing_failed(part_name);
    }
    if (read_geometry(target.fd, &target.geo) != 0) {
        print_to(stderr, "mtd: MEMGETINFO failed for %s\n", part_name);
        (void)close(target.fd);
        flashing_failed(part_name);
    }
    // A block size of 0 would make every chunk empty and report success
    // without writing anything.
    if (target.geo.erase_size <= 0) {
        print_to(stderr, "mtd: %s reports an unusable erase block size of %u bytes\n", part_name,
                 static_cast<unsigned>(target.geo.erase_size));
        (void)close(target.fd);
        flashing_failed(part_name);
    }
    return target;
}

// An image that cannot fit the good blocks could only destroy the old
// firmware: it is refused before the first erase, whatever the options.
void check_capacity(const Target &target, int64_t image_size) {
    if (image_size <= 0)
        return;
    int64_t failed_at = 0;
    const int64_t good = good_capacity(target.fd, target.geo, image_size, &failed_at);
    if (good < 0)
        bad_block_query_failed(failed_at);
    if (image_size > good) {
        print_to(stderr, "mtd: image is %lld bytes, %s holds only %lld bytes in good blocks\n",
                 static_cast<long long>(image_size), target.part_name, static_cast<long long>(good));
        (void)close(target.fd);
        flashing_failed(target.part_name);
    }
}

// Fills buf with the next chunk of the image. Returns the number of bytes
// read (0 at the end of the image) or -1 after reporting a read error.
int64_t read_chunk(int image, unsigned char *buf, int32_t erase_size) {
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

void report_bad_block(int64_t offset) {
    if (run_options.verbosity > 0)
        print_to(stderr, "Skipping bad block at 0x%08llx\n", static_cast<unsigned long long>(offset));
}

// Moves target.offset (and the device position with it) over bad blocks
// up to the next good one.
void skip_bad_blocks(Target &target) {
    for (;;) {
        const int bad = query_bad_block(target.fd, target.geo, target.offset);
        if (bad < 0)
            bad_block_query_failed(target.offset);
        if (bad == 0)
            return;
        report_bad_block(target.offset);
        target.offset += target.geo.erase_size;
        (void)lseek(target.fd, target.geo.erase_size, SEEK_CUR);
    }
}

// Unlocks and erases the block at target.offset. Blocks that end past
// 4 GiB take the 64-bit erase request; the unlock request has no such form
// and is left out there rather than sent a wrapped position. Returns 0, or
// -1 after its diagnostic.
int erase_block(const Target &target) {
    const int64_t offset = target.offset;
    const int32_t size = target.geo.erase_size;
    int rc = 0;
    if (offset + size <= erase32_limit) {
        erase_info_user request{};
        request.start = static_cast<uint32_t>(offset);
        request.length = static_cast<uint32_t>(size);
        (void)mtd_ioctl(target.fd, MEMUNLOCK, &request);
        rc = mtd_ioctl(target.fd, MEMERASE, &request);
    } else {
        erase_info_user64 request{};
        request.start = static_cast<__u64>(offset);
        request.length = static_cast<__u64>(size);
        rc = mtd_ioctl(target.fd, MEMERASE64, &request);
    }
    if (rc < 0)
        print_to(stderr, "mtd: MEMERASE failed at 0x%08llx: %s\n", static_cast<unsigned long long>(offset),
                 strerror(errno));
    return rc;
}

bool all_ff(const unsigned char *p, int32_t n) {
    for (int32_t i = 0; i < n; i++) {
        if (p[i] != 0xff)
            return false;
    }
    return true;
}

// How much of a chunk to program. On NAND a page programmed with nothing
// but 0xFF gets ECC bytes that are not 0xFF, and is then no longer free for
// the file system that later writes into it: only the pages up to the last
// one holding data are programmed. NOR takes the whole block.
int32_t programmed_length(const unsigned char *buf, const MtdGeometry &geo) {
    if (!is_nand_type(geo.type))
        return geo.erase_size;
    int32_t end = geo.erase_size;
    while (end > 0 && all_ff(buf + end - geo.page_size, geo.page_size))
        end -= geo.page_size;
    return end;
}

// Programs the first `length` bytes of the chunk at the device position,
// then moves the position over the rest of the block. Returns 0, or -1
// after its diagnostic.
int write_chunk(const Target &target, const unsigned char *buf, int32_t length) {
    uint32_t written = 0;
    const auto fill = static_cast<uint32_t>(length);
    while (written < fill) {
        const ssize_t n = write(target.fd, buf + written, fill - written);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            perror("write");
            return -1;
        }
        if (n == 0) {
            print_to(stderr, "mtd: insufficient space on %s\n", target.part_name);
            return -1;
        }
        written += static_cast<uint32_t>(n);
    }
    if (length < target.geo.erase_size)
        (void)lseek(target.fd, target.geo.erase_size - length, SEEK_CUR);
    return 0;
}

// UBI writes its headers, with the image's sequence number, into every
// block of the partition once it has attached. Blocks past a new UBI image
// still carrying the old image's headers make the next attach fail, so
// they are erased (and not written): UBI then formats them. Bad blocks are
// skipped; nothing is written, so the device position no longer matters.
void erase_past_ubi_image(Target &target, unsigned char *buf) {
    if (run_options.verbosity > 0)
        print_to(stderr, "Erasing the rest of %s for UBI ...\n", target.part_name);
    for (; target.offset + target.geo.erase_size <= target.geo.size; target.offset += target.geo.erase_size) {
        const int bad = query_bad_block(target.fd, target.geo, target.offset);
        if (bad < 0)
            bad_block_query_failed(target.offset);
        if (bad > 0) {
            report_bad_block(target.offset);
            continue;
        }
        if (erase_block(target) < 0)
            fail_and_release(buf, target);
    }
}

// At -v and above, a line for every further tenth of the image written.
void report_progress(Progress &progress, int64_t chunk) {
    progress.done += chunk;
    if (run_options.verbosity < 2 || progress.total <= 0)
        return;
    const int tenths = progress.done >= progress.total ? 10 : static_cast<int>(progress.done * 10 / progress.total);
    if (tenths <= progress.tenths)
        return;
    progress.tenths = tenths;
    const int64_t done = progress.done < progress.total ? progress.done : progress.total;
    print_to(stderr, "Progress: %d%% (%lld of %lld KiB)\n", tenths * 10, static_cast<long long>((done + 1023) / 1024),
             static_cast<long long>((progress.total + 1023) / 1024));
}

} // namespace

void flash_image(const char *image_path, const char *part_name) {
    const int image = open(image_path, O_RDONLY | O_CLOEXEC);
    struct stat image_st {};
    if (image < 0 || fstat(image, &image_st) < 0)
        fatal("cannot open image '%s': %s", image_path, strerror(errno));

    Target target = open_target(part_name);
    check_capacity(target, image_st.st_size);

    const int32_t erase_size = target.geo.erase_size;
    auto *buf = static_cast<unsigned char *>(malloc(static_cast<size_t>(erase_size)));
    if (buf == nullptr) {
        fputs("mtd: out of memory\n", stderr);
        (void)close(target.fd);
        flashing_failed(part_name);
    }

    if (run_options.verbosity > 0)
        print_to(stderr, "Writing to %s ...\n", part_name);

    // One erase block per chunk: read it, fill it up with 0xFF, find the
    // next good block, erase it and write. At any moment at most one block
    // is erased and not yet written.
    Progress progress{image_st.st_size, 0, 0};
    bool ubi_image = false;
    for (;;) {
        const int64_t fill = read_chunk(image, buf, erase_size);
        if (fill < 0)
            fail_and_release(buf, target);
        if (fill == 0)
            break;
        if (progress.done == 0)
            ubi_image = fill >= static_cast<int64_t>(ubi_magic_length) && memcmp(buf, ubi_magic, ubi_magic_length) == 0;
        if (fill < erase_size)
            memset(buf + fill, 0xff, static_cast<size_t>(erase_size - fill));

        skip_bad_blocks(target);
        if (erase_block(target) < 0)
            fail_and_release(buf, target);
        if (write_chunk(target, buf, programmed_length(buf, target.geo)) < 0)
            fail_and_release(buf, target);
        target.offset += erase_size;
        report_progress(progress, fill);
    }
    if (ubi_image)
        erase_past_ubi_image(target, buf);

    free(buf);
    (void)close(target.fd);
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
