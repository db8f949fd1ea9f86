// The program's window in its four forms (normal window, mini window, tray icon, none),
// the status-text table cc_mtext that every part writes and the window shows, and the
// program menu whose entries set the request flags the main thread acts on.
#pragma once

#include <cstddef>
#include <gtk/gtk.h>

#define cc_mtextFELD 10
#define cc_mtextMAX 7
#define cc_mtextERR 8
#define cc_mtextMINI 9

// Window forms; fefo holds one of them.
enum fefo_t { fefo_OHNE = 0, fefo_NORMAL = 1, fefo_MINI = 2, fefo_MINI2 = 3, fefo_ICON = 4 };

// Lines of cc_mtext: 1 status, 2 radio mode, 3 signal, 4/5 rates, 6 volume, 7 online time,
// 8 error, 9 mini-window text. The first character of a text is its marker: ' ' normal,
// '+' notice, '*' alarm, '0' not yet set.
extern char cc_mtext[cc_mtextFELD][150];

// The requested form (a fefo_t). An int so that plain int hooks can hand it out; threads
// that switch it concurrently go through std::atomic_ref.
extern int fefo;
// The window of the normal or mini form, null otherwise; dialogs use it as their parent.
// Changed only under the GTK lock.
extern GtkWidget* mainwindow;

// These take the GTK lock themselves and must be called without it.
// Brings the form and all texts up to date; builds the window when the form changed.
void cc_show();
// Sets lines 2 to 8 to a blank, then cc_show.
void cc_show1();
// Sets lines 2 to 8 to a blank, line 1 to mtnormal and line 9 to mtmini, then cc_show.
void cc_show2(const char* mtnormal, const char* mtmini);
// At the program end: hides the tray icon of the icon form; otherwise nothing.
void cc_quit();
// Starts the configuration program (funktion "CONFIG", or "SMSCONFIGSUB" for the SMS
// manager) without a shell, with the DIR= and INSTANCE arguments of this program, so that
// it works on the same files and flags. False when it is missing or did not start.
bool cc_konfigurationstarten(const char* funktion);
// The window's position; leaves x and y unchanged while there is no window.
void cc_getposition(int* x, int* y);
// Every 2 s from the timer tick: brings back an iconified mini window.
void cc_tick();
// Gives the window its icon (redrawn when the function changed).
void cc_seticon();
bool cc_maximized();

// These run with the GTK lock held (GTK handlers, tray icon clicks).
// Builds the program menu for the current state and pops it up.
void cc_menu();
// Sets the colour text c (for example "#ffff00") as base and background colour of w for
// the states normal, active and selected.
void setcolor(GtkWidget* w, const char* c);

// The text rules of the windows, without any GTK state.
// Background of a normal-window field for a marker.
const char* cc_feldfarbe(char marker);
// Background of the mini window for a mini text (with its marker): alarm, notice, then
// online blue or offline black; gruengprs (MOD=O) makes an online "G<digit>" text green.
const char* cc_minifarbe(const char* minitext, bool online, bool gruengprs);
// One-line form of a mini text: the first '_' becomes a blank; without one the first '~'
// is removed; without either the first '\' is removed.
void cc_minitext(char* out, size_t n, const char* text);
// Two-line form: the first '_' or '\' becomes a line break, a '~' a hyphen and a line
// break (same precedence as the one-line form).
void cc_minitext2(char* out, size_t n, const char* text);
// Pango markup of the mini label: text (UTF-8, escaped here) on the colour, padded with
// blanks so that the colour fills the window's width.
void cc_minimarkup(char* out, size_t n, const char* farbe, const char* text);
// Latin-1 and UTF-8 texts of the program into valid UTF-8 for GTK, cut on a character
// boundary to fit n bytes.
void cc_utf8(char* out, size_t n, const char* in);
// "[code" for each non-empty icon code, in the order given (at most 29 characters).
void cc_codes(char* out, size_t n, const char* const codes[5]);
// Window title: the codes and a blank, "<inititel> - " or else "<rem> - ", "tandor 0.5";
// at most 119 characters.
void cc_titel(char* out, size_t n, const char* codes, const char* titel, const char* rem);
