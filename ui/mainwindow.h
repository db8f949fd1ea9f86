// The main window's status texts (cc_mtext) and the operations that show them. This is
// the small layer that the rest of the program writes its status texts through; the
// windows themselves come with the user-interface subsystem.
#pragma once

#include <gtk/gtk.h>

#define cc_mtextFELD 10
#define cc_mtextMAX 7
#define cc_mtextERR 8
#define cc_mtextMINI 9

// Lines of cc_mtext: 1 status, 2 radio mode, 3 signal, 4/5 rates, 6 volume, 7 online time,
// 8 error, 9 mini-window text. The first character of a text is its class.
extern char cc_mtext[cc_mtextFELD][150];

// Brings the current form and all texts up to date.
void cc_show();
// Sets lines 2 to 8 to a blank, then cc_show.
void cc_show1();
// Sets lines 2 to 8 to a blank, line 1 to text and line 9 to minitext, then cc_show.
void cc_show2(const char* text, const char* minitext);
// Destroys the windows at program end.
void cc_quit();

// The window form: 1 main window, 2 and 3 mini window forms, 4 icon only; 0 none yet.
extern int fefo;
// The main window's current position; leaves x and y unchanged while there is none.
void cc_getposition(int* x, int* y);

// Sets the colour text c (for example "#ffff00") as base and background colour of w for
// the states normal, active and selected. Caller holds the GTK lock.
void setcolor(GtkWidget* w, const char* c);
