// Modem discovery and initialisation against the modem simulator: identification of
// every personality, the SIM unlock with all its outcomes, the by-id port discovery and
// the radio-mode commands.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

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
