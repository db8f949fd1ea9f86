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
// Reads the modem's answer into t (cap bytes, NUL-terminated): until the answer is
// complete (see cm_antwortfertig) or wartezeit seconds have passed (1 s when it is 0 or
// less). endzeile names the line that ends the answer instead of "OK" (the "> " prompt of
// +CMGS, "+CUSD:" of a USSD query); NULL for an ordinary command. Unsolicited lines that
// are never the answer are removed and logged.
void cm_gets(char* t, int wartezeit, size_t cap = CM_ANTWORTGROESSE,
             const char* endzeile = nullptr);

// The pure part of reading an answer, with befehl the command sent last (its prefix,
// "+CREG" for "AT+CREG?\r", marks the lines that belong to its answer):
// True when the n bytes read so far hold a complete answer: a final result line (OK,
// ERROR, +CME ERROR, +CMS ERROR, NO CARRIER, CONNECT, BUSY, NO ANSWER, NO DIALTONE), or
// with endzeile a line that begins with it or a final result other than OK; a
// secondary-port frame ("K...") is complete at its 651 bytes, a status frame at its closing
// flag.
bool cm_antwortfertig(const char* roh, size_t n, const char* endzeile, bool secport);
// Removes from the text in place the unsolicited lines (Huawei ^RSSI, ^MODE, ^BOOT,
// ^DSFLOWRPT, ^SRVST, ^SIMST; +CREG/+CGREG reports unless the command is of that kind;
// RING and +CLIP unless anrufe keeps them for the call detection) and copies them, each
// followed by "\n", into weg. Returns the number of lines removed.
int cm_unaufgefordert(char* text, const char* befehl, bool anrufe, char* weg, size_t wegcap);
// True when the text holds nothing but blanks, line ends and the echo of befehl.
bool cm_antwortleer(const char* text, const char* befehl);
// The modem session: a new one begins with every reset of the port state for a new
// initialisation and with every factory reset (ATZ, AT&F) sent. What the modem forgets
// then (the SMS message format) is set again when the number has changed.
unsigned cm_sitzung();
// True while an exchange would only be simulated: no port, or the single port online.
bool cm_simuliert();
// Closes the port before the program end.
void cm_preend();
void cm_end();
