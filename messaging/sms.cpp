#include "messaging/sms.h"

#include "core/flags.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "messaging/prepaid.h"
#include "messaging/remotecommand.h"
#include "messaging/smspdu.h"
#include "modem/atexchange.h"
#include "ui/mainwindow.h"
#include "ui/messagebox.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::atomic<int> sm_msgzustand{0};

namespace {

constexpr const char* sm__RECORD = "smsdone.txt";
constexpr size_t sm__RECORDMAX = 200;
constexpr int sm__SENDEVERSUCHE = 3;
constexpr long sm__SENDEDATEIMAX = 250;

// The message read last, for the user's decision in the message thread (written by the
// main thread before state 1, read by the message thread only in state 1).
char sm__msgnachricht[900];
int msgindex = -1;
bool sm__weitere = false;
bool kommandoende = false;
// The modem session whose set-up is done, and whether it reached PDU mode.
unsigned sm__sitzung = 0;
bool sm__pdu = false;
// Polls in which the message at an index could not be read completely.
std::map<int, int> sm__fehlversuche;

// The last message sent by this process, against one immediate repetition.
char sm__letztertext[sm__SENDEDATEIMAX + 1];
char sm__letztenummer[24];
// Attempts per send file, and the names this program wrote itself.
std::map<std::string, int> sm__versuche;
std::mutex sm__eigenemutex;
std::set<std::string> sm__eigene;
// Files that could not be renamed out of the pattern: skipped until the program ends.
std::set<std::string> sm__geparkt;

const char* sm__t(const char* en, const char* de) {
    return _de ? de : en;
}

// One AT exchange: command, the usual wait, the answer (klasse: seconds to wait at most).
void sm__befehl(const char* cmd, char* a, size_t n, int klasse) {
    a[0] = 0;
    cm_puts(cmd);
    th_msleepexit(ANTWORTZEIT);
    cm_gets(a, klasse, n);
}

// "ERROR" that starts at most grenze characters into the answer.
bool sm__fehlerfrueh(const char* a, size_t grenze) {
    const char* e = strstr(a, "ERROR");
    return e && (size_t)(e - a) <= grenze;
}

// The first index of a +CMGL list, -1 none; sets sm__weitere when a second one follows.
int sm__listenindex(const char* a) {
    const char* p = strstr(a, "+CMGL:");
    if (!p) return -1;
    p += 6;
    while (*p == ' ')
        p++;
    if (*p < '0' || *p > '9') return -1;
    int i = 0;
    while (*p >= '0' && *p <= '9' && i < 100000)
        i = i * 10 + (*p++ - '0');
    sm__weitere = strstr(p, "+CMGL:") != nullptr;
    return i;
}

// The status text with its mini form, shown for ms milliseconds.
void sm__zeige(const char* en, const char* de, const char* minien, const char* minide, long ms) {
    cc_show2(sm__t(en, de), sm__t(minien, minide));
    th_msleepexit(ms);
}

// A 64-bit FNV-1a digest of a text, as 16 hex digits.
void sm__digest(const char* t, char (&out)[17]) {
    unsigned long long h = 1469598103934665603ull;
    for (; *t; t++) {
        h ^= (unsigned char)*t;
        h *= 1099511628211ull;
    }
    snprintf(out, sizeof out, "%016llx", h);
}

// The record line of a message: sender, time stamp and body digest, tab-separated. Tabs
// and line ends of the sender or the time never split it.
std::string sm__recordzeile(const char* absender, const char* zeit, const char* text) {
    char d[17];
    sm__digest(text, d);
    std::string z;
    for (const char* p : {absender, zeit}) {
        for (; *p; p++)
            z += (*p == '\t' || *p == '\n' || *p == '\r') ? ' ' : *p;
        z += '\t';
    }
    return z + d;
}

std::vector<std::string> sm__recordlesen() {
    std::vector<std::string> zeilen;
    FILE* f = fopen(sm__RECORD, "re");
    if (!f) return zeilen;
    char z[200];
    while (fgets(z, sizeof z, f)) {
        z[strcspn(z, "\n")] = 0;
        if (z[0]) zeilen.emplace_back(z);
    }
    fclose(f);
    return zeilen;
}

// The state after the user's decision: "No" stops reception for this run, any other answer
// deletes the message (it is in the log already); "Yes" without a configuration program
// starts the SMS manager, without a shell.
void sm__antwort(int a, bool konfig) {
    if (a < 0) return; // program end: the message stays for the next run
    if (a == 2) {
        sm_msgzustand = 9;
        return;
    }
    if (a == 1 && !konfig && !cc_konfigurationstarten("SMSCONFIGSUB"))
        lo_slog("SMS manager not started.\n", "", -1);
    sm_msgzustand = 2;
}

// State 2: the message is deleted. Only a stored and recorded message comes here.
void sm__loeschen() {
    char a[CM_ANTWORTGROESSE], cmd[40];
    snprintf(cmd, sizeof cmd, "AT+CMGD=%i\r", msgindex);
    sm__befehl(cmd, a, sizeof a, 5);
    if (strstr(a, "ERROR") || !strstr(a, "OK")) {
        lo_slog("SMS %s%li could not be deleted; SMS reception stopped.\n", "", msgindex);
        sm_msgzustand = 9;
    } else {
        sm_msgzustand = 0;
    }
    sm__fehlversuche.erase(msgindex);
    if (kommandoende) {
        kommandoende = false;
        ps_endeanfordern();
    }
}

// A PDU that cannot be decoded (or read completely) is kept in the log as its hex and
// deleted, so that the messages behind it are read.
bool sm__roh(const char* hex) {
    if (sm_erledigt("-", "-", hex)) return true;
    if (!lo_mlog("%s SMS: %s\n\n", hex, -1, false)) return false;
    return sm_erledigen("-", "-", hex);
}

// The remote commands of a message that is stored.
void sm__befehle(const pd_eingang_t& p) {
    char koerper[sizeof p.marke + sizeof p.text];
    snprintf(koerper, sizeof koerper, "%s%s", p.marke, p.text);
    rk_treffer_t t;
    rk_finden(1, p.absender, p.alphanumerisch, koerper, &t);
    if (t.eintrag >= 0) {
        beep(600, 50);
        sm__zeige("+SMS command received.", "+SMS-Kommando empfangen.", "+SMS_command.",
                  "+SMS~Kommando", 4000);
        sm_msgzustand = 2;
        rk_ausfuehren(t, 1, &kommandoende);
    } else if (t.geprueft) {
        beep(600, 50);
        sm__zeige("+SMS received.", "+SMS empfangen.", "+SMS_received.", "+SMS_empfangen.", 4000);
        sm_msgzustand = 2;
    } else {
        sm_msgzustand.store(1, std::memory_order_release);
    }
}

// State 0: list, read, file and handle one message.
void sm__lesen() {
    char a[CM_ANTWORTGROESSE];
    if (!sm__ini(a, sizeof a)) return;
    sm__weitere = false;
    sm__befehl("AT+CMGL=0\r", a, sizeof a, 5);
    int index = sm__fehlerfrueh(a, 30) ? -1 : sm__listenindex(a);
    if (index < 0) {
        sm__befehl("AT+CMGL=1\r", a, sizeof a, 5);
        if (sm__fehlerfrueh(a, 30)) return;
        index = sm__listenindex(a);
        if (index < 0) return;
    }
    msgindex = index;
    char cmd[40], hex[CM_ANTWORTGROESSE];
    snprintf(cmd, sizeof cmd, "AT+CMGR=%i\r", index);
    bool ganz = false;
    for (int versuch = 0; versuch < 4 && !ganz; versuch++) {
        sm__befehl(cmd, a, sizeof a, 5);
        ganz = pd_cmgr(a, hex, sizeof hex);
    }
    pd_eingang_t p;
    if (!ganz) {
        // Read again at the next polls; a message that never comes complete is kept as
        // the hex that arrived, so that it does not block the ones behind it.
        if (++sm__fehlversuche[index] < 3) return;
        const char* z = strstr(a, "+CMGR:");
        z = z ? strchr(z, '\n') : nullptr;
        strMcpy(hex, z ? z + 1 : a);
        hex[strcspn(hex, "\r\n")] = 0;
        if (sm__roh(hex)) sm_msgzustand = 2;
        return;
    }
    if (!pd_lesen(hex, &p)) {
        if (sm__roh(hex)) sm_msgzustand = 2;
        return;
    }
    // Handled in an earlier poll or run (the deletion failed, or the program ended before
    // it): stored and acted on already, only the deletion is left.
    if (sm_erledigt(p.absender, p.zeit, p.text)) {
        sm_msgzustand = 2;
        return;
    }
    pd_nachricht(p, sm__msgnachricht, sizeof sm__msgnachricht);
    if (!lo_mlog("%s SMS: %s\n\n", sm__msgnachricht, -1, true)) {
        lo_slog("SMS %s%li not stored; it stays on the modem.\n", "", index);
        return;
    }
    if (!sm_erledigen(p.absender, p.zeit, p.text)) {
        lo_slog("SMS %s%li not recorded as handled; it stays on the modem.\n", "", index);
        return;
    }
    sm__befehle(p);
}

// Reports an error of sending in the SMS log (1 invalid file, 4 repetition, 6 not sent);
// the repetition guard starts anew.
void sm__fehler(int art, const char* text) {
    const char* f = art == 1 ? sm__t("%s Invalid file format for sms transmission.\n",
                                     "%s Ungültiges Dateiformat beim Senden einer SMS.\n")
                    : art == 4
                        ? sm__t("%s Prevented repetitive transmission of identical SMS.\n",
                                "%s Wiederholtes Senden identischer SMS verhindert.\n")
                        : sm__t("%s Could not send SMS: %s\n", "%s SMS nicht gesendet: %s\n");
    lo_mlog(f, text, -1, false);
    sm__letztertext[0] = sm__letztenummer[0] = 0;
}

// A file of our own that has left sms_send needs no exemption any more.
void sm__vergessen(const char* name) {
    std::lock_guard<std::mutex> g(sm__eigenemutex);
    sm__eigene.erase(name);
}

// Moves a send file out of the "sms_" pattern, so that it is never tried again and the
// files behind it go out.
void sm__parken(const char* name, const char* grund) {
    char alt[300], neu[320];
    snprintf(alt, sizeof alt, "sms_send/%s", name);
    snprintf(neu, sizeof neu, "sms_send/failed_%s", name);
    sm__versuche.erase(name);
    lo_slog("SMS file %s parked as failed_: ", name, -1);
    lo_slog("%s\n", grund, -1);
    // The text is the user's: a file that cannot be renamed stays, skipped for this run.
    if (rename(alt, neu) != 0) {
        sm__geparkt.insert(name);
        lo_slog("SMS file %s cannot be renamed; it is skipped in this run.\n", name, -1);
    }
    sm__vergessen(name);
}

bool sm__eigene_datei(const char* name) {
    std::lock_guard<std::mutex> g(sm__eigenemutex);
    return sm__eigene.count(name) > 0;
}

// Sends one PDU; true when the modem confirmed it.
bool sm__senden(const char* hex, int tpdu, bool* ohneprompt) {
    char a[CM_ANTWORTGROESSE], cmd[40];
    snprintf(cmd, sizeof cmd, "AT+CMGS=%i\r", tpdu);
    a[0] = 0;
    cm_puts(cmd);
    th_msleepexit(ANTWORTZEIT);
    cm_gets(a, 5, sizeof a, "> ");
    if (!strchr(a, '>')) {
        // Leave the text entry the modem may still wait in.
        cm_putm("\x1b", 1);
        *ohneprompt = true;
        return false;
    }
    cm_putm(hex, strlen(hex));
    cm_putm("\x1a", 1);
    th_msleepexit(ANTWORTZEIT);
    a[0] = 0;
    cm_gets(a, 25, sizeof a);
    if (!strstr(a, "CMGS:") && !strstr(a, "ERROR")) {
        th_msleepexit(2000);
        cm_gets(a, 11, sizeof a);
    }
    return strstr(a, "CMGS:") != nullptr;
}

} // namespace

