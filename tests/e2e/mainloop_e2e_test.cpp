// The real binary against the modem simulator: the modem start-up (PIN, APN), the reading
// cycles with their connection-log lines, the connect permission, a modem that asks for its
// PIN again with a wrong one configured, and the end on SIGTERM with the counters written.
#include "modem/modemsimulator.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

namespace {

struct MainLoopRun : ::testing::Test {
    std::string dir = ts_scratchdir();
    ts_modemsim modem;
    std::vector<std::string> modemargs{"--type", "3", "--pin", "1234", "--signal", "15"};
    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run through tests/harness.sh";
        ASSERT_TRUE(modem.start(modemargs));
    }
    int starte(const std::string& ini, const std::string& name = "CONN") {
        ts_writefile(dir + "/tandor.ini",
                     "01 0AA000000000-0000000000001-0000000000000000000000000\n"
                     "MOD=PIJ\nLAN=English\nCOM=" +
                         modem.port + "\n" + ini);
        // Private System V IPC: no other copy on the machine shares the instance flags.
        return ts_spawn(
            {"unshare", "-i", TANDOR_BINARY, name, "DIR=" + dir, "INSTANCE=2", "NOSPLASH", "MUTE"},
            dir + "/stdout.txt");
    }
    std::string servilog() { return ts_readfile(dir + "/servilog.txt"); }
    std::string connlog() { return ts_readfile(dir + "/connlog.txt"); }
    // The value of the PIN line in tandor.ini (stored obfuscated), "-" without such a line.
    std::string pinwert() {
        std::smatch m;
        std::string ini = ts_readfile(dir + "/tandor.ini");
        if (!std::regex_search(ini, m, std::regex("(^|\n)([0-9]+ )?PIN=([^\r\n]*)"))) return "-";
        return m[3];
    }
    // Waits for the program's end, answering the box about a rejected PIN as a user would.
    int endeNachPinBox(int pid) {
        int status = -1;
        // Only this run's box: other runs may show one of the same name beside it.
        const std::string antworte =
            "xdotool search --all --pid " + std::to_string(pid) +
            " --name 'tandor   PIN' key --window %1 Return >/dev/null 2>&1";
        for (int i = 0; i < 900 && (status = ts_waitpid(pid, 100)) == -1; i++)
            if (system(antworte.c_str()) != 0) usleep(100000);
        if (status == -1) kill(pid, SIGKILL);
        return status;
    }
};

// An Option stick (it gets AT+CFUN=1) whose SIM is busy for 5 s after switching on and
// after an accepted PIN.
struct OptionPinRun : MainLoopRun {
    OptionPinRun() { modemargs = {"--type", "1", "--pin", "1234", "--simbusy", "5"}; }
};
// A Huawei stick whose SIM needs no PIN at start.
struct ReadySimRun : MainLoopRun {
    ReadySimRun() { modemargs = {"--type", "3", "--nopin", "--signal", "15"}; }
};

TEST_F(MainLoopRun, ModemStartReadingCyclesAndPermissionThenAnOrderlyEnd) {
    int pid = starte("PIN=1234\nAPN=internet.t-mobile\nCONA=\nDAY=P01;1\n");
    ASSERT_TRUE(ts_waitfor(dir + "/servilog.txt", "Permitted to connect.", 60000))
        << servilog() << ts_readfile(dir + "/stdout.txt");
    std::string t = modem.transcript();
    EXPECT_EQ(ts_count(t, "AT+CPIN=1234"), 1);
    EXPECT_NE(t.find("AT+CGDCONT=1,\"IP\",\"internet.t-mobile\""), std::string::npos);
    EXPECT_NE(t.find("AT+CSQ"), std::string::npos);
    // The first published cycle writes the cell and the radio mode (letter I).
    ASSERT_TRUE(ts_waitfor(dir + "/connlog.txt", "New mode of operation: UMTS.", 20000))
        << connlog();
    EXPECT_NE(connlog().find("Cell: PLMN=26201 LAC="), std::string::npos) << connlog();
    // A change of the signal while running is logged (letter J): raw 31 is 100 % at -51 dBm.
    modem.control("signal 31");
    EXPECT_TRUE(ts_waitfor(dir + "/connlog.txt", "Signal strength: 100% -51dBm", 20000))
        << connlog();

    kill(pid, SIGTERM);
    int status = ts_waitpid(pid, 30000);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(servilog().find("tandor terminated."), std::string::npos);
    EXPECT_EQ(servilog().find("1234"), std::string::npos) << "the PIN reached the log";
}

