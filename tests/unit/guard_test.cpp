#include "base/options.h"
#include "mtd/guard.h"
#include "support.h"

#include <gtest/gtest.h>
#include <linux/major.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const char *const expected_names[] = {
    "Preloader",    "U-Boot",        "U-Config",  "RF-EEPROM",      "Firmware_2", "Kernel_2",
    "RootFS_2",     "Config_2",      "Storage_B", "Storage_A",      "Dump",       "U-State",
    "U-Config_res", "RF-EEPROM_res", "Full",      "nmbm_spim_nand", "spi-nand0",
};

TEST(Guard, ListIsTheSeventeenNamesInOrder) {
    size_t n = 0;
    while (protected_partitions[n] != nullptr) {
        ASSERT_LT(n, std::size(expected_names));
        EXPECT_STREQ(protected_partitions[n], expected_names[n]);
        n++;
    }
    EXPECT_EQ(n, std::size(expected_names));
}

TEST(Guard, EveryProtectedNameIsRefusedEvenWithForce) {
    run_options.force = true;
    for (const char *name : expected_names) {
        EXPECT_EXIT(check_protected(name), testing::ExitedWithCode(1),
                    testing::Eq(std::string("ERROR: refusing to write to protected partition '") + name + "'\n"));
    }
}

TEST(Guard, OtherNamesPass) {
    for (const char *name : {"Firmware_1", "firmware_2", "U-BOOT", "U-Boot2", "U-Boo", "Firmware_2 ", "/dev/mtd3", "",
                             "Full_", "spi-nand"}) {
        const std::string err = capture_stderr([&] { check_protected(name); });
        EXPECT_EQ(err, "") << name;
    }
}

// Device paths are named through the partition table: mtdN and mtdNro are
// partition N, also behind a link; an MTD device the table does not list
// cannot be told apart from a protected one and is refused.
TEST(Guard, DevicePathsAreNamedByTheTable) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make device nodes";
    ScratchDir dir;
    const std::string table = dir / "mtd";
    write_file(table, "dev:    size   erasesize  name\n"
                      "mtd1: 00040000 00010000 \"U-Boot\"\n"
                      "mtd3: 00100000 00010000 \"Firmware_1\"\n");
    const auto node = [&](const char *name, unsigned minor_number) {
        const std::string path = dir / name;
        EXPECT_EQ(mknod(path.c_str(), S_IFCHR | 0600, makedev(MTD_CHAR_MAJOR, minor_number)), 0) << name;
        return path;
    };
    const std::string uboot = node("mtd1", 2), uboot_ro = node("mtd1ro", 3), fw = node("mtd3", 6);
    const std::string unlisted = node("mtd9", 18);
    const std::string link = dir / "by-name-u-boot";
    ASSERT_EQ(symlink(uboot.c_str(), link.c_str()), 0);
    for (const std::string &path : {uboot, uboot_ro, link})
        EXPECT_EXIT(check_protected_in(table.c_str(), path.c_str()), testing::ExitedWithCode(1),
                    testing::Eq("ERROR: refusing to write to protected partition 'U-Boot' (given as " + path + ")\n"));
    EXPECT_EXIT(
        check_protected_in(table.c_str(), unlisted.c_str()), testing::ExitedWithCode(1),
        testing::Eq("ERROR: refusing to write to " + unlisted + ": an MTD device that " + table + " does not list\n"));
    // Without the table nothing can be named: refused too.
    EXPECT_EXIT(check_protected_in((dir / "none").c_str(), fw.c_str()), testing::ExitedWithCode(1),
                testing::ContainsRegex("does not list"));
    EXPECT_EQ(check_protected_in(table.c_str(), fw.c_str()), makedev(MTD_CHAR_MAJOR, 6));
    EXPECT_EQ(check_protected_in(table.c_str(), table.c_str()), 0u) << "a regular file is no device";
}

} // namespace
