#include "supervisor/signalreading.h"

#include "core/frontendrecord.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "modem/discovery.h"
#include "ui/mainwindow.h"
#include "ui/trayicons.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

sr_router_t sr_router = {nullptr, nullptr, nullptr};
bool (*sr_ton)(int fq, int dur) = beep;

namespace {

// Outcome of one registration attempt.
enum { SR__FEHLER, SR__OK, SR__ENDE };

// The Novatel status request of the diagnostic protocol (three bytes, FCS, flag).
constexpr char sr__statusanfrage[6] = {0x30, 0x00, 0x01, static_cast<char>(0xEB), 0x51, 0x7E};

bool sr__novatelroh() {
    return geraet == 2 && !novateldll;
}

// One exchange: the command, the answer wait (400 ms on the secondary port), the read and
// the wait after it. The answer is empty when nothing usable came.
template <size_t N> void sr__frage(const char* befehl, char (&antwort)[N]) {
    antwort[0] = 0;
    cm_puts(befehl);
    msleep(ANTWORTZEIT2);
    cm_gets(antwort, 5, N);
    msleep(ANTWORTZEIT);
}

bool sr__programmende(bool erzwingen) {
    return ps_hooks.programmende ? ps_hooks.programmende(erzwingen) : false;
}

void sr__netzsuche(sr_zustand_t& z) {
    z.netz.ba = 0;
    z.netsearching = true;
    sr_recordnetz(nullptr);
    ic_mshow(3, 0, -1, -1, -1, ss_text(SS_NETZSUCHE_TRAY));
    ps_statustext(ss_text(SS_NETZSUCHE), ss_text(SS_NETZSUCHE_MINI));
}

// The program cannot go on with this modem: show why, then end.
void sr__stopp(const char* text, const char* mini, long ms) {
    ps_statustext(text, mini);
    msleepx(ms);
    sr__programmende(true);
}

// The modem's own end status of the binary protocol (kind 2).
bool sr__ende(int status) {
    if (status != SS_REG_ENDE) return false;
    sr__stopp(ss_text(SS_ENDE), ss_text(SS_ENDE_MINI), 2000);
    return true;
}

// Kind 1 answers the operator query while searching, so it is asked directly.
int sr__versuch1(sr_zustand_t& z) {
    char a[CM_ANTWORTGROESSE];
    sr__frage("AT+COPS?\r", a);
    const char* p = strstr(a, "+COPS:");
    if (!p || !strchr(p, '"')) return SR__FEHLER;
    char name[80];
    if (ss_netzname(a, name) == 2) lo_slog("Network name not recognized: %s\n", name, -1);
    strMcpy(z.cops, a);
    return SR__OK;
}

int sr__versuch(sr_zustand_t& z) {
    // The status request belongs to the diagnostic port; on the AT port its bytes would
    // spoil the next command.
    if (sr__novatelroh() && cm_secport) {
        cm_putm(sr__statusanfrage, sizeof sr__statusanfrage);
        cm_putm(sr__statusanfrage, sizeof sr__statusanfrage);
    }
    char a[CM_ANTWORTGROESSE];
    sr__frage("AT+CGREG?\r", a);
    int st = ss_regstatus(a, "CGREG");
    if (st == SS_REG_SIMPIN) {
        // The SIM asks again (after a reset of the modem): unlock it from the configuration.
        // A PIN it has rejected is never sent again; the program stops instead, and the PIN
        // leaves the ini file as one rejected at start does, so no later start sends it.
        int code = de_inipin(2);
        if (code == DE_PINFALSCH || code == DE_PUKNOETIG || code == DE_PUKFALSCH) de_pinloeschen();
        if (code != DE_BEREIT) {
            const char* t = sr_pintext(code);
            sr__stopp(t, t, 4000);
            return SR__ENDE;
        }
        msleepx(2500);
        sr__frage("AT+CGREG?\r", a);
        st = ss_regstatus(a, "CGREG");
    }
    if (sr__ende(st)) return SR__ENDE;
    const char* tag = "CGREG";
    if (st != 1 && st != 5) {
        sr__frage("AT+CREG?\r", a);
        st = ss_regstatus(a, "CREG");
        if (sr__ende(st)) return SR__ENDE;
        tag = "CREG";
    }
    if (st != 1 && st != 5) return SR__FEHLER;
    strMcpy(z.reg, a);
    strMcpy(z.regtag, tag);

    cm_puts("AT+COPS?\r\n");
    msleep(ANTWORTZEIT + ANTWORTZEIT2);
    cm_gets(a, 20, sizeof a);
    if (strlen(a) <= 5) {
        msleep(1500);
        cm_gets(a, 10, sizeof a);
    }
    msleep(ANTWORTZEIT);
    char name[80];
    int r = ss_netzname(a, name);
    if (r == 2) lo_slog("Network name not recognized: %s\n", name, -1);
    if (r != 1) return SR__FEHLER;
    strMcpy(z.cops, a);
    return SR__OK;
}

// While the link holds the single port the modem cannot be asked: the AT layer makes the
// answers up, and they must not replace what was read before the dial.
bool sr__verdeckt() {
    return cm_singleport() && !cm_isopen() && !cm_issim();
}

// A complete connection-log line made with an empty stamp (it starts with the blank); the
// log puts its own stamp in front.
void sr__vlog(const char* zeile) {
    lo_vlog("%s%s\n", zeile, -1);
}

void sr__ton(int fq, int dauer, int pause) {
    if (sr_ton) sr_ton(fq, dauer);
    if (pause > 0) msleep(pause);
}

int sr__familienton(int ba) {
    return (ba & 3) == 2 ? 1000 : 500;
}

} // namespace

