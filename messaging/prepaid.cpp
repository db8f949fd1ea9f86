#include "messaging/prepaid.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/frontendrecord.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "messaging/sms.h"
#include "modem/atexchange.h"
#include "modem/calls.h"
#include "modem/discovery.h"
#include "ui/inputdialog.h"
#include "ui/mainwindow.h"
#include "ui/messagebox.h"

char sm_msgprepaidnachricht[900];
std::atomic<int> sm_msgprepaidzustand{0};

namespace {

// Longest wait before a device command's answer is read, and longest read.
constexpr long pp__WARTE1MAX = 10000;
constexpr long pp__WARTE2MAX = 30000;
constexpr long pp__WARTE2STANDARD = 3000;
// Template and code together must stay below this length to be combined.
constexpr size_t pp__VORLAGEMAX = 296;
// Destination numbers longer than this cannot be named in a send file.
constexpr size_t pp__NUMMERMAX = 20;

const char* pp__t(const char* en, const char* de) {
    return _de ? de : en;
}

// What the code dialog hands over to the main thread, and the user text the message thread
// shows; all under pp__mutex.
std::mutex pp__mutex;
char pp__ussd[300];                     // a USSD code from the dialog, not yet taken
char pp__geraet[II_KOMMANDOGROESSE];    // a device command of the dialog without a record
char pp__manuell[II_KOMMANDOGROESSE];   // the dialog's command written into the record
std::atomic<bool> pp__smssenden{false}; // the dialog filed an SMS: send it soon
std::chrono::steady_clock::time_point pp__smszeit;

// The one code dialog thread and what it needs; pp__dialog is written only while no
// dialog thread runs.
std::atomic<bool> pp__dialoglaeuft{false};
struct {
    int art;
    char vorlage[300];
} pp__dialog;

// "Device command(s) received." goes to the volume log once per process.
bool pp__empfangengemeldet = false;

// Sets the user text for the message thread's box.
void pp__nachricht(const char* text) {
    std::lock_guard<std::mutex> g(pp__mutex);
    strMcpy(sm_msgprepaidnachricht, text);
    sm_msgprepaidzustand.store(1, std::memory_order_release);
}

// A text for the connection log on one line: line breaks become blanks, so that a
// multi-line answer cannot break the log's line format.
void pp__einzeilig(const char* in, char* out, size_t n) {
    if (n == 0) return;
    size_t o = 0;
    for (; *in && o + 1 < n; in++) {
        bool umbruch = *in == '\r' || *in == '\n';
        if (umbruch && o > 0 && out[o - 1] == ' ') continue;
        out[o++] = umbruch ? ' ' : *in;
    }
    out[o] = 0;
}

// The port of an exchange: the configuration program names one, which is opened (and
// closed afterwards); the main thread passes none and uses the port it keeps open.
bool pp__portauf(char* port) {
    return !port || de_portini(port) == 1;
}
void pp__portzu(char* port) {
    if (port) cm_close();
}

// Writes a command into the record's empty command field, the way a frontend does: the
// rest first, the first character last, so that a reader never sees half of it. False when
// there is no record or the field is taken.
bool pp__insrecord(const char* kommando) {
    tdrio_t* r = __atomic_load_n(&tdriow, __ATOMIC_ACQUIRE);
    size_t n = strnlen(kommando, sizeof r->command - 1);
    if (!r || n == 0 || __atomic_load_n(&r->command[0], __ATOMIC_ACQUIRE) != 0) return false;
    memcpy(r->command + 1, kommando + 1, n - 1);
    r->command[n] = 0;
    __atomic_store_n(&r->command[0], kommando[0], __ATOMIC_RELEASE);
    return true;
}

// ---- The code dialog (its own thread) ----------------------------------------------------

void pp__hinweis(const char* en, const char* de) {
    me_messagebox(0, pp__t("tandor   USSD code", "tandor   USSD-Code"), pp__t(en, de), 2, 0, 0);
}

// "SMS:<number> <text>": filed for sending; the main thread sends it at its next turn.
void pp__sms(const char* code) {
    char nummer[pp__NUMMERMAX + 2], text[300];
    if (!pp_smscode(code, nummer, sizeof nummer, text, sizeof text)) {
        lo_slog("Code dialog: SMS without a number.\n", "", -1);
        pp__hinweis("No phone number follows \"SMS:\".  \nExample: SMS:+4912345 Text  ",
                    "Nach \"SMS:\" folgt keine Rufnummer.  \nBeispiel: SMS:+4912345 Text  ");
        return;
    }
    if (!sm_sendedatei(nummer, text)) {
        lo_slog("Code dialog: SMS to %s could not be filed.\n", nummer, -1);
        pp__hinweis("The SMS could not be stored for sending.  ",
                    "Die SMS konnte nicht zum Senden abgelegt werden.  ");
        return;
    }
    lo_slog("Code dialog: SMS to %s filed.\n", nummer, -1);
    std::lock_guard<std::mutex> g(pp__mutex);
    pp__smszeit = std::chrono::steady_clock::now();
    pp__smssenden.store(true, std::memory_order_release);
}

// Hands the dialog's result over: a device command, an SMS or a USSD code.
void pp__uebergeben(const char* code) {
    if (memicmp(code, "DEVICE:", 7) == 0) {
        const char* k = code + 6; // from the colon on
        {
            std::lock_guard<std::mutex> g(pp__mutex);
            strMcpy(pp__manuell, k);
        }
        if (pp__insrecord(k)) return;
        // Without a record (or with its field taken) the main thread runs it directly.
        std::lock_guard<std::mutex> g(pp__mutex);
        pp__manuell[0] = 0;
        strMcpy(pp__geraet, k);
        return;
    }
    if (memicmp(code, "SMS:", 4) == 0) {
        pp__sms(code);
        return;
    }
    if (!cm_ussdzulaessig(code)) {
        lo_slog("Code dialog: USSD code not admissible, not sent.\n", "", -1);
        pp__hinweis("The code contains characters that cannot be sent.  ",
                    "Der Code enthält Zeichen, die nicht gesendet werden können.  ");
        return;
    }
    std::lock_guard<std::mutex> g(pp__mutex);
    strMcpy(pp__ussd, code);
}

gpointer pp__dialogthread(gpointer) {
    th_reg self = th_register("prepaiddialog");
    bool aufladen = pp__dialog.art != 2 && pp__dialog.vorlage[0];
    char eingabe[50] = "";
    ce_inputdialog(0,
                   aufladen ? pp__t("tandor   Prepaid Code", "tandor   Prepaid-Code")
                            : pp__t("tandor   USSD code", "tandor   USSD-Code"),
                   pp__t("Enter code:", "Code eingeben:"), eingabe);
    if (eingabe[0] && !th_queryterminate() && !programmende_gewuenscht) {
        char code[300];
        if (aufladen)
            pp_vorlage(pp__dialog.vorlage, eingabe, code, sizeof code);
        else
            strMcpy(code, eingabe);
        pp__uebergeben(code);
    }
    th_unregister(self);
    pp__dialoglaeuft.store(false, std::memory_order_release);
    return nullptr;
}

// ---- Device commands (main thread) -------------------------------------------------------

void pp__geraetekommando(const char* k, bool manuell, char* port) {
    char m[II_KOMMANDOGROESSE + 8];
    pp_maskiert(k, m, sizeof m);
    lo_slog(pp__t("External device command: %s\n", "Externes Gerätekommando: %s\n"), m, -1);
    if (manuell) {
        lo_vlog(pp__t("%s Manual device command: %s\n", "%s Manuelles Gerätekommando: %s\n"), m,
                -1);
    } else if (!pp__empfangengemeldet) {
        pp__empfangengemeldet = true;
        lo_vlog(pp__t("%s Device command(s) received.\n", "%s Gerätekommando(s) erhalten.\n"), "",
                -1);
    }
    TDRIOs(answer, "");
    long warte1 = 0, warte2 = 0;
    char befehl[II_KOMMANDOGROESSE + 2];
    char antwort[CM_ANTWORTGROESSE] = "";
    if (pp_geraetekommando(k, comzeit, &warte1, &warte2, befehl, sizeof befehl)) {
        if (geraet == 2 && !novateldll) {
            strMcpy(antwort, "NO NOVATEL DLL.");
        } else if (pp__portauf(port)) {
            size_t l = strlen(befehl);
            if ((l == 0 || (befehl[l - 1] != '\r' && befehl[l - 1] != '\n')) &&
                l + 1 < sizeof befehl) {
                befehl[l] = '\r';
                befehl[l + 1] = 0;
            }
            cm_puts(befehl);
            if (warte1 >= 2000)
                msleepx(warte1);
            else
                msleep(warte1);
            cm_gets(antwort, static_cast<int>((warte2 + 999) / 1000), sizeof antwort);
            pp__portzu(port);
        }
    }
    if (manuell) {
        char a[CM_ANTWORTGROESSE], z[CM_ANTWORTGROESSE];
        pp_maskiert(antwort, a, sizeof a);
        pp__einzeilig(a, z, sizeof z);
        lo_vlog(pp__t("%s Answer from device: %s\n", "%s Antwort vom Gerät: %s\n"), z, -1);
        char text[sizeof sm_msgprepaidnachricht];
        snprintf(text, sizeof text,
                 pp__t("Answer from device:  \n\n%.860s", "Antwort vom Gerät:  \n\n%.860s"),
                 antwort);
        pp__nachricht(text);
    } else {
        TDRIOs(answer, antwort);
    }
    msleep(comzeit);
}

// ---- USSD request (main thread) ----------------------------------------------------------

void pp__ussdanfrage(const char* ppq, char* port, char* t) {
    lo_slog(pp__t("Starting credit communication.\n", "Starte Prepaid-Kommunikation.\n"), "", -1);
    char text[sizeof sm_msgprepaidnachricht] = "";
    char antwort[CM_USSDGROESSE] = "";
    if (geraet == 2 && !novateldll && cm_secport) {
        strMcpy(text, pp__t("Could not retrieve prepaid credit.  \nPlease start the query in "
                            "\"CONFIG\".  ",
                            "Die Abfrage des Prepaid-Guthabens war nicht möglich.  \nBitte "
                            "starten Sie die Abfrage aus \"CONFIG\".  "));
        lo_slog(
            pp__t("Credit query failed; no DLL.\n", "Prepaid-Abfrage nicht möglich; keine DLL.\n"),
            "", -1);
    } else {
        msleepx(500);
        cc_show2(pp__t("+Credit? Please wait.", "+Abfrage. Bitte warten."),
                 pp__t("+Credit?_Please wait.", "+Abfrage._Bitte warten."));
        char code[300];
        if (prepaids[0]) {
            strMcpy(code, prepaids);
            lo_vlog(pp__t("%s Account command: %s\n", "%s Prepaid-Befehl: %s\n"), code, -1);
        } else {
            strMcpy(code, ppq ? ppq : "");
        }
        bool gesendet = false;
        if (!code[0]) {
            lo_slog("No credit query code set.\n", "", -1);
            strMcpy(text, pp__t("No code for the credit query is set.  ",
                                "Kein Code für die Guthabenabfrage eingestellt.  "));
        } else if (!cm_ussdzulaessig(code)) {
            // A '"' or a control byte would end the AT command and start another one.
            lo_slog("USSD code not admissible, not sent.\n", "", -1);
            strMcpy(text, pp__t("The code contains characters that cannot be sent.  ",
                                "Der Code enthält Zeichen, die nicht gesendet werden können.  "));
        } else {
            strMcpy(antwort, code);
            if (pp__portauf(port)) {
                cm_ussdquery(antwort);
                pp__portzu(port);
            } else {
                antwort[0] = 0;
            }
            gesendet = true;
        }
        cc_show2(pp__t("+Query completed.", "+Abfrage beendet."),
                 pp__t("+Query_completed.", "+Abfrage_beendet."));
        msleepx(400);
        if (gesendet && antwort[0]) {
            pp_bereinigen(antwort);
            const char* kopf = pp__t("Answer from your mobile network:  \n\n",
                                     "Antwort des Mobilfunknetzes:  \n\n");
            // A long answer is cut so that the closing blanks still fit.
            char* e = stpMcpy(text, kopf);
            e = stpmcpy(e, antwort, sizeof text - 2 - (e - text));
            stpmcpy(e, "  ", sizeof text - (e - text));
            char logtext[sizeof text];
            strMcpy(logtext, text);
            lo_slog(pp__t("Answer from network: %s\n", "Antwort vom Netz: %s\n"), logtext, -1);
            const char* rest = strstr(text, "\n\n");
            char z[sizeof text];
            pp__einzeilig(rest ? rest + 2 : text, z, sizeof z);
            lo_vlog(pp__t("%s Account answer: %s\n", "%s Prepaid-Antwort: %s\n"), z, -1);
        } else if (gesendet && onlinezeit != 0) {
            strMcpy(text, pp__t("Please click \"Disconnect\",  \nand try again.  ",
                                "Bitte \"Trennen\" auswählen  \nund erneut versuchen.  "));
            lo_slog(pp__t("Credit communication not possible at the moment (connected).\n",
                          "Prepaid-Kommunikation derzeit nicht möglich (Verbindung aktiv).\n"),
                    "", -1);
        } else if (gesendet) {
            strMcpy(text, pp__t("Could not reach prepaid account.  \nPlease try again later.  ",
                                "Das Prepaid-Konto ist nicht erreichbar.  \nBitte versuchen Sie "
                                "es später noch einmal.  "));
            lo_slog(pp__t("Credit communication not possible at the moment.\n",
                          "Prepaid-Kommunikation derzeit nicht möglich.\n"),
                    "", -1);
        }
    }
    if (t) strmcpy(t, antwort, sizeof sm_msgprepaidnachricht);
    pp__nachricht(text);
    prepaid_gewuenscht = false;
    prepaids[0] = 0;
}

} // namespace

