// The start-up checks that make a connection run usable without prior setup: the command
// port (searched on /dev/ttyUSB9..0 with COM=?), the secondary port, the SIM state, the
// network list and the APN asked from the modem, and the size of the service log.
#pragma once

#include <cstddef>

// Runs the checks once, on the main thread, before the modem is used for the connection.
// Returns -1 when the program is to end, 1 when the configuration is incomplete (a hint or
// a status text told the user what to do), 0 when all is fine. *neuschreiben is set when
// the ini file must be rewritten. nurports: only the ports of COM= are taken (a new ini
// file, whose settings the modem is not asked for).
int iv_startchecks(bool* neuschreiben, bool nurports);

// The secondary port derived from the command port: its last digit increased by one, with
// a carry into the digits before it ("/dev/ttyUSB9" gives "/dev/ttyUSB10").
void iv_zweitport(const char* com1, char* com2, size_t n);

// Takes the names of a +COPS=? answer: entries "(stat,\"name\"" with names of at most 30
// characters, each appended as ";name" (a name only once). Returns the number appended;
// liste keeps its NUL within n bytes.
int iv_netzliste(const char* antwort, char* liste, size_t n);

// The public Internet APN of an operator code; null for operators without a known one.
const char* iv_apnausplmn(const char* plmn);