bool sm__ini(char* t, size_t n) {
    if (sm__sitzung == cm_sitzung() && sm__pdu) return true;
    sm__sitzung = cm_sitzung();
    sm__pdu = false;
    sm__fehlversuche.clear();
    struct stat st;
    if (lstat("sms_in", &st) != 0 && errno == ENOENT) mkdir("sms_in", 0700);
    if (MODUS('P')) sm__befehl("AT+CPMS?\r", t, n, 5);
    for (int i = 0; i < 12; i++) {
        sm__befehl("AT+CPMS=\"MT\",\"ME\",\"ME\"\r", t, n, 5);
        const char* e = strstr(t, "ERROR");
        if (!e || !strstr(e, "500")) break;
        th_msleepexit(std::max(0L, 500 - 2 * (long)ANTWORTZEIT));
    }
    if (strstr(t, "ERROR")) {
        sm__befehl("AT+CPMS=\"MT\",\"ME\"\r", t, n, 5);
        if (strstr(t, "ERROR")) sm__befehl("AT+CPMS=\"SM\",\"SM\",\"SM\"\r", t, n, 5);
    }
    if (MODUS('P')) {
        sm__befehl("AT+CPMS?\r", t, n, 5);
        sm__befehl("AT+CPMS=?\r", t, n, 5);
    }
    // Only '+' and 1-20 digits reach the modem: the reader's "(format error)" or a
    // hand-written odd value is left out.
    const char* c = inidat.smsc;
    size_t z = c[0] == '+' ? strspn(c + 1, "0123456789") : 0;
    if (z >= 1 && z <= 20 && !c[1 + z]) {
        char cmd[60];
        snprintf(cmd, sizeof cmd, "AT+CSCA=\"%s\",145\r", c);
        sm__befehl(cmd, t, n, 5);
    }
    sm__befehl("AT+CMGF=0\r", t, n, 5);
    sm__pdu = strstr(t, "OK") && !strstr(t, "ERROR");
    if (!sm__pdu) lo_slog("The modem refused PDU mode; SMS wait for the next try.\n", "", -1);
    return sm__pdu;
}

