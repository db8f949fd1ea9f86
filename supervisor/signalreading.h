// The main thread's readings of signal and network state over the AT port: registration and
// network name with the network-search display, radio mode, operator code, location and
// signal, and the publishing of one cycle (status lines, connection log, beeps, battery).
#pragma once

#include <cstddef>

#include "modem/atexchange.h"
#include "supervisor/signalstatus.h"

// Everything the readings keep from one cycle to the next; the main loop owns one record
// and resets it with sr_ini at every (re)start.
struct sr_zustand_t {
    ss_signal_t signal;
    ss_netz_t netz;
    int netfail = 0;           // failed operator reads in a row (kind 2: across cycles)
    bool netsearching = false; // the network search is shown
    // Answers of the current cycle, evaluated when it is published. An empty answer was
    // not asked or not understood.
    char cops[CM_ANTWORTGROESSE] = "";    // +COPS? in long format of a successful step
    char copsnum[CM_ANTWORTGROESSE] = ""; // +COPS? in numeric format
    char modus[CM_ANTWORTGROESSE] = "";   // +ZPAS? or $NWRAT?
    char reg[CM_ANTWORTGROESSE] = "";     // registration answer with the location
    char regtag[8] = "";                  // its tag ("CGREG", "CREG")
};

// Speeds and volume of the statistics pass, for the mode text and the mini line.
struct sr_statistik_t {
    long hoch = -1, runter = -1; // bytes/s, -1 unknown
    long kbv = 0;                // volume in kB
};

// Results of the network step and of a whole cycle.
enum {
    SR_WEITER = 0,   // go on with the cycle
    SR_NEUSTART = 1, // programmende(false) returned true: the main loop restarts
    SR_ENDE = 2,     // the program end was asked for (modem's end frame, SIM unusable)
};

// The router link (link mode) until that layer exists: signal value (below 1 none), network
// name (false none) and radio mode. Null members give "none".
struct sr_router_t {
    int (*signal)();
    bool (*netzname)(char* name, size_t n);
    int (*betriebsart)();
};
extern sr_router_t sr_router;

// Tone output of the reading's beeps; beep of core by default, replaceable by tests.
extern bool (*sr_ton)(int fq, int dur);

// Fresh state after a (re)start; takes the "cannot report" marks of the discovery.
void sr_ini(sr_zustand_t& z);

// The signal reading: AT+CSQ (kind 5: AT+CIND? when it says 99), or the router's value.
// altwert: keep the valid previous value in sigalt first. True when a value was accepted.
bool sr_signal(sr_zustand_t& z, bool altwert);
// Registration and network name, up to 8 attempts with the network-search display.
// SR_WEITER also after 8 failures (logged); SR_NEUSTART or SR_ENDE as above.
int sr_netz(sr_zustand_t& z);
// Radio-mode answer (kinds 2 and 8) and numeric operator code.
void sr_betriebsart(sr_zustand_t& z);
// Location (LAC and cell id) for the kinds that are asked for it.
void sr_ort(sr_zustand_t& z);
// Evaluates the cycle's answers and publishes them (status lines 1-3 and 9, connection log,
// beeps, tray icon, battery). zaehler: the main loop's cycle counter.
void sr_publizieren(sr_zustand_t& z, int zaehler, const sr_statistik_t& st);
// One whole reading cycle in the main loop's order: network, radio mode and operator code,
// location, signal, publishing. altwert as for sr_signal.
int sr_zyklus(sr_zustand_t& z, int zaehler, const sr_statistik_t& st, bool altwert = true);

// The network texts of the frontend record from a known network (name, code, location);
// cleared without one (null, empty name, searching, no service).
void sr_recordnetz(const ss_netz_t* n);

// Connection-log lines after the statistics pass started a connection (signal above 0 %).
void sr_log_verbindungsstart(const sr_zustand_t& z);

// Status text of a de_inipin result other than ready (main and mini form alike).
const char* sr_pintext(int code);

// The mini line (line 9) from the state: mode letter, signal, volume/speed/online time, name.
void sr_minizeile(const sr_zustand_t& z, char modusbuchstabe, int zaehler, const sr_statistik_t& st,
                  char* zeile, size_t n);

// The acoustic signal display of sigalt (tens digit) and sig (units digit): one tone per
// entry (frequency, length, silence after it in ms). Returns the number of entries.
struct sr_ton_t {
    int fq, dauer, pause;
};
int sr_tonfolge(int sigalt, int sig, sr_ton_t* t, int maxanzahl);
