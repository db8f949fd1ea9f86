// The real binary with a modem that goes away while it runs, in a private /dev whose
// /dev/ttyUSB3 leads through a link in the scratch directory to the simulator's pty: the
// hang-up makes the program rest and restart; a modem back under the same name before the
// restart's waits end is initialised afresh (PIN once, APN) and the program is permitted to
// connect again; a modem that stays away ends the program in order with its counters kept.
// A modem that answers with garbage or not at all for a while neither crashes nor hangs it.
// A link that drops (pppd killed) is dialled again at once: no rest, no end, also when the
// configuration ends the program at a standby of the computer.
#include "core/system.h"
#include "modem/modemsimulator.h"
#include "tandorrun.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// Counters in the header: 56,789 kB and 42 minutes of this period; no date yet.
const char* const KOPF = "01 0AA000056789-0000000000001-0000042000000000000000000\n";

struct OutageRun : TandorRun {
    std::vector<std::unique_ptr<ts_modemsim>> sims;
    // A simulated stick published as dir/modem, where /dev/ttyUSB3 leads.
    ts_modemsim& modem(std::vector<std::string> args) {
        args.insert(args.end(), {"--byid", dir, "--name", "modem"});
        sims.push_back(std::make_unique<ts_modemsim>());
        EXPECT_TRUE(sims.back()->start(args));
        return *sims.back();
    }
    // Tests run two at a time: each its own instance, so its own IPC keys.
    void starte(int instanz, const std::string& ini = "") {
        ts_writefile(dir + "/tandor.ini", std::string(KOPF) +
                                              "MOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB3\n"
                                              "PIN=1234\nAPN=internet.t-mobile\nCONA=\n"
                                              "DAY=1;1\n" +
                                              ini);
        pid = ts_spawn({"unshare", "-mi", "/bin/sh", TANDOR_SOURCE_DIR "/scripts/privatedev.sh",
                        dir + "/hostdev", "ttyUSB3", dir + "/modem", "--", TANDOR_BINARY, "CONN",
                        "DIR=" + dir, "INSTANCE=" + std::to_string(instanz), "NOSPLASH", "MUTE"},
                       dir + "/stdout.txt");
    }
    void sigterm() {
        kill(pid, SIGTERM);
        endetsauber(30000);
    }
    // The counters of the header survived: volume and minutes as they were.
    void zaehlerbehalten() {
        std::string kopf = ts_readfile(dir + "/tandor.ini").substr(0, 37);
        EXPECT_EQ(kopf.substr(6, 9), "000056789") << kopf;
        EXPECT_EQ(kopf.substr(31, 6), "000042") << kopf;
    }
};

TEST_F(OutageRun, AModemBackInTimeIsInitialisedAfreshAndTheProgramRunsOn) {
    ts_modemsim& alt = modem({"--type", "3", "--pin", "1234", "--signal", "15"});
    starte(3);
    ASSERT_TRUE(wartelog("Permitted to connect.", 1, 60000)) << protokolle();

    alt.control("fault hangup");
    ASSERT_TRUE(wartelog("tandor paused. Standby.", 1, 30000)) << protokolle();
    EXPECT_NE(connlog().find("Communications error at port /dev/ttyUSB3.\n"), std::string::npos)
        << connlog();
    // Back while the restart still waits; its SIM asks for the PIN again.
    usleep(2000000);
    ts_modemsim& neu = modem({"--type", "3", "--pin", "1234", "--signal", "20"});
    ASSERT_TRUE(wartelog("Permitted to connect.", 2, 60000)) << protokolle();

    EXPECT_EQ(ts_count(alt.transcript(), "AT+CPIN=1234"), 1) << alt.transcript();
    std::string t = neu.transcript();
    EXPECT_EQ(ts_count(t, "AT+CPIN=1234"), 1) << t;
    EXPECT_NE(t.find("AT+CGDCONT=1,\"IP\",\"internet.t-mobile\""), std::string::npos) << t;
    EXPECT_NE(t.find("AT+CSQ"), std::string::npos) << t;
    EXPECT_EQ(ts_count(servilog(), "tandor terminated."), 0) << protokolle();

    sigterm();
    EXPECT_EQ(ts_count(servilog(), "tandor terminated."), 1);
    EXPECT_EQ(servilog().find("1234"), std::string::npos) << "the PIN reached the log";
    zaehlerbehalten();
}

