// Prepaid balance, top-up and free USSD codes picked in the real binary's menu under Xvfb,
// against the simulator's USSD answers: answers in every coding reach the service log
// decoded, a modem that refuses plain codes is taught hex, a voucher typed into the code
// dialog fills the top-up template while the main loop goes on reading, codes that become
// an SMS or a device command or that would break the AT command send no USSD, a menu
// session is closed, and a network that never answers ends in the user text.
#include "modem/modemsimulator.h"
#include "smspdutest.h"
#include "tandorrun.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace smspdutest;

// Form digit (offset 28) 1: the normal window, whose menu the runs drive.
const std::string KOPF = "01 0AA000000123-0000000000001-0000043" + std::string(16, '0');

// The menu entries that can be chosen while offline and permitted to connect, counted from
// the top (the title is greyed): the update query, then the three prepaid entries.
enum { GUTHABEN = 2, AUFLADEN = 3, USSDCODE = 4 };

struct PrepaidRun : ModemRun {
    // Offline with a command port of its own (not the single-port case, where the prepaid
    // entries are greyed) and no automatic connection.
    void starte(const std::string& zeilen = "") {
        ts_writefile(dir + "/tandor.ini", KOPF +
                                              "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB0\n"
                                              "CONA=E\nAPN=internet.t-mobile\n" +
                                              zeilen);
        pid = ts_spawn(ts_netzstart(dir, modem.port, ctl, 6), dir + "/stdout.txt");
        ASSERT_TRUE(wartelog("Permitted to connect.", 1, 60000)) << protokolle();
    }
    size_t cusd() { return gesendet("AT+CUSD=1").size(); }
    size_t csq() { return gesendet("AT+CSQ").size(); }
    // The codes the simulator received, decoded, in order.
    std::vector<std::string> codes() {
        std::vector<std::string> r;
        for (const std::string& z : ts_readlines(modem.dir + "/transcript")) {
            size_t p = z.find("USSD code: ");
            if (p != std::string::npos) r.push_back(z.substr(p + 11));
        }
        return r;
    }
    // The code inside the quotes of the n-th AT+CUSD=1 command.
    std::string codefeld(size_t n) {
        std::vector<std::string> z = gesendet("AT+CUSD=1");
        if (n >= z.size()) return "";
        size_t a = z[n].find('"');
        if (a == std::string::npos) return "";
        return z[n].substr(a + 1, z[n].find('"', a + 1) - a - 1);
    }
    // The main window (its title carries the icon codes before the name and version).
    std::string fenster() {
        std::string id =
            ts_output("xdotool search --all --onlyvisible --pid " + std::to_string(pid) +
                      " --name 'tandor [0-9]' 2>/dev/null | head -1");
        while (!id.empty() && id.back() == '\n')
            id.pop_back();
        return id;
    }
    std::set<std::string> fenstermit(const std::string& name) {
        std::set<std::string> s;
        std::istringstream aus(ts_output("xdotool search --all --onlyvisible --pid " +
                                         std::to_string(pid) + " --name '" + name +
                                         "' 2>/dev/null"));
        for (std::string w; aus >> w;)
            s.insert(w);
        return s;
    }
    // Picks the entry of the window's menu that is the n-th to be chosen from the top.
    void menue(int n) {
        std::string w;
        for (int t = 0; t < 50 && (w = fenster()).empty(); t++)
            usleep(100000);
        ASSERT_FALSE(w.empty()) << "no main window";
        ASSERT_TRUE(klick(w, 80, 20, 3));
        usleep(700000);
        std::string k = "xdotool key";
        for (int i = 0; i < n; i++)
            k += " Down";
        ASSERT_EQ(system((k + " Return").c_str()), 0);
    }
    // Waits up to ms for a window of this program whose title matches name; "" if none.
    std::string wartefenster(const std::string& name, long ms) {
        for (long t = 0; t < ms; t += 200, usleep(200000)) {
            std::set<std::string> s = fenstermit(name);
            if (!s.empty()) return *s.begin();
        }
        return "";
    }
    // Closes a box with Return, as a user would, and waits until it is gone; Escape when
    // the key does not reach it.
    bool schliesse(const std::string& w) {
        const std::vector<std::string> wege = {
            "xdotool windowactivate --sync " + w + " key --clearmodifiers Return",
            "xdotool windowfocus --sync " + w + " key --clearmodifiers Return",
            "xdotool key --window " + w + " Escape"};
        for (const std::string& weg : wege) {
            system((weg + " >/dev/null 2>&1").c_str());
            for (int t = 0; t < 20; t++, usleep(100000))
                if (!fenstermit(".*").count(w)) return true;
        }
        return false;
    }
    // The network's answer box: waits for it and closes it.
    void antwortbox(long ms = 30000) {
        std::string w = wartefenster("^tandor +Credit Query$", ms);
        ASSERT_FALSE(w.empty()) << "no answer box\n" << protokolle() << transcript();
        ASSERT_TRUE(schliesse(w)) << "the answer box does not close";
    }
    // Clicks at x, y of window w, placed by its absolute position on the screen (mousemove
    // --window takes the position inside the window manager's frame).
    bool klick(const std::string& w, int x, int y, int knopf) {
        std::string info = ts_output("xwininfo -id " + w);
        size_t px = info.find("Absolute upper-left X:"), py = info.find("Absolute upper-left Y:");
        if (px == std::string::npos || py == std::string::npos) return false;
        x += atoi(info.c_str() + px + 22);
        y += atoi(info.c_str() + py + 22);
        return system(("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
                       " click " + std::to_string(knopf))
                          .c_str()) == 0;
    }
    // Types a code into the code dialog and confirms it: a click into its line gives it
    // the focus, as a user's would.
    void tippe(const std::string& code) {
        std::string w = wartefenster("^tandor .*[Cc]ode$", 15000);
        ASSERT_FALSE(w.empty()) << "no code dialog\n" << protokolle();
        usleep(300000);
        ASSERT_TRUE(klick(w, 180, 16, 1));
        usleep(300000);
        ASSERT_EQ(system(("xdotool type --delay 30 '" + code + "'").c_str()), 0);
        usleep(300000);
        ASSERT_EQ(system("xdotool key Return"), 0);
    }
    // The text that follows the n-th "Answer from network:" in the service log (to the
    // next log line that begins with the tenths counter).
    std::string antwort(int n) {
        std::string log = servilog();
        size_t p = 0;
        for (int i = 0; i < n && p != std::string::npos; i++)
            p = log.find("Answer from network:", i ? p + 1 : 0);
        return p == std::string::npos ? "" : log.substr(p, 400);
    }
    template <class F> bool warte(F bedingung, long ms) {
        for (long t = 0; t < ms; t += 200, usleep(200000))
            if (bedingung()) return true;
        return bedingung();
    }
    void ende() {
        kill(pid, SIGTERM);
        endetsauber(30000);
    }
};

