// Link-time fakes of ioctl, read, write, pread, pwrite and lseek (-Wl,--wrap=...). The
// fakes act only on the files a test registers, identified by device and
// inode; every other descriptor goes straight to the C library.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool set = false;
};

FileId file_id(const std::string &path);

struct FakeIo {
    // The simulated MTD device: a plain file that receives the data; the
    // fake answers the MTD requests on it.
    FileId device;
    uint8_t type = 0;
    uint32_t erasesize = 0;
    uint32_t writesize = 2048;
    uint64_t size = 0;
    bool getinfo_fails = false;
    bool unlock_fails = false;
    std::set<int64_t> bad_blocks; // byte offsets
    int64_t badblock_query_fails_at = -1;
    int badblock_query_fails_after = 0; // queries there that succeed first
    int64_t erase_fails_at = -1;
    // Per block offset: how many more erases, writes (pwrite) or reads
    // (pread: garbled, or refused with EIO) of that block fail. Marked blocks go to
    // bad_blocks; marking fails where setbad_fails is set.
    std::map<int64_t, int> erase_faults, write_faults, garbled_reads, read_errors;
    bool setbad_fails = false;
    int64_t garble_at = -1; // the byte of a read that garbling flips; -1: the middle

    // UBI's control device: UBI_IOCDET is recorded with its argument and
    // fails with ubi_detach_error when that is set.
    FileId ubi_control;
    int ubi_detach_error = 0;

    // Scripted results for reads of read_file and writes to write_file:
    // a negative value is returned as -1 with that errno, 0 as a result of
    // 0, a positive value caps the length of a real call. When a script is
    // empty the calls are real.
    FileId read_file;
    FileId write_file;
    std::deque<int> read_script;
    std::deque<int> write_script;
    size_t max_read = 0; // cap for every read of read_file, 0 = none

    // Every request and call seen on the device, in order.
    std::vector<std::string> events;
    // Blocks erased since their last write; a write elsewhere is recorded.
    std::set<int64_t> erased;
    std::map<int64_t, int64_t> programmed; // bytes written since the erase
};

extern FakeIo fake;

void reset_fake();

// "0x" and the value in lower-case hexadecimal, as the events show offsets.
std::string hex(uint64_t v);
