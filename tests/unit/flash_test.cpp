#include "base/options.h"
#include "fake_io.h"
#include "stage2/flash.h"
#include "support.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/major.h>
#include <map>
#include <mtd/mtd-abi.h>
#include <set>
#include <sys/sysmacros.h>
#include <unistd.h>

// The writer against a faked MTD device, for what a real kernel cannot show
// on demand: scripted read and write results, a device that refuses its
// information, a 0 erase-block size, positions past 2 and 4 GiB. The same
// behaviours on real simulated flash are tested in the guest.

namespace {

// The fake device's erase-block size, 4 KiB unless a test sets it.
uint32_t eb = 4096;

std::string old_block(size_t index) { return std::string(eb, static_cast<char>('a' + index % 26)); }

std::string image_bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>((i * 7 + i / 4096) % 253);
    return s;
}

class Flash : public testing::Test {
  protected:
    void SetUp() override {
        reset_options_for_test();
        reset_fake();
        eb = 4096;
        device_ = dir_ / "mtd";
        image_ = dir_ / "image.bin";
    }

    // A device of `blocks` erase blocks, each holding its own old pattern.
    void make_device(uint8_t type, size_t blocks) {
        std::string content;
        for (size_t i = 0; i < blocks; i++)
            content += old_block(i);
        write_file(device_, content);
        fake.device = file_id(device_);
        fake.write_file = fake.device;
        fake.type = type;
        fake.writesize = type == MTD_NORFLASH ? 1 : 2048;
        fake.erasesize = eb;
        fake.size = blocks * eb;
    }

    void make_image(const std::string &content) {
        write_file(image_, content);
        fake.read_file = file_id(image_);
    }

    std::string run() {
        return capture_stderr([&] { flash_image(image_.c_str(), device_.c_str()); });
    }

    // For death tests, whose stderr the framework captures itself.
    void run_raw() { flash_image(image_.c_str(), device_.c_str()); }

    std::string block(size_t index) const { return read_file(device_).substr(index * eb, eb); }

    static std::string erase(uint64_t offset) { return "MEMERASE " + hex(offset) + " " + hex(eb); }
    static std::string unlock(uint64_t offset) { return "MEMUNLOCK " + hex(offset) + " " + hex(eb); }
    static std::string write(uint64_t offset, uint64_t n = eb) { return "write " + hex(offset) + " " + hex(n); }
    static std::string read(uint64_t offset, uint64_t n = eb) { return "read " + hex(offset) + " " + hex(n); }
    static void add(std::vector<std::string> &events, const std::vector<std::string> &more) {
        events.insert(events.end(), more.begin(), more.end());
    }

    // The device's geometry: its information and its 64-bit size.
    static std::vector<std::string> opened() { return {"MEMGETINFO", "lseek end+0x0", "lseek set 0x0"}; }

    std::string head() const { return "Writing to " + device_ + " ...\n"; }
    std::string failed() const { return "ERROR: flashing '" + device_ + "' failed\n"; }

    ScratchDir dir_;
    std::string device_, image_;
};

TEST_F(Flash, NorExactBlocksWithoutFillAndNothingPastTheImage) {
    // Erase blocks of 4 and 64 KiB; write units of 1 byte (the magic's 4
    // go last) and of 16.
    for (const auto &[erase_size, unit] : {std::pair<uint32_t, uint32_t>{4096, 1}, {65536, 16}}) {
        SCOPED_TRACE(erase_size);
        reset_fake();
        eb = erase_size;
        make_device(MTD_NORFLASH, 6);
        fake.writesize = unit;
        const uint32_t last = std::max(unit, 4u);
        const std::string img = image_bytes(3 * eb);
        make_image(img);
        EXPECT_EQ(run(), head() + "Done.\n");

        // Each block is compared before it is touched; the first is erased
        // before any other and written last, its first write unit after the
        // rest; every write is read back.
        std::vector<std::string> expected = opened();
        add(expected, {read(0), read(eb), unlock(0), erase(0), unlock(eb), erase(eb), write(eb), read(eb), read(2 * eb),
                       unlock(2 * eb), erase(2 * eb), write(2 * eb), read(2 * eb), write(last, eb - last),
                       write(0, last), read(0)});
        EXPECT_EQ(fake.events, expected) << "no bad-block query on NOR";
        EXPECT_EQ(read_file(device_).substr(0, 3 * eb), img);
        for (size_t b = 3; b < 6; b++)
            EXPECT_EQ(block(b), old_block(b)) << b;
    }
}

