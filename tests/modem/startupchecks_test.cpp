// The start-up checks against the modem simulator: the port search of COM=?, the secondary
// port, the SIM states with their hints, the network list and the APN asked from the modem,
// and the service log that grew too large.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "config/inifile.h"
#include "core/helpers.h"
#include "core/programstate.h"
#include "core/system.h"
#include "modem/atexchange.h"
#include "modem/discovery.h"
#include "modem/startupchecks.h"
#include "modemsimulator.h"
#include "testsupport.h"

namespace {

using Sim = ts_modemsim;

std::vector<std::string> statustexte, boxen;

class StartChecks : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ts_workdir().empty());
        ps_resetinidat();
        inidat.mod['P'] = 1;
        inidat.funktion = 9;
        comzeit = 20;
        geraet = 0;
        linksys = false;
        programmende_gewuenscht = false;
        secportmanuell = false;
        _silentinstall = true; // no PIN dialog without a display
        cm_ini();
        statustexte.clear();
        ps_hooks.statustext = [](const char* t, const char*) { statustexte.push_back(t); };
        boxen.clear();
        ps_hooks.messagebox = [](const char* titel, const char*, int, int) {
            boxen.push_back(titel);
            return 1;
        };
        // An empty by-id root: the discovery finds nothing by name.
        sy_setpath(SY_SERIALBYID, (ts_workdir() + "/by-id").c_str());
    }
    void TearDown() override {
        cm_end();
        ps_hooks.statustext = nullptr;
        ps_hooks.messagebox = nullptr;
        sy_setclock(SY_CLOCK_REAL);
        sy_setpath(SY_SERIALBYID, nullptr);
        sy_setpath(SY_TTYUSB, nullptr);
    }
    bool gezeigt(const std::string& t) {
        for (const auto& s : statustexte)
            if (s.find(t) != std::string::npos) return true;
        return false;
    }
    // Status texts stand for seconds; where no modem answers, the virtual clock lets them
    // pass at once. A modem exchange needs the real clock: its waits give the modem the time
    // to answer before the next command.
    void virtuell() { sy_setclock(SY_CLOCK_AUTO); }
    int pruefe(bool& neu) {
        neu = false;
        return iv_startchecks(&neu, false);
    }
};

TEST(SecondaryPort, IsTheCommandPortWithItsLastNumberIncreased) {
    struct {
        const char* com1;
        const char* com2;
    } const faelle[] = {
        {"/dev/ttyUSB2", "/dev/ttyUSB3"},
        {"/dev/ttyUSB9", "/dev/ttyUSB10"},
        {"/dev/ttyUSB19", "/dev/ttyUSB20"},
        {"/dev/ttyUSB99", "/dev/ttyUSB100"},
        {"/dev/serial/by-id/usb-HUAWEI_Mobile-if01-port0",
         "/dev/serial/by-id/usb-HUAWEI_Mobile-if01-port1"},
        {"COM3", "COM4"},
        {"NONE", "NONE"},
    };
    for (const auto& f : faelle) {
        char com2[300];
        iv_zweitport(f.com1, com2, sizeof com2);
        EXPECT_STREQ(com2, f.com2) << f.com1;
    }
    // A carry that does not fit keeps the text whole and terminated.
    char klein[5];
    iv_zweitport("ab99", klein, sizeof klein);
    EXPECT_EQ(strlen(klein), 4u);
}

TEST(NetworkList, TakesEachQuotedNameOnceFromTheScan) {
    char liste[60] = "?";
    // A scan as a UMTS stick gives it: one operator twice (two radio technologies), a
    // forbidden one, the trailing lists of modes and formats.
    const char* scan =
        "\r\n+COPS: (2,\"T-Mobile D\",\"TMO D\",\"26201\",2),(3,\"o2 - de\",\"o2 - de\","
        "\"26207\",2),(1,\"T-Mobile D\",\"TMO D\",\"26201\",0),(1,\"Vodafone.de\","
        "\"Vodafone\",\"26202\",0),,(0,1,2,3,4),(0,1,2)\r\n\r\nOK\r\n";
    EXPECT_EQ(iv_netzliste(scan, liste, sizeof liste), 3);
    EXPECT_STREQ(liste, "?;T-Mobile D;o2 - de;Vodafone.de");
    // Names too long, holding the separator or cut off are not taken; the list stays bounded.
    char eng[20] = "?";
    EXPECT_EQ(
        iv_netzliste("+COPS: (2,\"A;B\",\"x\",\"1\",2),(1,\"abcdefghijklmnopqrstuvwxyz12345\","
                     "\"x\"),(1,\"Netz Eins\",\"x\"),(1,\"Netz Zwei\",\"x\"),(1,\"cut",
                     eng, sizeof eng),
        1);
    EXPECT_STREQ(eng, "?;Netz Eins");
    EXPECT_EQ(iv_netzliste(nullptr, eng, sizeof eng), 0);
}

