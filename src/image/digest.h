// The checksums and hashes that images carry: CRC-32 (zlib's), SHA-1 and
// SHA-256, computed over data that arrives in pieces.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum class DigestKind { crc32, sha1, sha256 };

constexpr size_t max_digest_size = 32;

struct Digest {
    DigestKind kind;
    uint32_t state[8];       // CRC-32: state[0]
    uint64_t bytes;          // taken so far
    unsigned char block[64]; // a hash's partial block
};

void digest_start(Digest &d, DigestKind kind);
void digest_update(Digest &d, const unsigned char *data, size_t length);
// Writes the digest's bytes in order (CRC-32: big-endian) and returns
// their number.
size_t digest_finish(Digest &d, unsigned char *out);

// CRC-32 as zlib computes it, continued from crc (0 to start).
uint32_t crc32_update(uint32_t crc, const unsigned char *data, size_t length);