TEST_F(Flash, OneByteMoreFillsTheLastBlockWithFF) {
    for (const uint32_t erase_size : {4096, 65536}) {
        SCOPED_TRACE(erase_size);
        reset_fake();
        eb = erase_size;
        make_device(MTD_NANDFLASH, 4);
        const std::string img = image_bytes(2 * eb + 1);
        make_image(img);
        EXPECT_EQ(run(), head() + "Done.\n");
        EXPECT_EQ(read_file(device_).substr(0, 2 * eb), img.substr(0, 2 * eb));
        EXPECT_EQ(block(2), img.substr(2 * eb) + std::string(eb - 1, '\xff'));
        EXPECT_EQ(block(3), old_block(3));
        // The good blocks are counted before the first erase; the last chunk
        // is programmed and read back only up to the end of its one page with
        // data; NAND blocks are not compared before the erase, and the first is
        // programmed in one write.
        std::vector<std::string> expected = opened();
        add(expected, {"MEMGETBADBLOCK 0x0", "MEMGETBADBLOCK " + hex(eb), "MEMGETBADBLOCK " + hex(2 * eb),
                       "MEMGETBADBLOCK 0x0", unlock(0), erase(0), "MEMGETBADBLOCK " + hex(eb), unlock(eb), erase(eb),
                       write(eb), read(eb), "MEMGETBADBLOCK " + hex(2 * eb), unlock(2 * eb), erase(2 * eb),
                       write(2 * eb, 0x800), read(2 * eb, 0x800), write(0), read(0)});
        EXPECT_EQ(fake.events, expected);
    }
}

TEST_F(Flash, ShortAndInterruptedReadsStillFillWholeBlocks) {
    make_device(MTD_NORFLASH, 4);
    const std::string img = image_bytes(2 * eb + 100);
    make_image(img);
    fake.max_read = 1000;
    fake.read_script = {-EINTR, 7, -EAGAIN, -EINTR, 1};
    EXPECT_EQ(run(), head() + "Done.\n");
    EXPECT_EQ(read_file(device_).substr(0, 2 * eb + 100), img);
    EXPECT_EQ(block(2).substr(100), std::string(eb - 100, '\xff'));
    int writes = 0;
    for (const auto &e : fake.events)
        writes += e.rfind("write ", 0) == 0;
    EXPECT_EQ(writes, 4) << "one whole-block write per chunk, the first block's in two";
}

TEST_F(Flash, PartialAndInterruptedWritesAreContinued) {
    make_device(MTD_NORFLASH, 3);
    const std::string img = image_bytes(2 * eb);
    make_image(img);
    fake.write_script = {-EINTR, 100, -EAGAIN, 1000};
    EXPECT_EQ(run(), head() + "Done.\n");
    EXPECT_EQ(read_file(device_).substr(0, 2 * eb), img);
    EXPECT_EQ(block(2), old_block(2));
    for (const auto &e : fake.events)
        EXPECT_EQ(e.find("NOT ERASED"), std::string::npos) << e;
}

TEST_F(Flash, EmptyImageTouchesNothing) {
    make_device(MTD_NANDFLASH, 2);
    make_image("");
    EXPECT_EQ(run(), head() + "Done.\n");
    EXPECT_EQ(fake.events, opened());
    EXPECT_EQ(block(0), old_block(0));
}

