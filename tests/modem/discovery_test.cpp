// Modem discovery and initialisation against the modem simulator: identification of
// every personality, the SIM unlock with all its outcomes, the by-id port discovery and
// the radio-mode commands.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/helpers.h"
#include "core/programstate.h"
#include "core/system.h"
#include "modem/atexchange.h"
#include "modem/discovery.h"
#include "modemsimulator.h"
#include "testsupport.h"

namespace {

using Sim = ts_modemsim;

class Discovery : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ts_workdir().empty());
        ps_resetinidat();
        inidat.mod['P'] = 1;
        comzeit = 20;
        geraet = 0;
        linksys = false;
        _silentinstall = true;
        programmende_gewuenscht = false;
        cm_ini();
    }
    void TearDown() override {
        cm_end();
        sy_setclock(SY_CLOCK_REAL);
        sy_setpath(SY_SERIALBYID, nullptr);
    }
    // Starts the simulator and points the command port at it.
    void starte(Sim& s, std::vector<std::string> args) {
        ASSERT_TRUE(s.start(args));
        strMcpy(inidat.com1, s.port.c_str());
    }
    std::string servilog() { return ts_readfile("servilog.txt"); }
};

TEST_F(Discovery, IdentifiesEveryPersonalityAndSetsTheWait) {
    struct {
        int typ, zeit;
    } const faelle[] = {{1, 150}, {2, 150}, {3, 50}, {4, 50},   {5, 50},
                        {6, 50},  {7, 50},  {8, 50}, {11, 150}, {12, 150}};
    for (const auto& f : faelle) {
        Sim s;
        starte(s, {"--type", std::to_string(f.typ), "--nopin"});
        ASSERT_TRUE(cm_open(inidat.com1, false));
        geraet = 0;
        comzeit = 20;
        de_identify();
        EXPECT_EQ(geraet, f.typ) << f.typ;
        EXPECT_EQ(comzeit, f.zeit) << f.typ;
        EXPECT_EQ(novatelu740, f.typ == 2) << f.typ; // the simulated Novatel is a U740
        cm_close();
    }
    // the manual device type overrides the answer
    Sim s;
    starte(s, {"--type", "3", "--nopin"});
    inidat.mangeraet = 7;
    de_identify();
    EXPECT_EQ(geraet, 7);
    EXPECT_NE(servilog().find("Device type overwritten manually with: 7"), std::string::npos);
    EXPECT_EQ(servilog().find("353142012345674"), std::string::npos); // IMEI stays masked
}

TEST_F(Discovery, ClassifiesAnswersInOrderIgnoringCase) {
    EXPECT_EQ(de_geraetausati("Manufacturer: huawei"), 3);
    EXPECT_EQ(de_geraetausati("Dell Wireless D5530 HSDPA"), 2); // Novatel test comes first
    EXPECT_EQ(de_geraetausati("ericsson f3507g"), 5);
    EXPECT_EQ(de_geraetausati("Sony Ericsson K800i"), 11);
    EXPECT_EQ(de_geraetausati("zte incorporated"), 8);
    EXPECT_EQ(de_geraetausati("Acme modem"), 0);
}

TEST_F(Discovery, UnlocksWithTheRightPinAndReportsReadyAndMissingSim) {
    {
        Sim s;
        starte(s, {"--type", "3", "--nopin"});
        EXPECT_EQ(de_inipin(0), DE_BEREIT);
        EXPECT_EQ(ts_count(s.transcript(), "CPIN="), 0);
        EXPECT_EQ(lac[0], 0); // location report switched on: still to be read
        EXPECT_NE(s.transcript().find("AT+COPS=3,0"), std::string::npos);
        // the cycle is done: a second call at start does nothing
        size_t n = s.transcript().size();
        EXPECT_EQ(de_inipin(0), DE_BEREIT);
        EXPECT_EQ(s.transcript().size(), n);
        cm_close();
    }
    {
        Sim s;
        starte(s, {"--type", "1", "--pin", "4711"});
        strMcpy(inidat.pin, "4711");
        EXPECT_EQ(de_inipin(1), DE_BEREIT);
        EXPECT_EQ(ts_count(s.transcript(), "AT+CPIN=4711"), 1);
        EXPECT_EQ(servilog().find("4711"), std::string::npos); // never logged
        cm_close();
    }
    {
        Sim s;
        starte(s, {"--type", "5", "--pin", "4711"});
        strMcpy(inidat.pin, "4711");
        EXPECT_EQ(de_inipin(1), DE_BEREIT); // type 5 quotes the PIN
        EXPECT_EQ(ts_count(s.transcript(), "AT+CPIN=\\\"4711\\\"") +
                      ts_count(s.transcript(), "AT+CPIN=\"4711\""),
                  1);
        cm_close();
    }
    {
        Sim s;
        starte(s, {"--type", "3", "--nosim"});
        EXPECT_EQ(de_inipin(2), DE_KEINESIM);
        cm_close();
    }
    strMcpy(inidat.com1, "/nonexistent/ttyUSB7");
    EXPECT_EQ(de_inipin(1), DE_KEINPORT);
}

