// The tray status icons: the main icon of the icon form (connection state, network letter
// and signal bars, or the rates as digits) and the warning, homezone, countdown and
// battery icons. Each is a GtkStatusIcon whose 22 x 22 picture is painted pixel by pixel
// (ui/iconpainting.h); a click on any of them opens the program menu.
#pragma once

#include <atomic>
#include <gtk/gtk.h>

// Text codes of the kinds the icons now show (main, warning, countdown, homezone,
// battery); the main window puts them into its title. Empty while nothing is shown.
extern std::atomic<const char*> ic_micon, ic_wicon, ic_ticon, ic_hicon, ic_bicon;

// The kind each icon shows now (0 hidden) and the tooltip last set, as UTF-8 (written
// under the icon's own lock).
extern std::atomic<int> ic__mart, ic__wart, ic__hart, ic__tart, ic__bart;
extern char ic__mtext[150], ic__wtext[150], ic__htext[150], ic__ttext[150], ic__btext[150];

// Nothing to prepare or release but the icons' visibility: ic_end hides the secondary
// icons at the program end (the main icon goes with the icon form, cc_quit).
void ic_ini();
void ic_end();

// Every show operation takes its own lock and then the GTK lock itself, so it must be
// called without the GTK lock held; any thread may call it.
// Main icon: kind art 0..5 (0 hidden, 1 online, 2 not connected, 3 network search,
// 4 connecting, 5 disconnecting), network type ba, signal sig in percent, rates up/down in
// kB/s, tooltip text (the mini text: its first '_' becomes a blank, else the first '~' or
// '\' is removed); -1 keeps the value last given, a null text counts as empty. Shown only
// in the icon form; entering that form (any call after the form changed) shows the kind
// last drawn, "not connected" when there was none.
void ic_mshow(int art, int ba, int sig, int up, int down, const char* text);
// Warning icon: 0 hide, 1 steady, 2 flashing, -1 advance the flashing by one phase.
void ic_wshow(int art, const char* text);
// Homezone icon: 0 hide, 1 unknown, 2 inside, 3 outside (flashing), -1 advance the flashing.
void ic_hshow(int art, const char* text);
// Countdown icon: 0 hide, 1 remaining online time, 2 remaining idle time, 3 time until the
// no-connection action; val the remaining minutes.
void ic_tshow(int art, unsigned long val, const char* text);
// Battery icon of a mobile set: val the level in percent (BATT= thresholds decide).
void ic_bshow(int val, const char* text);

// Handlers of the icons' clicks (GTK main loop, GTK lock held): both open the menu.
void ic__activate(GtkStatusIcon*, gpointer);
void ic__popupmenu(GtkStatusIcon*, guint button, guint activate_time, gpointer);

// For the icon form's fallback (GTK lock held): whether a tray host has embedded the main
// icon, and whether the display has a tray host at all (the tray selection has an owner).
bool ic_eingebettet();
bool ic_trayhost();
// Docks the main icon anew (hides and shows it), after a tray host appeared. GTK lock held.
void ic_neudocken();
