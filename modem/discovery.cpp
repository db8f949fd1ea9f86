// Modem discovery and initialisation; see discovery.h.
#include "modem/discovery.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/inifile.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "modem/atexchange.h"
#include "ui/inputdialog.h"

char plmn[20], lac[20], ucid[20];
char porttreiber1[308], porttreiber2[308];

namespace {

// One exchange: command, wait w1, read (lesen: the wait in seconds that cm_gets is given),
// wait w2.
void de__ex(const char* cmd, char* antwort, size_t cap, int w1, int w2, int lesen = 5) {
    antwort[0] = 0;
    cm_puts(cmd);
    msleep(w1);
    cm_gets(antwort, lesen, cap);
    msleep(w2);
}

bool de__enthaelt(const char* s, const char* t) {
    return strstr(s, t) != nullptr;
}

// Case-ignoring prefix test.
bool de__beginnti(const char* s, const char* p) {
    return strncasecmp(s, p, strlen(p)) == 0;
}

bool de__nurziffern(const char* s) {
    if (!*s) return false;
    for (; *s; s++)
        if (!isdigit(static_cast<unsigned char>(*s))) return false;
    return true;
}

// The CPIN answer means the SIM is usable.
bool de__inipin_pin_ok(const char* a) {
    if (de__enthaelt(a, "READY") || de__enthaelt(a, "PIN2") || de__enthaelt(a, "PUK2")) return true;
    return de__enthaelt(a, "OK") && !de__enthaelt(a, "ERROR") && !de__enthaelt(a, "SIM PIN") &&
           !de__enthaelt(a, "SIM PUK");
}

bool de__plaindialup() {
    return inidat.devi[0] == '\\' && inidat.devi[1] == '*';
}

void de__status(const char* en, const char* de, const char* minien, const char* minide) {
    ps_statustext(_de ? de : en, _de ? minide : minien);
}

// A PIN the SIM rejected; it is not sent again until the configuration changes it.
char de__abgelehnt[300];
// A code whose verdict never came (silent or busy to the end): it may have cost one of the
// SIM's tries, so this run does not send it again while the SIM still asks for a code.
char de__ungewiss[300];

// How long a silent, late or busy SIM is asked again, once a second, before the modem
// counts as not responding.
constexpr long long DE__GEDULD = 20000;

// The number of a "+CME ERROR: n" in the answer, or -1 (none, or the text form).
int de__cme(const char* a) {
    const char* p = strstr(a, "+CME ERROR:");
    if (!p) return -1;
    p += 11;
    while (*p == ' ')
        p++;
    if (!isdigit(static_cast<unsigned char>(*p))) return -1;
    return atoi(p);
}

// "SIM busy" in either form of +CMEE.
bool de__simbusy(const char* a) {
    return de__cme(a) == 14 || strcasestr(a, "SIM busy") != nullptr;
}

// The answer carries a final result code: it is whole.
bool de__fertig(const char* a) {
    return de__enthaelt(a, "OK") || de__enthaelt(a, "ERROR");
}

// Asks "AT+CPIN?" until the SIM tells its state. Silent, cut-off and busy answers (and a
// plain ERROR, which is busy on a modem without +CMEE) are asked again every second for up
// to 20 s; other errors, and an Ericsson without a PIN that is not ready, four times.
int de__simfragen(char* a, size_t cap) {
    long long ende = sy_monotonicms() + DE__GEDULD;
    int fehlversuche = 0;
    for (;;) {
        de__ex("AT+CPIN?\r", a, cap, ANTWORTZEIT, ANTWORTZEIT, 2);
        if (strstr(a, "PH-NET P"))
            lo_vlog(_de ? "%s Netlock vorhanden.\r\n" : "%s Netlock detected.\r\n", datumzeit(),
                    -1);
        if (strstr(a, "PH-SIM P"))
            lo_vlog(_de ? "%s SIMlock vorhanden.\r\n" : "%s SIMlock detected.\r\n", datumzeit(),
                    -1);
        int lage = de_simlage(a);
        bool nochmal = lage == DE_SIM_WARTEN || lage == DE_SIM_FEHLER;
        if (lage == DE_SIM_FEHLT ||
            (geraet == 5 && !inidat.pin[0] && lage != DE_SIM_BEREIT && !nochmal))
            nochmal = ++fehlversuche < 4;
        if (!nochmal || sy_monotonicms() >= ende || msleepx(1000)) return lage;
    }
}

// Sends the code and waits for the SIM's verdict (DE_CODE_); a gets the last answer to
// "AT+CPIN?". The code goes again only after a busy answer: a busy SIM has not looked at
// it. A late answer is read on for a few seconds before the SIM is asked.
int de__codesenden(const char* befehl, bool puk, char* a, size_t cap) {
    long long ende = sy_monotonicms() + DE__GEDULD;
    char c[CM_ANTWORTGROESSE];
    for (;;) {
        de__ex(befehl, c, sizeof c, ANTWORTZEIT, ANTWORTZEIT, 5);
        for (int i = 0; i < 3 && !de__fertig(c) && sy_monotonicms() < ende; i++) {
            if (msleepx(1000)) break;
            size_t l = strlen(c);
            if (sizeof c - l < 100) break;
            cm_gets(c + l, 1, sizeof c - l);
        }
        if (!de__simbusy(c) || sy_monotonicms() >= ende || msleepx(1000)) break;
    }
    for (;;) {
        de__ex("AT+CPIN?\r", a, cap, ANTWORTZEIT, ANTWORTZEIT, 2);
        int urteil = de_codeurteil(c, a, puk);
        if (urteil != DE_CODE_WARTEN || sy_monotonicms() >= ende || msleepx(1000)) return urteil;
    }
}

// A line of the ini file that holds the PIN key ("11 PIN=..." or "PIN=...").
bool de__pinzeile(const char* z) {
    while (isdigit(static_cast<unsigned char>(*z)) || *z == ' ')
        z++;
    if (strncasecmp(z, "PIN", 3) != 0) return false;
    z += 3;
    while (*z == ' ')
        z++;
    return *z == '=';
}

// Roles of the by-id names.
struct de__eintrag {
    const char* name;
    const char* schnittstelle;
    bool befehlsport;
    const char* modem;
    int geraet;
    long prio;
};
constexpr de__eintrag de__tabelle[] = {
    {"OPTION_N.V.", "-if00", false, "Option", 1, 25},
    {"OPTION_N.V.", "-if02", true, "Option", 1, 25},
    {"HUAWEI", "-if00", false, "Huawei", 3, 23},
    {"HUAWEI", "-if01", true, "Huawei", 3, 22},
    {"HUAWEI", "-if02", true, "Huawei", 3, 23},
    {"ZTE_Incorportated", "-if01", false, "ZTE", 8, 41},
    {"ZTE_Incorportated", "-if03", true, "ZTE", 8, 41},
    {"Ericsson_F3", "-if09", true, "Ericsson", 5, 21},
    {"Ericsson_F3", "-if03", false, "Ericsson", 5, 21},
};

} // namespace

