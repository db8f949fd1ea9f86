// Bounded copies, comparison, conversion, units, file wrappers, sleeps and the time texts.
#include "core/helpers.h"
#include "core/programstate.h"
#include "core/system.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Each case works in a fresh directory, local time is UTC so virtual clock times read plainly.
class Helpers : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        dir = ts_workdir();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override {
        sy_setclock(SY_CLOCK_REAL);
        programmende_gewuenscht = false;
        inidatgueltig = false;
    }
};

// 2024-03-05 00:00:00 UTC
constexpr time_t tag = 1709596800;

TEST_F(Helpers, BoundedCopiesStopAtTheDestinationSize) {
    struct {
        size_t maxlen;
        const char* want; // null: destination untouched
    } cases[] = {{7, "abcdef"}, {4, "abc"}, {1, ""}, {0, nullptr}};
    for (auto& c : cases) {
        // Exactly maxlen bytes on the heap, so ASan sees any write past them.
        char* dest = (char*)malloc(c.maxlen ? c.maxlen : 1);
        dest[0] = 'x';
        EXPECT_EQ(strmcpy(dest, "abcdef", c.maxlen), dest);
        if (c.want)
            EXPECT_STREQ(dest, c.want) << c.maxlen;
        else
            EXPECT_EQ(dest[0], 'x');
        free(dest);
    }
    char buf[8];
    char* p = stpMcpy(buf, "abc");
    p = stpmcpy(p, "defgh", sizeof buf - (p - buf));
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(p, buf + 7);
    EXPECT_EQ(stpmcpy(buf, "x", 0), buf);
    strMcpy(buf, nullptr);
    EXPECT_STREQ(buf, "");
}

TEST_F(Helpers, FieldSplitterAdvancesOverTheWholeField) {
    struct {
        const char* src;
        size_t maxlen;
        const char* want; // null: destination untouched
        const char* rest;
    } cases[] = {{"ab,cd", 2, "a", "cd"}, {"ab,cd", 10, "ab", "cd"}, {"abc", 10, "abc", ""},
                 {"abc", 2, "a", ""},     {",x", 5, "", "x"},        {"ab,cd", 0, nullptr, "cd"},
                 {"", 5, "", ""}};
    for (auto& c : cases) {
        std::string src = c.src;
        char* sp = src.data();
        char* dest = (char*)malloc(c.maxlen ? c.maxlen : 1);
        dest[0] = 'x';
        strmtcpy(dest, &sp, c.maxlen, ',');
        if (c.want)
            EXPECT_STREQ(dest, c.want) << c.src << " " << c.maxlen;
        else
            EXPECT_EQ(dest[0], 'x');
        EXPECT_STREQ(sp, c.rest) << c.src << " " << c.maxlen;
        free(dest);
    }
    char line[] = "eins|zwei|drei";
    char* sp = line;
    char f[5];
    STRMTCPY(f, &sp, '|');
    EXPECT_STREQ(f, "eins");
    STRMTCPY(f, &sp, '|');
    STRMTCPY(f, &sp, '|');
    EXPECT_STREQ(f, "drei");
    EXPECT_EQ(*sp, '\0');
}

TEST_F(Helpers, NumbersInAnyBase) {
    struct {
        long v;
        int b;
        const char* want;
    } cases[] = {{-45, 10, "-45"},
                 {255, 16, "ff"},
                 {0, 10, "0"},
                 {5, 2, "101"},
                 {INT_MIN, 10, "-2147483648"},
                 {INT_MAX, 16, "7fffffff"},
                 {10, 1, ""}};
    for (auto& c : cases) {
        char s[40];
        EXPECT_STREQ(itoa((int)c.v, s, c.b), c.want) << c.v << " base " << c.b;
    }
    char s[80];
    EXPECT_STREQ(ltoa(LONG_MIN, s, 10), "-9223372036854775808");
    EXPECT_STREQ(ltoa(-255, s, 16), "-ff");
}

