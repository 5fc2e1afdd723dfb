#include "base/mountinfo.h"
#include "base/options.h"
#include "base/paths.h"
#include "image/digest.h"
#include "image/image_format.h"
#include "stage1/stage_one.h"
#include "support.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Stage one runs on the host only up to its image check: with test mode on
// it never stages or re-executes anything. Everything that needs a
// partition table runs in the guest.

namespace {

class StageOne : public testing::Test {
  protected:
    void SetUp() override {
        reset_options_for_test();
        umask(022);
        if (private_tmp_ready()) {
            unlink(paths::staged_image);
            unlink(paths::log_file);
        }
    }
};

TEST_F(StageOne, ImageOutsideTmpIsStagedBeforeTheCheck) {
    REQUIRE_PRIVATE_TMP();
    if (access(paths::proc_mtd, F_OK) == 0)
        GTEST_SKIP() << "this machine has MTD partitions";
    ASSERT_NE(outside_tmp_dir(), nullptr);
    const std::string image = std::string(outside_tmp_dir()) + "/image-outside-tmp.bin";
    write_file(image, "firmware bytes", 0600);
    run_options.test_only = true;
    run_options.force = true;
    run_options.part_name = "NoSuchPart";
    int rc = -1;
    std::string out;
    const std::string err = capture_stderr([&] { out = capture_stdout([&] { rc = stage_one(image.c_str()); }); });
    unlink(image.c_str());
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "Image check passed.\n");
    EXPECT_EQ(err, "upgrade: Image not in /tmp, copying to /tmp/reflasher.img\n"
                   "cannot find mtd partition 'NoSuchPart'\n"
                   "Image check failed but --force given - will update anyway!\n");
    EXPECT_EQ(read_file(paths::staged_image), "firmware bytes");
    EXPECT_EQ(file_mode(paths::staged_image), 0644u);
    EXPECT_EQ(read_file(paths::log_file), "upgrade: Image not in /tmp, copying to /tmp/reflasher.img\n");
    EXPECT_FALSE(path_exists(paths::ram_root));
}

// Staging's memory against MemAvailable: the image, the program copy and
// the margin all count; a kernel without MemAvailable is not held up.
TEST(StagingRoom, ImageProgramAndMarginAgainstMemAvailable) {
    ScratchDir dir;
    const std::string meminfo = dir / "meminfo";
    const long long margin = staging_margin;
    const struct {
        const char *text;
        long long image, program;
        bool fits;
    } rows[] = {
        {"MemTotal:  65536 kB\nMemFree:  51200 kB\nMemAvailable:  9728 kB\n", 0, 0, true},
        {"MemTotal:  65536 kB\nMemAvailable:  9728 kB\n", 9728LL * 1024 - margin, 0, true},
        {"MemTotal:  65536 kB\nMemAvailable:  9728 kB\n", 9728LL * 1024 - margin - 60000, 60000, true},
        {"MemTotal:  65536 kB\nMemAvailable:  9728 kB\n", 9728LL * 1024 - margin - 60000, 60001, false},
        {"MemTotal:  65536 kB\nMemAvailable:  9728 kB\n", 9728LL * 1024 - margin + 1, 0, false},
        {"MemTotal:  65536 kB\nMemFree:  51200 kB\n", 1LL << 40, 60000, true},
    };
    for (const auto &row : rows) {
        write_file(meminfo, row.text);
        int rc = 0;
        const std::string err =
            capture_stderr([&] { rc = check_staging_room_in(meminfo.c_str(), row.image, row.program); });
        EXPECT_EQ(rc, row.fits ? 0 : -1) << row.image << " " << row.program;
        EXPECT_EQ(err, row.fits ? ""
                                : "staging needs " + std::to_string(row.image + row.program + margin) +
                                      " bytes of memory (image, program copy and margin), 9961472 are available\n");
    }
    EXPECT_EQ(check_staging_room_in((dir / "none").c_str(), 1LL << 40, 0), 0) << "no meminfo";
}

