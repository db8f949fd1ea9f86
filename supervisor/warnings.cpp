// Limits, warnings and automatic disconnection; see warnings.h.
#include "supervisor/warnings.h"

#include "connection/dialup.h"
#include "connection/statistics.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "core/threads.h"
#include "supervisor/programend.h"
#include "ui/mainwindow.h"
#include "ui/messagebox.h"

#include <cstdio>
#include <ctime>

namespace {

bool wa__gesetzt(long grenze, long wert) {
    return grenze > 0 && wert >= grenze;
}

// A tone and the pause after it; both left out when the sound is off.
void wa__ton(int fq, int dauer, int pause) {
    if (tonlos) return;
    beep(fq, dauer);
    if (pause > 0) msleep(pause);
}

// One pair of 600 Hz tones, then the pause before the next pair.
void wa__tonpaar(int pause) {
    wa__ton(600, 300, 100);
    wa__ton(600, 300, pause);
}

void wa__melden(const char* slogde, const char* slogen, const char* vlogde, const char* vlogen,
                const char* de, const char* en, const char* minide, const char* minien) {
    lo_slog(_de ? slogde : slogen, "", -1);
    lo_vlog(_de ? vlogde : vlogen, "", -1);
    cc_show2(_de ? de : en, _de ? minide : minien);
}

// The hard limit: the link goes at once and is not made again, whatever the end of the
// program would do with the connection; then the text for 5 s and the end.
void wa__grenzeerreicht() {
    if (onlinezeit > 0) cn_nachmessen();
    inidat.constart = false;
    lo_slog(_de ? "Datenvolumen-/Onlinezeitgrenze überschritten.\n"
                : "Data volume / online time exceeded.\n",
            "", -1);
    lo_vlog(_de ? "%s Datenvolumen-/Onlinezeitgrenze überschritten.\n"
                : "%s Data volume / online time exceeded.\n",
            "", -1);
    // End mode 0, as the program end itself stops a link: the connection log closes it with
    // its totals instead of the subtotal of an interruption the program survives.
    cn_stop(0);
    cc_show2(_de ? "*Volumen/Zeit überschritten." : "*Volume/time exceeded.",
             _de ? "*max._Vol/time" : "*max._vol/time");
    th_msleepx(5000);
    programmende(true);
}

} // namespace

wa_grenzen_t wa_grenzentscheidung(long v, long t, const long max[3], const long maxt[3],
                                  int maxgrenze) {
    wa_grenzen_t g;
    if (wa__gesetzt(max[1], v) || wa__gesetzt(maxt[1], t)) {
        g.warnung = maxgrenze != 2;
        g.maxgrenze = 2;
    } else if (wa__gesetzt(max[0], v) || wa__gesetzt(maxt[0], t)) {
        g.vorwarnung = maxgrenze != 1;
        g.maxgrenze = 1;
    }
    g.ueberschritten = wa__gesetzt(max[2], v) || wa__gesetzt(maxt[2], t);
    g.markev = wa__gesetzt(max[1], v) ? '*' : wa__gesetzt(max[0], v) ? '+' : ' ';
    g.markez = wa__gesetzt(maxt[1], t) ? '*' : wa__gesetzt(maxt[0], t) ? '+' : ' ';
    return g;
}

wa_grenzen_t wa_grenzen() {
    long v = inidat.headerv + inidat.headervoffset / 1000;
    long t = inidat.headert;
    wa_grenzen_t g = wa_grenzentscheidung(v, t, inidat.max, inidat.maxt, maxgrenze);
    if (g.warnung) {
        wa__melden("Datenvolumen/Onlinezeit-Warnung.\n", "Volume/time warning.\n",
                   "%s Datenvolumen/Onlinezeit-Warnung.\n", "%s Volume/time warning.\n",
                   "*Volumen/Zeit-Warnung.", "*Volume/time warning.", "*Vol/Zeit-\\Warnung.",
                   "*Vol/time_warning.");
        for (int i = 0; i < 3; i++)
            wa__tonpaar(300);
    } else if (g.vorwarnung) {
        wa__melden("Datenvolumen/Onlinezeit-Vorwarnung.\n", "Volume/time pre-warning.\n",
                   "%s Datenvolumen/Onlinezeit-Vorwarnung.\n", "%s Volume/time pre-warning.\n",
                   "+Volumen/Zeit-Vorwarnung.", "+Volume/time pre-warning.",
                   "+Vol/Zeit-\\Vorwarnung.", "+Vol/time_pre-warning.");
        wa__tonpaar(300);
    }
    maxgrenze = g.maxgrenze;
    char text[sizeof maxgrenzes];
    snprintf(text, sizeof text, "%s\n%s", volumentext(v), stundenminuten(t));
    strMcpy(maxgrenzes, text);
    if (g.ueberschritten) wa__grenzeerreicht();
    return g;
}

bool wa_innerhalb(int e1, int e2, int minute) {
    if (e1 < 0 || e2 < 0) return false;
    if (e2 < e1) return minute >= e1 || minute <= e2;
    return e1 <= minute && minute <= e2;
}

int wa_frageart(bool fremd, int homezone, int e1, int e2, int minute, wa_marken_t& m) {
    if (fremd && !m.fremdnetz) {
        m.fremdnetz = true;
        return 1;
    }
    if (homezone == 2 && !m.homezone) {
        m.homezone = true;
        return 2;
    }
    if (!wa_innerhalb(e1, e2, minute)) {
        m.enduhrzeit = false;
        return 0;
    }
    if (m.enduhrzeit) return 0;
    m.enduhrzeit = true;
    return 3;
}

