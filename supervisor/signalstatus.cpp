#include "supervisor/signalstatus.h"

#include "core/helpers.h"
#include "core/programstate.h"
#include "core/smscodec.h"
#include "ui/mainwindow.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool ss__ziffer(char c) {
    return c >= '0' && c <= '9';
}

// Case-insensitive prefix test.
bool ss__beginnt(const char* s, const char* prefix) {
    size_t n = strlen(prefix);
    return strnlen(s, n) == n && memicmp(s, prefix, static_cast<long>(n)) == 0;
}

// A value the modem can report and that is known.
bool ss__bekannt(const char* v) {
    return v[0] != 0 && v[0] != 1;
}

const char* ss__leer(const char* p) {
    while (*p == ' ')
        ++p;
    return p;
}

bool ss__zeilenende(char c) {
    return c == '\r' || c == '\n';
}

// One field of an answer line, without the blanks around it and without its quotes.
struct ss__feld {
    const char* p = "";
    size_t n = 0;
    bool quote = false;
};

// Splits the rest of an answer line (after the tag's colon) into at most max fields at ','.
// Makers differ in blanks after the colon and the commas and in quoting, so both are
// dropped here. A field that reaches the end of the buffer instead of a line end may be cut
// (the read ended inside it) and is not counted; neither is a quoted one without its closing
// quote.
int ss__felder(const char* p, ss__feld* f, int max) {
    int n = 0;
    while (n < max) {
        p = ss__leer(p);
        ss__feld x;
        if (*p == '"') {
            x.quote = true;
            x.p = ++p;
            while (*p && *p != '"' && !ss__zeilenende(*p))
                ++p;
            if (*p != '"') return n;
            x.n = static_cast<size_t>(p - x.p);
            p = ss__leer(p + 1);
        } else {
            x.p = p;
            while (*p && *p != ',' && !ss__zeilenende(*p))
                ++p;
            const char* e = p;
            while (e > x.p && e[-1] == ' ')
                --e;
            x.n = static_cast<size_t>(e - x.p);
        }
        if (*p == 0) return n;
        f[n++] = x;
        if (*p != ',') return n;
        ++p;
    }
    return n;
}

// An unquoted decimal field of 1 to 3 digits (leading zeros as some modems send them);
// -1 otherwise.
int ss__zahl(const ss__feld& f) {
    if (f.quote || f.n < 1 || f.n > 3) return -1;
    int wert = 0;
    for (size_t i = 0; i < f.n; ++i) {
        if (!ss__ziffer(f.p[i])) return -1;
        wert = wert * 10 + f.p[i] - '0';
    }
    return wert;
}

// A registration state: a small decimal number. A location area code, which stands in the
// same place in the unsolicited form, is quoted, holds hex letters or has four digits.
int ss__stat(const ss__feld& f) {
    int wert = ss__zahl(f);
    return wert <= SS_STATMAX ? wert : -1;
}

// A location field in hex, 1 to 8 digits (a longer run is refused rather than truncated, so
// no wrong cell is ever shown).
bool ss__hex(const ss__feld& f, unsigned long& wert) {
    if (f.n < 1 || f.n > 8) return false;
    wert = 0;
    for (size_t i = 0; i < f.n; ++i) {
        if (!ishexdigit(f.p[i])) return false;
        wert =
            wert << 4 | static_cast<unsigned long>(_hexnumber[static_cast<unsigned char>(f.p[i])]);
    }
    return true;
}

// The 27.007 access technology (<AcT> of +COPS) to the radio mode ba. 9 is what some
// modems report without service; numbers without an entry count as GSM.
constexpr int ss__actba[] = {
    1, // 0 GSM
    1, // 1 GSM Compact
    2, // 2 UTRAN
    5, // 3 GSM w/EGPRS
    6, // 4 UTRAN w/HSDPA
    6, // 5 UTRAN w/HSUPA
    6, // 6 UTRAN w/HSDPA and HSUPA
    7, // 7 E-UTRAN
    1, // 8 EC-GSM-IoT
    0, // 9
};

