// The program end: automatic end conditions in minutes, interruptions, rests that keep the
// counters, end requests that arrive during a rest, the strength of end modes, and the
// computer shutdown through sudo without a shell.
#include "config/inifile.h"
#include "connection/statistics.h"
#include "core/flags.h"
#include "core/programstate.h"
#include "core/system.h"
#include "supervisor/instance.h"
#include "supervisor/programend.h"
#include "endstate.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

class ProgramEnd : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        dir = ts_workdir();
        ASSERT_FALSE(dir.empty());
        es_grundzustand(0x7C000000ul);
        inidat.round = 1; // the connection log is written
        shutdownerlaubt = false;
        sy_setclock(SY_CLOCK_AUTO, 1767225600);
    }
    void TearDown() override {
        sy_setclock(SY_CLOCK_REAL);
        fl_clear(aktivsignal);
    }
};

TEST_F(ProgramEnd, NothingEndsDuringARestButTheRequestIsKept) {
    for (int r : {2, 3, 4}) {
        ruhestatus = r;
        EXPECT_FALSE(programmende(true)) << r;
    }
    EXPECT_TRUE(programmende_endgueltig) << "an end asked for during the rest is remembered";
    // After the restart the first check point ends the program.
    ruhestatus = 0;
    EXPECT_EXIT(programmende(false), ::testing::ExitedWithCode(0), "");
}

TEST_F(ProgramEnd, ARestWritesTheCountersAndReturnsForTheRestart) {
    ts_writefile("tandor.ini", "01 0AA000000000-0000000000001-0000000000000000000000000\n");
    inidat.day = 1;
    inidat.dayt = 1;
    inidat.headerv = 100;
    inidat.headervoffset = 2500; // two whole kB are folded in
    inidat.headert = 7;
    inidat.headergueltig = true;
    ASSERT_TRUE(ia_startcheck()); // taken: this process holds it now
    ASSERT_TRUE(fl_query(aktivsignal));
    int zaehler = inicounterglobal;
    ruhestatus = 1;
    programmende_gewuenscht = true;
    onlinezeit = 500;
    EXPECT_TRUE(programmende(false));
    EXPECT_EQ(ruhestatus, 3);
    EXPECT_FALSE(programmende_gewuenscht);
    EXPECT_EQ(onlinezeit, 0u);
    EXPECT_EQ(inicounterglobal, zaehler + 1);
    EXPECT_FALSE(fl_query(aktivsignal)) << "a rest releases the instance flag";
    std::string kopf = ts_readfile("tandor.ini").substr(0, 56);
    EXPECT_EQ(kopf.substr(6, 9), "000000102") << kopf;
    EXPECT_NE(ts_readfile("servilog.txt").find("tandor paused. Standby."), std::string::npos);
}

TEST_F(ProgramEnd, AnEndIsNotWeakenedToARest) {
    // A rest asked for after SIGTERM (say by a read error) still ends the program.
    ps_endeanfordern();
    ruhestatus = 1;
    EXPECT_EXIT(programmende(false), ::testing::ExitedWithCode(0), "");
}

TEST_F(ProgramEnd, MinutesWithoutConnectionEndTheProgram) {
    inidat.err[ERR_NOC] = 10;
    offlinezeita = 9 * 6000;
    EXPECT_FALSE(programmende(false));
    offlinezeita = 10 * 6000;
    EXPECT_EXIT(programmende(false), ::testing::ExitedWithCode(0), "");
    EXPECT_NE(ts_readfile("connlog.txt").find("10 minutes without functioning connection."),
              std::string::npos);
}