int de_geraetausati(const char* antwort) {
    char a[CM_ANTWORTGROESSE];
    strMcpy(a, antwort);
    strupper(a);
    struct {
        const char* text;
        int geraet;
    } constexpr tests[] = {
        {"HUAWEI", 3},
        {"NOVATEL", 2},
        {"DELL", 2},
        {"OPTION", 1},
        {"GLOBETROTTER", 1},
        {"FUSION", 1},
        {"SONY", 11},
        {"LG ELECTRONICS", 12},
        {"APP3", 4},
        {"SIERRA", 4},
        {"F3507", 5},
        {"D5530", 5},
        {"QUALCOMM INCORPORATED", 6},
        {"SAMSUNG ELECTRONICS", 7},
        {"ZTE INCORPORATED", 8},
    };
    for (const auto& t : tests)
        if (strstr(a, t.text)) return t.geraet;
    return 0;
}

void de_identify() {
    char a[CM_ANTWORTGROESSE];
    de__ex("AT\r", a, sizeof a, ANTWORTZEIT, ANTWORTZEIT);
    de__ex("ATI\r", a, sizeof a, 2 * ANTWORTZEIT, 2 * ANTWORTZEIT);
    int g = de_geraetausati(a);
    if (g) geraet = g;
    lo_slog(_de ? "Gerät erkannt: tandor-Gerätenummer %s%li\r\n"
                : "Determined device: tandor device number %s%li\r\n",
            "", geraet);
    if (inidat.mangeraet != 0 && inidat.mangeraet != geraet) {
        geraet = inidat.mangeraet;
        lo_slog(_de ? "Gerätetyp manuell überschrieben mit: %s%li\r\n"
                    : "Device type overwritten manually with: %s%li\r\n",
                "", geraet);
    }
    strupper(a);
    novatelu740 = geraet == 2 && !strstr(a, " U530") && !strstr(a, " U630");
    if (novatelu740)
        lo_slog(_de ? "Gerät erkannt: Novatel U730 oder neuer.\r\n"
                    : "Determined device: Novatel U730 or newer.\r\n",
                "", -1);
    int gt = geraet;
    comzeit = ((gt >= 3 && gt <= 9) || gt == 20) ? 50 : 150;
}