// Mode texts and mini letters per radio mode, and the family the mode-change line and the
// cell-change beep know (1 GSM, 2 UMTS, 0 none: LTE stands outside both).
struct ss__modus {
    int ba;
    const char* text;
    char buchstabe;
    int familie;
};
constexpr ss__modus ss__modi[] = {
    {1, "GPRS", 'G', 1}, {5, "EDGE", 'E', 1}, {2, "UMTS", 'U', 2},
    {6, "HSPA", 'H', 2}, {7, "LTE", 'L', 0},
};

const ss__modus* ss__modusvon(int ba) {
    for (const ss__modus& m : ss__modi)
        if (m.ba == ba) return &m;
    return nullptr;
}

// Adds a log line to the cycle's result when there is room.
char* ss__neuelogzeile(ss_ergebnis_t& e) {
    if (e.nlog >= SS_LOGMAX) return nullptr;
    return e.log[e.nlog++];
}

} // namespace

int ss_csqraw(const char* antwort) {
    if (!antwort) return -1;
    for (const char* p = antwort; (p = strstr(p, "CSQ:")) != nullptr;) {
        p = ss__leer(p + 4);
        int raw = 0, n = 0;
        while (n < 3 && ss__ziffer(p[n]))
            raw = raw * 10 + p[n++] - '0';
        // The bit-error rate must follow; a cut answer could otherwise turn 15 into 1.
        if (n == 0 || *ss__leer(p + n) != ',') continue;
        if (raw > 31 && raw != 99) continue;
        return raw;
    }
    return -1;
}

int ss_cindraw(const char* antwort) {
    static constexpr int stufe[6] = {0, 3, 9, 15, 21, 27};
    if (!antwort) return -1;
    const char* p = strstr(antwort, "CIND:");
    if (!p) return -1;
    p = strchr(p, ',');
    if (!p) return -1;
    p = ss__leer(p + 1);
    if (p[0] < '0' || p[0] > '5' || ss__ziffer(p[1])) return -1;
    return stufe[p[0] - '0'];
}

int ss_signalraw(int geraet, const char* csq, const char* cind) {
    int raw = ss_csqraw(csq);
    if (raw == 99) raw = geraet == 5 ? ss_cindraw(cind) : -1;
    return raw;
}

int ss_registrierung(const char* antwort, const char* tag, char* lac, char* ucid) {
    if (!antwort || !tag) return -1;
    char such[16];
    snprintf(such, sizeof such, "%s:", tag);
    // The answer to the query is "<n>,<stat>[,<lac>,<ci>[,<AcT>...]]"; with reports on, the
    // unsolicited "<stat>[,<lac>,<ci>[,<AcT>...]]" may come before or after it. The second
    // field tells them apart: a state in the answer, a location area in the report. The
    // answer wins; without it the last report with a state counts. A bare report "<stat>"
    // is passed over: it cannot be told from an answer cut after <n>.
    int stat = -1;
    bool ort = false;
    unsigned long l = 0, c = 0;
    for (const char* p = antwort; (p = strstr(p, such)) != nullptr;) {
        p += strlen(such);
        ss__feld f[4];
        int n = ss__felder(p, f, 4);
        if (n < 2 || ss__zahl(f[0]) < 0) continue;
        bool abfrage = ss__stat(f[1]) >= 0;
        int st = ss__stat(f[abfrage ? 1 : 0]);
        if (st < 0) continue;
        int i = abfrage ? 2 : 1; // first location field
        stat = st;
        ort = n >= i + 2 && ss__hex(f[i], l) && ss__hex(f[i + 1], c);
        if (abfrage) break;
    }
    if (lac && lac[0] != 1) {
        if (ort)
            snprintf(lac, 20, "%04lX", l);
        else
            lac[0] = 0;
    }
    if (ucid && ucid[0] != 1) {
        if (ort)
            snprintf(ucid, 20, "%04lX", c);
        else
            ucid[0] = 0;
    }
    return stat;
}

