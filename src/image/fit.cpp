#include "image/fit.h"

#include "base/options.h"
#include "base/text.h"
#include "image/digest.h"
#include "image/fdt.h"
#include "image/fit_sig.h"
#include "image/image_format.h"

#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

namespace {

// Node names as messages show them (longer ones cut).
constexpr size_t name_size = 32;

// Bounds on the work a tree can ask for: every image is hashed once per
// algorithm it names, whatever the number of its hash nodes.
constexpr int max_images = 64;
constexpr int max_configurations = 64;
constexpr int max_hashes = 8;

// The hash algorithms of the bootloader's build, with their digest
// lengths; those with a kind are computed here.
struct HashAlgo {
    const char *name;
    uint32_t size;
    bool computed;
    DigestKind kind;
};
constexpr HashAlgo hash_algos[] = {
    {"crc32", 4, true, DigestKind::crc32},        {"sha1", 20, true, DigestKind::sha1},
    {"sha256", 32, true, DigestKind::sha256},     {"md5", 16, false, DigestKind::crc32},
    {"sha384", 48, false, DigestKind::crc32},     {"sha512", 64, false, DigestKind::crc32},
    {"crc16-ccitt", 2, false, DigestKind::crc32},
};

struct FitCheck {
    Fdt t;
    uint64_t file_size;
    int hashes, checked;
};

// One line, "FIT image: " and what is wrong; returns -1.
int fit_fails(const char *format, ...) TEXT_PRINTF(1, 2);
int fit_fails(const char *format, ...) {
    va_list args;
    va_start(args, format);
    (void)fputs("FIT image: ", stderr);
    (void)format_stream(stderr, format, args);
    va_end(args);
    (void)fputc('\n', stderr);
    return -1;
}

void copy_name(char *out, const char *name) { (void)format_string(out, name_size, "%s", name); }

uint32_t align4(uint32_t at) { return (at + 3) & ~3U; }

// The 32-bit number that property name of node holds; false when it has
// none or another length.
bool u32_property(const Fdt &t, uint32_t node, const char *name, uint32_t *value, bool *present) {
    uint32_t length = 0;
    const unsigned char *p = fdt_property(t, node, name, &length);
    *present = p != nullptr;
    if (p == nullptr || length != 4)
        return false;
    *value = be32(p);
    return true;
}

// Where the image's data lies, as the bootloader finds it: data-position
// (from the file's start), else data-offset (from the end of the tree,
// rounded up to 4 bytes), both with data-size; else the data property.
int image_data(const FitCheck &c, uint32_t node, const char *name, const unsigned char **data, uint64_t *size) {
    bool present = false;
    uint32_t at = 0;
    uint64_t from = 0;
    const bool position = u32_property(c.t, node, "data-position", &at, &present);
    if (present && !position)
        return fit_fails("image '%s' has a data-position that is not a number", name);
    if (!position) {
        const bool offset = u32_property(c.t, node, "data-offset", &at, &present);
        if (present && !offset)
            return fit_fails("image '%s' has a data-offset that is not a number", name);
        if (offset)
            from = align4(c.t.total);
    }
    if (present) {
        uint32_t length = 0;
        if (!u32_property(c.t, node, "data-size", &length, &present))
            return fit_fails("image '%s' has data outside the tree and no data-size", name);
        const uint64_t begin = from + at;
        if (begin > c.file_size || length > c.file_size - begin)
            return fit_fails("the data of image '%s' lies outside the file", name);
        *data = c.t.base + begin;
        *size = length;
        return 0;
    }
    uint32_t length = 0;
    *data = fdt_property(c.t, node, "data", &length);
    *size = length;
    if (*data == nullptr)
        return fit_fails("image '%s' has no data", name);
    return 0;
}

// One hash node of an image, looked up in the table.
struct Hash {
    const HashAlgo *algo;
    const unsigned char *value;
};

int read_hash(FitCheck &c, uint32_t node, const char *image, Hash *hash) {
    char name[name_size];
    copy_name(name, fdt_node_name(c.t, node));
    const char *algo = fdt_string_property(c.t, node, "algo");
    uint32_t length = 0;
    hash->value = fdt_property(c.t, node, "value", &length);
    if (algo == nullptr || hash->value == nullptr)
        return fit_fails("hash node '%s' of image '%s' has no %s", name, image, algo == nullptr ? "algo" : "value");
    hash->algo = nullptr;
    for (const HashAlgo &known : hash_algos) {
        if (strcmp(known.name, algo) == 0)
            hash->algo = &known;
    }
    if (hash->algo == nullptr)
        return fit_fails("hash node '%s' of image '%s' names an unknown algorithm", name, image);
    if (length != hash->algo->size)
        return fit_fails("the %s hash of image '%s' is %u bytes long, not %u", algo, image,
                         static_cast<unsigned>(length), static_cast<unsigned>(hash->algo->size));
    c.hashes++;
    if (!hash->algo->computed && run_options.verbosity > 1)
        print_to(stderr, "FIT image: the %s hash of image '%s' is not checked\n", algo, image);
    return 0;
}

// The image's hash nodes (subnodes whose names begin with "hash", as for
// the bootloader), each algorithm computed once over its data.
int check_image(FitCheck &c, uint32_t node) {
    char name[name_size];
    copy_name(name, fdt_node_name(c.t, node));
    const unsigned char *data = nullptr;
    uint64_t size = 0;
    if (image_data(c, node, name, &data, &size) < 0)
        return -1;
    Hash hashes[max_hashes];
    int count = 0;
    for (int64_t sub = fdt_subnode_next(c.t, node, true); sub >= 0;
         sub = fdt_subnode_next(c.t, static_cast<uint32_t>(sub), false)) {
        if (strncmp(fdt_node_name(c.t, static_cast<uint32_t>(sub)), "hash", 4) != 0)
            continue;
        if (count == max_hashes)
            return fit_fails("image '%s' has more than %d hash nodes", name, max_hashes);
        if (read_hash(c, static_cast<uint32_t>(sub), name, &hashes[count++]) < 0)
            return -1;
    }
    for (const HashAlgo &algo : hash_algos) {
        bool used = false;
        for (int i = 0; i < count; i++)
            used = used || hashes[i].algo == &algo;
        if (!used || !algo.computed)
            continue;
        Digest digest{};
        digest_start(digest, algo.kind);
        digest_update(digest, data, static_cast<size_t>(size));
        unsigned char sum[max_digest_size];
        (void)digest_finish(digest, sum);
        for (int i = 0; i < count; i++) {
            if (hashes[i].algo != &algo)
                continue;
            if (memcmp(sum, hashes[i].value, algo.size) != 0)
                return fit_fails("the %s hash of image '%s' does not match its data", algo.name, name);
            c.checked++;
        }
    }
    return 0;
}

// Every image that the configuration names exists under /images.
int check_configuration(const FitCheck &c, uint32_t conf, uint32_t images) {
    char name[name_size];
    copy_name(name, fdt_node_name(c.t, conf));
    for (int64_t at = fdt_next_property(c.t, conf); at >= 0; at = fdt_next_property(c.t, static_cast<uint32_t>(at))) {
        const char *prop = fdt_prop_name(c.t, static_cast<uint32_t>(at));
        uint32_t length = 0;
        const auto *value = reinterpret_cast<const char *>(fdt_prop_value(c.t, static_cast<uint32_t>(at), &length));
        if (!names_images(prop))
            continue;
        if (length == 0 || value[length - 1] != '\0')
            return fit_fails("the %s of configuration '%s' is not a list of names", prop, name);
        for (uint32_t i = 0; i < length; i += static_cast<uint32_t>(strlen(value + i)) + 1) {
            if (fdt_subnode(c.t, images, value + i) < 0) {
                char image[name_size];
                copy_name(image, value + i);
                return fit_fails("configuration '%s' names image '%s', which does not exist", name, image);
            }
        }
    }
    return 0;
}

// What the bootloader requires before it looks at an image: a root
// description and timestamp, images, and configurations whose default
// exists and whose images exist.
int check_layout(const FitCheck &c, uint32_t *images, uint32_t *configurations) {
    uint32_t length = 0;
    if (fdt_property(c.t, 0, "description", &length) == nullptr)
        return fit_fails("its root has no description");
    if (fdt_property(c.t, 0, "timestamp", &length) == nullptr)
        return fit_fails("its root has no timestamp");
    const int64_t images_node = fdt_subnode(c.t, 0, "images");
    if (images_node < 0)
        return fit_fails("it has no /images node");
    *images = static_cast<uint32_t>(images_node);
    if (fdt_subnode_next(c.t, *images, true) < 0)
        return fit_fails("its /images node holds no image");
    const int64_t confs = fdt_subnode(c.t, 0, "configurations");
    if (confs < 0)
        return fit_fails("it has no /configurations node");
    *configurations = static_cast<uint32_t>(confs);
    const char *chosen = fdt_string_property(c.t, static_cast<uint32_t>(confs), "default");
    if (chosen == nullptr)
        return fit_fails("its /configurations node has no default");
    if (fdt_subnode(c.t, static_cast<uint32_t>(confs), chosen) < 0) {
        char name[name_size];
        copy_name(name, chosen);
        return fit_fails("its default configuration '%s' does not exist", name);
    }
    int count = 0;
    for (int64_t conf = fdt_subnode_next(c.t, static_cast<uint32_t>(confs), true); conf >= 0;
         conf = fdt_subnode_next(c.t, static_cast<uint32_t>(conf), false)) {
        if (++count > max_configurations)
            return fit_fails("it has too many configurations");
        if (check_configuration(c, static_cast<uint32_t>(conf), *images) < 0)
            return -1;
    }
    return 0;
}

int check_tree(FitCheck &c, const unsigned char *map, const FitKeys &keys) {
    if (fdt_open(c.t, map, c.file_size) < 0)
        return -1;
    uint32_t images = 0;
    uint32_t confs = 0;
    if (check_layout(c, &images, &confs) < 0)
        return -1;
    int count = 0;
    for (int64_t image = fdt_subnode_next(c.t, images, true); image >= 0;
         image = fdt_subnode_next(c.t, static_cast<uint32_t>(image), false)) {
        if (++count > max_images)
            return fit_fails("it has too many images");
        if (check_image(c, static_cast<uint32_t>(image)) < 0)
            return -1;
    }
    return keys.count > 0 ? check_fit_signatures(c.t, confs, keys) : 0;
}

} // namespace

int check_fit(int fd, long long size, const FitKeys &keys, const char **checked) {
    // The staged image lies in tmpfs: mapping it costs no memory.
    const auto length = static_cast<size_t>(size);
    void *map = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED)
        return fit_fails("cannot map the file: %s", strerror(errno));
    FitCheck c{};
    c.file_size = static_cast<uint64_t>(size);
    const int rc = check_tree(c, static_cast<const unsigned char *>(map), keys);
    (void)munmap(map, length);
    if (rc < 0)
        return -1;
    *checked = keys.count > 0  ? "length, hashes and signatures are right"
               : c.checked > 0 ? "length and hashes are right"
               : c.hashes > 0  ? "length is right"
                               : "length is right; it carries no hashes";
    return 0;
}
