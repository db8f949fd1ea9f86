// Services of a running connection with the real binary, the simulator, the stand-in pppd
// and the web stand-in in the private network: the switch-off of the operator's image
// compression (MOD=G) by its speed-option page, and a compression proxy that never
// answers, which must not hold up the program's end.
#include "modem/modemsimulator.h"
#include "tandorrun.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

namespace {

const std::string KOPF = "01 0AA000000000-0000000000001-0000000" + std::string(16, '0');

struct ServicesRun : ModemRun {
    std::string seiten = dir + "/seiten";

    void SetUp() override {
        ModemRun::SetUp();
        if (HasFatalFailure()) return;
        mkdir(seiten.c_str(), 0755);
        // privatenet.sh starts the web stand-in for these pages.
        setenv("HTTPSIM_PAGES", seiten.c_str(), 1);
    }
    void starte(const std::string& mod) {
        ts_writefile(dir + "/tandor.ini", KOPF + "\nMOD=P" + mod +
                                              "\nLAN=English\nCOM=/dev/ttyUSB0;NONE\nCON=\n"
                                              "CONA=SE\nAPN=internet.t-mobile\n");
        pid = ts_spawn(ts_netzstart(dir, modem.port, ctl, 6), dir + "/stdout.txt");
    }
    std::string webprotokoll() { return ts_readfile(ctl + "/httpsim.log"); }
};

TEST_F(ServicesRun, WithSwitchGTheSpeedOptionPageIsAskedAndItsConfirmationSeen) {
    ts_writefile(seiten + "/m", "<html>Ihre Einstellung wurde gespeichert.</html>");
    starte("G");
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    ASSERT_TRUE(wartelog("KD thread alive. 5", 1, 30000)) << protokolle() << webprotokoll();
    EXPECT_NE(webprotokoll().find("GET /m?s=n"), std::string::npos) << webprotokoll();
    EXPECT_EQ(webprotokoll().find("proxy"), std::string::npos) << webprotokoll();
    kill(pid, SIGTERM);
    endetsauber(30000);
}

TEST_F(ServicesRun, WithoutGNothingIsAskedAndASilentProxyDoesNotHoldTheEnd) {
    starte("");
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    sleep(8);
    EXPECT_EQ(webprotokoll().find("GET /m"), std::string::npos) << webprotokoll();
    EXPECT_EQ(webprotokoll().find("proxy"), std::string::npos) << webprotokoll();
    kill(pid, SIGTERM);
    endetsauber(30000);

    // No speed-option page: the session with the proxy, which never answers.
    starte("G");
    ASSERT_TRUE(wartelog("Connection established.", 2, 90000)) << protokolle();
    ASSERT_TRUE(wartelog("KD 7.", 1, 40000)) << protokolle() << webprotokoll();
    EXPECT_NE(webprotokoll().find("proxy 127.0.0.1"), std::string::npos) << webprotokoll();
    auto t0 = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    endetsauber(30000);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5)) << protokolle();
}

} // namespace
