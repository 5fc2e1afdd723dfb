#include "stage2/flash.h"

#include "base/log.h"
#include "base/options.h"
#include "base/text.h"
#include "mtd/guard.h"
#include "mtd/mtd_device.h"
#include "mtd/mtd_table.h"
#include "stage2/ubi.h"

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

// Every image format keeps its magic in its first 4 bytes: on NOR the
// first block's first write unit, at least these, is programmed last.
constexpr int32_t magic_size = 4;

// UBI's erase-counter header magic, at the start of every UBI image.
constexpr char ubi_magic[] = "UBI#";
constexpr size_t ubi_magic_length = sizeof ubi_magic - 1;

// NAND blocks failing one after another point at the device or its
// driver, not at the blocks: the run stops rather than mark this many in a
// row bad.
constexpr int max_failures_in_row = 4;

// Why a block could not take its chunk.
enum class Fault { none, erase, write, verify };

constexpr const char *fault_texts[] = {"no fault", "erase failed", "write failed", "read-back differs"};

const char *fault_text(Fault fault) { return fault_texts[static_cast<int>(fault)]; }

// The partition being written.
struct Target {
    int fd;
    const char *part_name;
    MtdGeometry geo;
    int index; // its MTD index, -1 when the descriptor is no MTD device
};

// How much of the image has been written, for the progress lines.
struct Progress {
    int64_t total;
    int64_t done;
    int tenths; // the last tenth reported
};

// Where the write stands. The three buffers are one allocation: the
// image's first chunk, kept until everything else is in place; the chunk
// in hand; and what is read back from the flash.
struct Writer {
    Target target;
    unsigned char *first;
    unsigned char *chunk;
    unsigned char *check;
    int64_t offset;       // the next block to examine
    int64_t first_offset; // the block that takes the first chunk, last
    bool first_erased;
    int64_t chunks_left; // chunks of the image without a block yet
    int failures_in_row;
    int64_t chunks;    // chunks of the image
    int64_t unchanged; // NOR blocks that already held their chunk
    Progress progress;
};

[[noreturn]] void flashing_failed(const char *part_name) { fatal("flashing '%s' failed", part_name); }

[[noreturn]] void fail(Writer &w) {
    free(w.first);
    (void)close(w.target.fd);
    flashing_failed(w.target.part_name);
}

// A failed bad-block query ends the run at once, without the flashing
// failure and without any cleanup.
[[noreturn]] void bad_block_query_failed(int64_t offset) {
    print_to(stderr, "mtd: MEMGETBADBLOCK failed at 0x%x\n", static_cast<unsigned>(offset));
    exit(1);
}

// Opens the partition and reads its geometry. Every failure ends the run.
Target open_target(const char *part_name, dev_t guarded) {
    Target target{-1, part_name, MtdGeometry{}, -1};
    bool as_path = false;
    target.fd = open_mtd_by_name(part_name, &as_path);
    if (target.fd < 0) {
        print_to(stderr, "mtd: cannot open %s\n", part_name);
        flashing_failed(part_name);
    }
    struct stat st {};
    if (fstat(target.fd, &st) == 0)
        target.index = mtd_index_of(st);
    // Opened through a path, the descriptor must still be what the guard saw
    // there: a link swapped in between must not lead the write elsewhere.
    const bool guarded_device = guarded == 0 ? target.index < 0 : target.index >= 0 && st.st_rdev == guarded;
    if (as_path && !guarded_device) {
        print_to(stderr, "mtd: %s is not the device that was checked\n", part_name);
        (void)close(target.fd);
        flashing_failed(part_name);
    }
    if (read_geometry(target.fd, &target.geo) != 0) {
        print_to(stderr, "mtd: MEMGETINFO failed for %s\n", part_name);
        (void)close(target.fd);
        flashing_failed(part_name);
    }
    if (!erase_size_usable(target.geo, part_name)) {
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
    const int64_t good = good_capacity(target.fd, target.geo, 0, image_size, &failed_at);
    if (good < 0)
        bad_block_query_failed(failed_at);
    if (image_size > good) {
        print_to(stderr, "mtd: image is %lld bytes, %s holds only %lld bytes in good blocks\n",
                 static_cast<long long>(image_size), target.part_name, static_cast<long long>(good));
        (void)close(target.fd);
        flashing_failed(target.part_name);
    }
}

// "read: " or "write: " and the system's text for errno, as perror()
// prints them, without the C library's copy of it.
void report_error(const char *what) { print_to(stderr, "%s: %s\n", what, strerror(errno)); }

// Fills buf with the next chunk of the image, and the rest of it with
// 0xFF. Returns the number of bytes read (0 at the end of the image) or -1
// after reporting a read error.
int64_t read_chunk(int image, unsigned char *buf, int32_t erase_size) {
    int64_t fill = 0;
    while (fill < erase_size) {
        const ssize_t n = read(image, buf + fill, static_cast<size_t>(erase_size - fill));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            report_error("read");
            return -1;
        }
        if (n == 0)
            break;
        fill += n;
    }
    if (fill > 0 && fill < erase_size)
        memset(buf + fill, 0xff, static_cast<size_t>(erase_size - fill));
    return fill;
}