TEST_F(Flash, NandBadBlocksAreSkippedAndReported) {
    make_device(MTD_MLCNANDFLASH, 8);
    fake.bad_blocks = {0, 3 * eb, 4 * eb};
    const std::string img = image_bytes(3 * eb);
    make_image(img);
    EXPECT_EQ(run(), head() + "Skipping bad block at 0x00000000\n"
                              "Skipping bad block at 0x00003000\n"
                              "Skipping bad block at 0x00004000\n"
                              "Done.\n");
    std::vector<std::string> expected = opened();
    for (const char *e : {"MEMGETBADBLOCK 0x0", "MEMGETBADBLOCK 0x1000", "MEMGETBADBLOCK 0x2000",
                          "MEMGETBADBLOCK 0x3000", "MEMGETBADBLOCK 0x4000", "MEMGETBADBLOCK 0x5000"})
        expected.push_back(e);
    add(expected,
        {"MEMGETBADBLOCK 0x0", "MEMGETBADBLOCK 0x1000", unlock(eb), erase(eb), "MEMGETBADBLOCK 0x2000", unlock(2 * eb),
         erase(2 * eb), write(2 * eb), read(2 * eb), "MEMGETBADBLOCK 0x3000", "MEMGETBADBLOCK 0x4000",
         "MEMGETBADBLOCK 0x5000", unlock(5 * eb), erase(5 * eb), write(5 * eb), read(5 * eb), write(eb), read(eb)});
    EXPECT_EQ(fake.events, expected);
    EXPECT_EQ(block(0), old_block(0));
    EXPECT_EQ(block(1), img.substr(0, eb));
    EXPECT_EQ(block(2), img.substr(eb, eb));
    EXPECT_EQ(block(3), old_block(3));
    EXPECT_EQ(block(4), old_block(4));
    EXPECT_EQ(block(5), img.substr(2 * eb, eb));
    EXPECT_EQ(block(6), old_block(6));
}

TEST_F(Flash, QuietRunPrintsNothingAndRefusedUnlockIsIgnored) {
    make_device(MTD_NANDFLASH, 4);
    fake.bad_blocks = {0};
    fake.unlock_fails = true;
    run_options.verbosity = 0;
    const std::string img = image_bytes(eb + 10);
    make_image(img);
    EXPECT_EQ(run(), "");
    EXPECT_EQ(read_file(device_).substr(eb, eb + 10), img);
}

TEST_F(Flash, ZeroEraseBlockSizeIsRefusedBeforeAnything) {
    make_device(MTD_NORFLASH, 2);
    fake.erasesize = 0;
    make_image(image_bytes(10));
    EXPECT_EXIT(run_raw(), testing::ExitedWithCode(1),
                testing::Eq("mtd: " + device_ + " reports an unusable erase block size of 0 bytes\n" + failed()));
    EXPECT_EQ(block(0), old_block(0));
}

TEST_F(Flash, OpeningFailures) {
    make_device(MTD_NORFLASH, 2);
    const std::string missing = dir_ / "missing.bin";
    EXPECT_EXIT(flash_image(missing.c_str(), device_.c_str()), testing::ExitedWithCode(1),
                testing::Eq("ERROR: cannot open image '" + missing + "': " + strerror(ENOENT) + "\n"));
    make_image(image_bytes(10));
    EXPECT_EXIT(
        flash_image(image_.c_str(), "NoSuchPartition"), testing::ExitedWithCode(1),
        testing::Eq(std::string("mtd: cannot open NoSuchPartition\nERROR: flashing 'NoSuchPartition' failed\n")));
    // A path that no longer leads to the device the guard checked.
    EXPECT_EXIT(flash_image(image_.c_str(), device_.c_str(), makedev(MTD_CHAR_MAJOR, 6)), testing::ExitedWithCode(1),
                testing::Eq("mtd: " + device_ + " is not the device that was checked\n" + failed()));
    fake.getinfo_fails = true;
    EXPECT_EXIT(run_raw(), testing::ExitedWithCode(1),
                testing::Eq("mtd: MEMGETINFO failed for " + device_ + "\n" + failed()));
}

TEST_F(Flash, FailedBadBlockQueryExitsWithoutTheFlashingLine) {
    make_device(MTD_NANDFLASH, 4);
    fake.badblock_query_fails_at = 2 * eb;
    make_image(image_bytes(3 * eb));
    run_options.verbosity = 0;
    EXPECT_EXIT(run_raw(), testing::ExitedWithCode(1),
                testing::Eq(std::string("mtd: MEMGETBADBLOCK failed at 0x2000\n")));
    // The same query answered in the count of good blocks, refused when the
    // write comes to the block.
    fake.badblock_query_fails_after = 1;
    EXPECT_EXIT(run_raw(), testing::ExitedWithCode(1),
                testing::Eq(std::string("mtd: MEMGETBADBLOCK failed at 0x2000\n")));
}

