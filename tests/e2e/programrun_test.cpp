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

// vorne: a command the program line is appended to (say to enter a System V IPC namespace).
Programm starte(int instanz, const std::vector<std::string>& extra = {},
                const std::vector<std::string>& vorne = {}, const char* name = "CONN") {
    Programm p;
    p.dir = ts_scratchdir();
    std::vector<std::string> argv = vorne;
    std::vector<std::string> prog = {
        TANDOR_BINARY, name,   "DIR=" + p.dir, "INSTANCE=" + std::to_string(instanz),
        "NOSPLASH",    "MUTE", "MOD=P",        "COM=NONE",
        "APN=x"};
    argv.insert(argv.end(), prog.begin(), prog.end());
    argv.insert(argv.end(), extra.begin(), extra.end());
    p.pid = ts_spawn(argv, p.dir + "/stdout.txt");
    return p;
}

// Enters the System V IPC namespace of the process nspid: copies started this way see each
// other's flags and no copy elsewhere on the machine.
std::vector<std::string> ipcvon(int nspid) {
    return {"nsenter", "-t", std::to_string(nspid), "-i"};
}

// "held" or "free": the flag as a process in nspid's IPC namespace sees it.
std::string flagimns(int nspid, unsigned long key) {
    std::string aus = ts_scratchdir() + "/query.txt";
    std::vector<std::string> argv = ipcvon(nspid);
    argv.insert(argv.end(),
                {TANDOR_BINARY_DIR "/tests/helper_flags", "query", std::to_string(key)});
    int status = ts_waitpid(ts_spawn(argv, aus), 10000);
    if (status == -1 || !WIFEXITED(status)) return "?";
    std::string t = ts_readfile(aus);
    return t.substr(0, t.find('\n'));
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
    // The signal wakes the main loop from its pause between two cycles: the end begins at
    // once, not with the next cycle (which comes every 1.8 s).
    usleep(2500000);
    auto t0 = std::chrono::steady_clock::now();
    kill(p.pid, SIGTERM);
    long ms = -1;
    for (int i = 0; i < 1000 && ms < 0; i++) {
        if (ts_readfile(log).find("tandor terminated.") != std::string::npos)
            ms = (long)std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - t0)
                     .count();
        else
            usleep(10000);
    }
    printf("SIGTERM to the end of the program: %ld ms\n", ms);
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 1000); // about 150 ms; 1.5 s and more when only the next cycle sees it
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

TEST_F(ProgramRun, ASecondConfigurationProgramLeavesTheFirstOnesFlag) {
    // The first configuration program is played by a process that holds its flag in an IPC
    // namespace of its own; the real ones join it.
    constexpr unsigned long konfigflag = aktivbasis + 0x20 + 3;
    std::string dir = ts_scratchdir();
    int erste = ts_spawn({"unshare", "-i", TANDOR_BINARY_DIR "/tests/helper_flags", "hold",
                          std::to_string(konfigflag), "300"},
                         dir + "/erste.txt");
    ASSERT_TRUE(ts_waitfor(dir + "/erste.txt", "ready", 5000));
    // The second gives up and ends; the third finds the first one's flag all the same.
    for (int kopie : {2, 3}) {
        SCOPED_TRACE(kopie);
        Programm k = starte(3, {}, ipcvon(erste), "CONFIG");
        int status = ts_waitpid(k.pid, 30000);
        if (status == -1) kill(k.pid, SIGKILL);
        ASSERT_NE(status, -1) << "the configuration program did not give up";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::string log = ts_readfile(k.dir + "/servilog.txt");
        EXPECT_EQ(ts_count(log, "Start check: a configuration program is running."), 1) << log;
        EXPECT_EQ(flagimns(erste, konfigflag), "held");
    }
    kill(erste, SIGKILL);
    ts_waitpid(erste, 5000);
}

TEST_F(ProgramRun, AProfileSwitchLeavesTheConnectionCopysFlag) {
    Programm a = starte(4, {}, {"unshare", "-i"});
    ASSERT_TRUE(ts_waitfor(a.dir + "/servilog.txt", "Main thread: cycle started.", 20000))
        << ts_readfile(a.dir + "/stdout.txt");
    // The profile switch refuses while a connection copy runs, and ends.
    Programm p = starte(4, {}, ipcvon(a.pid), "PROFILE");
    int status = ts_waitpid(p.pid, 30000);
    if (status == -1) kill(p.pid, SIGKILL);
    ASSERT_NE(status, -1) << "the profile switch hangs";
    EXPECT_EQ(flagimns(a.pid, aktivbasis + 4), "held");
    // A further start still sees the running copy and asks it to end.
    Programm b = starte(4, {}, ipcvon(a.pid));
    status = ts_waitpid(a.pid, 30000);
    if (status == -1) {
        kill(a.pid, SIGKILL);
        kill(b.pid, SIGKILL);
    }
    ASSERT_NE(status, -1) << "the first copy was not asked to end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(ts_waitfor(b.dir + "/servilog.txt", "Main thread: cycle started.", 20000));
    kill(b.pid, SIGTERM);
    status = ts_waitpid(b.pid, 30000);
    if (status == -1) kill(b.pid, SIGKILL);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
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
