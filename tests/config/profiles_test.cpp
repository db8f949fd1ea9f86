// Profiles: reading profile.ini and stepping to the next ini file of the directory.
#include "config/inifile.h"
#include "config/profiles.h"
#include "core/flags.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <glob.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> splashtexte;
std::vector<int> splashcodes;

class Profiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(chdir(ts_scratchdir().c_str()), 0);
        strcpy(inidatei, "tandor.ini");
        inititel[0] = 0;
        strcpy(connlogdatei, "connlog.txt");
        std::random_device r;
        aktivsignal = 0x7B000000ul + (r() & 0xFFFFF0ul);
        splashtexte.clear();
        splashcodes.clear();
        ps_hooks.splashtext = [](const char* t) { splashtexte.push_back(t); };
        ps_hooks.splash = [](int c) { splashcodes.push_back(c); };
        sy_setclock(SY_CLOCK_AUTO, 1700000000);
    }
    void TearDown() override {
        sy_setclock(SY_CLOCK_REAL);
        ps_hooks = {};
    }
    static void dateien(std::initializer_list<const char*> namen) {
        for (const char* n : namen)
            ts_writefile(n, "01 AAA\n");
    }
    // One step; returns the selector's content afterwards.
    static std::string schritt() {
        iv_changeprofile();
        return ts_readfile("profile.ini");
    }
};

TEST_F(Profiles, ReadLineForms) {
    struct {
        const char* inhalt;
        const char* inidatei;
        const char* inititel;
        const char* connlog;
    } faelle[] = {
        {"INI=Arbeit.INI", "Arbeit.INI", "Arbeit", "connlog_Arbeit.txt"},
        {"  12ini=privat.ini\r\n", "privat.ini", "privat", "connlog_privat.txt"},
        {"INI=a.ini\nINI=b.ini\n", "b.ini", "b", "connlog_b.txt"}, // the last line wins
        {"INI=a.ini\n# INI=b.ini\nXINI=c.ini\n", "a.ini", "a", "connlog_a.txt"},
        {"INI=ohne\n", "ohne", "ohne", "connlog_ohne.txt"},
        {"INI=x.ini\nINI=\n", "x.ini", "x", "connlog_x.txt"}, // an empty name is no name
        // 40 characters do not fit inidatei: passed over, never shortened.
        {"INI=a.ini\nINI=abcdefghijabcdefghijabcdefghijabcdef.ini\n", "a.ini", "a",
         "connlog_a.txt"},
        // Only 49 characters of a line count; the rest is not read as a line of its own.
        {"INI=a.ini\n12345678901234567890123456789012345678901234567890INI=z.ini\n", "a.ini", "a",
         "connlog_a.txt"},
        {"", "tandor.ini", "", "connlog.txt"},
    };
    for (auto& f : faelle) {
        strcpy(inidatei, "tandor.ini");
        inititel[0] = 0;
        strcpy(connlogdatei, "connlog.txt");
        ts_writefile("profile.ini", f.inhalt);
        pf_read();
        EXPECT_STREQ(inidatei, f.inidatei) << f.inhalt;
        EXPECT_STREQ(inititel, f.inititel) << f.inhalt;
        EXPECT_STREQ(connlogdatei, f.connlog) << f.inhalt;
    }
    unlink("profile.ini");
    pf_read(); // no selector: nothing changes
    EXPECT_STREQ(inidatei, "tandor.ini");
}

TEST_F(Profiles, StepsAlphabeticallyWithoutRegardToCaseAndWraps) {
    dateien({"a.ini", "B.ini", "c.ini", "tandor.ini"});
    ts_writefile("profile.ini", "INI=b.ini");
    EXPECT_EQ(schritt(), "INI=c.ini");
    EXPECT_EQ(schritt(), "INI=a.ini");
    EXPECT_EQ(schritt(), "INI=B.ini");
    EXPECT_EQ(splashtexte.back(), "--> B");
    EXPECT_EQ(splashcodes, (std::vector<int>{9, 0, 9, 0, 9, 0}));
    struct stat st;
    ASSERT_EQ(stat("profile.ini", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No temporary file is left behind.
    glob_t g;
    EXPECT_EQ(glob("profile.ini?*", 0, nullptr, &g), GLOB_NOMATCH);
    globfree(&g);
}

TEST_F(Profiles, NoSelectorYetStartsWithTheFirstCandidate) {
    dateien({"zwei.ini", "eins.ini"});
    EXPECT_EQ(schritt(), "INI=eins.ini");
}

TEST_F(Profiles, OwnFilesAreNoProfiles) {
    dateien({"tandor.ini", "TANDORS.INI", "brisko_net.ini", "SMS_NAME.ini", "nwtgatewayconfig.ini",
             ".ini", "notes.txt", "x.ini.bak"});
    mkdir("ordner.ini", 0700);
    ts_writefile("profile.ini", "INI=tandor.ini");
    EXPECT_EQ(schritt(), "INI=tandor.ini");
    EXPECT_EQ(splashtexte.back(), "--> tandor");
}

TEST_F(Profiles, CurrentIniFileIsSkippedAndLongNamesAreNoCandidates) {
    strcpy(inidatei, "b.ini");
    // 39 characters fit inidatei; 40 do not.
    std::string passt = "m" + std::string(34, 'x') + ".ini";
    std::string zulang = "n" + std::string(35, 'x') + ".ini";
    ASSERT_EQ(passt.size(), 39u);
    dateien({"a.ini", "b.ini", passt.c_str(), zulang.c_str()});
    ts_writefile("profile.ini", "INI=a.ini");
    EXPECT_EQ(schritt(), "INI=" + passt);
    EXPECT_EQ(schritt(), "INI=a.ini");
}

TEST_F(Profiles, RunningConnectionProgramBlocksTheStep) {
    dateien({"a.ini", "b.ini"});
    ts_writefile("profile.ini", "INI=a.ini");
    ASSERT_TRUE(fl_set(aktivsignal));
    EXPECT_EQ(schritt(), "INI=a.ini");
    fl_clear(aktivsignal);
    ASSERT_EQ(splashtexte.size(), 1u);
    EXPECT_EQ(splashtexte[0], "Terminate first./Erst beenden.");
    EXPECT_EQ(schritt(), "INI=b.ini");
}

} // namespace