TEST_F(Helpers, CaseInsensitiveOrderIsTotal) {
    struct {
        const char *a, *b;
        int want;
    } cases[] = {{"abc", "ABC", 0},  {"abc", "abcd", -1}, {"abcd", "abc", 1},
                 {"abc", "ABD", -1}, {"ABD", "abc", 1},   {"", "", 0},
                 {"a", "", 1},       {"_", "a", 1},       {"\xE4", "z", 1}};
    for (auto& c : cases)
        EXPECT_EQ(stricmp(c.a, c.b), c.want) << c.a << " vs " << c.b;

    // Antisymmetric and consistent with the order of upper-cased unsigned bytes.
    const char* words[] = {"abc", "ABD", "Abc", "ab", "_x", "[", "z", "\xFC", "Zz", ""};
    for (auto* a : words)
        for (auto* b : words)
            EXPECT_EQ(stricmp(a, b), -stricmp(b, a)) << a << " " << b;
    char rows[5][128] = {"zeta", "Alpha", "beta", "ALPHA2", "Gamma"};
    qsort(rows, 5, sizeof rows[0], sortiervergleichi);
    const char* sorted[] = {"Alpha", "ALPHA2", "beta", "Gamma", "zeta"};
    for (int i = 0; i < 5; ++i)
        EXPECT_STREQ(rows[i], sorted[i]);
    qsort(rows, 5, sizeof rows[0], sortiervergleich);
    EXPECT_STREQ(rows[0], "ALPHA2");
}

TEST_F(Helpers, PrefixComparison) {
    struct {
        const char *a, *b;
        long siz;
        int want;
    } cases[] = {{"ab", "AB", 2, 0},
                 {"a", "ab", 2, -1},
                 {"a", "a", 2, 1},
                 {"xyz", "abc", 0, 0},
                 {"+CMTI: x", "+cmti", 5, 0},
                 {"abc", "abd", 3, -1},
                 {"ABD", "abc", 3, 1},
                 {"ab", "a", 2, 1}};
    for (auto& c : cases)
        EXPECT_EQ(memicmp(c.a, c.b, c.siz), c.want) << c.a << " vs " << c.b << " " << c.siz;
}

TEST_F(Helpers, SingleByteTextToUtf8) {
    struct {
        const char* src;
        size_t maxlen;
        const char* want;
    } cases[] = {
        {"\x47\x72\xFC\xDF\x65", 6, "\x47\x72\xC3\xBC\x5F"}, // the eszett no longer fits
        {"\x47\x72\xFC\xDF\x65", 20, "Gr" U8ue U8ss "e"},
        {"\xC4\xD6\xDC\xE4\xF6\xFC\xDF\xEB\xF1\xE1\xE3", 40,
         U8AE U8OE U8UE U8ae U8oe U8ue U8ss "\xC3\xAB\xC3\xB1\xC3\xA1\xC4\x83"},
        {"sch" U8oe "n", 20, "sch" U8oe "n"},     // already UTF-8
        {"\xC4\xA4", 20, U8AE "_"},               // Latin before UTF-8
        {"a\xE2\x86\x92z", 20, "a\xE2\x86\x92z"}, // arrow kept
        {"a\xE2\x86\x92z", 4, "a__"},             // arrow does not fit whole
        {"\x80\xFF!", 20, "__!"},
        {"abc", 1, ""},
    };
    for (auto& c : cases) {
        char* dest = (char*)malloc(c.maxlen);
        strmtoutf8(dest, c.src, c.maxlen);
        EXPECT_STREQ(dest, c.want) << c.src << " " << c.maxlen;
        free(dest);
    }
    char untouched[1] = {'x'};
    strmtoutf8(untouched, "abc", 0);
    EXPECT_EQ(untouched[0], 'x');
}

TEST_F(Helpers, ClampAndHexTables) {
    EXPECT_EQ(bereich(5, 10, 20), 10);
    EXPECT_EQ(bereich(25, 10, 20), 20);
    EXPECT_EQ(bereich(15, 30, 20), 20); // an empty range gives its upper end
    EXPECT_EQ(bereichl(-5L, 0L, 9L), 0L);
    for (int v = 0; v < 16; ++v)
        EXPECT_EQ(_hexnumber[(unsigned char)_hexdigit[v]], v);
    EXPECT_EQ(_hexnumber['a'] + _hexnumber['f'] + _hexnumber['g'] + _hexnumber[0xB0], 25);
}

TEST_F(Helpers, UnitTexts) {
    struct {
        long v;
        const char* want;
    } kb[] = {{0, "0"},           {-5, "0"},       {999, "999k"},
              {1500, "1500k"},    {2000, "2M"},    {1000000, "1G"},
              {1001000, "1001M"}, {3000000, "3G"}, {1000001, "1000001k"}},
      zeit[] = {{0, "0"},    {-5, "0"},     {61, "61min"}, {90, "90min"}, {60, "1h"},
                {120, "2h"}, {1500, "25h"}, {1440, "1d"},  {2880, "2d"}},
      hhmm[] = {{75, "0001:15"}, {0, "0000:00"}, {-3, "0000:00"}, {600059, "10000:59"}};
    for (auto& c : kb)
        EXPECT_STREQ(kbytemiteinheit(c.v), c.want) << c.v;
    for (auto& c : zeit)
        EXPECT_STREQ(zeitmiteinheit(c.v), c.want) << c.v;
    for (auto& c : hhmm)
        EXPECT_STREQ(stundenminuten(c.v), c.want) << c.v;
}

