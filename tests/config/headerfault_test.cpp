// The ini file while the file system fails under it: replaced by a directory, read-only,
// full. Nothing crashes, the old file stays whole, and the counters that could not be
// written stay in memory, through a restart too, until the next write carries them.
#include "config/header.h"
#include "config/inifile.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <sched.h>
#include <sys/resource.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kopf = "01 1AA000001234-0000000000000-0000077000000000000000000\n";
const std::string zeilen = "02 COM=/dev/ttyUSB0\nDAY=01;01\n";

struct IniFault : ::testing::Test {
    std::string dir = ts_scratchdir();
    std::vector<std::string> args = {"CONN"};
    std::vector<char*> argv;
    void SetUp() override {
        ASSERT_EQ(chdir(dir.c_str()), 0);
        setenv("TZ", "UTC", 1);
        tzset();
        sy_setclock(SY_CLOCK_AUTO, 1350633909);
        ps_hooks = {};
        _de = false;
        strcpy(inidatei, "tandor.ini");
        for (auto& s : args)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        _argc = 1;
        _argv = argv.data();
    }
    void TearDown() override { sy_setclock(SY_CLOCK_REAL); }
    // The first start of the connection program on the file; written whole once, so that
    // later starts find nothing to rewrite.
    void starte() {
        ts_writefile(dir + "/tandor.ini", kopf + zeilen);
        inidat.funktion = 0;
        ASSERT_EQ(iv_iniparse(), 0);
        ASSERT_EQ(inidat.headerv, 1234);
        ASSERT_EQ(inidat.headert, 77);
    }
    // A restart after a rest reads the file afresh.
    void neustart() {
        int f = inidat.funktion;
        inidat.funktion = 0;
        ASSERT_EQ(iv_iniparse(), 0);
        ASSERT_EQ(inidat.funktion, f);
    }
    // Volume and minutes in the file's header.
    static std::string gespeichert(const std::string& datei) {
        std::string k = ts_readfile(datei);
        return k.size() < 37 ? k : k.substr(6, 9) + " " + k.substr(31, 6);
    }
    // A private mount namespace for this test's process: the mounts below vanish with it.
    static bool eigenemounts() {
        return geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
               mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }
};

TEST_F(IniFault, CountersOutliveAFileReplacedByADirectoryAndARestart) {
    starte();
    std::string ganz = ts_readfile(dir + "/tandor.ini");
    // Counted meanwhile: 2,000 kB with 5,500 bytes pending, 90 minutes.
    inidat.headerv = 2000;
    inidat.headervoffset = 5500;
    inidat.headert = 90;
    ASSERT_EQ(rename("tandor.ini", "aside.ini"), 0);
    ASSERT_EQ(mkdir("tandor.ini", 0755), 0);
    time_t vorher = sy_time();
    iv_iniheaderwrite(false);
    EXPECT_LT(sy_time() - vorher, 4) << "retried what waiting cannot cure";
    EXPECT_TRUE(hd_ausstehend());
    EXPECT_EQ(inidat.headerv, 2005) << "whole kilobytes are folded in memory";
    EXPECT_NE(inidat.headert_alt, 90) << "a failed write counts as done";
    EXPECT_EQ(ts_readfile(dir + "/aside.ini"), ganz);

    // The file is back before the restart of a rest: its counters are older than memory's.
    ASSERT_EQ(rmdir("tandor.ini"), 0);
    ASSERT_EQ(rename("aside.ini", "tandor.ini"), 0);
    neustart();
    EXPECT_EQ(inidat.headerv, 2005);
    EXPECT_EQ(inidat.headert, 90);
    EXPECT_FALSE(hd_ausstehend());
    EXPECT_EQ(gespeichert("tandor.ini"), "000002005 000090");
    std::string jetzt = ts_readfile(dir + "/tandor.ini");
    EXPECT_EQ(jetzt.substr(37), ganz.substr(37)) << "only the header changes";

    // Written once, the next restart reads the file's counters as usual.
    inidat.headerv = 1;
    neustart();
    EXPECT_EQ(inidat.headerv, 2005);
}

