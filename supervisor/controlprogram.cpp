// The control program's loop: it attaches to the running connection program's frontend
// record, mirrors its texts in the own window and its icon states in the own tray icons,
// and shows "not active" when the running copy is gone, attaching again once it is back.
#include "supervisor/controlprogram.h"

#include "config/settingslist.h"
#include "core/helpers.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "supervisor/frontend.h"
#include "supervisor/warnings.h"
#include "ui/mainwindow.h"
#include "ui/trayicons.h"

#include <cstdio>
#include <cstring>

namespace {

// A text field of a record that another process writes: at most its size - 1 characters,
// whether or not a NUL ends it there.
template <size_t N> void fe__feld(char* out, size_t n, const char (&feld)[N]) {
    snprintf(out, n, "%.*s", static_cast<int>(strnlen(feld, N - 1)), feld);
}

// Marker of a counter against its pre-warning and warning limits (0 = not set).
const char* fe__modus(unsigned char opmode, unsigned long tempo) {
    switch (opmode) {
    case 5:
        return " EDGE";
    case 1:
        // A GPRS link carrying more than GPRS can is an EDGE link.
        return tempo > 9450 ? " EDGE" : " GPRS";
    case 6:
        return " HSPA";
    case 2:
        return tempo > 56000 ? " HSPA" : " UMTS";
    case 7:
        return " LTE";
    default:
        return " ";
    }
}

// Tick counter of the loop, modulo 32: the pre-warning icon is set every fourth tick, the
// other icons every eighth.
unsigned fe__tick = 0;

void fe__iconsaus() {
    ic_wshow(0, "");
    ic_tshow(0, 0, "");
    ic_hshow(0, "");
    ic_bshow(0, "");
}

void fe__icons(const tdrio_t& r) {
    switch (r.internal1[0]) {
    case 3:
        ic_wshow(2, _de ? "Fremdnetz!" : "Foreign network!");
        break;
    case 2:
        ic_wshow(2, _de ? "Volumen/Zeit-Warnung." : "Volume/time warning.");
        break;
    case 1:
        if (fe__tick % 4 == 0)
            ic_wshow(1, _de ? "Volumen/Zeit-Vorwarnung." : "Volume/time pre-warning.");
        break;
    default:
        ic_wshow(0, "");
    }
    if (fe__tick % 8 != 0) return;
    unsigned long wert = r.internal2[0];
    ic_tshow(r.internal1[1], wert > 0x80000000ul ? 0 : wert, "");
    ic_hshow(fe_homezoneart(r.internal1[2]), "");
    ic_bshow(r.battery, "");
}

void fe__nichtaktiv() {
    onlinezeit = 0;
    cc_show2(_de ? "+tandor nicht aktiv." : "+tandor not active.",
             _de ? "+tandor_inaktiv." : "+tandor_inactive.");
}

// The menu's update query; it shows its own texts, so the next pass redraws the record's.
bool fe__updateanfrage() {
    if (!update_gewuenscht) return false;
    se_updatequery();
    return true;
}

} // namespace

void fe_kopieren(const tdrio_t* quelle, tdrio_t& kopie) {
    unsigned long zaehler = __atomic_load_n(&quelle->process_counter, __ATOMIC_ACQUIRE);
    memcpy(&kopie, quelle, sizeof kopie);
    kopie.process_counter = zaehler;
#define FE__ENDE(feld) kopie.feld[sizeof kopie.feld - 1] = 0
    FE__ENDE(command);
    FE__ENDE(network_name);
    FE__ENDE(plmn);
    FE__ENDE(lac);
    FE__ENDE(cid);
    FE__ENDE(message);
    FE__ENDE(mini_message);
    FE__ENDE(error_message);
    FE__ENDE(rnc);
    FE__ENDE(answer);
#undef FE__ENDE
}

void fe_texte(const tdrio_t& r, const long max[3], const long maxt[3],
              char (&texte)[cc_mtextFELD][150]) {
    fe__feld(texte[1], sizeof texte[1], r.message);
    unsigned long tempo = r.upspeed + r.downspeed;
    strMcpy(texte[2], fe__modus(r.opmode, tempo));
    if (r.signal_raw == 0)
        strMcpy(texte[3], " ");
    else
        snprintf(texte[3], sizeof texte[3], "%c%02i%% = %idBm", r.signal_percent < 12 ? '+' : ' ',
                 r.signal_percent, r.signal_dbm);
    if (r.online_time == 0) {
        strMcpy(texte[4], " offline");
        strMcpy(texte[5], " offline");
    } else {
        snprintf(texte[4], sizeof texte[4], " %s", tempotext(static_cast<long>(r.upspeed)));
        snprintf(texte[5], sizeof texte[5], " %s", tempotext(static_cast<long>(r.downspeed)));
    }
    long v = static_cast<long>(r.volume);
    // The markers of the control program's own limits, as the connection program sets its own.
    wa_grenzen_t g = wa_grenzentscheidung(v, static_cast<long>(r.time), max, maxt, 0);
    snprintf(texte[6], sizeof texte[6], "%c%s", g.markev, volumentext(v));
    snprintf(texte[7], sizeof texte[7], "%c%s", g.markez,
             stundenminuten(static_cast<long>(r.time)));
    fe__feld(texte[cc_mtextERR], sizeof texte[cc_mtextERR], r.error_message);
    fe__feld(texte[cc_mtextMINI], sizeof texte[cc_mtextMINI], r.mini_message);
}

int fe_homezoneart(int hicon_status) {
    switch (hicon_status) {
    case 1:
        return 2;
    case 2:
        return 3;
    case 9:
        return 1;
    default:
        return 0;
    }
}

void frontend() {
    // lage: 0 nothing shown yet, 1 a running copy mirrored, 2 "not active" shown.
    int lage = 0;
    bool erster = true, neu = true;
    unsigned long zaehler = 0;
    for (;;) {
        th_msleepx(252);
        fe__tick = (fe__tick + 1) % 32;
        if (programmende_gewuenscht) return;
        tdrio_t* r = __atomic_load_n(&tdrior, __ATOMIC_ACQUIRE);
        if (!r) {
            // The first try at once, then about every 1.3 s.
            if (!erster && th_msleepx(1040)) return;
            erster = false;
            if (programmende_gewuenscht) return;
            r = ii_start(false);
            if (!r) {
                if (lage != 2) fe__nichtaktiv();
                lage = 2;
                if (fe__updateanfrage()) lage = 0;
                continue;
            }
            neu = true;
        }
        tdrio_t k;
        fe_kopieren(r, k);
        // A record whose program ended (counter 0), was removed or whose creator died (a
        // killed program never sets the counter to 0) shows no state: its texts are frozen.
        bool aktiv = k.process_counter != 0 && ii_aktiv();
        if (!aktiv) {
            // The menu reads the record under the GTK lock: it is never unmapped under it.
            th_enter();
            ii_stop();
            th_leave();
            fe__iconsaus();
            if (lage != 2) fe__nichtaktiv();
            lage = 2;
            neu = true;
            if (th_msleepx(1020)) return;
            continue;
        }
        fe__icons(k);
        if (!neu && k.process_counter == zaehler && !update_gewuenscht) continue;
        lage = 1;
        neu = false;
        zaehler = k.process_counter;
        char texte[cc_mtextFELD][150];
        fe_texte(k, inidat.max, inidat.maxt, texte);
        for (int i = 1; i < cc_mtextFELD; i++)
            strMcpy(cc_mtext[i], texte[i]);
        onlinezeit = k.online_time * 100;
        cc_show();
        if (fe__updateanfrage()) neu = true;
    }
}
