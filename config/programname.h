// The program file's functions: the name of the program file (or, for a generically
// named copy, its first argument) selects what the program does; the arguments that are
// not consumed that way are read as ini lines.
#pragma once

// The function of an upper-cased program name without ".EXE": 0 plain, 1..4 and 9 radio
// modes, 40, 50, 60, 81, 82, 90; -1 for a name the table does not know.
int pn_funktion(const char* name);
// Takes the program name from argv (sets inidat.programm, installsub, smsconfigsub,
// configsub, and _de for INSTALLSUB_D/E) and returns the function of that name (-1 for
// an unknown name). *erstesargument receives the index of the first argument that is
// to be read as an ini line.
int pn_programmname(int argc, char** argv, int* erstesargument);
// Whether an argument is one of the keywords of the program start (NOSPLASH, MUTE, ...).
bool pn_startkeyword(const char* arg);
