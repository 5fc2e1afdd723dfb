#include "fake_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mtd/mtd-user.h>
#include <mtd/ubi-user.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

FakeIo fake;

extern "C" {
ssize_t __real_pread64(int fd, void *buf, size_t count, off64_t offset);
ssize_t __real_pwrite64(int fd, const void *buf, size_t count, off64_t offset);
}

void reset_fake() { fake = FakeIo{}; }

std::string hex(uint64_t v) {
    char buf[32];
    snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

FileId file_id(const std::string &path) {
    struct stat st {};
    FileId id;
    if (stat(path.c_str(), &st) == 0)
        id = FileId{st.st_dev, st.st_ino, true};
    return id;
}

namespace {

bool is(int fd, const FileId &id) {
    if (!id.set)
        return false;
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_dev == id.dev && st.st_ino == id.ino;
}

int fail(int error) {
    errno = error;
    return -1;
}

// Takes one scripted fault of the block at offset, if any is left.
bool take_fault(std::map<int64_t, int> &faults, int64_t offset) {
    const auto it = faults.find(offset - offset % fake.erasesize);
    if (it == faults.end() || it->second == 0)
        return false;
    it->second--;
    return true;
}

int erase(int fd, uint64_t start, uint64_t length) {
    if (start + length > fake.size || start % fake.erasesize != 0)
        return fail(EINVAL);
    if (static_cast<int64_t>(start) == fake.erase_fails_at ||
        take_fault(fake.erase_faults, static_cast<int64_t>(start)))
        return fail(EIO);
    const std::string ff(length, '\xff');
    if (__real_pwrite64(fd, ff.data(), ff.size(), static_cast<off64_t>(start)) != static_cast<ssize_t>(ff.size()))
        return fail(EIO);
    fake.erased.insert(static_cast<int64_t>(start));
    fake.programmed[static_cast<int64_t>(start)] = 0;
    return 0;
}

int mtd_request(int fd, unsigned long request, void *arg) {
    switch (request) {
    case MEMGETINFO: {
        fake.events.push_back("MEMGETINFO");
        if (fake.getinfo_fails)
            return fail(ENOTTY);
        auto *info = static_cast<mtd_info_user *>(arg);
        *info = mtd_info_user{};
        info->type = fake.type;
        info->erasesize = fake.erasesize;
        info->size = static_cast<uint32_t>(fake.size);
        info->writesize = fake.writesize;
        return 0;
    }
    case MEMGETBADBLOCK: {
        const loff_t pos = *static_cast<loff_t *>(arg);
        fake.events.push_back("MEMGETBADBLOCK " + hex(static_cast<uint64_t>(pos)));
        if (pos == fake.badblock_query_fails_at && fake.badblock_query_fails_after > 0)
            fake.badblock_query_fails_after--;
        else if (pos < 0 || static_cast<uint64_t>(pos) >= fake.size || pos == fake.badblock_query_fails_at)
            return fail(EINVAL);
        return fake.bad_blocks.count(pos) != 0 ? 1 : 0;
    }
    case MEMSETBADBLOCK: {
        const loff_t pos = *static_cast<loff_t *>(arg);
        fake.events.push_back("MEMSETBADBLOCK " + hex(static_cast<uint64_t>(pos)));
        if (fake.setbad_fails)
            return fail(EIO);
        fake.bad_blocks.insert(pos);
        return 0;
    }
    case MEMUNLOCK: {
        const auto *e = static_cast<erase_info_user *>(arg);
        fake.events.push_back("MEMUNLOCK " + hex(e->start) + " " + hex(e->length));
        return fake.unlock_fails ? fail(EOPNOTSUPP) : 0;
    }
    case MEMERASE: {
        const auto *e = static_cast<erase_info_user *>(arg);
        fake.events.push_back("MEMERASE " + hex(e->start) + " " + hex(e->length));
        return erase(fd, e->start, e->length);
    }
    case MEMERASE64: {
        const auto *e = static_cast<erase_info_user64 *>(arg);
        fake.events.push_back("MEMERASE64 " + hex(e->start) + " " + hex(e->length));
        return erase(fd, e->start, e->length);
    }
    default:
        fake.events.push_back("unexpected request " + hex(request));
        return fail(ENOTTY);
    }
}

} // namespace

extern "C" {

int __real_ioctl(int fd, unsigned long request, ...);
ssize_t __real_read(int fd, void *buf, size_t count);
ssize_t __real_write(int fd, const void *buf, size_t count);
// With 64-bit file offsets on a 32-bit C library, calls to lseek go to
// lseek64: both are wrapped, and the fake always calls the 64-bit one.
off64_t __real_lseek64(int fd, off64_t offset, int whence);

int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (is(fd, fake.device))
        return mtd_request(fd, request, arg);
    if (is(fd, fake.ubi_control) && request == UBI_IOCDET) {
        fake.events.push_back("UBI_IOCDET " + std::to_string(*static_cast<int32_t *>(arg)));
        return fake.ubi_detach_error != 0 ? fail(fake.ubi_detach_error) : 0;
    }
    return __real_ioctl(fd, request, arg);
}

ssize_t __wrap_read(int fd, void *buf, size_t count) {
    if (!is(fd, fake.read_file))
        return __real_read(fd, buf, count);
    if (!fake.read_script.empty()) {
        const int step = fake.read_script.front();
        fake.read_script.pop_front();
        if (step < 0)
            return fail(-step);
        if (step == 0)
            return 0;
        count = std::min(count, static_cast<size_t>(step));
    }
    if (fake.max_read != 0)
        count = std::min(count, fake.max_read);
    return __real_read(fd, buf, count);
}

// The scripted results of write() on write_file (the device is written
// with pwrite only, below).
ssize_t __wrap_write(int fd, const void *buf, size_t count) {
    if (!is(fd, fake.write_file) || is(fd, fake.device) || fake.write_script.empty())
        return __real_write(fd, buf, count);
    const int step = fake.write_script.front();
    fake.write_script.pop_front();
    if (step < 0)
        return fail(-step);
    if (step == 0)
        return 0;
    return __real_write(fd, buf, std::min(count, static_cast<size_t>(step)));
}

// Positioned reads and writes of the device (the writer's only ones); as
// with lseek, both names are wrapped.
ssize_t __wrap_pread64(int fd, void *buf, size_t count, off64_t offset) {
    if (!is(fd, fake.device))
        return __real_pread64(fd, buf, count, offset);
    fake.events.push_back("read " + hex(static_cast<uint64_t>(offset)) + " " + hex(count));
    if (take_fault(fake.read_errors, offset))
        return fail(EIO);
    const ssize_t n = __real_pread64(fd, buf, count, offset);
    if (n > 0 && take_fault(fake.garbled_reads, offset))
        static_cast<char *>(buf)[fake.garble_at >= 0 && fake.garble_at < n ? fake.garble_at : n / 2] ^= 0x5a;
    return n;
}

ssize_t __wrap_pwrite64(int fd, const void *buf, size_t count, off64_t offset) {
    if (!is(fd, fake.device))
        return __real_pwrite64(fd, buf, count, offset);
    if (is(fd, fake.write_file) && !fake.write_script.empty()) {
        const int step = fake.write_script.front();
        fake.write_script.pop_front();
        fake.events.push_back("write scripted " + std::to_string(step));
        if (step < 0)
            return fail(-step);
        if (step == 0)
            return 0;
        count = std::min(count, static_cast<size_t>(step));
    }
    if (static_cast<uint64_t>(offset) >= fake.size)
        return fail(ENOSPC);
    const int64_t block = offset - offset % fake.erasesize;
    fake.events.push_back("write " + hex(static_cast<uint64_t>(offset)) + " " + hex(count));
    if (fake.erased.count(block) == 0)
        fake.events.push_back("WRITE TO A BLOCK NOT ERASED " + hex(static_cast<uint64_t>(block)));
    // A failed program may still have programmed the page.
    const ssize_t n = __real_pwrite64(fd, buf, count, offset);
    if (take_fault(fake.write_faults, offset))
        return fail(EIO);
    // Pieces of a block may come in any order; once they add up to the
    // whole block, it is no longer erased.
    if (n > 0 && (fake.programmed[block] += n) >= fake.erasesize)
        fake.erased.erase(block);
    return n;
}

ssize_t __wrap_pread(int fd, void *buf, size_t count, off_t offset) { return __wrap_pread64(fd, buf, count, offset); }
ssize_t __wrap_pwrite(int fd, const void *buf, size_t count, off_t offset) {
    return __wrap_pwrite64(fd, buf, count, offset);
}

off64_t __wrap_lseek64(int fd, off64_t offset, int whence) {
    if (is(fd, fake.device)) {
        const char *from = whence == SEEK_CUR ? "+" : whence == SEEK_SET ? "set " : whence == SEEK_END ? "end+" : "?";
        fake.events.push_back(std::string("lseek ") + from + hex(static_cast<uint64_t>(offset)));
    }
    return __real_lseek64(fd, offset, whence);
}

off_t __wrap_lseek(int fd, off_t offset, int whence) { return __wrap_lseek64(fd, offset, whence); }

} // extern "C"
