#include "messaging/remotecommand.h"

#include <cstring>

#include "connection/dialup.h"
#include "connection/statistics.h"
#include "connection/userprograms.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "ui/mainwindow.h"

namespace {

// The longest message body that can carry a command.
constexpr size_t RK__MAXTEXT = 500;

// A byte in upper case: a-z and the Latin-1 letters from à to þ (without the division
// sign). One byte stays one byte, so offsets in the upper-cased copy hold in the original.
char rk__gross(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7))
        return static_cast<char>(u - 0x20);
    return c;
}

// A number that may reach a command: an optional '+' and at least one digit, nothing else,
// short enough for its value. Anything else counts as no number.
bool rk__nummer(const char* n) {
    if (!n) return false;
    const char* p = n + (*n == '+');
    if (!*p) return false;
    for (const char* q = p; *q; q++)
        if (*q < '0' || *q > '9') return false;
    return strlen(n) < sizeof(rk_treffer_t::werte[0]);
}

// Skips blanks.
const char* rk__hinterblanks(const char* s) {
    while (*s == ' ')
        s++;
    return s;
}

// Expands the template from left to right into z (cut to cap): "%%" is '%', %0..%3 are the
// values that are there; a placeholder without value and any other '%' stay as written, and
// the scan goes on behind them. Inserted text is not scanned again.
void rk__erweitern(const char* vorlage, const rk_treffer_t& t, char* z, size_t cap) {
    size_t n = 0;
    auto anhaengen = [&](const char* s, size_t l) {
        if (l > cap - 1 - n) l = cap - 1 - n;
        memcpy(z + n, s, l);
        n += l;
    };
    for (const char* p = vorlage; *p && n + 1 < cap; p++) {
        if (p[0] == '%' && p[1] == '%') {
            anhaengen("%", 1);
            p++;
        } else if (p[0] == '%' && p[1] >= '0' && p[1] <= '3' && t.wertda[p[1] - '0']) {
            const char* w = t.werte[p[1] - '0'];
            anhaengen(w, strlen(w));
            p++;
        } else {
            anhaengen(p, 1);
        }
    }
    z[n] = 0;
}

// The built-in word at the start of s (any case), with its length.
rk_wort_t rk__wort(const char* s, size_t* laenge) {
    for (int i = 0; i < 4; i++) {
        size_t l = strlen(ps_kommandos[i]);
        if (memicmp(s, ps_kommandos[i], static_cast<long>(l)) == 0) {
            *laenge = l;
            return static_cast<rk_wort_t>(i + 1);
        }
    }
    *laenge = 0;
    return RK_KEIN;
}

// The values of a match: the number with and without '+'; for SMS the argument text as it
// is and with everything but letters, digits, blank, '_' and '.' as '_'. A call has no
// argument text, and its %0 stays as written when the number has no '+'.
void rk__werte(rk_treffer_t* t, int art, const char* nummer, const char* argument) {
    strMcpy(t->werte[0], nummer + (*nummer == '+'));
    strMcpy(t->werte[1], nummer);
    strMcpy(t->werte[2], argument);
    strMcpy(t->werte[3], argument);
    for (char* p = t->werte[3]; *p; p++) {
        char c = *p;
        bool gut = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == ' ' || c == '_' || c == '.';
        if (!gut) *p = '_';
    }
    t->wertda[0] = art == 1 || *nummer == '+';
    t->wertda[1] = true;
    t->wertda[2] = t->wertda[3] = art == 1;
}

// The command of entry i: the expanded text for the logs, its built-in word and what is to
// run. A word counts when it starts the expanded text; only a word written in the template
// itself lets the template behind it run, so a word that a value supplied acts alone and
// nothing of the message is run.
void rk__befehl(rk_treffer_t* t, int i) {
    const char* vorlage = inidat.cmd[i];
    rk__erweitern(vorlage, *t, t->befehl, sizeof t->befehl);
    size_t l;
    t->wort = rk__wort(t->befehl, &l);
    if (t->wort != RK_KEIN) {
        if (memicmp(vorlage, ps_kommandos[t->wort - 1], static_cast<long>(l)) != 0) return;
        vorlage = rk__hinterblanks(vorlage + l);
    }
    strMcpy(t->vorlage, vorlage);
    t->ausfuehren = *rk__hinterblanks(t->befehl + l) != 0;
}

} // namespace