TEST_F(StageOne, FailedChecksWithoutForce) {
    REQUIRE_PRIVATE_TMP();
    mkdir("/tmp/adir", 0755);
    write_file("/tmp/empty.bin", "");
    run_options.test_only = true;
    EXPECT_EXIT(stage_one("/tmp/adir"), testing::ExitedWithCode(1),
                testing::Eq("'/tmp/adir' is not a regular file\nERROR: image check failed (use -F to override)\n"));
    EXPECT_EXIT(stage_one("/tmp/../tmp/empty.bin"), testing::ExitedWithCode(1),
                testing::Eq("image is empty\nERROR: image check failed (use -F to override)\n"));
    EXPECT_EXIT(stage_one("no/such/image"), testing::ExitedWithCode(1),
                testing::Eq("ERROR: image not found: no/such/image\n"));
    EXPECT_EXIT(stage_one(""), testing::ExitedWithCode(1), testing::Eq("ERROR: image not found: \n"));
    EXPECT_FALSE(path_exists(paths::staged_image));
}

TEST_F(StageOne, PlantedLinkAtStagedImageIsRefused) {
    REQUIRE_PRIVATE_TMP();
    ASSERT_NE(outside_tmp_dir(), nullptr);
    const std::string image = std::string(outside_tmp_dir()) + "/image-for-link-test.bin";
    write_file(image, "new");
    write_file("/tmp/victim", "old");
    unlink(paths::staged_image);
    ASSERT_EQ(symlink("/tmp/victim", paths::staged_image), 0);
    run_options.test_only = true;
    run_options.verbosity = 0;
    EXPECT_EXIT(stage_one(image.c_str()), testing::ExitedWithCode(1),
                testing::Eq(std::string("cp: open /tmp/reflasher.img: ") + strerror(ELOOP) +
                            "\nERROR: cannot copy image to tmpfs\n"));
    unlink(image.c_str());
    unlink(paths::staged_image);
    EXPECT_EQ(read_file("/tmp/victim"), "old");
}

TEST_F(StageOne, StagingDirectoryMustBeOursAndClosed) {
    ScratchDir dir;
    const std::string good = dir / "good";
    mkdir(good.c_str(), 0755);
    EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(check_staging_dir(good.c_str()), 0); }), "");

    const std::string open_dir = dir / "open";
    mkdir(open_dir.c_str(), 0755);
    chmod(open_dir.c_str(), 0775);
    EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(check_staging_dir(open_dir.c_str()), -1); }),
              open_dir + ": writable by group or others (mode 0775)\n");

    const std::string link_path = dir / "link";
    ASSERT_EQ(symlink(good.c_str(), link_path.c_str()), 0);
    EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(check_staging_dir(link_path.c_str()), -1); }),
              link_path + ": is a symbolic link\n");

    const std::string file = dir / "file";
    write_file(file, "");
    EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(check_staging_dir(file.c_str()), -1); }), file + ": not a directory\n");

    if (geteuid() == 0) {
        const std::string foreign = dir / "foreign";
        mkdir(foreign.c_str(), 0755);
        ASSERT_EQ(chown(foreign.c_str(), 1234, 1234), 0);
        EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(check_staging_dir(foreign.c_str()), -1); }),
                  foreign + ": owned by uid 1234, not by uid 0\n");
    }
}

// Every directory made below /tmp/root is named on stderr, so that the
// expected messages show that nothing was tried there.
extern "C" int __real_mkdir(const char *path, mode_t mode);
extern "C" int __wrap_mkdir(const char *path, mode_t mode) {
    if (strncmp(path, "/tmp/root/", 10) == 0)
        fprintf(stderr, "mkdir %s\n", path);
    return __real_mkdir(path, mode);
}

