#include "image/image_format.h"

#include "base/options.h"
#include "base/text.h"
#include "image/digest.h"
#include "image/fit.h"
#include "mtd/mtd_device.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr uint32_t uimage_magic = 0x27051956;
constexpr uint32_t fit_magic = 0xd00dfeed;
constexpr uint32_t squashfs_magic = 0x73717368; // "hsqs", little-endian
constexpr uint32_t ubi_ec_magic = 0x55424923;   // "UBI#"
constexpr int uimage_header_size = 64;
constexpr int fdt_header_size = 40;
constexpr int squashfs_super_size = 96;
constexpr int ubi_ec_header_size = 64;
constexpr int ubi_ec_crc_offset = 60;
// The header bytes each check reads.
constexpr int header_bytes = 96;

uint32_t le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 |
           p[0];
}

// Lengths from a header are unsigned 64-bit values, compared as such: a
// huge one must not wrap into a small or negative figure.
int failed(const char *format_name, const char *what, long long have, unsigned long long want) {
    print_to(stderr, "%s: %s %lld bytes, its header announces %llu\n", format_name, what, have, want);
    return -1;
}

bool shorter(long long size, unsigned long long want) { return static_cast<unsigned long long>(size) < want; }

// A file that begins with a format's magic but ends inside its header.
int cut_in_header(const char *format_name, long long size, int header_size) {
    print_to(stderr, "%s: the file is %lld bytes, shorter than its %d-byte header\n", format_name, size, header_size);
    return -1;
}

int crc_failed(const char *what, uint32_t computed, uint32_t stored) {
    print_to(stderr, "%s CRC is 0x%08x, the header holds 0x%08x\n", what, computed, stored);
    return -1;
}

int check_uimage(int fd, const unsigned char *header, long long size) {
    unsigned char copy[uimage_header_size];
    memcpy(copy, header, sizeof copy);
    memset(copy + 4, 0, 4);
    const uint32_t header_crc = crc32_update(0, copy, sizeof copy);
    if (header_crc != be32(header + 4))
        return crc_failed("uImage: header", header_crc, be32(header + 4));
    const uint32_t data_size = be32(header + 12);
    if (shorter(size - uimage_header_size, data_size))
        return failed("uImage", "the file holds data of", size - uimage_header_size, data_size);
    unsigned char buf[16384];
    constexpr auto buf_size = static_cast<long long>(sizeof buf);
    uint32_t crc = 0;
    for (long long done = 0; done < data_size;) {
        const long long want = data_size - done < buf_size ? data_size - done : buf_size;
        const ssize_t n = read_at(fd, buf, static_cast<size_t>(want), static_cast<uint64_t>(uimage_header_size + done));
        if (n <= 0)
            return failed("uImage", "the file could be read only for", done, data_size);
        crc = crc32_update(crc, buf, static_cast<size_t>(n));
        done += n;
    }
    if (crc != be32(header + 24))
        return crc_failed("uImage: data", crc, be32(header + 24));
    return 0;
}

int check_ubi(int fd, long long size, int32_t erase_size) {
    uint64_t rest = 0;
    const auto blocks =
        static_cast<long long>(divide_u64(static_cast<uint64_t>(size), static_cast<uint64_t>(erase_size), &rest));
    if (rest != 0) {
        print_to(stderr, "UBI image: the file is %lld bytes, not a whole number of %lld-byte erase blocks\n", size,
                 static_cast<long long>(erase_size));
        return -1;
    }
    for (long long block = 0; block < blocks; block++) {
        unsigned char ec[ubi_ec_header_size];
        const bool whole =
            read_at(fd, ec, sizeof ec, static_cast<uint64_t>(block * erase_size)) == static_cast<ssize_t>(sizeof ec);
        // An erased header is a free block to UBI: images are often padded
        // with 0xFF to the partition or to a block multiple.
        if (whole && is_erased(ec, sizeof ec))
            continue;
        if (!whole || be32(ec) != ubi_ec_magic) {
            print_to(stderr, "UBI image: erase block %lld does not begin with an erase-counter header\n", block);
            return -1;
        }
        const uint32_t crc = ~crc32_update(0, ec, ubi_ec_crc_offset); // no final inversion
        if (crc != be32(ec + ubi_ec_crc_offset)) {
            print_to(stderr, "UBI image: erase block %lld: header CRC is 0x%08x, the header holds 0x%08x\n", block, crc,
                     be32(ec + ubi_ec_crc_offset));
            return -1;
        }
    }
    return 0;
}

