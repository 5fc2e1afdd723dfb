#include "base/options.h"
#include "mtd/guard.h"
#include "support.h"

#include <gtest/gtest.h>

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

} // namespace
