#include "base/mountinfo.h"
#include "base/options.h"
#include "mtd/claim.h"
#include "mtd/mtd_table.h"
#include "mtd/stored.h"
#include "support.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char header[] = "dev:    size   erasesize  name\n";

// A fixture tree with a partition table, sysfs size files and device nodes
// (plain files stand in for the character devices).
class MtdTree {
  public:
    MtdTree() {
        mkdir((dir_ / "sys").c_str(), 0755);
        mkdir((dir_ / "dev").c_str(), 0755);
        mkdir((dir_ / "dev/mtd").c_str(), 0755);
        table_ = dir_ / "mtd";
        sys_ = dir_ / "sys";
        dev_ = dir_ / "dev";
    }
    void table(const std::string &text) { write_file(table_, text); }
    void size(int index, const std::string &text) {
        const std::string d = sys_ + "/mtd" + std::to_string(index);
        mkdir(d.c_str(), 0755);
        write_file(d + "/size", text);
    }
    void node_dir(int index, const std::string &tag) { write_file(dev_ + "/mtd/" + std::to_string(index), tag); }
    void node_flat(int index, const std::string &tag) { write_file(dev_ + "/mtd" + std::to_string(index), tag); }
    MtdPaths paths() const { return {table_.c_str(), sys_.c_str(), dev_.c_str()}; }
    std::string path(const std::string &name) const { return dir_ / name; }

    struct Found {
        int rc, index;
        long long size;
    };
    Found find(const std::string &name) const {
        Found f{};
        f.rc = find_mtd_partition_in(paths(), name.c_str(), &f.index, &f.size);
        return f;
    }
    // Returns what the opened descriptor reads, or "fail:<errno>".
    std::string open_tag(const std::string &name) const {
        const int fd = open_mtd_by_name_in(paths(), name.c_str());
        if (fd < 0)
            return "fail:" + std::to_string(errno);
        char buf[64] = {};
        const ssize_t n = read(fd, buf, sizeof buf - 1);
        const int flags = fcntl(fd, F_GETFL);
        close(fd);
        if ((flags & O_ACCMODE) != O_RDWR || (flags & O_SYNC) != O_SYNC)
            return "bad open flags";
        return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
    }

  private:
    ScratchDir dir_;
    std::string table_, sys_, dev_;
};

TEST(MtdTable, ExactQuotedNameAndFirstLineWins) {
    MtdTree t;
    t.table(std::string(header) + "mtd2: 00100000 00010000 \"Firmware_12\"\n"
                                  "mtd3: 00800000 00010000 \"Firmware_1\"\n"
                                  "mtd4: 00800000 00010000 \"Firmware_1\"\n");
    t.size(2, "1048576\n");
    t.size(3, "8388608\n");
    t.size(4, "4096\n");
    t.node_dir(3, "dir3");
    t.node_dir(4, "dir4");
    t.node_flat(2, "flat2");

    const auto f = t.find("Firmware_1");
    EXPECT_EQ(f.rc, 0);
    EXPECT_EQ(f.index, 3);
    EXPECT_EQ(f.size, 8388608);
    EXPECT_EQ(t.open_tag("Firmware_1"), "dir3");
    EXPECT_EQ(t.open_tag("Firmware_12"), "flat2") << "directory node missing, flat node used";

    // Case matters; a prefix of a listed name is not that name.
    EXPECT_EQ(t.find("firmware_1").index, -1);
    EXPECT_EQ(t.find("Firmware_").rc, -1);
    EXPECT_EQ(t.open_tag("firmware_1"), "fail:" + std::to_string(ENOENT));
}

TEST(MtdTable, LineWithoutPrefixEndsFindButIsSkippedByOpen) {
    MtdTree t;
    t.table(std::string(header) + "junk \"Kernel\" here\n"
                                  "mtd5: 00100000 00020000 \"Kernel\"\n");
    t.size(5, "1048576");
    t.node_dir(5, "dir5");
    const auto f = t.find("Kernel");
    EXPECT_EQ(f.rc, -1);
    EXPECT_EQ(f.index, -1);
    EXPECT_EQ(f.size, -1);
    EXPECT_EQ(t.open_tag("Kernel"), "dir5");
}

