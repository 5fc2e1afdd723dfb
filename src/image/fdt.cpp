#include "image/fdt.h"

#include "base/text.h"
#include "image/image_format.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr uint32_t header_v16 = 36;
constexpr uint32_t header_v17 = 40;
constexpr uint32_t largest_tree = 0x7fffffff;

uint32_t align4(uint32_t at) { return (at + 3) & ~3U; }

int cannot_walk(const char *why) {
    print_to(stderr, "FIT image: its tree cannot be walked: %s\n", why);
    return -1;
}

// Whether [at, at + n) lies inside [0, size).
bool inside(uint32_t size, uint32_t at, uint32_t n) { return at <= size && size - at >= n; }

// Whether a zero ends the string at `at` before `end`.
bool string_ends(const unsigned char *block, uint32_t at, uint32_t end) {
    return at < end && memchr(block + at, 0, end - at) != nullptr;
}

int check_header(Fdt &t, const unsigned char *base, uint64_t size) {
    const uint32_t version = be32(base + 20);
    const uint32_t last_compatible = be32(base + 24);
    if (version < 16 || version > 17 || last_compatible > 17 || last_compatible > version)
        return cannot_walk("its header has a version that the bootloader does not read");
    const uint32_t header_size = version >= 17 ? header_v17 : header_v16;
    t.base = base;
    t.total = be32(base + 4);
    if (t.total < header_size || t.total > largest_tree || t.total > size)
        return cannot_walk("its total size does not fit its header and the file");
    const uint32_t reserve_at = be32(base + 16);
    const uint32_t struct_at = be32(base + 8);
    const uint32_t strings_at = be32(base + 12);
    t.strings_size = be32(base + 32);
    t.struct_size = version >= 17 ? be32(base + 36) : t.total - struct_at;
    if (reserve_at < header_size || reserve_at > t.total || struct_at < header_size ||
        !inside(t.total, struct_at, t.struct_size) || strings_at < header_size ||
        !inside(t.total, strings_at, t.strings_size))
        return cannot_walk("its structure or strings block lies outside the tree");
    // The memory reservations: 16-byte entries up to one of size 0.
    for (uint32_t at = reserve_at;; at += 16) {
        if (!inside(t.total, at, 16))
            return cannot_walk("its memory reservation block runs past the tree");
        if (be32(base + at + 8) == 0 && be32(base + at + 12) == 0)
            break;
    }
    t.structure = base + struct_at;
    t.strings = base + strings_at;
    return 0;
}

// The name of the property at `at`, when it ends inside the strings block.
const char *property_name(const Fdt &t, uint32_t at) {
    const uint32_t name_at = be32(t.structure + at + 8);
    return string_ends(t.strings, name_at, t.strings_size) ? reinterpret_cast<const char *>(t.strings + name_at)
                                                           : nullptr;
}

// The nodes open on the way from the root, with where the names of their
// properties lie in the strings block, for the duplicate test.
struct OpenNode {
    int props;
    uint32_t names[fdt_max_props];
};

int add_property(const Fdt &t, OpenNode &node, const char *name) {
    for (int i = 0; i < node.props; i++) {
        if (strcmp(reinterpret_cast<const char *>(t.strings + node.names[i]), name) == 0) {
            print_to(stderr, "FIT image: a node of its tree has two properties named '%s'\n", name);
            return -1;
        }
    }
    if (node.props == fdt_max_props)
        return cannot_walk("a node has too many properties");
    node.names[node.props++] = static_cast<uint32_t>(reinterpret_cast<const unsigned char *>(name) - t.strings);
    return 0;
}

int check_structure(const Fdt &t) {
    OpenNode open[fdt_max_depth];
    int depth = 0;
    bool root_ended = false;
    for (uint32_t at = 0;;) {
        uint32_t next = 0;
        const uint32_t tag = fdt_next_tag(t, at, &next);
        if (next == 0)
            return cannot_walk("a node or property runs past the structure block");
        if (root_ended && tag != fdt_end)
            return cannot_walk("something follows the root node");
        switch (tag) {
        case fdt_begin_node: {
            const char *name = fdt_node_name(t, at);
            if (depth == fdt_max_depth)
                return cannot_walk("its nodes nest too deep");
            if (depth == 0 && name[0] != '\0')
                return cannot_walk("its root node has a name");
            if (strchr(name, '@') != nullptr)
                return cannot_walk("a node name holds '@'");
            open[depth++].props = 0;
            break;
        }
        case fdt_end_node:
            if (depth == 0)
                return cannot_walk("a node ends that never began");
            root_ended = --depth == 0;
            break;
        case fdt_prop: {
            const char *name = property_name(t, at);
            if (name == nullptr)
                return cannot_walk("a property name lies outside the strings block");
            if (depth == 0)
                return cannot_walk("a property lies outside every node");
            if (add_property(t, open[depth - 1], name) < 0)
                return -1;
            break;
        }
        case fdt_nop:
            break;
        case fdt_end:
            if (depth != 0 || !root_ended)
                return cannot_walk("its end token comes before the end of its root node");
            if (next != t.struct_size)
                return cannot_walk("its end token is not at the end of the structure block");
            return 0;
        default:
            return cannot_walk("a tag of no known kind");
        }
        at = next;
    }
}

} // namespace

