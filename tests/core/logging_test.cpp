// The log writers: line layouts, switches, length limits, the stages of the extended log
// after a standby, the connection-log stamp and the SMS files.
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// 2012-10-19 08:05:09 UTC
constexpr time_t smszeit = 1350633909;

// The line after a prefix of the given shape ('9' stands for a digit), or "?" when the
// prefix does not fit.
std::string nachpraefix(const std::string& line, const std::string& muster) {
    if (line.size() < muster.size()) return "?";
    for (size_t i = 0; i < muster.size(); i++) {
        bool ziffer = line[i] >= '0' && line[i] <= '9';
        if (muster[i] == '9' ? !ziffer : line[i] != muster[i]) return "?";
    }
    return line.substr(muster.size());
}

class Logging : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        dir = ts_workdir();
        ASSERT_FALSE(dir.empty());
        ps_resetinidat();
        ruhestatus = 0;
        smssignalstatus = 0;
    }
    void TearDown() override {
        sy_setclock(SY_CLOCK_REAL);
        ps_resetinidat();
        ruhestatus = 0;
    }
    std::set<std::string> entries(const std::string& d) {
        std::set<std::string> r;
        if (DIR* dp = opendir(d.c_str())) {
            while (dirent* e = readdir(dp))
                if (e->d_name[0] != '.') r.insert(e->d_name);
            closedir(dp);
        }
        return r;
    }
};

TEST_F(Logging, ServiceLogNeedsLetterPOrBang) {
    lo_slog("plain %s\n", "x", -1);
    EXPECT_FALSE(ts_readfile("servilog.txt").size());
    lo_slog("!urgent %s\n", "x", -1);
    inidat.mod['P'] = 1;
    lo_slog("plain %s\n", "y", -1);
    lo_slog("Connect countdown: %s%li\n", "", 7);
    auto lines = ts_readlines("servilog.txt");
    ASSERT_EQ(lines.size(), 3u);
    const char* expected[] = {"!urgent x", "plain y", "Connect countdown: 7"};
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(nachpraefix(lines[i], "999 "), expected[i]);
    }
}

TEST_F(Logging, TooLongServiceLinesAreDropped) {
    inidat.mod['P'] = 1;
    std::string f = "%s\n";                                // 3 characters
    lo_slog(f.c_str(), std::string(936, 'a').c_str(), -1); // 939: kept
    lo_slog(f.c_str(), std::string(937, 'b').c_str(), -1); // 940: dropped
    auto lines = ts_readlines("servilog.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 4u + 936u);
}

TEST_F(Logging, ControlProgramWritesNoLog) {
    inidat.funktion = FUNKTION_CONTROL;
    inidat.mod['P'] = inidat.mod['X'] = inidat.mod['M'] = 1;
    ruhestatus = 1;
    mkdir("sms_in", 0700);
    lo_slog("!a %s\n", "", -1);
    lo_slogx("b %s\n", "", -1);
    lo_vlog("c %s\n", "", -1);
    lo_dlog("d %s\n", "", -1);
    lo_mlog("%s SMS: %s\n\n", "+49 x\n\nbody", -1, true);
    EXPECT_EQ(entries(dir), std::set<std::string>{"sms_in"});
    EXPECT_TRUE(entries(dir + "/sms_in").empty());
}

TEST_F(Logging, ConnectionLogStampAndFormats) {
    sy_setclock(SY_CLOCK_AUTO, smszeit);
    inidat.round = inidat.roundt = 0;
    lo_vlog("Connection established.%s\n", "", -1);
    EXPECT_TRUE(entries(dir).empty());

    inidat.roundt = 1;
    // The first line takes a stamp although none was taken yet.
    lo_vlog("%s %s: %li kB\n", "Subtotal", 1234);
    sy_sleepms(61000);
    lo_vlog("Connection interrupted.\n", "", -1); // still the old stamp
    lo_vlogtime();
    lo_vlog("Connection refused. Error %s%li.\n", "", 7);
    lo_vlog((std::string(130, 'z') + "\n").c_str(), "", -1); // format cut to 116
    std::snprintf(connlogdatei, sizeof connlogdatei, "connlog_work.txt");
    lo_vlog("%s Online time: %s\n", "0001:02", -1);

    auto lines = ts_readlines("connlog.txt");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "2012-10-19 08:05:09 Subtotal: 1234 kB");
    EXPECT_EQ(lines[1], "2012-10-19 08:05:09 Connection interrupted.");
    EXPECT_EQ(lines[2], "2012-10-19 08:06:10 Connection refused. Error 7.");
    EXPECT_EQ(lines[3], "2012-10-19 08:06:10 " + std::string(116, 'z'));
    EXPECT_EQ(ts_readfile("connlog_work.txt"), "2012-10-19 08:06:10 Online time: 0001:02\n");
    std::snprintf(connlogdatei, sizeof connlogdatei, "connlog.txt");
}

TEST_F(Logging, DebugLogCutsFormatWithoutLeavingAHalfConversion) {
    sy_setclock(SY_CLOCK_AUTO, smszeit);
    lo_dlog("pppd: %s\n", "local  IP address", -1);
    lo_dlog("Connect countdown: %s%li\n", "", 12);
    // The cut at 296 characters falls inside "%li": the remnant must not reach printf.
    lo_dlog((std::string(294, 'q') + "%li\n").c_str(), "", 5);
    auto lines = ts_readlines("debuglog.txt");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "2012-10-19 08:05:09 pppd: local  IP address");
    EXPECT_EQ(lines[1], "2012-10-19 08:05:09 Connect countdown: 12");
    EXPECT_EQ(lines[2], "2012-10-19 08:05:09 " + std::string(294, 'q'));
}

