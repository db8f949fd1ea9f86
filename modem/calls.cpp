#include "modem/calls.h"

#include <cstring>

#include "core/logging.h"

// Stand-in until the call, USSD and homezone services are built: notes only how much text
// it got (the text may hold anything the modem sent).
void cm__ringdetect(char* t) {
    if (t && *t)
        lo_slog("Call detection (stand-in): %li bytes.\n", "", static_cast<long>(strlen(t)));
}

bool cm_anrufholen(char* nummer, size_t n) {
    if (nummer && n) nummer[0] = 0;
    return false;
}

void cm_ussdquery(char* t) {
    if (t) t[0] = 0;
}

void cm_homezonequery() {}

void cm_userat(const char* t) {
    lo_slog("User AT commands (not sent yet): %s\n", t ? t : "", -1);
}
