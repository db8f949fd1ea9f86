// Calls, USSD answers, the homezone match and user AT command strings: the pure parsers as
// tables, the noting of calls for the main thread, and user commands against the simulator.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "core/helpers.h"
#include "core/programstate.h"
#include "modem/atexchange.h"
#include "modem/calls.h"
#include "modemsimulator.h"
#include "testsupport.h"

namespace {

bool has(const std::string& s, const std::string& t) {
    return s.find(t) != std::string::npos;
}

class Calls : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ts_workdir().empty());
        ps_resetinidat();
        inidat.mod['P'] = 1;
        comzeit = 50;
        geraet = 0;
        ruhestatus = 0;
        programmende_gewuenscht = false;
        _de = false;
        cm_ini();
    }
    void TearDown() override { cm_end(); }
};

TEST(CallParse, RingAndClipAreTakenOutOfTheAnswer) {
    const std::string n48 = "+" + std::string(47, '1');
    const std::string n49 = "+" + std::string(48, '1');
    struct {
        const char* name;
        std::string roh, rest;
        bool ring;
        std::string nummer;
    } const faelle[] = {
        {"international", "\r\nRING\r\n\r\n+CLIP: \"+491701234567\",145,,,,0\r\n",
         "\r\n\r\n\r\n\r\n", true, "+491701234567"},
        {"national", "RING\r\n+CLIP: \"01701234567\",129\r\n", "\r\n\r\n", true, "01701234567"},
        {"inside another answer", "\r\n+CSQ: 18,99\r\n\r\nOK\r\n\r\nRING\r\n",
         "\r\n+CSQ: 18,99\r\n\r\nOK\r\n\r\n\r\n", true, ""},
        {"no CLIP", "\r\nRING\r\n", "\r\n\r\n", true, ""},
        {"short number alone", "\r\n+CLIP: \"123\",129\r\n", "\r\n\r\n", false, ""},
        {"48 characters", "+CLIP: \"" + n48 + "\",145\r\n", "\r\n", true, n48},
        {"49 characters", "RING\r\n+CLIP: \"" + n49 + "\",145\r\n", "\r\n\r\n", true, ""},
        {"without quotes", "+CLIP: +491701234567,145\r\n", "\r\n", true, "+491701234567"},
        {"a plus inside is no number", "+CLIP: \"+49+1701\",145\r\n", "\r\n", false, ""},
        {"ends right after +CLIP:", "RING\r\n+CLIP:", "\r\n", true, ""},
        {"number cut by the end of the read", "+CLIP: \"+4917", "", false, ""},
        {"echo of AT+CLIP=1 stays", "AT+CLIP=1\r\r\nOK\r\n", "AT+CLIP=1\r\r\nOK\r\n", false, ""},
        {"RING inside a line is text", "+CMGR: \"STRING\r\n", "+CMGR: \"STRING\r\n", false, ""},
    };
    for (const auto& f : faelle) {
        char t[300];
        strMcpy(t, f.roh.c_str());
        bool ring = !f.ring;
        char nummer[CM_NUMMERGROESSE] = "x";
        cm_anrufzerlegen(t, &ring, nummer, sizeof nummer);
        EXPECT_EQ(f.rest, t) << f.name;
        EXPECT_EQ(f.ring, ring) << f.name;
        EXPECT_EQ(f.nummer, nummer) << f.name;
    }
}

// Rings of one call are noted once; a ring 15 s later by the offline clock, or the first one
// after the clock started again, is a new call.
TEST_F(Calls, OneCallIsNotedOnceAndTakenByTheMainThread) {
    inidat.smsring = true;
    onlinezeit = 0;
    offlinezeit = 50000;
    char nummer[CM_NUMMERGROESSE];
    auto ring = [](const char* text, unsigned long zeit) {
        offlinezeit = zeit;
        char t[200];
        strMcpy(t, text);
        cm__ringdetect(t);
        return std::string(t);
    };
    const char* mitnummer = "\r\nRING\r\n\r\n+CLIP: \"+491701234567\",145\r\n";
    EXPECT_FALSE(cm_anrufholen(nummer, sizeof nummer));
    EXPECT_EQ("\r\n\r\n\r\n\r\n", ring(mitnummer, 50000));
    EXPECT_TRUE(cm_anrufholen(nummer, sizeof nummer));
    EXPECT_STREQ("+491701234567", nummer);
    EXPECT_FALSE(cm_anrufholen(nummer, sizeof nummer));
    ring(mitnummer, 50500);
    ring(mitnummer, 51900);
    EXPECT_FALSE(cm_anrufholen(nummer, sizeof nummer)) << "rings of the same call";
    ring(mitnummer, 53400);
    EXPECT_TRUE(cm_anrufholen(nummer, sizeof nummer)) << "15 s after the last ring";
    ring("\r\nRING\r\n", 100);
    EXPECT_TRUE(cm_anrufholen(nummer, sizeof nummer)) << "the offline clock started again";
    EXPECT_STREQ("", nummer);

    // The number of a call that came in a later read than its RING.
    ring("\r\nRING\r\n", 5000);
    ring("+CLIP: \"+4930123\",145\r\n", 5100);
    EXPECT_TRUE(cm_anrufholen(nummer, sizeof nummer));
    EXPECT_STREQ("+4930123", nummer);

    // Online, or with call detection off, the text stays as it is.
    onlinezeit = 300;
    EXPECT_EQ(mitnummer, ring(mitnummer, 90000));
    onlinezeit = 0;
    inidat.smsring = false;
    EXPECT_EQ(mitnummer, ring(mitnummer, 90000));
    EXPECT_FALSE(cm_anrufholen(nummer, sizeof nummer));
    EXPECT_EQ(4, ts_count(ts_readfile("servilog.txt"), "Incomming call: \"+491701234567\"."));
}

