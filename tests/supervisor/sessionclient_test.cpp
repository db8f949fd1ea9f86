// The session client against a small test session manager (helper_sessionmanager): the
// saves it answers at once, the logout it holds until the program end, and a manager that
// is missing or goes away.
#include "core/programstate.h"
#include "supervisor/sessionclient.h"
#include "testsupport.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Waits up to ms for cond; returns its last value.
template <typename F> bool waituntil(F cond, long ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end) return cond();
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class SessionClient : public ::testing::Test {
  protected:
    std::string dir;
    ts_piped sm;
    std::thread looper;
    GMainLoop* loop = nullptr;

    void SetUp() override {
        dir = ts_scratchdir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
        // No authority file of the user's may take part.
        setenv("ICEAUTHORITY", (dir + "/iceauthority").c_str(), 1);
        unsetenv("SESSION_MANAGER");
        programmende_gewuenscht = false;
        ruhestatus = 0;
        loop = g_main_loop_new(nullptr, FALSE);
        looper = std::thread([this] { g_main_loop_run(loop); });
    }

    void TearDown() override {
        sc_close();
        sm.stop();
        g_main_loop_quit(loop);
        looper.join();
        g_main_loop_unref(loop);
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }

    // Starts the manager and points the client at it.
    void startmanager() {
        ASSERT_TRUE(sm.start({ts_helper("helper_sessionmanager"), "30"}));
        ASSERT_TRUE(sm.waitcount("listening ", 1, 5000));
        std::string ids = sm.line(0).substr(10);
        ASSERT_FALSE(ids.empty());
        setenv("SESSION_MANAGER", ids.c_str(), 1);
    }

    int count(const std::string& prefix) { return sm.count(prefix); }
    bool waitcount(const std::string& prefix, int n, long ms) {
        return sm.waitcount(prefix, n, ms);
    }
    int indexof(const std::string& line, int occurrence) { return sm.indexof(line, occurrence); }
    void send(const std::string& cmd) { sm.send(cmd); }

    // Connects and waits until the initial save-yourself has been answered.
    void connectandregister() {
        startmanager();
        ASSERT_TRUE(sc_connect());
        ASSERT_TRUE(waitcount("registered", 1, 5000));
        ASSERT_TRUE(waitcount("save-yourself-done 1", 1, 5000));
    }

    // A logout that allows interaction, up to the granted interaction.
    void logoutheld() {
        send("save 1 2");
        ASSERT_TRUE(waitcount("interact-request 1", 1, 5000));
        ASSERT_TRUE(waituntil([] { return sc_interactionheld(); }, 5000));
        EXPECT_TRUE(programmende_gewuenscht);
    }
};

TEST_F(SessionClient, WithoutSessionManagerTheProgramRunsOn) {
    EXPECT_FALSE(sc_connect());
    // An address where nothing listens fails at once as well.
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    setenv("SESSION_MANAGER", ("local/" + std::string(host) + ":" + dir + "/nosocket").c_str(), 1);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(sc_connect());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    sc_returninteraction();
    EXPECT_FALSE(sc_interactionheld());
    EXPECT_FALSE(programmende_gewuenscht);
}

TEST_F(SessionClient, RegistersAndAnswersSavesWithoutEnding) {
    _argc = 2;
    static char a0[] = "/usr/bin/tandor", a1[] = "NOSPLASH";
    static char* av[] = {a0, a1, nullptr};
    _argv = av;
    connectandregister();
    EXPECT_TRUE(waitcount("property Program tandor", 1, 2000));
    EXPECT_TRUE(waitcount("property RestartCommand /usr/bin/tandor NOSPLASH", 1, 2000));
    EXPECT_TRUE(waitcount("property RestartStyleHint 0", 1, 2000)); // SmRestartIfRunning

    send("save 0 2"); // a checkpoint that would allow interaction
    EXPECT_TRUE(waitcount("save-yourself-done 1", 2, 5000));
    send("complete");
    send("save 1 0"); // logout without interaction
    EXPECT_TRUE(waitcount("save-yourself-done 1", 3, 5000));
    send("save 1 1"); // logout with error dialogs only
    EXPECT_TRUE(waitcount("save-yourself-done 1", 4, 5000));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(count("interact-request"), 0);
    EXPECT_FALSE(sc_interactionheld());
    EXPECT_FALSE(programmende_gewuenscht);
    _argc = 0;
    _argv = nullptr;
}

TEST_F(SessionClient, LogoutIsHeldUntilTheProgramEnd) {
    connectandregister();
    logoutheld();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(count("interact-done"), 0);
    EXPECT_EQ(count("save-yourself-done"), 1);
    EXPECT_TRUE(sc_interactionheld());

    sc_returninteraction();
    EXPECT_FALSE(sc_interactionheld());
    ASSERT_TRUE(waitcount("save-yourself-done 1", 2, 5000));
    int done = indexof("interact-done 0", 1);
    ASSERT_GE(done, 0);
    EXPECT_LT(done, indexof("save-yourself-done 1", 2));
    // A second return has nothing left to give back.
    sc_returninteraction();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(count("interact-done"), 1);

    // The manager's Die is answered by closing the connection.
    send("die");
    EXPECT_TRUE(waitcount("close-connection", 1, 5000));
    EXPECT_TRUE(programmende_gewuenscht);
}

TEST_F(SessionClient, CancelledLogoutReleasesTheSession) {
    connectandregister();
    logoutheld();
    send("cancel");
    ASSERT_TRUE(waitcount("save-yourself-done 1", 2, 5000));
    EXPECT_EQ(count("interact-done 0"), 1);
    EXPECT_FALSE(sc_interactionheld());
    sc_returninteraction();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(count("save-yourself-done"), 2);
}

TEST_F(SessionClient, LogoutDuringARestStillEndsTheProgram) {
    connectandregister();
    logoutheld();
    // A rest clears the end request; while resting it stays cleared.
    ruhestatus = 2;
    programmende_gewuenscht = false;
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(programmende_gewuenscht);
    // Once the program is active again the logout's request comes back.
    ruhestatus = 0;
    EXPECT_TRUE(waituntil([] { return programmende_gewuenscht.load(); }, 3000));
}

TEST_F(SessionClient, LostSessionManagerDoesNotEndTheProcess) {
    connectandregister();
    logoutheld();
    int smpid = sm.pid;
    kill(smpid, SIGKILL);
    sm.stop();
    // The killed manager could not remove its socket.
    unlink(("/tmp/.ICE-unix/" + std::to_string(smpid)).c_str());
    // libICE's own handler would exit the process here.
    EXPECT_TRUE(waituntil([] { return !sc_interactionheld(); }, 5000));
    sc_returninteraction();
    sc_close();
    SUCCEED();
}

} // namespace
