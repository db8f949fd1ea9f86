// Dial-up through the stand-in pppd, the real chat and the modem simulator, each test in
// a network namespace of its own where the stand-in's ppp0 lives.
#include <gtest/gtest.h>

#include <csignal>
#include <ctime>

#include "connection/dialup.h"
#include "connection/userprograms.h"
#include "core/helpers.h"
#include "core/programstate.h"
#include "core/system.h"
#include "modem/atexchange.h"
#include "modem/modemsimulator.h"
#include "pppdsimulator.h"

namespace {

bool warte(const std::function<bool()>& bedingung, long ms) {
    for (long t = 0; t < ms; t += 20) {
        if (bedingung()) return true;
        usleep(20000);
    }
    return bedingung();
}

class Dialup : public ::testing::Test {
  protected:
    ts_modemsim sim;
    ts_pppdsim pppd;
    int fds = 0;

    void starte(bool standin) {
        ASSERT_FALSE(ts_workdir().empty());
        ps_resetinidat();
        programmende_gewuenscht = false;
        ruhestatus = 0;
        inidat.mod['P'] = 1;
        inidat.mod['1'] = 1;
        inidat.round = 1;
        inidat.roundt = 1;
        ASSERT_TRUE(pppd.start(standin)) << "no network namespace (needs root)";
        sy_setpath(SY_PIDDIR, pppd.dir.c_str());
        ASSERT_TRUE(sim.start({"--nopin"}));
        strMcpy(inidat.con, sim.port.c_str());
        fds = ts_openfds();
    }
    void SetUp() override { starte(true); }
    void TearDown() override {
        cn_linuxconnect(22);
        sy_setclock(SY_CLOCK_REAL);
        sy_setpath(SY_PIDDIR, nullptr);
    }
    std::string logs() { return ts_readfile("servilog.txt") + ts_readfile("debuglog.txt"); }
    // Nothing of an attempt is left: no pppd child, running or zombie, and no descriptor.
    void nichtsuebrig(const std::string& fall) {
        EXPECT_EQ(ts_pppdchildren(), 0) << fall;
        EXPECT_EQ(cn_pppdpid(), -1) << fall;
        // Other threads (the lock monitor) open log files for a moment.
        EXPECT_TRUE(warte([&] { return ts_openfds() == fds; }, 2000)) << fall << ts_fdlist();
    }
};

TEST_F(Dialup, ConnectsWithVerbatimCredentialsCountsTrafficAndDisconnects) {
    const char* name = "nutzer$(touch gehackt)";
    const char* pass = "pa ss'\";touch gehackt `id` $HOME|&";
    strMcpy(inidat.conname, name);
    strMcpy(inidat.conpass, pass);
    ASSERT_EQ(cn_linuxconnect(21), CN_OK);
    EXPECT_STREQ(cn_connectionname(), "ppp0");
    EXPECT_TRUE(cn_isactive());
    EXPECT_NE(sim.transcript().find("CONNECT 7200000"), std::string::npos);
    EXPECT_EQ(ts_readfile(pppd.dir + "/ppp0.pid"), std::to_string(cn_pppdpid()) + "\nppp0\n");

    // The arguments arrive one by one, as written, and nothing ran through a shell.
    std::string erwartet = sim.port + "\nuser\n" + name + "\npassword\n" + pass +
                           "\ncrtscts\nlock\nusepeerdns\nnoipdefault\ndefaultroute\n"
                           "replacedefaultroute\nnodetach\nchild-timeout\n5\ndump\nconnect\n"
                           "chat \"\" atd*99#\n";
    EXPECT_EQ(pppd.args(), erwartet);
    EXPECT_FALSE(file_exists("gehackt"));
    EXPECT_EQ(logs().find("pa ss"), std::string::npos);
    EXPECT_EQ(logs().find("nutzer"), std::string::npos);
    EXPECT_NE(logs().find("Connect answer: Using interface ppp0"), std::string::npos);

    long rx0, tx0, rx, tx;
    ASSERT_TRUE(ts_ifcounters("ppp0", &rx0, &tx0));
    // A socket on the discard port takes the packets, so no ICMP answer goes out.
    int senke = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(9);
    ASSERT_EQ(bind(senke, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    pppd.receive(10, 1000);
    EXPECT_TRUE(warte([&] { return ts_ifcounters("ppp0", &rx, &tx) && rx >= rx0 + 10280; }, 3000));
    EXPECT_EQ(rx, rx0 + 10280);
    for (int i = 0; i < 10; i++)
        ts_sendtopeer(1000);
    EXPECT_TRUE(warte([&] { return pppd.sentbytes() >= 10280; }, 3000));
    ASSERT_TRUE(ts_ifcounters("ppp0", &rx, &tx));
    EXPECT_EQ(tx, tx0 + 10280);
    close(senke);

    EXPECT_EQ(cn_linuxconnect(22), 0);
    EXPECT_FALSE(ts_ifcounters("ppp0", &rx, &tx));
    EXPECT_FALSE(cn_isactive());
    EXPECT_STREQ(cn_connectionname(), "");
    nichtsuebrig("disconnect");
}

// Every error class of pppd's output, one attempt after the other: each is recognised,
// and none leaves a pppd, a zombie or a descriptor behind.
TEST_F(Dialup, RecognisesEachPppdErrorAndLeavesNothingBehind) {
    struct fall {
        const char* ausgang;
        int fehler;
    };
    const fall faelle[] = {
        {"usage", CN_USAGE},   {"cannotread", CN_NICHTLESBAR},
        {"noppp", CN_FEHLT},   {"permission", CN_ZUGRIFF},
        {"root", CN_ROOT},     {"scriptfail", CN_SKRIPT},
        {"hangup", CN_HANGUP}, {"lcptimeout", CN_LCP},
        {"exit", CN_TIMEOUT},
    };
    for (const auto& f : faelle) {
        pppd.outcomes(std::string(f.ausgang) + "\n");
        long t0 = sy_monotonicms();
        EXPECT_EQ(cn_linuxconnect(21), f.fehler) << f.ausgang;
        // An early end of pppd's output ends the attempt at once, without the countdown.
        EXPECT_LT(sy_monotonicms() - t0, 5000) << f.ausgang;
        EXPECT_STREQ(cn_connectionname(), "") << f.ausgang;
        std::string zeile = f.fehler == CN_TIMEOUT
                                ? "Linux connect: pppd ended."
                                : "Linux connect error " + std::to_string(f.fehler) + ".";
        EXPECT_NE(logs().find(zeile), std::string::npos) << f.ausgang;
        nichtsuebrig(f.ausgang);
    }
}

TEST_F(Dialup, FiftyQuickFailuresLeaveNoDescriptorNorProcess) {
    // The quick kinds in turn: pppd dying with an error, ending without a line it knows,
    // and an unknown error line followed by its end.
    const char* arten[] = {"usage", "scriptfail", "hangup", "exit", "noppp"};
    std::string folge;
    for (int i = 0; i < 50; i++)
        folge += std::string(arten[i % 5]) + "\n";
    pppd.outcomes(folge);
    for (int i = 0; i < 50; i++)
        EXPECT_NE(cn_linuxconnect(21), CN_OK) << i;
    nichtsuebrig("fifty");
}

TEST_F(Dialup, TriesTheNextPortAndRetriesOnceWithoutReplacedefaultroute) {
    std::string liste = "/nonexistent/ttyQ0, " + sim.port;
    strMcpy(inidat.con, liste.c_str());
    // The missing port takes an outcome too: ok, noreplace (2nd port), ok, ok.
    pppd.outcomes("ok\nnoreplace\nok\nok\n");
    ASSERT_EQ(cn_linuxconnect(21), CN_OK);
    EXPECT_EQ(pppd.args().find("replacedefaultroute"), std::string::npos);
    EXPECT_NE(logs().find("Assumed Mandriva as operating system."), std::string::npos);
    EXPECT_NE(logs().find("Connecting via /nonexistent/ttyQ0"), std::string::npos);
    // The flag stays for later connections.
    ASSERT_EQ(cn_linuxconnect(21), CN_OK);
    EXPECT_EQ(pppd.args().find("replacedefaultroute"), std::string::npos);

    strMcpy(inidat.con, "/nonexistent/a,/nonexistent/b");
    EXPECT_EQ(cn_linuxconnect(21), CN_KEINPORT);
    nichtsuebrig("no port");
}

TEST_F(Dialup, KillsAPppdLockHolderOnceButNoOtherProcess) {
    pppd.outcomes("silent\n");
    int halter = ts_spawn({TANDOR_BINARY_DIR "/tools/bin/pppd", "/dev/null"});
    ASSERT_TRUE(warte([&] { return ts_readfile(pppd.dir + "/outcomes").empty(); }, 3000));
    pppd.outcomes("locked " + std::to_string(halter) + "\nok\n");
    EXPECT_EQ(cn_linuxconnect(21), CN_OK);
    EXPECT_NE(ts_waitpid(halter, 3000), -1);
    EXPECT_NE(logs().find("killing pid " + std::to_string(halter)), std::string::npos);
    cn_linuxconnect(22);

    int fremd = ts_spawn({"/bin/sleep", "30"});
    pppd.outcomes("locked " + std::to_string(fremd) + "\nlocked " + std::to_string(fremd) + "\n");
    EXPECT_EQ(cn_linuxconnect(21), CN_GESPERRT);
    EXPECT_EQ(kill(fremd, 0), 0) << "a process that is no pppd was signalled";
    kill(fremd, SIGKILL);
    ts_waitpid(fremd, 3000);
    pppd.outcomes("locked 1\nlocked 1\n");
    EXPECT_EQ(cn_linuxconnect(21), CN_GESPERRT);
    nichtsuebrig("locked");
}

TEST_F(Dialup, PppdThatNeverPrintsRunsOutTheCountdown) {
    pppd.outcomes("silent\n");
    sy_setclock(SY_CLOCK_AUTO, time(nullptr));
    EXPECT_EQ(cn_linuxconnect(21), CN_TIMEOUT);
    EXPECT_NE(logs().find("Connect countdown: 0"), std::string::npos);
    EXPECT_NE(logs().find("Linux connect timeout."), std::string::npos);
    nichtsuebrig("silent");

    // Interface and authentication without a DNS address never count as connected.
    pppd.outcomes("nodns\n");
    EXPECT_EQ(cn_linuxconnect(21), CN_TIMEOUT);
    nichtsuebrig("nodns");
}

TEST_F(Dialup, PppdKilledFromOutsideIsNoticedAndReaped) {
    cn_start();
    ASSERT_EQ(onlinezeit.load(), 1u);
    ASSERT_TRUE(cn_isactive());
    EXPECT_NE(ts_readfile("connlog.txt").find("Connection established."), std::string::npos);
    EXPECT_NE(ts_readfile("connlog.txt").find("Connection name: ppp0"), std::string::npos);

    kill(cn_pppdpid(), SIGKILL);
    long rx, tx;
    ASSERT_TRUE(warte([&] { return !ts_ifcounters("ppp0", &rx, &tx); }, 3000));
    EXPECT_FALSE(cn_isactive());
    // The virtual clock goes on from the connection's time: however long the machine took
    // to let ppp0 vanish, no gap that looks like a standby comes between.
    cn_stop(0);
    EXPECT_NE(logs().find("Connection was terminated by extern."), std::string::npos);
    EXPECT_NE(ts_readfile("connlog.txt").find("Connection interrupted."), std::string::npos);
    EXPECT_NE(ts_readfile("connlog.txt").find("Connection terminated."), std::string::npos);
    EXPECT_EQ(mtextup.load(), -1);
    EXPECT_FALSE(programmende_gewuenscht.load());
    nichtsuebrig("killed");
}

// A line that drops is no standby, however long the last pass lies back; only time the
// machine spent asleep (the boot clock running ahead of the monotonic one) is. Each row:
// a link, a pause on the program's clock, pppd killed, a standby of the machine, cn_stop(0).
TEST_F(Dialup, OnlyAStandbyOfTheMachineTurnsALineDropIntoARestOrAnEnd) {
    struct fall {
        const char* name;
        long pausems, standbyms;
        bool endstandby, ruhe, ende;
    } const faelle[] = {
        {"drop after a cycle", 1800, 0, false, false, false},
        {"drop after a slow pass", 6000, 0, true, false, false},
        {"short standby", 0, 3000, false, false, false},
        {"standby", 1800, 60000, false, true, true},
        {"standby, end at standby", 0, 60000, true, false, true},
    };
    for (const auto& f : faelle) {
        sy_setclock(SY_CLOCK_REAL);
        programmende_gewuenscht = false;
        ruhestatus = 0;
        inidat.endstandby = f.endstandby;
        cn_start();
        ASSERT_STREQ(cn_connectionname(), "ppp0") << f.name;
        // From here on the program's clock is virtual; the link is seen up once on it.
        sy_setclock(SY_CLOCK_AUTO, time(nullptr));
        ASSERT_TRUE(cn_isactive()) << f.name;
        sy_sleepms(f.pausems);
        // A pass that came late (a slow modem) while the link holds sets no mark.
        if (f.pausems > 4000) {
            EXPECT_TRUE(cn_isactive()) << f.name;
            EXPECT_FALSE(cn_wastimegap()) << f.name;
        }
        kill(cn_pppdpid(), SIGKILL);
        long rx, tx;
        ASSERT_TRUE(warte([&] { return !ts_ifcounters("ppp0", &rx, &tx); }, 3000)) << f.name;
        sy_standby(f.standbyms);
        cn_stop(0);
        EXPECT_EQ(ruhestatus.load(), f.ruhe ? 1 : 0) << f.name;
        EXPECT_EQ(programmende_gewuenscht.load(), f.ende) << f.name;
        EXPECT_FALSE(cn_wastimegap()) << f.name << ": the mark outlived the connection";
        nichtsuebrig(f.name);
    }
}

// Whether a link was up at the start is asked again at every start of the main thread.
TEST_F(Dialup, ALinkAtStartIsAskedAgainAtEveryStart) {
    cn_ini();
    EXPECT_FALSE(cn_wasactiveatstart());
    cn_start();
    ASSERT_TRUE(cn_isactive());
    EXPECT_FALSE(cn_wasactiveatstart()) << "the answer changed within one start";
    cn_ini();
    EXPECT_TRUE(cn_wasactiveatstart());
    cn_linuxconnect(22);
    cn_ini();
    EXPECT_FALSE(cn_wasactiveatstart());
    nichtsuebrig("restart");
}

// pppd gets its time to end the link and run its scripts; one that does not end is killed
// after the grace, and neither is left behind. One that is not our child is waited for too.
TEST_F(Dialup, ASlowPppdMayEndByItselfADeafOneIsKilledAfterTenSeconds) {
    struct fall {
        const char* ausgang;
        long minms, maxms;
        bool getoetet;
    } const faelle[] = {
        {"slowend 5", 4800, 8000, false},
        {"deaf", 9800, 12000, true},
    };
    for (const auto& f : faelle) {
        pppd.outcomes(std::string(f.ausgang) + "\n");
        ASSERT_EQ(cn_linuxconnect(21), CN_OK) << f.ausgang;
        std::string pidfile = pppd.dir + "/ppp0.pid";
        ASSERT_TRUE(file_exists(pidfile.c_str())) << f.ausgang;
        size_t marke = ts_readfile("servilog.txt").size();
        long long t0 = sy_monotonicms();
        EXPECT_EQ(cn_linuxconnect(22), 0);
        long long dauer = sy_monotonicms() - t0;
        EXPECT_GE(dauer, f.minms) << f.ausgang;
        EXPECT_LT(dauer, f.maxms) << f.ausgang;
        bool getoetet = ts_readfile("servilog.txt").find("pppd did not end, killing pid", marke) !=
                        std::string::npos;
        EXPECT_EQ(getoetet, f.getoetet) << f.ausgang;
        // Only a pppd that ended in order removed its pid file.
        EXPECT_EQ(file_exists(pidfile.c_str()), f.getoetet) << f.ausgang;
        unlink(pidfile.c_str());
        nichtsuebrig(f.ausgang);
    }

    // A pppd started elsewhere, named by its pid file, gets the same time to end.
    pppd.outcomes("slowend 3\n");
    int fremd =
        ts_spawn({TANDOR_BINARY_DIR "/tools/bin/pppd", sim.port, "connect", "chat \"\" atd*99#"});
    ASSERT_TRUE(warte([&] { return file_exists((pppd.dir + "/ppp0.pid").c_str()); }, 10000));
    cn_setconnectionname("ppp0");
    long long t0 = sy_monotonicms();
    EXPECT_EQ(cn_linuxconnect(22), 0);
    EXPECT_GE(sy_monotonicms() - t0, 2800);
    if (ts_waitpid(fremd, 0) == -1) {
        ADD_FAILURE() << "returned before the other pppd had ended";
        kill(fremd, SIGKILL);
        ts_waitpid(fremd, 3000);
    }
}

TEST_F(Dialup, UserDisconnectEndsTheLinkAndWritesTheSummary) {
    cn_start();
    ASSERT_TRUE(cn_isactive());
    sy_setclock(SY_CLOCK_AUTO, time(nullptr));
    cn_stop(2);
    std::string connlog = ts_readfile("connlog.txt");
    EXPECT_NE(connlog.find("Connection interrupted by user."), std::string::npos);
    EXPECT_NE(connlog.find("Subtotal: 1 kB"), std::string::npos);
    EXPECT_FALSE(cn_isactive());
    nichtsuebrig("user");
    // Nothing connected any more: a second stop does nothing.
    cn_stop(2);
    EXPECT_EQ(ts_readfile("connlog.txt"), connlog);
}

TEST_F(Dialup, SinglePortModeKeepsCommandsOffTheLine) {
    cm__singleport = true;
    ASSERT_TRUE(cm_open(sim.port.c_str(), false));
    ASSERT_EQ(cn_linuxconnect(21), CN_OK);
    EXPECT_FALSE(cm_isopen());
    size_t marke = sim.transcript().size();
    char antwort[CM_ANTWORTGROESSE];
    cm_puts("AT+CSQ\r");
    cm_gets(antwort, 0);
    usleep(300000);
    std::string danach = sim.transcript().substr(marke);
    EXPECT_EQ(danach.find(" < "), std::string::npos) << danach;
    cn_linuxconnect(22);
    cm__singleport = false;
}

TEST_F(Dialup, ConnectFailureFourTimesRequestsARest) {
    pppd.outcomes("silent\nsilent\nsilent\nsilent\n");
    sy_setclock(SY_CLOCK_AUTO, time(nullptr));
    for (int i = 0; i < 3; i++) {
        cn_start();
        EXPECT_EQ(ruhestatus.load(), 0);
    }
    EXPECT_NE(ts_readfile("connlog.txt").find("Connection refused. Error 49.\r\n"),
              std::string::npos)
        << ts_readfile("connlog.txt");
    cn_start();
    EXPECT_EQ(ruhestatus.load(), 1);
    EXPECT_TRUE(programmende_gewuenscht.load());
    nichtsuebrig("rest");
}

// The first connection of a cycle starts the slots without a moment, every connection
// the slots for every connection, and a connection's end stops those. A slot for an SMS
// or a call waits for its trigger at every connection.
TEST_F(Dialup, UserProgramsRunAtTheirConnections) {
    const char* felder[SP_SLOTS] = {"echo >> s0; exec sleep 30", ",echo >> s1; exec sleep 30",
                                    ",echo >> s2; exec sleep 30"};
    const size_t starts[2][SP_SLOTS] = {{1, 1, 0}, {1, 2, 0}};
    for (int i = 0; i < SP_SLOTS; i++)
        strMcpy(inidat.cmd[i], felder[i]);
    inidat.sms[2] = 1;
    inicounterglobal++; // a new initialisation cycle
    for (int n = 0; n < 2; n++) {
        cn_start();
        ASSERT_TRUE(cn_isactive());
        auto anzahl = [](int i) { return ts_readlines("s" + std::to_string(i)).size(); };
        warte([&] { return anzahl(0) == starts[n][0] && anzahl(1) == starts[n][1]; }, 3000);
        for (int i = 0; i < SP_SLOTS; i++)
            EXPECT_EQ(anzahl(i), starts[n][i]) << "slot " << i << ", connection " << n;
        cn_stop(2);
    }
    EXPECT_TRUE(sp_stop(0)) << "a first-connection program runs on after the link";
    EXPECT_FALSE(sp_stop(1));
}

class RealPppd : public Dialup {
    void SetUp() override {
        starte(false);
        setenv("PATH", ("/usr/sbin:" + std::string(getenv("PATH"))).c_str(), 1);
    }
};

// This machine's pppd has no PPP in its kernel: its complaint about /dev/ppp is error 32.
TEST_F(RealPppd, MissingKernelSupportIsError32) {
    if (access("/usr/sbin/pppd", X_OK) != 0) GTEST_SKIP() << "no pppd installed";
    EXPECT_EQ(cn_linuxconnect(21), CN_FEHLT);
    EXPECT_NE(logs().find("/dev/ppp"), std::string::npos);
    nichtsuebrig("real pppd");
}

} // namespace
