// The one-second timer tick in the GTK main loop: it keeps the warning, countdown,
// homezone and battery icons in step with the supervisor's state, makes them flash,
// brings back an iconified mini window, passes the SMS signal between instances and
// disconnects when the link leaves the homezone (MOD=H).
#pragma once

#include <atomic>
#include <glib.h>

// Timer state: 0 running, 1 end requested, 2 stopped (at program start).
extern std::atomic<int> ti__ticke;

// Starts the tick; never waits: cancels an end not yet seen by the tick, or registers the
// timer when none runs. Two timers never run at once.
void ti_ini();
// The next tick removes the timer; the time base ti_htime starts again at 0.
void ti_end();
// The timer callback (GTK main loop, GTK lock not held); FALSE removes the timer.
gboolean ti__tick(gpointer);
// Ticks run since the program start (for diagnostics and the tests).
long ti_tickzahl();

// What a tick sees of the program's state.
struct ti_lage_t {
    int zaehler;    // tick counter 0..31 after this tick's step
    int funktion;   // inidat.funktion
    bool configsub; // configuration program started by a running copy
    bool netzfremd; // a network outside the allowed ones
    int maxgrenze;  // 0 none, 1 warning, 2 limit reached
    unsigned long onlinezeit, offlinezeita, inaktivzeit; // hundredths
    unsigned long end;                                   // END= minutes
    bool endforce;
    int errnoc;         // ERR= minutes without connection before its action
    bool homu;          // a homezone query is configured
    int homezonestatus; // 0 unknown, 1 inside, 2 outside
    bool homezoneende;  // MOD=H
    int unterbrechung;  // unterbrechung_gewuenscht
};

// What the tick does about it.
struct ti_tun_t {
    // Warning icon: kind, or -1 for no call; text 0 empty, 1 "Foreign network!", 2 the
    // limit text; state for the record (-1 none).
    int warnart = -1, warntext = 0, vicon = -1;
    bool gerade = false; // the second-tick steps run (window, time gap, icons below)
    // Countdown icon (on even ticks outside the frontend mode): kind 0..3, minutes.
    int tart = -1;
    unsigned long twert = 0;
    // Homezone icon kind (-1 no call), its record state, and the MOD=H disconnect.
    int hart = -1, hicon = 0;
    bool homezoneende = false;
    bool akku = false; // the battery icon is updated
};
ti_tun_t ti_entscheiden(const ti_lage_t& l);
