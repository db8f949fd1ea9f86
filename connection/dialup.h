// The data connection: starting pppd and reading its output until the link is up or a
// known error shows, ending it again, the connection-log lines of its life and the
// time-gap watch. Owns the pppd child process and the pipe from it.
#pragma once

#include <atomic>
#include <ctime>

// Error numbers of a connection attempt (cn_linuxconnect, cn_start).
enum {
    CN_OK = 0,
    CN_ROUTER = 1,        // the router did not link
    CN_START = 21,        // pppd could not be started
    CN_PROGRAMMENDE = 26, // program end during the attempt
    CN_USAGE = 29,        // pppd printed its usage
    CN_KEINPORT = 30,     // no data port of the list exists
    CN_NICHTLESBAR = 31,  // an options file could not be read
    CN_FEHLT = 32,        // a file or device (such as /dev/ppp) is missing
    CN_MANDRIVA = 33,     // "replacedefaultroute" rejected again
    CN_GESPERRT = 34,     // the port stays locked
    CN_ZUGRIFF = 35,      // no permission
    CN_ROOT = 36,         // an option requires root
    CN_SKRIPT = 37,       // the connect script failed
    CN_HANGUP = 38,       // the modem hung up
    CN_LCP = 41,          // the peer did not answer LCP
    CN_TIMEOUT = 49,      // no link within the countdown, or pppd ended without one
};

// The upload rate the main window shows; -3 connecting, -4 disconnecting, -1 ended.
extern std::atomic<long> mtextup;
// Optional vendor network mode, reset by every attempt (not available here).
extern int optiongi;

// What the dial-up calls in the traffic statistics; each null pointer means "nothing".
struct cn_dialuphooks_t {
    // Whether the kernel lists the interface (the statistics' interface reading); when
    // null, /proc/net/dev is searched for the interface name here.
    bool (*ifaktiv)();
    // Clears the traffic baselines and error counters after a new connection.
    void (*statistikreset)();
    // Applies the volume and time rounding.
    void (*volzeitrunden)();
};
extern cn_dialuphooks_t cn_dialuphooks;

// The error number of one line of pppd's output by the error table (a line that begins
// with or contains a known text), 0 when no rule fires.
int cn_fehlerregel(const char* zeile);

void cn_ini();
// 21 connects through pppd, 22 disconnects and cleans up, others return -1. Returns 0 or
// an error number.
int cn_linuxconnect(int func);
// One connection attempt with its messages, logs, counters and user programs.
void cn_start();
// Ends the connection; endemodus: 0 lost, 1 error monitor or remote, 2 user, 3 outside
// the homezone, 4 unwanted network, 5 end time of day.
void cn_stop(int endemodus);
bool cn_isactive();
bool cn_wasactiveatstart();
bool cn_timegap(time_t tim);
bool cn_wastimegap();
// At program end: stops every user program held in a slot; true when one ran.
bool cn_endprocesses();
void cn_createdialup(bool constart_alt);

// The interface of the running link ("" when none).
const char* cn_connectionname();
// Presets the interface name (from inidat.con when it names a ppp interface).
void cn_setconnectionname(const char* name);
// The pppd child started by this process, or -1.
int cn_pppdpid();
