#include "image/rsa.h"

#include <string.h>

namespace {

constexpr size_t max_words = rsa_max_bits / 32;

// The DER encoding of each digest's algorithm identifier, which precedes
// the digest in the padded block.
constexpr unsigned char sha1_prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                         0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
constexpr unsigned char sha256_prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                           0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

// r = a * b / 2^(32 * words) mod n, for a < 2^(32 * words) and b < n; the
// result is below n.
void montgomery_multiply(const FitKey &key, size_t words, uint32_t *r, const uint32_t *a, const uint32_t *b) {
    uint32_t t[max_words + 2] = {};
    const uint32_t *n = key.modulus;
    for (size_t i = 0; i < words; i++) {
        uint64_t carry = 0;
        for (size_t j = 0; j < words; j++) {
            carry += t[j] + static_cast<uint64_t>(a[j]) * b[i];
            t[j] = static_cast<uint32_t>(carry);
            carry >>= 32;
        }
        carry += t[words];
        t[words] = static_cast<uint32_t>(carry);
        t[words + 1] = static_cast<uint32_t>(carry >> 32);
        const uint32_t m = t[0] * key.n0_inverse;
        carry = (t[0] + static_cast<uint64_t>(m) * n[0]) >> 32;
        for (size_t j = 1; j < words; j++) {
            carry += t[j] + static_cast<uint64_t>(m) * n[j];
            t[j - 1] = static_cast<uint32_t>(carry);
            carry >>= 32;
        }
        carry += t[words];
        t[words - 1] = static_cast<uint32_t>(carry);
        t[words] = t[words + 1] + static_cast<uint32_t>(carry >> 32);
    }
    // t < 2n: at most one subtraction.
    bool at_least_n = t[words] != 0;
    for (size_t j = words; !at_least_n && j-- > 0;) {
        if (t[j] != n[j]) {
            at_least_n = t[j] > n[j];
            break;
        }
        at_least_n = j == 0;
    }
    uint64_t borrow = 0;
    for (size_t j = 0; j < words; j++) {
        const uint64_t d = static_cast<uint64_t>(t[j]) - (at_least_n ? n[j] : 0) - borrow;
        r[j] = static_cast<uint32_t>(d);
        borrow = (d >> 32) & 1;
    }
}

// r = 2^(64 * words) mod n, the factor into Montgomery form: 2^(32 *
// words) mod n (n's top bit is set, so that is 2^(32 * words) - n),
// doubled 32 * words times.
void r_squared(const FitKey &key, size_t words, uint32_t *r) {
    const uint32_t *n = key.modulus;
    uint64_t borrow = 0;
    for (size_t j = 0; j < words; j++) {
        const uint64_t d = 0 - static_cast<uint64_t>(n[j]) - borrow;
        r[j] = static_cast<uint32_t>(d);
        borrow = (d >> 32) & 1;
    }
    for (size_t bit = 0; bit < 32 * words; bit++) {
        uint32_t carry = 0;
        for (size_t j = 0; j < words; j++) {
            const uint32_t top = r[j] >> 31;
            r[j] = r[j] << 1 | carry;
            carry = top;
        }
        // 2r < 2n: one subtraction when it overflowed or reached n.
        bool at_least_n = carry != 0;
        for (size_t j = words; !at_least_n && j-- > 0;) {
            if (r[j] != n[j]) {
                at_least_n = r[j] > n[j];
                break;
            }
            at_least_n = j == 0;
        }
        borrow = 0;
        for (size_t j = 0; at_least_n && j < words; j++) {
            const uint64_t d = static_cast<uint64_t>(r[j]) - n[j] - borrow;
            r[j] = static_cast<uint32_t>(d);
            borrow = (d >> 32) & 1;
        }
    }
}

} // namespace

bool rsa_verify(const FitKey &key, const unsigned char *sig, size_t length, DigestKind kind,
                const unsigned char *digest) {
    const size_t words = key.bits / 32;
    if (key.bits % 32 != 0 || words == 0 || words > max_words || length != words * 4 || key.exponent < 3 ||
        (key.exponent & 1) == 0)
        return false;
    uint32_t s[max_words];
    for (size_t i = 0; i < words; i++) {
        const unsigned char *p = sig + length - 4 * (i + 1);
        s[i] = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
               static_cast<uint32_t>(p[2]) << 8 | p[3];
    }
    // In Montgomery form (times 2^(32 * words) mod n), then e's bits from
    // the top: square, and multiply where a bit is set.
    uint32_t base[max_words];
    uint32_t acc[max_words];
    if ((key.modulus[words - 1] >> 31) == 0)
        return false; // not a key of its size
    r_squared(key, words, acc);
    montgomery_multiply(key, words, base, s, acc);
    memcpy(acc, base, words * 4);
    int top = 63;
    while ((key.exponent >> top) == 0)
        top--;
    for (int bit = top - 1; bit >= 0; bit--) {
        montgomery_multiply(key, words, acc, acc, acc);
        if (((key.exponent >> bit) & 1) != 0)
            montgomery_multiply(key, words, acc, acc, base);
    }
    // Out of Montgomery form: times 1.
    uint32_t one[max_words] = {1};
    montgomery_multiply(key, words, s, acc, one);

    // The block that a signature of the digest must give, compared whole.
    const unsigned char *prefix = kind == DigestKind::sha1 ? sha1_prefix : sha256_prefix;
    const size_t prefix_size = kind == DigestKind::sha1 ? sizeof sha1_prefix : sizeof sha256_prefix;
    const size_t digest_size = kind == DigestKind::sha1 ? 20 : 32;
    unsigned char block[rsa_max_bits / 8];
    memset(block, 0xff, length);
    block[0] = 0;
    block[1] = 1;
    unsigned char *tail = block + length - digest_size - prefix_size;
    tail[-1] = 0;
    memcpy(tail, prefix, prefix_size);
    memcpy(tail + prefix_size, digest, digest_size);
    unsigned char diff = 0;
    for (size_t i = 0; i < words; i++) {
        for (int k = 0; k < 4; k++)
            diff |= static_cast<unsigned char>(block[length - 4 * i - 4 + static_cast<size_t>(k)] ^
                                               static_cast<unsigned char>(s[i] >> (24 - 8 * k)));
    }
    return diff == 0;
}