TEST(UssdAnswer, DecodedByTheCodingSchemeItGives) {
    struct {
        const char* name;
        const char* zeile;
        bool text;
        int status;
        std::string out;
    } const faelle[] = {
        {"plain", "\r\nOK\r\n\r\n+CUSD: 0,\"Ihr Guthaben: 5,00 EUR\",15\r\n", true, 0,
         "Ihr Guthaben: 5,00 EUR"},
        {"gsm7 hex", "+CUSD: 0,\"C73A1D1D1697DDA01AA8589502\",15", true, 0, "Guthaben 5 EUR"},
        {"gsm7 hex with CR fill", "+CUSD: 2,\"AA182C368AC91A\",15", true, 2, "*101#12"},
        {"UCS-2, euro and umlauts",
         "+CUSD: 0,\"20AC00200035002C0030003000200047007200FC00DF0065\",72", true, 0,
         "E 5,00 Gr\xFC\xDF"
         "e"},
        {"UCS-2 with language prefix", "+CUSD: 0,\"646500480061006C006C006F\",17", true, 0,
         "Hallo"},
        {"UCS-2 scheme but decoded text", "+CUSD: 0,\"Saldo 3 EUR\",72", true, 0, "Saldo 3 EUR"},
        {"no scheme: UCS-2 guess", "+cusd: 0,\"00480061006C006C006F\"", true, 0, "Hallo"},
        {"no scheme: 7-bit", "+CUSD: 0,\"D2F29C7EAED3D16171D90D\"", true, 0, "Restguthaben"},
        {"no quotes", "+CUSD: 4\r\n", false, 4, ""},
        {"menu", "+CUSD: 1,\"1 Guthaben\r\n2 Aufladen\",15\r\n", true, 1,
         "1 Guthaben\r\n2 Aufladen"},
    };
    for (const auto& f : faelle) {
        char out[CM_USSDGROESSE] = "x";
        int status = 9;
        EXPECT_EQ(f.text, cm_ussdantwort(f.zeile, out, sizeof out, &status)) << f.name;
        EXPECT_EQ(f.status, status) << f.name;
        EXPECT_EQ(f.out, out) << f.name;
    }
    for (const char* code : {"*100#", "*104*1234567890123#"})
        EXPECT_TRUE(cm_ussdzulaessig(code)) << code;
    for (const char* code : {"", "*100#\",15\rAT+CFUN=0", "*100#\n", "*1\x7F#"})
        EXPECT_FALSE(cm_ussdzulaessig(code)) << code;
    EXPECT_FALSE(cm_ussdzulaessig(std::string(147, '1').c_str()));
}

TEST(Homezone, OnlyTheBodyOfA2xxAnswerCounts) {
    struct {
        const char* name;
        std::string data;
        const char* homi;
        const char* homo;
        bool web;
        int status;
    } const faelle[] = {
        {"inside", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n<b>homezone=1</b>", "homezone=1",
         "homezone=0", true, 1},
        {"outside wins", "HTTP/1.1 200 OK\r\n\r\nhomezone=1 homezone=0", "homezone=1", "homezone=0",
         true, 2},
        {"header only", "HTTP/1.0 200 OK\r\nX-Zone: homezone=1\r\n\r\nnothing", "homezone=1",
         "homezone=0", true, 0},
        {"status line only", "HTTP/1.0 200 homezone=1\r\n\r\n", "homezone=1", "", true, 0},
        {"not found", "HTTP/1.0 404 Not Found\r\n\r\nhomezone=1", "homezone=1", "", true, 0},
        {"bare line ends", "HTTP/1.0 204 No\n\nhomezone=1", "homezone=1", "", true, 1},
        {"empty patterns", "HTTP/1.0 200 OK\r\n\r\nanything", "", "", true, 0},
        {"USSD text", "Sie sind in Ihrer Homezone.", "in Ihrer Homezone", "nicht in", false, 1},
        {"NUL in the body", std::string("HTTP/1.0 200 OK\r\n\r\n\0zone", 24), "zone", "", true, 1},
    };
    for (const auto& f : faelle)
        EXPECT_EQ(f.status, cm_homezonestatus(f.data.data(), f.data.size(), f.homi, f.homo, f.web))
            << f.name;
}

