#include "supervisor/mainthread.h"

#include "config/inifile.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "modem/atexchange.h"
#include "supervisor/programend.h"
#include "ui/gtkmain.h"
#include "ui/mainwindow.h"
#include "ui/splash.h"

gpointer mt_gtkthread(gpointer) {
    th_register("gtkthread");
    gm_run();
    cm_end();
    th_unregister(nullptr);
    th_sleepinfinite();
}

gpointer mt_mainthread(gpointer) {
    th_register("mainthread");
    for (;;) {
        int ergebnis = iv_iniparse();
        if (ergebnis != 0) {
            if (ruhestatus == 4) ruhestatus = 0;
            programmende(true);
        }
        if (ruhestatus == 4) ruhestatus = 0;
        if (inidat.funktion != FUNKTION_CONFIG) cs_show(0);
        if (inidat.funktion > 39) programmende(true);
        cc_show1(_de ? " Start." : " Start.", " Start.");
        lo_slog("Main thread: cycle started.\n", "", -1);
        // The cycle: one check point about every 1.8 s.
        for (;;) {
            th_msleepexit(1800);
            if (programmende(false)) break; // rested: start again
        }
    }
}
