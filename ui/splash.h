// The splash screen shown while the program starts. Until the splash window is built this
// layer only keeps the requested state, so that start-up code can call it unchanged.
#pragma once

// 0 hide; 1 start; 2 "Restart."; 3 "End."; 32 "Still running."; other codes as the
// splash window defines them.
void cs_show(int code);
// The text that cs_show(9) shows.
void cs_splashtext(const char* text);
const char* cs_text();
// The code of the last cs_show call (for tests and the window that shows it).
int cs_state();
