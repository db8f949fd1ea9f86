// Common ground of the end-to-end runs of the real binary: its scratch directory and pid,
// its logs, waiting for a log line, and judging its end.
#pragma once

#include "modem/modemsimulator.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

// The command line of tandor in a private /dev whose ttyUSB0 leads to port, and a private
// network with the stand-in pppd (controlled through ctl) first on PATH. System V IPC is
// private too, so copies run elsewhere on the machine with the same instance digit cannot
// ask this one to end. No pid namespace: the spawned pid is tandor's own. devmehr: further
// arguments of privatedev.sh.
inline std::vector<std::string> ts_netzstart(const std::string& dir, const std::string& port,
                                             const std::string& ctl, int instanz,
                                             const std::vector<std::string>& devmehr = {}) {
    std::vector<std::string> a = {"unshare",
                                  "-n",
                                  "-m",
                                  "-i",
                                  "/bin/sh",
                                  TANDOR_SOURCE_DIR "/scripts/privatedev.sh",
                                  dir + "/hostdev",
                                  "ttyUSB0",
                                  port};
    a.insert(a.end(), devmehr.begin(), devmehr.end());
    a.insert(a.end(), {"--", "/bin/sh", TANDOR_SOURCE_DIR "/scripts/privatenet.sh",
                       TANDOR_BINARY_DIR "/tools/bin", ctl, "--", TANDOR_BINARY, "CONN",
                       "DIR=" + dir, "INSTANCE=" + std::to_string(instanz), "NOSPLASH", "MUTE"});
    return a;
}

// A killed tandor leaves its stand-in pppd behind, holding the modem: ends the ones whose
// control directory is ctl, by id.
inline void ts_pppdweg(const std::string& ctl) {
    DIR* d = opendir("/proc");
    if (!d) return;
    std::string marke = "PPPDSIM_DIR=" + ctl;
    while (dirent* e = readdir(d)) {
        int p = atoi(e->d_name);
        if (p <= 0) continue;
        std::string env = ts_readfile("/proc/" + std::string(e->d_name) + "/environ");
        for (size_t a = 0; a < env.size();) {
            size_t b = env.find('\0', a);
            if (env.compare(a, b == std::string::npos ? std::string::npos : b - a, marke) == 0)
                kill(p, SIGKILL);
            if (b == std::string::npos) break;
            a = b + 1;
        }
    }
    closedir(d);
}

struct TandorRun : ::testing::Test {
    std::string dir = ts_scratchdir();
    int pid = -1; // tandor's own pid while it runs

    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run through tests/harness.sh";
        ASSERT_EQ(geteuid(), 0u) << "private /dev, network and mounts need root";
    }
    // A program still running at the test's end is killed; one already reaped is left alone,
    // its pid may belong to another process by now.
    void TearDown() override {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            ts_waitpid(pid, 5000);
        }
    }
    std::string servilog() { return ts_readfile(dir + "/servilog.txt"); }
    std::string connlog() { return ts_readfile(dir + "/connlog.txt"); }
    std::string protokolle() {
        return "--- servilog\n" + servilog() + "--- connlog\n" + connlog() + "--- stdout\n" +
               ts_readfile(dir + "/stdout.txt");
    }
    // Waits until text has appeared n times in the service log.
    bool wartelog(const std::string& text, int n, long ms) {
        for (long t = 0; t < ms; t += 200) {
            if (ts_count(servilog(), text) >= n) return true;
            usleep(200000);
        }
        return false;
    }
    // The program ended by itself, within ms, with status 0.
    void endetsauber(long ms) {
        int status = ts_waitpid(pid, ms);
        ASSERT_NE(status, -1) << "the program hangs\n" << protokolle();
        pid = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << protokolle();
    }
};

// A run against one Huawei-type simulator without PIN (later ttyUSB0) and the stand-in pppd
// controlled through ctl, whose leftovers go with the test.
struct ModemRun : TandorRun {
    std::string ctl = dir + "/pppd";
    ts_modemsim modem;

    void SetUp() override {
        TandorRun::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(modem.start({"--type", "3", "--nopin", "--signal", "15"}));
        mkdir(ctl.c_str(), 0755);
    }
    void TearDown() override {
        TandorRun::TearDown();
        ts_pppdweg(ctl);
    }
    std::string transcript() { return modem.transcript(); }
    // Transcript lines from the program (direction '<') that begin with text.
    std::vector<std::string> gesendet(const std::string& text) {
        std::vector<std::string> r;
        for (const std::string& z : ts_readlines(modem.dir + "/transcript"))
            if (z.size() > 15 && z[13] == '<' && z.compare(15, text.size(), text) == 0)
                r.push_back(z);
        return r;
    }
};
