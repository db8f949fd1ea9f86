// The main thread in-process: the manual network selection of an Option stick judged by the
// answer to the selection itself, against a modem of the test's own on a pseudo-terminal
// that refuses the network once; and the pause between two cycles, which a request wakes.
#include "core/helpers.h"
#include "core/programstate.h"
#include "core/system.h"
#include "endstate.h"
#include "modem/atexchange.h"
#include "supervisor/mainthread.h"
#include "supervisor/programstart.h"
#include "testsupport.h"
#include "ui/trayicons.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A modem played by the test: every command line (up to '\r') is answered by antwort.
struct ts_ptymodem {
    int master = -1, slave = -1;
    char name[100] = "";
    std::function<std::string(const std::string&)> antwort;
    std::vector<std::string> befehle;
    std::mutex mutex;
    std::atomic<bool> ende{false};
    std::thread leser;

    bool start() {
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
        leser = std::thread([this] {
            std::string zeile;
            while (!ende) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0) continue;
                char c;
                if (read(master, &c, 1) != 1) continue;
                if (c == '\n') continue;
                if (c != '\r') {
                    zeile += c;
                    continue;
                }
                std::string a;
                {
                    std::lock_guard<std::mutex> g(mutex);
                    befehle.push_back(zeile);
                    a = antwort(zeile);
                }
                zeile.clear();
                if (!a.empty() && write(master, a.data(), a.size()) < 0) break;
            }
        });
        return true;
    }
    int anzahl(const std::string& befehl) {
        std::lock_guard<std::mutex> g(mutex);
        int n = 0;
        for (const auto& b : befehle)
            n += b == befehl;
        return n;
    }
    ~ts_ptymodem() {
        ende = true;
        if (leser.joinable()) leser.join();
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }
};

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
    // answer tells whether the network was accepted.
    struct Fall {
        const char* name;
        const char* ablehnung; // the first answer to the selection
    };
    const Fall faelle[] = {
        {"no network service", "\r\n+CME ERROR: 30\r\n"},
        {"plain error", "\r\nERROR\r\n"},
        {"network not allowed", "\r\n+CME ERROR: 31\r\n"},
    };
    for (const Fall& f : faelle) {
        SCOPED_TRACE(f.name);
        ts_ptymodem modem;
        int auswahl = 0;
        modem.antwort = [&](const std::string& b) -> std::string {
            if (b == "AT+COPS?") return "\r\n+COPS: 0,0,\"T-Mobile D\",2\r\n\r\nOK\r\n";
            if (b == "AT+COPS=1,0,\"Vodafone.de\"")
                return ++auswahl == 1 ? f.ablehnung : "\r\nOK\r\n";
            return "\r\nOK\r\n";
        };
        ASSERT_TRUE(modem.start());
        ASSERT_TRUE(cm_open(modem.name, false));
        geraet = 1;
        strMcpy(inidat.net, "Vodafone.de");
        int suche = ic_mshowcount();

        EXPECT_TRUE(mt_netzwahl());
        // Refused once: the search is shown and the selection is made again, which the
        // modem then accepts.
        EXPECT_EQ(modem.anzahl("AT+COPS=1,0,\"Vodafone.de\""), 2);
        EXPECT_EQ(modem.anzahl("AT+COPS?"), 2);
        EXPECT_GT(ic_mshowcount(), suche);
        EXPECT_STREQ(ic_lastmshow().text, "Network search.");
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
