// The ini file tandor.ini: its single handle with the lock that serialises every access
// between threads and processes, the whole-file rewrite that never leaves a broken file,
// and iv_iniparse, which fills the configuration record at every start.
#pragma once

#include <cstdio>

extern char inidatei[40];           // name of the ini file (a profile may change it)
extern char inititel[40];           // inidatei without ".ini" when a profile named it
extern char settingsdatei[20];      // provider settings list
extern const char profildatei[12];  // profile selector "profile.ini"
extern bool _inidatneu;             // the file must be rewritten
extern bool installsub;             // second half of an installation run
extern bool smsconfigsub;           // configuration program opened on the SMS manager
extern bool configsub;              // configuration program started by a running copy

// Opens the ini file with the stdio mode ("rt" or "r+t") and takes the lock; retries as
// the file may be busy. False (with the status text " INI file is locked.") on failure.
bool iv_iniopen(const char* modus);
// Closes the file and releases the lock.
void iv_iniclose();
// The open handle between iv_iniopen and iv_iniclose, else null.
FILE* iv_inifile();
// Rewrites the whole file from the record: a temporary file beside it, flushed and
// synced, renamed over the old one. True when the new file is in place.
bool iv_iniwrite();
// Resets the record, reads the file and the arguments, takes the start-up decisions and
// rewrites the file when needed. -1 stop now, 0 complete, 1 incomplete, 2 INIWRITEEXIT.
int iv_iniparse();