void de_cellidqueryini() {
    static int inicounter = -1;
    if (inicounter == inicounterglobal) return;
    inicounter = inicounterglobal;
    if (linksys) {
        lac[0] = ucid[0] = plmn[0] = 0x01;
        lac[1] = ucid[1] = plmn[1] = 0;
        return;
    }
    char a[CM_ANTWORTGROESSE];
    int g = geraet;
    de__ex(g == 8 || g == 12 ? "AT+CREG=2\r" : "AT+CGREG=2\r", a, sizeof a, ANTWORTZEIT,
           ANTWORTZEIT);
    if (strstr(a, "OK")) {
        lac[0] = ucid[0] = 0;
    } else {
        lac[0] = ucid[0] = 0x01;
        lac[1] = ucid[1] = 0;
    }
    plmn[0] = 0;
    if (g == 1) de__ex("AT+CGREG=0\r", a, sizeof a, ANTWORTZEIT / 2, ANTWORTZEIT / 2);
}

int de_inipin(int art) {
    static int inicounter = -1;
    char a[CM_ANTWORTGROESSE];
    char eingabe[50] = "";
    int dialog = 0;
    if (!linksys && !inidat.com1none && !de__plaindialup() && !cm_issim()) {
        if (!cm_open(inidat.com1, false)) return DE_KEINPORT;
        if (art == 0 && inicounter == inicounterglobal) return DE_BEREIT;
        if (art != 2) de_identify();
        if (art == 1) {
            if (geraet != 2)
                de__ex("AT&F\r", a, sizeof a, 2 * ANTWORTZEIT, 2 * ANTWORTZEIT);
            else if (novatelu740)
                msleep(100);
            else {
                de__status(" Waiting for modem.", " Warte auf das Modem.", " Waiting.", " Warten.");
                msleep(6000);
            }
        }
        if (art != 2) {
            const char* e0 = geraet == 2 || geraet == 6 ? "ATE0\r" : "ATE0V1&D2&C1S0=0\r";
            de__ex(e0, a, sizeof a, ANTWORTZEIT, ANTWORTZEIT);
            if (!strstr(a, "OK")) de__ex("ATE0\r", a, sizeof a, ANTWORTZEIT, ANTWORTZEIT);
            if (!strstr(a, "OK")) return DE_STUMM;
            int g = geraet;
            if (g == 1 || g == 2 || g == 5 || g == 6)
                de__ex("AT+CFUN=1\r", a, sizeof a, 2 * ANTWORTZEIT, 2 * ANTWORTZEIT);
            if (g == 1) de__ex("AT_OSSYS=0\r", a, sizeof a, ANTWORTZEIT, ANTWORTZEIT);
        }
        int lage = de__simfragen(a, sizeof a);
        if (lage != DE_SIM_BEREIT) {
            // No answer within the patience: the modem, not the PIN, is the problem.
            if (lage == DE_SIM_WARTEN) return DE_STUMM;
            // An error the whole time: without +CMEE a missing SIM says plain ERROR too.
            if (lage == DE_SIM_FEHLER || lage == DE_SIM_FEHLT) return DE_KEINESIM;
            bool puk = lage == DE_SIM_PUK;
            if (puk && !strchr(inidat.pin, ',')) return DE_PUKNOETIG;
            char code[300];
            strMcpy(code, inidat.pin);
            if (!code[0] && !_silentinstall) {
                dialog = ce_inputdialog(MODUS('K') ? 112 : 120, "tandor   PIN",
                                        _de ? "Bitte PIN eingeben:" : "Please enter PIN:", eingabe);
                strMcpy(code, eingabe);
            }
            if (!code[0]) return DE_PINFEHLT;
            if (de__ungewiss[0] && !strcmp(code, de__ungewiss)) return DE_STUMM;
            char ganz[300];
            strMcpy(ganz, code);
            char befehl[700]; // room for both codes as the compiler sees their fields
            if (puk) {
                char* komma = strchr(code, ',');
                if (!komma) return DE_PUKNOETIG; // a PUK from the dialog without the new PIN
                *komma = 0;
                if (!de__nurziffern(code) || !de__nurziffern(komma + 1)) return DE_PUKFALSCH;
                if (strlen(code) > 16 || strlen(komma + 1) > 16) return DE_PUKFALSCH;
                snprintf(befehl, sizeof befehl, "AT+CPIN=\"%s\",\"%s\"\r", code, komma + 1);
            } else {
                // Digits only, and never a PIN the SIM has already rejected: a second
                // try could lock the SIM into its PUK.
                if (!de__nurziffern(code) || strlen(code) > 16) return DE_PINFALSCH;
                if (!strcmp(code, de__abgelehnt)) return DE_PINFALSCH;
                snprintf(befehl, sizeof befehl, geraet == 5 ? "AT+CPIN=\"%s\"\r" : "AT+CPIN=%s\r",
                         code);
            }
            int urteil = de__codesenden(befehl, puk, a, sizeof a);
            if (urteil == DE_CODE_WARTEN) {
                strMcpy(de__ungewiss, ganz);
                return DE_STUMM;
            }
            de__ungewiss[0] = 0;
            if (puk) {
                if (urteil != DE_CODE_ANGENOMMEN) return DE_PUKFALSCH;
                inidat.pin[0] = 0;
                return DE_PINFEHLT;
            }
            if (urteil != DE_CODE_ANGENOMMEN) {
                strMcpy(de__abgelehnt, code);
                if (urteil == DE_CODE_PUK) return DE_PUKNOETIG;
                ps_messagebox("tandor   PIN",
                              _de ? "Die eingegebene PIN ist ungültig. Bitte starten Sie  \n"
                                    "das Programm neu und geben Sie die richtige PIN ein.  \n\n"
                                    "Vorsicht: Nach drei falschen Eingaben wird  \n"
                                    "die SIM-Karte gesperrt.  "
                                  : "The PIN you have entered is not valid. Please  \n"
                                    "restart the program and enter the correct PIN.  \n\n"
                                    "Be careful: when you enter the wrong PIN three  \n"
                                    "times, your SIM card will be locked.  ",
                              0, 2);
                return DE_PINFALSCH;
            }
        }
    }
    if (dialog == 2) strMcpy(inidat.pin, eingabe);
    if (art != 2) {
        if (!linksys && !cm_issim() && !inidat.com1none && !de__plaindialup())
            de__ex("AT+COPS=3,0\r", a, sizeof a, ANTWORTZEIT, ANTWORTZEIT);
        de_cellidqueryini();
    }
    inicounter = inicounterglobal;
    return DE_BEREIT;
}

