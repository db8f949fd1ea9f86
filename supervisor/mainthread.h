// The supervisor's threads: the GTK thread, and the main thread that owns the modem: it
// reads the configuration, brings the modem up (PIN, radio mode, network, APN) and runs the
// cycle of readings, statistics, connect permission and end checks, resting and restarting.
#pragma once

#include <glib.h>

// The GTK thread ("gtkthread"): runs the GTK main loop until it is quit, then closes the
// modem layer, unregisters and parks.
gpointer mt_gtkthread(gpointer par);
// The main thread ("mainthread"); never returns.
gpointer mt_mainthread(gpointer par);
// The network selection of the mode functions 1 to 4 (inidat.net, or automatic when none
// is set), repeated with the search texts until the modem accepts it; false when the
// program rested meanwhile (programmende) and starts again.
bool mt_netzwahl();
