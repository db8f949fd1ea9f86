// The real binary on a hand-written ini file, two copies on one directory, and a
// directory whose profile.ini names the ini file.
#include "config/header.h"
#include "modem/modemsimulator.h"
#include "tandorrun.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct IniRun : ::testing::Test {
    std::string dir = ts_scratchdir();
    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run through tests/harness.sh";
    }
    int starte(const std::string& instanz, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {TANDOR_BINARY,         "CONN",     "DIR=" + dir,
                                         "INSTANCE=" + instanz, "NOSPLASH", "MUTE"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return ts_spawn(argv, dir + "/stdout.txt");
    }
};

TEST_F(IniRun, HandWrittenFileIsNormalisedOnceAndThenReadAsItIs) {
    ts_writefile(dir + "/tandor.ini", "01 0AA000000500-0000000001101-0000012000000000000000000\n"
                                      "mod = PM\n"
                                      "COM=NONE\n"
                                      "APN=web.example\n"
                                      "pin=1234\n"
                                      "MAXT=90;2h;1d\n"
                                      "BATT=10;30\n"
                                      "icon=9\n"
                                      "DAY=01\n"
                                      "LAN=English\n");
    int pid = starte("4", {"INIWRITEEXIT"});
    int status = ts_waitpid(pid, 30000);
    ASSERT_TRUE(status != -1 && WIFEXITED(status)) << ts_readfile(dir + "/stdout.txt");
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string ini = ts_readfile(dir + "/tandor.ini");
    EXPECT_TRUE(hd_valid(ini.c_str())) << ini.substr(0, 60);
    EXPECT_EQ(ini.substr(6, 9), "000000500");
    EXPECT_NE(ini.find("\n13 APN=web.example\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("\n22 MAXT=90min;2h;1d\n"), std::string::npos);
    EXPECT_NE(ini.find("\n40 ICON=1\n"), std::string::npos);
    EXPECT_NE(ini.find("\n41 BATT=30;10\n"), std::string::npos);
    EXPECT_EQ(ini.find("=1234"), std::string::npos) << "PIN in clear";
    struct stat vorher;
    ASSERT_EQ(stat((dir + "/tandor.ini").c_str(), &vorher), 0);

    pid = starte("4");
    ASSERT_TRUE(ts_waitfor(dir + "/servilog.txt", "Main thread: cycle started.", 20000));
    kill(pid, SIGTERM);
    status = ts_waitpid(pid, 30000);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat nachher;
    ASSERT_EQ(stat((dir + "/tandor.ini").c_str(), &nachher), 0);
    EXPECT_EQ(vorher.st_ino, nachher.st_ino) << "rewritten again";
    EXPECT_EQ(ts_count(ts_readfile(dir + "/servilog.txt"), "The INI file hase been rewritten."), 1);
}

TEST_F(IniRun, TwoCopiesOnOneDirectoryLeaveOneRunningAndTheFileWhole) {
    ts_writefile(dir + "/tandor.ini", "01 0AA000000000-0000000000001-0000000000000000000000000\n"
                                      "MOD=P\nAPN=x\nCOM=NONE\n");
    int a = starte("3"), b = starte("3");
    std::this_thread::sleep_for(std::chrono::seconds(12));
    bool a_laeuft = ts_waitpid(a, 0) == -1, b_laeuft = ts_waitpid(b, 0) == -1;
    EXPECT_NE(a_laeuft, b_laeuft) << "exactly one copy keeps running";
    int c = starte("3");
    int laeufer = a_laeuft ? a : b;
    int status = ts_waitpid(laeufer, 30000);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not replaced";
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(ts_waitpid(c, 0), -1) << "the new copy runs";
    std::string ini = ts_readfile(dir + "/tandor.ini");
    EXPECT_TRUE(hd_valid(ini.c_str()));
    EXPECT_NE(ini.find("\n43 REM="), std::string::npos);
    kill(c, SIGTERM);
    status = ts_waitpid(c, 30000);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int p : {a, b})
        if (ts_waitpid(p, 0) == -1) kill(p, SIGKILL);
}

// A connected run in a directory that holds only profile.ini and the file it names: the
// settings (PIN, APN) and the counters are work.ini's, no tandor.ini appears beside it,
// and the end writes the counters on from work.ini's.
struct ProfileRun : TandorRun {
    std::string ctl = dir + "/pppd";
    ts_modemsim modem;
    void SetUp() override {
        TandorRun::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(modem.start({"--type", "3", "--pin", "1234", "--signal", "15"}));
        mkdir(ctl.c_str(), 0755);
    }
};

TEST_F(ProfileRun, ProfileAloneNamesTheFileWhoseCountersGoOn) {
    // 123 kB and 43 minutes so far, time rounded to 5 minutes; the header never held a
    // date, so no period closes.
    const std::string kopf = "01 0AA000000123-0000000000001-0000043" + std::string(16, '0');
    ts_writefile(dir + "/profile.ini", "INI=work.ini");
    ts_writefile(dir + "/work.ini", kopf + "\nMOD=P\nLAN=English\nCOM=/dev/ttyUSB0;NONE\n"
                                           "CONA=SE\nCON=\nPIN=1234\nAPN=work.example\n"
                                           "DAY=15;15\nRND=1;5\n");
    pid = ts_spawn(ts_netzstart(dir, modem.port, ctl, 5), dir + "/stdout.txt");
    ASSERT_TRUE(ts_waitfor(dir + "/servilog.txt", "Connection established.", 90000))
        << protokolle();
    EXPECT_NE(modem.transcript().find("work.example"), std::string::npos) << "APN not work.ini's";
    EXPECT_NE(access((dir + "/tandor.ini").c_str(), F_OK), 0) << "a stray tandor.ini";
    sleep(3);
    kill(pid, SIGTERM);
    endetsauber(30000);

    EXPECT_NE(access((dir + "/tandor.ini").c_str(), F_OK), 0) << "a stray tandor.ini";
    std::string ini = ts_readfile(dir + "/work.ini");
    ASSERT_TRUE(hd_valid(ini.c_str())) << ini.substr(0, 60);
    // At least the 999 pending bytes on top of the file's volume, its 43 minutes rounded.
    long v = atol(ini.substr(6, 9).c_str()), t = atol(ini.substr(31, 6).c_str());
    EXPECT_GE(v, 124) << ini.substr(0, 53);
    EXPECT_LT(v, 200) << ini.substr(0, 53);
    EXPECT_GE(t, 45) << ini.substr(0, 53);
    EXPECT_LT(t, 50) << ini.substr(0, 53);
    EXPECT_NE(ini.find("\n13 APN=work.example\n"), std::string::npos);
    EXPECT_NE(ts_readfile(dir + "/connlog_work.txt").find("Connection established."),
              std::string::npos)
        << "the profile's own connection log";
    EXPECT_EQ(ts_readfile(dir + "/servilog.txt").find("=1234"), std::string::npos)
        << "PIN in the service log";
}

} // namespace