int prepaid_aufgaben(const char* ppq, const char* ppc, char* port, char* t) {
    int getan = 0;
    // An SMS filed by the code dialog goes out now rather than at the next send turn.
    if (pp__smssenden.load(std::memory_order_acquire)) {
        bool faellig;
        {
            std::lock_guard<std::mutex> g(pp__mutex);
            faellig =
                std::chrono::steady_clock::now() - pp__smszeit >= std::chrono::milliseconds(300);
        }
        if (faellig) {
            pp__smssenden = false;
            // As in the loop's own send turn: not on a Novatel without its library.
            if (geraet != 2 || novateldll) sm_msgsenden();
            getan = 1;
        }
    }

    // 1. The code dialog runs in a thread of its own, so that the loop goes on while the
    // user types. A second request waits until the open dialog is closed.
    if (int art = prepaidaufladen_gewuenscht.load(); art != 0 && !pp__dialoglaeuft.load()) {
        prepaidaufladen_gewuenscht = 0;
        pp__dialog.art = art;
        strMcpy(pp__dialog.vorlage, ppc ? ppc : "");
        pp__dialoglaeuft = true;
        if (!th_create(pp__dialogthread, nullptr)) pp__dialoglaeuft = false;
        getan = 1;
    }
    // A USSD code of the dialog; a query already asked for goes first.
    if (!prepaid_gewuenscht) {
        std::lock_guard<std::mutex> g(pp__mutex);
        if (pp__ussd[0]) {
            strMcpy(prepaids, pp__ussd);
            pp__ussd[0] = 0;
            prepaid_gewuenscht = true;
        }
    }

    // 2. A device command: from the record's command field, or from the dialog when there is
    // no record to put it in.
    char k[II_KOMMANDOGROESSE] = "";
    bool ausrecord = false, manuell = false;
    if (__atomic_load_n(&tdriow, __ATOMIC_ACQUIRE)) {
        ii_kommando(k);
        ausrecord = k[0] == ':';
    }
    {
        std::lock_guard<std::mutex> g(pp__mutex);
        if (ausrecord) {
            manuell = pp__manuell[0] && strcmp(pp__manuell, k) == 0;
            if (manuell) pp__manuell[0] = 0;
        } else if (pp__geraet[0]) {
            strMcpy(k, pp__geraet);
            pp__geraet[0] = 0;
            manuell = true;
        } else {
            k[0] = 0;
        }
    }
    if (k[0] == ':') {
        pp__geraetekommando(k, manuell, port);
        // Only while it still holds this command: a frontend may have written its next one.
        if (ausrecord) ii_kommandoloeschen(k);
        getan = 1;
    }

    // 3. The USSD request.
    if (!prepaid_gewuenscht) return getan;
    pp__ussdanfrage(ppq, port, t);
    return 1;
}