// Standby: stage 2 copies every service-log call (counter 1..120), stage 1 writes only
// direct calls (counter 121..160, the stage-1 marker taking the first), then the log is off.
TEST_F(Logging, ExtendedLogRunsThreeStagesAfterStandby) {
    inidat.mod['X'] = 1;
    lo_slogx("before %s\n", "", -1); // counter off: nothing
    EXPECT_FALSE(lo_logafterstandby());
    ruhestatus = 1;
    lo_slog("rest%s\n", "", -1);
    ruhestatus = 0;
    EXPECT_TRUE(lo_logafterstandby());
    for (long i = 0; i < 130; i++)
        lo_slog("copy %s%li\n", "", i);
    for (long i = 0; i < 45; i++)
        lo_slogx("direct %s%li\n", "", i);
    EXPECT_FALSE(lo_logafterstandby());

    std::vector<std::string> expected = {"------------------------------", "Protokoll Stufe 2.",
                                         "rest"};
    for (int i = 0; i < 119; i++)
        expected.push_back("copy " + std::to_string(i));
    expected.push_back("Protokoll Stufe 1.");
    for (int i = 0; i < 39; i++)
        expected.push_back("direct " + std::to_string(i));
    expected.push_back("Protokoll Stufe 0.");

    auto lines = ts_readlines("servilogx.txt");
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); i++) {
        EXPECT_EQ(nachpraefix(lines[i], "9999-99-99 99:99:99 999 "), expected[i]) << i;
    }
    EXPECT_FALSE(ts_readfile("servilog.txt").size()); // letter P is off
}

TEST_F(Logging, SmsGoesToLogLatestFileAndOwnFile) {
    sy_setclock(SY_CLOCK_AUTO, smszeit);
    const char* msg = "+491701234567 2012-10-19 08:05:00 (04)\n\nMeet at 8\n\nBye";
    lo_mlog("%s SMS: %s\n\n", msg, -1, true); // letter M off
    EXPECT_TRUE(entries(dir).empty());

    inidat.mod['M'] = 1;
    lo_mlog("%s Sent SMS: %s\n", "first", -1, false);
    lo_mlog("%s SMS: %s\n\n", msg, -1, true); // no sms_in yet: no file
    EXPECT_EQ(smssignalstatus, 0);
    mkdir("sms_in", 0700);
    lo_mlog("%s SMS: %s\n\n", msg, -1, true);
    EXPECT_EQ(smssignalstatus, 1);

    std::string line = std::string("2012-10-19 08:05:09 SMS: ") + msg + "\n\n";
    EXPECT_EQ(ts_readfile("sms.txt"), "2012-10-19 08:05:09 Sent SMS: first\n" + line + line);
    EXPECT_EQ(ts_readfile("sms1.txt"), line);
    std::string f = "sms_in/sms_20121019_080509__491701234567.txt";
    EXPECT_EQ(ts_readfile(f), "Meet at 8\n\nBye");
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Logging, SmsFileNameTakesOnlyASafeSenderNumber) {
    sy_setclock(SY_CLOCK_AUTO, smszeit);
    inidat.mod['M'] = 1;
    mkdir("sms_in", 0700);
    struct {
        const char* msg;
        const char* name;
    } cases[] = {
        {"+49/../../x 2012\n\nA", "sms_20121019_080509__49.txt"},
        {"+../../etc/passwd\n\nB", "sms_20121019_080509__.txt"},
        {"+4917 0123\n\nC", "sms_20121019_080509__4917.txt"},
        {"+4918\x01\x1b[2J\n\nD", "sms_20121019_080509__4918.txt"},
        {"+-7abc.txt\n\nE", "sms_20121019_080509__-7abc.txt"},
        {"0170 no plus\n\nF", "sms_20121019_080509__0170.txt"},
    };
    std::set<std::string> expected;
    for (auto& c : cases) {
        lo_mlog("%s SMS: %s\n\n", c.msg, -1, true);
        expected.insert(c.name);
    }
    EXPECT_EQ(entries(dir + "/sms_in"), expected);
    EXPECT_EQ(entries(dir), (std::set<std::string>{"sms.txt", "sms1.txt", "sms_in"}));
    EXPECT_EQ(ts_readfile(dir + "/sms_in/sms_20121019_080509__49.txt"), "A");
}

TEST_F(Logging, TwoSmsInOneSecondKeepBothFiles) {
    sy_setclock(SY_CLOCK_AUTO, smszeit);
    inidat.mod['M'] = 1;
    mkdir("sms_in", 0700);
    lo_mlog("%s SMS: %s\n\n", "+4930 x\n\nfirst", -1, true);
    lo_mlog("%s SMS: %s\n\n", "+4930 x\n\nsecond", -1, true);
    lo_mlog("%s SMS: %s\n\n", "+4930 x\n\nthird", -1, true);
    EXPECT_EQ(ts_readfile("sms_in/sms_20121019_080509__4930.txt"), "first");
    EXPECT_EQ(ts_readfile("sms_in/sms_20121019_080510__4930.txt"), "second");
    EXPECT_EQ(ts_readfile("sms_in/sms_20121019_080511__4930.txt"), "third");
}

} // namespace
