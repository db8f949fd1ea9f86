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
