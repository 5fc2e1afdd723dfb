#include "image/digest.h"
#include "image/fit_keys.h"
#include "image/image_format.h"
#include "image/rsa.h"
#include "support.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

// The test keys (data/keys), in the order of their nodes in data/control.dtb:
// dev (sha256,rsa2048), dev4096 (sha256,rsa4096), devsha1 (sha1,rsa2048).
extern const FitKeys test_fit_keys;

namespace {

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

std::string digest_of(DigestKind kind, const std::string &data) {
    Digest d{};
    digest_start(d, kind);
    digest_update(d, bytes(data), data.size());
    unsigned char out[max_digest_size];
    return std::string(reinterpret_cast<char *>(out), digest_finish(d, out));
}

// openssl's signatures of data/message.txt: each verifies whole, and fails
// with one bit of the signature or of the modulus flipped, or one byte
// short or long.
TEST(Rsa, OpensslSignatures) {
    const std::string message = read_data("message.txt");
    const struct {
        const char *sig;
        int key;
        DigestKind kind;
    } rows[] = {{"message.dev.sig", 0, DigestKind::sha256},
                {"message.dev4096.sig", 1, DigestKind::sha256},
                {"message.devsha1.sig", 2, DigestKind::sha1}};
    for (const auto &row : rows) {
        const FitKey &key = test_fit_keys.keys[row.key];
        const std::string sig = read_data(row.sig);
        const std::string digest = digest_of(row.kind, message);
        ASSERT_EQ(sig.size(), key.bits / 8) << row.sig;
        EXPECT_TRUE(rsa_verify(key, bytes(sig), sig.size(), row.kind, bytes(digest))) << row.sig;
        for (const size_t at : {size_t{0}, sig.size() / 2, sig.size() - 1}) {
            std::string flipped = sig;
            flipped[at] ^= 1;
            EXPECT_FALSE(rsa_verify(key, bytes(flipped), flipped.size(), row.kind, bytes(digest))) << row.sig << at;
        }
        std::vector<uint32_t> modulus(key.modulus, key.modulus + key.bits / 32);
        modulus[3] ^= 0x100;
        FitKey other = key;
        other.modulus = modulus.data();
        EXPECT_FALSE(rsa_verify(other, bytes(sig), sig.size(), row.kind, bytes(digest))) << row.sig;
        EXPECT_FALSE(rsa_verify(key, bytes(sig), sig.size() - 1, row.kind, bytes(digest))) << row.sig;
        const std::string longer = '\0' + sig; // the same number, one byte longer
        EXPECT_FALSE(rsa_verify(key, bytes(longer), longer.size(), row.kind, bytes(digest))) << row.sig;
        EXPECT_FALSE(rsa_verify(key, bytes(sig), sig.size(), row.kind, bytes(digest_of(row.kind, message + "x"))));
    }
}

// FITs signed by mkimage (data/make-fits.sh) against the keys required:
// what the device's U-Boot refuses for its signature fails with one line
// naming the configuration and what failed.
TEST(FitSignature, OnlyWhatTheKeysVerifyPasses) {
    ScratchDir dir;
    const std::string image = dir / "image";
    const FitKey *k = test_fit_keys.keys;
    const FitKeys dev{k, 1, false}, dev4096{k + 1, 1, false}, devsha1{k + 2, 1, false};
    const FitKeys all{k, 2, false}, any{k, 2, true};
    const std::string conf = "FIT image: configuration 'conf'";
    const std::string bad = conf + ": signature 'signature' does not verify with key 'dev'";
    const struct {
        const char *file;
        const FitKeys &keys;
        std::string line;
    } rows[] = {
        {"signed-2048.itb", dev, ""},
        {"signed-4096.itb", dev4096, ""},
        {"signed-sha1.itb", devsha1, ""},
        {"signed-both.itb", all, ""},
        {"signed-2048.itb", any, ""},
        {"signed-2048.itb", all, conf + ": signature 'signature' is by an unknown key, not by key 'dev4096'"},
        {"fit-inside.itb", dev, conf + " has no signature"},
        {"signed-one-of-two.itb", dev, "FIT image: configuration 'other' has no signature"},
        {"signed-other.itb", dev, conf + ": signature 'signature' is by an unknown key, not by key 'dev'"},
        {"signed-sha1.itb", dev, conf + ": signature 'signature' is by an unknown key, not by key 'dev'"},
        {"signed-sha1-by-dev.itb", dev, conf + ": signature 'signature' is by an unknown key, not by key 'dev'"},
        {"signed-pss.itb", dev, conf + ": signature 'signature' has an algorithm that is not supported"},
        {"signed-load-changed.itb", dev, bad},
        {"signed-kernel-swapped.itb", dev, bad},
        {"signed-value-flipped.itb", dev, bad},
        {"signed-without-kernel.itb", dev, bad},
        {"broken-sha1-data.itb", dev, "FIT image: the sha1 hash of image 'kernel' does not match its data"},
        {"message.txt", dev, "image is not a signed FIT"},
    };
    for (const auto &row : rows) {
        const std::string fit = read_data(row.file);
        write_file(image, fit);
        int rc = 0;
        bool signed_ok = false;
        const auto size = static_cast<long long>(fit.size());
        EXPECT_EQ(capture_stderr([&] { rc = check_image_format_with(image.c_str(), size, 0, row.keys, &signed_ok); }),
                  row.line.empty() ? "" : row.line + "\n")
            << row.file;
        EXPECT_EQ(rc, row.line.empty() ? 0 : -1) << row.file;
        EXPECT_EQ(signed_ok, row.line.empty()) << row.file;
    }
}

} // namespace