TEST_F(Flash, ImageLargerThanTheGoodBlocksIsRefusedBeforeAnything) {
    // NAND: three blocks, one bad.
    make_device(MTD_NANDFLASH, 3);
    fake.bad_blocks = {eb};
    make_image(image_bytes(3 * eb));
    run_options.verbosity = 0;
    EXPECT_EXIT(
        run_raw(), testing::ExitedWithCode(1),
        testing::Eq("mtd: image is 12288 bytes, " + device_ + " holds only 8192 bytes in good blocks\n" + failed()));

    // NOR: one byte more than the partition.
    make_device(MTD_NORFLASH, 2);
    make_image(image_bytes(2 * eb + 1));
    EXPECT_EXIT(
        run_raw(), testing::ExitedWithCode(1),
        testing::Eq("mtd: image is 8193 bytes, " + device_ + " holds only 8192 bytes in good blocks\n" + failed()));
    EXPECT_EQ(block(0), old_block(0));
    EXPECT_EQ(block(1), old_block(1));
}

TEST_F(Flash, NandProgramsOnlyThePagesThatHoldData) {
    // Two pages per block. Chunks: full; data in its first page only; all
    // 0xFF (erased, not written, after a bad block); data in its second page
    // only; ten bytes.
    make_device(MTD_NANDFLASH, 8);
    fake.bad_blocks = {2 * eb};
    const std::string page(eb / 2, '\xff');
    const std::string img =
        image_bytes(eb) + image_bytes(eb / 2) + page + page + page + page + image_bytes(eb / 2) + image_bytes(10);
    make_image(img);
    run_options.verbosity = 2;
    // The first chunk counts when it is written, last.
    EXPECT_EQ(run(), head() + "Progress: 20% (4 of 17 KiB)\n"
                              "Skipping bad block at 0x00002000\n"
                              "Progress: 40% (8 of 17 KiB)\n"
                              "Progress: 70% (12 of 17 KiB)\n"
                              "Progress: 100% (17 of 17 KiB)\n"
                              "Done.\n");
    std::vector<std::string> expected = opened();
    for (uint64_t b = 0; b < 6; b++)
        expected.push_back("MEMGETBADBLOCK " + hex(b * eb));
    add(expected, {"MEMGETBADBLOCK 0x0",    unlock(0),       erase(0),
                   "MEMGETBADBLOCK 0x1000", unlock(eb),      erase(eb),
                   write(eb, 0x800),        read(eb, 0x800), "MEMGETBADBLOCK 0x2000",
                   "MEMGETBADBLOCK 0x3000", unlock(3 * eb),  erase(3 * eb),
                   "MEMGETBADBLOCK 0x4000", unlock(4 * eb),  erase(4 * eb),
                   write(4 * eb),           read(4 * eb),    "MEMGETBADBLOCK 0x5000",
                   unlock(5 * eb),          erase(5 * eb),   write(5 * eb, 0x800),
                   read(5 * eb, 0x800),     write(0),        read(0)});
    EXPECT_EQ(fake.events, expected);
    const std::string flash = read_file(device_);
    EXPECT_EQ(flash.substr(0, 2 * eb) + flash.substr(3 * eb, 3 * eb), img + std::string(eb - 10, '\xff'));
    EXPECT_EQ(block(2), old_block(2));
    EXPECT_EQ(block(6), old_block(6));
}