int ss_regstatus(const char* antwort, const char* tag) {
    if (!antwort) return 0;
    if (antwort[0] == '~' && antwort[1] == 3) return SS_REG_ENDE;
    if (strstr(antwort, "SIM PIN required")) return SS_REG_SIMPIN;
    int stat = ss_registrierung(antwort, tag, nullptr, nullptr);
    return stat == 1 || stat == 5 ? stat : 0;
}

void ss_zelle(const char* ucid, char (&cidkurz)[5], char (&rnc)[5]) {
    cidkurz[0] = rnc[0] = 0;
    if (!ucid || !ss__bekannt(ucid)) return;
    size_t len = strnlen(ucid, 19);
    if (len <= 4) {
        strMcpy(cidkurz, ucid);
        return;
    }
    strMcpy(cidkurz, ucid + len - 4);
    size_t vor = min<size_t>(len - 4, 4);
    memcpy(rnc, ucid + len - 4 - vor, vor);
    rnc[vor] = 0;
}

int ss_netzname(const char* antwort, char (&name)[80]) {
    if (!antwort) return 0;
    const char* p = strstr(antwort, "+COPS:");
    if (!p) return 0;
    const char* q = strchr(p, '"');
    if (!q) return 0;
    ++q;
    const char* e = strchr(q, '"');
    if (!e) return 0; // cut answer
    size_t len = static_cast<size_t>(e - q);
    // UCS-2 hex needs four characters per letter; anything longer is no operator name.
    char roh[4 * 79 + 1];
    if (len >= sizeof roh) return 0;
    memcpy(roh, q, len);
    roh[len] = 0;
    for (size_t i = 0; i < len; ++i)
        if (static_cast<unsigned char>(roh[i]) < 0x20 ||
            static_cast<unsigned char>(roh[i]) > 0x7E) {
            for (size_t j = 0; j < len; ++j)
                if (static_cast<unsigned char>(roh[j]) < 0x20 ||
                    static_cast<unsigned char>(roh[j]) > 0x7E)
                    roh[j] = '.';
            strMcpy(name, roh);
            return 2;
        }
    utf16hextostr(roh);
    if (strlen(roh) > 79) return 0;
    if (roh[0] == 0)
        strMcpy(name, "-");
    else if (ss__beginnt(roh, "FFFFF"))
        strMcpy(name, "FFFFF");
    else
        strMtoutf8(name, roh); // a decoded name may hold Latin-1 letters
    return 1;
}

bool ss_plmn(const char* antwort, char (&plmn)[20]) {
    plmn[0] = 0;
    if (!antwort) return false;
    const char* p = strstr(antwort, "+COPS:");
    if (!p || !(p = strchr(p, '"'))) return false;
    ++p;
    int n = 0;
    while (n < 6 && ss__ziffer(p[n]))
        ++n;
    if (n < 5 || p[n] != '"') return false;
    memcpy(plmn, p, static_cast<size_t>(n));
    plmn[n] = 0;
    return true;
}

int ss_ba_zpas(const char* antwort) {
    if (!antwort) return 0;
    const char* p = strstr(antwort, "+ZPAS: \"");
    if (!p) return 0;
    p += 8;
    if (!strncmp(p, "GPRS", 4)) return 1;
    if (!strncmp(p, "UMTS", 4)) return 2;
    if (!strncmp(p, "EDGE", 4)) return 5;
    if (!strncmp(p, "HS", 2)) return 6;
    return 0;
}

int ss_ba_nwrat(const char* antwort) {
    if (!antwort) return 0;
    const char* p = strstr(antwort, "NWRAT: ");
    if (!p) return 0;
    p += 7;
    if (strnlen(p, 5) < 5) return 0;
    char c = p[4];
    if (!ss__ziffer(c) || c == '0') return 0;
    return c == '4' || c == '5' || c == '6' ? 1 : 2;
}

int ss_ba_cops(const char* antwort) {
    if (!antwort) return 0;
    const char* p = strstr(antwort, "+COPS:");
    if (!p || !(p = strchr(p, '"')) || !(p = strchr(p + 1, '"'))) return 0;
    // The access technology follows the name: ",<AcT>", blanks allowed around the comma.
    p = ss__leer(p + 1);
    int act = -1;
    if (*p == ',') {
        p = ss__leer(p + 1);
        if (ss__ziffer(p[0])) act = ss__ziffer(p[1]) ? (p[0] - '0') * 10 + p[1] - '0' : p[0] - '0';
    }
    return ss_ba_act(act);
}

