#include "ui/timertick.h"

#include "config/inifile.h"
#include "core/frontendrecord.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "ui/mainwindow.h"
#include "ui/trayicons.h"

std::atomic<int> ti__ticke{2};

namespace {

std::atomic<long> ti__zahl{0};
int ti__timerzaehler = 0; // only the tick (GTK main loop) touches these
int ti__tickactive = 0;
int ti__lebend = 0;

// Minutes of a time in hundredths, rounded from 55 s on.
long ti__minuten(unsigned long hundertstel) {
    return static_cast<long>((hundertstel + 5500) / 6000);
}

unsigned long ti__rest(unsigned long gesamt, unsigned long hundertstel) {
    long r = static_cast<long>(gesamt) - ti__minuten(hundertstel);
    return r > 0 ? static_cast<unsigned long>(r) : 0;
}

// Stores an icon state for the frontend record and notes a change; the record takes the
// states before the flag, so the refresh that counts the change publishes them.
template <typename T> void ti__merken(std::atomic<T>& feld, T wert) {
    bool anders = feld.exchange(wert) != wert;
    TDRIOw(internal1[0], static_cast<unsigned char>(ti_iconstatus.vicon_status.load()));
    TDRIOw(internal1[1], static_cast<unsigned char>(ti_iconstatus.ticon_status.load()));
    TDRIOw(internal1[2], static_cast<unsigned char>(ti_iconstatus.hicon_status.load()));
    TDRIOw(internal2[0], ti_iconstatus.ticon_value.load());
    if (anders) tdrioneu = true;
}

ti_lage_t ti__lage(int zaehler) {
    ti_lage_t l;
    l.zaehler = zaehler;
    l.funktion = inidat.funktion;
    l.configsub = configsub;
    l.netzfremd = netzfremd;
    l.maxgrenze = maxgrenze;
    l.onlinezeit = onlinezeit;
    l.offlinezeita = offlinezeita;
    l.inaktivzeit = inaktivzeit;
    l.end = inidat.end;
    l.endforce = inidat.endforce;
    l.errnoc = inidat.err[ERR_NOC];
    l.homu = inidat.homu[0] != 0;
    l.homezonestatus = homezonestatus;
    l.homezoneende = MODUS('H');
    l.unterbrechung = unterbrechung_gewuenscht;
    return l;
}

} // namespace

ti_tun_t ti_entscheiden(const ti_lage_t& l) {
    ti_tun_t t;
    bool frontend = l.funktion == FUNKTION_CONTROL;
    if (!frontend) {
        if (l.netzfremd)
            t.warnart = 2, t.warntext = 1, t.vicon = 3;
        else if (l.maxgrenze == 0)
            t.warnart = 0, t.vicon = 0;
        else if (l.maxgrenze == 1) {
            // A warning stays steady; its text is refreshed every fourth tick.
            if (l.zaehler % 4 == 0) t.warnart = 1, t.warntext = 2;
            t.vicon = 1;
        } else if (l.maxgrenze == 2)
            t.warnart = 2, t.warntext = 2, t.vicon = 2;
    }
    t.gerade = l.zaehler % 2 == 0;
    if (!t.gerade || frontend) return t;

    bool online = l.onlinezeit != 0;
    if (!online && l.offlinezeita > 9000 && l.errnoc != 0)
        t.tart = 3, t.twert = ti__rest(static_cast<unsigned long>(l.errnoc), l.offlinezeita);
    else if (l.end != 0 && l.endforce && online)
        t.tart = 1, t.twert = ti__rest(l.end, l.onlinezeit);
    else if (l.end != 0 && !l.endforce && l.inaktivzeit >= 6000)
        t.tart = 2, t.twert = ti__rest(l.end, l.inaktivzeit);
    else
        t.tart = 0;

    if (l.funktion <= 9 && !l.configsub) {
        if (l.homu && online) {
            t.hart = l.homezonestatus + 1;
            t.hicon = l.homezonestatus == 0 ? 9 : l.homezonestatus;
            t.homezoneende = l.homezoneende && l.homezonestatus == 2 && l.unterbrechung != 3;
        } else
            t.hart = 0;
        t.akku = true;
    }
    return t;
}

gboolean ti__tick(gpointer) {
    int e = 1;
    if (ti__ticke.compare_exchange_strong(e, 2) || e == 2) {
        ti__timerzaehler = 0;
        return FALSE;
    }
    if (ti__tickactive++ > 0) {
        ti__tickactive--;
        return TRUE;
    }
    ti__zahl++;
    ti__timerzaehler = (ti__timerzaehler + 1) % 32;
    if (++ti__lebend > 55) {
        lo_slogx("Timer thread alive.\n", "", -1);
        ti__lebend = 0;
    }
    ti_tun_t t = ti_entscheiden(ti__lage(ti__timerzaehler));

    if (t.warnart >= 0) {
        const char* text = t.warntext == 1   ? (_de ? "Fremdnetz!" : "Foreign network!")
                           : t.warntext == 2 ? maxgrenzes
                                             : "";
        ic_wshow(t.warnart, text);
    }
    if (t.vicon >= 0) ti__merken(ti_iconstatus.vicon_status, t.vicon);

    if (inidat.funktion != FUNKTION_CONFIG) {
        ic_wshow(-1, nullptr);
        ic_hshow(-1, nullptr);
        // The flag between instances stays raised for four ticks.
        if (smssignalstatus > 0) {
            if (smssignalstatus == 1) ps_smssignal(1);
            if (++smssignalstatus > 4) {
                smssignalstatus = 0;
                ps_smssignal(2);
            }
        }
    }

    if (t.gerade) {
        cc_tick();
        if (inidat.funktion != FUNKTION_CONTROL) {
            ps_timegap(0);
            if (t.tart > 0) {
                ic_tshow(t.tart, t.twert, "");
                ti__merken(ti_iconstatus.ticon_status, t.tart);
                ti__merken(ti_iconstatus.ticon_value, t.twert);
            } else if (t.tart == 0) {
                ic_tshow(0, 0, "");
                ti__merken(ti_iconstatus.ticon_status, 0);
                ti__merken(ti_iconstatus.ticon_value, 0UL);
            }
            if (t.hart > 0) {
                ic_hshow(t.hart, "");
                ti__merken(ti_iconstatus.hicon_status, t.hicon);
            } else if (t.hart == 0) {
                ic_hshow(0, "");
                ti__merken(ti_iconstatus.hicon_status, 0);
            }
            if (t.homezoneende) {
                lo_slogx(_de ? "Außerhalb der Homezone.\n" : "Outside the homezone.\n", "", -1);
                inidat.constart = false;
                ps_unterbrechen(3);
            }
            if (t.akku) ic_bshow(akkufuellstand, "");
        }
    }
    ti__tickactive--;
    return TRUE;
}

void ti_ini() {
    int e = 1;
    if (ti__ticke.compare_exchange_strong(e, 0)) return; // the end was not yet seen
    e = 2;
    if (ti__ticke.compare_exchange_strong(e, 0)) g_timeout_add_seconds(1, ti__tick, nullptr);
}

void ti_end() {
    int e = 0;
    ti__ticke.compare_exchange_strong(e, 1);
    ti_htimereset();
}

long ti_tickzahl() {
    return ti__zahl;
}