// /tmp/root is checked before anything is made inside it: a regular file
// there fails as the mkdir of sbin would, without that mkdir; a link is
// refused, and nothing is made where it points.
TEST_F(StageOne, StagingDirectoriesAreCheckedInOrder) {
    REQUIRE_PRIVATE_TMP();
    write_file(paths::ram_root, "");
    EXPECT_EXIT(make_staging_dirs(), testing::ExitedWithCode(1), testing::Eq("ERROR: mkdir /tmp/root/sbin failed\n"));
    unlink(paths::ram_root);
    mkdir("/tmp/elsewhere", 0755);
    ASSERT_EQ(symlink("/tmp/elsewhere", paths::ram_root), 0);
    EXPECT_EXIT(make_staging_dirs(), testing::ExitedWithCode(1),
                testing::Eq("/tmp/root: is a symbolic link\nERROR: unsafe staging directory /tmp/root\n"));
    EXPECT_FALSE(path_exists("/tmp/elsewhere/sbin"));
    unlink(paths::ram_root);
}

TEST(MountTable, LinesOfAnyLengthAndShape) {
    ScratchDir dir;
    const std::string table = dir / "mountinfo";
    const std::string long_options(1500, 'o');
    struct Row {
        std::string lines;
        int found;
        const char *type;
    } rows[] = {
        {"22 1 0:21 / /tmp rw shared:5 - tmpfs tmpfs rw\n", 1, "tmpfs"},
        {"22 1 0:21 / /tmp rw - tmpfs tmpfs rw\n23 22 0:22 / /tmp rw master:1 shared:7 - ramfs none rw\n", 1, "ramfs"},
        {"22 1 0:21 / /tmp\\040x rw - tmpfs tmpfs rw\n22 1 0:21 / /tmpx rw - tmpfs t rw\n", 0, ""},
        {"22 1 0:21 / /tmp rw," + long_options + " - overlay overlay rw," + long_options + "\n", 1, "overlay"},
        {"22 1 0:21 " + long_options + " /x rw - tmpfs t rw\n22 1 0:21 / /tmp rw - tmpfs tmpfs rw", 1, "tmpfs"},
        {"22 1 0:21 / /tmp rw\n", 0, ""},
    };
    for (const Row &row : rows) {
        write_file(table, row.lines);
        char type[32] = "";
        EXPECT_EQ(find_mount_in(table.c_str(), "/tmp", type, sizeof type), row.found) << row.lines.substr(0, 80);
        EXPECT_STREQ(type, row.type) << row.lines.substr(0, 80);
    }
    EXPECT_EQ(find_mount_in((dir / "missing").c_str(), "/tmp", nullptr, 0), -1);
}

// Images that check themselves, good and broken, built here. The CRC is
// zlib's, whose check value over "123456789" is 0xcbf43926.
std::string be32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string le32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}
uint32_t crc(const std::string &s) {
    return crc32_update(0, reinterpret_cast<const unsigned char *>(s.data()), s.size());
}

std::string uimage(const std::string &data) {
    std::string h = be32(0x27051956) + be32(0) + be32(0) + be32(static_cast<uint32_t>(data.size())) + be32(0) +
                    be32(0) + be32(crc(data)) + std::string("\x05\x02\x02\x00", 4) + std::string(32, '\0');
    h.replace(4, 4, be32(crc(h)));
    return h + data;
}

std::string ubi_block(uint32_t size) {
    std::string ec = be32(0x55424923) + std::string("\x01\0\0\0", 4) + std::string(8, '\0') + be32(64) + be32(2048) +
                     be32(1234) + std::string(32, '\0');
    ec += be32(~crc(ec));
    return ec + std::string(size - 64, '\xff');
}