int sm_msgholen() {
    if (linksys || !MODUS('M')) return sm_msgzustand;
    // While the single port carries the connection nothing can be asked.
    if (cm_simuliert()) return sm_msgzustand;
    int z = sm_msgzustand.load(std::memory_order_acquire);
    if (z == 2)
        sm__loeschen();
    else if (z == 0)
        sm__lesen();
    return sm_msgzustand;
}

bool sm_weitere() {
    return sm__weitere;
}

bool sm_sendename(const char* name, char* nummer, size_t n, bool* national) {
    if (strncmp(name, "sms_", 4) != 0) return false;
    const char* p = strstr(name + 4, "__");
    if (!p) return false;
    p += 2;
    *national = *p == '-';
    if (*national) p++;
    size_t z = strspn(p, "0123456789");
    if (z < 2 || z > 20 || z + 1 > n) return false;
    if (p[z] && p[z] != '.' && p[z] != '_') return false;
    memcpy(nummer, p, z);
    nummer[z] = 0;
    return true;
}

bool sm_erledigt(const char* absender, const char* zeit, const char* text) {
    std::string z = sm__recordzeile(absender, zeit, text);
    for (const std::string& s : sm__recordlesen())
        if (s == z) return true;
    return false;
}

bool sm_erledigen(const char* absender, const char* zeit, const char* text) {
    std::vector<std::string> zeilen = sm__recordlesen();
    zeilen.push_back(sm__recordzeile(absender, zeit, text));
    size_t von = zeilen.size() > sm__RECORDMAX ? zeilen.size() - sm__RECORDMAX : 0;
    std::string inhalt;
    for (size_t i = von; i < zeilen.size(); i++)
        inhalt += zeilen[i] + "\n";
    // A new file replaces the old one whole: a crash leaves either of them, never half.
    const char* tmp = "smsdone.txt.tmp";
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write(fd, inhalt.data(), inhalt.size()) == (ssize_t)inhalt.size();
    ok = fsync(fd) == 0 && ok;
    close(fd);
    if (!ok || rename(tmp, sm__RECORD) != 0) {
        unlink(tmp);
        return false;
    }
    int d = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        fsync(d);
        close(d);
    }
    return true;
}