void rk_finden(int art, const char* nummer, bool alphanumerisch, const char* text, rk_treffer_t* t,
               int ab) {
    if (!t) return;
    *t = rk_treffer_t();
    bool hatnummer = rk__nummer(nummer);
    if (!hatnummer) nummer = "";
    if (art != 1 || !text) text = "";
    size_t textlen = strlen(text);
    bool textpasst = textlen <= RK__MAXTEXT;
    char gross[RK__MAXTEXT + 1] = "";
    if (textpasst)
        for (size_t k = 0; k <= textlen; k++)
            gross[k] = rk__gross(text[k]);
    for (int i = ab < 0 ? 0 : ab; i < 3; i++) {
        if (!inidat.cmd[i][0] || inidat.sms[i] != art) continue;
        t->geprueft = true;
        // The digits an alphanumeric sender shows are made of its name: they match nothing.
        if (inidat.smsnr[i][0] &&
            (!hatnummer || alphanumerisch || strcmp(inidat.smsnr[i], nummer) != 0))
            continue;
        const char* argument = "";
        if (art == 1) {
            if (!textpasst) continue;
            argument = text;
            if (inidat.smskey[i][0]) {
                const char* k = strstr(gross, inidat.smskey[i]);
                if (!k) continue;
                argument = text + (k - gross) + strlen(inidat.smskey[i]);
            }
        }
        t->eintrag = i;
        rk__werte(t, art, nummer, argument);
        rk__befehl(t, i);
        return;
    }
}

void rk_ausfuehren(const rk_treffer_t& t, int quelle, bool* ende) {
    if (t.eintrag < 0 || t.eintrag >= SP_SLOTS) return;
    bool anruf = quelle == 2;
    // Per source and word: German, English.
    static const char* const texte[2][4][2] = {
        {{"%s Verbindung per SMS aktiviert.\n", "%s Connection activated by SMS.\n"},
         {"%s Verbindung per SMS deaktiviert.\n", "%s Connection deactivated by SMS.\n"},
         {"%s Neu verbinden durch SMS.\n", "%s Reconnect caused by SMS.\n"},
         {"%s Programm per SMS beendet.\n", "%s Program terminated by SMS.\n"}},
        {{"%s Verbindung per Anruf aktiviert.\n", "%s Connection activated by call.\n"},
         {"%s Verbindung per Anruf deaktiviert.\n", "%s Connection deactivated by call.\n"},
         {"%s Neu verbinden durch Anruf.\n", "%s Reconnect caused by call.\n"},
         {"%s Programm per Anruf beendet.\n", "%s Program terminated by call.\n"}}};
    if (!anruf) lo_mlog(_de ? "%s Kommando: %s\n\n" : "%s Command: %s\n\n", t.befehl, -1, false);
    if (t.wort != RK_KEIN) lo_vlog(texte[anruf][t.wort - 1][_de ? 0 : 1], "", -1);
    switch (t.wort) {
    case RK_CONNECT:
        inidat.constart = true;
        break;
    case RK_DISCONNECT:
        inidat.constart = false;
        // The bytes since the last pass are counted before the interface goes away.
        cn_nachmessen();
        cn_stop(1);
        break;
    case RK_RECONNECT:
        ps_unterbrechen(2);
        break;
    case RK_END:
        if (ende) *ende = true;
        break;
    case RK_KEIN:
        break;
    }
    if (!t.ausfuehren) return;
    size_t l = 0;
    if (t.wort != RK_KEIN) l = strlen(ps_kommandos[t.wort - 1]);
    const char* rest = rk__hinterblanks(t.befehl + (strlen(t.befehl) >= l ? l : 0));
    if (anruf)
        lo_vlog(_de ? "%s Kommando per Anruf: %s\n" : "%s Command by call: %s\n", rest, -1);
    else
        lo_vlog(_de ? "%s Kommando per SMS: %s\n" : "%s Command by SMS: %s\n", rest, -1);
    const char* werte[4];
    for (int k = 0; k < 4; k++)
        werte[k] = t.wertda[k] ? t.werte[k] : nullptr;
    sp_stop(t.eintrag);
    sp_startmit(t.eintrag, t.vorlage, werte);
}

void rk_anruf(const char* nummer, bool* ende) {
    // Only a number of 4 to 48 characters, '+' and digits, may reach a log or a command;
    // anything else is a call without number.
    char n[49] = "";
    size_t l = nummer ? strlen(nummer) : 0;
    if (l >= 4 && l < sizeof n && rk__nummer(nummer)) strMcpy(n, nummer);
    if (n[0]) lo_vlog(_de ? "%s Anruf erhalten: %s\n" : "%s Call recieved: %s\n", n, -1);
    cc_show2(_de ? "+Anruf erhalten." : "+Call recieved.",
             _de ? "+Anruf_erhalten" : "+Call_recieved.");
    // Every call entry that matches acts, each in its turn.
    rk_treffer_t t;
    for (int ab = 0; ab < 3; ab = t.eintrag + 1) {
        rk_finden(2, n, false, "", &t, ab);
        if (t.eintrag < 0) break;
        rk_ausfuehren(t, 2, ende);
        msleep(50);
    }
}
