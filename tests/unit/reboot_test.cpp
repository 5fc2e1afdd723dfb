#include "base/options.h"
#include "base/paths.h"
#include "stage2/reboot.h"
#include "support.h"

#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/reboot.h>
#include <vector>

// reboot(2), sleep, sync and the SysRq files are faked at link time: the
// restart fallback is recorded instead of carried out. The binary also runs
// in namespaces of its own (see contained.sh) in case a fake did not apply.

namespace {

std::vector<std::string> events;
int fake_fd_base = 900;
bool sysrq_opens_fail = false;

bool is_sysrq(const char *path) {
    return strcmp(path, paths::sysrq_trigger) == 0 || strcmp(path, paths::sysrq_enable) == 0;
}

const char *fake_path(int fd) {
    if (fd == fake_fd_base)
        return paths::sysrq_trigger;
    if (fd == fake_fd_base + 1)
        return paths::sysrq_enable;
    return nullptr;
}

} // namespace

extern "C" {

int __real_open(const char *path, int flags, ...);
ssize_t __real_write(int fd, const void *buf, size_t count);
int __real_close(int fd);

int __wrap_reboot(int cmd) {
    events.push_back(cmd == RB_AUTOBOOT ? "reboot RB_AUTOBOOT" : "reboot other");
    errno = EPERM;
    return -1;
}

unsigned __wrap_sleep(unsigned seconds) {
    events.push_back("sleep " + std::to_string(seconds));
    return 0;
}

void __wrap_sync() { events.push_back("sync"); }

int __wrap_open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const auto mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
    if (!is_sysrq(path))
        return __real_open(path, flags, mode);
    events.push_back(std::string("open ") + path + ((flags & O_ACCMODE) == O_WRONLY ? " write-only" : " other") +
                     ((flags & O_CREAT) != 0 ? " creating" : ""));
    if (sysrq_opens_fail) {
        errno = EACCES;
        return -1;
    }
    return strcmp(path, paths::sysrq_trigger) == 0 ? fake_fd_base : fake_fd_base + 1;
}

// With 64-bit file offsets on a 32-bit C library, open is open64.
int __real_open64(const char *path, int flags, ...);
int __wrap_open64(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const auto mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
    if (!is_sysrq(path))
        return __real_open64(path, flags, mode);
    return __wrap_open(path, flags, mode);
}

ssize_t __wrap_write(int fd, const void *buf, size_t count) {
    if (fake_path(fd) == nullptr)
        return __real_write(fd, buf, count);
    events.push_back(std::string("write ") + fake_path(fd) + " \"" +
                     std::string(static_cast<const char *>(buf), count) + "\"");
    return static_cast<ssize_t>(count);
}

int __wrap_close(int fd) {
    if (fake_path(fd) == nullptr)
        return __real_close(fd);
    events.push_back(std::string("close ") + fake_path(fd));
    return 0;
}

} // extern "C"

namespace {

class Restart : public testing::Test {
  protected:
    void SetUp() override {
        reset_options_for_test();
        events.clear();
        sysrq_opens_fail = false;
    }
};

TEST_F(Restart, FallbackOrderWhenRebootComesBack) {
    int rc = -1;
    const std::string err = capture_stderr([&] { rc = finish_and_reboot(); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(err, "upgrade: Upgrade completed\nupgrade: Rebooting system...\n");
    const std::vector<std::string> expected = {
        "sleep 1",
        "sync",
        "reboot RB_AUTOBOOT",
        "open /proc/sysrq-trigger write-only",
        "write /proc/sysrq-trigger \"b\"",
        "close /proc/sysrq-trigger",
        "sleep 5",
        "open /proc/sys/kernel/sysrq write-only",
        "write /proc/sys/kernel/sysrq \"1\"",
        "close /proc/sys/kernel/sysrq",
        "open /proc/sysrq-trigger write-only",
        "write /proc/sysrq-trigger \"b\"",
        "close /proc/sysrq-trigger",
        "sleep 5",
    };
    EXPECT_EQ(events, expected);
}

TEST_F(Restart, UnopenableSysrqFilesStillPauseTwice) {
    sysrq_opens_fail = true;
    run_options.verbosity = 0;
    int rc = -1;
    const std::string err = capture_stderr([&] { rc = finish_and_reboot(); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(err, "") << "quiet: the milestones reach only the log";
    const std::vector<std::string> expected = {
        "sleep 1",
        "sync",
        "reboot RB_AUTOBOOT",
        "open /proc/sysrq-trigger write-only",
        "sleep 5",
        "open /proc/sys/kernel/sysrq write-only",
        "open /proc/sysrq-trigger write-only",
        "sleep 5",
    };
    EXPECT_EQ(events, expected);
}

} // namespace
