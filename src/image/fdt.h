// A flattened device tree held in memory (a FIT image mapped from tmpfs),
// read as the bootloader's libfdt reads it: a tree that its full check
// refuses never gets this far, and every lookup finds what libfdt would
// find (the first of two same-named properties, properties only up to a
// node's first subnode).
#pragma once

#include <stddef.h>
#include <stdint.h>

// The tokens of the structure block.
constexpr uint32_t fdt_begin_node = 1;
constexpr uint32_t fdt_end_node = 2;
constexpr uint32_t fdt_prop = 3;
constexpr uint32_t fdt_nop = 4;
constexpr uint32_t fdt_end = 9;

// The bootloader refuses trees that nest deeper than this (the root
// counts).
constexpr int fdt_max_depth = 32;

// A node's properties are checked for duplicates against each other; a
// node with more is refused (no FIT needs a tenth of them).
constexpr int fdt_max_props = 64;

// The tree and where its blocks lie. Node offsets count from the start of
// the structure block, as in libfdt; the root is at 0.
struct Fdt {
    const unsigned char *base;
    uint32_t total;
    const unsigned char *structure;
    uint32_t struct_size;
    const unsigned char *strings;
    uint32_t strings_size;
};

// Takes the tree at base (size bytes of file behind it) and checks its
// header and its whole structure: versions 16 and 17, the memory
// reservation block, the structure and strings blocks inside the tree;
// tokens that nest, one root with an empty name, nothing after it, the
// end token at the end of the structure block; names and property names
// ending inside their blocks, no node name with '@', no two properties of
// one node with the same name. On a failure prints one line and returns
// -1; otherwise fills t and returns 0, and the lookups below are safe.
int fdt_open(Fdt &t, const unsigned char *base, uint64_t size);

// The token at offset at, and where the next one begins (*next); *next is
// 0 when the token runs past the structure block.
uint32_t fdt_next_tag(const Fdt &t, uint32_t at, uint32_t *next);

// The name of the node at offset node.
const char *fdt_node_name(const Fdt &t, uint32_t node);

// The first direct subnode of node (first true) or the one after the
// subnode node (first false); -1 when there is none.
int64_t fdt_subnode_next(const Fdt &t, uint32_t node, bool first);

// The direct subnode of node named name, or -1.
int64_t fdt_subnode(const Fdt &t, uint32_t node, const char *name);

// The name of the property whose token is at `at`, and its value and
// length.
const char *fdt_prop_name(const Fdt &t, uint32_t at);
const unsigned char *fdt_prop_value(const Fdt &t, uint32_t at, uint32_t *length);

// The property that follows the token at `at`, a node's begin token (its
// first property) or one of its properties (the next), before the node's
// first subnode; -1 when there is none.
int64_t fdt_next_property(const Fdt &t, uint32_t at);

// The value of node's property name, and its length; null when node has
// none before its first subnode.
const unsigned char *fdt_property(const Fdt &t, uint32_t node, const char *name, uint32_t *length);

// The property's value when it is a string that ends inside it, else
// null.
const char *fdt_string_property(const Fdt &t, uint32_t node, const char *name);
