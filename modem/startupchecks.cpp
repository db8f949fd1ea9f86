// Start-up checks of a connection run; see startupchecks.h.
#include "modem/startupchecks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "config/inifile.h"
#include "core/system.h"
#include "modem/atexchange.h"
#include "modem/discovery.h"

namespace {

// The words of an identification answer that mark a modem worth taking in the port search.
constexpr const char* iv__suchwoerter[] = {"GLOBETROTTER", "FUSION", "NOVATEL",
                                           "HUAWEI",       "APP3",   "F3507G"};

void iv__status(const char* de, const char* en, const char* minide, const char* minien) {
    ps_statustext(_de ? de : en, _de ? minide : minien);
}

// A status text that stands for ms; true when the program end was asked for meanwhile.
bool iv__zeige(const char* de, const char* en, const char* minide, const char* minien, long ms) {
    iv__status(de, en, minide, minien);
    return msleepx(ms);
}

void iv__hinweis(char code, const char* de, const char* en) {
    inidat.hinweisk = code;
    strMcpy(inidat.hinweis, _de ? de : en);
}

// "COM" in front of a bare number, as the user may write COM=3 for the third port.
void iv__portname(char (&ziel)[300], const char* wert) {
    if (isdigit(static_cast<unsigned char>(wert[0]))) {
        strMcpy(ziel, "COM");
        strmcpy(ziel + 3, wert, sizeof ziel - 3);
    } else {
        strMcpy(ziel, wert);
    }
}

// Asks one port for its identification; true when it names a modem of the search list.
bool iv__portpruefen(const char* port) {
    char text[400], mini[400];
    snprintf(text, sizeof text, _de ? "+COM-Port-Ermittlung: %s" : "+Searching COM-port: %s", port);
    snprintf(mini, sizeof mini, "%s", _de ? "+COM~Ermittlung." : "+Port search.");
    ps_statustext(text, mini);
    msleep(280);
    // A device node that does not exist cannot answer; opening it would only cost the
    // retries of cm_open (about 10 s a port).
    struct stat st;
    if (stat(port, &st) != 0) return false;
    if (!cm_open(port, false)) return false;
    char a[CM_ANTWORTGROESSE];
    // A probed port may be no modem at all: one second per read, as a modem answers AT
    // at once.
    cm_puts("AT\r");
    msleep(ANTWORTZEIT);
    cm_gets(a, 1, sizeof a);
    msleep(1000);
    cm_puts("AT\r");
    msleep(ANTWORTZEIT);
    cm_gets(a, 1, sizeof a);
    cm_puts("ATI\r");
    msleep(2 * ANTWORTZEIT);
    // The identification may come in several pieces (echo, then the lines): what arrives
    // until its final result or until the modem falls silent is taken together.
    char ganz[4 * CM_ANTWORTGROESSE] = "";
    for (int i = 0; i < 4; i++) {
        cm_gets(a, 1, sizeof a);
        if (!a[0]) break;
        size_t l = strlen(ganz);
        strmcpy(ganz + l, a, sizeof ganz - l);
        if (strstr(a, "OK") || strstr(a, "ERROR")) break;
    }
    cm_close();
    // Compared in upper case, as the identification does: a stick may answer "huawei".
    strupper(ganz);
    for (const char* w : iv__suchwoerter)
        if (strstr(ganz, w)) return true;
    return false;
}

// A modem to ask: a command port is known and it is not the simulation (COM=NONE), whose
// answers are a bare OK and would only make the searches wait for nothing.
bool iv__modem() {
    return inidat.com1[0] && !inidat.com1none;
}

// Command port of COM=: a fixed value, none for the router link, or the search.
void iv__befehlsport() {
    if (strcmp(inidat.comport, "?") != 0) {
        if (stricmp(inidat.comport, "NOLINKSYS") == 0 || memicmp(inidat.comport, "LINKSYS", 7) == 0)
            inidat.com1[0] = 0;
        else
            iv__portname(inidat.com1, inidat.comport);
        return;
    }
    inidat.com1[0] = 0;
    for (int i = 9; i >= 0 && !programmende_gewuenscht; i--) {
        char port[300];
        snprintf(port, sizeof port, "%s%i", sy_path(SY_TTYUSB), i);
        if (iv__portpruefen(port)) {
            strMcpy(inidat.com1, port);
            lo_slog(_de ? "COM-Port gefunden: %s\n" : "COM-port found: %s\n", port, -1);
            return;
        }
    }
}

// Secondary port: named after a ';' or derived from the command port.
void iv__zweitport() {
    char* semikolon = strchr(inidat.com1, ';');
    if (semikolon || !inidat.com1[0]) {
        char rest[300] = "";
        if (semikolon) {
            strMcpy(rest, semikolon + 1);
            *semikolon = 0;
        }
        iv__portname(inidat.com2, rest);
        secportmanuell = true;
    } else {
        iv_zweitport(inidat.com1, inidat.com2, sizeof inidat.com2);
    }
    inidat.com1none = strcmp(inidat.com1, "NONE") == 0;
}

// The SIM state; true when the configuration is incomplete.
bool iv__pin(bool* neuschreiben) {
    int ergebnis = de_inipin(1);
    switch (ergebnis) {
    case DE_PINFEHLT:
        iv__hinweis('4', "PIN in Zeile PIN eintragen (siehe unten)!",
                    "Enter PIN in line PIN (see below)!");
        return true;
    case DE_PINFALSCH:
        inidat.pin[0] = 0;
        *neuschreiben = true;
        iv__zeige("*PIN in Datei \"tandor.ini\" ist ungültig!",
                  "*PIN is not valid in file \"tandor.ini\"!", "*PIN_ungültig!", "*PIN_not valid!",
                  4000);
        return true;
    case DE_PUKNOETIG:
    case DE_PUKFALSCH: {
        bool falsch = ergebnis == DE_PUKFALSCH;
        inidat.pin[0] = 0;
        iv__hinweis('5', "PUK und neue PIN in Zeile 11 eintragen: PIN=12345678,1234",
                    "Enter PUK and new PIN in line 11: PIN=12345678,1234");
        *neuschreiben = true;
        if (falsch)
            iv__zeige("*PUK ist ungültig! Vorsicht!", "*PUK is not valid! Caution!",
                      "*PUK_ungültig!!", "*PUK_not valid!!", 4000);
        else
            iv__zeige("*SIM muss mit PUK entsperrt werden!", "*SIM has to be unlocked with PUK!",
                      "*SIM_gesperrt!", "*SIM_locked!", 4000);
        return true;
    }
    case DE_KEINESIM:
        iv__zeige("*SIM wurde nicht erkannt.", "*SIM not found.", "*SIM fehlt.", "*Missing_SIM.",
                  4000);
        return true;
    default:
        return false;
    }
}

// The row of dots that shrinks while a search runs.
const char* iv__punkte(int runde, int runden) {
    static const char punkte[] = "....................";
    int n = runden - runde;
    if (n < 0) n = 0;
    if (n > 20) n = 20;
    return punkte + (20 - n);
}

// The network list from the modem's scan; true when names were found.
bool iv__netzliste(bool* neuschreiben) {
    iv__status("+Automatische Netzwerk-Ermittlung.", "+Automatic network determination.",
               "+Netz-\\Ermittlung.", "+Network_determination.");
    bool gefunden = false;
    if (de_inipin(0) == DE_BEREIT) {
        if (msleepx(4000)) return false;
        de_iniopmode(inidat.funktion, 2);
        cm_puts("AT+COPS=?\r");
        msleep(2000);
        // The list starts anew at every search; earlier names are not kept twice.
        char liste[sizeof inidat.net] = "?";
        for (int runde = 0; runde < 8 && !programmende_gewuenscht; runde++) {
            char text[100];
            snprintf(text, sizeof text, _de ? "+Netzwerk-Ermittlung%s" : "+Network search%s",
                     iv__punkte(runde, 8));
            ps_statustext(text, text);
            char a[CM_ANTWORTGROESSE];
            cm_gets(a, 10, sizeof a);
            if (strchr(a, '(')) {
                gefunden = iv_netzliste(a, liste, sizeof liste) > 0;
                break;
            }
        }
        if (gefunden) strMcpy(inidat.net, liste);
    }
    if (gefunden) {
        iv__hinweis('6', "Netzwerk in Zeile NET auswählen (siehe unten)!",
                    "Select network in line NET (see below)!");
        *neuschreiben = true;
        if (!configsub) {
            if (iv__zeige("+Netzwerkauswahl wurde eingetragen.", "+Network list has been entered.",
                          "+Netzwerkauswahl_eingetragen.", "+Network_list_entered.", 4000))
                return true;
            iv__zeige("+Netzwerk in Datei \"tandor.ini\" wählen!",
                      "+Select network in \"tandor.ini\"!", "+Netz_wählen!", "+Select_network!",
                      4000);
        }
    } else {
        iv__zeige("+Netzwerk-Ermittlung erfolglos.", "+No network available.", "+Kein Netz.",
                  "+No Network.", 4000);
    }
    return true;
}

// The APN from the operator the modem is registered with.
void iv__apn(bool* neuschreiben) {
    const char* apn = nullptr;
    if (iv__modem() && de_inipin(0) == DE_BEREIT) {
        char a[CM_ANTWORTGROESSE];
        cm_puts("AT+COPS=3,2\r");
        msleep(ANTWORTZEIT);
        cm_gets(a, 3, sizeof a);
        bool betreiber = false;
        for (int runde = 0; runde < 18 && !betreiber && !programmende_gewuenscht; runde++) {
            if (runde > 0 && msleepx(5000)) break;
            char text[100];
            snprintf(text, sizeof text,
                     _de ? "+Automatische APN-Ermittlung%s" : "+Automatic APN determination%s",
                     iv__punkte(runde, 18));
            ps_statustext(text, text);
            cm_puts("AT+COPS?\r");
            msleep(ANTWORTZEIT);
            cm_gets(a, 5, sizeof a);
            const char* q = strchr(a, '"');
            if (!q) continue;
            char code[20] = "";
            const char* e = strchr(q + 1, '"');
            if (!e) continue;
            size_t l = static_cast<size_t>(e - q - 1);
            if (l >= sizeof code) l = sizeof code - 1;
            memcpy(code, q + 1, l);
            code[l] = 0;
            if (memicmp(code, "Limited Service", 15) == 0 || memicmp(code, "No Service", 10) == 0)
                continue;
            betreiber = true;
            apn = iv_apnausplmn(code);
        }
    }
    if (apn) {
        strMcpy(inidat.apn, apn);
        *neuschreiben = true;
        iv__zeige("+APN wurde eingetragen.", "+APN has been entered.", "+APN_eingetragen.",
                  "+APN_entered.", 4000);
        ps_messagebox(_de ? "tandor   APN-Ermittlung" : "tandor   APN determination",
                      _de ? "Bitte prüfen Sie den automatisch ermittelten  \nAPN in \"CONFIG\" "
                            "oder \"tandor.ini\"."
                          : "Please review the  \nautomatically determined APN.  ",
                      0, 0);
    } else {
        iv__zeige("+APN nicht ermittelbar.", "+Could not determine APN.", "+Kein_APN.", "+No_APN.",
                  4000);
    }
    if (iv__modem()) {
        char a[CM_ANTWORTGROESSE];
        cm_puts("AT+COPS=3,0\r");
        msleep(ANTWORTZEIT);
        cm_gets(a, 3, sizeof a);
    }
    if (inidat.apn[0])
        iv__hinweis('7', "APN in Zeile APN überprüfen (siehe unten)!",
                    "Review APN in line APN (see below)!");
    else if (!inidat.hinweis[0])
        iv__hinweis('8', "APN in Zeile APN eintragen (siehe unten)!",
                    "Enter APN in line APN (see below)!");
}

// A service log grown beyond 250,000 bytes is switched off.
void iv__servicelogpruefen(bool* neuschreiben) {
    if (!MODUS('P') || MODUS('Q')) return;
    struct stat st;
    if (stat("servilog.txt", &st) != 0 || st.st_size <= 250000) return;
    lo_slog(_de ? "\n    Die Datei des Servicelogs ist sehr groß.\n    Das Servicelog wird "
                  "ausgeschaltet.\n"
                : "\n    The service log file is very long.\n    The service log has been "
                  "deactivated.\n",
            "", -1);
    inidat.mod[(unsigned char)'P'] = 0;
    *neuschreiben = true;
    iv__zeige("*Protokoll wird ausgeschaltet.", "*Protocol deactivated.", "*Protokoll_aus.",
              "*Protocol_off.", 8000);
}

} // namespace

