#include "modem/calls.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <strings.h>
#include <vector>

#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/smscodec.h"
#include "core/webfetch.h"
#include "modem/atexchange.h"
#include "ui/mainwindow.h"

namespace {

const char* cm__t(const char* en, const char* de) {
    return _de ? de : en;
}

// --- Incoming calls ---------------------------------------------------------------------

// A modem repeats RING every few seconds while a call waits; a ring this long after the
// previous one (hundredths by the offline clock) belongs to a new call.
constexpr unsigned long CM__ANRUFABSTAND = 1500;

// The call noted for the main thread. Call detection runs inside cm_gets of whichever
// thread reads the modem; the main thread takes the call at its next check point.
std::mutex cm__anrufmutex;
bool cm__ringgesehen = false; // a ring was seen since the offline clock (re)started
bool cm__anrufwartet = false; // a call is noted and not yet taken
char cm__anrufnummer[CM_NUMMERGROESSE];

// A caller number: an optional leading '+' and digits, 4 to 48 characters.
bool cm__istnummer(const char* s, size_t l) {
    if (l < 4 || l > CM_NUMMERGROESSE - 1) return false;
    for (size_t i = s[0] == '+' ? 1 : 0; i < l; i++)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

bool cm__zeilenanfang(const char* t, size_t i) {
    return i == 0 || t[i - 1] == '\r' || t[i - 1] == '\n';
}

// --- USSD -------------------------------------------------------------------------------

// The longest code that is sent; a longer one would have to be cut into another code.
constexpr size_t CM__USSDCODELAENGE = 146;

// How the modem wants the code: 0 not known yet, 1 plain text, 2 GSM 7-bit packed hex.
// Learned by the first query that gets an answer and kept; a failed query forgets it.
int cm__ussdmode = 0;

const char* cm__cusd(const char* t) {
    return strcasestr(t, "+CUSD:");
}

// Coding schemes whose text is UCS-2: 17 (with a language prefix) and the general data
// coding group with the UCS-2 alphabet (72 among them).
bool cm__ucs2(int dcs) {
    return dcs == 17 || (dcs >= 0 && (dcs & 0xC0) == 0x40 && (dcs & 0x0C) == 0x08);
}

// Hex text of l characters into octets (at most cap); false when it is not even-length hex.
bool cm__hexoctets(const char* h, size_t l, unsigned char* o, size_t cap, size_t* anzahl) {
    if (l % 2) return false;
    for (size_t i = 0; i < l; i++)
        if (!ishexdigit(static_cast<unsigned char>(h[i]))) return false;
    size_t k = 0;
    for (size_t i = 0; i + 1 < l && k < cap; i += 2)
        o[k++] = static_cast<unsigned char>(_hexnumber[static_cast<unsigned char>(h[i])] << 4 |
                                            _hexnumber[static_cast<unsigned char>(h[i + 1])]);
    *anzahl = k;
    return true;
}

// A number of at most three digits at *p (one more digit would not fit any field).
int cm__zahl(const char*& p) {
    if (*p < '0' || *p > '9') return -1;
    int z = 0;
    for (int k = 0; k < 3 && *p >= '0' && *p <= '9'; k++)
        z = z * 10 + (*p++ - '0');
    return z;
}

} // namespace

void cm_anrufzerlegen(char* t, bool* ring, char* nummer, size_t n) {
    bool r = false, genommen = false;
    if (nummer && n) nummer[0] = 0;
    size_t laenge = t ? strlen(t) : 0;
    for (size_t i = 0; i < laenge;) {
        // A RING line; the same letters inside another line are text.
        if (cm__zeilenanfang(t, i) && laenge - i > 4 && memcmp(t + i, "RING", 4) == 0 &&
            (t[i + 4] == '\r' || t[i + 4] == '\n')) {
            memmove(t + i, t + i + 4, laenge - i - 4 + 1);
            laenge -= 4;
            r = true;
            continue;
        }
        // A +CLIP report (not the echo of AT+CLIP=1): the number, then the rest of its line
        // (type, validity) goes with it.
        if (laenge - i >= 6 && memcmp(t + i, "+CLIP:", 6) == 0) {
            size_t j = i + 6;
            while (j < laenge && (t[j] == ' ' || t[j] == '"' || t[j] == ':'))
                j++;
            size_t a = j;
            while (j < laenge && (t[j] == '+' || (t[j] >= '0' && t[j] <= '9')))
                j++;
            // A number that runs into the end of the text may be cut short by the read.
            if (!genommen && j < laenge && cm__istnummer(t + a, j - a)) {
                genommen = r = true;
                if (nummer && n) {
                    size_t k = min(j - a, n - 1);
                    memcpy(nummer, t + a, k);
                    nummer[k] = 0;
                }
            }
            while (j < laenge && t[j] != '\r' && t[j] != '\n')
                j++;
            memmove(t + i, t + j, laenge - j + 1);
            laenge -= j - i;
            continue;
        }
        i++;
    }
    if (ring) *ring = r;
}

void cm__ringdetect(char* t) {
    if (!t || !*t) return;
    if (onlinezeit.load() != 0 || !inidat.smsring || inidat.funktion >= FUNKTION_CONTROL) return;
    bool ring = false;
    char nummer[CM_NUMMERGROESSE];
    cm_anrufzerlegen(t, &ring, nummer, sizeof nummer);
    if (!ring) return;
    if (nummer[0])
        lo_slog(cm__t("Incomming call: \"%s\".\n", "Eingehender Anruf: \"%s\".\n"), nummer, -1);
    bool neu;
    {
        std::lock_guard<std::mutex> g(cm__anrufmutex);
        unsigned long jetzt = offlinezeit.load(), vorher = offlinezeitring.load();
        // The first ring after the offline clock started (or started again) has no earlier
        // ring to belong to.
        neu = !cm__ringgesehen || jetzt < vorher || jetzt - vorher >= CM__ANRUFABSTAND;
        cm__ringgesehen = true;
        offlinezeitring = jetzt;
        if (neu) {
            cm__anrufwartet = true;
            strMcpy(cm__anrufnummer, nummer);
        } else if (nummer[0] && cm__anrufwartet && !cm__anrufnummer[0]) {
            // The number came in a later read than the first RING of the same call.
            strMcpy(cm__anrufnummer, nummer);
        }
    }
    if (neu) ps_wecken();
}

bool cm_anrufholen(char* nummer, size_t n) {
    if (nummer && n) nummer[0] = 0;
    std::lock_guard<std::mutex> g(cm__anrufmutex);
    if (!cm__anrufwartet) return false;
    cm__anrufwartet = false;
    if (nummer && n) strmcpy(nummer, cm__anrufnummer, n);
    return true;
}

bool cm_ussdzulaessig(const char* code) {
    if (!code || !*code) return false;
    size_t l = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(code); *p; p++, l++)
        if (*p < 0x20 || *p == 0x7F || *p == '"') return false;
    return l <= CM__USSDCODELAENGE;
}

