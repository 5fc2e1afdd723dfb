#include "stage1/file_ops.h"
#include "support.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>((i * 131 + 7) % 251);
    return s;
}

struct Copy {
    int rc;
    std::string err;
};

Copy do_copy(const std::string &from, const std::string &to, mode_t mode) {
    Copy c{};
    c.err = capture_stderr([&] { c.rc = copy_file(from.c_str(), to.c_str(), mode); });
    return c;
}

TEST(CopyFile, ContentsAndExactModeWhateverUmaskAndOldFile) {
    ScratchDir dir;
    const mode_t old_umask = umask(0777);
    for (size_t size : {size_t{0}, size_t{1}, size_t{16383}, size_t{16384}, size_t{16385}, size_t{100000}}) {
        const std::string src = dir / "src", dst = dir / "dst";
        write_file(src, pattern(size));
        // An existing, longer destination with another mode.
        write_file(dst, pattern(size + 5000) + "tail", 0600);
        for (mode_t mode : {mode_t{0644}, mode_t{0755}}) {
            const Copy c = do_copy(src, dst, mode);
            EXPECT_EQ(c.rc, 0) << size;
            EXPECT_EQ(c.err, "");
            EXPECT_EQ(read_file(dst), pattern(size)) << size;
            EXPECT_EQ(file_mode(dst), mode) << size;
        }
        // A fresh destination, created while the umask masks everything.
        unlink(dst.c_str());
        EXPECT_EQ(do_copy(src, dst, 0755).rc, 0);
        EXPECT_EQ(file_mode(dst), 0755u);
    }
    umask(old_umask);
}

TEST(CopyFile, FailuresNameThePathAndTheError) {
    ScratchDir dir;
    write_file(dir / "dst", "keep");

    // Missing source: the destination is not touched.
    Copy c = do_copy(dir / "nope", dir / "dst", 0644);
    EXPECT_EQ(c.rc, -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(c.err, "cp: open " + (dir / "nope") + ": " + strerror(ENOENT) + "\n");
    EXPECT_EQ(read_file(dir / "dst"), "keep");

    // Destination in a missing directory.
    write_file(dir / "src", "data");
    c = do_copy(dir / "src", dir / "no/dst", 0644);
    EXPECT_EQ(c.rc, -1);
    EXPECT_EQ(c.err, "cp: open " + (dir / "no/dst") + ": " + strerror(ENOENT) + "\n");

    // A directory as source opens, then its first read fails; the
    // destination is left truncated.
    mkdir((dir / "adir").c_str(), 0755);
    c = do_copy(dir / "adir", dir / "dst", 0644);
    EXPECT_EQ(c.rc, -1);
    EXPECT_EQ(c.err, "cp: read " + (dir / "adir") + ": " + strerror(EISDIR) + "\n");
    EXPECT_EQ(read_file(dir / "dst"), "");
}

TEST(CopyFile, NeverDestroysItsOwnSource) {
    ScratchDir dir;
    const std::string src = dir / "src";
    write_file(src, "precious");

    // Same path, a hard link, and a source that is a link to the destination.
    ASSERT_EQ(link(src.c_str(), (dir / "hard").c_str()), 0);
    ASSERT_EQ(symlink(src.c_str(), (dir / "soft").c_str()), 0);
    const std::pair<std::string, std::string> pairs[] = {{src, src}, {src, dir / "hard"}, {dir / "soft", src}};
    for (const auto &[from, to] : pairs) {
        const Copy c = do_copy(from, to, 0755);
        EXPECT_EQ(c.rc, -1) << from << " -> " << to;
        EXPECT_EQ(c.err, "cp: " + from + " and " + to + " are the same file\n");
        EXPECT_EQ(read_file(src), "precious");
        EXPECT_EQ(file_mode(src), 0644u);
    }
}

TEST(CopyFile, NeverFollowsALinkAtTheDestination) {
    ScratchDir dir;
    write_file(dir / "src", "new");
    write_file(dir / "victim", "old", 0600);
    ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / "planted").c_str()), 0);
    const Copy c = do_copy(dir / "src", dir / "planted", 0644);
    EXPECT_EQ(c.rc, -1);
    EXPECT_EQ(c.err, "cp: open " + (dir / "planted") + ": " + strerror(ELOOP) + "\n");
    EXPECT_EQ(read_file(dir / "victim"), "old");
    EXPECT_EQ(file_mode(dir / "victim"), 0600u);
}

