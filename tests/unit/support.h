// Helpers shared by the unit tests.
#pragma once

#include <functional>
#include <string>

// True when the test binary runs in a mount namespace of its own with a
// fresh tmpfs on /tmp (needs root). Tests that touch /tmp skip otherwise.
bool private_tmp_ready();

// A private scratch directory outside /tmp (set up with the private /tmp),
// or null.
const char *outside_tmp_dir();

// Remembers the working directory and goes back to it at the end of the
// scope (by descriptor: its path may be hidden under the private /tmp).
class KeepCwd {
  public:
    KeepCwd();
    ~KeepCwd();
    KeepCwd(const KeepCwd &) = delete;
    KeepCwd &operator=(const KeepCwd &) = delete;

  private:
    int fd_;
};

#define REQUIRE_PRIVATE_TMP()                                                                                          \
    do {                                                                                                               \
        if (!private_tmp_ready())                                                                                      \
            GTEST_SKIP() << "needs root for a private /tmp";                                                           \
    } while (0)

// Runs fn with stderr (or stdout) redirected to a file and returns what it
// wrote.
std::string capture_stderr(const std::function<void()> &fn);
std::string capture_stdout(const std::function<void()> &fn);

std::string read_file(const std::string &path);
// A file of the test data (data/), wherever the checkout lies.
std::string read_data(const std::string &name);
void write_file(const std::string &path, const std::string &content, unsigned mode = 0644);
bool path_exists(const std::string &path);
unsigned file_mode(const std::string &path);

// A fresh directory, removed with everything in it at the end of the test.
// Lies under the private /tmp when there is one, else under the current
// directory (the build tree).
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Resets the process-wide options to their defaults before each test.
void reset_options_for_test();