TEST_F(Discovery, NeverSendsARejectedOrInvalidPinAgain) {
    Sim s;
    starte(s, {"--type", "3", "--pin", "1234"});
    // no PIN configured, silent installation: no dialog, nothing sent
    EXPECT_EQ(de_inipin(1), DE_PINFEHLT);
    EXPECT_EQ(ts_count(s.transcript(), "CPIN="), 0);
    // a PIN with other characters than digits is not sent
    strMcpy(inidat.pin, "12a4");
    EXPECT_EQ(de_inipin(1), DE_PINFALSCH);
    EXPECT_EQ(ts_count(s.transcript(), "CPIN="), 0);
    // a wrong PIN is sent exactly once, whatever the later calls
    strMcpy(inidat.pin, "9999");
    EXPECT_EQ(de_inipin(1), DE_PINFALSCH);
    EXPECT_EQ(de_inipin(2), DE_PINFALSCH);
    inicounterglobal++;
    EXPECT_EQ(de_inipin(0), DE_PINFALSCH);
    EXPECT_EQ(ts_count(s.transcript(), "CPIN=9999"), 1);
    EXPECT_EQ(ts_count(s.transcript(), "CPIN="), 1);
    // the right PIN still works: the SIM was not locked
    strMcpy(inidat.pin, "1234");
    EXPECT_EQ(de_inipin(2), DE_BEREIT);
}

// Answers to AT+CPIN? and AT+CPIN= as modems send them.
const std::string READY = "\r\n+CPIN: READY\r\n\r\nOK\r\n",
                  SIMPIN = "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n",
                  SIMPUK = "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n", OK = "\r\nOK\r\n",
                  ERR = "\r\nERROR\r\n", BUSY14 = "\r\n+CME ERROR: 14\r\n",
                  BUSYTEXT = "\r\n+CME ERROR: SIM busy\r\n", CME16 = "\r\n+CME ERROR: 16\r\n",
                  FALSCH = "\r\n+CME ERROR: incorrect password\r\n",
                  NOSIM = "\r\n+CME ERROR: 10\r\n", STILL = "";

TEST(SimAnswers, StateOfTheSimFromAtCpinQuery) {
    struct {
        std::string antwort;
        int lage;
    } const faelle[] = {
        {READY, DE_SIM_BEREIT},
        {"\r\n+CPIN: SIM PIN2\r\n\r\nOK\r\n", DE_SIM_BEREIT},
        {"AT+CPIN?\r\r\n+CPIN:READY\r\n", DE_SIM_BEREIT}, // echo on, OK still to come
        {SIMPIN, DE_SIM_PIN},
        {"\r\n+CPIN: SIM PIN\r\n", DE_SIM_PIN}, // the OK in the next packet
        {"\r\n+CME ERROR: SIM PIN required\r\n", DE_SIM_PIN},
        {SIMPUK, DE_SIM_PUK},
        {"\r\n+CME ERROR: 12\r\n", DE_SIM_PUK},
        {BUSY14, DE_SIM_WARTEN},
        {BUSYTEXT, DE_SIM_WARTEN},
        {"\r\n+CME ERROR: sim BUSY\r\n", DE_SIM_WARTEN},
        {STILL, DE_SIM_WARTEN},
        {"AT+CPIN?\r", DE_SIM_WARTEN},  // only the echo: the answer is late
        {"\r\n+CPIN: ", DE_SIM_WARTEN}, // cut off
        {ERR, DE_SIM_FEHLER},
        {NOSIM, DE_SIM_FEHLT},
        {"\r\n+CME ERROR: 140\r\n", DE_SIM_FEHLT}, // not 14
        {"\r\n+CME ERROR: SIM not inserted\r\n", DE_SIM_FEHLT},
    };
    for (const auto& f : faelle)
        EXPECT_EQ(de_simlage(f.antwort.c_str()), f.lage) << f.antwort;
}

