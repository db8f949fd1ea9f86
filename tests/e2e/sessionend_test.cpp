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
    int sm = -1, smin = -1, smout = -1, prog = -1;
    std::thread leser;
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> zeilen;
    std::string logbeimfreigeben; // the service log when the session was released

    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run the tests through tests/harness.sh";
        int in[2], out[2];
        ASSERT_EQ(pipe(in), 0);
        ASSERT_EQ(pipe(out), 0);
        std::string helper = ts_helper("helper_sessionmanager");
        sm = fork();
        if (sm == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[0]), close(in[1]), close(out[0]), close(out[1]);
            execl(helper.c_str(), helper.c_str(), "60", (char*)nullptr);
            _exit(127);
        }
        close(in[0]), close(out[1]);
        smin = in[1], smout = out[0];
        leser = std::thread([this] {
            std::string buf;
            char c[256];
            ssize_t n;
            while ((n = read(smout, c, sizeof c)) > 0) {
                buf.append(c, n);
                size_t nl;
                while ((nl = buf.find('\n')) != std::string::npos) {
                    std::string z = buf.substr(0, nl);
                    buf.erase(0, nl + 1);
                    if (z.rfind("interact-done", 0) == 0)
                        logbeimfreigeben = ts_readfile(dir + "/servilog.txt");
                    std::lock_guard<std::mutex> l(mu);
                    zeilen.push_back(z);
                    cv.notify_all();
                }
            }
        });
        ASSERT_TRUE(warteanzahl("listening ", 1, 5000));
        std::lock_guard<std::mutex> l(mu);
        setenv("SESSION_MANAGER", zeilen[0].substr(10).c_str(), 1);
    }

    void TearDown() override {
        if (prog > 0 && ts_waitpid(prog, 100) == -1) {
            kill(prog, SIGKILL);
            ts_waitpid(prog, 5000);
        }
        if (smin >= 0) close(smin);
        if (sm > 0 && ts_waitpid(sm, 3000) == -1) {
            kill(sm, SIGKILL);
            ts_waitpid(sm, 3000);
        }
        if (leser.joinable()) leser.join();
        if (smout >= 0) close(smout);
        unsetenv("SESSION_MANAGER");
    }

    int anzahl(const std::string& anfang) {
        int n = 0;
        for (auto& z : zeilen)
            n += z.rfind(anfang, 0) == 0;
        return n;
    }
    bool warteanzahl(const std::string& anfang, int n, long ms) {
        std::unique_lock<std::mutex> l(mu);
        return cv.wait_for(l, std::chrono::milliseconds(ms), [&] { return anzahl(anfang) >= n; });
    }
    void sende(const std::string& kommando) {
        std::string z = kommando + "\n";
        ASSERT_EQ(write(smin, z.data(), z.size()), (ssize_t)z.size());
    }
};

TEST_F(SessionEnd, CheckpointsKeepItRunningAndALogoutEndsItBeforeTheSessionGoesOn) {
    prog = ts_spawn({TANDOR_BINARY, "DIR=" + dir, "INSTANCE=5", "NOSPLASH", "MUTE", "MOD=P"},
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
    std::lock_guard<std::mutex> l(mu);
    EXPECT_EQ(anzahl("interact-done 0"), 1);
    // The session was released only after the program end had run.
    EXPECT_NE(logbeimfreigeben.find("tandor terminated."), std::string::npos) << logbeimfreigeben;
}

} // namespace