// Pieces as text: the bytes (control bytes as \xHH), then "|cr", "|R" and "|p<ms>".
std::string stuecke(const char* s, int max = 20) {
    cm_userstueck_t st[20];
    int n = cm_userzerlegen(s, st, max);
    std::string r;
    for (int i = 0; i < n; i++) {
        if (i) r += " / ";
        for (size_t k = 0; k < st[i].laenge; k++) {
            unsigned char c = static_cast<unsigned char>(st[i].text[k]);
            char b[8];
            snprintf(b, sizeof b, c < 0x20 ? "\\x%02X" : "%c", c);
            r += b;
        }
        if (st[i].cr) r += "|cr";
        if (st[i].lesen) r += "|R";
        if (st[i].pause) r += "|p" + std::to_string(st[i].pause);
    }
    return r;
}

TEST(UserCommands, SeparatorsAndEscapes) {
    struct {
        const char* s;
        std::string stuecke;
    } const faelle[] = {
        {"ATZ\\RAT+CMGF=1\\pAT+CSQ", "ATZ|cr|R / AT+CMGF=1|p500 / AT+CSQ|cr"},
        {"AT\\r\\PAT", "AT|cr / |p5000 / AT|cr"},
        {"\\rAT", "|cr / AT|cr"},
        {"a\\\\rb", "a\\rb|cr"},
        {"text\\x1A", "text\\x1A|cr"},
        {"AT\\x1", "AT\\x1|cr"},
        {"AT\\xG1", "AT\\xG1|cr"},
        {"AT\\", "AT|cr"},
        {"\\x00", "\\x00|cr"},
    };
    for (const auto& f : faelle)
        EXPECT_EQ(f.stuecke, stuecke(f.s)) << f.s;
    EXPECT_EQ("a|cr / b|cr", stuecke("a\\rb\\rc", 2));
    EXPECT_EQ(0, cm_userzerlegen(nullptr, nullptr, 5));
}

TEST_F(Calls, UserCommandsReachTheModemInTheirOrderWithTheirPauses) {
    cm_userat("ATI\\r"); // no port open: nothing happens
    EXPECT_FALSE(has(ts_readfile("servilog.txt"), "user-defined"));
    ts_modemsim s;
    ASSERT_TRUE(s.start({"--type", "3", "--nopin"}));
    ASSERT_TRUE(cm_open(s.port.c_str(), false));
    strMcpy(inidat.devi, "\\*ATE0\\RAT+CSQ\\pAT+CGMI\\x0D\\r");
    auto t0 = std::chrono::steady_clock::now();
    cm_userat(nullptr);
    long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count());
    EXPECT_GE(ms, 700);
    EXPECT_LT(ms, 4000);
    usleep(200000);
    std::string tr = s.transcript();
    size_t a = tr.find("< ATE0\\r"), b = tr.find("< AT+CSQ\n"), c = tr.find("< AT+CGMI\\r\\r");
    EXPECT_NE(a, std::string::npos) << tr;
    EXPECT_NE(b, std::string::npos) << tr;
    EXPECT_NE(c, std::string::npos) << tr;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_FALSE(has(tr, "\\*")) << tr;
    std::string log = ts_readfile("servilog.txt");
    EXPECT_TRUE(has(log, "Sending user-defined commands.")) << log;
    EXPECT_TRUE(has(log, "r:  ")) << "the answer after \\R is read and logged";
    EXPECT_TRUE(has(log, "End of user-defined commands.")) << log;
}

// A simulated port and a code that would inject commands send nothing.
TEST_F(Calls, UssdSendsNothingForABadCodeOrASimulatedPort) {
    ASSERT_TRUE(cm_open("NONE", false));
    char t[CM_USSDGROESSE] = "*100#";
    cm_ussdquery(t);
    EXPECT_STREQ("", t);
    cm_close();
    ts_modemsim s;
    ASSERT_TRUE(s.start({"--type", "3", "--nopin"}));
    ASSERT_TRUE(cm_open(s.port.c_str(), false));
    strMcpy(t, "*100#\",15\rAT+CFUN=0\r");
    cm_ussdquery(t);
    EXPECT_STREQ("", t);
    usleep(200000);
    EXPECT_FALSE(has(s.transcript(), "CUSD")) << s.transcript();
    EXPECT_FALSE(has(ts_readfile("servilog.txt"), "CUSD"));
}

} // namespace
