// User programs at connection events: the prefixes of the command fields in inidat.cmd,
// and the programs of the three slots, each run in a session of its own and held by its
// pid until it is stopped. The moments themselves are decided by the callers.
#pragma once

#define SP_SLOTS 3

void sp_ini();
void sp_end();

// Prefix tests of a command field: ';' hidden, '!' at program start, '|' at program end,
// ',' at every connection. The order counts: ",!" is every connection and program start,
// "!," program start only.
bool sp_ishidden(const char* cm);
bool sp_atstart(const char* cm);
bool sp_atend(const char* cm);
bool sp_ateveryconnect(const char* cm);
// The command behind all leading prefix characters.
const char* sp_cstart(const char* cm);

// Starts slot idx (0..2) with the command field cm (prefixes allowed). A name ending in
// ".at" is a file whose first line goes to the modem; anything else runs through the shell
// after the slot's previous program was stopped. A field marked for program end starts
// detached: it is not held in the slot and outlives this program.
void sp_start(int idx, const char* cm);
// As sp_start with a command template of a call or an SMS: %0..%3 stand for werte[0..3],
// which reach the shell as positional parameters and never as shell text; "%%" is '%'.
// A null value leaves its placeholder as written.
void sp_startmit(int idx, const char* vorlage, const char* const werte[4]);
// Ends the program of slot idx: SIGTERM to its process group, SIGKILL after 3 s, reaped.
// True when a program was held in the slot.
bool sp_stop(int idx);
// Ends the programs of all slots within one common grace; true when one was held.
bool sp_stopall();