uint32_t fdt_next_tag(const Fdt &t, uint32_t at, uint32_t *next) {
    *next = 0;
    if (!inside(t.struct_size, at, 4))
        return fdt_end;
    const uint32_t tag = be32(t.structure + at);
    uint32_t end = at + 4;
    if (tag == fdt_begin_node) {
        if (!string_ends(t.structure, end, t.struct_size))
            return tag;
        end += static_cast<uint32_t>(strlen(reinterpret_cast<const char *>(t.structure + end))) + 1;
    } else if (tag == fdt_prop) {
        if (!inside(t.struct_size, end, 8) || !inside(t.struct_size, end + 8, be32(t.structure + end)))
            return tag;
        end += 8 + be32(t.structure + end);
    }
    *next = align4(end);
    if (*next > t.struct_size)
        *next = 0;
    return tag;
}

const char *fdt_node_name(const Fdt &t, uint32_t node) {
    return reinterpret_cast<const char *>(t.structure + node + 4);
}

int64_t fdt_subnode_next(const Fdt &t, uint32_t node, bool first) {
    // From the node's own token: its subnodes are the nodes that begin one
    // level below it.
    int depth = first ? -1 : 0;
    for (uint32_t at = node, next = 0;; at = next) {
        const uint32_t tag = fdt_next_tag(t, at, &next);
        if (next == 0 || tag == fdt_end)
            return -1;
        if (tag == fdt_begin_node && ++depth == 1 && at != node)
            return at;
        if (tag == fdt_end_node && --depth < 0)
            return -1;
    }
}

int64_t fdt_subnode(const Fdt &t, uint32_t node, const char *name) {
    for (int64_t sub = fdt_subnode_next(t, node, true); sub >= 0;
         sub = fdt_subnode_next(t, static_cast<uint32_t>(sub), false)) {
        if (strcmp(fdt_node_name(t, static_cast<uint32_t>(sub)), name) == 0)
            return sub;
    }
    return -1;
}

const char *fdt_prop_name(const Fdt &t, uint32_t at) { return property_name(t, at); }

const unsigned char *fdt_prop_value(const Fdt &t, uint32_t at, uint32_t *length) {
    *length = be32(t.structure + at + 4);
    return t.structure + at + 12;
}

int64_t fdt_next_property(const Fdt &t, uint32_t at) {
    uint32_t next = 0;
    (void)fdt_next_tag(t, at, &next);
    for (at = next; next != 0; at = next) {
        const uint32_t tag = fdt_next_tag(t, at, &next);
        if (next == 0 || tag != fdt_nop)
            return next != 0 && tag == fdt_prop ? static_cast<int64_t>(at) : -1;
    }
    return -1;
}

const unsigned char *fdt_property(const Fdt &t, uint32_t node, const char *name, uint32_t *length) {
    for (int64_t at = fdt_next_property(t, node); at >= 0; at = fdt_next_property(t, static_cast<uint32_t>(at))) {
        const char *prop_name = property_name(t, static_cast<uint32_t>(at));
        if (prop_name != nullptr && strcmp(prop_name, name) == 0)
            return fdt_prop_value(t, static_cast<uint32_t>(at), length);
    }
    return nullptr;
}

const char *fdt_string_property(const Fdt &t, uint32_t node, const char *name) {
    uint32_t length = 0;
    const unsigned char *value = fdt_property(t, node, name, &length);
    return value != nullptr && length > 0 && memchr(value, 0, length) != nullptr ? reinterpret_cast<const char *>(value)
                                                                                 : nullptr;
}

int fdt_open(Fdt &t, const unsigned char *base, uint64_t size) {
    if (check_header(t, base, size) < 0)
        return -1;
    return check_structure(t);
}
