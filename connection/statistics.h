// Traffic statistics of the data link: the kernel's interface counters, the rates, the
// volume and online-time accounting in the header counters with their periods and log
// lines, the error monitor, and the automatic (re)connection when the link is down.
#pragma once

#include <cstdint>
#include <ctime>

// Names of the error-monitor kinds, indexed by ERR_NOC..ERR_L.
extern const char cn_errname[8][4];
// The error monitor's counters, one per kind.
extern int cn_erro[8];
// Set by the reachability probe while it stands on a pause entry of the probe list; the
// list cursor does not advance meanwhile.
extern bool cn_dnsbremse;

// Operations of other modules that the statistics call. Each null pointer means "nothing":
// no link, no interface name, no icon. The integrator fills them before the main thread runs.
struct cn_statistikhooks_t {
    // One connection attempt (dial-up's cn_start) and the end of the link (cn_stop).
    void (*start)();
    void (*stop)(int endemodus);
    // Router mode: the router's link state (dial-up's cn_isactive).
    bool (*isactive)();
    // The time-gap watch (dial-up's cn_timegap); 0 means now.
    bool (*timegap)(time_t tim);
    // The interface name of the running link ("" or null when none) and its preset.
    const char* (*ifname)();
    void (*setifname)(const char* name);
    // Router mode: the router's byte counters in kB (cm_linkcom(code, NULL); 5 transmit,
    // 6 receive).
    long (*linkcom)(int code);
    // The traffic probe: one DNS query for a list entry, and whether an entry is a pseudo
    // address the router mode may probe.
    bool (*dnsecho)(const char* host, bool warten);
    bool (*ipok)(const char* host);
    // The main tray icon: kind (4 connecting) and tooltip.
    void (*trayicon)(int art, const char* tooltip);
    // Brings the main window's texts up to date (cc_show).
    void (*anzeigen)();
};
extern cn_statistikhooks_t cn_statistikhooks;

// Reads the interface table. 1: the interface is listed, and bu/bd receive its transmit
// and receive bytes and err (8 counters) the error fields to add; 0: not listed, or no
// name known but a data port is configured; -1: nothing usable is known or the table
// cannot be read. Every pointer may be null.
int cn_ifstatistics(int64_t* bu, int64_t* bd, int* err);
// Whether the kernel lists the link's interface now.
bool cn_ifaktiv();

// One measuring pass of the main loop. Rates in bytes per second (-1 not measurable in
// this pass, 0 below 170), volume in kB. True only when it has just started a connection.
bool cn_statistics(long* bpsu, long* bpsd, long* kbvol);

// Rounds the pending volume and the online time up to the tariff's units.
void volzeitrunden();

// The state of a program start: baselines unknown, no pass yet, error counters clear.
void cn_statistikini();

// A connection was just made: the byte baselines start at 0 (the new interface counts
// from there), the time of the last pass is now, the error counters are cleared.
void cn_statistikreset();

// Takes the traffic since the last pass into the volume while the interface is still
// listed (before the link is ended), so the last seconds of a connection are counted.
void cn_nachmessen();

// Program end and rest: counts the traffic and online minutes since the last pass, folds
// the pending bytes into the volume counter and writes the header once, when a volume or
// time period is configured (only then do the counters persist).
void cn_sichern();

// The error-monitor field of the main window from the counters and tolerances: "0" below
// the display threshold, else "+Error CRC 3" and the like. Returns the highest level
// (1000 = a tolerance reached) and its kind in art (may be null).
int cn_fehleranzeige(char* out, int n, int* art);