TEST_F(Helpers, TextBuffersBelongToTheirThread) {
    constexpr int n = 4;
    std::atomic<int> ready{0};
    std::atomic<bool> bad{false};
    std::vector<std::vector<const void*>> bufs(n);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            ++ready;
            while (ready < n)
                std::this_thread::yield();
            // All threads write at once; each must read back its own text.
            for (int k = 0; k < 5000; ++k) {
                long v = (i + n * k) * 1000L + 7;
                const char* kb = kbytemiteinheit(v);
                const char* hm = stundenminuten(v);
                std::this_thread::yield();
                if (std::to_string(v) + "k" != kb || atol(hm) != v / 60) bad = true;
            }
            bufs[i] = {kbytemiteinheit(1), zeitmiteinheit(1), stundenminuten(1), datumzeit(),
                       datumzeitkompakt()};
        });
    for (auto& t : threads)
        t.join();
    EXPECT_FALSE(bad);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (size_t f = 0; f < bufs[i].size(); ++f)
                EXPECT_NE(bufs[i][f], bufs[j][f]) << f;
}

TEST_F(Helpers, DateTextsFollowTheProgramClock) {
    sy_setclock(SY_CLOCK_AUTO, tag + 7 * 3600 + 8 * 60 + 9);
    EXPECT_STREQ(datumzeit(), "2024-03-05 07:08:09");
    EXPECT_STREQ(datumzeitkompakt(), "20240305_070809");
    sy_setclock(SY_CLOCK_REAL);
    EXPECT_EQ(strlen(datumzeit()), 19u);
}

TEST_F(Helpers, EndTimeWindow) {
    struct {
        int e1, e2, hh, mm;
        bool gueltig;
        int want;
    } cases[] = {
        {1320, 360, 23, 30, true, 1}, {1320, 360, 5, 59, true, 1},  {1320, 360, 6, 0, true, 1},
        {1320, 360, 6, 1, true, 0},   {1320, 360, 21, 59, true, 0}, {1320, 360, 22, 0, true, 1},
        {1320, 360, 0, 0, true, 1},   {480, 480, 8, 0, true, 1},    {480, 480, 8, 1, true, 0},
        {480, 480, 7, 59, true, 0},   {600, 720, 11, 0, true, 1},   {600, 720, 12, 1, true, 0},
        {600, 720, 11, 0, false, 0},  {-1, 720, 11, 0, true, 0},    {600, -1, 11, 0, true, 0},
    };
    for (auto& c : cases) {
        inidat.enduhrzeit1 = c.e1;
        inidat.enduhrzeit2 = c.e2;
        inidatgueltig = c.gueltig;
        sy_setclock(SY_CLOCK_AUTO, tag + c.hh * 3600 + c.mm * 60 + 30);
        EXPECT_EQ(innerhalb_enduhrzeit(), c.want)
            << c.e1 << "-" << c.e2 << " at " << c.hh << ":" << c.mm;
    }
}

TEST_F(Helpers, SleepsRunOnTheProgramClock) {
    sy_setclock(SY_CLOCK_AUTO, tag);
    long long t0 = sy_monotonicms();
    msleep(1234);
    EXPECT_EQ(sy_monotonicms() - t0, 1234);
    EXPECT_FALSE(msleepx(1700));
    EXPECT_EQ(sy_monotonicms() - t0, 1234 + 1700);
    programmende_gewuenscht = true;
    EXPECT_TRUE(msleepx(5000));
    EXPECT_EQ(sy_monotonicms() - t0, 1234 + 1700); // returned before sleeping
}