void report_bad_block(int64_t offset) {
    if (run_options.verbosity > 0)
        print_to(stderr, "Skipping bad block at 0x%08llx\n", static_cast<unsigned long long>(offset));
}

// Moves w.offset over bad blocks up to the next good one.
void skip_bad_blocks(Writer &w) {
    for (;;) {
        const int bad = query_bad_block(w.target.fd, w.target.geo, w.offset);
        if (bad < 0)
            bad_block_query_failed(w.offset);
        if (bad == 0)
            return;
        report_bad_block(w.offset);
        w.offset += w.target.geo.erase_size;
    }
}

// Unlocks and erases the block at offset. Blocks that end past 4 GiB take
// the 64-bit erase request; the unlock request has no such form and is
// left out there rather than sent a wrapped position. Returns 0, or -1
// after its diagnostic.
int erase_block(const Target &target, int64_t offset) {
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

// Whether n bytes at a equal those at b. Four machine words at a time:
// every block written is compared, and the C library's memcmp may go byte
// by byte (musl's does), which costs about as much as a NAND read-back on
// a slow core.
bool same_bytes(const unsigned char *a, const unsigned char *b, size_t n) {
    constexpr size_t step = 4 * sizeof(uint64_t);
    size_t i = 0;
    for (; i + step <= n; i += step) {
        uint64_t x[4];
        uint64_t y[4];
        memcpy(x, a + i, step);
        memcpy(y, b + i, step);
        if (((x[0] ^ y[0]) | (x[1] ^ y[1]) | (x[2] ^ y[2]) | (x[3] ^ y[3])) != 0)
            return false;
    }
    for (; i < n; i++) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

// How much of a chunk to program. On NAND a page programmed with nothing
// but 0xFF gets ECC bytes that are not 0xFF, and is then no longer free for
// the file system that later writes into it: the trailing run of such
// pages in a block is left erased. NOR takes the whole block.
int32_t programmed_length(const unsigned char *buf, const MtdGeometry &geo) {
    if (!is_nand_type(geo.type))
        return geo.erase_size;
    int32_t end = geo.erase_size;
    while (end > 0 && is_erased(buf + end - geo.page_size, static_cast<size_t>(geo.page_size)))
        end -= geo.page_size;
    return end;
}

// Writes `length` bytes of data at offset. Returns 0, or -1 after its
// diagnostic.
int write_at(const Target &target, const unsigned char *data, int32_t length, int64_t offset) {
    uint32_t written = 0;
    const auto fill = static_cast<uint32_t>(length);
    while (written < fill) {
        const ssize_t n = pwrite(target.fd, data + written, fill - written, static_cast<off_t>(offset + written));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            report_error("write");
            return -1;
        }
        if (n == 0) {
            print_to(stderr, "mtd: insufficient space on %s\n", target.part_name);
            return -1;
        }
        written += static_cast<uint32_t>(n);
    }
    return 0;
}

// Whether the flash at offset holds the `length` bytes of data. A read
// from an MTD device reports no ECC trouble: an uncorrectable page comes
// back garbled with a full count, so the comparison is the check. A read
// that fails counts as a difference.
bool flash_holds(const Writer &w, const unsigned char *data, int32_t length, int64_t offset) {
    int32_t done = 0;
    while (done < length) {
        const ssize_t n =
            pread(w.target.fd, w.check + done, static_cast<size_t>(length - done), static_cast<off_t>(offset + done));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<int32_t>(n);
    }
    return same_bytes(w.check, data, static_cast<size_t>(length));
}

// Programs an erased block with its chunk and reads back what was
// programmed. The block's first head_last bytes, when given, go in after
// the rest.
Fault program_block(const Writer &w, const unsigned char *data, int64_t offset, int32_t head_last = 0) {
    const int32_t length = programmed_length(data, w.target.geo);
    const int32_t head = head_last < length ? head_last : 0;
    if (write_at(w.target, data + head, length - head, offset + head) < 0 || write_at(w.target, data, head, offset) < 0)
        return Fault::write;
    return flash_holds(w, data, length, offset) ? Fault::none : Fault::verify;
}

// Marks the NAND block at offset bad and says so, or why not. Returns the
// result of the marking.
int mark_and_report(const Writer &w, int64_t offset, Fault fault) {
    const auto at = static_cast<unsigned long long>(offset);
    const int rc = mark_bad_block(w.target.fd, offset);
    if (rc < 0)
        print_to(stderr, "mtd: MEMSETBADBLOCK failed at 0x%08llx: %s\n", at, strerror(errno));
    else
        print_to(stderr, "mtd: marked the block at 0x%08llx bad: %s\n", at, fault_text(fault));
    return rc;
}

// A NAND block that failed is marked bad and passed over, as long as the
// rest of the image still fits the good blocks behind it. Every other
// outcome ends the run.
void give_up_block(Writer &w, Fault fault) {
    const auto at = static_cast<unsigned long long>(w.offset);
    if (++w.failures_in_row >= max_failures_in_row) {
        print_to(stderr,
                 "mtd: %d blocks in a row failed, the last at 0x%08llx: the device or its driver is at fault, "
                 "no more blocks are marked bad\n",
                 w.failures_in_row, at);
        fail(w);
    }
    if (mark_and_report(w, w.offset, fault) < 0)
        fail(w);
    w.offset += w.target.geo.erase_size;
    const int64_t needed = w.chunks_left * w.target.geo.erase_size;
    int64_t failed_at = 0;
    const int64_t good = good_capacity(w.target.fd, w.target.geo, w.offset, needed, &failed_at);
    if (good < 0)
        bad_block_query_failed(failed_at);
    if (good < needed) {
        print_to(stderr, "mtd: the rest of the image, %lld bytes, no longer fits %s: %lld bytes of good blocks left\n",
                 static_cast<long long>(needed), w.target.part_name, static_cast<long long>(good));
        fail(w);
    }
}

// NAND: the next good block that erases, programs and reads back right
// takes the chunk; each one that fails on the way is marked bad.
void place_on_nand(Writer &w, const unsigned char *data) {
    for (;;) {
        skip_bad_blocks(w);
        const Fault fault = erase_block(w.target, w.offset) < 0 ? Fault::erase : program_block(w, data, w.offset);
        if (fault == Fault::none)
            break;
        give_up_block(w, fault);
    }
    w.failures_in_row = 0;
    w.offset += w.target.geo.erase_size;
}

void erase_or_fail(Writer &w, int64_t offset) {
    if (erase_block(w.target, offset) < 0)
        fail(w);
}

// NOR: the first block is erased before any other block is touched, so
// that a partition cut short never starts with the new image's header.
void erase_first_block(Writer &w) {
    if (w.first_erased)
        return;
    erase_or_fail(w, w.first_offset);
    w.first_erased = true;
}

// NOR has no bad blocks to move to: a block whose write or read-back fails
// is erased and written once more.
Fault program_nor(Writer &w, const unsigned char *data, int64_t offset, bool erased, int32_t head_last = 0) {
    if (!erased)
        erase_or_fail(w, offset);
    Fault fault = program_block(w, data, offset, head_last);
    if (fault == Fault::none)
        return fault;
    const auto at = static_cast<unsigned long long>(offset);
    print_to(stderr, "mtd: %s at 0x%08llx, erasing and writing the block once more\n", fault_text(fault), at);
    erase_or_fail(w, offset);
    fault = program_block(w, data, offset, head_last);
    if (fault != Fault::none)
        print_to(stderr, "mtd: %s again at 0x%08llx\n", fault_text(fault), at);
    return fault;
}

// NOR: a block that already holds its chunk is neither erased nor written
// (erasing dominates the time of a NOR write, and wears the block).
void place_on_nor(Writer &w, const unsigned char *data) {
    if (flash_holds(w, data, w.target.geo.erase_size, w.offset)) {
        w.unchanged++;
    } else {
        erase_first_block(w);
        if (program_nor(w, data, w.offset, false) != Fault::none)
            fail(w);
    }
    w.offset += w.target.geo.erase_size;
}

// Takes the block for the first chunk before anything else is erased or
// written. NAND: the first good block that erases. NOR: block 0, erased
// only once some block needs writing; returns whether it already holds the
// first chunk.
bool reserve_first_block(Writer &w) {
    bool same = false;
    if (is_nand_type(w.target.geo.type)) {
        for (;;) {
            skip_bad_blocks(w);
            if (erase_block(w.target, w.offset) == 0)
                break;
            give_up_block(w, Fault::erase);
        }
        w.failures_in_row = 0;
        w.first_erased = true;
    } else {
        same = flash_holds(w, w.first, w.target.geo.erase_size, w.offset);
    }
    w.first_offset = w.offset;
    w.offset += w.target.geo.erase_size;
    w.chunks_left--;
    return same;
}

// Last: the first chunk into its block, once every other chunk is in
// place. Until then the partition starts with an erased block, which a
// bootloader rejects, whenever the power goes.
void write_first_chunk(Writer &w, bool same) {
    Fault fault = Fault::none;
    const auto at = static_cast<unsigned long long>(w.first_offset);
    if (is_nand_type(w.target.geo.type)) {
        // A failing block is marked bad here too, so that the next attempt
        // takes the next good block as the first.
        fault = program_block(w, w.first, w.first_offset);
        if (fault != Fault::none)
            (void)mark_and_report(w, w.first_offset, fault);
    } else if (same && !w.first_erased) {
        w.unchanged++;
    } else {
        // Its first write unit (the partition's write size, at least the 4
        // bytes of the magic) goes in last, after the rest of the block: the
        // CFI driver programs in address order, and a cut during that last
        // write leaves no magic over a half-written block. NAND must program
        // a block's pages in order.
        const int32_t unit = w.target.geo.page_size > magic_size ? w.target.geo.page_size : magic_size;
        fault = program_nor(w, w.first, w.first_offset, w.first_erased, unit);
    }
    if (fault != Fault::none) {
        print_to(stderr,
                 "mtd: the first block of %s, at 0x%08llx, could not be written: the partition has no valid "
                 "start\n",
                 w.target.part_name, at);
        fail(w);
    }
}

// UBI writes its headers, with the image's sequence number, into every
// block of the partition once it has attached. Blocks past a new UBI image
// still carrying the old image's headers make the next attach fail, so
// they are erased (and not written): UBI then formats them. NAND bad
// blocks are skipped, a NAND block that fails to erase is marked bad; NOR
// blocks already erased are left alone.
void erase_past_ubi_image(Writer &w) {
    if (run_options.verbosity > 0)
        print_to(stderr, "Erasing the rest of %s for UBI ...\n", w.target.part_name);
    const int32_t size = w.target.geo.erase_size;
    const bool nand = is_nand_type(w.target.geo.type);
    memset(w.chunk, 0xff, static_cast<size_t>(size));
    while (w.offset + size <= w.target.geo.size) {
        if (nand) {
            const int bad = query_bad_block(w.target.fd, w.target.geo, w.offset);
            if (bad < 0)
                bad_block_query_failed(w.offset);
            if (bad > 0) {
                report_bad_block(w.offset);
            } else if (erase_block(w.target, w.offset) < 0) {
                give_up_block(w, Fault::erase); // moves w.offset past the block
                continue;
            } else {
                w.failures_in_row = 0;
            }
        } else if (!flash_holds(w, w.chunk, size, w.offset)) {
            erase_first_block(w);
            erase_or_fail(w, w.offset);
        }
        w.offset += size;
    }
}

// At -v and above, a line for every further tenth of the image written.
void report_progress(Progress &progress, int64_t chunk) {
    progress.done += chunk;
    if (run_options.verbosity < 2 || progress.total <= 0)
        return;
    const int tenths = progress.done >= progress.total
                           ? 10
                           : static_cast<int>(divide_u64(static_cast<uint64_t>(progress.done) * 10,
                                                         static_cast<uint64_t>(progress.total)));
    if (tenths <= progress.tenths)
        return;
    progress.tenths = tenths;
    const int64_t done = progress.done < progress.total ? progress.done : progress.total;
    print_to(stderr, "Progress: %d%% (%lld of %lld KiB)\n", tenths * 10, static_cast<long long>((done + 1023) / 1024),
             static_cast<long long>((progress.total + 1023) / 1024));
}

// Every chunk after the first, each to its block, then the first.
void write_chunks(Writer &w, int image, int64_t first_fill) {
    const bool nand = is_nand_type(w.target.geo.type);
    const bool ubi_image =
        first_fill >= static_cast<int64_t>(ubi_magic_length) && memcmp(w.first, ubi_magic, ubi_magic_length) == 0;
    const bool first_same = reserve_first_block(w);
    for (;;) {
        const int64_t fill = read_chunk(image, w.chunk, w.target.geo.erase_size);
        if (fill < 0)
            fail(w);
        if (fill == 0)
            break;
        if (nand)
            place_on_nand(w, w.chunk);
        else
            place_on_nor(w, w.chunk);
        if (w.chunks_left > 0)
            w.chunks_left--;
        report_progress(w.progress, fill);
    }
    if (ubi_image)
        erase_past_ubi_image(w);
    write_first_chunk(w, first_same);
    report_progress(w.progress, first_fill);
    if (!nand && run_options.verbosity > 1)
        print_to(stderr, "%lld of %lld blocks already up to date\n", static_cast<long long>(w.unchanged),
                 static_cast<long long>(w.chunks));
}

} // namespace