TEST(SimAnswers, VerdictOnACodeFromBothAnswers) {
    enum { A = DE_CODE_ANGENOMMEN, X = DE_CODE_ABGELEHNT, U = DE_CODE_PUK, W = DE_CODE_WARTEN };
    struct {
        std::string code, abfrage;
        bool puk;
        int urteil;
    } const faelle[] = {
        // turned down: an error other than busy, and the SIM still asks
        {ERR, SIMPIN, false, X},
        {CME16, SIMPIN, false, X},
        {FALSCH, SIMPIN, false, X},
        {"\r\n+CME ERROR: 3\r\n", SIMPIN, false, X},
        // the third wrong PIN: the SIM asks for its PUK
        {FALSCH, SIMPUK, false, U},
        {STILL, SIMPUK, false, U},
        // accepted, whatever the code's answer was
        {OK, READY, false, A},
        {STILL, READY, false, A},
        {ERR, READY, false, A},
        // no verdict: the SIM did not look at the code, or its answers are missing
        {BUSY14, SIMPIN, false, W},
        {BUSYTEXT, SIMPIN, false, W},
        {STILL, SIMPIN, false, W},
        {OK, SIMPIN, false, W},
        {ERR, BUSY14, false, W},
        {ERR, STILL, false, W},
        {ERR, ERR, false, W},
        // PUK and new PIN
        {OK, READY, true, A},
        {CME16, SIMPUK, true, X},
        {STILL, SIMPUK, true, W},
        {ERR, SIMPIN, true, W},
    };
    for (const auto& f : faelle)
        EXPECT_EQ(de_codeurteil(f.code.c_str(), f.abfrage.c_str(), f.puk), f.urteil)
            << f.code << " / " << f.abfrage << (f.puk ? " (PUK)" : "");
}

// A modem on a pseudo-terminal whose answers to AT+CPIN? and AT+CPIN= come from two lists:
// each command takes the next answer of its list and the last one repeats; "" sends
// nothing. Every other command gets OK.
struct SkriptModem {
    std::vector<std::string> frage, code;
    std::string port;
    std::atomic<int> fragen{0}, codes{0};

    bool start() {
        char name[256];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        port = name;
        leser = std::thread([this] { lauf(); });
        return true;
    }
    ~SkriptModem() {
        ende = true;
        if (leser.joinable()) leser.join();
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }

  private:
    int master = -1, slave = -1; // the slave stays open so that the master never reads EIO
    std::atomic<bool> ende{false};
    std::thread leser;

    static const std::string& naechste(const std::vector<std::string>& l, int i) {
        return l[std::min<size_t>(static_cast<size_t>(i), l.size() - 1)];
    }
    void lauf() {
        std::string zeile;
        while (!ende) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char b[256];
            ssize_t n = read(master, b, sizeof b);
            for (ssize_t i = 0; i < n; i++) {
                if (b[i] != '\r') {
                    zeile += b[i];
                    continue;
                }
                std::string a = OK;
                if (zeile == "AT+CPIN?" && !frage.empty())
                    a = naechste(frage, fragen++);
                else if (zeile.rfind("AT+CPIN=", 0) == 0 && !code.empty())
                    a = naechste(code, codes++);
                zeile.clear();
                if (!a.empty() && write(master, a.data(), a.size()) < 0) return;
            }
        }
    }
};

