#include "image/digest.h"

#include <string.h>

namespace {

uint32_t crc_table[256];

void make_crc_table() {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) != 0 ? 0xedb88320U ^ (c >> 1) : c >> 1;
        crc_table[i] = c;
    }
}

constexpr uint32_t sha256_k[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t sha256_start[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
constexpr uint32_t sha1_start[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};

uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t load_be32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

void store_be32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

void sha256_blocks(uint32_t *h, const unsigned char *p, size_t blocks) {
    for (; blocks > 0; blocks--, p += 64) {
        uint32_t w[64];
        for (size_t i = 0; i < 16; i++)
            w[i] = load_be32(p + 4 * i);
        for (int i = 16; i < 64; i++) {
            const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
        for (int i = 0; i < 64; i++) {
            const uint32_t t1 =
                k + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + sha256_k[i] + w[i];
            const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            k = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        h[5] += f;
        h[6] += g;
        h[7] += k;
    }
}

void sha1_blocks(uint32_t *h, const unsigned char *p, size_t blocks) {
    for (; blocks > 0; blocks--, p += 64) {
        uint32_t w[80];
        for (size_t i = 0; i < 16; i++)
            w[i] = load_be32(p + 4 * i);
        for (int i = 16; i < 80; i++)
            w[i] = rotr(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 31);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; i++) {
            uint32_t f = 0;
            uint32_t k = 0;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5a827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ed9eba1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8f1bbcdc;
            } else {
                f = b ^ c ^ d;
                k = 0xca62c1d6;
            }
            const uint32_t t = rotr(a, 27) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotr(b, 2);
            b = a;
            a = t;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
}

void hash_blocks(Digest &d, const unsigned char *p, size_t blocks) {
    if (d.kind == DigestKind::sha1)
        sha1_blocks(d.state, p, blocks);
    else
        sha256_blocks(d.state, p, blocks);
}

} // namespace

uint32_t crc32_update(uint32_t crc, const unsigned char *data, size_t length) {
    if (crc_table[1] == 0)
        make_crc_table();
    uint32_t reg = ~crc;
    for (size_t i = 0; i < length; i++)
        reg = crc_table[(reg ^ data[i]) & 0xff] ^ (reg >> 8);
    return ~reg;
}

void digest_start(Digest &d, DigestKind kind) {
    memset(&d, 0, sizeof d);
    d.kind = kind;
    if (kind == DigestKind::sha1)
        memcpy(d.state, sha1_start, sizeof sha1_start);
    else if (kind == DigestKind::sha256)
        memcpy(d.state, sha256_start, sizeof sha256_start);
}

void digest_update(Digest &d, const unsigned char *data, size_t length) {
    if (d.kind == DigestKind::crc32) {
        d.state[0] = crc32_update(d.state[0], data, length);
        return;
    }
    size_t used = static_cast<size_t>(d.bytes % 64);
    d.bytes += length;
    if (used > 0) {
        const size_t take = length < 64 - used ? length : 64 - used;
        memcpy(d.block + used, data, take);
        data += take;
        length -= take;
        used += take;
        if (used < 64)
            return;
        hash_blocks(d, d.block, 1);
    }
    hash_blocks(d, data, length / 64);
    memcpy(d.block, data + length / 64 * 64, length % 64);
}

size_t digest_finish(Digest &d, unsigned char *out) {
    if (d.kind == DigestKind::crc32) {
        store_be32(out, d.state[0]);
        return 4;
    }
    // The padding: 0x80, zeros up to 56 bytes into a block, the length in
    // bits as a big-endian 64-bit number.
    const uint64_t bits = d.bytes * 8;
    unsigned char pad[72] = {0x80};
    const size_t used = static_cast<size_t>(d.bytes % 64);
    const size_t n = (used < 56 ? 56 : 120) - used;
    store_be32(pad + n, static_cast<uint32_t>(bits >> 32));
    store_be32(pad + n + 4, static_cast<uint32_t>(bits));
    digest_update(d, pad, n + 8);
    const size_t words = d.kind == DigestKind::sha1 ? 5 : 8;
    for (size_t i = 0; i < words; i++)
        store_be32(out + 4 * i, d.state[i]);
    return 4 * words;
}
