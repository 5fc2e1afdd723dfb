#include "base/options.h"
#include "fake_io.h"
#include "stage2/ramfs.h"
#include "stage2/ubi.h"
#include "support.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

// The root switch itself runs in the guest; here only the mount wrapper's
// report, with paths that cannot exist, inside the private namespace.

namespace {

TEST(DoMount, ReportsSourceTargetAndErrorText) {
    REQUIRE_PRIVATE_TMP();
    int rc = 0, saved = 0;
    const std::string err = capture_stderr([&] {
        rc = do_mount("/tmp/no-such-root", "/tmp/no-such-root", MS_BIND);
        saved = errno;
    });
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(saved, ENOENT);
    EXPECT_EQ(err, std::string("mount /tmp/no-such-root -> /tmp/no-such-root: ") + strerror(ENOENT) + "\n");
}

TEST(DoMount, SucceedsQuietly) {
    REQUIRE_PRIVATE_TMP();
    ScratchDir dir;
    int rc = -1;
    const std::string err = capture_stderr([&] { rc = do_mount(dir.path().c_str(), dir.path().c_str(), MS_BIND); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(err, "");
    umount(dir.path().c_str());
}

// The detach asks UBI's control device to detach the UBI device whose
// mtd_num names the partition, by its UBI number.
TEST(DetachUbi, ChoosesTheAttachedDeviceOrSaysItCannotTell) {
    reset_fake();
    reset_options_for_test();
    ScratchDir dir;
    const std::string sys = dir / "ubi", ctrl = dir / "ubi_ctrl";
    for (const auto &[ubi, mtd] : {std::pair<int, const char *>{0, "5\n"}, {2, "3\n"}, {4, "13\n"}}) {
        const std::string d = sys + "/ubi" + std::to_string(ubi);
        mkdir(sys.c_str(), 0755);
        mkdir(d.c_str(), 0755);
        write_file(d + "/mtd_num", mtd);
    }
    write_file(ctrl, "");
    fake.ubi_control = file_id(ctrl);
    EXPECT_EQ(capture_stderr([&] { detach_ubi_in(sys.c_str(), ctrl.c_str(), 3); }),
              "Detached UBI device 2 from mtd3\n");
    EXPECT_EQ(fake.events, std::vector<std::string>{"UBI_IOCDET 2"});
    fake.ubi_detach_error = EBUSY;
    EXPECT_EQ(capture_stderr([&] { detach_ubi_in(sys.c_str(), ctrl.c_str(), 3); }),
              std::string("mtd: UBI device 2 is attached to mtd3 and cannot be detached: ") + strerror(EBUSY) + "\n");
    EXPECT_EQ(capture_stderr([&] { detach_ubi_in(sys.c_str(), ctrl.c_str(), 1); }), "");
    const std::string missing = dir / "no-sysfs";
    EXPECT_EQ(capture_stderr([&] { detach_ubi_in(missing.c_str(), ctrl.c_str(), 3); }),
              "mtd: UBI attachment of mtd3 could not be checked: " + missing + " cannot be read\n");
    EXPECT_EQ(capture_stderr([&] { detach_ubi_in(missing.c_str(), missing.c_str(), 3); }), "") << "no UBI at all";
}

} // namespace