void prepaid_zeigen() {
    if (sm_msgprepaidzustand.load(std::memory_order_acquire) != 1) return;
    char text[sizeof sm_msgprepaidnachricht];
    {
        std::lock_guard<std::mutex> g(pp__mutex);
        strMcpy(text, sm_msgprepaidnachricht);
        sm_msgprepaidzustand = 0;
    }
    char utf8[sizeof text * 2];
    strMtoutf8(utf8, text);
    me_messagebox(0, pp__t("tandor   Credit Query", "tandor   Prepaid-Abfrage"), utf8, 0, 0, 0);
}

// ---- The pure parts ----------------------------------------------------------------------

void pp_vorlage(const char* vorlage, const char* code, char* out, size_t n) {
    if (!out || n == 0) return;
    if (!vorlage) vorlage = "";
    if (!code) code = "";
    size_t lv = strlen(vorlage), lc = strlen(code);
    if (!code[0] || !vorlage[0] || lv + lc >= pp__VORLAGEMAX) {
        strmcpy(out, code, n);
        return;
    }
    const char* p = nullptr;
    for (size_t i = 0; i + 7 <= lv && !p; i++)
        if (memicmp(vorlage + i, "<INPUT>", 7) == 0) p = vorlage + i;
    if (!p) {
        strmcpy(out, vorlage, n);
        return;
    }
    snprintf(out, n, "%.*s%s%s", static_cast<int>(p - vorlage), vorlage, code, p + 7);
}