int ss_ba_act(int act) {
    constexpr int n = static_cast<int>(sizeof ss__actba / sizeof ss__actba[0]);
    return act >= 0 && act < n ? ss__actba[act] : 1;
}

int ss_familie(int ba) {
    const ss__modus* m = ss__modusvon(ba);
    return m ? m->familie : 0;
}

int ss_betriebsart(int geraet, const char* antwort) {
    if (geraet == 8) return ss_ba_zpas(antwort);
    if (geraet == 2) return ss_ba_nwrat(antwort);
    return ss_ba_cops(antwort);
}

void ss_betriebsarttext(int& ba, long hoch, long runter, char (&text)[8], char& buchstabe) {
    long summe = hoch >= 0 && runter >= 0 ? hoch + runter : 0;
    // GPRS turns EDGE and UMTS turns HSPA once the rates exceed what the base mode carries.
    if (ba == 1 && summe > 9450) ba = 5;
    if (ba == 2 && summe > 56000) ba = 6;
    const ss__modus* m = ss__modusvon(ba);
    strMcpy(text, m ? m->text : "");
    buchstabe = m ? m->buchstabe : ' ';
}

int ss_akku(const char* antwort) {
    if (!antwort) return 0;
    const char* p = strstr(antwort, "CBC:");
    if (!p) return 0;
    p = ss__leer(p + 4);
    if (p[0] != '0' || p[1] != ',') return 0;
    p += 2;
    int wert = 0, n = 0;
    while (ss__ziffer(p[n]) && n < 4)
        wert = wert * 10 + p[n++] - '0';
    if (n == 0 || ss__ziffer(p[n]) || wert < 1 || wert > 100) return 0;
    return wert;
}

int ss_tonfrequenz(int s) {
    return static_cast<int>((std::exp(s / 100.0) - 1) * 2900 / 1.718281828459045 + 310.5);
}

bool ss_signal(ss_signal_t& s, int raw, bool altwert, bool novatelroh) {
    if (altwert && s.sig >= 0) s.sigalt = s.sig;
    bool gut = raw >= 0 && raw <= 31 && !(novatelroh && raw <= 3 && s.sigfail < 3);
    if (!gut) {
        if (s.sigfail > 3) {
            s.sig = -1;
            s.sigd = 0;
            s.raw = 0;
            strMcpy(s.sigs, "  ");
            strMcpy(s.sigsmini, "  ");
        } else {
            s.sigfail++;
        }
        return false;
    }
    s.sigfail = 0;
    s.raw = raw;
    s.sigd = 113 - 2 * raw;
    s.sig = min(raw * 100 / 30, 100);
    s.siggelb = s.sig < 12 ? min(s.siggelb + 1, 9) : 0;
    snprintf(s.sigs, sizeof s.sigs, "%02i%% = -%idBm", s.sig, s.sigd);
    snprintf(s.sigsmini, sizeof s.sigsmini, "%02i%%", s.sig);
    return true;
}

void ss_signalzeile(const ss_signal_t& s, char* zeile, size_t n) {
    snprintf(zeile, n, "%c%s", s.siggelb >= 6 ? '+' : ' ', s.sigs);
}

const char* ss_text(ss_text_t t) {
    switch (t) {
    case SS_NETZSUCHE_TRAY:
        return _de ? "Netzsuche." : "Network search.";
    case SS_NETZSUCHE:
        return _de ? "+Bitte warten. Netzsuche l" U8ae "uft." : "+Network search. Please wait.";
    case SS_NETZSUCHE_MINI:
        return _de ? "+Netzsuche." : "+Network_search.";
    case SS_ENDE:
        return _de ? "+Verbindungsende." : "+Terminating connection.";
    case SS_ENDE_MINI:
        return _de ? "+Verbindungs~ende." : "+Terminating_connection.";
    }
    return "";
}

