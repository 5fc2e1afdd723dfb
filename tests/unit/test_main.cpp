// Test entry: when run as root, the whole binary moves into a mount
// namespace of its own with a fresh tmpfs on /tmp, so no test ever touches
// the machine's /tmp.
#include "support.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

bool g_private_tmp = false;

bool make_private_tmp() {
    if (geteuid() != 0)
        return false;
    if (unshare(CLONE_NEWNS) != 0)
        return false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    return mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0;
}

} // namespace

bool private_tmp_ready() { return g_private_tmp; }

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    g_private_tmp = make_private_tmp();
    return RUN_ALL_TESTS();
}
