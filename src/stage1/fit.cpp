#include "stage1/fit.h"

#include "base/options.h"
#include "base/text.h"
#include "stage1/digest.h"
#include "stage1/image_format.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

// The tokens of the tree's structure block.
constexpr uint32_t tag_begin_node = 1;
constexpr uint32_t tag_end_node = 2;
constexpr uint32_t tag_prop = 3;
constexpr uint32_t tag_nop = 4;
constexpr uint32_t tag_end = 9;

// Node names as messages show them (longer ones cut), and property names
// (longer than every name looked for).
constexpr size_t name_size = 32;
constexpr size_t prop_name_size = 16;

struct HashAlgo {
    const char *name;
    DigestKind kind;
};
constexpr HashAlgo hash_algos[] = {
    {"crc32", DigestKind::crc32},
    {"sha1", DigestKind::sha1},
    {"sha256", DigestKind::sha256},
};

// The image node being walked, and where its data lies. As for the
// bootloader, its properties count only up to its first subnode.
struct FitImage {
    char name[name_size];
    bool props_open;
    bool has_position, has_offset;
    uint32_t position, offset, external_size;
    uint64_t inline_at, inline_size;
};

// The hash node being walked.
struct FitHash {
    char algo[prop_name_size];
    unsigned char value[max_digest_size];
    uint32_t value_size;
};

struct FitWalk {
    int fd;
    uint64_t file_size;
    uint64_t struct_end, strings_at, strings_end; // file offsets
    uint64_t external_base;                       // where data-offset counts from
    int depth;                                    // nodes begun and not ended
    bool in_images, in_hash;
    FitImage image;
    FitHash hash;
    int hashes, checked;
};

uint64_t align4(uint64_t at) { return (at + 3) & ~UINT64_C(3); }

// A read of at most cap bytes, of the `left` that remain.
size_t chunk(uint64_t left, size_t cap) { return left < cap ? static_cast<size_t>(left) : cap; }

// Whether n bytes at `at` lie inside the structure block.
bool inside_struct(const FitWalk &w, uint64_t at, uint64_t n) { return at <= w.struct_end && w.struct_end - at >= n; }

int cannot_walk(const char *why) {
    print_to(stderr, "FIT image: its tree cannot be walked: %s\n", why);
    return -1;
}

// Reads the zero-terminated string at `at`, which must end before `end`,
// keeping its first size - 1 characters. Returns the offset past its zero,
// or 0 when it runs past end.
uint64_t read_string(int fd, uint64_t at, uint64_t end, char *out, size_t size) {
    size_t kept = 0;
    out[0] = '\0';
    while (at < end) {
        unsigned char buf[64];
        const ssize_t n = read_at(fd, buf, chunk(end - at, sizeof buf), at);
        if (n <= 0)
            return 0;
        for (size_t i = 0; i < static_cast<size_t>(n); i++) {
            if (buf[i] == 0) {
                out[kept] = '\0';
                return at + i + 1;
            }
            if (kept + 1 < size)
                out[kept++] = static_cast<char>(buf[i]);
        }
        at += static_cast<uint64_t>(n);
    }
    return 0;
}

uint32_t read_u32(int fd, uint64_t at) {
    unsigned char word[4] = {};
    (void)read_at(fd, word, sizeof word, at);
    return be32(word);
}

void begin_node(FitWalk &w, const char *name) {
    w.depth++;
    if (w.depth == 2 && strcmp(name, "images") == 0) {
        w.in_images = true;
    } else if (w.in_images && w.depth == 3) {
        memset(&w.image, 0, sizeof w.image);
        (void)format_string(w.image.name, sizeof w.image.name, "%s", name);
        w.image.props_open = true;
    } else if (w.in_images && w.depth == 4) {
        w.image.props_open = false;
        w.in_hash = strncmp(name, "hash", 4) == 0;
        memset(&w.hash, 0, sizeof w.hash);
    }
}

void property(FitWalk &w, const char *name, uint64_t at, uint32_t size) {
    FitImage &image = w.image;
    if (w.in_images && w.depth == 3 && image.props_open) {
        if (strcmp(name, "data") == 0) {
            image.inline_at = at;
            image.inline_size = size;
        } else if (strcmp(name, "data-size") == 0) {
            image.external_size = read_u32(w.fd, at);
        } else if (strcmp(name, "data-offset") == 0) {
            image.has_offset = true;
            image.offset = read_u32(w.fd, at);
        } else if (strcmp(name, "data-position") == 0) {
            image.has_position = true;
            image.position = read_u32(w.fd, at);
        }
    } else if (w.in_hash && w.depth == 4) {
        if (strcmp(name, "algo") == 0) {
            (void)read_string(w.fd, at, at + size, w.hash.algo, sizeof w.hash.algo);
        } else if (strcmp(name, "value") == 0) {
            w.hash.value_size = size;
            (void)read_at(w.fd, w.hash.value, chunk(size, max_digest_size), at);
        }
    }
}