TEST(Apn, ComesFromTheOperatorCode) {
    EXPECT_STREQ(iv_apnausplmn("26201"), "internet.t-mobile");
    EXPECT_STREQ(iv_apnausplmn("26202"), "web.vodafone.de");
    EXPECT_STREQ(iv_apnausplmn("26203"), "internet.eplus.de");
    EXPECT_STREQ(iv_apnausplmn("26207"), "internet");
    EXPECT_EQ(iv_apnausplmn("23415"), nullptr);
    EXPECT_EQ(iv_apnausplmn("2620"), nullptr);
}

TEST_F(StartChecks, PortSearchFindsALowerCaseHuaweiAndDerivesTheSecondPort) {
    // Ten ports /dev/ttyUSB9..0: two other modems first, then the Huawei stick, which
    // answers "Manufacturer: huawei" in lower case; the ports below it are never asked.
    std::string dev = ts_workdir() + "/dev";
    ASSERT_EQ(mkdir(dev.c_str(), 0700), 0);
    std::vector<std::unique_ptr<Sim>> sims;
    const char* typen[] = {"11", "6", "3"};
    for (int i = 0; i < 3; i++) {
        sims.push_back(std::make_unique<Sim>());
        ASSERT_TRUE(sims.back()->start({"--type", typen[i], "--nopin"}));
        std::string link = dev + "/ttyUSB" + std::to_string(9 - i);
        ASSERT_EQ(symlink(sims.back()->port.c_str(), link.c_str()), 0);
    }
    Sim unten;
    ASSERT_TRUE(unten.start({"--type", "3", "--nopin"}));
    for (int i = 6; i >= 0; i--)
        ASSERT_EQ(symlink(unten.port.c_str(), (dev + "/ttyUSB" + std::to_string(i)).c_str()), 0);
    sy_setpath(SY_TTYUSB, (dev + "/ttyUSB").c_str());
    strMcpy(inidat.comport, "?");
    strMcpy(inidat.apn, "web.example");
    bool neu;
    int r = pruefe(neu);
    EXPECT_EQ(r, 1) << "a found port is to be reviewed: incomplete";
    EXPECT_TRUE(neu);
    EXPECT_EQ(std::string(inidat.com1), dev + "/ttyUSB7");
    EXPECT_EQ(std::string(inidat.com2), dev + "/ttyUSB8");
    EXPECT_EQ(std::string(inidat.comport), dev + "/ttyUSB7;" + dev + "/ttyUSB8");
    EXPECT_TRUE(gezeigt("+Searching COM-port: " + dev + "/ttyUSB9"));
    EXPECT_TRUE(gezeigt("+COM-port has been entered."));
    EXPECT_TRUE(gezeigt("+Review COM-port in file \"tandor.ini\"!"));
    EXPECT_EQ(unten.transcript().find("ATI"), std::string::npos) << "searched past the find";
    EXPECT_EQ(geraet, 3);
}

TEST_F(StartChecks, PortSearchWithoutAModemLeavesAHint) {
    virtuell();
    sy_setpath(SY_TTYUSB, (ts_workdir() + "/none/ttyUSB").c_str());
    strMcpy(inidat.comport, "?");
    strMcpy(inidat.apn, "web.example");
    bool neu;
    EXPECT_EQ(pruefe(neu), 1);
    EXPECT_EQ(inidat.hinweisk, '3');
    EXPECT_STREQ(inidat.hinweis, "Enter COM-port in line COM (see below)!");
    EXPECT_TRUE(gezeigt(" COM-Port not found."));
    EXPECT_STREQ(inidat.comport, "?") << "the search stays asked for";
}

