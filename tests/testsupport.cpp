#include "testsupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

std::string ts_scratchdir() {
    char templ[] = "/tmp/tandor-test-XXXXXX";
    char* d = mkdtemp(templ);
    return d ? std::string(d) : std::string("/tmp");
}

std::string ts_readfile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return "";
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void ts_writefile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}

std::vector<std::string> ts_readlines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line)) lines.push_back(line);
    return lines;
}

int ts_spawn(const std::vector<std::string>& argv, const std::string& outfile,
             const std::string& cwd) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (!outfile.empty()) {
        int fd = open(outfile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
    }
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int ts_waitpid(int pid, long timeoutms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutms);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string ts_helper(const char* name) { return std::string(TANDOR_BINARY_DIR) + "/tests/" + name; }
