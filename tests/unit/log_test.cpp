#include "base/log.h"
#include "base/options.h"
#include "base/paths.h"
#include "support.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Log : public testing::Test {
  protected:
    void SetUp() override {
        reset_options_for_test();
        umask(022);
    }
};

void log_to(const std::string &path, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void log_to(const std::string &path, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    log_progress_to(path.c_str(), fmt, args);
    va_end(args);
}

TEST_F(Log, EchoesWhileVerboseAndAlwaysAppendsToFile) {
    ScratchDir dir;
    const std::string log = dir / "reflasher.log";
    std::string err = capture_stderr([&] { log_to(log, "Staging self into %s", "/x"); });
    EXPECT_EQ(err, "upgrade: Staging self into /x\n");

    run_options.verbosity = 0;
    err = capture_stderr([&] { log_to(log, "quiet %d", 7); });
    EXPECT_EQ(err, "");
    EXPECT_EQ(read_file(log), "upgrade: Staging self into /x\nupgrade: quiet 7\n");
    EXPECT_EQ(file_mode(log), 0666u & ~0022u) << "created 0666 less the umask";
}

TEST_F(Log, LongMessageCutTo1023Characters) {
    ScratchDir dir;
    const std::string log = dir / "reflasher.log";
    const std::string long_text(2000, 'x');
    const std::string err = capture_stderr([&] { log_to(log, "%s", long_text.c_str()); });
    const std::string expected = "upgrade: " + std::string(1023, 'x') + "\n";
    EXPECT_EQ(err, expected);
    EXPECT_EQ(read_file(log), expected);
}

TEST_F(Log, MissingDirectoryOnlyLosesTheFileLine) {
    ScratchDir dir;
    const std::string err = capture_stderr([&] { log_to(dir / "missing/reflasher.log", "still %s", "here"); });
    EXPECT_EQ(err, "upgrade: still here\n");
}

TEST_F(Log, RealLogFileAppendsAcrossRunsAndIgnoresPlantedLink) {
    REQUIRE_PRIVATE_TMP();
    unlink(paths::log_file);
    write_file(paths::log_file, "upgrade: earlier run\n");
    capture_stderr([] { log_progress("Commencing upgrade. Closing all shell sessions."); });
    EXPECT_EQ(read_file(paths::log_file),
              "upgrade: earlier run\nupgrade: Commencing upgrade. Closing all shell sessions.\n");

    // A link planted at the log's path is never followed.
    unlink(paths::log_file);
    write_file("/tmp/victim", "untouched");
    ASSERT_EQ(symlink("/tmp/victim", paths::log_file), 0);
    const std::string err = capture_stderr([] { log_progress("after %s", "link"); });
    EXPECT_EQ(err, "upgrade: after link\n");
    EXPECT_EQ(read_file("/tmp/victim"), "untouched");
    unlink(paths::log_file);
}

TEST_F(Log, ReadOnlyTmpIsSilent) {
    REQUIRE_PRIVATE_TMP();
    unlink(paths::log_file);
    ASSERT_EQ(mount("tmpfs", "/tmp", "tmpfs", MS_RDONLY, nullptr), 0);
    const std::string err = capture_stderr([] { log_progress("ro"); });
    umount("/tmp");
    EXPECT_EQ(err, "upgrade: ro\n");
}

TEST_F(Log, FatalPrintsOneLineAndExits1) {
    run_options.verbosity = -5;
    EXPECT_EXIT(fatal("mkdir %s failed", "/tmp/root"), testing::ExitedWithCode(1),
                testing::Eq("ERROR: mkdir /tmp/root failed\n"));
}

TEST_F(Log, FatalFlushesBufferedStdout) {
    // The child's stdout is a file: buffered output must reach it at exit.
    ScratchDir dir;
    const std::string out = dir / "out";
    EXPECT_EXIT(
        {
            if (freopen(out.c_str(), "w", stdout) == nullptr)
                abort();
            fputs("buffered", stdout);
            fatal("x");
        },
        testing::ExitedWithCode(1), "ERROR: x");
    EXPECT_EQ(read_file(out), "buffered");
}

} // namespace