int de_simlage(const char* a) {
    if (de__inipin_pin_ok(a)) return DE_SIM_BEREIT;
    int cme = de__cme(a);
    if (strstr(a, "PUK") || cme == 12) return DE_SIM_PUK;
    if (strstr(a, "SIM PIN") || cme == 11) return DE_SIM_PIN;
    if (de__simbusy(a)) return DE_SIM_WARTEN;
    if (strstr(a, "+CME ERROR")) return DE_SIM_FEHLT;
    if (strstr(a, "ERROR")) return DE_SIM_FEHLER;
    return DE_SIM_WARTEN;
}

int de_codeurteil(const char* codeantwort, const char* abfrage, bool puk) {
    int lage = de_simlage(abfrage);
    if (lage == DE_SIM_BEREIT) return DE_CODE_ANGENOMMEN;
    // Turned down: the SIM answered the code with an error that is not "busy".
    bool fehler = strstr(codeantwort, "ERROR") && !de__simbusy(codeantwort);
    if (puk) return lage == DE_SIM_PUK && fehler ? DE_CODE_ABGELEHNT : DE_CODE_WARTEN;
    if (lage == DE_SIM_PUK) return DE_CODE_PUK;
    if (lage == DE_SIM_PIN && fehler) return DE_CODE_ABGELEHNT;
    return DE_CODE_WARTEN;
}