void sr_ini(sr_zustand_t& z) {
    z = sr_zustand_t{};
    // The discovery marks what this modem cannot report; those stay unasked.
    if (::plmn[0] == 1) strMcpy(z.netz.plmn, ::plmn);
    if (::lac[0] == 1) strMcpy(z.netz.lac, ::lac);
    if (::ucid[0] == 1) strMcpy(z.netz.ucid, ::ucid);
}

namespace {

bool sr__signal(sr_zustand_t& z, bool altwert);

// The signal fields of the frontend record; all 0 without a reading.
void sr__recordsignal(const ss_signal_t& s) {
    bool da = s.sig >= 0;
    TDRIOw(signal_raw, static_cast<unsigned char>(da ? s.raw : 0));
    TDRIOw(signal_percent, static_cast<unsigned char>(da ? s.sig : 0));
    TDRIOw(signal_dbm, static_cast<short>(da ? -s.sigd : 0));
}

} // namespace

void sr_recordnetz(const ss_netz_t* n) {
    bool da = n && n->name[0] && !ss_netzunbekannt(n->name);
    TDRIOs(network_name, da ? n->name : "");
    TDRIOs(plmn, da && n->plmn[0] != 1 ? n->plmn : "");
    TDRIOs(lac, da && n->lac[0] != 1 ? n->lac : "");
    TDRIOs(cid, da && n->ucid[0] != 1 ? n->cidkurz : "");
    TDRIOs(rnc, da && n->ucid[0] != 1 ? n->rnc : "");
}

bool sr_signal(sr_zustand_t& z, bool altwert) {
    bool ok = sr__signal(z, altwert);
    sr__recordsignal(z.signal);
    return ok;
}

namespace {

bool sr__signal(sr_zustand_t& z, bool altwert) {
    if (!linksys && sr__verdeckt()) {
        // The value read before the dial stays, and stays unchanged for the log and tones.
        z.signal.sigalt = z.signal.sig;
        return false;
    }
    int raw;
    if (linksys) {
        int r = sr_router.signal ? sr_router.signal() : 0;
        raw = r < 1 ? -1 : r;
    } else {
        char csq[CM_ANTWORTGROESSE], cind[CM_ANTWORTGROESSE] = "";
        sr__frage("AT+CSQ\r", csq);
        if (geraet == 5 && ss_csqraw(csq) == 99) sr__frage("AT+CIND?\r", cind);
        raw = ss_signalraw(geraet, csq, cind);
    }
    return ss_signal(z.signal, raw, altwert, sr__novatelroh());
}

} // namespace