TEST(CopyFile, NeverWritesIntoAnotherUsersFile) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand a file to another user";
    ScratchDir dir;
    write_file(dir / "src", "new");
    write_file(dir / "planted", "theirs", 0666);
    ASSERT_EQ(chown((dir / "planted").c_str(), 1234, 1234), 0);
    const Copy c = do_copy(dir / "src", dir / "planted", 0644);
    EXPECT_EQ(c.rc, -1);
    EXPECT_EQ(c.err, "cp: " + (dir / "planted") + ": owned by uid 1234, not by uid 0\n");
    EXPECT_EQ(read_file(dir / "planted"), "theirs");
}

TEST(CopyFile, OnlyIntoARegularFileOfItsOwn) {
    ScratchDir dir;
    write_file(dir / "src", "bytes");
    const Copy c = do_copy(dir / "src", "/dev/null", 0600);
    EXPECT_EQ(c.rc, -1);
    EXPECT_EQ(c.err, "cp: /dev/null: not a regular file\n");
    EXPECT_EQ(file_mode("/dev/null"), 0666u);
}

class MakeDirs : public testing::Test {
  protected:
    void SetUp() override { umask(022); }
};

bool is_dir(const std::string &p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST_F(MakeDirs, CreatesParentsAndAcceptsExisting) {
    ScratchDir dir;
    const std::string root = dir / "root";
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    EXPECT_EQ(make_dirs((root + "/sbin").c_str()), 0);
    EXPECT_TRUE(is_dir(root + "/sbin"));
    EXPECT_EQ(file_mode(root + "/sbin"), 0755u);
    EXPECT_EQ(file_mode(root), 0700u) << "existing directories keep their modes";
    EXPECT_EQ(make_dirs((root + "/sbin").c_str()), 0);

    EXPECT_EQ(make_dirs((dir / "a/b/c/").c_str()), 0);
    EXPECT_TRUE(is_dir(dir / "a/b/c"));
    EXPECT_EQ(make_dirs((dir / "x//y").c_str()), 0);
    EXPECT_TRUE(is_dir(dir / "x/y"));
    EXPECT_EQ(make_dirs("/"), 0);

    umask(077);
    EXPECT_EQ(make_dirs((dir / "masked").c_str()), 0);
    EXPECT_EQ(file_mode(dir / "masked"), 0700u) << "the umask applies";
}

TEST_F(MakeDirs, RelativePathsBelowTheCurrentDirectory) {
    ScratchDir dir;
    {
        KeepCwd keep;
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        EXPECT_EQ(make_dirs("a/b/c"), 0);
    }
    EXPECT_TRUE(is_dir(dir / "a/b/c"));
}

TEST_F(MakeDirs, RegularFileInThePath) {
    ScratchDir dir;
    write_file(dir / "root", "not a dir");
    EXPECT_EQ(make_dirs((dir / "root").c_str()), 0) << "EEXIST counts as success";
    EXPECT_EQ(make_dirs((dir / "root/sbin").c_str()), -1);
    EXPECT_EQ(errno, ENOTDIR);
}

TEST_F(MakeDirs, LengthLimits) {
    ScratchDir dir;
    EXPECT_EQ(make_dirs(""), -1);

    // 4096 bytes: refused before any system call, so nothing is created.
    std::string too_long = dir / "first";
    while (too_long.size() < 4096)
        too_long += "/d";
    too_long.resize(4096);
    EXPECT_EQ(make_dirs(too_long.c_str()), -1);
    EXPECT_FALSE(path_exists(dir / "first"));

    // 4095 bytes: attempted and made.
    too_long.resize(4095);
    EXPECT_EQ(make_dirs(too_long.c_str()), 0);
    EXPECT_TRUE(is_dir(dir / "first"));
}

} // namespace