namespace {
// One wait of a device command: digits only (at most max), else the default. *k moves past
// the field and its colon; false when no colon ends the field.
bool pp__warte(const char** k, long standard, long max, long* wert) {
    const char* s = *k;
    const char* e = strchr(s, ':');
    if (!e) return false;
    bool ziffern = e > s;
    long v = 0;
    for (const char* p = s; p < e && ziffern; p++) {
        if (!isdigit(static_cast<unsigned char>(*p)))
            ziffern = false;
        else if (v <= max)
            v = v * 10 + (*p - '0');
    }
    *wert = ziffern ? (v > max ? max : v) : standard;
    *k = e + 1;
    return true;
}
} // namespace

bool pp_geraetekommando(const char* k, long standard1, long* wait1, long* wait2, char* befehl,
                        size_t n) {
    *wait1 = standard1;
    *wait2 = pp__WARTE2STANDARD;
    if (befehl && n) befehl[0] = 0;
    if (!k) return false;
    const char* s = strchr(k, ':');
    if (!s) return false;
    s++;
    if (!pp__warte(&s, standard1, pp__WARTE1MAX, wait1)) return false;
    if (!pp__warte(&s, pp__WARTE2STANDARD, pp__WARTE2MAX, wait2)) return false;
    if (befehl && n) strmcpy(befehl, s, n);
    return true;
}