void iv_zweitport(const char* com1, char* com2, size_t n) {
    if (n == 0) return;
    strmcpy(com2, com1, n);
    size_t l = strlen(com2);
    size_t i = l;
    while (i > 0 && !isdigit(static_cast<unsigned char>(com2[i - 1])))
        i--;
    if (i == 0) return; // no digit: nothing to derive
    size_t letzte = i - 1;
    size_t p = letzte;
    for (;;) {
        if (com2[p] != '9') {
            com2[p]++;
            return;
        }
        com2[p] = '0';
        if (p == 0 || !isdigit(static_cast<unsigned char>(com2[p - 1]))) break;
        p--;
    }
    // Every digit carried over: a '1' goes in front of them, if it fits.
    if (l + 1 >= n) return;
    memmove(com2 + p + 1, com2 + p, l - p + 1);
    com2[p] = '1';
}

int iv_netzliste(const char* antwort, char* liste, size_t n) {
    if (!antwort || !liste || n == 0) return 0;
    int neu = 0;
    for (const char* p = strchr(antwort, '('); p; p = strchr(p + 1, '(')) {
        if (!isdigit(static_cast<unsigned char>(p[1])) || p[2] != ',' || p[3] != '"') continue;
        const char* anfang = p + 4;
        const char* ende = strchr(anfang, '"');
        if (!ende) break;
        size_t l = static_cast<size_t>(ende - anfang);
        if (l == 0 || l > 30) continue;
        char name[32];
        memcpy(name, anfang, l);
        name[l] = 0;
        // ';' inside a name would split the list; such a name is not taken.
        if (strchr(name, ';')) continue;
        char eintrag[34];
        snprintf(eintrag, sizeof eintrag, ";%s", name);
        // Already listed (each operator appears once per radio technology)?
        char mitende[36];
        snprintf(mitende, sizeof mitende, "%s;", eintrag);
        char pruef[600];
        snprintf(pruef, sizeof pruef, "%s;", liste);
        if (strstr(pruef, mitende)) continue;
        size_t lliste = strlen(liste);
        if (lliste + strlen(eintrag) + 1 > n) break;
        memcpy(liste + lliste, eintrag, strlen(eintrag) + 1);
        neu++;
    }
    return neu;
}

