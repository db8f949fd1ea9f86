// The desktop-session client (XSMP on libSM/libICE): registers with the session manager,
// turns a logout with interaction into an ordinary program end, and holds the session
// until that end has finished.
#pragma once

#include <glib.h>

// Connects to the session manager; false (silently) when there is none.
bool sc_connect();
void sc_close();
// Handler of a save-yourself: with a shutdown that allows any interaction it requests an
// interaction and the program end; always TRUE.
gboolean shutdownproc(void* client, int phase, int savestyle, gboolean shutd, int ias,
                      gboolean fast, gpointer par);
// The interaction was granted: keep its key until the program end returns it.
void shutdowninteract(void* client, int key, int dialogtype, gpointer data);
// At the very end of the program end: return a held interaction (the logout goes on).
void sc_returninteraction();
bool sc_interactionheld();
