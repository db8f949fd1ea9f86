// The desktop-session client: one XSMP connection to the session manager (libSM/libICE),
// watched from the default GLib main context. It turns a logout into an ordinary program
// end and holds the logout (a granted interaction) until the end has run.
#pragma once

#include <glib.h>

// Connects to the session manager named by the desktop session and watches the connection
// in the default main context. False, silently, when there is none or it cannot be reached.
bool sc_connect();
// Closes the connection (nothing held is answered).
void sc_close();

// Save-yourself handling, called with the connection (client, par) while a message is being
// processed. On a shutdown that allows any interaction it asks for an interaction and
// requests the program end; true means the state was saved.
gboolean shutdownproc(void* client, int phase, int savestyle, gboolean shutd, int ias,
                      gboolean fast, gpointer par);
// The interaction was granted: keeps the key; the logout now waits for sc_returninteraction.
void shutdowninteract(void* client, int key, int dialogtype, gpointer data);

// At the very end of the program: gives a held interaction back without cancelling the
// logout and reports the save as done. Any thread.
void sc_returninteraction();
// True while a granted interaction is held (the session asked the program to end).
bool sc_interactionheld();
