// The real tandor binary under the harness's display: started with DIR=, INSTANCE=,
// NOSPLASH and MUTE, replaced by a second copy, toggled off, and ended in order.
#include "core/flags.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr unsigned long aktivbasis = 0x515256A0;

struct Programm {
    std::string dir;
    int pid = -1;
};

Programm starte(int instanz, const std::vector<std::string>& extra = {}) {
    Programm p;
    p.dir = ts_scratchdir();
    std::vector<std::string> argv = {
        TANDOR_BINARY, "CONN", "DIR=" + p.dir, "INSTANCE=" + std::to_string(instanz),
        "NOSPLASH",    "MUTE", "MOD=P",        "COM=NONE",
        "APN=x"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    p.pid = ts_spawn(argv, p.dir + "/stdout.txt");
    return p;
}

struct ProgramRun : ::testing::Test {
    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run the tests through tests/harness.sh";
    }
};

TEST_F(ProgramRun, StartsInItsDirectoryAndEndsInOrderOnSigterm) {
    Programm p = starte(7);
    std::string log = p.dir + "/servilog.txt";
    ASSERT_TRUE(ts_waitfor(log, "Main thread: cycle started.", 20000))
        << ts_readfile(p.dir + "/stdout.txt");
    EXPECT_TRUE(fl_query(aktivbasis + 7));
    EXPECT_FALSE(fl_query(aktivbasis));
    kill(p.pid, SIGTERM);
    int status = ts_waitpid(p.pid, 30000);
    ASSERT_NE(status, -1) << "tandor did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string inhalt = ts_readfile(log);
    EXPECT_NE(
        inhalt.find("Received: signal 15, code 0 from process " + std::to_string(getpid()) + "."),
        std::string::npos)
        << inhalt;
    EXPECT_NE(inhalt.find("tandor terminated."), std::string::npos);
    // Every thread left in order: none is reported as still running.
    EXPECT_EQ(inhalt.find("still runing"), std::string::npos) << inhalt;
    EXPECT_FALSE(fl_query(aktivbasis + 7));
}

TEST_F(ProgramRun, SecondCopyReplacesTheRunningOne) {
    Programm a = starte(8);
    ASSERT_TRUE(ts_waitfor(a.dir + "/servilog.txt", "Main thread: cycle started.", 20000));
    Programm b = starte(8);
    int status = ts_waitpid(a.pid, 30000);
    ASSERT_NE(status, -1) << "the first copy did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(ts_waitfor(b.dir + "/servilog.txt", "Main thread: cycle started.", 20000));
    EXPECT_TRUE(fl_query(aktivbasis + 8));
    kill(b.pid, SIGTERM);
    status = ts_waitpid(b.pid, 30000);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fl_query(aktivbasis + 8));
}

TEST_F(ProgramRun, StartToggleEndsBothCopies) {
    Programm a = starte(9);
    ASSERT_TRUE(ts_waitfor(a.dir + "/servilog.txt", "Main thread: cycle started.", 20000));
    Programm b = starte(9, {"STARTTOGGLE"});
    int sa = ts_waitpid(a.pid, 30000);
    int sb = ts_waitpid(b.pid, 30000);
    EXPECT_TRUE(sa != -1 && WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
    EXPECT_TRUE(sb != -1 && WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
    EXPECT_EQ(ts_readfile(b.dir + "/servilog.txt").find("Main thread: cycle started."),
              std::string::npos);
    EXPECT_FALSE(fl_query(aktivbasis + 9));
    if (sa == -1) kill(a.pid, SIGKILL);
    if (sb == -1) kill(b.pid, SIGKILL);
}

} // namespace

namespace {
TEST(ProgramStart, WithoutADisplayItSaysSoPlainly) {
    std::string dir = ts_scratchdir();
    int pid =
        ts_spawn({"env", "-u", "DISPLAY", TANDOR_BINARY, "DIR=" + dir, "INSTANCE=6", "NOSPLASH"},
                 dir + "/out.txt");
    int status = ts_waitpid(pid, 20000);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_NE(ts_readfile(dir + "/out.txt").find("tandor: no display"), std::string::npos)
        << ts_readfile(dir + "/out.txt");
}
} // namespace
