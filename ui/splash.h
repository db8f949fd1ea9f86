// The splash window: a borderless yellow box in the middle of the screen that says what
// the program is doing (start, restart, end, standby, saving) and shows short
// confirmations that hide themselves. Owns the window, its message and the kind-9 text.
#pragma once

// Shows the message of a kind, or hides the window (0, unknown kinds, and the start/end
// kinds while cs_nosplash is set; kind 1 also in the SMS configuration instance):
//   1 "Start."  2 "Restart."  3 "End."  5 storing  9 the text of cs_splashtext
//   10 terminating  11 entering standby  12 resuming  21 please wait (hides after 4 s)
//   32 "Still running." (2.5 s)  33 send request accepted (1.5 s)  34 name stored (2 s)
// Texts follow _de. The window is built on the first call that finds GTK initialised.
//
// Locking: a thread outside the GTK main loop must not hold the GDK lock; cs_show takes
// it itself and returns with the window already updated. Code that runs inside the GTK
// main loop (a handler or timeout, with or without the lock) never waits: the change is
// queued to the loop and carried out as soon as the current handler has returned.
// Without GTK (no display opened) only the state below is kept.
void cs_show(int splashart);
// Stores the message of kind 9 (at most 59 characters, Latin-1 or UTF-8).
void cs_splashtext(const char* t);

// The kind now in effect (0 while hidden, also after a message has hidden itself) and
// its message in UTF-8 ("" while hidden).
int cs_state();
const char* cs_text();
