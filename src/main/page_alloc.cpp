// The program's few allocations, the C library's stream buffers and the
// flash writer's erase-block buffer, taken straight from the kernel as
// anonymous mappings: the general allocator of a static musl program costs
// about 5 KiB, more than any part of the program itself. Each block carries
// its mapping's length in front of it. Release builds only (musl); the
// tests keep their C library's own allocator.
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>

namespace {

// Keeps the alignment that malloc promises.
constexpr size_t header_size = 16;

size_t *header_of(void *p) { return reinterpret_cast<size_t *>(static_cast<unsigned char *>(p) - header_size); }

} // namespace

extern "C" {

void *malloc(size_t size) {
    if (size > SIZE_MAX / 2) {
        errno = ENOMEM;
        return nullptr;
    }
    void *map = mmap(nullptr, size + header_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return nullptr;
    *static_cast<size_t *>(map) = size + header_size;
    return static_cast<unsigned char *>(map) + header_size;
}

void free(void *p) {
    if (p != nullptr)
        (void)munmap(header_of(p), *header_of(p));
}

// Anonymous mappings come zeroed.
void *calloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / 2 / size) {
        errno = ENOMEM;
        return nullptr;
    }
    const size_t total = count * size;
    return malloc(total > 0 ? total : 1);
}

void *realloc(void *p, size_t size) {
    void *moved = malloc(size);
    if (moved != nullptr && p != nullptr) {
        const size_t old = *header_of(p) - header_size;
        memcpy(moved, p, old < size ? old : size);
        free(p);
    }
    return moved;
}

} // extern "C"