bool sm_sendedatei(const char* nummer, const char* text) {
    if (nummer[0] == '+') nummer++;
    char name[120], tmp[140], pfad[140];
    snprintf(name, sizeof name, "sms_%s__%.30s", datumzeitkompakt(), nummer);
    snprintf(pfad, sizeof pfad, "sms_send/%s", name);
    snprintf(tmp, sizeof tmp, "sms_send/.%s.tmp", name);
    mkdir("sms_send", 0700);
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t l = strnlen(text, sm__SENDEDATEIMAX);
    bool ok = write(fd, text, l) == (ssize_t)l;
    close(fd);
    {
        std::lock_guard<std::mutex> g(sm__eigenemutex);
        sm__eigene.insert(name);
    }
    if (!ok || rename(tmp, pfad) != 0) {
        unlink(tmp);
        return false;
    }
    return true;
}

void sm_msgsenden() {
    if (linksys) return;
    // While the single port carries the connection no attempt is made or counted.
    if (cm_simuliert()) return;
    DIR* d = opendir("sms_send");
    if (!d) return;
    std::vector<std::string> namen;
    while (dirent* e = readdir(d))
        if (strncmp(e->d_name, "sms_", 4) == 0) namen.emplace_back(e->d_name);
    closedir(d);
    std::sort(namen.begin(), namen.end());
    time_t jetzt = time(nullptr);
    for (const std::string& n : namen) {
        if (sm__geparkt.count(n)) continue;
        const char* name = n.c_str();
        char pfad[300], nummer[24];
        snprintf(pfad, sizeof pfad, "sms_send/%s", name);
        struct stat st;
        if (lstat(pfad, &st) != 0) continue;
        bool national = false;
        if (!S_ISREG(st.st_mode) || st.st_size > sm__SENDEDATEIMAX ||
            !sm_sendename(name, nummer, sizeof nummer, &national)) {
            sm__fehler(1, "");
            sm__parken(name, "invalid file format");
            continue;
        }
        // A file may still be being written: it waits for the next call.
        if (jetzt - st.st_mtime < 2 && jetzt >= st.st_mtime && !sm__eigene_datei(name)) continue;
        char text[sm__SENDEDATEIMAX + 1];
        int fd = open(pfad, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        ssize_t l = read(fd, text, sm__SENDEDATEIMAX);
        close(fd);
        if (l < 0) continue;
        text[l] = 0;
        if (l > 0 && text[l - 1] == 0x1A) text[--l] = 0;
        if (sm__letztertext[0] && strcmp(text, sm__letztertext) == 0 &&
            strcmp(nummer, sm__letztenummer) == 0) {
            unlink(pfad);
            sm__fehler(4, "");
            return;
        }
        char hex[800];
        int tpdu = pd_schreiben(inidat.smsc, nummer, national, text, hex, sizeof hex);
        if (tpdu <= 0) {
            sm__fehler(1, "");
            sm__parken(name, "not encodable");
            continue;
        }
        sm__zeige("+Sending SMS.", "+Sende SMS.", "+Sending_SMS", "+Sende_SMS", 2000);
        char a[CM_ANTWORTGROESSE];
        bool ohneprompt = false;
        if (sm__ini(a, sizeof a) && sm__senden(hex, tpdu, &ohneprompt)) {
            mkdir("sms_out", 0700);
            char ziel[300];
            snprintf(ziel, sizeof ziel, "sms_out/%s", name);
            if (rename(pfad, ziel) != 0) unlink(pfad);
            lo_mlog(sm__t("%s Sent SMS: %s\n", "%s SMS gesendet: %s\n"), text, -1, false);
            strMcpy(sm__letztertext, text);
            strMcpy(sm__letztenummer, nummer);
            sm__versuche.erase(name);
            sm__vergessen(name);
            smssignalstatus = 1;
            return;
        }
        sm__fehler(6, text);
        if (ohneprompt) lo_slog("No prompt for SMS file %s; ESC sent.\n", name, -1);
        if (++sm__versuche[name] >= sm__SENDEVERSUCHE) sm__parken(name, "not sent after 3 tries");
        return;
    }
}

gpointer sm_msgthread(gpointer) {
    th_register("msgthread");
    for (long runde = 0;; runde++) {
        if (runde % 10 == 0) lo_slogx("MSG thread alive.\n", "", -1);
        // The 2 s wait in slices, so that a prepaid answer is shown without delay.
        bool ende = false;
        for (int i = 0; i < 4 && !ende && sm_msgprepaidzustand.load() != 1; i++)
            ende = th_msleep(500);
        if (ende) break;
        prepaid_zeigen();
        if (sm_msgzustand.load(std::memory_order_acquire) != 1) continue;
        bool konfig = fl_query(konfigaktivsignal);
        char text[1400];
        snprintf(text, sizeof text, "%s%s", sm__msgnachricht,
                 konfig ? sm__t("\n\n[Yes]   Move SMS to log  \n[No]   Stop SMS reception  ",
                                "\n\n[Ja]   SMS ins Protokoll verschieben  \n[Nein]   "
                                "SMS-Empfang abschalten  ")
                        : sm__t("\n\n[Yes]   Start SMS manager now  \n[No]   Stop SMS "
                                "reception  \n[Cancel]   Do not start SMS manager  ",
                                "\n\n[Ja]   SMS-Manager jetzt starten  \n[Nein]   SMS-Empfang "
                                "abschalten  \n[Abbrechen]   SMS-Manager nicht starten  "));
        char utf8[sizeof text * 2];
        strMtoutf8(utf8, text);
        sm__antwort(me_messagebox(0, sm__t("tandor   SMS Reception", "tandor   SMS-Empfang"), utf8,
                                  3, 3, 0),
                    konfig);
    }
    th_unregister(nullptr);
    th_sleepinfinite();
}
