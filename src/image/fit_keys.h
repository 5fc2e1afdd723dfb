// The public keys of the device's bootloader, built into the program from
// its control device tree (scripts/fit-keys.py, the REFLASHER_FIT_KEYS
// build setting): with keys built in, only a FIT whose every configuration
// carries a signature that they verify is written.
#pragma once

#include <stdint.h>

// One key required for configurations (required = "conf"). The modulus is
// in little-endian 32-bit words; n0_inverse is -modulus^-1 mod 2^32.
struct FitKey {
    const char *name; // the NAME of /signature/key-NAME
    const char *algo; // "sha256,rsa2048" and the like: a signature's algo must be the same
    uint32_t bits;
    uint32_t n0_inverse;
    uint64_t exponent;
    const uint32_t *modulus;
};

struct FitKeys {
    const FitKey *keys;
    int count;
    bool any; // required-mode "any": one key's signature is enough
};

// The keys built in; count 0 without REFLASHER_FIT_KEYS.
extern const FitKeys built_in_fit_keys;