TEST_F(Flash, UbiImageHasTheRestOfThePartitionErased) {
    make_device(MTD_NANDFLASH, 6);
    fake.bad_blocks = {4 * eb};
    const std::string img = "UBI#" + image_bytes(eb - 4);
    make_image(img);
    EXPECT_EQ(run(), head() + "Erasing the rest of " + device_ +
                         " for UBI ...\n"
                         "Skipping bad block at 0x00004000\n"
                         "Done.\n");
    EXPECT_EQ(block(0), img);
    for (size_t b : {1, 2, 3, 5})
        EXPECT_EQ(block(b), std::string(eb, '\xff')) << b;
    EXPECT_EQ(block(4), old_block(4));
    for (const auto &e : fake.events)
        EXPECT_EQ(e.find("write 0x1"), std::string::npos) << "nothing written past the image: " << e;
}

// Blocks that fail to erase, program or read back, injected per block:
// three chunks onto eight blocks, at verbosity 0 so that only the "mtd: "
// lines show. In the expected text, %E stands for the error text of EIO
// and %D for the device.
struct FaultCase {
    const char *name;
    uint8_t type;
    std::map<int64_t, int> erase_faults, write_faults, garbled_reads;
    std::set<int64_t> bad_blocks;
    bool setbad_fails;
    const char *err;
    std::vector<size_t> landed;          // blocks holding chunks 0-2; none when the run fails
    std::vector<std::string> sequence{}; // requests that must appear in this order, in a row
};

std::string expand(std::string text, const std::string &device) {
    for (size_t at; (at = text.find("%E")) != std::string::npos;)
        text.replace(at, 2, strerror(EIO));
    for (size_t at; (at = text.find("%D")) != std::string::npos;)
        text.replace(at, 2, device);
    return text;
}

