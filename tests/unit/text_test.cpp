#include "base/lines.h"
#include "base/text.h"
#include "support.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The program's own formatting and scanning against the C library's, value
// for value, for everything the program formats and scans.

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace {

template <typename... T> void expect_same_format(const char *fmt, T... args) {
    char ours[64];
    char theirs[64];
    const int n_ours = format_string(ours, sizeof ours, fmt, args...);
    const int n_theirs = snprintf(theirs, sizeof theirs, fmt, args...);
    EXPECT_EQ(n_ours, n_theirs) << fmt;
    EXPECT_STREQ(ours, theirs) << fmt;
}

TEST(Format, MatchesTheCLibrary) {
    for (int v : {0, 1, -1, 7, 42, -300, 1234567, INT_MAX, INT_MIN}) {
        for (const char *f : {"%d", "<%5d>", "<%05d>", "%1d"})
            expect_same_format(f, v);
    }
    for (unsigned v : {0u, 1u, 0x1fu, 0755u, 04777u, 0xdeadbeefu, UINT_MAX}) {
        for (const char *f : {"%u", "%x", "%o", "0x%08x", "(mode %04o)", "%3u"})
            expect_same_format(f, v);
    }
    for (long long v : {0LL, -1LL, 4194304LL, 8589934592LL, LLONG_MAX, LLONG_MIN})
        expect_same_format("image is %lld bytes", v);
    for (unsigned long long v : {0ULL, 0x60000ULL, 0xfffe0000ULL, 0x100020000ULL, ULLONG_MAX})
        expect_same_format("at 0x%08llx.", v);
    expect_same_format("%s and %s, %d%%", "one", "", 7);
    expect_same_format("<%8s|%3s>", "ab", "cdef");
}

TEST(Format, CutsLikeSnprintfAndStreamsWithoutLimit) {
    const std::string long_text(2000, 'y');
    char buf[1024];
    EXPECT_EQ(format_string(buf, sizeof buf, "%s!", long_text.c_str()), 2001);
    EXPECT_EQ(std::string(buf), std::string(1023, 'y'));
    EXPECT_EQ(format_string(buf, 1, "abc"), 3);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(format_string(nullptr, 0, "abc%d", 12), 5);

    const std::string err = capture_stderr([&] { EXPECT_EQ(print_to(stderr, "%s|%d\n", long_text.c_str(), 5), 2003); });
    EXPECT_EQ(err, long_text + "|5\n");
}

TEST(Format, UnknownConversionReadsNoFurtherArgument) {
    char buf[64];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#ifdef NDEBUG
    EXPECT_EQ(format_string(buf, sizeof buf, "a %d %c b %s", 1, 'x', "never read"), 11);
    EXPECT_STREQ(buf, "a 1 %c b %s");
#else
    EXPECT_DEATH(format_string(buf, sizeof buf, "a %c b", 'x'), "format: unknown conversion");
#endif
#pragma GCC diagnostic pop
}

TEST(Scan, AtoiRules) {
    for (const char *t :
         {"0", "12", "  -7x", "+3", "\t\n 44 ", "", "abc", "-", "+", " - 1", "2147483647", "2147483648", "-2147483648",
          "-2147483649", "99999999999", "9999999999999999999999", "-9999999999999999999999", "0012", "1e3"}) {
        EXPECT_EQ(parse_atoi(t), atoi(t)) << '"' << t << '"';
    }
}

TEST(Scan, MtdPrefixLikeSscanf) {
    for (const char *line : {"mtd0: 00100000 00010000 \"x\"", "mtd12:", "mtd 3:", "mtd\t-4: z", "mtd+5", "mtd", "mtd:",
                             "mtdx: ", "MTD1:", " mtd1:", "mt", "", "mtd99999999999:", "mtd-:", "mtd2147483648:"}) {
        int ours = -77;
        int theirs = -77;
        const bool ok = scan_mtd_prefix(line, &ours);
        const int n = sscanf(line, "mtd%d:", &theirs);
        EXPECT_EQ(ok, n == 1) << '"' << line << '"';
        EXPECT_EQ(ours, theirs) << '"' << line << '"';
    }
}

TEST(Scan, LongLongLikeFscanf) {
    ScratchDir dir;
    const std::string path = dir / "size";
    for (const char *text : {"4194304\n", "  \n\t 17 ", "-5", "+6", "0", "", "abc", "-", "12abc", "0x10",
                             "9223372036854775807", "9223372036854775808", "-9223372036854775809", " +-3"}) {
        write_file(path, text);
        long long ours = -77;
        long long theirs = -77;
        LineReader a{};
        FILE *b = fopen(path.c_str(), "r");
        ASSERT_TRUE(lines_open(a, path.c_str()) == 0 && b != nullptr);
        const bool ok = scan_long_long(a, &ours);
        const int n = fscanf(b, "%lld", &theirs);
        lines_close(a);
        fclose(b);
        EXPECT_EQ(ok, n == 1) << '"' << text << '"';
        EXPECT_EQ(ours, theirs) << '"' << text << '"';
    }
}

// The line reader against fgets: the same pieces for lines shorter and
// longer than the caller's buffer and than the reader's own, and at the end
// of a file without a final newline.
TEST(Lines, AsFgetsReadsThem) {
    ScratchDir dir;
    const std::string path = dir / "lines";
    for (const std::string &text :
         {std::string("mtd0: 1 2 \"a\"\n\nlast"), std::string(1500, 'x') + "\nshort\n", std::string("")}) {
        write_file(path, text);
        for (const size_t size : {size_t{2}, size_t{7}, size_t{4096}}) {
            LineReader a{};
            FILE *b = fopen(path.c_str(), "r");
            ASSERT_TRUE(lines_open(a, path.c_str()) == 0 && b != nullptr);
            std::vector<char> ours(size), theirs(size);
            bool more = true;
            while (more) {
                more = lines_next(a, ours.data(), size);
                EXPECT_EQ(more, fgets(theirs.data(), static_cast<int>(size), b) != nullptr);
                if (more) {
                    EXPECT_STREQ(ours.data(), theirs.data()) << size;
                }
            }
            lines_close(a);
            fclose(b);
        }
    }
}

} // namespace

#pragma GCC diagnostic pop
