// The real tandor binary in a desktop session run by the test session manager: saves
// and checkpoints leave it running; a logout that allows interaction ends it through the
// normal end, and the session is held until that end has finished.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct SessionEnd : ::testing::Test {
    std::string dir = ts_scratchdir();
    int prog = -1;
    ts_piped sm;
    std::string logbeimfreigeben; // the service log when the session was released

    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run the tests through tests/harness.sh";
        sm.onzeile = [this](const std::string& z) {
            if (z.rfind("interact-done", 0) == 0)
                logbeimfreigeben = ts_readfile(dir + "/servilog.txt");
        };
        ASSERT_TRUE(sm.start({ts_helper("helper_sessionmanager"), "60"}));
        ASSERT_TRUE(sm.waitcount("listening ", 1, 5000));
        setenv("SESSION_MANAGER", sm.line(0).substr(10).c_str(), 1);
    }

    void TearDown() override {
        if (prog > 0 && ts_waitpid(prog, 100) == -1) {
            kill(prog, SIGKILL);
            ts_waitpid(prog, 5000);
        }
        sm.stop();
        unsetenv("SESSION_MANAGER");
    }

    bool warteanzahl(const std::string& anfang, int n, long ms) {
        return sm.waitcount(anfang, n, ms);
    }
    void sende(const std::string& kommando) { sm.send(kommando); }
};

TEST_F(SessionEnd, CheckpointsKeepItRunningAndALogoutEndsItBeforeTheSessionGoesOn) {
    prog = ts_spawn({TANDOR_BINARY, "CONN", "DIR=" + dir, "INSTANCE=5", "NOSPLASH", "MUTE", "MOD=P",
                     "COM=NONE", "APN=x"},
                    dir + "/stdout.txt");
    ASSERT_TRUE(warteanzahl("registered", 1, 20000)) << ts_readfile(dir + "/stdout.txt");
    ASSERT_TRUE(warteanzahl("save-yourself-done 1", 1, 10000));

    sende("save 0 2"); // a checkpoint
    ASSERT_TRUE(warteanzahl("save-yourself-done 1", 2, 10000));
    sende("save 1 0"); // a logout that allows no interaction
    ASSERT_TRUE(warteanzahl("save-yourself-done 1", 3, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_EQ(ts_waitpid(prog, 0), -1) << "a save without interaction ended the program";

    sende("save 1 2"); // a logout with any interaction
    ASSERT_TRUE(warteanzahl("interact-request", 1, 10000));
    int status = ts_waitpid(prog, 30000);
    ASSERT_NE(status, -1) << "the logout did not end the program";
    prog = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(warteanzahl("save-yourself-done 1", 4, 5000));
    EXPECT_EQ(sm.count("interact-done 0"), 1);
    // The session was released only after the program end had run.
    EXPECT_NE(logbeimfreigeben.find("tandor terminated."), std::string::npos) << logbeimfreigeben;
}

} // namespace
