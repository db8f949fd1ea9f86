#include "supervisor/programend.h"

#include "core/flags.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "core/threads.h"
#include "modem/atexchange.h"
#include "supervisor/instance.h"
#include "supervisor/sessionclient.h"
#include "ui/mainwindow.h"

#include <cstdlib>
#include <mutex>

namespace {
// Two threads may request the end at once; only one runs the end sequence.
std::mutex pe__mutex;
} // namespace

bool programmende(bool erzwingen) {
    int ruhe = ruhestatus;
    if (ruhe >= 2 && ruhe <= 4) return false;
    if (erzwingen) programmende_gewuenscht = true;

    // Another copy asks this one to end (its start check raised the flag).
    if (!programmende_gewuenscht && inidat.funktion != FUNKTION_CONTROL && fl_query(endesignal) &&
        !fl_foreign(endesignal)) {
        cc_show2(_de ? " tandor neu gestartet." : " tandor restartet.", _de ? " Ende." : " End.");
        msleep(1500);
        programmende_gewuenscht = true;
    }
    if (!programmende_gewuenscht) return false;

    std::unique_lock<std::mutex> g(pe__mutex, std::try_to_lock);
    if (!g.owns_lock()) {
        // The end sequence runs in another thread; this one only waits to be parked.
        th_unregister(nullptr);
        th_sleepinfinite();
    }

    lo_slogx("ENDP10.\n", "", -1);
    cc_show2(_de ? " Ende." : " End.", _de ? " Ende." : " End.");
    msleep(100);
    lo_slogx("ENDP21.\n", "", -1);
    if (inidat.funktion == FUNKTION_CONFIG)
        fl_clear(konfigaktivsignal);
    else if (inidat.funktion != FUNKTION_CONTROL)
        fl_clear(aktivsignal);
    ia_smssignal(2);
    lo_slogx("ENDP30.\n", "", -1);
    cm_end();
    cc_quit();
    lo_slogx("ENDP50.\n", "", -1);

    lo_slog(
        _de ? "%s  tandor beendet.\n\n    --------------------------------------------------\n\n"
            : "%s  tandor terminated.\n\n    "
              "--------------------------------------------------\n\n",
        datumzeit(), -1);
    th_unregister(nullptr);
    th_terminate(20000);
    msleep(10);
    // The session manager waits for this answer before it goes on with the logout.
    sc_returninteraction();
    exit(0);
}
