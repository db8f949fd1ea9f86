#include "supervisor/mainthread.h"

#include "config/inifile.h"
#include "config/profiles.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "modem/atexchange.h"
#include "supervisor/programend.h"
#include "ui/gtkmain.h"
#include "ui/mainwindow.h"
#include "ui/splash.h"

#include <atomic>
#include <cstring>

gpointer mt_gtkthread(gpointer) {
    th_register("gtkthread");
    gm_run();
    cm_end();
    th_unregister(nullptr);
    th_sleepinfinite();
}

namespace {
// Result 1 of the configuration reader: say what is missing, then end.
void mt__unvollstaendig() {
    if (inidat.hinweisk == '3') {
        inidat.hinweisk = '0';
    } else if (strchr("1378", inidat.hinweisk)) {
        cc_show2(_de ? "*Bitte beachten:" : "*Please inspect:",
                 _de ? "*Bitte beachten:" : "*Please inspect:");
        th_msleep(4000);
        cc_show2(_de ? "*CONFIG oder tandor.ini" : "*CONFIG or tandor.ini",
                 _de ? "*CONFIG oder tandor.ini" : "*CONFIG or tandor.ini");
        th_msleep(4000);
    } else if (!configsub) {
        cc_show2(_de ? "*Bitte Datei \"tandor.ini\" beachten."
                     : "*Please read INI-file \"tandor.ini\".",
                 _de ? "*Bitte Datei \"tandor.ini\" beachten."
                     : "*Please read INI-file \"tandor.ini\".");
        th_msleep(4000);
    }
}
} // namespace

gpointer mt_mainthread(gpointer) {
    th_register("mainthread");
    for (;;) {
        if (inidat.funktion == FUNKTION_PROFILE) {
            iv_changeprofile();
            programmende(true);
        }
        int ergebnis = iv_iniparse();
        if (ergebnis == 1) mt__unvollstaendig();
        if (ergebnis != 0) {
            if (ruhestatus == 4) ruhestatus = 0;
            programmende(true);
        }
        if (inidat.funktion != FUNKTION_CONFIG) inidat.hinweisk = '0';
        if (ruhestatus == 4) ruhestatus = 0;
        if (inidat.funktion != FUNKTION_CONFIG) {
            cs_show(0);
            // The form stored in the header, unless a mini form or the icon is shown already.
            std::atomic_ref<int> form(fefo);
            int jetzt = form.load();
            if (jetzt != fefo_MINI && jetzt != fefo_MINI2 && jetzt != fefo_ICON)
                form.store(inidat.headerfefo);
            cc_show();
        }
        if (inidat.funktion > 39) programmende(true);
        cc_show2(" Start.", " Start.");
        lo_slog("Main thread: cycle started.\n", "", -1);
        // The cycle: one check point about every 1.8 s.
        for (;;) {
            th_msleepexit(1800);
            if (programmende(false)) break; // rested: start again
        }
    }
}
