#include "config/header.h"

#include "config/inifile.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

char headerdaten[63] = "01 AAA000000000-0000000000000-00000000000000000000000";
int configkbvreset = 0;
int configtreset = 0;

namespace {

// Length of line 01 in a full rewrite: the header and 16 reserved '0'.
constexpr int hd__ZEILE = 53;
constexpr long hd__MAXV = 999999999L;
constexpr long hd__MAXT = 599999L;
constexpr int hd__MAXPOS = 9999;

// A header write was due and did not reach the file.
bool hd__ausstehend = false;
// Line 01 as read was no header that an in-place write may overwrite (damaged, missing or
// behind a byte-order mark): the next write of the file is a whole one. hd__ganzzeile
// keeps the start of that line, so that only this very file is rewritten.
bool hd__ganz = false;
char hd__ganzzeile[HD_LAENGE + 1] = "";
// A counter at the end of its field has been logged (once until it falls back).
bool hd__vollv = false, hd__vollt = false;
// The counters noted by hd_vormerken for the next hd_read.
struct hd__zaehler_t {
    bool gemerkt;
    long v, voffset, t;
    int day, mon;
} hd__gemerkt = {};

// The fixed layout of the header: what every position must hold. The function position
// holds a digit, or the 'A' of the initial line that no connection program has written yet.
enum hd__art { HD_TEXT, HD_FUNKTION, HD_ZEICHEN, HD_ZIFFERN };
struct hd__feld {
    int offset;
    int breite;
    hd__art art;
    const char* text; // HD_TEXT only
};
constexpr hd__feld hd__felder[] = {
    {0, 3, HD_TEXT, "01 "},       {3, 1, HD_FUNKTION, nullptr}, {4, 1, HD_ZEICHEN, nullptr},
    {5, 1, HD_ZEICHEN, nullptr},  {6, 9, HD_ZIFFERN, nullptr},  {15, 1, HD_TEXT, "-"},
    {16, 4, HD_ZIFFERN, nullptr}, {20, 4, HD_ZIFFERN, nullptr}, {24, 2, HD_ZIFFERN, nullptr},
    {26, 2, HD_ZIFFERN, nullptr}, {28, 1, HD_ZIFFERN, nullptr}, {29, 1, HD_TEXT, "-"},
    {30, 1, HD_ZIFFERN, nullptr}, {31, 6, HD_ZIFFERN, nullptr},
};

bool hd__ziffer(char c) {
    return c >= '0' && c <= '9';
}
bool hd__alnum(char c) {
    return hd__ziffer(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
char hd__upper(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

bool hd__feldgueltig(const char* z, const hd__feld& f) {
    for (int i = 0; i < f.breite; i++) {
        char c = z[f.offset + i];
        bool ok = false;
        switch (f.art) {
        case HD_TEXT:
            ok = c == f.text[i];
            break;
        case HD_FUNKTION:
            ok = hd__ziffer(c) || c == 'A';
            break;
        case HD_ZEICHEN:
            ok = hd__alnum(c);
            break;
        case HD_ZIFFERN:
            ok = hd__ziffer(c);
            break;
        }
        if (!ok) return false;
    }
    return true;
}

// Copies the first n characters of a line (up to its end) into a NUL-padded buffer, so
// that a short line reads as missing fields instead of running past its end.
void hd__zeilekopie(const char* zeile, char* h, int n) {
    memset(h, 0, (size_t)n + 1);
    for (int i = 0; zeile && i < n && zeile[i] && zeile[i] != '\r' && zeile[i] != '\n'; i++)
        h[i] = zeile[i];
}

// A numeric field digit by digit; any character that is not a digit makes it 0.
long hd__zahl(const char* h, int offset, int breite) {
    long v = 0;
    for (int i = 0; i < breite; i++) {
        char c = h[offset + i];
        if (!hd__ziffer(c)) return 0;
        v = v * 10 + (c - '0');
    }
    return v;
}

// 0 stands for "never updated"; other values are held to the calendar.
int hd__tag(long v) {
    return v == 0 ? 0 : (int)bereichl(v, 1, 31);
}
int hd__monat(long v) {
    return v == 0 ? 0 : (int)bereichl(v, 1, 12);
}
char hd__buchstabe(char c) {
    return hd__alnum(c) ? hd__upper(c) : 'A';
}

// The window form to store: the window's current one where there is a window and this is
// the connection process, else the one read at start.
int hd__form(int fefo) {
    int f = fefo != 0 && inidat.funktion != FUNKTION_CONFIG ? fefo : inidat.headerfefo;
    return bereich(f, 1, 4);
}

// A counter that reached the width of its field stays at the largest value it can hold:
// starting again at 0 would hand the user a fresh allowance. Logged once per overflow.
long hd__saettigen(long v, long max, bool* gemeldet, const char* name) {
    if (v < 0) return 0;
    if (v <= max) {
        *gemeldet = false;
        return v;
    }
    if (!*gemeldet)
        lo_slog("!Header: %s counter at the end of its field, kept at %li.\n", name, max);
    *gemeldet = true;
    return max;
}

// Composes the 37 header characters from inidat into out; counters beyond their field
// width stay at its largest value.
bool hd__compose(char (&out)[HD_LAENGE + 1], int fefo) {
    inidat.headerv = hd__saettigen(inidat.headerv, hd__MAXV, &hd__vollv, "volume");
    inidat.headert = hd__saettigen(inidat.headert, hd__MAXT, &hd__vollt, "online time");
    inidat.headerx_neu = bereich(inidat.headerx_neu, 0, hd__MAXPOS);
    inidat.headery_neu = bereich(inidat.headery_neu, 0, hd__MAXPOS);
    int f = inidat.funktion;
    char funktionziffer = f >= 0 && f <= 9 ? (char)('0' + f) : '0';
    char hk = hd__ziffer(inidat.hinweisk) ? inidat.hinweisk : '0';
    char buf[64];
    int n = snprintf(buf, sizeof buf, "01 %c%c%c%09li-%04i%04i%02i%02i%c-%c%06li", funktionziffer,
                     hd__buchstabe(inidat.header2), hd__buchstabe(inidat.header3), inidat.headerv,
                     inidat.headerx_neu, inidat.headery_neu, hd__tag(inidat.headerday),
                     hd__monat(inidat.headermon), (char)('0' + hd__form(fefo)), hk, inidat.headert);
    if (n != HD_LAENGE || !hd_valid(buf)) {
        lo_slog("Header: Zusammensetzung fehlerhaft: %s\n", buf, -1);
        return false;
    }
    memcpy(out, buf, HD_LAENGE + 1);
    return true;
}

// Makes a line 01 found in the file a complete header: fixed characters put back, a
// letter that is none becomes 'A', a numeric field holding a non-digit becomes zeros (as
// the reader would take it), so that the connection process can always write over it.
void hd__repair(char* h) {
    for (const hd__feld& f : hd__felder) {
        if (hd__feldgueltig(h, f)) continue;
        for (int i = 0; i < f.breite; i++)
            h[f.offset + i] = f.art == HD_TEXT ? f.text[i] : f.art == HD_ZEICHEN ? 'A' : '0';
    }
    for (int i = HD_LAENGE; i < hd__ZEILE; i++)
        if (!hd__ziffer(h[i])) h[i] = '0';
}

// Whether the file (open for the in-place write) still starts with the line 01 that
// was read damaged, so that the whole rewrite replaces this file and no other.
bool hd__ganzfaellig(FILE* f) {
    if (!hd__ganz || fseek(f, 0, SEEK_SET) != 0) return false;
    char zeile[1180];
    if (!fgets(zeile, sizeof zeile, f)) zeile[0] = 0;
    char h[HD_LAENGE + 1];
    hd__zeilekopie(zeile, h, HD_LAENGE);
    return strcmp(h, hd__ganzzeile) == 0;
}

// After the header has been composed (and written): the form to keep at the program end,
// and the online time the next write is measured from.
void hd__abschluss(int fefo) {
    if (programmende_gewuenscht && inidat.funktion != FUNKTION_CONFIG && fefo != 0)
        inidat.headerfefo = bereich(fefo, 1, 4);
    inidat.headert_alt = inidat.headert;
}

} // namespace

bool hd_valid(const char* zeile) {
    if (!zeile) return false;
    char h[HD_LAENGE + 1];
    hd__zeilekopie(zeile, h, HD_LAENGE);
    for (const hd__feld& f : hd__felder)
        if (!hd__feldgueltig(h, f)) return false;
    return true;
}

void hd_read(const char* zeile) {
    char h[HD_LAENGE + 1];
    hd__zeilekopie(zeile, h, HD_LAENGE);
    hd__ganz = false;
    if (!hd_valid(h)) hd_ganzschreiben(zeile);
    if (inidat.funktion == 0 && h[3] >= '1' && h[3] <= '9') inidat.funktion = h[3] - '0';
    inidat.header2 = hd__buchstabe(h[4]);
    inidat.header3 = hd__buchstabe(h[5]);
    inidat.headerv = hd__zahl(h, 6, 9);
    inidat.headerday = hd__tag(hd__zahl(h, 24, 2));
    inidat.headermon = hd__monat(hd__zahl(h, 26, 2));
    inidat.headerfefo = bereich((int)hd__zahl(h, 28, 1), 1, 4);
    inidat.hinweisk = hd__ziffer(h[30]) ? h[30] : '0';
    inidat.headert = inidat.headert_alt = hd__zahl(h, 31, 6);
    if (hd__ziffer(h[16]) && hd__ziffer(h[20])) {
        inidat.headerx = (int)hd__zahl(h, 16, 4);
        inidat.headery = (int)hd__zahl(h, 20, 4);
    }
    inidat.headerx_neu = inidat.headerx;
    inidat.headery_neu = inidat.headery;
    inidat.headerset = true;
    inidat.headergueltig = true;
    if (hd__gemerkt.gemerkt) {
        // The file holds older counters than the memory did: a write failed before the rest.
        // headert_alt stays at the file's value, so the next write is due at once.
        inidat.headerv = hd__gemerkt.v;
        inidat.headervoffset = hd__gemerkt.voffset;
        inidat.headert = hd__gemerkt.t;
        inidat.headerday = hd__gemerkt.day;
        inidat.headermon = hd__gemerkt.mon;
        hd__gemerkt.gemerkt = false;
        lo_slog("Header: counters kept from memory, the file's are older.\n", "", -1);
    }
    lo_slogx("INI-Datei inidat.headerday gelesen: %s%li\n", "", inidat.headerday);
    lo_slogx("INI-Datei inidat.headermon gelesen: %s%li\n", "", inidat.headermon);
    // The window appears in its stored form at once, so the start-up checks that follow
    // can be watched in its status line.
    if (inidat.headerfefo != 4 && inidat.funktion != FUNKTION_CONFIG)
        ps_windowshow(inidat.headerfefo);
}

void hd_new() {
    inidat.header2 = inidat.header3 = 'A';
    inidat.headerv = 0;
    inidat.headervoffset = 999;
    inidat.headert = inidat.headert_alt = 0;
    inidat.headerday = inidat.headermon = 0;
    inidat.headerx = inidat.headery = 0;
    inidat.headerx_neu = inidat.headery_neu = 0;
    if (inidat.headerfefo < 1) inidat.headerfefo = 1;
    inidat.headerset = false;
    inidat.headergueltig = true;
    hd__gemerkt.gemerkt = false;
    hd__ganz = false;
}

void hd_ganzschreiben(const char* zeile) {
    hd__ganz = true;
    hd__zeilekopie(zeile, hd__ganzzeile, HD_LAENGE);
}

bool hd_ganzausstehend() {
    return hd__ganz;
}

void hd_ganzgeschrieben() {
    if (!hd__ganz) return;
    hd__ganz = false;
    // The line itself is not logged: in a file written by hand it may be the PIN line.
    lo_slog("!Header: line 01 was no complete header; the file has been written whole.\n", "", -1);
}

void iv_iniheaderwrite(bool dat) {
    if (inidat.funktion >= FUNKTION_CONTROL) return; // only the connection process writes
    if (!inidat.headergueltig) {
        lo_slogx("Header noch nicht g" U8ue "ltig.\n", "", -1);
        return;
    }
    inidat.headerx_neu = inidat.headerx;
    inidat.headery_neu = inidat.headery;
    ps_windowposition(&inidat.headerx_neu, &inidat.headery_neu);
    int fefo = ps_windowform();
    if (!dat) {
        bool fenstergleich =
            (inidat.headerx_neu == inidat.headerx && inidat.headery_neu == inidat.headery &&
             inidat.headerfefo == hd__form(fefo)) ||
            inidat.headerx_neu < 0 || inidat.headery_neu < 0;
        if (fenstergleich && inidat.day <= 0 && (inidat.dayt <= 0 || inidat.headervoffset <= 0)) {
            lo_slog("Header schreiben nicht notwendig.\n", "", -1);
            hd__ausstehend = false;
            return;
        }
        lo_slog(_de ? "Header in INI-Datei soll neu geschrieben werden.\n"
                    : "Header in INI-file is going to be rewritten.\n",
                "", -1);
        lo_slogx("Header: day=%s%li\n", "", inidat.day);
        lo_slogx("Header: v=%s%li\n", "", inidat.headerv);
        lo_slogx("Header: o=%s%li\n", "", inidat.headervoffset);
        // Whole kB go into the counter; the remainder is rounded by restarting the offset
        // at 750, so the next kB is complete after 250 further bytes.
        if (inidat.day > 0 && inidat.headervoffset > 0) {
            inidat.headerv += inidat.headervoffset / 1000;
            inidat.headervoffset = 750;
        }
        // Cleared only when the write below succeeds.
        hd__ausstehend = true;
        if (!iv_iniopen("r+t")) {
            lo_slog("Header: Datei nicht ge" U8oe "ffnet.\n", "", -1);
            return;
        }
    }
    struct hd__schliessen {
        bool offen;
        ~hd__schliessen() {
            if (offen) iv_iniclose();
        }
    } schliessen{!dat};
    FILE* f = dat ? nullptr : iv_inifile();
    if (!dat) {
        // Only a complete header is overwritten: anything else would put the counters
        // into a foreign or damaged file.
        char alt[HD_LAENGE + 1] = {};
        size_t n = 0;
        if (f && fseek(f, 0, SEEK_SET) == 0) n = fread(alt, 1, HD_LAENGE, f);
        alt[n] = 0;
        if (n != (size_t)HD_LAENGE || !hd_valid(alt)) {
            if (!hd__ganzfaellig(f)) {
                lo_slog("Header: keine g" U8ue "ltige Kopfzeile in der Datei, nicht geschrieben.\n",
                        "", -1);
                return;
            }
            // The line read at start was damaged and is still there: the whole file is
            // written, with a complete header, instead of refusing every write from now on.
            if (!iv_iniwrite()) {
                lo_slog("Header: Schreiben fehlgeschlagen.\n", "", -1);
                return;
            }
            hd__ausstehend = false;
            hd__abschluss(fefo);
            return;
        }
    }
    char kopf[HD_LAENGE + 1];
    if (!hd__compose(kopf, fefo)) return;
    memcpy(headerdaten, kopf, HD_LAENGE);
    lo_slogx("Header: %s\n", kopf, -1);
    if (!dat) {
        bool ok = fseek(f, 0, SEEK_SET) == 0 && fwrite(kopf, 1, HD_LAENGE, f) == HD_LAENGE &&
                  fflush(f) == 0;
        if (!ok) {
            lo_slog("Header: Schreiben fehlgeschlagen.\n", "", -1);
            return;
        }
        // The counters are the user's bill: on the disk before the program goes on.
        if (fsync(fileno(f)) != 0) {
            lo_slog("Header: Schreiben fehlgeschlagen.\n", "", -1);
            return;
        }
        hd__ausstehend = false;
        hd__ganz = false; // the file got a complete header meanwhile (another rewrite)
        msleepx(1000);
        lo_slog(_de ? "Header in INI-Datei wurde neu geschrieben.\n"
                    : "Header in INI-file has been rewritten.\n",
                "", -1);
    }
    hd__abschluss(fefo);
}

bool hd_ausstehend() {
    return hd__ausstehend;
}

void hd_vormerken() {
    hd__gemerkt.gemerkt = hd__ausstehend && inidat.headergueltig;
    if (!hd__gemerkt.gemerkt) return;
    hd__gemerkt.v = inidat.headerv;
    hd__gemerkt.voffset = inidat.headervoffset;
    hd__gemerkt.t = inidat.headert;
    hd__gemerkt.day = inidat.headerday;
    hd__gemerkt.mon = inidat.headermon;
}

void hd_confighead(const char* zeile) {
    char h[hd__ZEILE + 1];
    memset(h, '0', hd__ZEILE);
    memcpy(h, "01 AAA", 6);
    h[hd__ZEILE] = 0;
    for (int i = 0; zeile && i < hd__ZEILE && zeile[i] && zeile[i] != '\r' && zeile[i] != '\n'; i++)
        h[i] = zeile[i];
    hd__repair(h);
    if (hd__ziffer(inidat.hinweisk)) h[30] = inidat.hinweisk;
    // A manual reset zeroes the counter's field and is noted in the connection log.
    auto zuruecksetzen = [&](int anfrage, int stelle, int breite, const char* text) {
        if (anfrage != 2) return;
        memset(h + stelle, '0', breite);
        lo_vlog("%s %s\n", text, -1);
    };
    zuruecksetzen(configkbvreset, 6, 9,
                  _de ? "Datenvolumenz" U8ae "hler manuell zur" U8ue "ckgesetzt."
                      : "Data volume counter has been reset manually.");
    zuruecksetzen(configtreset, 31, 6,
                  _de ? "Onlinezeit-Z" U8ae "hler manuell zur" U8ue "ckgesetzt."
                      : "Online time counter has been reset manually.");
    strMcpy(headerdaten, h);
}