TEST_F(Discovery, SimUnlockRetriesASilentOrBusySimAndErasesNothingItDidNotReject) {
    // The waits run on the virtual clock; the 20 s of patience pass at once while every
    // answer still takes its real way through the port.
    struct {
        const char* pin; // each row its own PIN: a rejected one is never sent again
        std::vector<std::string> frage, code;
        int ergebnis, gesendet;
    } const faelle[] = {
        {"1001", {READY}, {}, DE_BEREIT, 0},
        // busy after switching on, then busy again after the accepted PIN
        {"1002", {BUSY14, BUSY14, SIMPIN, BUSYTEXT, READY}, {OK}, DE_BEREIT, 1},
        // a modem without +CMEE says busy as plain ERROR
        {"1003", {ERR, ERR, SIMPIN, ERR, READY}, {OK}, DE_BEREIT, 1},
        // silent answers before and after the code
        {"1004", {STILL, SIMPIN, STILL, READY}, {OK}, DE_BEREIT, 1},
        // a busy SIM has not looked at the code: it is sent again
        {"1005", {SIMPIN, READY}, {BUSY14, OK}, DE_BEREIT, 2},
        // a silent code answer is not a rejection when the SIM is ready then
        {"1006", {SIMPIN, READY}, {STILL}, DE_BEREIT, 1},
        // turned down in each form, and the third time into the PUK
        {"1007", {SIMPIN}, {ERR}, DE_PINFALSCH, 1},
        {"1008", {SIMPIN}, {CME16}, DE_PINFALSCH, 1},
        {"1009", {SIMPIN, SIMPIN}, {FALSCH}, DE_PINFALSCH, 1},
        {"1010", {SIMPIN, SIMPUK}, {FALSCH}, DE_PUKNOETIG, 1},
        // an error, then busy to the end: no verdict, the modem does not respond
        {"1011", {SIMPIN, BUSY14}, {ERR}, DE_STUMM, 1},
        // the code taken, the SIM still asking to the end: not a wrong PIN either
        {"1012", {SIMPIN}, {OK}, DE_STUMM, 1},
        // busy before the code to the end: nothing sent
        {"1013", {BUSY14}, {}, DE_STUMM, 0},
        // a plain ERROR that never ends is a missing SIM; a named error is one at once
        {"1014", {ERR}, {}, DE_KEINESIM, 0},
        {"1015", {NOSIM}, {}, DE_KEINESIM, 0},
    };
    for (const auto& f : faelle) {
        SCOPED_TRACE(f.pin);
        SkriptModem m;
        m.frage = f.frage;
        m.code = f.code;
        ASSERT_TRUE(m.start());
        strMcpy(inidat.com1, m.port.c_str());
        strMcpy(inidat.pin, f.pin);
        sy_setclock(SY_CLOCK_AUTO, 1700000000);
        long long t0 = sy_monotonicms();
        EXPECT_EQ(de_inipin(2), f.ergebnis);
        long long dauer = sy_monotonicms() - t0;
        sy_setclock(SY_CLOCK_REAL);
        EXPECT_EQ(m.codes.load(), f.gesendet);
        EXPECT_STREQ(inidat.pin, f.pin); // de_inipin itself never erases a PIN
        if (f.ergebnis == DE_STUMM) {
            // asked about once a second for 20 s
            EXPECT_GE(dauer, 20000);
            EXPECT_LE(dauer, 23000);
            EXPECT_GE(m.fragen.load(), 16);
            EXPECT_LE(m.fragen.load(), 24);
        } else if (f.ergebnis != DE_KEINESIM) {
            EXPECT_LT(dauer, 8000);
        }
        cm_close();
    }
}

TEST_F(Discovery, ACodeWithoutVerdictIsNotSentAgainWhileTheSimAsks) {
    SkriptModem m;
    m.frage = {SIMPIN};
    m.code = {STILL};
    ASSERT_TRUE(m.start());
    strMcpy(inidat.com1, m.port.c_str());
    strMcpy(inidat.pin, "2001");
    sy_setclock(SY_CLOCK_AUTO, 1700000000);
    EXPECT_EQ(de_inipin(2), DE_STUMM);
    EXPECT_EQ(de_inipin(2), DE_STUMM);
    EXPECT_EQ(m.codes.load(), 1);
    cm_close();
    // another PIN in the configuration is a new try
    SkriptModem n;
    n.frage = {SIMPIN, READY};
    n.code = {OK};
    ASSERT_TRUE(n.start());
    strMcpy(inidat.com1, n.port.c_str());
    strMcpy(inidat.pin, "2002");
    EXPECT_EQ(de_inipin(2), DE_BEREIT);
    EXPECT_EQ(n.codes.load(), 1);
    sy_setclock(SY_CLOCK_REAL);
}

TEST_F(Discovery, PortPreparationClearsOnlyACodeTheSimTurnedDown) {
    struct {
        const char* pin;
        std::vector<std::string> frage, code;
        const char* bleibt;
        int ergebnis;
    } const faelle[] = {
        {"3001", {BUSY14}, {}, "3001", 0},         // busy to the end: kept
        {"3002", {SIMPIN}, {STILL}, "3002", 0},    // no verdict: kept
        {"3003", {SIMPIN}, {CME16}, "", 0},        // turned down: cleared
        {"3004", {SIMPIN, READY}, {OK}, "3004", 1} // accepted
    };
    for (const auto& f : faelle) {
        SCOPED_TRACE(f.pin);
        SkriptModem m;
        m.frage = f.frage;
        m.code = f.code;
        ASSERT_TRUE(m.start());
        strMcpy(inidat.pin, f.pin);
        char port[300];
        strMcpy(port, m.port.c_str());
        sy_setclock(SY_CLOCK_AUTO, 1700000000);
        EXPECT_EQ(de_portini(port), f.ergebnis);
        sy_setclock(SY_CLOCK_REAL);
        EXPECT_STREQ(inidat.pin, f.bleibt);
        cm_close();
    }
}