TEST_F(StartChecks, FixedPortNamesAndTheSemicolonForm) {
    Sim s;
    ASSERT_TRUE(s.start({"--type", "3", "--nopin"}));
    std::string wert = s.port + ";" + s.port;
    strMcpy(inidat.comport, wert.c_str());
    strMcpy(inidat.apn, "web.example");
    bool neu;
    EXPECT_EQ(pruefe(neu), 0);
    EXPECT_FALSE(neu);
    EXPECT_EQ(std::string(inidat.com1), s.port);
    EXPECT_EQ(std::string(inidat.com2), s.port);
    EXPECT_TRUE(secportmanuell);
    EXPECT_FALSE(inidat.com1none);

    // A bare number is a COM name; NONE is the simulation; LINKSYS leaves the port empty.
    ps_resetinidat();
    strMcpy(inidat.apn, "x");
    strMcpy(inidat.comport, "NONE");
    EXPECT_EQ(pruefe(neu), 0);
    EXPECT_TRUE(inidat.com1none);

    // A new ini file only takes its ports; nothing is asked, not even with COM=?.
    ps_resetinidat();
    strMcpy(inidat.comport, "2");
    statustexte.clear();
    EXPECT_EQ(iv_startchecks(&neu, true), 0);
    EXPECT_STREQ(inidat.com1, "COM2");
    EXPECT_STREQ(inidat.com2, "COM3");
    strMcpy(inidat.comport, "?");
    EXPECT_EQ(iv_startchecks(&neu, true), 0);
    EXPECT_STREQ(inidat.com1, "COM2") << "no search";
    EXPECT_TRUE(statustexte.empty());
}

TEST_F(StartChecks, AModemThatIsNotFoundIsSearchedFourTimesMore) {
    virtuell();
    strMcpy(inidat.apn, "web.example");
    bool neu;
    EXPECT_EQ(pruefe(neu), 1);
    EXPECT_TRUE(gezeigt(" Searching for modem."));
    EXPECT_TRUE(gezeigt(" Modem not recognized."));
    EXPECT_EQ(inidat.hinweisk, '3');
    EXPECT_EQ(ts_count(ts_readfile("servilog.txt"), "Another search for modem."), 4);
}

TEST_F(StartChecks, EverySimStateGivesItsHintOrText) {
    struct {
        std::vector<std::string> sim;
        const char* steuer; // a control line after the start
        const char* pin;
        int ergebnis;
        char hinweisk;
        const char* text;
        bool pinleer;
    } const faelle[] = {
        {{"--pin", "1234"}, nullptr, "1234", 0, '0', nullptr, false},
        {{"--pin", "1234"}, nullptr, "", 1, '4', nullptr, false},
        {{"--pin", "1234"},
         nullptr,
         "9999",
         1,
         '0',
         "*PIN is not valid in file \"tandor.ini\"!",
         true},
        {{"--nopin"}, "sim puk", "", 1, '5', "*SIM has to be unlocked with PUK!", true},
        {{"--nopin"}, "sim puk", "87654321,4321", 1, '5', "*PUK is not valid! Caution!", true},
        {{"--nosim"}, nullptr, "", 1, '0', "*SIM not found.", false},
    };
    for (const auto& f : faelle) {
        SCOPED_TRACE(f.pin);
        Sim s;
        std::vector<std::string> args = {"--type", "3"};
        args.insert(args.end(), f.sim.begin(), f.sim.end());
        if (!s.start(args)) {
            ADD_FAILURE() << "simulator did not start";
            continue;
        }
        if (f.steuer) s.control(f.steuer);
        ps_resetinidat();
        inidat.funktion = 9;
        strMcpy(inidat.comport, s.port.c_str());
        strMcpy(inidat.apn, "web.example");
        strMcpy(inidat.pin, f.pin);
        statustexte.clear();
        bool neu;
        EXPECT_EQ(pruefe(neu), f.ergebnis);
        EXPECT_EQ(inidat.hinweisk, f.hinweisk);
        if (f.text) {
            EXPECT_TRUE(gezeigt(f.text));
        }
        if (f.pinleer) {
            EXPECT_STREQ(inidat.pin, "");
            EXPECT_TRUE(neu);
        }
        cm_close();
    }
}