bool ss_netzunbekannt(const char* name) {
    if (!name) return false;
    while (*name == ' ')
        ++name;
    return ss__beginnt(name, "Limited Service") || ss__beginnt(name, "No Service");
}

bool ss_netzerlaubt(const char* liste, const char* name, const char* plmn) {
    if (!liste || liste[0] != ';') return true;
    char l[520];
    strMcpy(l, liste);
    size_t len = strlen(l);
    if (l[len - 1] != ';' && len + 1 < sizeof l) {
        l[len] = ';';
        l[len + 1] = 0;
    }
    char such[100];
    if (name && name[0]) {
        snprintf(such, sizeof such, ";%s;", name);
        if (strstr(l, such)) return true;
    }
    if (plmn && strnlen(plmn, 5) >= 5 && plmn[0] != 1) {
        snprintf(such, sizeof such, ";%s;", plmn);
        if (strstr(l, such)) return true;
    }
    return false;
}

void ss_statuszeile(const ss_netz_t& n, char* zeile, size_t len) {
    bool p = ss__bekannt(n.plmn), l = ss__bekannt(n.lac);
    const char* c = ss__bekannt(n.ucid) ? n.ucid : "";
    if (p && l)
        snprintf(zeile, len, " %s [%s.%s.%s]", n.name, n.plmn, n.lac, c);
    else if (l)
        snprintf(zeile, len, " %s [%s.%s]", n.name, n.lac, c);
    else if (p)
        snprintf(zeile, len, " %s [%s]", n.name, n.plmn);
    else
        snprintf(zeile, len, " %s", n.name);
}

void ss_log_dienst(char* z, size_t n, const char* stempel) {
    snprintf(z, n, _de ? "%s Dienst nicht verf" U8ue "gbar." : "%s Network service not available.",
             stempel);
}

void ss_log_fremdnetz(char* z, size_t n, const char* stempel, const char* name) {
    snprintf(z, n, _de ? "%s Fremdnetz erkannt: %s" : "%s Unwanted network: %s", stempel, name);
}

bool ss_log_zelle(char* z, size_t n, const char* stempel, const ss_netz_t& netz) {
    bool p = ss__bekannt(netz.plmn), l = ss__bekannt(netz.lac);
    const char* c = ss__bekannt(netz.ucid) ? netz.ucid : "";
    const char* wort = _de ? "Zelle" : "Cell";
    if (p && l)
        snprintf(z, n, "%s %s: PLMN=%s LAC=%s CID=%s", stempel, wort, netz.plmn, netz.lac, c);
    else if (l)
        snprintf(z, n, "%s %s: LAC=%s CID=%s", stempel, wort, netz.lac, c);
    else if (p)
        snprintf(z, n, "%s %s: PLMN=%s", stempel, wort, netz.plmn);
    else
        return false;
    return true;
}

void ss_log_betriebsart(char* z, size_t n, const char* stempel, int ba, bool neu) {
    const char* art = ba == 7 ? "LTE" : ss_familie(ba) == 2 ? "UMTS" : "GPRS";
    if (neu)
        snprintf(z, n, _de ? "%s Neue Betriebsart: %s." : "%s New mode of operation: %s.", stempel,
                 art);
    else
        snprintf(z, n, _de ? "%s Betriebsart: %s." : "%s Mode of operation: %s.", stempel, art);
}

void ss_log_signal(char* z, size_t n, const char* stempel, const ss_signal_t& s, bool nachstart) {
    const char* wort = nachstart ? "Signalstaerke"
                       : _de     ? "Signalst" U8ae "rke"
                                 : "Signal strength";
    snprintf(z, n, "%s %s: %02i%% -%idBm", stempel, wort, s.sig, s.sigd);
}