TEST_F(Discovery, PukUnlockSendsPukAndNewPin) {
    Sim s;
    starte(s, {"--type", "3", "--nopin"});
    s.control("sim puk");
    strMcpy(inidat.pin, "1234");
    EXPECT_EQ(de_inipin(2), DE_PUKNOETIG); // no comma: no PUK given
    EXPECT_EQ(ts_count(s.transcript(), "CPIN="), 0);
    strMcpy(inidat.pin, "11111111,4321");
    EXPECT_EQ(de_inipin(2), DE_PUKFALSCH);
    strMcpy(inidat.pin, "12345678,4321");
    EXPECT_EQ(de_inipin(2), DE_PINFEHLT);
    EXPECT_EQ(inidat.pin[0], 0);
    std::string t = s.transcript();
    EXPECT_TRUE(t.find("AT+CPIN=\\\"12345678\\\",\\\"4321\\\"") != std::string::npos ||
                t.find("AT+CPIN=\"12345678\",\"4321\"") != std::string::npos)
        << t;
    EXPECT_EQ(servilog().find("12345678"), std::string::npos);
    // the new PIN is the SIM's PIN now
    inidat.pin[0] = 0;
    EXPECT_EQ(de_inipin(2), DE_BEREIT);
}

TEST_F(Discovery, FindsPortsThroughTheByIdNames) {
    std::string d = ts_scratchdir() + "/serial/by-id";
    ASSERT_TRUE(dir_create((ts_scratchdir() + "/serial").c_str()) || true);
    std::string basis = d.substr(0, d.rfind('/'));
    ASSERT_EQ(system(("mkdir -p '" + d + "'").c_str()), 0);
    std::string h = d + "/usb-HUAWEI_Technology_HUAWEI_Mobile-";
    for (const char* n : {"if02-port0", "if01-port0", "if00-port0"})
        ASSERT_EQ(symlink("/dev/null", (h + n).c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", (d + "/usb-Acme_Mouse-if00").c_str()), 0);
    sy_setpath(SY_SERIALBYID, d.c_str());
    char name[30];
    de_getcomport(name);
    EXPECT_EQ(std::string(inidat.com1), h + "if02-port0"); // prio 23 beats 22
    EXPECT_EQ(std::string(inidat.con), h + "if00-port0");
    EXPECT_EQ(geraet, 3);
    EXPECT_STREQ(name, "Huawei");
    EXPECT_NE(servilog().find("Device has not been selected."), std::string::npos);
    EXPECT_NE(servilog().find("System device list:"), std::string::npos);
    EXPECT_NE(servilog().find("  usb-Acme_Mouse-if00"), std::string::npos);
    // a port fixed by the user is the only command port taken
    ps_resetinidat();
    inidat.mod['P'] = 1;
    strMcpy(inidat.com1, (h + "if01-port0").c_str());
    de_getcomport(nullptr);
    EXPECT_EQ(std::string(inidat.com1), h + "if01-port0");
    EXPECT_NE(servilog().find("as primary, manually"), std::string::npos);
    EXPECT_NE(servilog().find("not selected because of prio 23"), std::string::npos);
    // no by-id directory: the configured ports stay
    sy_setpath(SY_SERIALBYID, (basis + "/missing/by-id").c_str());
    strMcpy(inidat.con, "/dev/ttyACM0");
    de_getcomport(nullptr);
    EXPECT_STREQ(inidat.con, "/dev/ttyACM0");
}

TEST_F(Discovery, SetsTheRadioModeWithTheMakersCommand) {
    EXPECT_TRUE(de_iniopmode(9, 0));
    EXPECT_FALSE(de_iniopmode(5, 0));
    struct {
        int typ, ba;
        const char* befehl;
    } const faelle[] = {{3, 1, "AT^SYSCFG=13,1,3FFFFFFF,1,1"},
                        {1, 4, "AT_OPSYS=3,2"},
                        {2, 2, "AT$NWRAT=2,2"},
                        {4, 3, "AT!SELRAT=04"},
                        {5, 1, "AT+CFUN=5"},
                        {8, 4, "AT+ZSNT=0,0,2"}};
    for (const auto& f : faelle) {
        Sim s;
        starte(s, {"--type", std::to_string(f.typ), "--nopin"});
        ASSERT_TRUE(cm_open(inidat.com1, false));
        geraet = f.typ;
        de_iniopmode(f.ba, 0);
        EXPECT_NE(s.transcript().find(f.befehl), std::string::npos) << f.befehl << "\n"
                                                                    << s.transcript();
        cm_close();
    }
    geraet = 11; // outside 1..9: nothing to do
    EXPECT_TRUE(de_iniopmode(1, 2));
}

} // namespace
