#include "config/inikeys.h"

#include "config/obfuscation.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"

#include <climits>
#include <cstring>

namespace {

constexpr char ik__version[] = "0.5";
constexpr char ik__datum[] = "19.10.2012";
constexpr char ik__errname[ERRN][4] = {"NOC", "FRZ", "CRC", "TME", "ALG", "FRM", "BUF", "L"};

// Obfuscated values take 6 + 2 characters per clear byte; the reader accepts what the
// writer produces for the largest fields.
constexpr size_t ik__obflaenge(size_t klar) {
    return 6 + 2 * klar;
}
constexpr size_t ik__PINOBF = ik__obflaenge(sizeof inidat.pin - 1);
// PASS holds "name;password" as one obfuscated text.
constexpr size_t ik__PASSKLAR = sizeof inidat.conname - 1 + 1 + sizeof inidat.conpass - 1;
constexpr size_t ik__PASSOBF = ik__obflaenge(ik__PASSKLAR);

// ---- Reading ----

bool ik__ziffer(char c) {
    return c >= '0' && c <= '9';
}
// Letters and digits of ASCII only: the switch table knows no others, and the test must
// not depend on the locale.
bool ik__alnum(char c) {
    return ik__ziffer(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
char ik__gross(char c) {
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}
const char* ik__blanks(const char* p) {
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

// Decimal digits at *pp; stays at grenze instead of overflowing.
long ik__zahl(const char** pp, long grenze) {
    long v = 0;
    const char* p = *pp;
    for (; ik__ziffer(*p); p++)
        v = v > (grenze - (*p - '0')) / 10 ? grenze : v * 10 + (*p - '0');
    *pp = p;
    return v;
}

long ik__mal(long v, long faktor) {
    long r;
    return __builtin_mul_overflow(v, faktor, &r) ? LONG_MAX : r;
}

// Copies a value only when it fits whole; a value that is too long is ignored.
template <size_t N> bool ik__kopie(char (&d)[N], const char* w) {
    if (strlen(w) >= N) return false;
    strMcpy(d, w);
    return true;
}

void ik__lan(char* w, int, ik_lesen_t* st) {
    char c = ik__gross(*w);
    _de = c == 'D' || c == 'G';
    // The tab after the name keeps the line recognisable for the trimming rules.
    if (!strchr(w, '\t')) st->neu = true;
}

void ik__com(char* w, int, ik_lesen_t*) {
    ik__kopie(inidat.comport, w);
}
void ik__devi(char* w, int, ik_lesen_t*) {
    ik__kopie(inidat.devi, w);
}
void ik__dev(char* w, int, ik_lesen_t*) {
    const char* p = ik__blanks(w);
    bool minus = *p == '-';
    if (minus || *p == '+') p++;
    long v = ik__zahl(&p, 1000);
    inidat.mangeraet = (!minus && v <= 99) ? (int)v : 0;
}
void ik__ping(char* w, int, ik_lesen_t*) {
    ik__kopie(inidat.ping, w);
}

void ik__pin(char* w, int, ik_lesen_t* st) {
    if (memicmp(w, "NONE", 4) == 0) {
        inidat.pin[0] = 0;
        st->neu = true;
        return;
    }
    if (MODUS('K')) return;
    bool verschleiert = strncmp(w, "CRYPT1", 6) == 0;
    if (strlen(w) > (verschleiert ? ik__PINOBF : sizeof inidat.pin - 1)) return;
    char klar[sizeof inidat.pin];
    // Clear text is taken and rewritten in obfuscated form; an empty value is no PIN.
    if (!ob_deobfuscate(w, klar, sizeof klar) && *w) st->neu = true;
    strMcpy(inidat.pin, klar);
}

void ik__net(char* w, int, ik_lesen_t*) {
    ik__kopie(inidat.net, w);
}
void ik__apn(char* w, int, ik_lesen_t*) {
    ik__kopie(inidat.apn, w);
}
void ik__nichts(char*, int, ik_lesen_t*) {}
void ik__ppq(char* w, int, ik_lesen_t*) {
    ik__kopie(inidat.ppq, w);
}
void ik__ppc(char* w, int, ik_lesen_t*) {
    ik__kopie(inidat.ppc, w);
}

void ik__cona(char* w, int, ik_lesen_t* st) {
    inidat.constart = inidat.conende = false;
    for (; *w; w++) {
        char c = ik__gross(*w);
        if (c == 'S') inidat.constart = true;
        if (c == 'E') inidat.conende = true;
    }
    st->conagesehen = true;
}

void ik__con(char* w, int, ik_lesen_t* st) {
    // Older files have no CONA= line: both automatic modes are on.
    if (!st->conagesehen) inidat.constart = inidat.conende = true;
    char* p = w;
    if (*p == ';') {
        inidat.constart = false;
        p++;
    }
    size_t n = strlen(p);
    if (n && p[n - 1] == ';') {
        inidat.conende = false;
        p[--n] = 0;
    }
    inidat.conad = 0;
    if (!*p || stricmp(p, "Internet") == 0 || n >= sizeof inidat.conport - 1) {
        inidat.conport[0] = inidat.con[0] = 0;
        return;
    }
    if (*p == '|' && (!p[1] || stricmp(p + 1, "Internet") == 0)) {
        inidat.conad = 1;
        return;
    }
    if (*p == ',') {
        inidat.conad = p[1] ? 4 : 3;
        p++;
    } else {
        if (*p == '|') p++;
        inidat.conad = 2;
    }
    // What follows the markers is a port or interface name: marker characters left at its
    // ends would be taken as markers when the rewritten file is read again.
    while (*p && strchr(" ;|,", *p))
        p++;
    size_t l = strlen(p);
    while (l && strchr(" ;", p[l - 1]))
        p[--l] = 0;
    strMcpy(inidat.conport, p);
    strMcpy(inidat.con, p);
}

// "name;password" as one obfuscated value. Files of older versions hold the obfuscated
// name followed by ";" and the password in clear (the obfuscation alphabet has no ';');
// they are read and rewritten in the closed form.
void ik__pass(char* w, int, ik_lesen_t* st) {
    bool verschleiert = strncmp(w, "CRYPT1", 6) == 0;
    char klar[ik__PASSKLAR + 1];
    char* pass;
    char* semi = verschleiert ? strchr(w, ';') : nullptr;
    if (semi) {
        *semi = 0;
        if (strlen(w) > ik__obflaenge(sizeof inidat.conname - 1)) return;
        if (strlen(semi + 1) >= sizeof inidat.conpass) return;
        ob_deobfuscate(w, klar, sizeof klar);
        pass = semi + 1;
        st->neu = true;
    } else {
        if (strlen(w) > (verschleiert ? ik__PASSOBF : ik__PASSKLAR)) return;
        if (!ob_deobfuscate(w, klar, sizeof klar) && *w) st->neu = true;
        pass = strchr(klar, ';');
        if (pass) *pass++ = 0;
    }
    if (strlen(klar) >= sizeof inidat.conname) return;
    if (pass && strlen(pass) >= sizeof inidat.conpass) return;
    strMcpy(inidat.conname, klar);
    strMcpy(inidat.conpass, pass ? pass : "");
}

void ik__day(char* w, int, ik_lesen_t*) {
    const char* p = w;
    if (ik__gross(*p) == 'P') {
        inidat.round = 1;
        p = ik__blanks(p + 1);
        lo_slog("INI file: connlog, old syntax\n", "", -1);
    }
    int d = 0;
    for (int i = 0; i < 2 && ik__ziffer(*p); i++)
        d = d * 10 + (*p++ - '0');
    inidat.day = d;
    inidat.dayt = 0;
    p = ik__blanks(p);
    if (*p != ';') return;
    p = ik__blanks(p + 1);
    long t = ik__zahl(&p, INT_MAX);
    // Very old files kept the rounding in the second place.
    if (t > 99)
        inidat.round = (int)t;
    else
        inidat.dayt = (int)t;
}

// Both roundings come from the line: a missing number is 0, so that a stored 0 stays 0.
void ik__rnd(char* w, int, ik_lesen_t*) {
    const char* p = w;
    inidat.round = (int)ik__zahl(&p, INT_MAX);
    inidat.roundt = 0;
    p = ik__blanks(p);
    if (*p != ';') return;
    p = ik__blanks(p + 1);
    inidat.roundt = (int)ik__zahl(&p, INT_MAX);
}

// Three thresholds with unit letters. Times take only h and d: the m of "min" is no unit.
void ik__grenzen(const char* w, long* v, bool zeit, ik_lesen_t* st) {
    v[0] = v[1] = v[2] = 0;
    int i = 0;
    for (const char* p = w; *p; p++) {
        char c = ik__gross(*p);
        if (ik__ziffer(c)) {
            v[i] = v[i] > (LONG_MAX - (c - '0')) / 10 ? LONG_MAX : v[i] * 10 + (c - '0');
        } else if (c == ';') {
            if (++i >= 3) {
                st->neu = true;
                return;
            }
        } else if (c == ',' || c == '.') {
            st->neu = true;
            return;
        } else if (zeit) {
            if (c == 'H') v[i] = ik__mal(v[i], 60);
            if (c == 'D') v[i] = ik__mal(v[i], 1440);
        } else {
            if (c == 'M') v[i] = ik__mal(v[i], 1000);
            if (c == 'G') v[i] = ik__mal(v[i], 1000000);
        }
    }
}
void ik__maxv(char* w, int, ik_lesen_t* st) {
    ik__grenzen(w, inidat.max, false, st);
}
void ik__maxt(char* w, int, ik_lesen_t* st) {
    ik__grenzen(w, inidat.maxt, true, st);
}

void ik__err(char* w, int, ik_lesen_t* st) {
    st->errnamen = 0;
    const char* p = w;
    while (*p) {
        if (*p == ' ' || *p == '\t') {
            p++;
            continue;
        }
        int k = ERRN - 1;
        while (k >= 0 && memicmp(p, ik__errname[k], (long)strlen(ik__errname[k])) != 0)
            k--;
        if (k < 0) {
            p++;
            st->neu = true;
            continue;
        }
        p += strlen(ik__errname[k]);
        if (!ik__ziffer(*p)) {
            st->neu = true;
            continue;
        }
        int n = 0;
        for (int j = 0; j < 3 && ik__ziffer(*p); j++)
            n = n * 10 + (*p++ - '0');
        inidat.err[k] = n;
        st->errnamen++;
    }
}

void ik__sdly(char* w, int, ik_lesen_t*) {
    const char* p = w;
    inidat.startdelay = (unsigned long)ik__zahl(&p, LONG_MAX);
    inidat.resumedelay = 0;
    p = ik__blanks(p);
    if (*p != ';') return;
    p = ik__blanks(p + 1);
    inidat.resumedelay = (unsigned long)ik__zahl(&p, LONG_MAX);
}

// hhmm from the digits between von and bis, in minutes after midnight (at most 23:59).
int ik__uhrzeit(const char* von, const char* bis, ik_lesen_t* st) {
    long hhmm = 0;
    for (const char* p = von; p < bis; p++)
        if (ik__ziffer(*p)) hhmm = min(hhmm * 10 + (*p - '0'), 1000000L);
    long m = hhmm / 100 * 60 + hhmm % 100;
    if (m > 1439) {
        m = 1439;
        st->neu = true;
    }
    return (int)m;
}

void ik__endc(char* w, int, ik_lesen_t* st) {
    inidat.enduhrzeit1 = inidat.enduhrzeit2 = -1;
    inidat.enduhrzeite = false;
    const char* semi = strchr(w, ';');
    if (!ik__ziffer(*w) || !semi || (!strchr(w, ':') && !strchr(w, '.'))) return;
    inidat.enduhrzeit1 = ik__uhrzeit(w, semi, st);
    inidat.enduhrzeit2 = ik__uhrzeit(semi + 1, semi + strlen(semi), st);
    for (const char* p = semi + 1; *p; p++)
        if (ik__gross(*p) == 'E') inidat.enduhrzeite = true;
}

void ik__endm(char* w, int, ik_lesen_t*) {
    int v = ik__ziffer(*w) ? *w - '0' : 0;
    inidat.endm = v <= 2 ? v : 0;
}

void ik__end(char* w, int, ik_lesen_t*) {
    inidat.end = 0;
    inidat.endhightraffic = inidat.endforce = inidat.endverb = inidat.endstandby = false;
    inidat.endshutdown = 0;
    const char* p = w;
    // Older form: start delay, ";", countdown.
    if (const char* semi = strchr(w, ';')) {
        unsigned long d = 0;
        for (; p < semi; p++)
            if (ik__ziffer(*p)) d = min(d * 10 + (unsigned long)(*p - '0'), (unsigned long)INT_MAX);
        inidat.startdelay = d;
        p = semi + 1;
    }
    for (; *p; p++) {
        char c = ik__gross(*p);
        if (ik__ziffer(c))
            inidat.end = min(inidat.end * 10 + (unsigned long)(c - '0'), (unsigned long)INT_MAX);
        else if (c == 'T')
            inidat.endhightraffic = true;
        else if (c == 'F')
            inidat.endforce = true;
        else if (c == 'C')
            inidat.endverb = true;
        else if (c == 'Z')
            inidat.endstandby = true;
        else if (c == 'S') {
            if (inidat.endshutdown != 2) inidat.endshutdown = 1;
        } else if (c == 'R')
            inidat.endshutdown = 2;
    }
}

// The command is kept as written; quoting for the shell is the business of the code that
// runs it.
void ik__cmd(char* w, int i, ik_lesen_t*) {
    ik__kopie(inidat.cmd[i], w);
}

void ik__sms(char* w, int i, ik_lesen_t*) {
    const char* p = w;
    bool anruf = *p == ',';
    if (anruf) p++;
    const char* semi = strchr(p, ';');
    size_t nrlaenge = semi ? (size_t)(semi - p) : strlen(p);
    const char* key = semi ? semi + 1 : "";
    if (nrlaenge >= sizeof inidat.smsnr[i] || strlen(key) >= sizeof inidat.smskey[i]) return;
    inidat.sms[i] = 0;
    inidat.smsnr[i][0] = inidat.smskey[i][0] = 0;
    // An empty value is an unused entry, not a keyword entry that any SMS would trigger.
    if (!*w) return;
    memcpy(inidat.smsnr[i], p, nrlaenge);
    inidat.smsnr[i][nrlaenge] = 0;
    strMcpy(inidat.smskey[i], key);
    for (char* k = inidat.smskey[i]; *k; k++)
        *k = ik__gross(*k);
    if (anruf) {
        inidat.sms[i] = 2;
        inidat.smsring = true;
    } else {
        inidat.sms[i] = 1;
    }
}

void ik__smsc(char* w, int, ik_lesen_t*) {
    size_t n = strlen(w);
    if (n == 0 || (n < sizeof inidat.smsc && w[0] == '+' && ik__ziffer(w[1])))
        strMcpy(inidat.smsc, w);
    else
        strMcpy(inidat.smsc, _de ? "(Formatfehler)" : "(format error)");
}

void ik__ipc(char* w, int, ik_lesen_t*) {
    int v = 0;
    for (const char* p = w; *p >= '0' && *p <= '7'; p++)
        v = min(v * 8 + (*p - '0'), 03777);
    inidat.ipcmod = v;
}

void ik__icon(char* w, int, ik_lesen_t*) {
    int v = ik__ziffer(*w) ? *w - '0' : 0;
    inidat.icon = (v >= 1 && v <= 6) ? v : 1;
}

void ik__batt(char* w, int, ik_lesen_t* st) {
    long b[2] = {0, 0};
    int i = 0;
    for (const char* p = w; *p; p++) {
        if (*p == ';' && i == 0)
            i = 1;
        else if (ik__ziffer(*p))
            b[i] = min(b[i] * 10 + (*p - '0'), 1000L);
    }
    for (long& v : b)
        if (v > 100) {
            v = 100;
            st->neu = true;
        }
    if (b[0] < b[1]) {
        long t = b[0];
        b[0] = b[1];
        b[1] = t;
        st->neu = true;
    }
    inidat.batt1 = (int)b[0];
    inidat.batt2 = (int)b[1];
}

void ik__mod(char* w, int, ik_lesen_t*) {
    memset(inidat.mod, 0, sizeof inidat.mod);
    for (; *w; w++)
        if (ik__alnum(*w)) inidat.mod[(unsigned char)*w] = 1;
}

// A comment may be cut, but never inside a UTF-8 sequence.
void ik__rem(char* w, int, ik_lesen_t*) {
    size_t n = strlen(w);
    if (n >= sizeof inidat.rem) {
        n = sizeof inidat.rem - 1;
        while (n > 0 && ((unsigned char)w[n] & 0xC0) == 0x80)
            n--;
    }
    memcpy(inidat.rem, w, n);
    inidat.rem[n] = 0;
}

void ik__homu(char* w, int, ik_lesen_t* st) {
    if (memicmp(w, "http://", 7) == 0) {
        w += 7;
        st->neu = true;
    }
    ik__kopie(inidat.homu, w);
}
void ik__homi(char* w, int, ik_lesen_t*) {
    ik__kopie(inidat.homi, w);
}
void ik__homo(char* w, int, ik_lesen_t*) {
    ik__kopie(inidat.homo, w);
}
void ik__servicelog(char*, int, ik_lesen_t* st) {
    MODUS('P') = 1;
    st->neu = true;
}

struct ik__key_t {
    const char* name;
    void (*regel)(char* wert, int index, ik_lesen_t* st);
    int index;
    bool ohnegleich; // the key needs no "="
};

// Matching order: the first key that is a prefix of the line wins, so every longer key
// comes before the shorter key it starts with.
constexpr ik__key_t ik__keys[] = {
    {"LAN", ik__lan, 0, false},
    {"COM", ik__com, 0, false},
    {"DEVI", ik__devi, 0, false},
    {"DEV", ik__dev, 0, false},
    {"PING", ik__ping, 0, false},
    {"PIN", ik__pin, 0, false},
    {"NET", ik__net, 0, false},
    {"APN", ik__apn, 0, false},
    {"USSD", ik__nichts, 0, false},
    {"PPQ", ik__ppq, 0, false},
    {"PPC", ik__ppc, 0, false},
    {"CONA", ik__cona, 0, false},
    {"CON", ik__con, 0, false},
    {"PASS", ik__pass, 0, false},
    {"DAY", ik__day, 0, false},
    {"RND", ik__rnd, 0, false},
    {"MAXV", ik__maxv, 0, false},
    {"MAXT", ik__maxt, 0, false},
    {"MAX", ik__maxv, 0, false},
    {"ERR", ik__err, 0, false},
    {"SDLY", ik__sdly, 0, false},
    {"ENDC", ik__endc, 0, false},
    {"ENDM", ik__endm, 0, false},
    {"END", ik__end, 0, false},
    {"CMD1", ik__cmd, 0, false},
    {"CMD2", ik__cmd, 1, false},
    {"CMD3", ik__cmd, 2, false},
    {"SMS1", ik__sms, 0, false},
    {"SMS2", ik__sms, 1, false},
    {"SMS3", ik__sms, 2, false},
    {"CMD", ik__nichts, 0, false},
    {"SMSC", ik__smsc, 0, false},
    {"IPC", ik__ipc, 0, false},
    {"ICON", ik__icon, 0, false},
    {"BATT", ik__batt, 0, false},
    {"MOD", ik__mod, 0, false},
    {"REM", ik__rem, 0, false},
    {"HOMU", ik__homu, 0, false},
    {"HOMI", ik__homi, 0, false},
    {"HOMO", ik__homo, 0, false},
    {"SERVICELOG", ik__servicelog, 0, true},
    {"SERVILOG", ik__servicelog, 0, true},
};

// ---- Writing ----

// A value never ends its line early: a line break inside it would start a key line of
// its own.
void ik__wert(FILE* f, const char* s) {
    for (; *s; s++)
        fputc((*s == '\n' || *s == '\r') ? ' ' : *s, f);
}
void ik__zeile(FILE* f, const char* anfang, const char* wert) {
    fputs(anfang, f);
    ik__wert(f, wert);
    fputc('\n', f);
}

int ik__tag(int d) {
    return d > 32 ? 99 : d;
}

void ik__uhr(FILE* f, int m) {
    fprintf(f, "%02i:%02i", m / 60, m % 60);
}

constexpr char ik__stern[] = "*****************************************************";
constexpr char ik__titel[] = "*                     tandor                        *";
constexpr char ik__leer[] = "*                                                   *";
constexpr char ik__zuenglisch[] = "*       -> English description see below. <-        *";
constexpr char ik__zudeutsch[] = "*     -> Deutsche Beschreibung siehe unten. <-      *";
static_assert(sizeof ik__stern == 54 && sizeof ik__titel == 54 && sizeof ik__leer == 54);
static_assert(sizeof ik__zuenglisch == 54 && sizeof ik__zudeutsch == 54);

// Every line of the description starts with '*', so that the reader skips it.
constexpr char ik__textde[] =
    "*****************************************************\n"
    "* Beschreibung der Einstellungen, Stand ==DATUM===\n"
    "*\n"
    "* Jede Zeile: Zeilennummer, Schlüssel, \"=\", Wert. Zeilen mit \"*\" oder \"(\"\n"
    "* am Anfang sind Kommentare. Nummern und Reihenfolge dürfen fehlen; das\n"
    "* Programm stellt sie beim nächsten Schreiben wieder her. Zeile 01 (Zähler)\n"
    "* schreibt nur das Programm. Schlüssel können auch als Programmargumente\n"
    "* übergeben werden, z.B. MOD=PX.\n"
    "*\n"
    "* LAN=   Sprache: Deutsch oder English.\n"
    "* COM=   Befehlsport des Modems, z.B. /dev/ttyUSB2, oder Befehlsport;Zweitport.\n"
    "*        ? = automatisch suchen, NONE = ohne Modem, LINKSYS... = über Router.\n"
    "* DEV=   Gerätetyp: leer automatisch, 1 Option, 2 Novatel, 3 Huawei, 4 Sierra,\n"
    "*        5 Ericsson, 6 Qualcomm, 7 Samsung, 8 ZTE, 11 Sony, 12 LG.\n"
    "* DEVI=  Eigene AT-Befehle, die bei der Initialisierung gesendet werden.\n"
    "* PIN=   PIN der SIM-Karte; wird verschleiert gespeichert. NONE löscht sie.\n"
    "* NET=   Netz: leer automatisch; Netzkennung (z.B. 26201) nur dieses Netz;\n"
    "*        ;Netzkennung automatisch mit Warnung bei fremdem Netz; ? Netzsuche.\n"
    "* APN=   Zugangspunkt (APN) des Anbieters.\n"
    "* PPQ=   USSD-Code für die Guthabenabfrage, z.B. *100#.\n"
    "* PPC=   USSD-Vorlage zum Aufladen; <INPUT> steht für den Aufladecode.\n"
    "* CONA=  S = beim Programmstart verbinden, E = beim Beenden trennen.\n"
    "* CON=   Port(s) für die Einwahl, mit \",\" getrennt, oder Schnittstelle ppp...;\n"
    "*        leer = Standard.\n"
    "* PASS=  Benutzername und Passwort der Einwahl; verschleiert gespeichert.\n"
    "* DAY=   Zeitraumende für Volumen;Zeit: 1-31 Tag im Monat, 32 täglich,\n"
    "*        99 nie, leer = Zähler beginnt bei jedem Start neu.\n"
    "* RND=   Aufrundung je Verbindung: Volumen in kB;Zeit in Minuten.\n"
    "* MAXV=  Volumen für Vorwarnung;Warnung;Trennung, z.B. 0;500M;1G.\n"
    "* MAXT=  Onlinezeit für Vorwarnung;Warnung;Trennung, z.B. 90min;2h;1d.\n"
    "* HOMU=  Homezone-Abfrage: Webadresse ohne http:// oder USSD-Code.\n"
    "* HOMI=  Text der Antwort \"in der Homezone\"; HOMO= Text \"außerhalb\".\n"
    "* ERR=   Fehlertoleranzen: NOC Minuten ohne Verbindung bis zum Beenden (0 aus);\n"
    "*        FRZ, CRC, TME, ALG, FRM, BUF; L Fehleranzeige 0 sofort ... 9 am Ende.\n"
    "* PING=  Verbindungsüberwachung: leer passiv, sonst Adressen mit \";\" getrennt.\n"
    "* SDLY=  Sekunden Wartezeit vor der ersten Verbindung;nach dem Standby.\n"
    "* ENDM=  Fenster schließen: 0 fragen, 1 beenden, 2 minimieren.\n"
    "* ENDC=  Täglich ohne Verbindung von hh:mm;bis hh:mm, E = danach beenden.\n"
    "* END=   Automatisches Ende nach Minuten Inaktivität. T hoher Verkehr gilt\n"
    "*        als inaktiv, F zeitgesteuert, C nur trennen, Z bei Standby beenden,\n"
    "*        S danach herunterfahren, R neu starten.\n"
    "* CMD1=  ... CMD3=: eigene Programme, die das Programm startet.\n"
    "* SMS1=  ... SMS3=: Fernsteuerung. Nummer;Schlüsselwort per SMS,\n"
    "*        ,Nummer per Anruf.\n"
    "* SMSC=  SMS-Zentrale in internationaler Form, z.B. +491720000000.\n"
    "* IPC=   Zugriffsrechte (oktal) des Speicherbereichs für Steuerprogramme.\n"
    "* ICON=  Stil der Symbole, 1 bis 6.\n"
    "* BATT=  Akkusymbol unter %;Warnung unter %.\n"
    "* MOD=   Schalter, z.B. P Servicelog, X erweiterter Servicelog, M SMS-Empfang,\n"
    "*        K PIN nicht speichern, G Kompression aus, B schwarze Symbole,\n"
    "*        T Fenster im Vordergrund, H Trennen außerhalb der Homezone.\n"
    "* REM=   Freier Kommentar, der im Hauptfenster erscheint.\n"
    "*****************************************************\n";

constexpr char ik__texten[] =
    "*****************************************************\n"
    "* Description of the settings, as of ==DATUM===\n"
    "*\n"
    "* Each line: line number, key, \"=\", value. Lines starting with \"*\" or \"(\"\n"
    "* are comments. Numbers and order may be missing; the program restores them\n"
    "* when it next writes the file. Line 01 (counters) is written by the program\n"
    "* only. Keys may also be given as program arguments, e.g. MOD=PX.\n"
    "*\n"
    "* LAN=   Language: Deutsch or English.\n"
    "* COM=   Command port of the modem, e.g. /dev/ttyUSB2, or command port;second port.\n"
    "*        ? = search automatically, NONE = no modem, LINKSYS... = through a router.\n"
    "* DEV=   Device type: empty automatic, 1 Option, 2 Novatel, 3 Huawei, 4 Sierra,\n"
    "*        5 Ericsson, 6 Qualcomm, 7 Samsung, 8 ZTE, 11 Sony, 12 LG.\n"
    "* DEVI=  Own AT commands sent when the modem is initialised.\n"
    "* PIN=   PIN of the SIM card; stored obfuscated. NONE deletes it.\n"
    "* NET=   Network: empty automatic; network code (e.g. 26201) this network only;\n"
    "*        ;network code automatic with a warning on other networks; ? search.\n"
    "* APN=   Access point name of the provider.\n"
    "* PPQ=   USSD code of the balance query, e.g. *100#.\n"
    "* PPC=   USSD template for a top-up; <INPUT> stands for the voucher code.\n"
    "* CONA=  S = connect at program start, E = disconnect at program end.\n"
    "* CON=   Dial-up port(s), separated by \",\", or interface ppp...; empty default.\n"
    "* PASS=  User name and password of the dial-up; stored obfuscated.\n"
    "* DAY=   Period end for volume;time: 1-31 day of the month, 32 daily,\n"
    "*        99 never, empty = the counter starts anew at each program start.\n"
    "* RND=   Rounding up of each connection: volume in kB;time in minutes.\n"
    "* MAXV=  Volume for pre-warning;warning;disconnection, e.g. 0;500M;1G.\n"
    "* MAXT=  Online time for pre-warning;warning;disconnection, e.g. 90min;2h;1d.\n"
    "* HOMU=  Homezone query: web address without http:// or USSD code.\n"
    "* HOMI=  Answer text meaning \"inside the homezone\"; HOMO= \"outside\".\n"
    "* ERR=   Error tolerances: NOC minutes without connection until the end (0 off);\n"
    "*        FRZ, CRC, TME, ALG, FRM, BUF; L error display 0 at once ... 9 at the end.\n"
    "* PING=  Connection monitoring: empty passive, else addresses separated by \";\".\n"
    "* SDLY=  Seconds to wait before the first connection;after a standby.\n"
    "* ENDM=  Closing the window: 0 ask, 1 terminate, 2 minimise.\n"
    "* ENDC=  Daily no connection from hh:mm;until hh:mm, E = terminate afterwards.\n"
    "* END=   Automatic end after minutes of inactivity. T high traffic counts as\n"
    "*        inactive, F time-controlled, C disconnect only, Z terminate at standby,\n"
    "*        S shut down afterwards, R restart.\n"
    "* CMD1=  ... CMD3=: own programs that the program starts.\n"
    "* SMS1=  ... SMS3=: remote control. Number;keyword by SMS, ,number by call.\n"
    "* SMSC=  SMS service centre in international form, e.g. +491720000000.\n"
    "* IPC=   Permission bits (octal) of the shared memory for control programs.\n"
    "* ICON=  Style of the icons, 1 to 6.\n"
    "* BATT=  Battery icon below %;warning below %.\n"
    "* MOD=   Switches, e.g. P service log, X extended service log, M SMS reception,\n"
    "*        K do not store the PIN, G compression off, B black icons,\n"
    "*        T window always on top, H disconnect outside the homezone.\n"
    "* REM=   Free comment shown in the main window.\n"
    "*****************************************************\n";

// The text with the date put in place of its placeholder.
void ik__text(FILE* f, const char* text) {
    const char* platz = strstr(text, "==DATUM===");
    if (!platz) {
        fputs(text, f);
        return;
    }
    fwrite(text, 1, (size_t)(platz - text), f);
    fputs(ik__datum, f);
    fputs(platz + strlen("==DATUM==="), f);
}

void ik__banner(FILE* f) {
    fprintf(f, "%s\n%s\n%s\n", ik__stern, ik__titel, ik__leer);
}

void ik__beschreibung(FILE* f) {
    ik__banner(f);
    fprintf(f, "%s\n", _de ? ik__zuenglisch : ik__zudeutsch);
    ik__text(f, _de ? ik__textde : ik__texten);
    fputs("\n\n", f);
    ik__banner(f);
    ik__text(f, _de ? ik__texten : ik__textde);
}

} // namespace

void ik_line(char* zeile, ik_lesen_t* st) {
    if (!zeile || !st) return;
    // Line ends of other systems (CR LF) are removed with the LF.
    size_t n = strlen(zeile);
    while (n && (zeile[n - 1] == '\n' || zeile[n - 1] == '\r'))
        zeile[--n] = 0;
    while (n && zeile[n - 1] == ' ')
        zeile[--n] = 0;
    // The tab after the language name must survive: it tells a written LAN line.
    if (!strstr(zeile, "lan") && !strstr(zeile, "LAN"))
        while (n && (zeile[n - 1] == ' ' || zeile[n - 1] == '\t'))
            zeile[--n] = 0;

    char* p = zeile;
    if (*p == '*' || *p == '(') return;
    for (int i = 0; i < 2 && ik__ziffer(*p); i++)
        p++;
    while (*p == ' ')
        p++;
    if (*p == '*' || *p == '(') return;
    if (strncmp(p, "tandor ", 7) == 0) {
        if (strcmp(p + 7, ik__version) != 0) st->neu = true;
        return;
    }
    if (strncmp(p, "--> ", 4) == 0) {
        st->neu = true;
        return;
    }
    for (char* k = p; *k && *k != '='; k++)
        *k = ik__gross(*k);
    if (strcmp(p, "INIWRITE") == 0) {
        st->neu = true;
        return;
    }
    if (strcmp(p, "INIWRITEEXIT") == 0) {
        st->neu = true;
        st->writeexit = true;
        return;
    }
    for (const ik__key_t& k : ik__keys) {
        size_t kl = strlen(k.name);
        if (strncmp(p, k.name, kl) != 0) continue;
        char* w = p + kl;
        if (!k.ohnegleich) {
            while (*w == ' ')
                w++;
            if (*w != '=') return;
            w++;
            while (*w == ' ')
                w++;
        }
        k.regel(w, k.index, st);
        return;
    }
}

void ik_finish(ik_lesen_t* st) {
    if (!st) return;
    // A keyword entry needs SMS reception. Set after all keys, since MOD= clears every
    // switch when it is read and stands behind SMS1-SMS3 in the file's own layout.
    for (int i = 0; i < 3; i++)
        if (inidat.sms[i] == 1) MODUS('M') = 1;
    if (MODUS('K') && inidat.pin[0]) {
        inidat.pin[0] = 0;
        st->neu = true;
    }
    if (st->errnamen < ERRN) st->neu = true;
}

bool ik_write(FILE* f) {
    if (!f) return false;
    fprintf(f, "02 (%s)\n03\n",
            _de ? "Die Zeile 01 bitte nicht ver" U8ae "ndern." : "Please do not change line 01.");
    if (inidat.hinweis[0])
        ik__zeile(f, "04 --> ", inidat.hinweis);
    else
        fputs("04\n", f);
    fprintf(f, "05 tandor %s\n06\n", ik__version);
    fprintf(f, "07 LAN=%s\n", _de ? "Deutsch\t" : "English\t");
    ik__zeile(f, "08 COM=", inidat.comport);
    if (inidat.mangeraet)
        fprintf(f, "09 DEV=%i\n", inidat.mangeraet);
    else
        fputs("09 DEV=\n", f);
    ik__zeile(f, "10 DEVI=", inidat.devi);

    char verschleiert[ik__PASSOBF + 1];
    verschleiert[0] = 0;
    if (!MODUS('K')) ob_obfuscate(inidat.pin, verschleiert, sizeof verschleiert);
    ik__zeile(f, "11 PIN=", verschleiert);
    ik__zeile(f, "12 NET=", inidat.net);
    ik__zeile(f, "13 APN=", inidat.apn);
    ik__zeile(f, "14 PPQ=", inidat.ppq);
    ik__zeile(f, "15 PPC=", inidat.ppc);
    fprintf(f, "16 CONA=%s%s\n", inidat.constart ? "S" : "", inidat.conende ? "E" : "");
    ik__zeile(f, "17 CON=", inidat.conport);

    // User name and password as one obfuscated text: the password is never in clear.
    char klar[ik__PASSKLAR + 1];
    char* e = stpMcpy(klar, inidat.conname);
    if (inidat.conpass[0]) {
        e = stpmcpy(e, ";", sizeof klar - (size_t)(e - klar));
        stpmcpy(e, inidat.conpass, sizeof klar - (size_t)(e - klar));
    }
    ob_obfuscate(klar, verschleiert, sizeof verschleiert);
    ik__zeile(f, "18 PASS=", verschleiert);

    fputs("19 DAY=", f);
    if (inidat.day) fprintf(f, "%02i", ik__tag(inidat.day));
    if (inidat.dayt) fprintf(f, ";%02i", ik__tag(inidat.dayt));
    fputs("\n20 RND=", f);
    if (inidat.round) fprintf(f, "%i", inidat.round);
    if (inidat.roundt) fprintf(f, ";%i", inidat.roundt);
    fputs("\n21 MAXV=", f);
    for (int i = 0; i < 3; i++)
        fprintf(f, "%s%s", i ? ";" : "", kbytemiteinheit(inidat.max[i]));
    fputs("\n22 MAXT=", f);
    for (int i = 0; i < 3; i++)
        fprintf(f, "%s%s", i ? ";" : "", zeitmiteinheit(inidat.maxt[i]));
    fputc('\n', f);
    ik__zeile(f, "23 HOMU=", inidat.homu);
    ik__zeile(f, "24 HOMI=", inidat.homi);
    ik__zeile(f, "25 HOMO=", inidat.homo);
    fputs("26 ERR=", f);
    for (int i = 0; i < ERRN; i++)
        fprintf(f, "%s%s%i", i ? " " : "", ik__errname[i], inidat.err[i]);
    fputc('\n', f);
    ik__zeile(f, "27 PING=", inidat.ping);
    fprintf(f, "28 SDLY=%lu", inidat.startdelay);
    if (inidat.resumedelay) fprintf(f, ";%lu", inidat.resumedelay);
    fprintf(f, "\n29 ENDM=%i\n30 ENDC=", inidat.endm);
    if (inidat.enduhrzeit1 >= 0 && inidat.enduhrzeit2 >= 0) {
        ik__uhr(f, inidat.enduhrzeit1);
        fputc(';', f);
        ik__uhr(f, inidat.enduhrzeit2);
        if (inidat.enduhrzeite) fputc('E', f);
    }
    fprintf(f, "\n31 END=%lu%s%s%s%s%s\n", inidat.end, inidat.endhightraffic ? "T" : "",
            inidat.endforce ? "F" : "", inidat.endverb ? "C" : "", inidat.endstandby ? "Z" : "",
            inidat.endshutdown == 1   ? "S"
            : inidat.endshutdown == 2 ? "R"
                                      : "");
    ik__zeile(f, "32 CMD1=", inidat.cmd[0]);
    ik__zeile(f, "33 CMD2=", inidat.cmd[1]);
    ik__zeile(f, "34 CMD3=", inidat.cmd[2]);

    inidat.smsring = false;
    for (int i = 0; i < 3; i++) {
        fprintf(f, "%02d SMS%d=", 35 + i, i + 1);
        if (inidat.sms[i] == 1) {
            char key[sizeof inidat.smskey[i]];
            strMcpy(key, inidat.smskey[i]);
            for (char* k = key; *k; k++)
                *k = ik__gross(*k);
            ik__wert(f, inidat.smsnr[i]);
            fputc(';', f);
            ik__wert(f, key);
        } else if (inidat.sms[i] == 2) {
            inidat.smsring = true;
            fputc(',', f);
            ik__wert(f, inidat.smsnr[i]);
        }
        fputc('\n', f);
    }
    ik__zeile(f, "38 SMSC=", inidat.smsc);
    fputs("39 IPC=", f);
    if (inidat.ipcmod > 0) fprintf(f, "%04o", (unsigned)inidat.ipcmod);
    fprintf(f, "\n40 ICON=%i\n41 BATT=%i;%i\n42 MOD=", inidat.icon, inidat.batt1, inidat.batt2);
    // Only the switches that the reader takes: ASCII letters and digits.
    for (int c = 0; c < 255; c++)
        if (inidat.mod[c] && ik__alnum((char)c)) fputc(c, f);
    fputc('\n', f);
    ik__zeile(f, "43 REM=", inidat.rem);
    fputs("\n\n", f);
    ik__beschreibung(f);
    return !ferror(f) && fflush(f) == 0;
}