namespace {

// The three questions, indexed by kind - 1.
struct wa__frage_t {
    const char *titelde, *titelen, *textde, *texten;
    int icon, zeit;
    const char *jade, *jaen;     // logged on OK (service log; the connection log with "%s ")
    const char *neinde, *neinen; // logged otherwise
    int modus;                   // end mode of the interruption otherwise
};
constexpr wa__frage_t wa__fragen[3] = {
    {"tandor   Fremdnetzwarnung", "tandor   Network warning",
     "Das Mobilfunknetz, in dem Sie eingebucht sind, hat sich geändert.  \n"
     "Dadurch können höhere Verbindungskosten entstehen.  \n\n"
     "Bitte mit \"OK\" bestätigen oder die  \nVerbindung mit \"Abbrechen\" beenden.  ",
     "The mobile network you are attached to has changed.  \n"
     "This may result in higher connection costs.  \n\n"
     "Please confirm with \"OK\" or terminate the  \nconnection with \"Cancel\".  ",
     2, 30000, "Fremdnetz vom Benutzer akzeptiert.", "Other network accepted by user.",
     "Nicht gewünschtes Fremdnetz.", "Unwanted Network.", 4},
    {"tandor   Homezonewarnung", "tandor   Homezone warning",
     "Sie befinden sich nicht innerhalb Ihrer Homezone.  \n"
     "Dadurch können höhere Verbindungskosten entstehen.  \n\n"
     "Bitte mit \"OK\" bestätigen oder die  \nVerbindung mit \"Abbrechen\" beenden.  ",
     "You are not located within your homezone.  \n"
     "This may result in higher connection costs.  \n\n"
     "Please confirm with \"OK\" or terminate the  \nconnection with \"Cancel\".  ",
     2, 30000, "Verlassen der Homezone vom Benutzer akzeptiert.",
     "Accepted leaving of the homezone.", "Nicht gewünschtes Verlassen der Homezone.",
     "Unwanted leaving of the homezone.", 3},
    {"tandor   Uhrzeitwarnung", "tandor   Time warning",
     "Die gewählte Ende-Uhrzeit ist erreicht.  \n\n"
     "Bitte das Weiterbestehen der Verbindung mit \"OK\"  \n"
     "bestätigen oder die Verbindung mit \"Abbrechen\" beenden.  ",
     "The selected termination time has been reached.  \n\n"
     "Please confirm connection continuation with \"OK\"  \n"
     "or terminate the connection with \"Cancel\".  ",
     1, 90000, "Weiterbestehen der Verbindung vom Benutzer akzeptiert.",
     "User Accepted connection continuation.", "Nicht gewünschtes überschreiten der Ende-Uhrzeit.",
     "Exceeded termination time of day.", 5},
};

// Acts on the answer to a question of kind art.
void wa__antwort(int art, int antwort) {
    const wa__frage_t& f = wa__fragen[art - 1];
    if (antwort == 1) {
        // Whatever the user or a command did with automatic connection meanwhile stays.
        const char* text = _de ? f.jade : f.jaen;
        lo_slog("%s\n", text, -1);
        lo_vlog("%s %s\n", text, -1);
        verbindenhalten = false;
        return;
    }
    // Refused, closed or unanswered: the link goes and is not made again by itself.
    inidat.constart = false;
    lo_slog("%s\n", _de ? f.neinde : f.neinen, -1);
    if (art == 3 && antwort == -1 && inidat.enduhrzeite && inidat.endshutdown)
        shutdownerlaubt = true;
    ps_unterbrechen(f.modus);
    verbindenhalten = false;
}

int wa__minute() {
    struct tm t;
    sy_localtime(&t);
    return t.tm_hour * 60 + t.tm_min;
}

} // namespace

gpointer wa_warningthread(gpointer) {
    th_reg self = th_register("warningthread");
    // Kept across rests: a restart does not ask again.
    wa_marken_t marken;
    for (int durchlauf = 0;; durchlauf++) {
        if (durchlauf % 10 == 0) lo_slogx("Warning thread alive.\n", "", -1);
        if (th_msleep(2102)) break;
        // Only a connection program with its configuration read asks, and none while the
        // program ends or rests.
        if (!inidatgueltig || inidat.funktion > 39 || programmende_gewuenscht || ruhestatus != 0)
            continue;
        int art = wa_frageart(netzfremd, homezonestatus, inidat.enduhrzeit1, inidat.enduhrzeit2,
                              wa__minute(), marken);
        if (art == 0) continue;
        const wa__frage_t& f = wa__fragen[art - 1];
        verbindenhalten = true;
        int antwort = me_messagebox(0, _de ? f.titelde : f.titelen, _de ? f.textde : f.texten,
                                    f.icon, 1, f.zeit);
        if (th_queryterminate()) break;
        if (antwort == -1 && (programmende_gewuenscht || ruhestatus != 0)) {
            // The box was closed by a rest or the end, not by the user: nothing was decided,
            // the question may come again after the restart.
            if (art == 1) marken.fremdnetz = false;
            if (art == 2) marken.homezone = false;
            if (art == 3) marken.enduhrzeit = false;
            verbindenhalten = false;
            continue;
        }
        wa__antwort(art, antwort);
    }
    th_unregister(self);
    return nullptr;
}
