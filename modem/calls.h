// Incoming calls on the modem line. Stand-in: the call detection only notes what it was
// given until the call handling is built.
#pragma once

// Looks for RING and +CLIP lines in an answer of the modem.
void cm__ringdetect(char* t);

// Sends a line of user AT commands to the modem. Stand-in: only logs the line, nothing is
// sent until the user commands with their escapes and pauses are built.
void cm_userat(const char* t);
