#include "connection/statistics.h"

#include "config/header.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "ui/mainwindow.h"

#include <climits>
#include <cstdio>
#include <cstring>

const char cn_errname[8][4] = {"NOC", "FRZ", "CRC", "TME", "ALG", "FRM", "BUF", "L"};
int cn_erro[8];
bool cn_dnsbremse = false;
cn_statistikhooks_t cn_statistikhooks;

namespace {

// A pass shorter than half a second measures no rates; one longer than an hour is a
// stall or a standby, whose time does not count as online, offline or idle time.
constexpr long cn__MINPASS = 50;
constexpr long cn__MAXPASS = 360000;
// The fastest traffic taken as real: 10 Gbit/s per direction, in bytes per hundredth of
// a second. A larger delta is a counter reset or a foreign interface.
constexpr int64_t cn__MAXBYTESPROHS = 12500000;
// Rates up to this are shown as 0 (protocol chatter, not use).
constexpr long cn__KLEINRATE = 169;

// The interface's byte counters at the last counted pass. Unknown at program start: the
// first pass then only takes them, as the traffic before it was not measured here.
int64_t cn__statistiksbytes = 0, cn__statistikrbytes = 0;
bool cn__basisbekannt = false;
long cn__statistikzeit = 0; // ti_htime of the last counted pass
long cn__minutenzeit = -1;  // ti_htime of the last minute count while online, -1 none
bool cn__erroloeschen = false;
int cn__inicounter = -1;
unsigned long cn__onlinezeit_alt = 0; // onlinezeit at the last periodic header step
// Interface name when no dial-up module holds one (the preset from inidat.con).
char cn__ifname[100];

const char* cn__name() {
    if (cn_statistikhooks.ifname) return cn_statistikhooks.ifname();
    return cn__ifname;
}
void cn__setname(const char* name) {
    if (cn_statistikhooks.setifname)
        cn_statistikhooks.setifname(name);
    else
        strMcpy(cn__ifname, name);
}

long cn__kb() {
    return inidat.headerv + inidat.headervoffset / 1000;
}

long cn__long(int64_t v) {
    if (v > LONG_MAX) return LONG_MAX;
    if (v < LONG_MIN) return LONG_MIN;
    return (long)v;
}

// One decimal field of the interface table; a field that does not begin with a digit
// reads as 0 and leaves p where it is. Values beyond 64 bits saturate.
int64_t cn__zahl(const char*& p) {
    while (*p == ' ' || *p == '\t')
        p++;
    uint64_t v = 0;
    bool voll = false;
    for (; *p >= '0' && *p <= '9'; p++) {
        unsigned d = (unsigned)(*p - '0');
        if (v > (UINT64_MAX - d) / 10) voll = true;
        if (!voll) v = v * 10 + d;
    }
    if (voll || v > (uint64_t)INT64_MAX) return INT64_MAX;
    return (int64_t)v;
}

// Field indexes of a /proc/net/dev line after the colon.
enum {
    IF_RBYTES = 0,
    IF_RERRS = 2,
    IF_RDROP,
    IF_RFIFO,
    IF_RFRAME,
    IF_SBYTES = 8,
    IF_SERRS = 10,
    IF_SDROP,
    IF_SFIFO,
    IF_SCOLLS,
    IF_FELDER = 16
};

// Each error field counts with at most 10 per pass; errors are rarer than the other
// kinds and count a fifth.
void cn__fehlerfelder(const int64_t* w, int* err) {
    auto c = [&](int i) { return (int)(w[i] < 10 ? w[i] : 10); };
    err[ERR_CRC] += (c(IF_RERRS) + 4) / 5 + (c(IF_SERRS) + 4) / 5;
    err[ERR_BUF] += c(IF_RDROP) + c(IF_SDROP);
    err[ERR_ALG] += c(IF_RFIFO) + c(IF_SFIFO);
    err[ERR_FRM] += c(IF_RFRAME);
    err[ERR_TME] += c(IF_SCOLLS);
}

struct cn__datei {
    FILE* f;
    ~cn__datei() {
        if (f) fclose(f);
    }
};

int cn__ifstatistics(int64_t* bu, int64_t* bd, int* err) {
    const char* name = cn__name();
    if (!name || !name[0]) {
        // No link known yet. A configured data port (empty means the default port) can be
        // dialled; a con naming a ppp interface is that interface.
        if (stricmp(inidat.con, "Internet") == 0) return -1;
        if (strncmp(inidat.con, "ppp", 3) == 0) {
            char n[100];
            strMcpy(n, inidat.con);
            cn__setname(n);
        }
        return 0;
    }
    cn__datei d{fopen(sy_path(SY_NETDEV), "r")};
    if (!d.f) {
        lo_slog("ifconfig error 3.\n", "", -1);
        return -1;
    }
    size_t nl = strlen(name);
    char zeile[1024];
    bool zeilenanfang = true;
    while (fgets(zeile, sizeof zeile, d.f)) {
        // The rest of an overlong line is never taken for the start of one.
        bool anfang = zeilenanfang;
        zeilenanfang = strchr(zeile, '\n') != nullptr;
        if (!anfang) continue;
        const char* p = zeile;
        while (*p == ' ' || *p == '\t')
            p++;
        if (strncmp(p, name, nl) != 0 || p[nl] != ':') continue;
        p += nl + 1;
        int64_t w[IF_FELDER];
        for (int64_t& x : w)
            x = cn__zahl(p);
        if (bd) *bd = w[IF_RBYTES];
        if (bu) *bu = w[IF_SBYTES];
        if (err) cn__fehlerfelder(w, err);
        return 1;
    }
    return 0;
}

// Debug dump of the interface table when the interface was not found.
void cn__tabelleprotokollieren() {
    lo_dlog("cn_ifstatistics(): %s\n", "cat /proc/net/dev", -1);
    cn__datei ein{fopen(sy_path(SY_NETDEV), "r")};
    if (!ein.f) return;
    cn__datei aus{fopen("debuglog.txt", "a")};
    if (!aus.f) return;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, ein.f)) > 0)
        if (fwrite(buf, 1, n, aus.f) != n) break;
}

