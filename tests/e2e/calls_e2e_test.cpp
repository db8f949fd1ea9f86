// Incoming calls and the homezone with the real binary and the simulator: a call from a
// slot's number switches automatic connection on once however often it rings, and hands
// the number to the slot's program; other callers and calls without a number start
// nothing; an ".at" slot sends its line only between two exchanges. The homezone is asked
// by web page and by USSD code, and asked again within two cycles of a new connection.
#include "modem/modemsimulator.h"
#include "tandorrun.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const std::string KOPF = "01 0AA000000000-0000000000001-0000000" + std::string(16, '0');
const std::string ANRUFER = "+491701234567";

// One line of the simulator's transcript: "hh:mm:ss.mmm D text".
struct Zeile {
    char richtung;
    std::string text;
};

std::vector<Zeile> zeilen(const ts_modemsim& m) {
    std::vector<Zeile> r;
    for (const std::string& z : ts_readlines(m.dir + "/transcript"))
        if (z.size() > 15) r.push_back({z[13], z.substr(15)});
    return r;
}

bool endergebnis(const std::string& t) {
    return t.find("OK\\r\\n") != std::string::npos || t.find("ERROR") != std::string::npos;
}

// The records helper_argv wrote: its working directory, then its arguments.
std::vector<std::vector<std::string>> aufrufe(const std::string& pfad) {
    std::vector<std::vector<std::string>> r(1);
    std::string teil;
    for (char c : ts_readfile(pfad)) {
        if (c == '\x1e') {
            r.emplace_back();
        } else if (c == '\0') {
            r.back().push_back(teil);
            teil.clear();
        } else {
            teil += c;
        }
    }
    r.pop_back();
    return r;
}

struct CallsRun : ModemRun {
    std::string argvdatei = dir + "/argv.out";
    std::string seiten = dir + "/seiten";

    void ini(const std::string& zeilen) {
        ts_writefile(dir + "/tandor.ini", KOPF + "\nLAN=English\nAPN=internet.t-mobile\n" + zeilen);
    }
    // Single port on ttyUSB0, or with befehl a command port ttyUSB1 beside the data port.
    void starte(ts_modemsim* befehl = nullptr) {
        std::vector<std::string> mehr;
        if (befehl) mehr = {"ttyUSB1", befehl->port};
        pid = ts_spawn(ts_netzstart(dir, modem.port, ctl, 3, mehr), dir + "/stdout.txt");
    }
    template <class F> bool warte(F bedingung, long ms) {
        for (long t = 0; t < ms; t += 200, usleep(200000))
            if (bedingung()) return true;
        return bedingung();
    }
    // Position of the n-th (from 1) occurrence of text in the service log, npos if none.
    size_t imlog(const std::string& text, int n) {
        std::string s = servilog();
        size_t p = std::string::npos;
        for (int i = 0; i < n; i++)
            if ((p = s.find(text, p == std::string::npos ? 0 : p + 1)) == std::string::npos) break;
        return p;
    }
};

