#include "base/options.h"
#include "base/process.h"
#include "main/cli.h"
#include "support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char usage_text[] = "Usage: reflasher [-T] [-F] [-q|-v] [--part NAME] <image-file>\n"
                          "\n"
                          "  -T, --test       verify image but do not flash\n"
                          "  -F, --force      ignore image check failures (dangerous!)\n"
                          "  -q               less verbose\n"
                          "  -v               more verbose\n"
                          "      --part NAME  MTD partition name (default: Firmware_1)\n"
                          "  -h, --help       this help\n"
                          "\n"
                          "Configuration is NOT preserved across the upgrade.\n";

struct Parse {
    ParsedCommandLine result;
    std::string err;
};

ParsedCommandLine parse_raw(std::vector<const char *> args) {
    args.insert(args.begin(), "reflasher");
    std::vector<char *> argv;
    for (const char *a : args)
        argv.push_back(const_cast<char *>(a));
    argv.push_back(nullptr);
    return parse_command_line(static_cast<int>(args.size()), argv.data());
}

Parse parse(const std::vector<const char *> &args) {
    Parse p{};
    p.err = capture_stderr([&] { p.result = parse_raw(args); });
    return p;
}

class CommandLine : public testing::Test {
  protected:
    void SetUp() override { reset_options_for_test(); }
};

TEST_F(CommandLine, NoArgumentsPrintsUsageAndFails) {
    const Parse p = parse({});
    EXPECT_EQ(p.result.mode, RunMode::exit_now);
    EXPECT_EQ(p.result.exit_status, 1);
    EXPECT_EQ(p.err, usage_text);
}

TEST_F(CommandLine, HelpShowsDefaultPartitionEvenAfterPart) {
    for (const char *help : {"-h", "--help"}) {
        reset_options_for_test();
        const Parse p = parse({"--part", "Kernel_1", "img", help, "-x"});
        EXPECT_EQ(p.result.mode, RunMode::exit_now);
        EXPECT_EQ(p.result.exit_status, 0);
        EXPECT_EQ(p.err, usage_text) << help;
    }
}

TEST_F(CommandLine, VersionOnStdoutAndExit0) {
    for (const char *version : {"-V", "--version"}) {
        Parse p{};
        const std::string out = capture_stdout([&] { p = parse({"-x", version}); });
        EXPECT_EQ(p.result.mode, RunMode::exit_now);
        EXPECT_EQ(p.result.exit_status, 1) << "an earlier invalid option still counts";
        EXPECT_EQ(out, "");
        p = Parse{};
        const std::string shown = capture_stdout([&] { p = parse({"--part", "X", version, "-x"}); });
        EXPECT_EQ(p.result.exit_status, 0);
        EXPECT_EQ(p.err, "");
        EXPECT_TRUE(testing::internal::RE::FullMatch(shown, "reflasher [0-9]+\\.[0-9]+\\.[0-9]+(-g[0-9a-f]+)?\n"))
            << shown;
    }
}

TEST_F(CommandLine, VerbosityArithmetic) {
    struct Case {
        std::vector<const char *> args;
        int verbosity;
    };
    const Case cases[] = {
        {{"-v", "-v", "-q", "img"}, 2},
        {{"--verbose", "0", "-v", "img"}, 1},
        {{"--verbose", "loud", "img"}, 0},
        {{"--verbose", "  -12abc", "img"}, -12},
        {{"--verbose", "+7", "img"}, 7},
        {{"-q", "-q", "img"}, -1},
        {{"--verbose", "5", "--verbose", "3", "img"}, 3},
        {{"--verbose", "2147483647", "-v", "img"}, 2147483647},
        {{"img"}, 1},
    };
    for (const Case &c : cases) {
        reset_options_for_test();
        const Parse p = parse(c.args);
        EXPECT_EQ(p.result.mode, RunMode::stage_one);
        EXPECT_EQ(run_options.verbosity, c.verbosity) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(p.err, "");
    }
}

TEST_F(CommandLine, ImagePathsFlagsAndParts) {
    Parse p = parse({"first.bin", "-T", "second.bin"});
    EXPECT_STREQ(p.result.image_path, "second.bin");
    EXPECT_TRUE(run_options.test_only);
    EXPECT_FALSE(run_options.force);
    EXPECT_STREQ(run_options.part_name, "Firmware_1");

    reset_options_for_test();
    p = parse({"-"});
    EXPECT_EQ(p.result.mode, RunMode::stage_one);
    EXPECT_STREQ(p.result.image_path, "-");

    reset_options_for_test();
    p = parse({"--part", "-T", "img"});
    EXPECT_STREQ(run_options.part_name, "-T");
    EXPECT_FALSE(run_options.test_only);

    reset_options_for_test();
    p = parse({"--force", "--test", "--part", "A", "--part", "B", "img"});
    EXPECT_TRUE(run_options.force);
    EXPECT_TRUE(run_options.test_only);
    EXPECT_STREQ(run_options.part_name, "B");

    reset_options_for_test();
    p = parse({"img", "--stage2"});
    EXPECT_EQ(p.result.mode, RunMode::stage_two);
    EXPECT_STREQ(p.result.image_path, "img");
}

TEST_F(CommandLine, InvalidOptions) {
    for (const char *bad : {"-x", "-vq", "--part=Firmware_2", "-Vq", "--", "--TEST"}) {
        reset_options_for_test();
        const Parse p = parse({"img", bad, "-h"});
        EXPECT_EQ(p.result.mode, RunMode::exit_now);
        EXPECT_EQ(p.result.exit_status, 1);
        EXPECT_EQ(p.err, std::string("Invalid option: ") + bad + "\n");
    }
}

TEST_F(CommandLine, StageTwoWithoutImageShowsUsage) {
    const Parse p = parse({"--stage2", "--part", "Firmware_1"});
    EXPECT_EQ(p.result.mode, RunMode::exit_now);
    EXPECT_EQ(p.result.exit_status, 1);
    EXPECT_EQ(p.err, usage_text);
}

TEST_F(CommandLine, OptionValueMissingIsFatal) {
    EXPECT_EXIT(parse_raw({"img", "--part"}), testing::ExitedWithCode(1),
                testing::Eq("ERROR: --part requires an argument\n"));
    EXPECT_EXIT(parse_raw({"img", "--verbose"}), testing::ExitedWithCode(1),
                testing::Eq("ERROR: --verbose requires an argument\n"));
}

// Each standard descriptor closed alone is filled with /dev/null, so that
// nothing the program opens later takes its place.
TEST_F(CommandLine, ClosedStandardDescriptorsAreFilled) {
    struct stat null_st {};
    ASSERT_EQ(stat("/dev/null", &null_st), 0);
    for (int fd = 0; fd <= 2; fd++) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(fd);
            struct stat st {};
            const bool filled = open_missing_std_fds() == 0 && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) &&
                                st.st_rdev == null_st.st_rdev;
            _exit(filled ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "descriptor " << fd;
    }
}

} // namespace
