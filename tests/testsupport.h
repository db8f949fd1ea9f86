// Shared test support: scratch directories, file contents and child processes.
#pragma once

#include <string>
#include <vector>

// A fresh directory under /tmp for one test, removed by the test's end unless KEEP is set
// in the test name. The path has no trailing slash.
std::string ts_scratchdir();
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
