// The program end: the one place where the program decides to end, to rest (close the
// modem and start again) or to interrupt the current connection, with the automatic end
// conditions in minutes and the computer shutdown after the end.
#pragma once

// erzwingen: request the end now. Returns false when nothing is to be done, after an
// interruption, or during a rest; true when the program has just rested (the main thread
// starts again). Does not return when the program ends.
bool programmende(bool erzwingen);

// The command of the computer shutdown after the end (2 reboot, else power off) as an
// argument vector for sudo; null-terminated, valid until the next call.
const char* const* pe_shutdownbefehl(int endshutdown);
// Runs the shutdown command without a shell; true when sudo ended with status 0.
bool pe_shutdown(int endshutdown);