void ss_zyklus(const ss_antworten_t& a, ss_signal_t& s, ss_netz_t& n, bool ilog, bool jlog,
               ss_ergebnis_t& e) {
    e = ss_ergebnis_t{};
    const char* stempel = a.stempel ? a.stempel : "";

    // Signal.
    int raw =
        a.linkraw >= 0 ? (a.linkraw < 1 ? -1 : a.linkraw) : ss_signalraw(a.geraet, a.csq, a.cind);
    int sigvorher = s.sig;
    if (a.signalgelesen)
        sigvorher = s.sigalt;
    else
        ss_signal(s, raw, a.altwert, a.novatelroh);

    // Network name, operator code, radio mode, location.
    if (a.cops) {
        char name[80];
        int r = ss_netzname(a.cops, name);
        if (r == 1)
            strMcpy(n.name, name);
        else
            strMcpy(n.name, " No Service");
        if (r == 2) strMcpy(e.namefehler, name);
    }
    if (a.copsnum && n.plmn[0] != 1) ss_plmn(a.copsnum, n.plmn);
    const char* modus = a.geraet == 8 || a.geraet == 2 ? a.modus : a.cops;
    if (modus) n.ba = ss_betriebsart(a.geraet, modus);
    if (a.reg) {
        // ZTE is asked with +CREG?, which answers under its own tag.
        const char* tag = a.regtag ? a.regtag : a.geraet == 8 ? "CREG" : "CGREG";
        ss_registrierung(a.reg, tag, n.lac, n.ucid);
        ss_zelle(n.ucid, n.cidkurz, n.rnc);
    }
    char text[8];
    ss_betriebsarttext(n.ba, a.hoch, a.runter, text, e.modusbuchstabe);

    if (ss__beginnt(n.name, "Limited Service")) return;

    // Network change, and the allowed-network list.
    if (n.name[0] && !ss_netzunbekannt(n.name) && strcmp(n.name, n.lac) &&
        strcmp(n.name, n.lac_alt) && strcmp(n.name, n.name_alt)) {
        bool regantwort = false;
        for (const char* p = n.name; *p; ++p)
            if (p[0] == ',' && ss__ziffer(p[1]) && p[2] == '\r') regantwort = true;
        if (!regantwort) {
            e.netzwechsel = true;
            if (inidat.net[0] == ';') {
                bool erlaubt = ss_netzerlaubt(inidat.net, n.name, n.plmn);
                netzfremd = !erlaubt;
                char* z = erlaubt ? nullptr : ss__neuelogzeile(e);
                if (z) ss_log_fremdnetz(z, sizeof e.log[0], stempel, n.name);
            }
            strMcpy(n.name_alt, n.name);
        }
    }
    if (a.zyklus <= 0) return;

    ss_statuszeile(n, e.zeile1, sizeof e.zeile1);
    if (strcmp(n.plmn, n.plmn_alt) || strcmp(n.lac, n.lac_alt) || strcmp(n.ucid, n.ucid_alt)) {
        e.zellwechsel = true;
        char* z = ilog ? ss__neuelogzeile(e) : nullptr;
        if (z && !ss_log_zelle(z, sizeof e.log[0], stempel, n)) e.nlog--;
        strMcpy(n.plmn_alt, n.plmn);
        strMcpy(n.lac_alt, n.lac);
        strMcpy(n.ucid_alt, n.ucid);
    }
    snprintf(e.zeile2, sizeof e.zeile2, " %s", text);
    ss_signalzeile(s, e.zeile3, sizeof e.zeile3);

    int familie = ss_familie(n.ba);
    if ((ilog || jlog) && familie != 0 && familie != n.ba_alt) {
        char* z = ss__neuelogzeile(e);
        if (z) ss_log_betriebsart(z, sizeof e.log[0], stempel, n.ba, true);
    }
    if (familie != 0) n.ba_alt = familie;
    if (jlog && s.sig >= 0 && s.sig != sigvorher) {
        char* z = ss__neuelogzeile(e);
        if (z) ss_log_signal(z, sizeof e.log[0], stempel, s, false);
    }
}

void ss_mtext(const ss_ergebnis_t& e) {
    if (e.zeile1[0]) strMcpy(cc_mtext[1], e.zeile1);
    if (e.zeile2[0]) strMcpy(cc_mtext[2], e.zeile2);
    if (e.zeile3[0]) strMcpy(cc_mtext[3], e.zeile3);
}