TEST_F(Flash, FailingBlocks) {
    const int64_t b1 = eb, b2 = 2 * eb;
    const std::string marked1 = "mtd: marked the block at 0x00001000 bad: ";
    const FaultCase cases[] = {
        {"NAND erase fails: marked, the next block takes the chunk",
         MTD_NANDFLASH,
         {{b1, 1}},
         {},
         {},
         {},
         false,
         "mtd: MEMERASE failed at 0x00001000: %E\nmtd: marked the block at 0x00001000 bad: erase failed\n",
         {0, 2, 3},
         {erase(eb), "MEMSETBADBLOCK 0x1000", "MEMGETBADBLOCK 0x2000", "MEMGETBADBLOCK 0x3000", "MEMGETBADBLOCK 0x2000",
          unlock(b2), erase(b2), write(b2), read(b2)}},
        {"NAND write fails",
         MTD_NANDFLASH,
         {},
         {{b1, 1}},
         {},
         {},
         false,
         "write: %E\nmtd: marked the block at 0x00001000 bad: write failed\n",
         {0, 2, 3}},
        {"NAND read-back garbled",
         MTD_NANDFLASH,
         {},
         {},
         {{b1, 1}},
         {},
         false,
         "mtd: marked the block at 0x00001000 bad: read-back differs\n",
         {0, 2, 3}},
        {"NAND first block's erase fails: the next good block is first",
         MTD_NANDFLASH,
         {{0, 1}},
         {},
         {},
         {},
         false,
         "mtd: MEMERASE failed at 0x00000000: %E\nmtd: marked the block at 0x00000000 bad: erase failed\n",
         {1, 2, 3},
         {"MEMSETBADBLOCK 0x0", "MEMGETBADBLOCK 0x1000", "MEMGETBADBLOCK 0x2000", "MEMGETBADBLOCK 0x3000",
          "MEMGETBADBLOCK 0x1000", unlock(b1), erase(b1), "MEMGETBADBLOCK 0x2000"}},
        {"NAND first chunk's write fails at the end",
         MTD_NANDFLASH,
         {},
         {{0, 1}},
         {},
         {},
         false,
         "write: %E\nmtd: marked the block at 0x00000000 bad: write failed\n"
         "mtd: the first block of %D, at 0x00000000, could not be written: the partition has no valid start\n",
         {}},
        {"NAND first chunk's write fails at the end, marking refused",
         MTD_NANDFLASH,
         {},
         {{0, 1}},
         {},
         {},
         true,
         "write: %E\nmtd: MEMSETBADBLOCK failed at 0x00000000: %E\n"
         "mtd: the first block of %D, at 0x00000000, could not be written: the partition has no valid start\n",
         {}},
        {"NAND: four in a row stop the run, the fourth unmarked",
         MTD_NANDFLASH,
         {{b1, 1}, {b2, 1}, {3 * eb, 1}, {4 * eb, 1}},
         {},
         {},
         {},
         false,
         "mtd: MEMERASE failed at 0x00001000: %E\nmtd: marked the block at 0x00001000 bad: erase failed\n"
         "mtd: MEMERASE failed at 0x00002000: %E\nmtd: marked the block at 0x00002000 bad: erase failed\n"
         "mtd: MEMERASE failed at 0x00003000: %E\nmtd: marked the block at 0x00003000 bad: erase failed\n"
         "mtd: MEMERASE failed at 0x00004000: %E\nmtd: 4 blocks in a row failed, the last at 0x00004000: the device "
         "or its driver is at fault, no more blocks are marked bad\n",
         {}},
        {"NAND: four failing blocks, never more than two in a row, still complete",
         MTD_NANDFLASH,
         {{b1, 1}, {b2, 1}, {4 * eb, 1}, {5 * eb, 1}},
         {},
         {},
         {},
         false,
         "mtd: MEMERASE failed at 0x00001000: %E\nmtd: marked the block at 0x00001000 bad: erase failed\n"
         "mtd: MEMERASE failed at 0x00002000: %E\nmtd: marked the block at 0x00002000 bad: erase failed\n"
         "mtd: MEMERASE failed at 0x00004000: %E\nmtd: marked the block at 0x00004000 bad: erase failed\n"
         "mtd: MEMERASE failed at 0x00005000: %E\nmtd: marked the block at 0x00005000 bad: erase failed\n",
         {0, 3, 6}},
        {"NAND: the rest no longer fits",
         MTD_NANDFLASH,
         {{b1, 1}},
         {},
         {},
         {3 * eb, 4 * eb, 5 * eb, 6 * eb, 7 * eb},
         false,
         "mtd: MEMERASE failed at 0x00001000: %E\nmtd: marked the block at 0x00001000 bad: erase failed\n"
         "mtd: the rest of the image, 8192 bytes, no longer fits %D: 4096 bytes of good blocks left\n",
         {}},
        {"NAND: marking refused",
         MTD_NANDFLASH,
         {{b1, 1}},
         {},
         {},
         {},
         true,
         "mtd: MEMERASE failed at 0x00001000: %E\nmtd: MEMSETBADBLOCK failed at 0x00001000: %E\n",
         {}},
        // On NOR the compare before the erase reads the block first.
        {"NOR read-back differs once: erased and written again",
         MTD_NORFLASH,
         {},
         {},
         {{b1, 2}},
         {},
         false,
         "mtd: read-back differs at 0x00001000, erasing and writing the block once more\n",
         {0, 1, 2},
         {write(b1), read(b1), unlock(b1), erase(b1), write(b1), read(b1), read(b2)}},
        {"NOR first block's read-back differs: written again, its first word last again",
         MTD_NORFLASH,
         {},
         {},
         {{0, 2}},
         {},
         false,
         "mtd: read-back differs at 0x00000000, erasing and writing the block once more\n",
         {0, 1, 2},
         {write(4, eb - 4), write(0, 4), read(0), unlock(0), erase(0), write(4, eb - 4), write(0, 4), read(0)}},
        {"NOR read-back differs twice",
         MTD_NORFLASH,
         {},
         {},
         {{b1, 3}},
         {},
         false,
         "mtd: read-back differs at 0x00001000, erasing and writing the block once more\n"
         "mtd: read-back differs again at 0x00001000\n",
         {}},
    };
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(c.name);
        reset_fake();
        make_device(c.type, 8);
        fake.erase_faults = c.erase_faults;
        fake.write_faults = c.write_faults;
        fake.garbled_reads = c.garbled_reads;
        fake.bad_blocks = c.bad_blocks;
        fake.setbad_fails = c.setbad_fails;
        const std::string img = image_bytes(3 * eb);
        make_image(img);
        run_options.verbosity = 0;
        const std::string want = expand(c.err, device_);
        if (c.landed.empty()) {
            EXPECT_EXIT(run_raw(), testing::ExitedWithCode(1), testing::Eq(want + failed()));
            continue;
        }
        EXPECT_EQ(run(), want);
        for (size_t chunk = 0; chunk < 3; chunk++)
            EXPECT_EQ(block(c.landed[chunk]), img.substr(chunk * eb, eb)) << chunk;
        const auto at = std::search(fake.events.begin(), fake.events.end(), c.sequence.begin(), c.sequence.end());
        EXPECT_NE(at, fake.events.end()) << testing::PrintToString(fake.events);
        for (const auto &e : fake.events)
            EXPECT_EQ(e.find("NOT ERASED"), std::string::npos) << e;
    }
    // The read-back sees one garbled byte wherever it lies: at each offset
    // of a group of machine words and at the block's end.
    for (int64_t at = 0; at <= 32; at++) {
        SCOPED_TRACE(at);
        reset_fake();
        make_device(MTD_NANDFLASH, 8);
        fake.garbled_reads = {{b1, 1}};
        fake.garble_at = at < 32 ? at : eb - 1;
        make_image(image_bytes(3 * eb));
        run_options.verbosity = 0;
        EXPECT_EQ(run(), marked1 + "read-back differs\n");
    }
}

