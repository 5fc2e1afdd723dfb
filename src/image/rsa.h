// RSA signature verification with PKCS#1 v1.5 padding, as the bootloader
// verifies a FIT's signatures: s^e mod n by Montgomery multiplication with
// the key's precomputed n0-inverse (r-squared is computed here, which
// keeps the key tables half as large). No heap; about 2.5 KiB of stack for
// a 4096-bit key.
#pragma once

#include "image/digest.h"
#include "image/fit_keys.h"

#include <stddef.h>
#include <stdint.h>

// The largest key verified, in bits.
constexpr uint32_t rsa_max_bits = 4096;

// Whether sig (length bytes, which must be the key's size) is key's
// signature of digest, a sha1 or sha256 digest (kind): the whole block
// s^e mod n must be 00 01, FF bytes, 00, the digest's DER prefix and the
// digest.
bool rsa_verify(const FitKey &key, const unsigned char *sig, size_t length, DigestKind kind,
                const unsigned char *digest);
