#include "modem/calls.h"

#include <cstring>

#include "core/logging.h"

// Stand-in: notes only how much text it got (the text may hold anything the modem sent).
void cm__ringdetect(char* t) {
    if (t && *t)
        lo_slog("Call detection (stand-in): %li bytes.\n", "", static_cast<long>(strlen(t)));
}

void cm_userat(const char* t) {
    lo_slog("User AT commands (not sent yet): %s\n", t ? t : "", -1);
}