// NOR blocks that already hold their chunk are compared, not erased or
// written; the first block is still erased first and written last when
// anything changes, and nothing is touched when nothing does.
TEST_F(Flash, NorLeavesUnchangedBlocksAlone) {
    make_device(MTD_NORFLASH, 4);
    const std::string img = image_bytes(3 * eb);
    make_image(img);
    write_file(device_, old_block(0) + img.substr(eb) + old_block(3));
    run_options.verbosity = 2;
    EXPECT_EQ(run(), head() +
                         "Progress: 30% (4 of 12 KiB)\nProgress: 60% (8 of 12 KiB)\nProgress: 100% (12 of 12 KiB)\n"
                         "2 of 3 blocks already up to date\nDone.\n");
    std::vector<std::string> expected = opened();
    add(expected, {read(0), read(eb), read(2 * eb), unlock(0), erase(0), write(4, eb - 4), write(0, 4), read(0)});
    EXPECT_EQ(fake.events, expected);
    EXPECT_EQ(read_file(device_).substr(0, 3 * eb), img);

    // All in place: nothing erased or written.
    fake.events.clear();
    EXPECT_EQ(run(), head() +
                         "Progress: 30% (4 of 12 KiB)\nProgress: 60% (8 of 12 KiB)\nProgress: 100% (12 of 12 KiB)\n"
                         "3 of 3 blocks already up to date\nDone.\n");
    add(expected = opened(), {read(0), read(eb), read(2 * eb)});
    EXPECT_EQ(fake.events, expected);

    // A block that cannot be read counts as changed, and brings the erase
    // of the first block, unchanged as it is, before its own.
    fake.events.clear();
    fake.read_errors = {{eb, 1}};
    run_options.verbosity = 0;
    EXPECT_EQ(run(), "");
    add(expected = opened(), {read(0), read(eb), unlock(0), erase(0), unlock(eb), erase(eb), write(eb), read(eb),
                              read(2 * eb), write(4, eb - 4), write(0, 4), read(0)});
    EXPECT_EQ(fake.events, expected);
    EXPECT_EQ(read_file(device_).substr(0, 3 * eb), img);
}

