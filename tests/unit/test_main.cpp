// Test entry: when run as root, the whole binary moves into a mount
// namespace of its own with a fresh tmpfs on /tmp, so no test ever touches
// the machine's /tmp.
#include "support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

bool g_private_tmp = false;
const char *g_outside_tmp = nullptr;
int g_data_dir = -1;

bool make_private_tmp() {
    // The test data, held open: the private /tmp would hide a checkout
    // that lies under /tmp.
    g_data_dir = open(UNIT_DATA_DIR, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (geteuid() != 0)
        return false;
    if (unshare(CLONE_NEWNS) != 0)
        return false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0)
        return false;
    // A scratch file system outside /tmp too, for images that must be
    // copied (the build tree itself may lie under /tmp).
    for (const char *dir : {"/mnt", "/srv", "/opt"}) {
        if (mount("tmpfs", dir, "tmpfs", 0, "mode=0755") == 0) {
            g_outside_tmp = dir;
            break;
        }
    }
    return true;
}

} // namespace

bool private_tmp_ready() { return g_private_tmp; }
const char *outside_tmp_dir() { return g_outside_tmp; }
std::string read_data(const std::string &name) {
    return read_file("/proc/self/fd/" + std::to_string(g_data_dir) + "/" + name);
}

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    g_private_tmp = make_private_tmp();
    return RUN_ALL_TESTS();
}