TEST_F(OutageRun, AModemThatStaysAwayEndsTheProgramWithItsCountersKept) {
    ts_modemsim& alt = modem({"--type", "3", "--pin", "1234", "--signal", "15"});
    starte(4);
    ASSERT_TRUE(wartelog("Permitted to connect.", 1, 60000)) << protokolle();

    alt.control("fault hangup");
    ASSERT_TRUE(wartelog("tandor paused. Standby.", 1, 30000)) << protokolle();
    // The rest, the restart's wait, the port's retries and the status text take about 30 s.
    endetsauber(90000);
    std::string log = servilog();
    EXPECT_NE(log.find("Port /dev/ttyUSB3 could not be opened."), std::string::npos) << log;
    EXPECT_EQ(ts_count(log, "tandor terminated."), 1) << log;
    EXPECT_LT(log.find("tandor paused. Standby."), log.find("tandor terminated."));
    EXPECT_EQ(ts_count(log, "Permitted to connect."), 1) << "ran on without its modem";
    zaehlerbehalten();
}

TEST_F(OutageRun, GarbageAndSilenceNeitherCrashNorHangTheProgram) {
    ts_modemsim& m = modem({"--type", "3", "--nopin", "--signal", "15"});
    starte(7);
    ASSERT_TRUE(wartelog("Permitted to connect.", 1, 60000)) << protokolle();
    // Answers that make no sense, one after another.
    for (int i = 0; i < 6; i++) {
        m.control("fault garbage 3");
        usleep(1500000);
        m.control("fault late 2");
        usleep(1500000);
    }
    ASSERT_EQ(ts_waitpid(pid, 0), -1) << protokolle();
    // A modem that stays mute long enough counts as gone: a rest, then the start-up again.
    m.control("fault silence 3"); // two reads of 5 s reach the read-error score
    ASSERT_TRUE(wartelog("tandor paused. Standby.", 1, 60000)) << protokolle();
    ASSERT_TRUE(wartelog("Permitted to connect.", 2, 90000)) << protokolle();

    // The window still answers: closing it asks whether to end.
    std::string fenster =
        "xdotool search --pid " + std::to_string(pid) + " --name '^tandor' 2>/dev/null | head -1";
    std::string frage =
        "xdotool search --pid " + std::to_string(pid) + " --name 'tandor   End' >/dev/null 2>&1";
    bool gefragt = false;
    for (int i = 0; i < 100 && !gefragt; i++) {
        if (i % 20 == 0)
            system(("id=$(" + fenster + "); [ -n \"$id\" ] && wmctrl -i -c \"$id\"").c_str());
        usleep(100000);
        gefragt = system(frage.c_str()) == 0;
    }
    EXPECT_TRUE(gefragt) << "no answer from the window";
    sigterm();
    EXPECT_EQ(ts_count(servilog(), "tandor terminated."), 1);
    zaehlerbehalten();
}

// The pid of a child of parent named pppd, -1 when there is none.
int pppdkind(int parent) {
    DIR* d = opendir("/proc");
    int gefunden = -1;
    while (dirent* e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        std::string st = ts_readfile(std::string("/proc/") + e->d_name + "/stat");
        size_t k = st.rfind(')');
        char zustand;
        int ppid = 0;
        if (k != std::string::npos && st.find("(pppd)") != std::string::npos &&
            sscanf(st.c_str() + k + 1, " %c %d", &zustand, &ppid) == 2 && ppid == parent &&
            zustand != 'Z')
            gefunden = atoi(e->d_name);
    }
    if (d) closedir(d);
    return gefunden;
}

struct LineDropRun : TandorRun {};