TEST_F(IniFault, ReadOnlyFileSystemKeepsTheFileAndTheCountersUntilWritable) {
    if (!eigenemounts()) GTEST_SKIP() << "needs root for a private mount namespace";
    starte();
    std::string ganz = ts_readfile(dir + "/tandor.ini");
    ASSERT_EQ(mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    ASSERT_EQ(chdir(dir.c_str()), 0); // onto the read-only mount
    inidat.headerv = 3000;
    inidat.headert = 100;
    time_t vorher = sy_time();
    iv_iniheaderwrite(false);
    EXPECT_LT(sy_time() - vorher, 4) << "retried what waiting cannot cure";
    EXPECT_FALSE(iv_iniwrite());
    EXPECT_TRUE(hd_ausstehend());
    // A rest while read-only: the restart keeps memory's counters and tries once more.
    neustart();
    EXPECT_EQ(inidat.headerv, 3000);
    EXPECT_EQ(inidat.headert, 100);
    EXPECT_TRUE(hd_ausstehend());
    EXPECT_EQ(ts_readfile(dir + "/tandor.ini"), ganz);

    ASSERT_EQ(chdir("/"), 0);
    ASSERT_EQ(umount(dir.c_str()), 0);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    inidat.headert = 101;
    iv_iniheaderwrite(false);
    EXPECT_FALSE(hd_ausstehend());
    EXPECT_EQ(gespeichert("tandor.ini"), "000003000 000101");
}

// A damaged line 01 whose rewrite at start fails (the disk full then) is rewritten whole
// by the first header write that can, instead of refusing every write from then on.
TEST_F(IniFault, DamagedHeaderIsRepairedByTheFirstWriteThatSucceeds) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit frei;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &frei), 0);
    struct {
        std::string zeile;
        long v; // what the reader can still take from it
    } faelle[] = {
        {"01 1AA0000012x4-0000000000000-0000077000000000000000000\n", 0}, // a letter in it
        {"01 1AA000001234-0000000000000-00000\n", 1234},                  // cut short
        {"0\n", 0},
    };
    for (auto& [kaputt, v] : faelle) {
        std::string alt = kaputt + zeilen;
        ts_writefile(dir + "/tandor.ini", alt);
        unlink("tandor.ini.orig");
        // The whole file (with its description) does not fit, its original does.
        struct rlimit eng = {400, frei.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &eng), 0);
        inidat.funktion = 0;
        EXPECT_EQ(iv_iniparse(), 0);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &frei), 0);
        EXPECT_EQ(ts_readfile(dir + "/tandor.ini"), alt) << "rewritten in spite of the limit";
        EXPECT_TRUE(hd_ganzausstehend());
        EXPECT_EQ(inidat.headerv, v) << kaputt;

        inidat.headerv = 3000;
        inidat.headert = 100;
        iv_iniheaderwrite(false);
        EXPECT_FALSE(hd_ausstehend()) << kaputt;
        EXPECT_FALSE(hd_ganzausstehend());
        EXPECT_EQ(gespeichert("tandor.ini"), "000003000 000100") << kaputt;
        std::string neu = ts_readfile(dir + "/tandor.ini");
        EXPECT_NE(neu.find("\n08 COM=/dev/ttyUSB0\n"), std::string::npos) << "settings kept";
        EXPECT_EQ(ts_readfile(dir + "/tandor.ini.orig"), alt);
        // The next write goes in place.
        inidat.headert = 101;
        iv_iniheaderwrite(false);
        EXPECT_EQ(gespeichert("tandor.ini"), "000003000 000101");
    }
}

TEST_F(IniFault, FullFileSystemKeepsTheOldFileAndStillTakesTheCounters) {
    if (!eigenemounts()) GTEST_SKIP() << "needs root for a private mount namespace";
    std::string klein = dir + "/klein";
    ASSERT_EQ(mkdir(klein.c_str(), 0755), 0);
    ASSERT_EQ(mount("tmpfs", klein.c_str(), "tmpfs", 0, "size=64k"), 0);
    dir = klein;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    starte();
    // Fill the file system to its last byte.
    FILE* ballast = fopen("ballast", "w");
    ASSERT_NE(ballast, nullptr);
    std::string block(512, 'x');
    while (fwrite(block.data(), 1, block.size(), ballast) == block.size() && fflush(ballast) == 0) {
    }
    fclose(ballast);
    std::string ganz = ts_readfile(dir + "/tandor.ini");

    strcpy(inidat.apn, "neu.example");
    EXPECT_FALSE(iv_iniwrite());
    EXPECT_EQ(ts_readfile(dir + "/tandor.ini"), ganz);
    EXPECT_NE(system(("ls " + dir + " | grep -q tmp").c_str()), 0) << "temporary file left";
    // The header is rewritten in place and needs no new block.
    inidat.headerv = 4000;
    inidat.headert = 120;
    iv_iniheaderwrite(false);
    EXPECT_FALSE(hd_ausstehend());
    EXPECT_EQ(gespeichert("tandor.ini"), "000004000 000120");

    ASSERT_EQ(unlink("ballast"), 0);
    EXPECT_TRUE(iv_iniwrite());
    std::string neu = ts_readfile(dir + "/tandor.ini");
    EXPECT_NE(neu.find("APN=neu.example"), std::string::npos);
    EXPECT_EQ(gespeichert("tandor.ini"), "000004000 000120");
    ASSERT_EQ(chdir("/"), 0);
    umount(klein.c_str());
}

} // namespace