bool cm_ussdantwort(const char* zeile, char* out, size_t n, int* status) {
    if (status) *status = -1;
    if (out && n) out[0] = 0;
    if (!zeile || !out || n == 0) return false;
    const char* p = cm__cusd(zeile);
    if (!p) return false;
    p += 6;
    while (*p == ' ')
        p++;
    int s = cm__zahl(p);
    if (status) *status = s;
    // The text opens on the +CUSD line; a plain-text answer may run over several lines.
    while (*p && *p != '"' && *p != '\r' && *p != '\n')
        p++;
    if (*p != '"') return false;
    const char* anfang = p + 1;
    const char* ende = strchr(anfang, '"');
    if (!ende) return false;
    const char* d = ende + 1;
    while (*d == ' ')
        d++;
    int dcs = -1;
    if (*d == ',') {
        d++;
        while (*d == ' ')
            d++;
        dcs = cm__zahl(d);
    }
    char text[CM_USSDGROESSE];
    size_t l = min(static_cast<size_t>(ende - anfang), sizeof text - 1);
    memcpy(text, anfang, l);
    text[l] = 0;
    unsigned char octets[CM_USSDGROESSE / 2];
    size_t anzahl = 0;
    if (cm__ucs2(dcs) && cm__hexoctets(text, l, octets, sizeof octets, &anzahl)) {
        // Read as UCS-2 whatever the first digit; 17 begins with two octets of language.
        size_t weg = dcs == 17 ? min(anzahl, static_cast<size_t>(2)) : 0;
        sc_ucs2entpacken(octets + weg, anzahl - weg, out, n);
    } else {
        // A 7-bit scheme: hex is packed septets, anything else is text the modem already
        // decoded. Without a scheme UCS-2 is guessed first.
        if (dcs >= 0 || !utf16hextostr(text)) sevenhextostr(text);
        strmcpy(out, text, n);
    }
    // A CR fill septet and the line ends of a menu's last line are no part of the text.
    for (size_t k = strlen(out); k > 0 && (out[k - 1] == '\r' || out[k - 1] == '\n'); k--)
        out[k - 1] = 0;
    return true;
}