int sr_netz(sr_zustand_t& z) {
    z.cops[0] = z.reg[0] = z.regtag[0] = 0;
    if (linksys) {
        char name[80] = "";
        if (sr_router.netzname && sr_router.netzname(name, sizeof name) && name[0])
            snprintf(z.netz.name, sizeof z.netz.name, "\"%.77s\"", name);
        else
            strMcpy(z.netz.name, " No Service");
        return SR_WEITER;
    }
    int g = geraet;
    int fehler = 0;
    for (int versuch = 0; versuch < 8; versuch++) {
        int r = g == 1 ? sr__versuch1(z) : sr__versuch(z);
        if (r == SR__ENDE) return SR_ENDE;
        if (r == SR__OK) {
            // Kind 2 fails now and then while it is busy; only a first-time success
            // clears its count.
            if (g != 2 || versuch == 0) z.netfail = 0;
            z.netsearching = false;
            return SR_WEITER;
        }
        fehler++;
        if (z.netfail < 100000) z.netfail++;
        if (g == 1) {
            if (z.netfail > 2) sr__netzsuche(z);
            msleepx(3000);
            if (sr__programmende(false)) return SR_NEUSTART;
            int b = ba_gewuenscht;
            if (b >= 1 && b <= 9) break;
            continue;
        }
        if (g != 2 || z.netfail > 19) {
            sr__netzsuche(z);
            msleepx(2000);
        }
        msleepx(2500);
        if (sr__programmende(false)) return SR_NEUSTART;
    }
    if (fehler >= 8) {
        char z1[200];
        ss_log_dienst(z1, sizeof z1, "");
        sr__vlog(z1);
    }
    return SR_WEITER;
}

void sr_betriebsart(sr_zustand_t& z) {
    z.modus[0] = z.copsnum[0] = 0;
    if (linksys) {
        if (sr_router.betriebsart) z.netz.ba = sr_router.betriebsart();
        return;
    }
    int g = geraet;
    if (g == 8)
        sr__frage("AT+ZPAS?\r", z.modus);
    else if (g == 2)
        sr__frage("AT$NWRAT?\r", z.modus);
    if (z.netz.plmn[0] == 1) return;
    char a[CM_ANTWORTGROESSE];
    sr__frage("AT+COPS=3,2\r", a);
    sr__frage("AT+COPS?\r", z.copsnum);
    // The long format again, which the operator query of the next cycle expects.
    sr__frage("AT+COPS=3,0\r", a);
}

void sr_ort(sr_zustand_t& z) {
    int g = geraet;
    if (linksys || g < 1 || g > 9 || g == 4 || sr__novatelroh()) return;
    if (z.netz.lac[0] == 1 && z.netz.ucid[0] == 1) return;
    const char* tag = g == 8 ? "CREG" : "CGREG";
    char a[CM_ANTWORTGROESSE], b[CM_ANTWORTGROESSE];
    sr__frage(g == 8 ? "AT+CREG=2\r" : "AT+CGREG=2\r", a);
    sr__frage(g == 8 ? "AT+CREG?\r" : "AT+CGREG?\r", b);
    if (g == 1) sr__frage("AT+CGREG=0\r", a);
    // An exchange that brought no registration answer keeps the location read before,
    // rather than reporting a cell change to nowhere.
    if (ss_registrierung(b, tag, nullptr, nullptr) < 0) return;
    strMcpy(z.reg, b);
    strMcpy(z.regtag, tag);
}

