#include "ui/messagebox.h"

#include "core/logging.h"

int me_messageboxa(const char* title, const char* text, int mode, int icon) {
    (void)mode;
    (void)icon;
    lo_slog("Message box: %s\n", title ? title : "", -1);
    lo_slog("%s\n", text ? text : "", -1);
    return 1;
}