TEST(MtdTable, SizeFileMustHoldAPositiveNumber) {
    MtdTree t;
    t.table(std::string(header) + "mtd0: 0 0 \"zero\"\nmtd1: 0 0 \"text\"\nmtd2: 0 0 \"empty\"\n"
                                  "mtd3: 0 0 \"nosys\"\nmtd4: 0 0 \"neg\"\nmtd5: 0 0 \"big\"\n");
    t.size(0, "0\n");
    t.size(1, "lots\n");
    t.size(2, "");
    t.size(4, "-4096\n");
    t.size(5, "8589934592\n");
    for (const char *name : {"zero", "text", "empty", "nosys", "neg"}) {
        const auto f = t.find(name);
        EXPECT_EQ(f.rc, -1) << name;
    }
    EXPECT_EQ(t.find("text").size, -1);
    EXPECT_EQ(t.find("nosys").index, 3);
    const auto big = t.find("big");
    EXPECT_EQ(big.rc, 0);
    EXPECT_EQ(big.size, 8589934592LL);
}

TEST(MtdTable, LongLinesArriveInPiecesOfTheBufferSize) {
    MtdTree t;
    // The quoted name straddles the 255-character boundary of the lookup's
    // line buffer but fits the 4095 characters of the open's.
    const std::string pad(250, ' ');
    t.table(std::string(header) + "mtd6:" + pad + "\"Split\"\n" + "mtd7: \"Split\"\n");
    t.size(6, "100");
    t.size(7, "200");
    t.node_flat(6, "flat6");
    t.node_flat(7, "flat7");
    const auto f = t.find("Split");
    EXPECT_EQ(f.index, -1) << "the piece holding the name has no prefix, so the search ends";
    EXPECT_EQ(t.open_tag("Split"), "flat6");

    // Past 4095 characters the open's reads split too: the piece holding the
    // name lacks the prefix and is skipped.
    const std::string long_pad(4100, ' ');
    t.table(std::string(header) + "mtd6:" + long_pad + "\"Far\"\n" + "mtd7: \"Far\"\n");
    EXPECT_EQ(t.open_tag("Far"), "flat7");
}

TEST(MtdTable, LongNamesLoseTheClosingQuoteOnlyInFind) {
    MtdTree t;
    const std::string name(126, 'n');
    t.table(std::string(header) + "mtd1: 0 0 \"" + name + "EXTRA\"\nmtd2: 0 0 \"" + name + "\"\n");
    t.size(1, "11");
    t.size(2, "22");
    t.node_flat(1, "flat1");
    t.node_flat(2, "flat2");
    EXPECT_EQ(t.find(name).index, 1) << "pattern cut to 127 characters: no closing quote";
    EXPECT_EQ(t.open_tag(name), "flat2");
}

TEST(MtdTable, NameNotListedIsOpenedAsPath) {
    MtdTree t;
    t.table(header);
    write_file(t.path("rawdev"), "raw");
    EXPECT_EQ(t.find(t.path("rawdev")).rc, -1);
    EXPECT_EQ(t.open_tag(t.path("rawdev")), "raw");

    // Without any table the same holds.
    unlink(t.paths().table);
    EXPECT_EQ(t.find(t.path("rawdev")).index, -1);
    EXPECT_EQ(t.open_tag(t.path("rawdev")), "raw");
    EXPECT_EQ(t.open_tag("Firmware_1"), "fail:" + std::to_string(ENOENT));
}

TEST(MtdTable, ListedPartitionWithoutNodeFailsWithoutTryingTheName) {
    MtdTree t;
    // The name is also a path that exists, but the listed entry decides.
    write_file(t.path("Listed"), "path");
    KeepCwd keep;
    ASSERT_EQ(chdir(t.path("").c_str()), 0);
    t.table(std::string(header) + "mtd9: 0 0 \"Listed\"\n");
    EXPECT_EQ(t.open_tag("Listed"), "fail:" + std::to_string(ENOENT));
}

