// GTK start-up and the GTK main loop: initialises GDK threads and GTK, hands the GDK
// lock and the main-loop quit to the thread registry, and runs gtk_main in the thread
// that calls gm_run.
#pragma once

// gdk_threads_init and gtk_init (under the GTK lock). False when no display can be
// opened; the caller then ends with a plain message instead of a GTK error.
bool gm_init(int* argc, char*** argv);
// Runs the GTK main loop in the calling thread inside the GTK lock; returns once the
// loop has been quit.
void gm_run();
