// The supervisor's threads: the GTK thread and the main thread that owns the modem. This
// first layer of the main thread reads the configuration (with the start check) and runs
// a cycle that checks for the program end; the modem and connection work come later.
#pragma once

#include <glib.h>

// The GTK thread ("gtkthread"): runs the GTK main loop until it is quit, then closes the
// modem layer, unregisters and parks.
gpointer mt_gtkthread(gpointer par);
// The main thread ("mainthread"); never returns.
gpointer mt_mainthread(gpointer par);
