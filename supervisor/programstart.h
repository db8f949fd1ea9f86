// The program start: signal handler, GTK start-up, working directory, command-line
// keywords, function from the program name, session client and the long-lived threads.
#pragma once

#include <csignal>
#include <cstddef>

// Handler of SIGHUP and SIGTERM: requests a regular end without computer shutdown. Only
// async-signal-safe work happens here; st_signallog writes the line about the signal.
void endall(int signo, siginfo_t* info, void* context);
// Writes "Received: signal ..." for a signal that endall has taken; true when it wrote.
bool st_signallog();

// The working directory chosen from the program path argv0 (without DIR= arguments):
// the directory of the program file, or for a file in a system program directory the
// shared or the home data directory (created). Empty when the inherited one stays.
// Sets ubuntusysdir.
void st_workdir(const char* argv0, const char* homedir, char* dir, size_t dirlen);
// Applies the DIR= arguments in order (relative to the directory chosen so far).
void st_dirarguments(int argc, char** argv);
// The keywords NOSPLASH, MUTE, SILENTINSTALL, STARTTOGGLE and INSTANCE; returns the
// instance digit (added to the IPC keys).
int st_keywords(int argc, char** argv);
// The function from the program name and the first argument (0, 40, 60 or 90).
int st_funktion(int argc, char** argv);

// The whole start; never returns.
[[noreturn]] void st_main(int argc, char** argv);
