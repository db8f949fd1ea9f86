// The real binary's start-up checks in a private /dev (a mount namespace): the port search of
// COM=? over /dev/ttyUSB9..0, the SIM unlocked with the PIN of the ini file, the network list
// and, on the next start, the APN from the registered operator, each written to the ini file.
#include "modem/modemsimulator.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct StartupRun : ::testing::Test {
    std::string dir = ts_scratchdir();
    std::vector<std::unique_ptr<ts_modemsim>> sims;
    std::vector<std::string> links; // pairs of name below /dev and target

    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run through tests/harness.sh";
        ASSERT_EQ(geteuid(), 0u) << "a private /dev needs root";
    }
    ts_modemsim& modem(const std::string& name, std::vector<std::string> args) {
        sims.push_back(std::make_unique<ts_modemsim>());
        EXPECT_TRUE(sims.back()->start(args));
        links.push_back(name);
        links.push_back(sims.back()->port);
        return *sims.back();
    }
    int starte(const std::string& instanz) {
        // A private /dev (the host's stays untouched) and private System V IPC.
        std::vector<std::string> argv = {
            "unshare",       "-m", "-i", "/bin/sh", TANDOR_SOURCE_DIR "/scripts/privatedev.sh",
            dir + "/hostdev"};
        argv.insert(argv.end(), links.begin(), links.end());
        std::vector<std::string> prog = {
            "--", TANDOR_BINARY, "CONN", "DIR=" + dir, "INSTANCE=" + instanz, "NOSPLASH", "MUTE"};
        argv.insert(argv.end(), prog.begin(), prog.end());
        return ts_spawn(argv, dir + "/stdout.txt");
    }
    // Ends once the program has ended by itself (an incomplete configuration ends a run).
    void warteende(int pid, long ms) {
        int status = ts_waitpid(pid, ms);
        if (status == -1) {
            kill(pid, SIGKILL);
            ts_waitpid(pid, 5000);
        }
        ASSERT_NE(status, -1) << ts_readfile(dir + "/stdout.txt")
                              << ts_readfile(dir + "/servilog.txt");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::string zeile(const std::string& ini, const std::string& anfang) {
        size_t p = ini.find("\n" + anfang);
        if (p == std::string::npos) return "";
        return ini.substr(p + 1, ini.find('\n', p + 1) - p - 1);
    }
};

TEST_F(StartupRun, PortSearchFindsTheHuaweiStickAndTheModemFillsInNetworksAndApn) {
    // Ten ports: two modems that are not looked for, the Huawei stick as the third, and
    // seven more below it that the search never reaches.
    modem("ttyUSB9", {"--type", "11", "--nopin"});
    modem("ttyUSB8", {"--type", "6", "--nopin"});
    ts_modemsim& huawei = modem("ttyUSB7", {"--type", "3", "--pin", "1234"});
    ts_modemsim& unten = modem("ttyUSB6", {"--type", "3", "--nopin"});
    for (int i = 5; i >= 0; i--) {
        links.push_back("ttyUSB" + std::to_string(i));
        links.push_back(unten.port);
    }
    ts_writefile(dir + "/tandor.ini", "01 0AA000000000-0000000000001-0000000000000000000000000\n"
                                      "MOD=P\nCOM=?\nPIN=1234\nNET=?\nLAN=English\n");
    warteende(starte("6"), 120000);

    std::string ini = ts_readfile(dir + "/tandor.ini");
    EXPECT_EQ(zeile(ini, "08 COM="), "08 COM=/dev/ttyUSB7;/dev/ttyUSB8") << ini;
    EXPECT_EQ(zeile(ini, "12 NET="), "12 NET=?;T-Mobile D;o2 - de;Vodafone.de");
    EXPECT_EQ(zeile(ini, "04 --> "), "04 --> Select network in line NET (see below)!");
    EXPECT_EQ(ini.find("PIN=1234"), std::string::npos) << "PIN in clear";
    EXPECT_EQ(ts_count(huawei.transcript(), "AT+CPIN=1234"), 1) << huawei.transcript();
    EXPECT_NE(huawei.transcript().find("AT+COPS=?"), std::string::npos);
    EXPECT_EQ(unten.transcript().find("ATI"), std::string::npos) << "searched past the find";
    std::string log = ts_readfile(dir + "/servilog.txt");
    EXPECT_NE(log.find("COM-port found: /dev/ttyUSB7"), std::string::npos) << log;
    EXPECT_EQ(log.find("1234"), std::string::npos) << "the PIN reached the service log";

    // The user picks no network: the next start asks the operator for the APN. The box that
    // asks to review it is answered as a user would.
    std::string neu = ini;
    neu.replace(neu.find("12 NET="), zeile(ini, "12 NET=").size(), "12 NET=");
    ts_writefile(dir + "/tandor.ini", neu);
    int pid = starte("6");
    bool beantwortet = false;
    for (int i = 0; i < 900 && !beantwortet && ts_waitpid(pid, 0) == -1; i++) {
        usleep(100000);
        beantwortet = system(("xdotool search --all --pid " + std::to_string(pid) +
                              " --name 'tandor   APN determination' key --window %1 Return "
                              ">/dev/null 2>&1")
                                 .c_str()) == 0;
    }
    EXPECT_TRUE(beantwortet) << "no review box";
    warteende(pid, 60000);
    ini = ts_readfile(dir + "/tandor.ini");
    EXPECT_EQ(zeile(ini, "13 APN="), "13 APN=internet.t-mobile") << ini;
    EXPECT_EQ(zeile(ini, "04 --> "), "04 --> Review APN in line APN (see below)!");
    EXPECT_EQ(zeile(ini, "08 COM="), "08 COM=/dev/ttyUSB7;/dev/ttyUSB8");
    EXPECT_EQ(ts_count(huawei.transcript(), "AT+CPIN=1234"), 1) << "sent to a SIM that was ready";
}

} // namespace