// One claim per device, whatever partition a run names. A descriptor of
// the node that the runs inherit (an update agent's) is never taken over;
// the claim crosses the exec at claim_descriptor, which stage two takes
// whatever else is open.
TEST(Claim, OneUpgradePerDevice) {
    MtdTree t;
    t.table(std::string(header) + "mtd0: 00040000 00010000 \"U-Boot\"\nmtd3: 00040000 00010000 \"Firmware_1\"\n");
    t.node_flat(0, "dev0");
    const std::string node = t.path("dev/mtd0");
    const int agent = open(node.c_str(), O_RDONLY);
    // The first run, another process, holds the claim until its pipe closes.
    int ready[2], hold[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(hold), 0);
    const pid_t other = fork();
    if (other == 0) {
        char c = 0;
        close(hold[1]);
        _exit(claim_device_in(t.paths()) == 0 && write(ready[1], "x", 1) == 1 && read(hold[0], &c, 1) >= 0 ? 0 : 1);
    }
    close(hold[0]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    errno = 0;
    EXPECT_EQ(claim_device_in(t.paths()), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    close(hold[1]);
    close(ready[0]);
    close(ready[1]);
    ASSERT_EQ(waitpid(other, nullptr, 0), other);

    // An agent's unlocked descriptor at the hand-over number, shared with
    // every run it starts: neither stage takes it as the claim.
    const char *fdinfo = "/proc/self/fdinfo/9";
    const auto agent_locks = [&] { return flock(agent, LOCK_EX | LOCK_NB) == 0 && flock(agent, LOCK_UN) == 0; };
    for (const bool stage_two : {false, true}) {
        ASSERT_EQ(dup2(agent, claim_descriptor), claim_descriptor);
        EXPECT_EQ(stage_two ? keep_claim_in(t.paths(), fdinfo) : claim_device_in(t.paths()), 0);
        EXPECT_FALSE(agent_locks()) << "stage " << (stage_two ? 2 : 1) << " took the agent's descriptor as its claim";
        close(claim_descriptor);
    }
    // A locked file at the number with the node's inode number on another
    // file system is not the claim (the second tmpfs numbers its files from
    // the start again).
    struct stat node_st {};
    ASSERT_EQ(stat(node.c_str(), &node_st), 0);
    const std::string other_fs = t.path("other");
    ASSERT_EQ(mkdir(other_fs.c_str(), 0755), 0);
    if (private_tmp_ready() && mount("tmpfs", other_fs.c_str(), "tmpfs", 0, nullptr) == 0) {
        struct stat st {};
        for (int i = 0; i < 10000 && st.st_ino != node_st.st_ino; i++) {
            const std::string impostor = other_fs + "/" + std::to_string(i);
            write_file(impostor, "");
            ASSERT_EQ(stat(impostor.c_str(), &st), 0);
            if (st.st_ino == node_st.st_ino) {
                ASSERT_EQ(dup2(open(impostor.c_str(), O_RDONLY), claim_descriptor), claim_descriptor);
                ASSERT_EQ(flock(claim_descriptor, LOCK_EX), 0);
            }
        }
        ASSERT_EQ(st.st_ino, node_st.st_ino);
        EXPECT_EQ(keep_claim_in(t.paths(), fdinfo), 0);
        EXPECT_FALSE(agent_locks()) << "a file with the node's inode number only was taken as the claim";
        close(claim_descriptor);
        umount(other_fs.c_str());
    }

    // A caller that left 70 descriptors open.
    int fds[70];
    for (int &fd : fds)
        fd = open(node.c_str(), O_RDONLY);
    EXPECT_EQ(claim_device_in(t.paths()), 0);
    EXPECT_EQ(fcntl(claim_descriptor, F_GETFD), 0) << "held at the number, kept across the exec";
    EXPECT_EQ(keep_claim_in(t.paths(), fdinfo), 0) << "stage two takes the claim handed over";
    EXPECT_EQ(fcntl(claim_descriptor, F_GETFD), 0) << "...at the number where it was handed over";
    // (The caller's descriptor at the claim's number gave way to it.)
    for (const int fd : fds)
        EXPECT_TRUE(fd == claim_descriptor || flock(fd, LOCK_EX | LOCK_NB) == -1) << "the claim is held";
    for (const int fd : fds)
        close(fd);
    close(claim_descriptor);
    close(agent);
    // Nothing in the claim waits, whatever lies at the node.
    unlink(node.c_str());
    ASSERT_EQ(mkfifo(node.c_str(), 0600), 0);
    alarm(10);
    EXPECT_EQ(claim_device_in(t.paths()), 0);
    alarm(0);
    close(claim_descriptor);
    unlink(node.c_str());
    errno = 0;
    EXPECT_EQ(claim_device_in(t.paths()), -1) << "a listed device without a node is no claim";
    EXPECT_EQ(errno, ENOENT);
    t.table(header);
    EXPECT_EQ(claim_device_in(t.paths()), 0) << "no MTD device, nothing to claim";
}

} // namespace

// What lies on a partition, from a sysfs and mountinfo fixture: chip A
// (mtd0 Firmware, mtd1 overlapping its last block, mtd2 right after it),
// chip B at the same offsets (mtd3), simulators of two erase sizes (mtd4,
// mtd5), a whole device with its partition below it (mtd6, mtd7), and an
// older kernel's partitions without offsets (mtd8, mtd9).
TEST(Stored, WhatLiesOnThePartition) {
    ScratchDir d;
    const std::string cls = d / "sys/class/mtd";
    std::filesystem::create_directories(cls);
    struct Dev {
        int index;
        std::string dir;
        long long offset, size, erase;
    };
    const Dev devs[] = {
        {0, "platform/a/mtd", 0, 0x400000, 0x10000},       {1, "platform/a/mtd", 0x3f0000, 0x10000, 0x10000},
        {2, "platform/a/mtd", 0x400000, 0x10000, 0x10000}, {3, "platform/b/mtd", 0x3f0000, 0x10000, 0x10000},
        {4, "virtual/mtd", 0, 0x100000, 0x20000},          {5, "virtual/mtd", 0, 0x100000, 0x10000},
        {6, "platform/c/mtd", -1, 0x800000, 0x10000},      {7, "platform/c/mtd/mtd6", 0, 0x10000, 0x10000},
        {8, "platform/e/mtd", -1, 0x10000, 0x10000},       {9, "platform/e/mtd", -1, 0x10000, 0x10000},
    };
    for (const Dev &v : devs) {
        const std::string name = "mtd" + std::to_string(v.index);
        const std::string dir = d / ("sys/devices/" + v.dir + "/" + name);
        std::filesystem::create_directories(dir);
        std::filesystem::create_directory_symlink("../../devices/" + v.dir + "/" + name, cls + "/" + name);
        if (v.offset >= 0)
            write_file(dir + "/offset", std::to_string(v.offset) + "\n");
        write_file(dir + "/size", std::to_string(v.size) + "\n");
        write_file(dir + "/erasesize", std::to_string(v.erase) + "\n");
    }
    std::filesystem::create_directories(d / "sys/class/ubi/ubi0");
    std::filesystem::create_directories(d / "sys/class/ubi/ubi1");
    write_file(d / "sys/class/ubi/ubi0/mtd_num", "1\n");
    write_file(d / "sys/class/ubi/ubi1/mtd_num", "3\n");
    std::filesystem::create_directories(d / "sys/dev/block");
    std::filesystem::create_symlink("../../devices/virtual/ubi/ubi0/block/ubiblock0_0", d / "sys/dev/block/254:0");
    const std::string m = "1 0 ";
    write_file(d / "mountinfo",
               m + "31:0 / /rom ro shared:1 - squashfs /dev/root ro\n" + m +
                   "31:1 / /mnt/my\\040fs rw,noatime - jffs2 mtd:Overlay rw\n" + m +
                   "31:2 / /cfg rw - jffs2 mtd2 rw\n" + m + "31:3 / /b rw - jffs2 mtd3 rw\n" + m +
                   "0:20 / / rw - overlay overlay rw,lowerdir=/rom,upperdir=" + d.path() + ",workdir=/w\n" + m +
                   "0:21 / /o rw - overlay overlay rw,upperdir=/gone/upper,workdir=/w\n" + m +
                   "0:22 / /data rw - ubifs ubi0:data rw\n" + m + "0:23 / /other rw - ubifs ubi1_0 rw\n" + m +
                   "254:0 / /blk ro - squashfs /dev/ubiblock0_0 ro\n");
    const std::string sys_mtd = cls;
    const std::string ubi = d / "sys/class/ubi";
    const std::string info = d / "mountinfo";
    const std::string block = d / "sys/dev/block";
    const StoredPaths where = {{"", sys_mtd.c_str(), ""}, ubi.c_str(), info.c_str(), block.c_str(), "/proc"};

    struct Row {
        int index;
        std::vector<int> mtd;
        std::string points; // each with r (read-only) or w, and its UBI device
    };
    const Row rows[] = {
        {0, {0, 1}, "/rom r-1 /mnt/my fs w-1 /o w-1 /data w0 /blk r0 "},
        {2, {2}, "/cfg w-1 /o w-1 "},
        {4, {4}, "/o w-1 "},
        {7, {7, 6}, "/o w-1 "},
        {8, {8, 9}, "/o w-1 "},
    };
    static Stored stored;
    for (const Row &row : rows) {
        find_stored_in(where, row.index, &stored);
        EXPECT_EQ(std::vector<int>(stored.mtd, stored.mtd + stored.mtd_count), row.mtd) << row.index;
        std::string points;
        for (int i = 0; i < stored.mount_count; i++) {
            const StoredMount &s = stored.mounts[i];
            points += std::string(s.point) + " " + (s.read_only ? "r" : "w") + std::to_string(s.ubi) + " ";
        }
        EXPECT_EQ(points, row.points) << row.index;
    }
    // The UBI volume and the ubiblock device on it cannot be made safe.
    find_stored_in(where, 0, &stored);
    EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(report_stored(stored, "Firmware", false), -1); }),
              "ubifs ubi0:data on /data lies in UBI device 0: no write under a live UBI is safe\n"
              "squashfs /dev/ubiblock0_0 on /blk lies in UBI device 0: no write under a live UBI is safe\n");
    find_stored_in(where, 2, &stored);
    EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(report_stored(stored, "Config", false), 0); }), "");
}