TEST_F(MainLoopRun, AWrongPinIsSentOnceAndTheProgramStopsWithItsText) {
    int pid = starte("PIN=9999\nAPN=x\nCONA=\n");
    // The box that tells about the rejected PIN is answered as a user would.
    int status = endeNachPinBox(pid);
    ASSERT_NE(status, -1) << servilog();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ts_count(modem.transcript(), "AT+CPIN=9999"), 1) << modem.transcript();
    std::string ini = ts_readfile(dir + "/tandor.ini");
    EXPECT_NE(ini.find("\n11 PIN=\n"), std::string::npos) << "the rejected PIN is removed";
}

TEST_F(OptionPinRun, ABusyAndSilentSimGetsThePinOnceAndTheIniKeepsIt) {
    modem.control("silent +CPIN? 2");
    int pid = starte("PIN=1234\nAPN=internet.t-mobile\nCONA=\n");
    ASSERT_TRUE(ts_waitfor(dir + "/servilog.txt", "Permitted to connect.", 90000))
        << servilog() << ts_readfile(dir + "/stdout.txt");
    std::string t = modem.transcript();
    EXPECT_EQ(ts_count(t, "AT+CPIN=1234"), 1) << t;
    EXPECT_GE(ts_count(t, "+CPIN?"), 6) << "busy and silent answers are asked again\n" << t;
    EXPECT_EQ(servilog().find("PIN is not valid"), std::string::npos);
    EXPECT_NE(pinwert(), "");
    EXPECT_NE(pinwert(), "-");
    kill(pid, SIGTERM);
    EXPECT_NE(ts_waitpid(pid, 30000), -1);
    EXPECT_NE(pinwert(), "") << "the PIN stays in tandor.ini";
}

TEST_F(OptionPinRun, APinRejectedAfterTheBusyTimeIsErasedAtStart) {
    // No +CMEE: the SIM says busy and "wrong PIN" alike with a plain ERROR.
    int pid = starte("PIN=9999\nAPN=x\nCONA=\n");
    int status = endeNachPinBox(pid);
    ASSERT_NE(status, -1) << servilog();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string t = modem.transcript();
    EXPECT_EQ(ts_count(t, "AT+CPIN=9999"), 1) << t;
    EXPECT_NE(t.find("\\r\\nERROR\\r\\n"), std::string::npos) << t;
    EXPECT_EQ(pinwert(), "") << "the rejected PIN is removed";
}

TEST_F(ReadySimRun, APinRejectedInOperationIsErasedFromTheIni) {
    int pid = starte("PIN=9999\nAPN=x\nCONA=\n");
    ASSERT_TRUE(ts_waitfor(dir + "/servilog.txt", "Permitted to connect.", 60000)) << servilog();
    EXPECT_EQ(ts_count(modem.transcript(), "CPIN="), 0); // the SIM needed none at start
    std::string vorher = pinwert();
    EXPECT_NE(vorher, "");
    // The modem restarts its SIM: the registration query tells that it wants the PIN again.
    modem.control("cmee 2");
    modem.control("sim pin");
    int status = endeNachPinBox(pid);
    ASSERT_NE(status, -1) << servilog();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ts_count(modem.transcript(), "AT+CPIN=9999"), 1) << modem.transcript();
    EXPECT_EQ(pinwert(), "") << "the PIN rejected in operation is removed";
    std::string ini = ts_readfile(dir + "/tandor.ini");
    EXPECT_NE(ini.find("APN=x"), std::string::npos) << ini; // the other lines stay
}

TEST_F(MainLoopRun, AModeCopySetsItsRadioModeAndSelectsTheConfiguredNetwork) {
    // UMTSGPRS: UMTS preferred; NET as an operator code selects that operator manually.
    int pid = starte("PIN=1234\nAPN=x\nCONA=\nNET=26202\n", "UMTSGPRS");
    ASSERT_TRUE(ts_waitfor(dir + "/servilog.txt", "Permitted to connect.", 60000)) << servilog();
    std::string t = modem.transcript();
    size_t modus = t.find("AT^SYSCFG=2,2,"), netz = t.find("AT+COPS=1,2,\"26202\"");
    EXPECT_NE(modus, std::string::npos) << t;
    EXPECT_NE(netz, std::string::npos) << t;
    EXPECT_LT(modus, netz) << "the radio mode is set before the network is selected";
    kill(pid, SIGTERM);
    EXPECT_NE(ts_waitpid(pid, 30000), -1);
}

} // namespace