// Whether a period with cut-off day tag closes between the last pass and today.
bool cn__stichtag(int tag, int heute, int monat) {
    if (tag < 1 || tag > 32) return false;
    if (tag == 32) return true;
    int alt = inidat.headerday;
    bool monatwechsel = monat != inidat.headermon;
    // More than a month between two passes always passes a cut-off day.
    int monate = (monat - inidat.headermon + 12) % 12;
    return (heute >= tag && alt < tag) || (monatwechsel && (heute >= tag || alt < tag)) ||
           monate >= 2;
}

void cn__volumenperiode() {
    lo_slog("Stichtag f" U8ue "r Volumen dazwischen: %s%li\n", "", inidat.day);
    if (inidat.headervoffset > 9999) {
        inidat.headerv += inidat.headervoffset / 1000;
        if (inidat.round > 1)
            inidat.headerv = (inidat.headerv + inidat.round - 1) / inidat.round * inidat.round;
    }
    lo_vlog("%s %s: %li kB.\n", _de ? "Monatssumme" : "Month total", inidat.headerv);
    inidat.headerv = 0;
    inidat.headervoffset = 999; // the first byte of the new period makes a kilobyte
}

void cn__zeitperiode() {
    lo_slog("Stichtag f" U8ue "r Onlinezeit dazwischen: %s%li\n", "", inidat.dayt);
    volzeitrunden();
    lo_vlog(_de ? "%s Monatssumme: %s\n" : "%s Month total: %s\n", stundenminuten(inidat.headert),
            -1);
    inidat.headert = 0;
    inidat.headert_alt = 0;
}