void sr_publizieren(sr_zustand_t& z, int zaehler, const sr_statistik_t& st) {
    int g = geraet;
    ss_antworten_t a;
    a.geraet = g;
    a.novatelroh = sr__novatelroh();
    a.signalgelesen = true;
    // Operator, code, radio mode and cell read before the dial stay while the link holds
    // the single port.
    bool verdeckt = sr__verdeckt();
    a.cops = linksys || verdeckt ? nullptr : z.cops;
    // A failed query of the numeric code keeps the code read before.
    a.copsnum = !verdeckt && strstr(z.copsnum, "+COPS:") ? z.copsnum : nullptr;
    a.reg = !verdeckt && z.reg[0] ? z.reg : nullptr;
    a.regtag = z.regtag[0] ? z.regtag : nullptr;
    a.modus = !linksys && !verdeckt && (g == 2 || g == 8) ? z.modus : nullptr;
    a.hoch = st.hoch;
    a.runter = st.runter;
    a.zyklus = zaehler;
    a.stempel = "";

    char namevorher[80];
    strMcpy(namevorher, z.netz.name_alt);
    int familievorher = z.netz.ba_alt < 0 ? 0 : z.netz.ba_alt;
    ss_ergebnis_t e;
    ss_zyklus(a, z.signal, z.netz, MODUS('I'), MODUS('J'), e);
    strMcpy(::plmn, z.netz.plmn);
    strMcpy(::lac, z.netz.lac);
    strMcpy(::ucid, z.netz.ucid);
    for (int i = 0; i < e.nlog; i++)
        sr__vlog(e.log[i]);
    if (strncasecmp(z.netz.name, "Limited Service", 15) == 0) return;
    sr_recordnetz(&z.netz);

    if (e.netzwechsel) {
        if (MODUS('R') && namevorher[0]) {
            sr__ton(600, 300, 100);
            sr__ton(600, 100, 500);
        }
        if (netzfremd && inidat.net[0] == ';')
            for (int i = 0; i < 3; i++) {
                sr__ton(600, 300, 100);
                sr__ton(600, 100, 300);
            }
    }
    if (zaehler <= 0) return;

    ss_mtext(e);
    if (e.zellwechsel) {
        // A new cell may mean a new homezone state: ask sooner. A query already due (0) or
        // coming right after a new connection (below 0) is not put off; the first cell
        // reading of a start counts as a change too.
        int ziel = homezonestatus == 1 ? 90 : 50;
        int jetzt = homezonezaehler.load();
        if (jetzt > 0 && jetzt < ziel) homezonezaehler = ziel;
        if (MODUS('S')) {
            sr__ton(sr__familienton(familievorher), 50, 50);
            sr__ton(sr__familienton(z.netz.ba), 50, 0);
        }
    }
    sr_minizeile(z, e.modusbuchstabe, zaehler, st, cc_mtext[cc_mtextMINI],
                 sizeof cc_mtext[cc_mtextMINI]);
    // The window shows the cycle also while offline, when no statistics pass refreshes it.
    cc_show();
    if (st.hoch >= 0 && st.runter >= 0)
        ic_mshow(1, z.netz.ba, z.signal.sig, static_cast<int>(st.hoch / 1000),
                 static_cast<int>(st.runter / 1000), cc_mtext[cc_mtextMINI] + 1);

    if (fefo == fefo_NORMAL && cc_maximized() && z.signal.sig >= 0 && !tonlos) {
        sr_ton_t t[32];
        int n = sr_tonfolge(z.signal.sigalt, z.signal.sig, t, 32);
        for (int i = 0; i < n; i++)
            sr__ton(t[i].fq, t[i].dauer, t[i].pause);
    }

    if (inidat.batt1 >= 1 && !sr__novatelroh()) {
        if (zaehler % 19 == 0) {
            char b[CM_ANTWORTGROESSE];
            sr__frage("AT+CBC\r", b);
            akkufuellstand = ss_akku(b);
        }
    } else {
        akkufuellstand = 0;
    }
}

int sr_zyklus(sr_zustand_t& z, int zaehler, const sr_statistik_t& st, bool altwert) {
    int r = sr_netz(z);
    if (r != SR_WEITER) return r;
    sr_betriebsart(z);
    sr_ort(z);
    sr_signal(z, altwert);
    sr_publizieren(z, zaehler, st);
    return SR_WEITER;
}

void sr_log_verbindungsstart(const sr_zustand_t& z) {
    if (z.signal.sig <= 0) return;
    char zeile[200];
    if (MODUS('I') || MODUS('J')) {
        ss_log_betriebsart(zeile, sizeof zeile, "", z.netz.ba, false);
        sr__vlog(zeile);
    }
    ss_log_signal(zeile, sizeof zeile, "", z.signal, true);
    sr__vlog(zeile);
}

