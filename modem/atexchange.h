// The serial line to the modem: opening a port (or one of a list of candidates), raw
// termios setup, writing AT commands and reading answers, and the modes that replace a
// real exchange (simulation, single port while online, Novatel secondary-port frames).
#pragma once

#include <atomic>
#include <cstddef>

#include "core/programstate.h"

// Size of an answer buffer that cm_gets fills by default.
#define CM_ANTWORTGROESSE 1000
// Length of a secondary-port frame.
#define CM_RAHMENLAENGE 651

// Waits after a command before its answer is read.
#define ANTWORTZEIT (comzeit.load())
#define ANTWORTZEIT2 (cm_secport ? 400 : comzeit.load())

extern bool cm_secport;                  // secondary-port mode in force
extern char cm_secporttext0[700];        // the 651-byte poll frame of the secondary-port mode
extern std::atomic<bool> konsoleaktiv;   // the AT console holds the port
extern std::atomic<bool> secportmanuell; // the secondary port was named by the user

// Program start: clears the read-error score and resets the port state.
void cm_ini();
// Resets the port state for a new modem initialisation (closes an open port).
void cm_postini();
// Opens port (a path, a comma list of candidates or "NONE" for simulation); NULL
// reopens the last specification. True when open (or already open). timeo is unused.
bool cm_open(const char* port, bool timeo);
void cm_close();
bool cm_isopen();
bool cm_issim();
bool cm_singleport();
// Switches once to the secondary port inidat.com2.
void cm_change();
// Sends an AT command (the caller adds the "\r"); true when written or simulated.
bool cm_puts(const char* t);
// Sends tlen raw bytes; true when all were written.
bool cm_putm(const char* t, unsigned long tlen);
// Reads the modem's answer into t (cap bytes, NUL-terminated). wartezeit is unused: the
// port's read window fixes the wait.
void cm_gets(char* t, int wartezeit, size_t cap = CM_ANTWORTGROESSE);
// Closes the port before the program end.
void cm_preend();
void cm_end();