// The first pass of a new date: the midnight subtotal, the periods that close, the date.
void cn__datumswechsel(const struct tm& t) {
    int heute = t.tm_mday, monat = t.tm_mon + 1;
    if (heute == inidat.headerday && monat == inidat.headermon) return;
    // A header that never held a date gives nothing to compare: the date is only noted,
    // so that counters of unknown age are not closed as a month.
    bool bekannt = inidat.headerday >= 1 && inidat.headermon >= 1;
    bool geschlossen = false;
    if (bekannt) {
        if (onlinezeit > 0 && t.tm_hour == 0 && t.tm_min <= 1) {
            volzeitrunden();
            lo_vlog("%s %s: %li kB.\n", _de ? "Zwischensumme" : "Subtotal", cn__kb());
            lo_vlog(_de ? "%s Zwischensumme: %s\n" : "%s Subtotal: %s\n",
                    stundenminuten(inidat.headert), -1);
        }
        if (inidat.day > 0 || inidat.dayt > 0) {
            lo_slog("Tag alt: %s%li\n", "", inidat.headerday);
            lo_slog("Tag neu: %s%li\n", "", heute);
        }
        if (cn__stichtag(inidat.day, heute, monat)) {
            cn__volumenperiode();
            geschlossen = true;
        }
        if (cn__stichtag(inidat.dayt, heute, monat)) {
            cn__zeitperiode();
            geschlossen = true;
        }
    }
    // The header written next must carry the new date with the new period's counters, or
    // a restart would close the same period a second time.
    inidat.headerday = heute;
    inidat.headermon = monat;
    if (geschlossen) iv_iniheaderwrite(false);
}

void cn__offline(long diffzeit) {
    onlinezeit = 0;
    offlinezeit += (unsigned long)diffzeit;
    if (!(offlinezeita != 0 && innerhalb_enduhrzeit())) offlinezeita += (unsigned long)diffzeit;
    inaktivzeit = 0;
    cn__minutenzeit = -1;
}

void cn__verbindenanzeige(const char* text, const char* mini) {
    if (cn_statistikhooks.trayicon)
        cn_statistikhooks.trayicon(4,
                                   _de ? "tandor\n\nVerbindungsaufbau." : "tandor\n\nConnecting.");
    ps_statustext(text, mini);
}

// The link is down: connect automatically when configured and not held by an open question.
bool cn__unten(long diffzeit) {
    cn__offline(diffzeit);
    if (!inidat.constart || verbindenhalten) {
        lo_vlogtime();
        return false;
    }
    if (cn_statistikhooks.stop) cn_statistikhooks.stop(0);
    if (!programmende_gewuenscht) {
        cn__verbindenanzeige(_de ? " Verbindungsaufbau." : " Connecting.",
                             _de ? " Verbindungs~aufbau." : " Connecting.");
        msleepx(1000);
    }
    memset(cn_erro, 0, sizeof cn_erro);
    if (cn_statistikhooks.start) cn_statistikhooks.start();
    cn__erroloeschen = true;
    msleepx(500);
    return true;
}

// Started online minutes. onlinezeit_vorher is the position in the hour (seconds) at
// which the next minute begins; each pass counts the minutes begun since. The count is
// held to the time that really passed online, so an adjusted wall clock or the first
// pass after an offline spell counts no more than the one minute just begun.
void cn__onlineminuten(const struct tm& t, long jetzt, bool schreiben) {
    int s = t.tm_min * 60 + t.tm_sec;
    long roh = cn__minutenzeit < 0 ? -1 : jetzt - cn__minutenzeit;
    cn__minutenzeit = jetzt;
    int vorher = onlinezeit_vorher;
    if (vorher < 0) {
        onlinezeit_vorher = s + 3541;
        return;
    }
    int minuten = ((s - vorher + 7200) % 3600) / 60;
    if (minuten <= 0) return;
    onlinezeit_vorher = (vorher + minuten * 60) % 3600;
    long grenze = roh < 0 ? 1 : roh / 6000 + 1;
    inidat.headert += minuten < grenze ? minuten : grenze;
    if (schreiben && inidat.dayt > 0 && inidat.headert > inidat.headert_alt + 10)
        iv_iniheaderwrite(false);
}

// Adds a byte count to the pending volume; the test mode counts it 10,000-fold.
void cn__volumenaddieren(int64_t vol) {
    if (vol < 1) return;
    if (MODUS('8')) vol = vol > INT64_MAX / 10000 ? INT64_MAX : vol * 10000;
    int64_t neu = (int64_t)inidat.headervoffset + (vol > LONG_MAX ? LONG_MAX : vol);
    inidat.headervoffset = cn__long(neu);
}