TEST(ImageFormat, GoodAndBrokenImages) {
    EXPECT_EQ(crc("123456789"), 0xcbf43926u);
    ScratchDir dir;
    const std::string image = dir / "image";
    const std::string data(5000, 'k');
    const std::string good_u = uimage(data);
    std::string flipped_data = good_u, flipped_name = good_u;
    flipped_data[3000] ^= 1;
    flipped_name[40] ^= 1;
    const std::string squash = le32(0x73717368) + std::string(24, '\0') + std::string("\x04\0", 2) +
                               std::string(10, '\0') + le32(6000) + le32(0) + std::string(48, '\0');
    const std::string fit = read_data("fit-inside.itb");
    const std::string ubi = ubi_block(4096) + ubi_block(4096);
    std::string ubi_bad = ubi;
    ubi_bad[4096 + 20] ^= 1;
    const auto hex = [](uint32_t v) {
        char b[16];
        snprintf(b, sizeof b, "0x%08x", v);
        return std::string(b);
    };
    struct Row {
        std::string bytes;
        int32_t erase_size;
        std::string err;
    } rows[] = {
        {good_u, 0, ""},
        {good_u + "appended rootfs", 0, ""},
        {good_u.substr(0, 3000), 0, "uImage: the file holds data of 2936 bytes, its header announces 5000\n"},
        {good_u.substr(0, 30), 0, "uImage: the file is 30 bytes, shorter than its 64-byte header\n"},
        {flipped_data, 0,
         "uImage: data CRC is " + hex(crc(flipped_data.substr(64))) + ", the header holds " + hex(crc(data)) + "\n"},
        {flipped_name, 0,
         "uImage: header CRC is " + hex(crc(flipped_name.substr(0, 4) + be32(0) + flipped_name.substr(8, 56))) +
             ", the header holds " + hex(crc(good_u.substr(0, 4) + be32(0) + good_u.substr(8, 56))) + "\n"},
        {fit, 0, ""},
        {fit.substr(0, 2999), 0,
         "FIT image: the file is 2999 bytes, its header announces " + std::to_string(fit.size()) + "\n"},
        {fit.substr(0, 39), 0, "FIT image: the file is 39 bytes, shorter than its 40-byte header\n"},
        {squash + std::string(5904, '\0'), 0, ""},
        {squash + std::string(904, '\0'), 0, "squashfs: the file is 1000 bytes, its header announces 6000\n"},
        {squash.substr(0, 40), 0, "squashfs: the file is 40 bytes, shorter than its 96-byte header\n"},
        {squash.substr(0, 44) + le32(0x80000000) + std::string(5952, '\0'), 0,
         "squashfs: the file is 6000 bytes, its header announces 9223372036854781808\n"},
        {ubi, 4096, ""},
        {ubi, 0, ""},
        {ubi + "x", 4096, "UBI image: the file is 8193 bytes, not a whole number of 4096-byte erase blocks\n"},
        {ubi_block(4096) + std::string(8192, '\xff'), 4096, ""},
        {ubi_block(4096) + std::string(64, '\xff') + std::string(4032, 'z'), 4096, ""},
        {ubi_block(4096) + std::string(63, '\xff') + std::string(4033, 'z'), 4096,
         "UBI image: erase block 1 does not begin with an erase-counter header\n"},
        {ubi_bad, 4096,
         "UBI image: erase block 1: header CRC is " + hex(~crc(ubi_bad.substr(4096, 60))) + ", the header holds " +
             hex(~crc(ubi.substr(4096, 60))) + "\n"},
        {std::string(100, 'z'), 4096, ""},
    };
    for (const Row &row : rows) {
        write_file(image, row.bytes);
        int rc = 0;
        const std::string err = capture_stderr(
            [&] { rc = check_image_format(image.c_str(), static_cast<long long>(row.bytes.size()), row.erase_size); });
        EXPECT_EQ(err, row.err);
        EXPECT_EQ(rc, row.err.empty() ? 0 : -1) << row.err;
    }
    // A file that shrank after its size was taken fails by the bytes read.
    write_file(image, good_u.substr(0, 30));
    EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(check_image_format(image.c_str(), 5000, 0), -1); }),
              "uImage: the file is 30 bytes, shorter than its 64-byte header\n");
    // At -v a passing image is named, with what was checked.
    reset_options_for_test();
    run_options.verbosity = 2;
    const std::pair<std::string, std::string> named[] = {
        {fit, "FIT image: the md5 hash of image 'kernel' is not checked\nFIT image: its length and hashes are right\n"},
        {read_data("fit-nohash.itb"), "FIT image: its length is right; it carries no hashes\n"},
        {good_u, "legacy U-Boot image: its length and CRCs are right\n"},
        {ubi, "UBI image: its erase-counter headers are right\n"},
    };
    for (const auto &row : named) {
        write_file(image, row.first);
        const auto size = static_cast<long long>(row.first.size());
        EXPECT_EQ(capture_stderr([&] { check_image_format(image.c_str(), size, 4096); }), row.second);
    }
    reset_options_for_test();
}