void flash_image(const char *image_path, const char *part_name, dev_t guarded) {
    const int image = open(image_path, O_RDONLY | O_CLOEXEC);
    struct stat image_st {};
    if (image < 0 || fstat(image, &image_st) < 0)
        fatal("cannot open image '%s': %s", image_path, strerror(errno));

    Writer w{};
    w.target = open_target(part_name, guarded);
    if (w.target.index >= 0)
        (void)detach_ubi(w.target.index);
    check_capacity(w.target, image_st.st_size);

    const int32_t erase_size = w.target.geo.erase_size;
    const auto block = static_cast<size_t>(erase_size);
    w.first = block <= SIZE_MAX / 3 ? static_cast<unsigned char *>(malloc(3 * block)) : nullptr;
    if (w.first == nullptr) {
        fputs("mtd: out of memory\n", stderr);
        (void)close(w.target.fd);
        flashing_failed(part_name);
    }
    w.chunk = w.first + block;
    w.check = w.chunk + block;

    if (run_options.verbosity > 0)
        print_to(stderr, "Writing to %s ...\n", part_name);

    w.progress = Progress{image_st.st_size, 0, 0};
    w.chunks = static_cast<int64_t>(divide_u64(static_cast<uint64_t>(image_st.st_size) + block - 1, block));
    w.chunks_left = w.chunks;
    const int64_t first_fill = read_chunk(image, w.first, erase_size);
    if (first_fill < 0)
        fail(w);
    // An empty image erases and writes nothing.
    if (first_fill > 0)
        write_chunks(w, image, first_fill);

    free(w.first);
    (void)close(w.target.fd);
    if (run_options.verbosity > 0)
        fputs("Done.\n", stderr);
    (void)close(image);
}

void run_writing_sequence(const char *image_path) {
    log_progress("Performing system upgrade...");
    const dev_t guarded = check_protected(run_options.part_name);
    log_progress("Writing %s to mtd partition '%s'", image_path, run_options.part_name);
    flash_image(image_path, run_options.part_name, guarded);
}
