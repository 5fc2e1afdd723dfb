// The signatures of a FIT's configurations, checked as the bootloader's
// verified boot checks them, with the keys built into the program.
#pragma once

#include "image/fdt.h"
#include "image/fit_keys.h"

// Whether a configuration's property names images: every one but
// description, compatible and default.
bool names_images(const char *prop);

// Whether the configuration node conf names the image.
bool configuration_names(const Fdt &t, uint32_t conf, const char *image);

// Every configuration under the node confs must carry a signature that
// verifies with the keys: with each of them, or with one when keys.any.
// What is signed is computed from the configuration itself, never from
// its signature's hashed-nodes: the root, the configuration, and each
// image it names with its hash and cipher subnodes, their properties but
// for the data, and the first hashed-strings bytes of the strings block.
// On a failure prints one line naming the configuration and what failed
// and returns -1.
int check_fit_signatures(const Fdt &t, uint32_t confs, const FitKeys &keys);
