// Message boxes (synchronous with time-out, and asynchronous in a thread of their own), the
// optional parent window of all dialogs, and the wait record that every waiting dialog of
// the program (message box, button dialog, input dialog) shares with its GTK handlers.
#pragma once

#include <gtk/gtk.h>

// The program's standard time for a transient message, in milliseconds.
#define MELDUNGZEIT 4000

// A modal message dialog. mode must be 0; icon 0/1 information, 2 warning, 3 question;
// buttons 0 OK, 1 Cancel+OK, 2 No+Yes, 3 Cancel+No+Yes; mtime time-out in ms (0 none).
// Returns 1 OK/Yes, 2 No, 0 Cancel, Escape or a closed/destroyed window, -1 time-out or
// program end (th_queryterminate or programmende_gewuenscht). Arguments out of range
// (or null texts) return 0 without a dialog. Callable from any thread that does not hold the
// GTK lock; a GTK handler gives the lock back first (th_leave) and the dialog then runs a
// nested loop in the GTK thread. The same holds for the button and the input dialog.
int me_messagebox(int mode, const char* title, const char* content, int icon, int buttons,
                  int mtime);
// Returns at once; the dialog runs in a thread of its own. modus 0 OK, 1 Yes/No where Yes
// shows " Ending." and sets programmende_gewuenscht. icon 0 information, else warning.
// Callable from anywhere, also with the GTK lock held.
void me_messageboxa(int modus, const char* kopf, const char* inhalt, int icon);

// The window that dialogs are made transient for and destroyed with (null for none). Call
// with the GTK lock held; the pointer clears itself when that window is destroyed.
void me_setparent(GtkWidget* parent);
GtkWidget* me_parent();

// --- The wait shared by all waiting dialogs ------------------------------------------
// The caller builds its window under the GTK lock and attaches it; GTK handlers answer
// under the lock; the caller waits outside the lock. The first answer wins; a destroyed
// window answers 0. The record is freed by the last of the caller and the window.
struct me_dialog_t;

// endanswer: the answer given when the program end is seen while waiting.
me_dialog_t* me_dialognew(int endanswer);
// GTK lock held. Ties the record to window: its destruction answers 0; mtime > 0 starts a
// time-out (run in the GTK thread) that answers timeoutanswer.
void me_dialogattach(me_dialog_t* d, GtkWidget* window, int mtime, int timeoutanswer);
// GTK lock held. Gives the answer unless one was given, then destroys the window.
void me_dialoganswer(me_dialog_t* d, int answer);
// GTK lock held. Text that a handler stores before it answers (at most 49 characters),
// read by the caller after me_dialogwait; the caller's buffer has room for 50.
void me_dialogsettext(me_dialog_t* d, const char* text);
// Without the GTK lock: waits for the answer (running the GTK events itself when no other
// thread runs the main loop, e.g. in the GTK thread), destroys the window if it still
// exists, copies the stored text into text (when not null, 50 bytes) and releases the
// caller's hold on the record. Returns the answer.
int me_dialogwait(me_dialog_t* d, char* text);
