#include "base/options.h"
#include "base/paths.h"
#include "stage1/stage_one.h"
#include "support.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
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

} // namespace