// Two rings of one call, 5 s apart and early in the offline time: one call, the program
// connects, the slot's program gets the number; the ".at" slot of the same number sends
// its line once, when no command waits for its answer (the simulator sends final results
// late meanwhile, so a line sent from inside another command's read would show).
TEST_F(CallsRun, ACallOfTheSlotsNumberConnectsOnceAndHandsTheNumberOver) {
    ts_writefile(dir + "/anruf.at", "AT+CGMR\\R\r\n");
    ini("MOD=PIJ\nCOM=/dev/ttyUSB0;NONE\nCONA=E\nCON=\nSMS1=," + ANRUFER +
        "\nCMD1=tandor_CONNECT  " + ts_helper("helper_argv") + " " + argvdatei + " %1\nSMS2=," +
        ANRUFER + "\nCMD2=" + dir + "/anruf.at\n");
    starte();
    ASSERT_TRUE(ts_waitfor(modem.dir + "/transcript", "< AT+CLIP=1", 40000)) << protokolle();
    sleep(2);
    modem.control("split on");
    modem.control("ring " + ANRUFER);
    sleep(5);
    modem.control("ring " + ANRUFER);
    ASSERT_TRUE(wartelog("Connection established.", 1, 50000)) << protokolle();
    modem.control("split off");
    ASSERT_TRUE(warte([&] { return !aufrufe(argvdatei).empty(); }, 10000)) << protokolle();

    EXPECT_EQ(ts_count(connlog(), " Call recieved: " + ANRUFER + "\n"), 1) << connlog();
    EXPECT_EQ(ts_count(connlog(), " Connection activated by call.\n"), 1) << connlog();
    std::vector<std::vector<std::string>> a = aufrufe(argvdatei);
    ASSERT_EQ(a.size(), 1u);
    ASSERT_FALSE(a[0].empty());
    EXPECT_EQ(std::vector<std::string>(a[0].begin() + 1, a[0].end()),
              std::vector<std::string>{ANRUFER});

    // The ".at" line: once, after the ring, with every earlier command answered.
    std::vector<Zeile> t = zeilen(modem);
    size_t ring = t.size(), at = t.size(), ats = 0;
    for (size_t i = 0; i < t.size(); i++) {
        if (ring == t.size() && t[i].richtung == '>' &&
            t[i].text.find("+CLIP: ") != std::string::npos)
            ring = i;
        if (t[i].richtung == '<' && t[i].text.rfind("AT+CGMR\\r", 0) == 0) {
            if (at == t.size()) at = i;
            ats++;
        }
    }
    ASSERT_LT(ring, t.size()) << modem.transcript();
    ASSERT_LT(at, t.size()) << "the .at line was not sent\n" << modem.transcript();
    EXPECT_EQ(ats, 1u) << modem.transcript();
    EXPECT_GT(at, ring);
    size_t letzter = at;
    while (letzter > 0 && t[--letzter].richtung != '<') {
    }
    bool beantwortet = false;
    for (size_t i = letzter + 1; i < at; i++)
        beantwortet = beantwortet || (t[i].richtung == '>' && endergebnis(t[i].text));
    EXPECT_TRUE(beantwortet) << "sent while \"" << t[letzter].text << "\" waited for its answer\n"
                             << modem.transcript();
    kill(pid, SIGTERM);
    endetsauber(30000);
}

// Another caller is logged and starts nothing; a call without a number matches no slot
// that names one. Automatic connection stays off.
TEST_F(CallsRun, AnotherCallerOrACallWithoutNumberStartsNothing) {
    ini("MOD=PIJ\nCOM=/dev/ttyUSB0;NONE\nCONA=E\nCON=\nSMS1=," + ANRUFER +
        "\nCMD1=tandor_CONNECT  " + ts_helper("helper_argv") + " " + argvdatei + " %1\n");
    starte();
    ASSERT_TRUE(ts_waitfor(modem.dir + "/transcript", "< AT+CLIP=1", 40000)) << protokolle();
    sleep(2);
    modem.control("ring +4999999");
    ASSERT_TRUE(warte(
        [&] { return connlog().find("Call recieved: +4999999") != std::string::npos; }, 10000))
        << protokolle();
    sleep(18); // a new call, not another ring of the first
    modem.control("ring noclip");
    sleep(8);
    EXPECT_EQ(ts_count(connlog(), "Call recieved"), 1) << connlog();
    EXPECT_EQ(connlog().find("by call"), std::string::npos) << connlog();
    EXPECT_EQ(servilog().find("Connection established."), std::string::npos) << protokolle();
    EXPECT_EQ(access(argvdatei.c_str(), F_OK), -1);
    kill(pid, SIGTERM);
    endetsauber(30000);
}

