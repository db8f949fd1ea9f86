// The modem simulator as a child process of a test: its port(s), its control file and
// its transcript, in a scratch directory of its own.
#pragma once

#include "testsupport.h"

#include <csignal>
#include <string>
#include <unistd.h>
#include <vector>

struct ts_modemsim {
    std::string dir, port, zweit;
    int pid = -1;

    // Starts tools/modemsim with args; true once it has named its port(s).
    bool start(const std::vector<std::string>& args) {
        dir = ts_scratchdir();
        std::vector<std::string> argv{TANDOR_BINARY_DIR "/tools/modemsim", "--control",
                                      dir + "/control", "--transcript", dir + "/transcript"};
        argv.insert(argv.end(), args.begin(), args.end());
        pid = ts_spawn(argv, dir + "/out");
        if (!ts_waitfor(dir + "/out", "\n", 5000)) return false;
        std::string out = ts_readfile(dir + "/out");
        if (out.rfind("port ", 0) != 0) return false;
        port = out.substr(5, out.find('\n') - 5);
        for (const auto& a : args)
            if (a == "--secondary") {
                if (!ts_waitfor(dir + "/out", "secondary ", 2000)) return false;
                zweit = ts_readlines(dir + "/out").at(1).substr(10);
            }
        return true;
    }
    // One line of the control file; returns once the simulator has taken it.
    void control(const std::string& line) {
        ts_writefile(dir + "/control", line + "\n");
        for (int i = 0; i < 100 && !ts_readfile(dir + "/control").empty(); i++)
            usleep(10000);
    }
    std::string transcript() { return ts_readfile(dir + "/transcript"); }
    ~ts_modemsim() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            if (ts_waitpid(pid, 3000) == -1) {
                kill(pid, SIGKILL);
                ts_waitpid(pid, 3000);
            }
        }
    }
};
