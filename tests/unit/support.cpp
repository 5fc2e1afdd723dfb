#include "support.h"

#include "base/options.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string capture_fd(int target, FILE *stream, const std::function<void()> &fn) {
    fflush(stream);
    char name[] = "capture-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        return "<capture failed>";
    unlink(name);
    const int saved = dup(target);
    dup2(fd, target);
    fn();
    fflush(stream);
    dup2(saved, target);
    close(saved);
    std::string out;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

} // namespace

std::string capture_stderr(const std::function<void()> &fn) { return capture_fd(2, stderr, fn); }
std::string capture_stdout(const std::function<void()> &fn) { return capture_fd(1, stdout, fn); }

std::string read_file(const std::string &path) {
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

void write_file(const std::string &path, const std::string &content, unsigned mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    fchmod(fd, mode);
    close(fd);
}

bool path_exists(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

unsigned file_mode(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) < 0)
        return 0;
    return st.st_mode & 07777;
}

ScratchDir::ScratchDir() {
    std::string tmpl = private_tmp_ready() ? "/tmp/scratch-XXXXXX" : "scratch-XXXXXX";
    char *made = mkdtemp(tmpl.data());
    if (made == nullptr)
        abort();
    char resolved[4096];
    path_ = realpath(made, resolved) != nullptr ? resolved : made;
}

ScratchDir::~ScratchDir() {
    nftw(
        path_.c_str(), [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

KeepCwd::KeepCwd() : fd_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

KeepCwd::~KeepCwd() {
    if (fd_ >= 0) {
        if (fchdir(fd_) != 0)
            ADD_FAILURE() << "cannot return to the working directory";
        close(fd_);
    }
}

void reset_options_for_test() { reset_run_options(); }