// FITs made by mkimage (data/make-fits.sh): the data inside the tree,
// after it (data-offset) and at given positions (data-position). Every
// image's hashes are checked against its own bytes, found here by their
// payloads; an image damaged anywhere fails by name, and so does a tree
// that cannot be walked.
std::string payload(int first, size_t size) {
    std::string s;
    for (int i = first; s.size() < size; i++)
        s += std::to_string(i) + "\n";
    return s.substr(0, size);
}

uint32_t be32_of(const std::string &s, size_t at) {
    uint32_t v = 0;
    for (size_t i = at; i < at + 4; i++)
        v = v << 8 | static_cast<unsigned char>(s[i]);
    return v;
}

TEST(ImageFormat, FitHashes) {
    ScratchDir dir;
    const std::string image = dir / "image";
    const std::string inside = read_data("fit-inside.itb");
    const std::pair<std::string, std::string> images[] = {{"kernel", payload(1, 3000)},
                                                          {"ramdisk", payload(5000, 1500)}};
    std::vector<std::pair<std::string, std::string>> rows;
    for (const char *name : {"fit-inside.itb", "fit-external.itb", "fit-position.itb"}) {
        const std::string fit = read_data(name);
        rows.emplace_back(fit, "");
        for (const auto &[node, bytes] : images) {
            std::string flipped = fit;
            ASSERT_NE(fit.find(bytes), std::string::npos) << name << node;
            flipped[fit.find(bytes) + 1000] ^= 1;
            const std::string algo = node == "kernel" ? "sha256" : "crc32";
            rows.emplace_back(flipped,
                              "FIT image: the " + algo + " hash of image '" + node + "' does not match its data\n");
        }
    }
    const auto walk_fails = [](const char *why) {
        return "FIT image: its tree cannot be walked: " + std::string(why) + "\n";
    };
    const auto patch = [&](size_t at, uint32_t value) {
        return inside.substr(0, at) + be32(value) + inside.substr(at + 4);
    };
    const uint32_t root_prop = be32_of(inside, 8) + 8;
    const std::string cut = patch(4, 1000).substr(0, 1000);
    rows.emplace_back(cut, walk_fails("its structure or strings block lies outside the tree"));
    for (const uint32_t length : {0x7fffffffU, 0xfffffffcU})
        rows.emplace_back(patch(root_prop + 4, length), walk_fails("a node or property runs past the structure block"));
    rows.emplace_back(patch(root_prop + 8, 0x7fffffff), walk_fails("a property name lies outside the strings block"));
    const std::string external = read_data("fit-external.itb");
    rows.emplace_back(external.substr(0, external.size() - 100),
                      "FIT image: the data of image 'ramdisk' lies outside the file\n");
    // A tree that ends off a 4-byte boundary, right after its strings
    // (mkimage pads its own): the data still counts from the next one.
    rows.emplace_back(external.substr(0, 4) + be32(be32_of(external, 12) + be32_of(external, 32)) + external.substr(8),
                      "");
    for (const auto &row : rows) {
        write_file(image, row.first);
        const auto size = static_cast<long long>(row.first.size());
        int rc = 0;
        EXPECT_EQ(capture_stderr([&] { rc = check_image_format(image.c_str(), size, 0); }), row.second);
        EXPECT_EQ(rc, row.second.empty() ? 0 : -1) << row.second;
    }
}