bool de_pinloeschen() {
    inidat.pin[0] = 0;
    if (!iv_iniopen("rt")) return false;
    FILE* alt = iv_inifile();
    rewind(alt);
    // A new file beside the old one, renamed over it: a crash never leaves half a file.
    char tmp[80];
    snprintf(tmp, sizeof tmp, "%s.tmpXXXXXX", inidatei);
    int fd = mkstemp(tmp);
    FILE* neu = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (fd >= 0 && !neu) close(fd);
    bool ok = neu != nullptr, gefunden = false;
    if (ok) {
        fchmod(fd, 0600);
        char zeile[1200];
        bool zeilenanfang = true;
        while (fgets(zeile, sizeof zeile, alt)) {
            size_t l = strlen(zeile);
            bool ende = l && zeile[l - 1] == '\n';
            if (zeilenanfang && de__pinzeile(zeile)) {
                gefunden = true;
                char* gleich = strchr(zeile, '=');
                bool cr = l >= 2 && ende && zeile[l - 2] == '\r';
                strmcpy(gleich + 1, ende ? (cr ? "\r\n" : "\n") : "",
                        sizeof zeile - (gleich + 1 - zeile));
            }
            zeilenanfang = ende;
            ok = fputs(zeile, neu) >= 0 && ok;
        }
        ok = fflush(neu) == 0 && ok;
        ok = fsync(fileno(neu)) == 0 && ok;
        ok = fclose(neu) == 0 && ok;
        ok = ok && gefunden && rename(tmp, inidatei) == 0;
        if (!ok) unlink(tmp);
    }
    iv_iniclose();
    lo_slog(ok ? "PIN removed from the INI file.\n" : "PIN line of the INI file not rewritten.\n",
            "", -1);
    return ok;
}

int de_portini(char* port) {
    if (!port) return 1;
    char p[300];
    strMcpy(p, port);
    if (char* s = strchr(p, ';')) *s = 0;
    if (!p[0]) {
        de_getcomport(nullptr);
        strMcpy(p, inidat.com1);
    }
    if (!p[0] || !cm_open(p, false)) return 0;
    int r = de_inipin(1);
    if (r != DE_BEREIT) {
        // Only a code the SIM has turned down goes; a silent or missing SIM keeps it.
        if (r == DE_PINFALSCH || r == DE_PUKNOETIG || r == DE_PUKFALSCH) inidat.pin[0] = 0;
        return 0;
    }
    msleepx(500);
    return 1;
}

