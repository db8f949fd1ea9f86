// Incoming calls on the modem line. Stand-in: the call detection only notes what it was
// given until the call handling is built.
#pragma once

// Looks for RING and +CLIP lines in an answer of the modem.
void cm__ringdetect(char* t);