// The hash node just ended, against its image's data.
int check_hash(FitWalk &w) {
    const FitImage &image = w.image;
    w.hashes++;
    const HashAlgo *algo = nullptr;
    for (const HashAlgo &known : hash_algos) {
        if (strcmp(known.name, w.hash.algo) == 0)
            algo = &known;
    }
    if (algo == nullptr) {
        if (run_options.verbosity > 1)
            print_to(stderr, "FIT image: the %s hash of image '%s' is not checked\n", w.hash.algo, image.name);
        return 0;
    }
    uint64_t at = image.inline_at;
    uint64_t size = image.inline_size;
    if (image.has_position || image.has_offset) {
        at = image.has_position ? image.position : w.external_base + image.offset;
        size = image.external_size;
    }
    Digest digest{};
    digest_start(digest, algo->kind);
    bool inside = at <= w.file_size && size <= w.file_size - at;
    unsigned char buf[16384];
    for (uint64_t done = 0; inside && done < size;) {
        const ssize_t n = read_at(w.fd, buf, chunk(size - done, sizeof buf), at + done);
        inside = n > 0;
        if (inside) {
            digest_update(digest, buf, static_cast<size_t>(n));
            done += static_cast<uint64_t>(n);
        }
    }
    if (!inside) {
        print_to(stderr, "FIT image: the data of image '%s' lies outside the file\n", image.name);
        return -1;
    }
    unsigned char sum[max_digest_size];
    const size_t sum_size = digest_finish(digest, sum);
    if (w.hash.value_size != sum_size || memcmp(sum, w.hash.value, sum_size) != 0) {
        print_to(stderr, "FIT image: the %s hash of image '%s' does not match its data\n", algo->name, image.name);
        return -1;
    }
    w.checked++;
    return 0;
}

int end_node(FitWalk &w) {
    int rc = 0;
    if (w.in_hash && w.depth == 4) {
        rc = check_hash(w);
        w.in_hash = false;
    } else if (w.in_images && w.depth == 2) {
        w.in_images = false;
    }
    w.depth--;
    return rc;
}

int walk(FitWalk &w, uint64_t at) {
    constexpr const char *past_end = "a node or property runs past the structure block";
    for (;;) {
        unsigned char word[8];
        if (!inside_struct(w, at, 4) || read_at(w.fd, word, 4, at) != 4)
            return cannot_walk(past_end);
        at += 4;
        switch (be32(word)) {
        case tag_begin_node: {
            char name[name_size];
            const uint64_t next = read_string(w.fd, at, w.struct_end, name, sizeof name);
            if (next == 0)
                return cannot_walk(past_end);
            begin_node(w, name);
            at = align4(next);
            break;
        }
        case tag_end_node:
            if (w.depth == 0)
                return cannot_walk("a node ends that never began");
            if (end_node(w) < 0)
                return -1;
            break;
        case tag_prop: {
            if (!inside_struct(w, at, 8) || read_at(w.fd, word, 8, at) != 8 || !inside_struct(w, at + 8, be32(word)))
                return cannot_walk(past_end);
            char name[prop_name_size];
            const uint64_t name_at = w.strings_at + be32(word + 4);
            if (name_at >= w.strings_end || read_string(w.fd, name_at, w.strings_end, name, sizeof name) == 0)
                return cannot_walk("a property name lies outside the strings block");
            property(w, name, at + 8, be32(word));
            at = align4(at + 8 + be32(word));
            break;
        }
        case tag_nop:
            break;
        case tag_end:
            return 0;
        default:
            return cannot_walk("a tag of no known kind");
        }
    }
}

} // namespace

int check_fit(int fd, const unsigned char *header, long long size, const char **checked) {
    FitWalk w{};
    w.fd = fd;
    w.file_size = static_cast<uint64_t>(size);
    const uint64_t total = be32(header + 4);
    const uint64_t struct_at = be32(header + 8);
    w.strings_at = be32(header + 12);
    const uint64_t strings_size = be32(header + 32);
    // Before version 17 the header does not give the structure's size.
    const uint64_t struct_size = be32(header + 20) >= 17 || struct_at > total ? be32(header + 36) : total - struct_at;
    if (struct_at > total || struct_size > total - struct_at || w.strings_at > total ||
        strings_size > total - w.strings_at)
        return cannot_walk("its structure or strings block lies outside the tree");
    w.struct_end = struct_at + struct_size;
    w.strings_end = w.strings_at + strings_size;
    w.external_base = align4(total);
    if (walk(w, struct_at) < 0)
        return -1;
    *checked = w.checked > 0  ? "length and hashes are right"
               : w.hashes > 0 ? "length is right"
                              : "length is right; it carries no hashes";
    return 0;
}
