#include "image/fit_sig.h"

#include "base/text.h"
#include "image/digest.h"
#include "image/image_format.h"
#include "image/rsa.h"

#include <stdio.h>
#include <string.h>

namespace {

// Node names as messages show them (longer ones cut).
constexpr size_t name_size = 32;

// The bootloader's path buffer for the signed nodes: a tree with longer
// paths cannot be verified there.
constexpr size_t max_path = 200;

constexpr const char *not_image_lists[] = {"description", "compatible", "default"};
constexpr const char *unsigned_props[] = {"data", "data-size", "data-position", "data-offset"};

struct SignatureAlgo {
    const char *name;
    DigestKind kind;
};
constexpr SignatureAlgo checksums[] = {{"sha1,", DigestKind::sha1}, {"sha256,", DigestKind::sha256}};
constexpr const char *cryptos[] = {"rsa2048", "rsa3072", "rsa4096"};

// Why no signature of a configuration verified with a key, in the order
// of what says most: a signature that fails to verify with the key says
// more than one made with another key or an algorithm not supported.
enum class Failure { no_signature, unsupported, unknown_key, bad_signature };

bool in_list(const char *name, const char *const *list, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (strcmp(list[i], name) == 0)
            return true;
    }
    return false;
}

// Whether the node whose path from the root is names[0..depth) (names[0]
// the root's empty name) is one that conf's signature covers.
bool signed_node(const Fdt &t, uint32_t conf, const char *const *names, int depth) {
    if (depth == 1)
        return true;
    if (depth == 3 && strcmp(names[1], "configurations") == 0)
        return strcmp(names[2], fdt_node_name(t, conf)) == 0;
    if (depth < 3 || depth > 4 || strcmp(names[1], "images") != 0 || !configuration_names(t, conf, names[2]))
        return false;
    return depth == 3 || strncmp(names[3], "hash", 4) == 0 || strcmp(names[3], "cipher") == 0;
}

// The digest of what conf's signature covers, as the bootloader's region
// walk finds it: a node of the signed set gets level 2, every other node
// one less than its parent (never below 0); a node's begin and end tokens
// count from level 1, its properties (but for its data) and nops at level
// 2, the end token always; then strings_length bytes of the strings block.
int signed_digest(const Fdt &t, uint32_t conf, uint32_t strings_length, Digest &d) {
    const char *names[fdt_max_depth];
    int parent_level[fdt_max_depth];
    int depth = 0;
    int level = 0;
    size_t path = 0;
    for (uint32_t at = 0, next = 0;; at = next) {
        const uint32_t tag = fdt_next_tag(t, at, &next);
        bool include = tag == fdt_end;
        if ((tag == fdt_begin_node && depth == fdt_max_depth) || (tag == fdt_end_node && depth == 0))
            return -1; // (fdt_open refused such a tree already)
        if (tag == fdt_begin_node) {
            names[depth] = fdt_node_name(t, at);
            path += strlen(names[depth]) + 1;
            if (path + 2 >= max_path)
                return -1;
            parent_level[depth++] = level;
            level = signed_node(t, conf, names, depth) ? 2 : level > 0 ? level - 1 : 0;
            include = level > 0;
        } else if (tag == fdt_end_node) {
            include = level > 0;
            level = parent_level[--depth];
            path -= strlen(names[depth]) + 1;
        } else if (tag == fdt_prop) {
            include = level == 2 && !in_list(fdt_prop_name(t, at), unsigned_props, 4);
        } else if (tag == fdt_nop) {
            include = level == 2;
        }
        if (include)
            digest_update(d, t.structure + at, next - at);
        if (tag == fdt_end)
            break;
    }
    digest_update(d, t.strings, strings_length);
    return 0;
}

