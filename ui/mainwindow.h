// The main window's status texts (cc_mtext) and the operations that show them. This is
// the small layer that the rest of the program writes its status texts through; the
// windows themselves come with the user-interface subsystem.
#pragma once

// Lines of cc_mtext: 1 status, 2 radio mode, 3 signal, 4/5 rates, 6 volume, 7 online time,
// 8 error, 9 mini-window text. The first character of a text is its class.
extern char cc_mtext[10][150];

// Shows the main window (or refreshes it) in form fefo; 0 keeps the current form.
void cc_show(int fefo);
// Puts a status text into line 1 and its mini form into line 9 and shows both.
void cc_show1(const char* text, const char* minitext);
// Puts a status text into line 8 (errors and warnings) and shows it.
void cc_show2(const char* text, const char* minitext);
// Destroys the windows at program end.
void cc_quit();

// The window form: 1 main window, 2 and 3 mini window forms, 4 icon only; 0 none yet.
extern int fefo;
// The main window's current position; leaves x and y unchanged while there is none.
void cc_getposition(int* x, int* y);