// By web page: the inside text in the body gives "inside" even though a header names the
// outside text; after the page changed, a reconnect asks again within two cycles.
TEST_F(CallsRun, HomezoneByPageIsAskedAgainRightAfterANewConnection) {
    ts_modemsim befehl;
    ASSERT_TRUE(befehl.start({"--type", "3", "--nopin", "--signal", "15"}));
    mkdir(seiten.c_str(), 0755);
    setenv("HTTPSIM_PAGES", seiten.c_str(), 1);
    ts_writefile(seiten + "/hz", "<html>Sie sind in der Homezone.</html>");
    ts_writefile(seiten + "/hz.headers", "X-Hinweis: Sie sind nicht in der Homezone\n");
    ini("MOD=PIJ\nCOM=/dev/ttyUSB1\nCON=/dev/ttyUSB0\nCONA=SE\nHOMU=http://127.0.0.1/hz\n"
        "HOMI=Sie sind in der Homezone\nHOMO=nicht in der Homezone\n");
    starte(&befehl);
    ASSERT_TRUE(wartelog("Connection established.", 1, 60000)) << protokolle();
    // The query due at start is not put off by the first cell reading; a new connection
    // (which clears the state) asks again.
    ASSERT_TRUE(wartelog("Inside Homezone.", 2, 12000)) << protokolle();
    EXPECT_LT(imlog("Inside Homezone.", 1), imlog("Connection established.", 1));
    EXPECT_GT(imlog("Inside Homezone.", 2), imlog("Connection established.", 1));
    EXPECT_NE(connlog().find(" Inside Homezone.\n"), std::string::npos) << connlog();
    EXPECT_EQ(servilog().find("Not inside Homezone."), std::string::npos) << protokolle();

    ts_writefile(seiten + "/hz", "<html>Sie sind nicht in der Homezone.</html>");
    unlink((seiten + "/hz.headers").c_str());
    ts_writefile(dir + "/tandor_RECONNECT", "");
    ASSERT_TRUE(wartelog("Connection established.", 2, 60000)) << protokolle();
    ASSERT_TRUE(wartelog("Not inside Homezone.", 1, 12000)) << protokolle();
    EXPECT_GT(imlog("Not inside Homezone.", 1), imlog("Connection established.", 2));
    EXPECT_NE(connlog().find(" Not inside Homezone.\n"), std::string::npos) << connlog();
    EXPECT_NE(ts_readfile(ctl + "/httpsim.log").find("GET /hz"), std::string::npos);
    kill(pid, SIGTERM);
    endetsauber(30000);
}

// By USSD code, answered late in 7-bit hex: inside, then after the answer changed and a
// reconnect, outside within two cycles, which with switch H ends the connection.
TEST_F(CallsRun, HomezoneByUssdIsAskedAgainRightAfterANewConnection) {
    ts_modemsim befehl;
    ASSERT_TRUE(befehl.start({"--type", "3", "--nopin", "--signal", "15"}));
    befehl.control("ussdcoding gsm7");
    befehl.control("ussd Homezone: ja");
    ini("MOD=PIJH\nCOM=/dev/ttyUSB1\nCON=/dev/ttyUSB0\nCONA=SE\nHOMU=*1010#\n"
        "HOMI=Homezone: ja\nHOMO=Homezone: nein\n");
    starte(&befehl);
    ASSERT_TRUE(wartelog("Connection established.", 1, 60000)) << protokolle();
    ASSERT_TRUE(wartelog("Inside Homezone.", 2, 12000)) << protokolle() << befehl.transcript();
    EXPECT_LT(imlog("Inside Homezone.", 1), imlog("Connection established.", 1));
    EXPECT_NE(befehl.transcript().find("= USSD code: *1010#\n"), std::string::npos);

    befehl.control("ussd Homezone: nein");
    ts_writefile(dir + "/tandor_RECONNECT", "");
    ASSERT_TRUE(wartelog("Connection established.", 2, 60000)) << protokolle();
    ASSERT_TRUE(wartelog("Not inside Homezone.", 1, 12000)) << protokolle() << befehl.transcript();
    EXPECT_GT(imlog("Not inside Homezone.", 1), imlog("Connection established.", 2));
    EXPECT_TRUE(
        warte([&] { return connlog().find("Outside the homezone") != std::string::npos; }, 15000))
        << protokolle();
    kill(pid, SIGTERM);
    endetsauber(30000);
}

} // namespace