// A modem that takes only hex codes gets the second try in hex, and the next query starts
// in hex; a 7-character code packs without a trailing '@'. Then answers in plain text,
// GSM 7-bit hex and UCS-2 hex each reach the service log decoded (Latin-1: umlauts kept,
// the euro sign as 'E').
TEST_F(PrepaidRun, BalanceAnswersInEveryCodingAndAModemThatWantsHex) {
    modem.control("ussdmode hexonly");
    modem.control("ussdcoding plain");
    modem.control("ussd Hex-Guthaben 1,00 EUR");
    starte("PPQ=*101*1#\n");
    if (HasFatalFailure()) return;

    menue(GUTHABEN);
    ASSERT_TRUE(wartelog("Answer from network:", 1, 45000)) << protokolle() << transcript();
    EXPECT_NE(antwort(1).find("Hex-Guthaben 1,00 EUR"), std::string::npos) << antwort(1);
    antwortbox();
    // Plain first, refused; then hex, which the simulator unpacks to the same code.
    ASSERT_GE(cusd(), 2u) << transcript();
    EXPECT_EQ(codefeld(0), "*101*1#") << transcript();
    std::string hex = codefeld(1);
    EXPECT_TRUE(!hex.empty() && std::all_of(hex.begin(), hex.end(), ::isxdigit)) << hex;
    std::vector<std::string> c = codes();
    ASSERT_FALSE(c.empty()) << transcript();
    EXPECT_EQ(c.back(), "*101*1#") << "a packed 7-character code must not gain an '@'";

    // The next query starts in hex.
    size_t vorher = cusd();
    menue(GUTHABEN);
    ASSERT_TRUE(wartelog("Answer from network:", 2, 30000)) << protokolle() << transcript();
    antwortbox();
    ASSERT_EQ(cusd(), vorher + 1) << transcript();
    hex = codefeld(vorher);
    EXPECT_TRUE(!hex.empty() && std::all_of(hex.begin(), hex.end(), ::isxdigit)) << hex;

    // A modem that takes both: every coding of the answer, decoded.
    modem.control("ussdmode normal");
    struct Fall {
        const char* coding;
        std::string text, imlog;
    };
    const std::vector<Fall> faelle = {
        {"plain", "Konto 7,50 Euro. Danke schön", "Konto 7,50 Euro. Danke sch\xF6n"},
        {"gsm7", "Ihr Guthaben: 12,34 EUR, gültig bis 31.12.",
         "Ihr Guthaben: 12,34 EUR, g\xFCltig bis 31.12."},
        {"ucs2", "Guthaben: 5,00 € für Jürgen", "Guthaben: 5,00 E f\xFCr J\xFCrgen"},
    };
    int n = 2;
    for (const Fall& f : faelle) {
        SCOPED_TRACE(f.coding);
        modem.control(std::string("ussdcoding ") + f.coding);
        modem.control("ussd " + f.text);
        menue(GUTHABEN);
        ASSERT_TRUE(wartelog("Answer from network:", ++n, 30000)) << protokolle() << transcript();
        EXPECT_NE(antwort(n).find(f.imlog), std::string::npos) << antwort(n);
        antwortbox();
    }
    ende();
}

