#include "stage2/ramfs.h"
#include "support.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mount.h>

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

} // namespace