const char* sr_pintext(int code) {
    thread_local char text[400];
    switch (code) {
    case DE_PINFEHLT:
        return _de ? "*PIN in Datei \"tandor.ini\" erforderlich."
                   : "*PIN required in file \"tandor.ini\".";
    case DE_STUMM:
        return _de ? "*Modem reagiert nicht." : "*Modem not responding.";
    case DE_PINFALSCH:
        return _de ? "*PIN in Datei \"tandor.ini\" ist ung" U8ue "ltig!"
                   : "*PIN is not valid in file \"tandor.ini\"!";
    case DE_PUKNOETIG:
        return _de ? "*SIM muss mit PUK entsperrt werden!" : "*SIM has to be unlocked with PUK!";
    case DE_PUKFALSCH:
        return _de ? "*PUK ist ung" U8ue "ltig! Vorsicht!" : "*PUK is not valid! Caution!";
    case DE_KEINESIM:
        return _de ? "*SIM wurde nicht erkannt." : "*SIM not found.";
    case DE_KEINPORT:
        snprintf(text, sizeof text,
                 _de ? "*Port \"%.300s\" nicht verf" U8ue "gbar."
                     : "*Port \"%.300s\" not available.",
                 inidat.com1);
        return text;
    }
    return "";
}

void sr_minizeile(const sr_zustand_t& z, char modusbuchstabe, int zaehler, const sr_statistik_t& st,
                  char* zeile, size_t n) {
    char volumen[24], tempo[32] = "", wert[32];
    snprintf(volumen, sizeof volumen, "%04li", max(st.kbv, 0L) / 1000);
    long v = max(st.hoch, st.runter);
    bool zeigtempo = v >= 0 && (v > 499 || MODUS('d')) && !MODUS('c');
    if (v >= 0) {
        const char* pfeil = st.hoch > st.runter ? "\xE2\x86\x91" : "\xE2\x86\x93";
        if (v < 10000)
            snprintf(tempo, sizeof tempo, "%li.%01li%s", v / 1000, v % 1000 / 100, pfeil);
        else
            snprintf(tempo, sizeof tempo, "%li%s", (v + 500) / 1000, pfeil);
    }
    strMcpy(wert, zeigtempo ? tempo : volumen);
    if (MODUS('D')) {
        int phase = zaehler % 3;
        if (phase == 1) strMcpy(wert, volumen);
        if (phase == 0) {
            long minuten = static_cast<long>(onlinezeit / 6000);
            const char* hm = stundenminuten(minuten);
            // Four hour digits only when they are needed.
            strMcpy(wert, minuten < 60000 ? hm + 1 : hm);
        }
    }
    char name[80];
    bool lacbekannt = z.netz.lac[0] && z.netz.lac[0] != 1;
    bool plmnbekannt = z.netz.plmn[0] && z.netz.plmn[0] != 1;
    if (MODUS('C') && lacbekannt)
        snprintf(name, sizeof name, "[%s.%s]", z.netz.lac, z.netz.cidkurz);
    else if (MODUS('C') && plmnbekannt)
        snprintf(name, sizeof name, "[%s]", z.netz.plmn);
    else
        strMcpy(name, z.netz.name);
    snprintf(zeile, n, " %c%s %s_%s", modusbuchstabe, z.signal.sigsmini, wert, name);
}

int sr_tonfolge(int sigalt, int sig, sr_ton_t* t, int maxanzahl) {
    int s = min(max(sig, 0), 99);
    struct {
        int ziffer, fq;
    } const ziffern[2] = {{s / 10, ss_tonfrequenz(max(sigalt, 0))}, {s % 10, ss_tonfrequenz(s)}};
    int n = 0;
    auto ton = [&](int fq, int dauer) {
        if (n < maxanzahl) t[n++] = {fq, dauer, 100};
    };
    for (const auto& z : ziffern) {
        int anfang = n;
        int d = z.ziffer;
        if (d > 5) {
            ton(z.fq, 300);
            for (int i = 0; i < 10 - d; i++)
                ton(z.fq, 100);
        } else {
            for (int i = 0; i < d; i++)
                ton(z.fq, 100);
            if (d <= 4) ton(z.fq, 300);
        }
        // The digit ends with a longer silence.
        if (n > anfang) t[n - 1].pause += 200;
    }
    return n;
}
