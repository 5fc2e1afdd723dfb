#include "fake_io.h"
#include "stage1/file_ops.h"
#include "support.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

// copy_file against scripted write results on its destination.

namespace {

class CopyFaults : public testing::Test {
  protected:
    void SetUp() override {
        reset_fake();
        src_ = dir_ / "src";
        dst_ = dir_ / "dst";
        data_ = std::string(40000, 'q');
        write_file(src_, data_);
        write_file(dst_, "old");
        fake.write_file = file_id(dst_);
    }
    int copy(std::string *err) {
        int rc = 0;
        *err = capture_stderr([&] { rc = copy_file(src_.c_str(), dst_.c_str(), 0644); });
        return rc;
    }
    ScratchDir dir_;
    std::string src_, dst_, data_;
};

TEST_F(CopyFaults, InterruptedAndPartialWritesComplete) {
    fake.write_script = {-EINTR, 5, -EINTR, 1, 16000};
    std::string err;
    EXPECT_EQ(copy(&err), 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(read_file(dst_), data_);
}

TEST_F(CopyFaults, WriteOfNothingEndsTheCopy) {
    fake.write_script = {100, 0};
    std::string err;
    EXPECT_EQ(copy(&err), -1);
    EXPECT_EQ(err, "cp: write " + dst_ + ": " + strerror(ENOSPC) + "\n");
}

TEST_F(CopyFaults, WriteErrorOtherThanEintr) {
    fake.write_script = {-EAGAIN};
    std::string err;
    EXPECT_EQ(copy(&err), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(err, "cp: write " + dst_ + ": " + strerror(EAGAIN) + "\n");
}

TEST_F(CopyFaults, InterruptedReadIsNotRepeated) {
    fake.read_file = file_id(src_);
    fake.read_script = {-EINTR};
    std::string err;
    EXPECT_EQ(copy(&err), -1);
    EXPECT_EQ(err, "cp: read " + src_ + ": " + strerror(EINTR) + "\n");
}

} // namespace