TEST_F(StartChecks, ASimBusyToTheEndIsAModemNotRespondingAndKeepsThePin) {
    // An Option stick: its SIM stays busy after AT+CFUN=1 far beyond the 20 s of patience,
    // which pass on the virtual clock while every answer takes its real way.
    Sim s;
    ASSERT_TRUE(s.start({"--type", "1", "--pin", "1234", "--simbusy", "120"}));
    ASSERT_TRUE(cm_open(s.port.c_str(), false));
    // Echo off and busy as "+CME ERROR: 14" first, on the real clock: then every answer
    // comes in one piece, as the virtual clock needs it.
    char a[CM_ANTWORTGROESSE];
    for (const char* befehl : {"ATE0\r", "AT+CMEE=1\r"}) {
        cm_puts(befehl);
        msleep(100);
        cm_gets(a, 5);
    }
    cm_close();
    strMcpy(inidat.comport, s.port.c_str());
    strMcpy(inidat.apn, "web.example");
    strMcpy(inidat.pin, "1234");
    virtuell();
    long long t0 = sy_monotonicms();
    bool neu;
    EXPECT_EQ(pruefe(neu), 0); // not a configuration fault: the main thread tries again
    EXPECT_GE(sy_monotonicms() - t0, 20000);
    EXPECT_STREQ(inidat.pin, "1234");
    EXPECT_FALSE(neu);
    EXPECT_EQ(inidat.hinweisk, '0');
    EXPECT_FALSE(gezeigt("PIN is not valid"));
    std::string t = s.transcript();
    EXPECT_EQ(ts_count(t, "CPIN="), 0) << t;
    EXPECT_GE(ts_count(t, "AT+CPIN?"), 16) << t;
    // The main thread's own unlock ends the same way: result 2, "Modem not responding."
    inicounterglobal++;
    EXPECT_EQ(de_inipin(0), DE_STUMM);
    EXPECT_EQ(ts_count(s.transcript(), "CPIN="), 0);
}

TEST_F(StartChecks, NetworkListIsAskedForAndStoredBehindTheQuestionMark) {
    Sim s;
    ASSERT_TRUE(s.start({"--type", "3", "--nopin", "--network", "E-Plus", "26203"}));
    strMcpy(inidat.comport, s.port.c_str());
    strMcpy(inidat.net, "?;Old");
    bool neu;
    EXPECT_EQ(pruefe(neu), 1);
    EXPECT_TRUE(neu);
    EXPECT_STREQ(inidat.net, "?;E-Plus;o2 - de;Vodafone.de");
    EXPECT_EQ(inidat.hinweisk, '6');
    EXPECT_TRUE(gezeigt("+Network list has been entered."));
    EXPECT_STREQ(inidat.apn, "") << "no APN while the network is still to be chosen";
    EXPECT_NE(s.transcript().find("AT+COPS=?"), std::string::npos);
}

TEST_F(StartChecks, ApnIsTakenFromTheRegisteredOperator) {
    struct {
        const char* code;
        const char* apn;
        char hinweisk;
    } const faelle[] = {{"26202", "web.vodafone.de", '7'}, {"23415", "", '8'}};
    for (const auto& f : faelle) {
        Sim s;
        ASSERT_TRUE(s.start({"--type", "3", "--nopin", "--network", "Netz", f.code}));
        ps_resetinidat();
        inidat.funktion = 9;
        strMcpy(inidat.comport, s.port.c_str());
        statustexte.clear();
        bool neu;
        boxen.clear();
        EXPECT_EQ(pruefe(neu), 1);
        EXPECT_EQ(boxen.size(), f.apn[0] ? 1u : 0u);
        EXPECT_STREQ(inidat.apn, f.apn) << f.code;
        EXPECT_EQ(inidat.hinweisk, f.hinweisk) << f.code;
        EXPECT_EQ(neu, f.apn[0] != 0);
        EXPECT_TRUE(gezeigt(f.apn[0] ? "+APN has been entered." : "+Could not determine APN."));
        // The operator format is numeric for the question and long again afterwards.
        std::string t = s.transcript();
        size_t a = t.find("AT+COPS=3,2"), b = t.find("AT+COPS=3,0", a);
        EXPECT_NE(a, std::string::npos);
        EXPECT_NE(b, std::string::npos);
        cm_close();
    }
}

TEST_F(StartChecks, ALargeServiceLogIsSwitchedOff) {
    virtuell();
    strMcpy(inidat.comport, "NONE");
    strMcpy(inidat.apn, "x");
    ts_writefile("servilog.txt", std::string(250001, 'x'));
    bool neu;
    EXPECT_EQ(pruefe(neu), 0);
    EXPECT_TRUE(neu);
    EXPECT_FALSE(inidat.mod['P']);
    EXPECT_TRUE(gezeigt("*Protocol deactivated."));
    inidat.mod['P'] = 1;
    inidat.mod['Q'] = 1; // Q keeps it on whatever its size
    EXPECT_EQ(pruefe(neu), 0);
    EXPECT_TRUE(inidat.mod['P']);
}

} // namespace