// The line drops while connected (the stand-in pppd is killed, ppp0 vanishes): the program
// notices it, dials again in the same start-up (PIN once, no rest) and runs on, whether or
// not it is to end at a standby of the computer.
TEST_F(LineDropRun, ADroppedLineIsRedialledWithoutARestAlsoWithEndAtStandby) {
    for (const char* ende : {"", "END=Z\n"}) {
        SCOPED_TRACE(ende[0] ? ende : "no END");
        ts_modemsim modem;
        ASSERT_TRUE(modem.start({"--type", "3", "--pin", "1234", "--signal", "15"}));
        std::string ctl = dir + "/pppd";
        mkdir(ctl.c_str(), 0755);
        unlink((dir + "/servilog.txt").c_str());
        ts_writefile(dir + "/tandor.ini", std::string(KOPF) +
                                              "MOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB0;NONE\n"
                                              "CONA=SE\nCON=\nPIN=1234\nAPN=internet.t-mobile\n" +
                                              ende);
        pid = ts_spawn(ts_netzstart(dir, modem.port, ctl, 5), dir + "/stdout.txt");
        ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
        int pppd = pppdkind(pid);
        ASSERT_GT(pppd, 0) << protokolle();
        kill(pppd, SIGKILL);

        ASSERT_TRUE(wartelog("Connection established.", 2, 60000)) << protokolle();
        std::string log = servilog();
        EXPECT_NE(log.find("Connection was terminated by extern."), std::string::npos) << log;
        EXPECT_EQ(ts_count(log, "tandor paused. Standby."), 0) << log;
        EXPECT_EQ(ts_count(log, "tandor terminated."), 0) << log;
        EXPECT_EQ(ts_count(log, "Permitted to connect."), 1) << "started afresh\n" << log;
        EXPECT_EQ(ts_count(modem.transcript(), "AT+CPIN=1234"), 1) << modem.transcript();
        EXPECT_EQ(ts_waitpid(pid, 0), -1) << "the program ended";
        EXPECT_GT(pppdkind(pid), 0) << "no pppd for the new link";

        kill(pid, SIGTERM);
        endetsauber(30000);
        if (HasFatalFailure()) return;
        EXPECT_EQ(ts_count(servilog(), "tandor terminated."), 1);
    }
}

// The user disconnects from the menu while pppd does not end on its signals: the window
// still answers during the wait, pppd is killed after its grace, and a program end asked
// for meanwhile is held up no longer than that.
TEST_F(LineDropRun, APppdThatDoesNotEndIsKilledAfterItsGraceWhileTheWindowAnswers) {
    ts_modemsim modem;
    ASSERT_TRUE(modem.start({"--type", "3", "--nopin", "--signal", "15"}));
    std::string ctl = dir + "/pppd";
    mkdir(ctl.c_str(), 0755);
    ts_writefile(ctl + "/outcomes", "deaf\n");
    ts_writefile(dir + "/tandor.ini", std::string(KOPF) +
                                          "MOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB0;NONE\n"
                                          "CONA=SE\nCON=\nAPN=internet.t-mobile\n");
    pid = ts_spawn(ts_netzstart(dir, modem.port, ctl, 6), dir + "/stdout.txt");
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    int pppd = pppdkind(pid);
    ASSERT_GT(pppd, 0) << protokolle();
    sleep(3);

    // The menu of the main window, from below: Exit, Configuration, Mini window, Mute,
    // Reconnect, Disconnect.
    std::string fenster = "xdotool search --onlyvisible --pid " + std::to_string(pid) +
                          " --name '^tandor' 2>/dev/null | head -1";
    std::string w = ts_output(fenster);
    ASSERT_FALSE(w.empty()) << "no main window";
    w.pop_back();
    ASSERT_EQ(system(("xdotool mousemove --window " + w + " 80 20 click 3").c_str()), 0);
    usleep(700000);
    ASSERT_EQ(system("xdotool key Up Up Up Up Up Up Return"), 0);
    ASSERT_TRUE(ts_waitfor(ctl + "/ignored", "1", 15000)) << protokolle();
    long long t0 = sy_monotonicms();

    // While the program waits for pppd, closing the window asks whether to end.
    std::string frage =
        "xdotool search --pid " + std::to_string(pid) + " --name 'tandor   End' >/dev/null 2>&1";
    system(("wmctrl -i -c " + w).c_str());
    bool gefragt = false;
    for (int i = 0; i < 30 && !gefragt; i++) {
        usleep(100000);
        gefragt = system(frage.c_str()) == 0;
    }
    EXPECT_TRUE(gefragt) << "the window did not answer during the wait";
    EXPECT_EQ(kill(pppd, 0), 0) << "pppd already gone: the test did not see the wait";

    // An end asked for now comes after the grace; pppd does not outlive the program.
    kill(pid, SIGTERM);
    endetsauber(30000);
    EXPECT_GE(sy_monotonicms() - t0, 9000) << "pppd not given its time";
    EXPECT_NE(servilog().find("pppd did not end, killing pid " + std::to_string(pppd)),
              std::string::npos)
        << servilog();
    EXPECT_NE(kill(pppd, 0), 0) << "pppd outlived the program";
    EXPECT_NE(connlog().find("Connection interrupted by user."), std::string::npos) << connlog();
}

} // namespace
