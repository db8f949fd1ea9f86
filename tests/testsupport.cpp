#include "testsupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
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

std::string ts_workdir() {
    std::string d = ts_scratchdir();
    if (chdir(d.c_str()) != 0) return "";
    setenv("TZ", "UTC", 1);
    tzset();
    return d;
}

bool ts_waitfor(const std::string& path, const std::string& text, long ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (ts_readfile(path).find(text) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
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
    while (std::getline(f, line))
        lines.push_back(line);
    return lines;
}

namespace {
[[noreturn]] void ts__exec(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}
} // namespace

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
    ts__exec(argv);
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

std::string ts_helper(const char* name) {
    return std::string(TANDOR_BINARY_DIR) + "/tests/" + name;
}

bool ts_piped::start(const std::vector<std::string>& argv) {
    int pin[2], pout[2];
    if (pipe(pin) != 0) return false;
    if (pipe(pout) != 0) return false;
    pid = fork();
    if (pid == 0) {
        dup2(pin[0], 0);
        dup2(pout[1], 1);
        close(pin[0]), close(pin[1]), close(pout[0]), close(pout[1]);
        ts__exec(argv);
    }
    close(pin[0]), close(pout[1]);
    in = pin[1], out = pout[0];
    leser = std::thread([this] {
        std::string buf;
        char c[256];
        ssize_t n;
        while ((n = read(out, c, sizeof c)) > 0) {
            buf.append(c, n);
            size_t nl;
            while ((nl = buf.find('\n')) != std::string::npos) {
                std::string z = buf.substr(0, nl);
                buf.erase(0, nl + 1);
                if (onzeile) onzeile(z);
                std::lock_guard<std::mutex> l(mu);
                zeilen.push_back(z);
                cv.notify_all();
            }
        }
    });
    return pid > 0;
}

void ts_piped::send(const std::string& line) {
    std::string l = line + "\n";
    if (in >= 0 && write(in, l.data(), l.size()) != (ssize_t)l.size()) {
    }
}

int ts_piped::countlocked(const std::string& prefix) {
    int n = 0;
    for (auto& z : zeilen)
        n += z.compare(0, prefix.size(), prefix) == 0;
    return n;
}

int ts_piped::count(const std::string& prefix) {
    std::lock_guard<std::mutex> l(mu);
    return countlocked(prefix);
}

bool ts_piped::waitcount(const std::string& prefix, int n, long ms) {
    std::unique_lock<std::mutex> l(mu);
    return cv.wait_for(l, std::chrono::milliseconds(ms), [&] { return countlocked(prefix) >= n; });
}

int ts_piped::indexof(const std::string& line, int occurrence) {
    std::lock_guard<std::mutex> l(mu);
    for (size_t i = 0; i < zeilen.size(); i++)
        if (zeilen[i] == line && occurrence-- == 1) return (int)i;
    return -1;
}

std::string ts_piped::line(size_t i) {
    std::lock_guard<std::mutex> l(mu);
    return i < zeilen.size() ? zeilen[i] : std::string();
}

void ts_piped::stop(long ms) {
    if (in >= 0) close(in);
    in = -1;
    if (pid > 0 && ts_waitpid(pid, ms) == -1) {
        kill(pid, SIGKILL);
        ts_waitpid(pid, ms);
    }
    pid = -1;
    if (leser.joinable()) leser.join();
    if (out >= 0) close(out);
    out = -1;
}

std::string ts_output(const std::string& command) {
    std::string r;
    FILE* f = popen(command.c_str(), "r");
    if (!f) return r;
    char buf[512];
    while (fgets(buf, sizeof buf, f))
        r += buf;
    if (pclose(f) != 0) return "";
    return r;
}

int ts_count(const std::string& s, const std::string& part) {
    int n = 0;
    for (size_t p = s.find(part); p != std::string::npos; p = s.find(part, p + 1))
        n++;
    return n;
}