// Remounts read-only past a process writing there (ended), and puts back
// what was remounted when another cannot be.
TEST(Stored, ReadOnlyPastWritersAndBackOnFailure) {
    REQUIRE_PRIVATE_TMP();
    ScratchDir d;
    const std::string fs = d / "fs";
    mkdir(fs.c_str(), 0755);
    ASSERT_EQ(mount("t", fs.c_str(), "tmpfs", MS_NOSUID, nullptr), 0);
    unsigned id = 0;
    LineReader info{};
    ASSERT_EQ(lines_open(info, "/proc/self/mountinfo"), 0);
    for (MountEntry e{}; next_mount(info, &e);)
        id = fs == e.point ? e.id : id;
    lines_close(info);
    const pid_t writer = fork();
    if (writer == 0) {
        const int fd = open((fs + "/log").c_str(), O_WRONLY | O_CREAT, 0644);
        while (write(fd, "x", 1) == 1)
            usleep(1000);
        _exit(1);
    }
    static Stored stored;
    stored = Stored{};
    auto add = [&](const std::string &point) {
        StoredMount &m = stored.mounts[stored.mount_count++];
        snprintf(m.point, sizeof m.point, "%s", point.c_str());
        snprintf(m.type, sizeof m.type, "tmpfs");
        snprintf(m.source, sizeof m.source, "t");
        m.flags = MS_NOSUID;
        m.id = id;
    };
    add(fs);
    while (!path_exists(fs + "/log"))
        usleep(1000);
    EXPECT_EQ(make_stored_read_only(system_stored_paths, &stored), 0);
    int status = 0;
    EXPECT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    struct statvfs vfs {};
    ASSERT_EQ(statvfs(fs.c_str(), &vfs), 0);
    EXPECT_EQ(vfs.f_flag & (ST_RDONLY | ST_NOSUID), ST_RDONLY | ST_NOSUID);

    restore_stored(&stored);
    stored.mounts[0].made_read_only = false;
    add(d / "gone"); // remounted first, and fails
    std::swap(stored.mounts[0], stored.mounts[1]);
    run_options.verbosity = 0;
    EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(make_stored_read_only(system_stored_paths, &stored), -1); }),
              "tmpfs t on " + d / "gone" + " cannot be made read-only: No such file or directory\n");
    ASSERT_EQ(statvfs(fs.c_str(), &vfs), 0);
    EXPECT_EQ(vfs.f_flag & (ST_RDONLY | ST_NOSUID), ST_NOSUID) << "put back read-write, nosuid kept";
    EXPECT_EQ(umount(fs.c_str()), 0);
}