bool pp_smscode(const char* code, char* nummer, size_t nn, char* text, size_t nt) {
    if (nummer && nn) nummer[0] = 0;
    if (text && nt) text[0] = 0;
    if (!code || memicmp(code, "SMS:", 4) != 0 || !nummer || nn < 3) return false;
    const char* s = code + 4;
    bool international = *s == '+';
    if (international) s++;
    size_t z = 0;
    while (isdigit(static_cast<unsigned char>(s[z])))
        z++;
    if (z == 0 || z > pp__NUMMERMAX) return false;
    size_t o = 0;
    if (!international) nummer[o++] = '-';
    if (o + z >= nn) return false;
    memcpy(nummer + o, s, z);
    nummer[o + z] = 0;
    s += z;
    // The one character after the number separates it from the text.
    if (*s) s++;
    if (text && nt) strmcpy(text, s, nt);
    return true;
}

void pp_bereinigen(char* t) {
    if (!t) return;
    for (unsigned char* p = reinterpret_cast<unsigned char*>(t); *p; p++) {
        if (*p == 0x81)
            *p = 0xFC;
        else if (*p == 0x84)
            *p = 0xE4;
        else if (*p == '\r' || *p == '\n')
            continue;
        else if (*p < 0x20 || *p == 0x7F || (*p >= 0x80 && *p < 0xA0))
            *p = '_';
    }
}

void pp_maskiert(const char* befehl, char* out, size_t n) {
    if (!out || n == 0) return;
    size_t o = 0;
    const char* s = befehl ? befehl : "";
    while (*s && o + 1 < n) {
        bool geheim = false;
        for (const char* g : {"+CPIN=", "+CPWD=", "+CLCK="})
            if (memicmp(s, g, 6) == 0) geheim = true;
        if (!geheim) {
            out[o++] = *s++;
            continue;
        }
        // The command name stays, its arguments up to the line end become "xxxx".
        for (int i = 0; i < 6 && o + 1 < n; i++)
            out[o++] = *s++;
        for (int i = 0; i < 4 && o + 1 < n; i++)
            out[o++] = 'x';
        while (*s && *s != '\r' && *s != '\n')
            s++;
    }
    out[o] = 0;
}