// Which format the header shows, and its check: -1 failed, 0 passed, 1 no
// known format (or none that can be checked here). *checked says what a
// passing check looked at.
int check_known_format(int fd, const unsigned char *header, ssize_t have, long long size, int32_t erase_size,
                       const FitKeys &keys, const char **name, const char **checked) {
    if (have < 4)
        return 1;
    *checked = "length is right";
    if (be32(header) == uimage_magic) {
        *name = "legacy U-Boot image";
        *checked = "length and CRCs are right";
        if (size < uimage_header_size)
            return cut_in_header("uImage", size, uimage_header_size);
        return check_uimage(fd, header, size);
    }
    if (be32(header) == fit_magic) {
        *name = "FIT image";
        if (size < fdt_header_size)
            return cut_in_header(*name, size, fdt_header_size);
        const unsigned long long total = be32(header + 4);
        if (shorter(size, total))
            return failed(*name, "the file is", size, total);
        return check_fit(fd, size, keys, checked);
    }
    if (le32(header) == squashfs_magic) {
        *name = "squashfs 4 image";
        if (size < squashfs_super_size)
            return cut_in_header("squashfs", size, squashfs_super_size);
        // Other versions keep their length elsewhere.
        if (header[28] != 4 || header[29] != 0)
            return 1;
        const unsigned long long used = static_cast<unsigned long long>(le32(header + 44)) << 32 | le32(header + 40);
        return shorter(size, used) ? failed("squashfs", "the file is", size, used) : 0;
    }
    if (be32(header) == ubi_ec_magic && erase_size > 0) {
        *name = "UBI image";
        *checked = "erase-counter headers are right";
        return check_ubi(fd, size, erase_size);
    }
    return 1;
}

} // namespace

uint32_t be32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

ssize_t read_at(int fd, unsigned char *buf, size_t length, uint64_t offset) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = pread(fd, buf + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

int check_image_format(const char *path, long long size, int32_t erase_size) {
    return check_image_format_with(path, size, erase_size, built_in_fit_keys, nullptr);
}

int check_image_format_with(const char *path, long long size, int32_t erase_size, const FitKeys &keys,
                            bool *signed_ok) {
    if (signed_ok != nullptr)
        *signed_ok = false;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0 && keys.count > 0) {
        print_to(stderr, "cannot read %s: %s\n", path, strerror(errno));
        return -1;
    }
    if (fd < 0)
        return 0; // checked as before: the size tests have passed
    unsigned char header[header_bytes];
    const ssize_t have = read_at(fd, header, sizeof header, 0);
    // A file that ended before the header bytes asked for is that long now,
    // whatever its status said when it was taken: the checks go by the
    // bytes read, never by header bytes that were not filled.
    if (have >= 0 && have < header_bytes && have < size)
        size = have;
    const char *name = "";
    const char *checked = "";
    const bool fit = have >= 4 && be32(header) == fit_magic;
    int rc = 0;
    if (keys.count > 0 && !fit) {
        fputs("image is not a signed FIT\n", stderr);
        rc = -1;
    } else {
        rc = check_known_format(fd, header, have, size, erase_size, keys, &name, &checked);
    }
    (void)close(fd);
    if (signed_ok != nullptr)
        *signed_ok = rc == 0 && fit && keys.count > 0;
    if (rc == 0 && run_options.verbosity > 1)
        print_to(stderr, "%s: its %s\n", name, checked);
    return rc < 0 ? -1 : 0;
}
