#include "supervisor/instance.h"

#include "core/flags.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "supervisor/programend.h"
#include "ui/mainwindow.h"
#include "ui/messagebox.h"
#include "ui/splash.h"

#include <atomic>

namespace {
std::atomic<bool> ia__smsalt{false}; // state seen at the previous SMS-flag query
// The instance flag this process took in its start check, and so must release at its end
// or rest. A copy that never took one (a profile switch, a copy that gave up, a second
// configuration program) leaves the flag of the running copy alone.
std::atomic<bool> ia__aktivbesitz{false};
std::atomic<bool> ia__konfigbesitz{false};

// One pass of the start check: the flag is taken only when free, in one step under the
// GTK lock. A living owner keeps it, so a copy that gives up leaves the running copy's
// flag as it was. True when it was held.
bool ia__querytake(unsigned long key) {
    th_enter();
    bool besetzt = !fl_take(key);
    th_leave();
    return besetzt;
}
} // namespace

bool ia_instance_isactive() {
    return fl_query(aktivsignal);
}
bool ia_configinstance_isactive() {
    return fl_query(konfigaktivsignal);
}

int ia_instance_message() {
    if (!ia_instance_isactive()) return 0;
    me_messageboxa(0, _de ? "tandor   Konfiguration" : "tandor   Configuration",
                   _de ? "Bitte zuerst das parallel laufende  \ntandor-Programm beenden."
                       : "Please terminate the parallely  \nrunning tandor program first.",
                   0);
    return 1;
}

bool ia_smssignal(int f) {
    if (f == 1) return fl_set(smssignal);
    if (f == 2) {
        fl_clear(smssignal);
        return false;
    }
    bool jetzt = fl_query(smssignal);
    bool alt = ia__smsalt.exchange(jetzt);
    return jetzt && !alt;
}

bool ia_startcheck() {
    if (inidat.funktion == FUNKTION_CONFIG) {
        if (!ia__querytake(konfigaktivsignal)) {
            ia__konfigbesitz = true;
            return true;
        }
        lo_slog("!Start check: a configuration program is running.\n", "", -1);
        cs_show(32);
        msleepx(2600);
        return false;
    }
    if (inidat.funktion >= 40) return true;

    bool erfolg = false;
    for (int pass = 0; pass < 100; pass++) {
        if (!ia__querytake(aktivsignal)) {
            ia__aktivbesitz = true;
            erfolg = true;
            break;
        }
        // A copy of another user shares the keys but is not ours to end: wait for it
        // like for any other conflict.
        if (pass == 0 && fl_foreign(aktivsignal)) {
            lo_slog("!Start check: a copy of another user is running.\n", "", -1);
        } else if (pass == 0) {
            if (_starttoggle == 1) {
                cc_show2(" Bye.", " Bye.");
                cs_show(3);
                _starttoggle = 2;
            } else {
                cc_show2(" Neustart/Restart.", " Neustart /_Restart.");
                cs_show(2);
            }
            lo_slog("Start check: asking the running copy to end.\n", "", -1);
            fl_set(endesignal);
        }
        msleep(500);
    }
    if (_starttoggle == 2) {
        fl_clear(endesignal);
        programmende(true);
        return false;
    }
    fl_clear(endesignal);
    if (!erfolg) {
        cc_show2(_de ? "*Konflikt mit anderem tandor." : "*Conflict with other tandor.",
                 _de ? "*Programm~konflikt." : "*Conflict.");
        lo_slog("!Start check failed: conflict with another copy.\n", "", -1);
        msleep(4000);
    }
    return erfolg;
}

void ia_freigeben() {
    if (ia__konfigbesitz.exchange(false)) fl_clear(konfigaktivsignal);
    if (ia__aktivbesitz.exchange(false)) fl_clear(aktivsignal);
}
