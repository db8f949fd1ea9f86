// Limits, warnings and automatic disconnection: the limit step of the main loop (the
// period's volume and online time against pre-warning, warning and hard limit) and the
// warning thread that asks about a foreign network, leaving the homezone and the end time.
#pragma once

#include <glib.h>

// What one limit pass decides.
struct wa_grenzen_t {
    int maxgrenze = 0;           // new limit state: 0 below, 1 pre-warning, 2 warning reached
    bool warnung = false;        // announce the warning now (first reached)
    bool vorwarnung = false;     // announce the pre-warning now (first reached)
    bool ueberschritten = false; // the hard limit is reached
    char markev = ' ';           // class character of the volume line: '*', '+' or ' '
    char markez = ' ';           // the same for the online-time line
};

// The limit decision, without effects. v: volume of the period in kB; t: online minutes of
// the period; max, maxt: pre-warning, warning and hard limit (0 or less: not set);
// maxgrenze: the state left by the pass before.
wa_grenzen_t wa_grenzentscheidung(long v, long t, const long max[3], const long maxt[3],
                                  int maxgrenze);

// The limit step of the main loop on the header counters: announces a warning or
// pre-warning once per crossing, keeps maxgrenze and maxgrenzes, and at the hard limit cuts
// the link, stops automatic connection and ends the program (then it does not return,
// except while the program rests). Returns the decision for the window's markers.
wa_grenzen_t wa_grenzen();

// The questions of the warning thread that were already asked: foreign network and
// homezone once per program run, the end time once per entry into its window.
struct wa_marken_t {
    bool fremdnetz = false;
    bool homezone = false;
    bool enduhrzeit = false;
};

// Whether minute (of the day, 0..1439) lies in the end-time window e1..e2 (both ends
// included; a window may run over midnight; -1 for either end: no window).
bool wa_innerhalb(int e1, int e2, int minute);

// The question to ask now: 0 none, 1 foreign network, 2 outside the homezone, 3 end time
// reached; updates the marks. At most one question per call, in that order.
int wa_frageart(bool fremd, int homezone, int e1, int e2, int minute, wa_marken_t& m);

// The warning thread ("warningthread"); returns after unregistering at program end.
gpointer wa_warningthread(gpointer par);