TEST_F(ProgramEnd, InactiveTimeOnlyDisconnectsWhenAskedTo) {
    inidat.end = 30;
    inidat.endforce = false;
    inidat.endverb = true;
    inidat.constart = true;
    onlinezeit = 60 * 6000;
    inaktivzeit = 29 * 6000;
    EXPECT_FALSE(programmende(false));
    EXPECT_TRUE(inidat.constart);
    inaktivzeit = 30 * 6000;
    EXPECT_FALSE(programmende(false)) << "the program goes on";
    EXPECT_FALSE(inidat.constart) << "automatic connection is off";
    EXPECT_EQ(unterbrechung_gewuenscht, 0) << "the interruption was carried out";
    EXPECT_FALSE(programmende_gewuenscht);
    EXPECT_NE(ts_readfile("connlog.txt").find("30 minutes maximum inactive time expired."),
              std::string::npos);
}

TEST_F(ProgramEnd, AnInterruptionCountsTheBytesSinceTheLastPassBeforeRounding) {
    // The link moved 5,000 bytes since the last statistics pass; the user disconnects.
    ts_writefile("net_dev", "Inter-|   Receive\n face |bytes\n"
                            "  ppp0:    3000      3    0    0    0     0          0         0 "
                            "    2000      2    0    0    0     0       0          0\n");
    sy_setpath(SY_NETDEV, "net_dev");
    cn_statistikhooks.ifname = [] { return "ppp0"; };
    cn_statistikreset();
    inidat.round = 10;
    inidat.headervoffset = 999;
    onlinezeit = 500;
    unterbrechung_gewuenscht = 2;
    EXPECT_FALSE(programmende(false));
    cn_statistikhooks = {};
    sy_setpath(SY_NETDEV, nullptr);
    // 999 + 5,000 bytes rounded up to the next 10 kB.
    EXPECT_EQ(inidat.headervoffset, 10000);
    EXPECT_EQ(unterbrechung_gewuenscht, 0);
}

TEST_F(ProgramEnd, StrongerEndModesAreNotReplaced) {
    ps_unterbrechen(5);
    ps_unterbrechen(2);
    EXPECT_EQ(unterbrechung_gewuenscht, 5);
    unterbrechung_gewuenscht = 2;
    ps_unterbrechen(1);
    EXPECT_EQ(unterbrechung_gewuenscht, 1);
    ps_unterbrechen(3);
    EXPECT_EQ(unterbrechung_gewuenscht, 1);
    ps_unterbrechen(9);
    EXPECT_EQ(unterbrechung_gewuenscht, 1);
}

TEST_F(ProgramEnd, ShutdownRunsSudoWithoutAShellAndTrustsItsStatus) {
    // A sudo stand-in first on PATH writes its arguments, one per line, and exits with the
    // status found in a file.
    std::string bin = dir + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    ts_writefile(bin + "/sudo", "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + dir +
                                    "/sudo.args\nexit $(cat " + dir + "/sudo.status)\n");
    ASSERT_EQ(chmod((bin + "/sudo").c_str(), 0755), 0);
    std::string pfad = bin + ":" + getenv("PATH");
    setenv("PATH", pfad.c_str(), 1);
    _de = false;
    ts_writefile(dir + "/sudo.status", "0");
    EXPECT_TRUE(pe_shutdown(1));
    EXPECT_EQ(ts_readfile(dir + "/sudo.args"),
              "-n\nshutdown\n-P\n1\nShutdown initiated by tandor. See file tandor.ini, "
              "parameter END=S or END=R \n");
    ts_writefile(dir + "/sudo.status", "1");
    EXPECT_FALSE(pe_shutdown(2));
    EXPECT_NE(ts_readfile(dir + "/sudo.args").find("-r\n1\nReboot initiated"), std::string::npos);
    // The end with END=S after a connection timeout runs it and reports the outcome.
    ts_writefile(dir + "/sudo.status", "0");
    inidat.endshutdown = 1;
    inidat.err[ERR_NOC] = 1;
    offlinezeita = 6000;
    EXPECT_EXIT(programmende(false), ::testing::ExitedWithCode(0), "");
    EXPECT_NE(ts_readfile("connlog.txt").find("Shutdown initiated."), std::string::npos);
}

} // namespace