TEST_F(Flash, ReadAndWriteErrors) {
    make_device(MTD_NORFLASH, 4);
    make_image(image_bytes(3 * eb));
    run_options.verbosity = 0;

    fake.read_script = {-EINTR, -EIO};
    EXPECT_EXIT(run_raw(), testing::ExitedWithCode(1),
                testing::Eq("read: " + std::string(strerror(EIO)) + "\n" + failed()));

    // NOR: a failed write gets one more erase and write of its block.
    const auto twice = [](const std::string &line, const char *at) {
        return line + "mtd: write failed at " + at + ", erasing and writing the block once more\n" + line +
               "mtd: write failed again at " + at + "\n";
    };
    fake.read_script.clear();
    fake.write_script = {static_cast<int>(eb), 10, -EIO, -EIO};
    EXPECT_EXIT(run_raw(), testing::ExitedWithCode(1),
                testing::Eq(twice("write: " + std::string(strerror(EIO)) + "\n", "0x00002000") + failed()));

    // Each run starts from the old contents: a block written by the run
    // before would be found unchanged.
    make_device(MTD_NORFLASH, 4);
    fake.write_script = {-EAGAIN, 0, 0};
    EXPECT_EXIT(run_raw(), testing::ExitedWithCode(1),
                testing::Eq(twice("mtd: insufficient space on " + device_ + "\n", "0x00001000") + failed()));

    // The kernel answers a write past the end with ENOSPC: the write error.
    make_device(MTD_NORFLASH, 4);
    fake.write_script = {-ENOSPC, -ENOSPC};
    EXPECT_EXIT(run_raw(), testing::ExitedWithCode(1),
                testing::Eq(twice("write: " + std::string(strerror(ENOSPC)) + "\n", "0x00001000") + failed()));
}

TEST_F(Flash, PositionsPastTwoAndFourGiBNeverWrap) {
    REQUIRE_PRIVATE_TMP();
    // A sparse NAND of 4 GiB and three blocks, whose first 4 GiB less one
    // block are bad, and the second block above 4 GiB: the image lands on
    // the last block below 4 GiB, the first above it and the third. The
    // positions are printed whole (a 32-bit size_t would cut them).
    constexpr uint64_t big_eb = 128 * 1024;
    constexpr uint64_t four_gib = UINT64_C(1) << 32;
    const int fd = open(device_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(four_gib + 3 * big_eb)), 0);
    close(fd);
    fake.device = file_id(device_);
    fake.type = MTD_NANDFLASH;
    fake.erasesize = big_eb;
    fake.size = four_gib + 3 * big_eb;
    for (uint64_t off = 0; off < four_gib - big_eb; off += big_eb)
        fake.bad_blocks.insert(static_cast<int64_t>(off));
    fake.bad_blocks.insert(static_cast<int64_t>(four_gib + big_eb));
    std::string img(3 * big_eb, '\0');
    for (size_t i = 0; i < img.size(); i++)
        img[i] = static_cast<char>(i / big_eb + 1);
    make_image(img);

    const std::string err = run();
    const std::string last_lines = "Skipping bad block at 0xfffc0000\nSkipping bad block at 0x100020000\nDone.\n";
    ASSERT_GE(err.size(), last_lines.size());
    EXPECT_EQ(err.substr(err.size() - last_lines.size()), last_lines);

    std::vector<std::string> tail(fake.events.end() - 14, fake.events.end());
    const std::vector<std::string> expected = {
        "MEMGETBADBLOCK 0xfffe0000",      "MEMUNLOCK 0xfffe0000 0x20000",   "MEMERASE 0xfffe0000 0x20000",
        "MEMGETBADBLOCK 0x100000000",     "MEMERASE64 0x100000000 0x20000", "write 0x100000000 0x20000",
        "read 0x100000000 0x20000",       "MEMGETBADBLOCK 0x100020000",     "MEMGETBADBLOCK 0x100040000",
        "MEMERASE64 0x100040000 0x20000", "write 0x100040000 0x20000",      "read 0x100040000 0x20000",
        "write 0xfffe0000 0x20000",       "read 0xfffe0000 0x20000"};
    EXPECT_EQ(tail, expected);
    EXPECT_NE(std::find(fake.events.begin(), fake.events.end(), "MEMGETBADBLOCK 0x80000000"), fake.events.end())
        << "the query past 2 GiB gets the true position";

    const int rd = open(device_.c_str(), O_RDONLY);
    std::string got(img.size(), '\0');
    const uint64_t landed[] = {four_gib - big_eb, four_gib, four_gib + 2 * big_eb};
    for (size_t chunk = 0; chunk < 3; chunk++) {
        ASSERT_EQ(pread(rd, &got[chunk * big_eb], big_eb, static_cast<off_t>(landed[chunk])),
                  static_cast<ssize_t>(big_eb));
    }
    close(rd);
    EXPECT_EQ(got, img);
    unlink(device_.c_str());
}

} // namespace