// A voucher typed into the code dialog fills the top-up template. While the dialog waits
// for the user, the main loop goes on reading the signal.
TEST_F(PrepaidRun, AVoucherTypedIntoTheDialogIsSentInTheTemplateWhileTheLoopGoesOn) {
    modem.control("ussd Aufladung erfolgreich");
    starte();
    if (HasFatalFailure()) return;
    menue(AUFLADEN);
    ASSERT_FALSE(wartefenster("^tandor .*[Cc]ode$", 15000).empty()) << protokolle();
    size_t signal = csq();
    sleep(8);
    EXPECT_GE(csq(), signal + 2) << "the loop stands while the dialog is open\n" << transcript();
    EXPECT_EQ(cusd(), 0u);
    tippe("1234567890123");
    ASSERT_TRUE(wartelog("Answer from network:", 1, 30000)) << protokolle() << transcript();
    EXPECT_NE(antwort(1).find("Aufladung erfolgreich"), std::string::npos) << antwort(1);
    antwortbox();
    std::vector<std::string> c = codes();
    ASSERT_EQ(c.size(), 1u) << transcript();
    EXPECT_EQ(c[0], "*104*1234567890123#");
    ende();
}

// Free codes: one that becomes an SMS goes to the outbox as an international number, one
// without text and a device command send no USSD, a code with a double quote sends nothing
// and tells the user.
TEST_F(PrepaidRun, FreeCodesBecomeAnSmsOrADeviceCommandAndAQuoteIsRefused) {
    starte();
    if (HasFatalFailure()) return;

    menue(USSDCODE);
    tippe("SMS:+4912345 hello");
    ASSERT_TRUE(warte([&] { return !ts_readlines(modem.dir + "/outbox").empty(); }, 20000))
        << protokolle() << transcript();
    Submit s = lies(ts_readlines(modem.dir + "/outbox").at(0));
    EXPECT_EQ(s.typ, 0x91);
    EXPECT_EQ(s.nummer, "4912345");
    EXPECT_EQ(s.text, "hello");

    // Without text: the parse ends at the digits (the ASan build reads nothing past them).
    menue(USSDCODE);
    tippe("SMS:+4912345");
    sleep(4);

    // The program keeps a frontend record, so the device command runs by hand: AT+CSQ goes
    // out and its answer is shown.
    size_t signal = gesendet("AT+CSQ").size();
    menue(USSDCODE);
    tippe("DEVICE:500:2000:AT+CSQ");
    ASSERT_TRUE(wartelog("External device command:", 1, 20000)) << protokolle();
    antwortbox();
    EXPECT_GT(gesendet("AT+CSQ").size(), signal);

    // A quote would end the AT command: nothing goes out, a box tells the user.
    std::string haupt = fenster();
    menue(USSDCODE);
    tippe("*100\"#");
    std::string box;
    ASSERT_TRUE(warte(
        [&] {
            for (const std::string& w : fenstermit("^tandor"))
                if (w != haupt) box = w;
            return !box.empty();
        },
        20000))
        << "no user text\n"
        << protokolle();
    EXPECT_TRUE(schliesse(box));
    EXPECT_EQ(cusd(), 0u) << transcript();
    EXPECT_TRUE(codes().empty()) << transcript();
    ende();
}

// A menu answer (status 1) is closed with AT+CUSD=2, so the next query is answered. A
// network that never answers ends in the user text, and the loop reads on afterwards.
TEST_F(PrepaidRun, AMenuSessionIsClosedAndASilentNetworkEndsInTheUserText) {
    modem.control("ussdmode menu");
    modem.control("ussddelay 500");
    modem.control("ussd 1 Guthaben 2 Tarif");
    starte();
    if (HasFatalFailure()) return;
    for (int n = 1; n <= 2; n++) {
        SCOPED_TRACE("query " + std::to_string(n));
        menue(GUTHABEN);
        ASSERT_TRUE(wartelog("Answer from network:", n, 30000)) << protokolle() << transcript();
        EXPECT_NE(antwort(n).find("1 Guthaben 2 Tarif"), std::string::npos) << antwort(n);
        antwortbox();
        EXPECT_EQ(gesendet("AT+CUSD=2").size(), size_t(n)) << transcript();
    }
    // Each AT+CUSD=2 follows the query it closes, before the next one.
    std::string t = transcript();
    size_t zu = t.find("< AT+CUSD=2"), zweite = t.find("< AT+CUSD=1", t.find("< AT+CUSD=1") + 1);
    EXPECT_LT(zu, zweite) << t;

    modem.control("ussdmode silent");
    menue(GUTHABEN);
    ASSERT_TRUE(wartelog("Credit communication not possible at the moment.", 1, 45000))
        << protokolle() << transcript();
    antwortbox();
    size_t signal = csq();
    EXPECT_TRUE(warte([&] { return csq() >= signal + 2; }, 10000)) << "the loop does not go on\n"
                                                                   << transcript();
    ende();
}

} // namespace