// FITs good and broken (data/make-fits.sh): a tree, a name or data that
// the bootloader would refuse fails with one line saying why.
TEST(ImageFormat, FitTreesAsTheBootloaderReadsThem) {
    ScratchDir dir;
    const std::string image = dir / "image";
    const std::string walk = "FIT image: its tree cannot be walked: ";
    const std::pair<const char *, std::string> rows[] = {
        {"fit-md5-external.itb", ""},
        {"fit-nohash-external.itb", ""},
        {"fit-sha1.itb", ""},
        {"broken-early-end.itb", walk + "its end token comes before the end of its root node"},
        {"broken-root-end.itb", walk + "its end token comes before the end of its root node"},
        {"broken-never-began.itb", walk + "a node ends that never began"},
        {"broken-second-root.itb", walk + "something follows the root node"},
        {"broken-end-not-last.itb", walk + "its end token is not at the end of the structure block"},
        {"broken-unit-address.itb", walk + "a node name holds '@'"},
        {"broken-data-twice.itb", "FIT image: a node of its tree has two properties named 'data'"},
        {"broken-value-twice.itb", "FIT image: a node of its tree has two properties named 'value'"},
        {"broken-images-renamed.itb", "FIT image: it has no /images node"},
        {"broken-description-renamed.itb", "FIT image: its root has no description"},
        {"broken-timestamp-renamed.itb", "FIT image: its root has no timestamp"},
        {"broken-default-missing.itb", "FIT image: its default configuration 'conq' does not exist"},
        {"broken-image-missing.itb", "FIT image: configuration 'conf' names image 'ramdisc', which does not exist"},
        {"broken-algo-renamed.itb", "FIT image: hash node 'hash-1' of image 'kernel' has no algo"},
        {"broken-value-after-subnode.itb", "FIT image: hash node 'hash-1' of image 'kernel' has no algo"},
        {"broken-value-short.itb", "FIT image: the sha256 hash of image 'kernel' is 28 bytes long, not 32"},
        {"broken-value-flipped.itb", "FIT image: the sha256 hash of image 'kernel' does not match its data"},
        {"broken-sha1-data.itb", "FIT image: the sha1 hash of image 'kernel' does not match its data"},
        {"broken-nohash-external-cut.itb", "FIT image: the data of image 'ramdisk' lies outside the file"},
        {"broken-md5-external-cut.itb", "FIT image: the data of image 'ramdisk' lies outside the file"},
        {"broken-nine-hashes.itb", "FIT image: image 'kernel' has more than 8 hash nodes"},
    };
    for (const auto &[name, line] : rows) {
        const std::string fit = read_data(name);
        write_file(image, fit);
        int rc = 0;
        EXPECT_EQ(
            capture_stderr([&] { rc = check_image_format(image.c_str(), static_cast<long long>(fit.size()), 0); }),
            line.empty() ? "" : line + "\n")
            << name;
        EXPECT_EQ(rc, line.empty() ? 0 : -1) << name;
    }
}

// Known answers (FIPS 180), the long one fed in pieces of changing sizes.
TEST(Digest, KnownAnswers) {
    const auto hex_digest = [](DigestKind kind, const std::string &data, size_t piece) {
        Digest d{};
        digest_start(d, kind);
        for (size_t at = 0; at < data.size(); at += piece++)
            digest_update(d, reinterpret_cast<const unsigned char *>(data.data()) + at,
                          std::min(piece, data.size() - at));
        unsigned char out[max_digest_size];
        std::string text;
        for (size_t i = 0, n = digest_finish(d, out); i < n; i++) {
            char b[3];
            snprintf(b, sizeof b, "%02x", out[i]);
            text += b;
        }
        return text;
    };
    const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string million(1000000, 'a');
    EXPECT_EQ(hex_digest(DigestKind::sha1, "", 1), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(hex_digest(DigestKind::sha1, "abc", 1), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex_digest(DigestKind::sha1, two_blocks, 64), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(hex_digest(DigestKind::sha1, million, 7), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(hex_digest(DigestKind::sha256, "", 1),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex_digest(DigestKind::sha256, "abc", 2),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex_digest(DigestKind::sha256, two_blocks, 100),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hex_digest(DigestKind::sha256, million, 61),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(hex_digest(DigestKind::crc32, "123456789", 4), "cbf43926");
}

} // namespace
