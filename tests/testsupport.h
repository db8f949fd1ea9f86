// Shared test support: scratch directories, file contents and child processes.
#pragma once

#include <string>
#include <vector>

// A fresh directory under /tmp for one test, removed by the test's end unless KEEP is set
// in the test name. The path has no trailing slash.
std::string ts_scratchdir();
// A fresh scratch directory made the working directory, with local time set to UTC so
// that virtual clock times read plainly. Returns the directory ("" when chdir failed).
std::string ts_workdir();
// Waits up to ms until the file contains text.
bool ts_waitfor(const std::string& path, const std::string& text, long ms);
// How often part occurs in s (overlapping occurrences included).
int ts_count(const std::string& s, const std::string& part);
// Standard output of a shell command ("" when it fails).
std::string ts_output(const std::string& command);
// Whole file contents ("" when unreadable).
std::string ts_readfile(const std::string& path);
void ts_writefile(const std::string& path, const std::string& content);
// Lines of a file without their newlines.
std::vector<std::string> ts_readlines(const std::string& path);
// Runs argv as a child with its output to outfile (or inherited when empty); returns pid.
int ts_spawn(const std::vector<std::string>& argv, const std::string& outfile = "",
             const std::string& cwd = "");
// Waits up to timeoutms for the child; returns its wait status, or -1 on time-out.
int ts_waitpid(int pid, long timeoutms);
// Path of a helper program built beside the tests.
std::string ts_helper(const char* name);

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A child process whose stdin and stdout are pipes; a reader thread collects its output
// lines. Used to drive the test session manager and similar helper programs.
struct ts_piped {
    int pid = -1;
    // Called in the reader thread for each line, before the line is stored.
    std::function<void(const std::string&)> onzeile;

    bool start(const std::vector<std::string>& argv);
    void send(const std::string& line);
    // Number of lines that begin with prefix.
    int count(const std::string& prefix);
    bool waitcount(const std::string& prefix, int n, long ms);
    // Index of the occurrence-th line equal to line, or -1.
    int indexof(const std::string& line, int occurrence);
    std::string line(size_t i);
    // Closes its stdin, waits for it (killing it after ms) and joins the reader.
    void stop(long ms = 3000);
    ~ts_piped() { stop(); }

  private:
    int in = -1, out = -1;
    std::thread leser;
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> zeilen;
    int countlocked(const std::string& prefix);
};
