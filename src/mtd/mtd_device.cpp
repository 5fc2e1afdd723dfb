#include "mtd/mtd_device.h"

#include "base/text.h"

#include <linux/major.h>
#include <mtd/mtd-user.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The C libraries disagree on the type of ioctl's request (unsigned long in
// glibc, int in musl); the kernel takes its low 32 bits either way.
template <typename Request> int call_ioctl(int (*call)(int, Request, ...), int dev, unsigned long request, void *arg) {
    return call(dev, static_cast<Request>(request), arg);
}

} // namespace

int mtd_ioctl(int dev, unsigned long request, void *arg) { return call_ioctl(ioctl, dev, request, arg); }

bool is_nand_type(int type) { return type == MTD_NANDFLASH || type == MTD_MLCNANDFLASH; }

int read_geometry(int dev, MtdGeometry *geo) {
    mtd_info_user info{};
    if (mtd_ioctl(dev, MEMGETINFO, &info) != 0)
        return -1;
    geo->type = info.type;
    geo->flags = info.flags;
    geo->erase_size = static_cast<int32_t>(info.erasesize);
    const bool whole_pages = info.writesize > 0 && info.erasesize % info.writesize == 0;
    geo->page_size = whole_pages ? static_cast<int32_t>(info.writesize) : geo->erase_size;
    const off_t end = lseek(dev, 0, SEEK_END);
    geo->size = end > 0 ? static_cast<int64_t>(end) : static_cast<int64_t>(info.size);
    (void)lseek(dev, 0, SEEK_SET);
    return 0;
}

int query_bad_block(int dev, const MtdGeometry &geo, int64_t offset) {
    if (!is_nand_type(geo.type))
        return 0;
    long long position = offset; // the kernel takes a 64-bit loff_t
    const int bad = mtd_ioctl(dev, MEMGETBADBLOCK, &position);
    if (bad < 0)
        return -1;
    return bad > 0 ? 1 : 0;
}

int64_t good_capacity(int dev, const MtdGeometry &geo, int64_t from, int64_t needed, int64_t *failed_at) {
    if (!is_nand_type(geo.type))
        return geo.size > from ? geo.size - from : 0;
    int64_t good = 0;
    for (int64_t offset = from; offset + geo.erase_size <= geo.size && good < needed; offset += geo.erase_size) {
        const int bad = query_bad_block(dev, geo, offset);
        if (bad < 0) {
            *failed_at = offset;
            return -1;
        }
        if (bad == 0)
            good += geo.erase_size;
    }
    return good;
}

int mtd_index_of(const struct stat &st) {
    if (!S_ISCHR(st.st_mode) || major(st.st_rdev) != MTD_CHAR_MAJOR)
        return -1;
    return static_cast<int>(minor(st.st_rdev) / 2);
}

bool erase_size_usable(const MtdGeometry &geo, const char *part_name) {
    if (geo.erase_size > 0)
        return true;
    print_to(stderr, "mtd: %s reports an unusable erase block size of %u bytes\n", part_name,
             static_cast<unsigned>(geo.erase_size));
    return false;
}

int mark_bad_block(int dev, int64_t offset) {
    long long position = offset;
    return mtd_ioctl(dev, MEMSETBADBLOCK, &position) < 0 ? -1 : 0;
}

bool is_erased(const unsigned char *p, size_t n) {
    constexpr uint64_t ones = ~UINT64_C(0);
    size_t i = 0;
    for (; i + sizeof ones <= n; i += sizeof ones) {
        uint64_t x = 0;
        memcpy(&x, p + i, sizeof x);
        if (x != ones)
            return false;
    }
    for (; i < n; i++) {
        if (p[i] != 0xff)
            return false;
    }
    return true;
}