// Byte deltas since the baselines over roh hundredths. False when they are not traffic
// of this link: counters that went down mean the interface was created anew, so its
// counters are the traffic since; a delta beyond the plausible rate is a reset or a
// foreign interface and counts nothing.
bool cn__deltas(int64_t sbytes, int64_t rbytes, long roh, int64_t* ds, int64_t* dr) {
    *ds = sbytes - cn__statistiksbytes;
    *dr = rbytes - cn__statistikrbytes;
    if (*ds < 0 || *dr < 0) {
        *ds = sbytes;
        *dr = rbytes;
    }
    int64_t grenze = cn__MAXBYTESPROHS * (int64_t)(roh > cn__MINPASS ? roh : cn__MINPASS);
    return *ds <= grenze && *dr <= grenze;
}

// The periodic header step: every 10 MB pending, every 5 minutes online and after a
// reconnect the counters are written (when a period keeps them) and, without a volume
// period, folded here.
void cn__kopfschritt() {
    unsigned long oz = onlinezeit;
    if (inidat.headervoffset <= 9999999 && oz < cn__onlinezeit_alt + 30000 &&
        oz >= cn__onlinezeit_alt)
        return;
    lo_slog("10 MB erreicht: %s%liMB\n", "", inidat.headervoffset / 1000000);
    if (inidat.day > 0 || inidat.dayt > 0) iv_iniheaderwrite(false);
    if (inidat.day <= 0) {
        inidat.headerv += inidat.headervoffset / 1000;
        inidat.headervoffset = 750;
    }
    cn__onlinezeit_alt = oz;
}

// The next entry of the probe list at the cursor (up to ';').
void cn__probe(bool router, long bu, long bd) {
    if (!inidat.ping[0]) return;
    size_t len = strlen(inidat.ping);
    if (!inidat.pingp || inidat.pingp < inidat.ping || inidat.pingp >= inidat.ping + len)
        inidat.pingp = inidat.ping;
    char host[sizeof inidat.ping];
    char* p = inidat.pingp;
    strmtcpy(host, &p, sizeof host, ';');
    bool geprobt = false;
    if (router) {
        if (cn_statistikhooks.ipok && cn_statistikhooks.ipok(host) && cn_statistikhooks.dnsecho)
            cn_statistikhooks.dnsecho(host, true);
        geprobt = true;
    } else if (bd < 1 && bu <= 0) {
        if (cn_statistikhooks.dnsecho) cn_statistikhooks.dnsecho(host, false);
        geprobt = true;
    }
    if (!geprobt || cn_dnsbremse) return;
    char* semi = strchr(inidat.pingp, ';');
    inidat.pingp = semi && semi[1] ? semi + 1 : inidat.ping;
}

// The error monitor: a counter that reached its tolerance ends the link and dials anew.
void cn__fehlermonitor() {
    int art = 0;
    char feld[sizeof cc_mtext[cc_mtextERR]];
    int stufe = cn_fehleranzeige(feld, sizeof feld, &art);
    strMcpy(cc_mtext[cc_mtextERR], feld);
    if (cn_statistikhooks.anzeigen) cn_statistikhooks.anzeigen();
    if (stufe > 999) {
        const char* name = cn_errname[art];
        lo_slog(_de ? "Verbindungsfehler %s.\n" : "Connection error %s.\n", name, -1);
        lo_vlog(_de ? "%s Verbindung abgebrochen. Fehler %s\n"
                    : "%s Connection aborted. Error %s\n",
                name, -1);
        char text[80], mini[80];
        snprintf(text, sizeof text, _de ? "*Verbindungsfehler %s." : "*Connection error %s.", name);
        snprintf(mini, sizeof mini, _de ? "*Fehler %s." : "*Error %s.", name);
        ps_statustext(text, mini);
        msleepx(30);
        if (MODUS('E')) {
            shutdownerlaubt = true;
            programmende_gewuenscht = true;
            if (ps_hooks.programmende) ps_hooks.programmende(true);
        }
        if (cn_statistikhooks.stop) cn_statistikhooks.stop(1);
        cn__verbindenanzeige(_de ? " Neuer Verbindungsaufbau." : " Reconnect.",
                             _de ? " Verbindungs~neuaufbau." : " Reconnect.");
        msleepx(1000);
        if (cn_statistikhooks.start) cn_statistikhooks.start();
        cn__erroloeschen = true;
        onlinezeit = 0;
        inaktivzeit = 0;
    }
    // Counters decay, so that only errors that keep coming reach a tolerance.
    for (int k = ERR_CRC; k <= ERR_L; k++) {
        if (inidat.err[k] <= 0) {
            cn_erro[k] = 0;
            continue;
        }
        for (int i = k == ERR_CRC ? 2 : 1; i > 0; i--)
            cn_erro[k] = cn_erro[k] - cn_erro[k] / 30 - 1;
        if (cn_erro[k] < 0) cn_erro[k] = 0;
    }
}

} // namespace

