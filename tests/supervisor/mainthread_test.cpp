// The main thread in-process: the manual network selection of an Option stick judged by the
// answer to the selection itself, against the modem simulator refusing the network once; and the
// pause between two cycles, which a request wakes.
#include "core/helpers.h"
#include "core/programstate.h"
#include "core/system.h"
#include "endstate.h"
#include "modem/atexchange.h"
#include "supervisor/mainthread.h"
#include "supervisor/programstart.h"
#include "testsupport.h"
#include "modem/modemsimulator.h"
#include "ui/trayicons.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

namespace {

class MainThread : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ts_workdir().empty());
        es_grundzustand(0x7C000000ul);
        sy_setclock(SY_CLOCK_AUTO, 1700000000);
        comzeit = 50;
        verbindenverboten = true;
        cm_ini();
    }
    void TearDown() override {
        cm_end();
        sy_setclock(SY_CLOCK_REAL);
    }
};

TEST_F(MainThread, OptionManualSelectionIsJudgedByTheSelectionsOwnAnswer) {
    // The question before the selection always ends in "OK"; only the selection's own
    // answer tells whether the network was accepted. The simulator refuses the first
    // selection in each of its error forms (plain ERROR, numeric and verbose +CME ERROR).
    for (const char* cmee : {"cmee 0", "cmee 1", "cmee 2"}) {
        SCOPED_TRACE(cmee);
        ts_modemsim modem;
        ASSERT_TRUE(modem.start({"--type", "1", "--nopin"}));
        modem.control(cmee);
        modem.control("refuse 1");
        ASSERT_TRUE(cm_open(modem.port.c_str(), false));
        geraet = 1;
        strMcpy(inidat.net, "Vodafone.de");
        ic_mshow(1, 2, 50, 0, 0, "");

        EXPECT_TRUE(mt_netzwahl());
        // Refused once: the search is shown and the selection is made again, which the
        // modem then accepts.
        std::string tr = modem.transcript();
        EXPECT_EQ(ts_count(tr, " < AT+COPS=1,0,\"Vodafone.de\""), 2) << tr;
        EXPECT_EQ(ts_count(tr, " < AT+COPS?"), 2) << tr;
        EXPECT_EQ(ic__mart, 2);
        EXPECT_STREQ(ic__mtext, "Network search.");
        cm_close();
    }
}

long ms_seit(std::chrono::steady_clock::time_point t0) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now() - t0)
        .count();
}

TEST(MainLoopPause, ARequestWakesThePauseBetweenTwoCycles) {
    es_grundzustand(0x7C000000ul);
    sy_setclock(SY_CLOCK_REAL);
    // The signal handler as main installs it.
    struct sigaction sa {};
    sa.sa_sigaction = endall;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGTERM, &sa, nullptr), 0);
    struct Fall {
        const char* name;
        void (*anfrage)();
    };
    const Fall faelle[] = {
        {"menu Disconnect", [] { ps_unterbrechen(2); }},
        {"menu Connect", [] { ps_wecken(); }},
        {"menu Exit", [] { ps_endeanfordern(); }},
        {"SIGTERM", [] { kill(getpid(), SIGTERM); }},
    };
    for (const Fall& f : faelle) {
        SCOPED_TRACE(f.name);
        ps_pause(0); // no wake left over from the case before
        auto t0 = std::chrono::steady_clock::now();
        std::thread anfrager([&] {
            usleep(400000);
            f.anfrage();
        });
        EXPECT_TRUE(ps_pause(1800));
        long ms = ms_seit(t0);
        anfrager.join();
        // Woken within a few steps of the request, long before the 1.8 s are over.
        EXPECT_GE(ms, 390);
        EXPECT_LT(ms, 700);
        // A request that came before the pause shortens it as well.
        f.anfrage();
        t0 = std::chrono::steady_clock::now();
        EXPECT_TRUE(ps_pause(1800));
        EXPECT_LT(ms_seit(t0), 100);
        programmende_gewuenscht = false;
        unterbrechung_gewuenscht = 0;
    }
    // Without a request the pause takes its full time.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ps_pause(600));
    EXPECT_GE(ms_seit(t0), 590);
    signal(SIGTERM, SIG_DFL);
}

} // namespace