void cm_ussdquery(char* t) {
    if (!t) return;
    bool zulaessig = cm_ussdzulaessig(t);
    char code[CM__USSDCODELAENGE + 1];
    strMcpy(code, t);
    t[0] = 0;
    if (!zulaessig) {
        lo_slog(cm__t("USSD code not sent: not admissible.\n",
                      "USSD-Code nicht gesendet: nicht zulässig.\n"),
                "", -1);
        return;
    }
    // With the single port online every exchange is only simulated: no network answers.
    if (cm_simuliert()) return;
    char antwort[CM_USSDGROESSE];
    for (int versuch = 0; versuch < 2; versuch++) {
        char c[CM_USSDGROESSE];
        strMcpy(c, code);
        if (cm__ussdmode == 2) strtosevenhex(c, false, 160, true);
        char befehl[CM_USSDGROESSE + 20];
        snprintf(befehl, sizeof befehl, "AT+CUSD=1,\"%s\",15\r", c);
        if (MODUS('X') && msleepx(3000)) return;
        if (!cm_puts(befehl)) return;
        // The modem answers OK at once and the network's +CUSD line seconds later: the read
        // goes on past the OK and ends at +CUSD or an error.
        cm_gets(antwort, MODUS('X') ? 22 : 11, sizeof antwort, "+CUSD:");
        if (!cm__cusd(antwort) && !strstr(antwort, "ERROR")) {
            char nachzuegler[CM_USSDGROESSE];
            cm_gets(nachzuegler, 3, sizeof nachzuegler, "+CUSD:");
            if (nachzuegler[0]) strMcpy(antwort, nachzuegler);
        }
        if (!cm__cusd(antwort)) {
            if (cm__ussdmode != 0 || !strstr(antwort, "ERROR")) {
                cm__ussdmode = 0;
                return;
            }
            // Refused as text: the modem may want the code packed.
            cm__ussdmode = 2;
            continue;
        }
        if (cm__ussdmode == 0) cm__ussdmode = 1;
        int status = -1;
        cm_ussdantwort(antwort, t, CM_USSDGROESSE, &status);
        if (status == 1) {
            // A menu waits for input; left open it would make the next query fail.
            char b[CM_ANTWORTGROESSE];
            if (cm_puts("AT+CUSD=2\r")) cm_gets(b, 2);
        }
        return;
    }
}

int cm_homezonestatus(const char* data, size_t len, const char* homi, const char* homo, bool web) {
    if (!data) return 0;
    if (web) {
        // "HTTP/1.x 200 ...": only a 2xx answer carries the page; its body follows the
        // empty line after the headers.
        if (len < 12 || memcmp(data, "HTTP/", 5) != 0) return 0;
        const char* sp =
            static_cast<const char*>(memchr(data, ' ', min(len, static_cast<size_t>(16))));
        if (!sp || static_cast<size_t>(sp - data) + 4 > len || sp[1] != '2' || sp[2] < '0' ||
            sp[2] > '9' || sp[3] < '0' || sp[3] > '9')
            return 0;
        const char* body = static_cast<const char*>(memmem(data, len, "\r\n\r\n", 4));
        size_t weg = 4;
        if (!body) {
            body = static_cast<const char*>(memmem(data, len, "\n\n", 2));
            weg = 2;
        }
        if (!body) return 0;
        body += weg;
        len -= static_cast<size_t>(body - data);
        data = body;
    }
    auto kommtvor = [&](const char* muster) {
        return muster && *muster && memmem(data, len, muster, strlen(muster)) != nullptr;
    };
    int status = 0;
    if (kommtvor(homi)) status = 1;
    if (kommtvor(homo)) status = 2;
    return status;
}

void cm_homezonequery() {
    if (!inidat.homu[0]) {
        homezonestatus = 0;
        return;
    }
    int status = 0;
    bool daten = false;
    if (inidat.homu[0] == '*') {
        // Only a modem that can be talked to may be asked; the status stays as it was.
        if (cm_simuliert()) return;
        char b[CM_USSDGROESSE];
        strMcpy(b, inidat.homu);
        cm_ussdquery(b);
        daten = b[0] != 0;
        if (daten) status = cm_homezonestatus(b, strlen(b), inidat.homi, inidat.homo, false);
    } else {
        char* seite = iz_httpget(inidat.homu, nullptr, nullptr, 2, 0, false);
        daten = seite != nullptr;
        if (daten) status = cm_homezonestatus(seite, strlen(seite), inidat.homi, inidat.homo, true);
        FREE(seite);
    }
    homezonestatus = status;
    if (daten)
        lo_slog(cm__t("New homezone status: %s%li\n", "Neuer Homezonestatus: %s%li\n"), "", status);
}