void de_getcomport(char* modemname) {
    // The service log gets the device list, read directly rather than through a shell.
    if (MODUS('P')) {
        lo_slog("System device list:\r\n", "", -1);
        if (DIR* d = opendir(sy_path(SY_SERIALBYID))) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.') lo_slog("  %s\r\n", e->d_name, -1);
            closedir(d);
        }
    }
    char name[30];
    strMcpy(name, _de ? "Linux-Gerät" : "Linux device");
    long portbar = 0, modembar = 0;
    if ((inidat.com1[0] && stricmp(inidat.comport, "NOLINKSYS") != 0) ||
        de__beginnti(inidat.comport, "LINKSYS"))
        portbar = 99;
    if (inidat.con[0]) modembar = 99;
    porttreiber1[0] = porttreiber2[0] = 0;
    char x[300];
    snprintf(x, sizeof x, "%s", sy_path(SY_SERIALBYID));
    // The second directory sits beside the first one ("/dev/x/by-id").
    char zweit[300];
    strMcpy(zweit, x);
    if (char* s = strrchr(zweit, '/'); s && s != zweit) {
        *s = 0;
        if (char* t = strrchr(zweit, '/')) {
            t[1] = 0;
            strmcpy(t + 1, "x/by-id", sizeof zweit - (t + 1 - zweit));
        }
    }
    const char* verzeichnisse[] = {x, zweit};
    for (const char* v : verzeichnisse) {
        DIR* d = opendir(v);
        if (!d) continue;
        while (dirent* e = readdir(d)) {
            if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
            char pfad[300];
            snprintf(pfad, sizeof pfad, "%s/%s", v, e->d_name);
            lo_slog("Device: %s\r\n", pfad, -1);
            const de__eintrag* t = nullptr;
            for (const auto& k : de__tabelle)
                if (strstr(pfad, k.name) && strstr(pfad, k.schnittstelle)) {
                    t = &k;
                    break;
                }
            if (!t) {
                lo_slog("  Device has not been selected.\r\n", "", -1);
                continue;
            }
            long& bar = t->befehlsport ? portbar : modembar;
            char* ziel = t->befehlsport ? inidat.com1 : inidat.con;
            bool genommen = false;
            if (t->prio >= bar) {
                strmcpy(ziel, pfad, 300);
                lo_slog(t->befehlsport ? "  Device type: %s\r\n" : "  Modem type: %s\r\n", t->modem,
                        -1);
                lo_slog(t->befehlsport ? "  Device selection: as primary, prio %s%li\r\n"
                                       : "  Modem selection, prio %s%li\r\n",
                        "", t->prio);
                bar = t->prio;
                genommen = true;
            } else if (bar == 99 && !strcmp(pfad, ziel)) {
                lo_slog(t->befehlsport ? "  Device type: %s\r\n" : "  Modem type: %s\r\n", t->modem,
                        -1);
                lo_slog(t->befehlsport ? "  Device selection: as primary, manually\r\n"
                                       : "  Modem selection, manually\r\n",
                        "", -1);
                genommen = true;
            } else {
                lo_slog(
                    t->befehlsport
                        ? "  Device selection: as primary, not selected because of prio %s%li\r\n"
                        : "  Modem selection: not selected because of prio %s%li\r\n",
                    "", t->prio);
            }
            if (genommen) {
                strMcpy(name, t->modem);
                geraet = t->geraet;
                lo_slog("  Device preselection: tandor device number %s%li\r\n", "", t->geraet);
            }
        }
        closedir(d);
    }
    // The router link is not available here; a router is never chosen by the discovery.
    linksys = false;
    char st[100], mini[100];
    if (inidat.com1none || (inidat.mangeraet != 0 && inidat.mangeraet != geraet)) {
        geraet = inidat.mangeraet;
        lo_slog(_de ? "Gerätetyp manuell überschrieben mit: %s%li\r\n"
                    : "Device type overwritten manually with: %s%li\r\n",
                "", geraet);
        if (inidat.com1none || de__plaindialup()) {
            de__status(" Modem type: dial-up", " Modemtyp: Wählverbindung", " Modem type:_dial-up",
                       " Modemtyp:_Wählverbindung");
        } else {
            snprintf(st, sizeof st, _de ? " Modemtyp: manuell %i" : " Modem type: manually %i",
                     geraet.load());
            snprintf(mini, sizeof mini, _de ? " Modemtyp:_manuell %i" : " Modem type:_manually %i",
                     geraet.load());
            ps_statustext(st, mini);
        }
    } else {
        snprintf(st, sizeof st, _de ? " Modemtyp: %s" : " Modem type: %s", name);
        snprintf(mini, sizeof mini, _de ? " Modemtyp:_%s" : " Modem type:_%s", name);
        ps_statustext(st, mini);
    }
    if (modemname) strmcpy(modemname, name, 30);
    msleep(100);
}

