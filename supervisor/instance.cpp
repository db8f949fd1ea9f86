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

// One pass of the start check: query and take the flag in one step under the GTK lock.
bool ia__querytake(unsigned long key) {
    th_enter();
    bool besetzt = fl_queryset(key);
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
        th_enter();
        bool besetzt = fl_query(konfigaktivsignal);
        if (!besetzt) fl_set(konfigaktivsignal);
        th_leave();
        if (!besetzt) return true;
        cs_show(32);
        msleepx(2600);
        return false;
    }
    if (inidat.funktion >= 40) return true;

    bool erfolg = false;
    for (int pass = 0; pass < 100; pass++) {
        if (!ia__querytake(aktivsignal)) {
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
