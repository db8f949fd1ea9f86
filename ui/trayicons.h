// The tray status icons and their short text codes. This is a stand-in until the drawn
// icons exist: ic_mshow records its call and shows nothing, and every code stays empty.
#pragma once

#include <atomic>

// Text codes of the kinds the icons now show (main, warning, countdown, homezone,
// battery); the main window puts them into its title. Empty while nothing is shown.
extern std::atomic<const char*> ic_micon, ic_wicon, ic_ticon, ic_hicon, ic_bicon;

// Main icon: kind art 0..5 (0 hides it), network type ba, signal sig in percent, rates
// up/down in kB/s, tooltip text; -1 keeps the value last given, null text is "".
// Takes the GTK lock itself, so it must be called without it.
void ic_mshow(int art, int ba, int sig, int up, int down, const char* text);

// The last ic_mshow call as recorded by the stand-in, and how many there were.
struct ic_mshowcall {
    int art, ba, sig, up, down;
    char text[150];
};
ic_mshowcall ic_lastmshow();
int ic_mshowcount();