bool de_iniopmode(int ba, int prot) {
    if (ba == 9) return true;
    if (ba < 1 || ba > 4) return false;
    int g = geraet;
    if (!linksys && (g < 1 || g > 9)) return true;
    static const char* const st[2][5] = {
        {"", "+Operating mode: GPRS.", "+Operating mode: UMTS.",
         "+Operating mode: preferably GPRS.", "+Operating mode: preferably UMTS."},
        {"", "+Betriebsart: GPRS.", "+Betriebsart: UMTS.", "+Betriebsart: vorrangig GPRS.",
         "+Betriebsart: vorrangig UMTS."}};
    static const char* const mini[5] = {"", "+-> GPRS.", "+-> UMTS.", "+->_GPRS/UMTS.",
                                        "+->_UMTS/GPRS."};
    const char* text = st[_de][ba];
    const char* minitext = mini[ba];
    if (ba >= 3 && (linksys || g == 2 || g == 5 || g == 6)) {
        text = _de ? "+Betriebsart: UMTS und GPRS." : "+Operating mode: UMTS and GPRS.";
        minitext = "+->_UMTS/GPRS.";
    }
    if (prot == 1 || prot == 2) {
        // The format's last letter and the status text from its third character on make
        // one sentence.
        char zeile[200];
        snprintf(zeile, sizeof zeile, _de ? "%%s Vorgewaehlte B%s\r\n" : "%%s Selected o%s\r\n",
                 text + 2);
        lo_vlog(zeile, datumzeit(), -1);
        if (MODUS('8'))
            lo_vlog("%s TEST-Modus: Volumen wird mit Faktor 10.000 erfasst.\r\n", datumzeit(), -1);
    }
    if (linksys) return false; // the router link is not available on this platform
    char befehl[100];
    static const int opsys[5] = {0, 0, 1, 2, 3}, nwrat[5] = {0, 1, 2, 0, 0},
                     sys1[5] = {0, 13, 14, 2, 2}, sys2[5] = {0, 1, 2, 1, 2},
                     selrat[5] = {0, 2, 1, 4, 3}, cfun[5] = {0, 5, 6, 1, 1},
                     zsnt1[5] = {0, 1, 2, 0, 0}, zsnt3[5] = {0, 0, 0, 1, 2};
    switch (g) {
    case 2:
        snprintf(befehl, sizeof befehl, "AT$NWRAT=%d,2\r", nwrat[ba]);
        break;
    case 3:
        snprintf(befehl, sizeof befehl, "AT^SYSCFG=%i,%i,3FFFFFFF,1,%i\r", sys1[ba], sys2[ba],
                 inidat.smsring || MODUS('M') ? 2 : 1);
        break;
    case 4:
        snprintf(befehl, sizeof befehl, "AT!SELRAT=0%i\r", selrat[ba]);
        break;
    case 5:
        snprintf(befehl, sizeof befehl, "AT+CFUN=%i\r", cfun[ba]);
        break;
    case 8:
        snprintf(befehl, sizeof befehl, "AT+ZSNT=%i,0,%i\r", zsnt1[ba], zsnt3[ba]);
        break;
    default:
        snprintf(befehl, sizeof befehl, "AT_OPSYS=%d,2\r", opsys[ba]);
        break;
    }
    char a[CM_ANTWORTGROESSE];
    de__ex(befehl, a, sizeof a, ANTWORTZEIT, g == 3 ? 2 * ANTWORTZEIT : ANTWORTZEIT);
    if (g == 3 && !strstr(a, "OK")) de__ex(befehl, a, sizeof a, ANTWORTZEIT, 2 * ANTWORTZEIT);
    if (!strstr(a, "OK")) {
        if (prot <= 1) return false;
        lo_slog(_de ? "Betriebsartwahl fehlgeschlagen.\r\n"
                    : "Operations mode selection failed.\r\n",
                "", -1);
        de__status("+Operations mode selection failed.", "+Betriebsartwahl fehlgeschlagen.",
                   "+Op. mode_error.", "+Betriebsart~Fehler.");
        msleepx(4000);
        lo_vlog(_de ? "%s Betriebsartwahl fehlgeschlagen.\r\n"
                    : "%s Operations mode selection failed.\r\n",
                datumzeit(), -1);
        return false;
    }
    if (prot) ps_statustext(text, minitext);
    return true;
}