const char* iv_apnausplmn(const char* plmn) {
    struct {
        const char* code;
        const char* apn;
    } constexpr tabelle[] = {
        {"26201", "internet.t-mobile"},
        {"26202", "web.vodafone.de"},
        {"26203", "internet.eplus.de"},
        {"26207", "internet"},
    };
    if (!plmn) return nullptr;
    for (const auto& t : tabelle)
        if (strcmp(plmn, t.code) == 0) return t.apn;
    return nullptr;
}

int iv_startchecks(bool* neuschreiben, bool nurports) {
    bool unvollstaendig = false;
    // Command port and secondary port.
    if (!nurports || strcmp(inidat.comport, "?") != 0) iv__befehlsport();
    iv__zweitport();
    if (nurports) return 0;
    if (programmende_gewuenscht) return -1;

    // Discovery through the by-id names; a modem that is still starting may need a while.
    de_getcomport(nullptr);
    bool suche = strcmp(inidat.comport, "?") == 0;
    for (int i = 0; i < 4 && !suche && !linksys && !inidat.com1[0]; i++) {
        lo_slog(_de ? "Suche erneut nach dem Modem.\n" : "Another search for modem.\n", "", -1);
        if (iv__zeige(" Suche Modem.", " Searching for modem.", " Suche_Modem.",
                      " Searching_Modem.", 5000))
            return -1;
        de_getcomport(nullptr);
    }
    if (suche) {
        if (inidat.com1[0]) {
            // "command;secondary" when both fit the field, else the command port alone.
            strMcpy(inidat.comport, inidat.com1);
            size_t l1 = strlen(inidat.com1), l2 = strlen(inidat.com2);
            if (l2 && l1 + 1 + l2 < sizeof inidat.comport) {
                inidat.comport[l1] = ';';
                memcpy(inidat.comport + l1 + 1, inidat.com2, l2 + 1);
            }
            *neuschreiben = true;
            if (iv__zeige("+COM-Port wurde eingetragen.", "+COM-port has been entered.",
                          "+COM-Port_eingetragen.", "+COM-port_entered.", 4000) ||
                iv__zeige("+COM-Port in Datei \"tandor.ini\" prüfen!",
                          "+Review COM-port in file \"tandor.ini\"!", "+\"tandor.ini\"_prüfen!",
                          "+Review_\"tandor.ini\"!", 4000))
                return -1;
        } else {
            iv__hinweis('3', "COM-Port in Zeile COM eintragen (siehe unten)!",
                        "Enter COM-port in line COM (see below)!");
            if (iv__zeige(" COM-Port nicht ermittelbar.", " COM-Port not found.", " Kein_COM-Port.",
                          " No COM-port.", 4000))
                return -1;
        }
        unvollstaendig = true;
    } else if (!linksys && !inidat.com1[0]) {
        iv__hinweis('3', "COM-Port in Zeile COM eintragen (siehe unten)!",
                    "Enter COM-port in line COM (see below)!");
        if (iv__zeige(" Modem nicht erkannt.", " Modem not recognized.", " Kein_Modem.",
                      " No modem.", 4000))
            return -1;
        unvollstaendig = true;
    }

    // The SIM.
    if (inidat.com1[0] || linksys) unvollstaendig |= iv__pin(neuschreiben);
    if (programmende_gewuenscht) return -1;

    // The network list, when NET asks for one.
    if (!linksys && !inidat.hinweis[0] && iv__modem() && inidat.net[0] == '?')
        unvollstaendig |= iv__netzliste(neuschreiben);
    if (programmende_gewuenscht) return -1;

    // The APN, when none is set and no network list is pending.
    if (!linksys && !inidat.apn[0] && inidat.net[0] != '?') {
        iv__apn(neuschreiben);
        unvollstaendig = true;
    }
    if (programmende_gewuenscht) return -1;

    iv__servicelogpruefen(neuschreiben);
    return unvollstaendig ? 1 : 0;
}