int cm_userzerlegen(const char* s, cm_userstueck_t* stuecke, int max) {
    if (!s || !stuecke || max <= 0) return 0;
    int anzahl = 0;
    cm_userstueck_t st;
    st.text[0] = 0;
    auto anhaengen = [&](char c) {
        if (st.laenge + 1 >= sizeof st.text) return;
        st.text[st.laenge++] = c;
        st.text[st.laenge] = 0;
    };
    // Ends the current piece at a separator (0 for the end of the string). An empty piece
    // is kept before \r and \R (a bare CR) and before \p and \P (the pause alone).
    auto abschliessen = [&](char art) {
        if (art == 0 && st.laenge == 0) return true;
        st.cr = art == 0 || art == 'r' || art == 'R';
        st.lesen = art == 'R';
        st.pause = art == 'p' ? 500 : art == 'P' ? 5000 : 0;
        stuecke[anzahl++] = st;
        st = cm_userstueck_t();
        st.text[0] = 0;
        return anzahl < max;
    };
    for (size_t i = 0; s[i];) {
        if (s[i] != '\\') {
            anhaengen(s[i++]);
            continue;
        }
        char c = s[i + 1];
        if (c == 0) break; // a backslash at the very end ends the string
        if (c == 'r' || c == 'R' || c == 'p' || c == 'P') {
            if (!abschliessen(c)) return anzahl;
            i += 2;
        } else if (c == '\\') {
            anhaengen('\\');
            i += 2;
        } else if (c == 'x' && ishexdigit(static_cast<unsigned char>(s[i + 2])) &&
                   ishexdigit(static_cast<unsigned char>(s[i + 3]))) {
            anhaengen(static_cast<char>(_hexnumber[static_cast<unsigned char>(s[i + 2])] << 4 |
                                        _hexnumber[static_cast<unsigned char>(s[i + 3])]));
            i += 4;
        } else {
            anhaengen('\\'); // any other sequence stays as it stands
            i++;
        }
    }
    abschliessen(0);
    return anzahl;
}

void cm_userat(const char* dp) {
    bool init = dp == nullptr;
    const char* s = init ? inidat.devi : dp;
    // "\*" at the start of the initialisation string marks a dial-up without modem commands.
    if (init && s[0] == '\\' && s[1] == '*') s += 2;
    if (!*s || !cm_isopen()) return;
    lo_slog(cm__t("Sending user-defined commands.\n", "Sende benutzerdefinierte Kommandos.\n"), "",
            -1);
    if (init)
        cc_show2(cm__t(" Initialization.", " Initialisierung."),
                 cm__t(" Initialization.", " Initialisierung."));
    else
        cc_show2(cm__t(" Sending AT commands.", " Sende AT-Kommandos."),
                 cm__t(" Sending_AT commands.", " Sende_AT-Kommandos."));
    msleep(50);
    // Every separator takes two characters: this many pieces always suffice.
    std::vector<cm_userstueck_t> stuecke(strlen(s) / 2 + 1);
    int anzahl = cm_userzerlegen(s, stuecke.data(), static_cast<int>(stuecke.size()));
    for (int k = 0; k < anzahl; k++) {
        if (init && programmende_gewuenscht) break;
        const cm_userstueck_t& st = stuecke[k];
        if (st.laenge || st.cr) {
            char b[sizeof st.text + 2];
            memcpy(b, st.text, st.laenge);
            size_t l = st.laenge;
            if (st.cr) b[l++] = '\r';
            b[l] = 0;
            // A \x00 byte cannot pass a C string: such a piece goes out as raw bytes.
            if (memchr(st.text, 0, st.laenge))
                cm_putm(b, l);
            else
                cm_puts(b);
            msleep(100);
            if (st.lesen) {
                char a[CM_ANTWORTGROESSE];
                cm_gets(a, 2);
            }
            msleep(10);
        }
        if (st.pause && msleepx(st.pause) && init) break;
    }
    lo_slog(cm__t("End of user-defined commands.\n", "Ende der benutzerdefinierten Kommandos.\n"),
            "", -1);
}