int cn_ifstatistics(int64_t* bu, int64_t* bd, int* err) {
    int r = cn__ifstatistics(bu, bd, err);
    if (r != 1 && MODUS('2')) cn__tabelleprotokollieren();
    return r;
}

bool cn_ifaktiv() {
    return cn_ifstatistics(nullptr, nullptr, nullptr) == 1;
}

int cn_fehleranzeige(char* out, int n, int* art) {
    int64_t stufe = 0;
    int k0 = 0;
    for (int k = ERR_FRZ; k <= ERR_L; k++) {
        if (inidat.err[k] <= 0) continue;
        int64_t l = (int64_t)cn_erro[k] * 1000 / inidat.err[k];
        if (l > stufe) {
            stufe = l;
            k0 = k;
        }
    }
    if (stufe > INT_MAX) stufe = INT_MAX;
    if (art) *art = k0;
    if (stufe < 1 || stufe < (int64_t)inidat.err[ERR_L] * 100) {
        snprintf(out, (size_t)n, "0");
    } else {
        int zehntel = (int)((stufe + 99) / 100);
        if (zehntel > 9) zehntel = 9;
        snprintf(out, (size_t)n, "%c%s %s %i", zehntel < 6 ? '+' : '*', _de ? "Fehler" : "Error",
                 cn_errname[k0], zehntel);
    }
    return (int)stufe;
}

void volzeitrunden() {
    if (inidat.round > 1 && inidat.headervoffset > 1000) {
        int64_t einheit = (int64_t)inidat.round * 1000;
        inidat.headervoffset =
            cn__long(((int64_t)inidat.headervoffset + einheit - 1) / einheit * einheit);
    }
    if (inidat.roundt > 1) {
        long e = inidat.roundt;
        inidat.headert = (inidat.headert + e - 1) / e * e;
        // The minute count starts afresh: the next started minute counts at once.
        onlinezeit_vorher = -1;
    }
}

void cn_statistikini() {
    cn__statistiksbytes = cn__statistikrbytes = 0;
    cn__basisbekannt = false;
    cn__statistikzeit = 0;
    cn__minutenzeit = -1;
    cn__erroloeschen = false;
    cn__inicounter = -1;
    cn__onlinezeit_alt = 0;
    cn__ifname[0] = 0;
    cn_dnsbremse = false;
    memset(cn_erro, 0, sizeof cn_erro);
}

void cn_statistikreset() {
    cn__statistiksbytes = cn__statistikrbytes = 0;
    cn__basisbekannt = true;
    cn__statistikzeit = ti_htime();
    cn__minutenzeit = -1;
    memset(cn_erro, 0, sizeof cn_erro);
}

void cn_nachmessen() {
    if (linksys || !cn__basisbekannt) return;
    int64_t s = 0, r = 0;
    if (cn__ifstatistics(&s, &r, nullptr) != 1) return;
    long jetzt = ti_htime();
    int64_t ds, dr;
    if (cn__deltas(s, r, jetzt - cn__statistikzeit, &ds, &dr)) cn__volumenaddieren(ds + dr);
    cn__statistiksbytes = s;
    cn__statistikrbytes = r;
    cn__statistikzeit = jetzt;
}

void cn_sichern() {
    if (inidat.day <= 0 && inidat.dayt <= 0) return;
    if (onlinezeit > 0) {
        cn_nachmessen();
        struct tm t;
        sy_localtime(&t);
        cn__onlineminuten(t, ti_htime(), false);
    }
    // Whole kilobytes go into the counter. A remainder of 1..1000 bytes stays pending, so
    // the header write that follows still sees pending bytes and is not skipped.
    if (inidat.headervoffset > 1000) {
        long kb = (inidat.headervoffset - 1) / 1000;
        inidat.headerv += kb;
        inidat.headervoffset -= kb * 1000;
    }
    iv_iniheaderwrite(false);
}