TEST_F(Helpers, InterruptibleSleepEndsSoonAfterTheEndRequest) {
    std::atomic<bool> result{false};
    auto t0 = std::chrono::steady_clock::now();
    std::thread sleeper([&] { result = msleepx(10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    programmende_gewuenscht = true;
    sleeper.join();
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_TRUE(result);
    EXPECT_LT(ms, 1000); // within the 500 ms slice
}

TEST_F(Helpers, CopyFile) {
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = (char)(i * 7 + i / 300);
    ts_writefile("src", big);
    ASSERT_TRUE(file_copy("src", "dst", false));
    EXPECT_EQ(ts_readfile("dst"), big);
    struct stat st;
    ASSERT_EQ(stat("dst", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Overwriting truncates a longer destination.
    ts_writefile("small", "kurz");
    ASSERT_TRUE(file_copy("small", "dst", false));
    EXPECT_EQ(ts_readfile("dst"), "kurz");

    // fiex: an existing destination stays as it is; a missing one is written.
    ts_writefile("keep", "old");
    EXPECT_FALSE(file_copy("src", "keep", true));
    EXPECT_EQ(ts_readfile("keep"), "old");
    EXPECT_TRUE(file_copy("small", "new", true));
    EXPECT_EQ(ts_readfile("new"), "kurz");

    EXPECT_FALSE(file_copy(nullptr, "x", false));
    EXPECT_FALSE(file_copy("src", nullptr, false));
    EXPECT_FALSE(file_copy("missing", "x", false));
    EXPECT_FALSE(file_exists("x"));
}

TEST_F(Helpers, CopyOntoItselfLeavesTheFile) {
    ts_writefile("f", "inhalt");
    ASSERT_EQ(link("f", "hard"), 0);
    ASSERT_EQ(symlink("f", "soft"), 0);
    for (const char* dst : {"f", "./f", "hard", "soft"}) {
        EXPECT_FALSE(file_copy("f", dst, false)) << dst;
        EXPECT_EQ(ts_readfile("f"), "inhalt") << dst;
    }
}

TEST_F(Helpers, CopyFailsWhenTheSourceCannotBeRead) {
    ASSERT_TRUE(dir_create("d"));
    EXPECT_FALSE(file_copy("d", "out1", false));
    EXPECT_FALSE(file_copy("/proc/self/mem", "out2", false));
}

TEST_F(Helpers, FindFileByPrefix) {
    ASSERT_TRUE(dir_create("d"));
    ts_writefile("d/ttyUSB3", "");
    char re[64];
    EXPECT_TRUE(file_find("d", "ttyU", re));
    EXPECT_STREQ(re, "d/ttyUSB3");
    EXPECT_TRUE(file_find("d/", "tty", re));
    EXPECT_STREQ(re, "d/ttyUSB3");
    EXPECT_FALSE(file_find("d", "ttyS", re));
    EXPECT_STREQ(re, "");
    EXPECT_FALSE(file_find("nodir", nullptr, re));
    EXPECT_TRUE(file_find("d", "", re)); // any entry, possibly "."
    EXPECT_TRUE(file_find(nullptr, "d", nullptr, 0));
    EXPECT_TRUE(file_find(nullptr, "d", re));
    EXPECT_STREQ(re, "./d");

    // "d/ttyUSB3" needs 10 bytes: 9 do not hold it, and nothing is written past them.
    char* small = (char*)malloc(9);
    EXPECT_FALSE(file_find("d", "tty", small, 9));
    EXPECT_STREQ(small, "");
    free(small);
    char* fits = (char*)malloc(10);
    EXPECT_TRUE(file_find("d", "tty", fits, 10));
    EXPECT_STREQ(fits, "d/ttyUSB3");
    free(fits);
}

TEST_F(Helpers, FileSystemWrappers) {
    ts_writefile("f", "12345");
    EXPECT_TRUE(file_exists("f"));
    EXPECT_FALSE(file_exists("nofile"));
    EXPECT_EQ(file_length("f"), 5);
    EXPECT_EQ(file_length("nofile"), -1);

    EXPECT_TRUE(dir_create("d"));
    EXPECT_TRUE(dir_create("d"));
    EXPECT_FALSE(dir_create("nodir/d"));
    EXPECT_TRUE(symlink_create("f", "l"));
    EXPECT_TRUE(symlink_create("other", "l"));
    EXPECT_EQ(ts_readfile("l"), "12345");
    EXPECT_FALSE(symlink_create(nullptr, "l2"));

    struct {
        const char* name;
        bool isdir;
        mode_t before;
        int ri;
        mode_t after;
    } modes[] = {{"m1", false, 0400, 0, 0600},
                 {"m2", false, 0444, 1, 0744},
                 {"m3", false, 0644, 0, 0644},
                 {"m4", true, 0500, 0, 0700},
                 {"m5", false, 04600, 1, 04700}};
    for (auto& m : modes) {
        if (m.isdir)
            ASSERT_TRUE(dir_create(m.name));
        else
            ts_writefile(m.name, "");
        ASSERT_EQ(chmod(m.name, m.before), 0);
        file_makerw(m.name, m.ri);
        struct stat st;
        ASSERT_EQ(stat(m.name, &st), 0);
        EXPECT_EQ(st.st_mode & 07777, m.after) << m.name;
    }
    file_makerw("nofile", 0);

    EXPECT_TRUE(file_delete("f"));
    EXPECT_FALSE(file_delete("f"));
}

} // namespace