// Whether the signature node sig of conf verifies with key; *why says
// what failed when it does not.
bool signature_verifies(const Fdt &t, uint32_t conf, uint32_t sig, const FitKey &key, Failure *why) {
    const char *algo = fdt_string_property(t, sig, "algo");
    const char *padding = fdt_string_property(t, sig, "padding");
    const SignatureAlgo *checksum = nullptr;
    for (const SignatureAlgo &known : checksums) {
        if (algo != nullptr && strncmp(algo, known.name, strlen(known.name)) == 0 &&
            in_list(algo + strlen(known.name), cryptos, 3))
            checksum = &known;
    }
    if (checksum == nullptr || (padding != nullptr && strcmp(padding, "pkcs-1.5") != 0)) {
        *why = Failure::unsupported;
        return false;
    }
    if (strcmp(algo, key.algo) != 0) {
        *why = Failure::unknown_key;
        return false;
    }
    *why = Failure::bad_signature;
    uint32_t value_length = 0;
    uint32_t strings_length = 0;
    const unsigned char *value = fdt_property(t, sig, "value", &value_length);
    const unsigned char *strings = fdt_property(t, sig, "hashed-strings", &strings_length);
    if (value == nullptr || strings == nullptr || strings_length != 8 || be32(strings) != 0 ||
        be32(strings + 4) > t.strings_size)
        return false;
    Digest d{};
    digest_start(d, checksum->kind);
    if (signed_digest(t, conf, be32(strings + 4), d) < 0)
        return false;
    unsigned char digest[max_digest_size];
    (void)digest_finish(d, digest);
    if (rsa_verify(key, value, value_length, checksum->kind, digest))
        return true;
    // Made with a key of another name: most likely not a key of this
    // device at all.
    const char *hint = fdt_string_property(t, sig, "key-name-hint");
    if (hint != nullptr && strcmp(hint, key.name) != 0)
        *why = Failure::unknown_key;
    return false;
}

// Whether one of conf's signature nodes verifies with key.
bool verified_by(const Fdt &t, uint32_t conf, const FitKey &key, Failure *worst, char *sig_name) {
    *worst = Failure::no_signature;
    for (int64_t sub = fdt_subnode_next(t, conf, true); sub >= 0;
         sub = fdt_subnode_next(t, static_cast<uint32_t>(sub), false)) {
        const auto sig = static_cast<uint32_t>(sub);
        if (strncmp(fdt_node_name(t, sig), "signature", 9) != 0)
            continue;
        Failure why = Failure::no_signature;
        if (signature_verifies(t, conf, sig, key, &why))
            return true;
        if (why >= *worst) {
            *worst = why;
            (void)format_string(sig_name, name_size, "%s", fdt_node_name(t, sig));
        }
    }
    return false;
}

int refuse(const char *conf, Failure why, const char *sig, const FitKey &key) {
    switch (why) {
    case Failure::no_signature:
        print_to(stderr, "FIT image: configuration '%s' has no signature\n", conf);
        break;
    case Failure::unsupported:
        print_to(stderr, "FIT image: configuration '%s': signature '%s' has an algorithm that is not supported\n", conf,
                 sig);
        break;
    case Failure::unknown_key:
        print_to(stderr, "FIT image: configuration '%s': signature '%s' is by an unknown key, not by key '%s'\n", conf,
                 sig, key.name);
        break;
    case Failure::bad_signature:
        print_to(stderr, "FIT image: configuration '%s': signature '%s' does not verify with key '%s'\n", conf, sig,
                 key.name);
        break;
    }
    return -1;
}

} // namespace

bool names_images(const char *prop) { return !in_list(prop, not_image_lists, 3); }

bool configuration_names(const Fdt &t, uint32_t conf, const char *image) {
    for (int64_t at = fdt_next_property(t, conf); at >= 0; at = fdt_next_property(t, static_cast<uint32_t>(at))) {
        uint32_t length = 0;
        const auto *value = reinterpret_cast<const char *>(fdt_prop_value(t, static_cast<uint32_t>(at), &length));
        if (!names_images(fdt_prop_name(t, static_cast<uint32_t>(at))) || length == 0 || value[length - 1] != '\0')
            continue;
        for (uint32_t i = 0; i < length; i += static_cast<uint32_t>(strlen(value + i)) + 1) {
            if (strcmp(value + i, image) == 0)
                return true;
        }
    }
    return false;
}

int check_fit_signatures(const Fdt &t, uint32_t confs, const FitKeys &keys) {
    for (int64_t sub = fdt_subnode_next(t, confs, true); sub >= 0;
         sub = fdt_subnode_next(t, static_cast<uint32_t>(sub), false)) {
        const auto conf = static_cast<uint32_t>(sub);
        char conf_name[name_size];
        (void)format_string(conf_name, sizeof conf_name, "%s", fdt_node_name(t, conf));
        char first_sig[name_size] = "";
        Failure first_why = Failure::no_signature;
        int verified = 0;
        for (int k = 0; k < keys.count; k++) {
            char sig[name_size] = "";
            Failure why = Failure::no_signature;
            if (verified_by(t, conf, keys.keys[k], &why, sig)) {
                verified++;
                continue;
            }
            if (!keys.any)
                return refuse(conf_name, why, sig, keys.keys[k]);
            if (k == 0) {
                first_why = why;
                (void)format_string(first_sig, sizeof first_sig, "%s", sig);
            }
        }
        if (verified == 0)
            return refuse(conf_name, first_why, first_sig, keys.keys[0]);
    }
    return 0;
}