bool cn_statistics(long* bpsu, long* bpsd, long* kbvol) {
    if (cn__inicounter != inicounterglobal) {
        cn__inicounter = inicounterglobal;
        cn__erroloeschen = true;
    }
    struct tm t;
    sy_localtime(&t);
    cn__datumswechsel(t);

    // A short pass keeps its baselines and time, so its bytes count in the next pass.
    long jetzt = ti_htime();
    long roh = jetzt - cn__statistikzeit;
    bool kurz = roh >= 0 && roh < cn__MINPASS;
    long diffzeit = roh < cn__MINPASS || roh > cn__MAXPASS ? 0 : roh;
    if (!kurz) cn__statistikzeit = jetzt;
    long bu = -1, bd = -1;
    if (bpsu) *bpsu = -1;
    if (bpsd) *bpsd = -1;
    if (kbvol) *kbvol = cn__kb();

    if (verbindenverboten || programmende_gewuenscht) {
        cn__offline(diffzeit);
        return false;
    }

    int64_t sbytes = 0, rbytes = 0;
    bool oben;
    if (linksys) {
        oben = cn_statistikhooks.isactive && cn_statistikhooks.isactive();
        if (!oben) cn__erroloeschen = true;
    } else {
        int r = cn_ifstatistics(&sbytes, &rbytes, cn_erro);
        if (r < 0) return false;
        oben = r == 1;
    }
    if (!oben) return cn__unten(diffzeit);

    lo_vlogtime();
    if (cn_statistikhooks.timegap) cn_statistikhooks.timegap(0);
    unsigned long oz = onlinezeit;
    onlinezeit = oz <= 1 ? 2 : oz + (unsigned long)diffzeit;
    if (onlinezeit > 18000) {
        offlinezeit = 0;
        offlinezeita = 0;
    }
    cn__onlineminuten(t, jetzt, true);

    if (linksys) {
        long tx = cn_statistikhooks.linkcom ? cn_statistikhooks.linkcom(5) : 0;
        long rx = cn_statistikhooks.linkcom ? cn_statistikhooks.linkcom(6) : 0;
        sbytes = (int64_t)tx * 1000;
        rbytes = (int64_t)rx * 1000;
        memset(cn_erro, 0, sizeof cn_erro);
    }
    if (cn__erroloeschen) {
        memset(cn_erro, 0, sizeof cn_erro);
        cn__erroloeschen = false;
    }

    // A time base that restarted (roh < 0) gives no elapsed time: the bytes wait for the
    // next pass as well.
    int64_t gemessenu = -1, gemessend = -1; // measured rates, -1 unknown
    if (!kurz && roh >= 0) {
        if (cn__basisbekannt) {
            int64_t ds, dr;
            if (cn__deltas(sbytes, rbytes, roh, &ds, &dr)) {
                cn__volumenaddieren(ds + dr);
                cn__kopfschritt();
                if (diffzeit > 0) {
                    gemessenu = ds * 100 / diffzeit;
                    gemessend = dr * 100 / diffzeit;
                }
            }
        }
        cn__statistiksbytes = sbytes;
        cn__statistikrbytes = rbytes;
        cn__basisbekannt = true;
    }
    bu = cn__long(gemessenu);
    bd = cn__long(gemessend);

    // Inactivity is judged on the measured rates.
    int64_t schwelle = inidat.endhightraffic ? 2200 : 800;
    if (gemessenu > schwelle || gemessend > schwelle)
        inaktivzeit = 0;
    else
        inaktivzeit += (unsigned long)diffzeit;

    cn__probe(linksys, bu, bd);
    cn__fehlermonitor();

    if (bu >= 0 && bu <= cn__KLEINRATE) bu = 0;
    if (bd >= 0 && bd <= cn__KLEINRATE) bd = 0;
    if (bpsu) *bpsu = bu;
    if (bpsd) *bpsd = bd;
    if (kbvol) *kbvol = cn__kb();
    return false;
}
