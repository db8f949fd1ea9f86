#include "modem/atexchange.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include "core/helpers.h"
#include "core/logging.h"
#include "core/system.h"
#include "core/waittally.h"
#include "modem/calls.h"
#include "ui/mainwindow.h"

bool cm_secport = false;
char cm_secporttext0[700];
std::atomic<bool> konsoleaktiv{false};
std::atomic<bool> secportmanuell{false};

namespace {

char cm__po[310];
int cm__h = 0;
termios cm__att;
int cm__flags = 0;
bool cm__comsim = false;
char cm__singleporttext[1100];
int cm__lesefehleranzahl = 0;
char cm__secporttext[1010]; // the command frame of the secondary-port mode
bool cm__rahmenfertig = false;
char cm__tprot[80];
char cm__befehl[64]; // the command sent last: its echo and its prefix mark its answer

const char* cm__t(const char* en, const char* de) {
    return _de ? de : en;
}

bool cm__ruheaktiv() {
    int r = ruhestatus.load();
    return r == 2 || r == 3;
}

bool cm__ringdetect_active() {
    return onlinezeit.load() == 0 && inidat.smsring && inidat.funktion < 40;
}

bool cm__logging() {
    return MODUS('P') || lo_logafterstandby();
}

// The 16-bit FCS of RFC 1662 (CRC-16/X.25).
unsigned cm__fcs(const unsigned char* d, size_t n) {
    unsigned f = 0xFFFF;
    for (size_t i = 0; i < n; i++) {
        f ^= d[i];
        for (int b = 0; b < 8; b++)
            f = (f & 1) ? (f >> 1) ^ 0x8408 : f >> 1;
    }
    return (~f) & 0xFFFF;
}

void cm__setzefcs(char* rahmen) {
    unsigned f = cm__fcs(reinterpret_cast<const unsigned char*>(rahmen), 648);
    rahmen[648] = static_cast<char>(f & 0xFF);
    rahmen[649] = static_cast<char>(f >> 8);
}

void cm__baurahmen() {
    if (cm__rahmenfertig) return;
    cm__rahmenfertig = true;
    memset(cm__secporttext, 0, sizeof cm__secporttext);
    memset(cm_secporttext0, 0, sizeof cm_secporttext0);
    const char kopf[] = {0x4B, 0x32, 0x03, 0x00};
    memcpy(cm__secporttext, kopf, 4);
    cm__secporttext[650] = 0x7E;
    memcpy(cm_secporttext0, kopf, 4);
    cm_secporttext0[2] = 0x04;
    cm_secporttext0[648] = 0x34;
    cm_secporttext0[649] = 0x25;
    cm_secporttext0[650] = 0x7E;
}

// Replaces the arguments of PIN-carrying commands (also inside echoes and answers) by
// "xxxx", the digits after "IMEI" and every run of exactly 15 digits by 'x', so that
// neither a PIN nor a serial number reaches a log.
void cm__maske(const char* s, char* d, size_t cap) {
    if (cap == 0) return;
    size_t o = 0;
    size_t n = strlen(s);
    for (size_t i = 0; i < n && o + 1 < cap;) {
        const char* geheim[] = {"CPIN=", "CPWD=", "CLCK="};
        bool maskiert = false;
        for (const char* g : geheim)
            if (strncasecmp(s + i, g, 5) == 0) {
                for (int k = 0; k < 5 && o + 1 < cap; k++)
                    d[o++] = s[i++];
                for (int k = 0; k < 4 && o + 1 < cap; k++)
                    d[o++] = 'x';
                while (i < n && s[i] != '\r' && s[i] != '\n')
                    i++;
                maskiert = true;
                break;
            }
        if (maskiert) continue;
        if (strncasecmp(s + i, "IMEI", 4) == 0) {
            for (int k = 0; k < 4 && o + 1 < cap; k++)
                d[o++] = s[i++];
            for (int k = 0;
                 k < 4 && i < n && !isdigit(static_cast<unsigned char>(s[i])) && o + 1 < cap; k++)
                d[o++] = s[i++];
            while (i < n && isdigit(static_cast<unsigned char>(s[i])) && o + 1 < cap) {
                d[o++] = 'x';
                i++;
            }
            continue;
        }
        if (isdigit(static_cast<unsigned char>(s[i]))) {
            size_t j = i;
            while (j < n && isdigit(static_cast<unsigned char>(s[j])))
                j++;
            bool lauf15 = j - i == 15;
            for (; i < j && o + 1 < cap; i++)
                d[o++] = lauf15 ? 'x' : s[i];
            continue;
        }
        d[o++] = s[i++];
    }
    d[o] = 0;
}

void cm__log(const char* format, const char* s) {
    char m[1300];
    cm__maske(s ? s : "", m, sizeof m);
    lo_slog(format, m, -1);
}

// The read window is the device's own time, as a termios timeout would be: real time,
// whatever clock the program's sleeps run on.
long long cm__echtms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// Reads the modem's answer until it is complete, the buffer holds grenze bytes or
// fensterms have passed. The time spent waiting goes into the thread's wait tally, which
// measures how long the program waited for the modem, not for itself; *gewartet gets the
// whole time of the read. Returns the bytes read, -1 when the line failed before any came.
ssize_t cm__liesganz(char* t, size_t grenze, long fensterms, const char* endzeile, long* gewartet) {
    long long start = cm__echtms();
    size_t n = 0;
    bool fehler = false;
    t[0] = 0;
    while (n < grenze) {
        long rest = fensterms - static_cast<long>(cm__echtms() - start);
        if (rest <= 0) break;
        pollfd p{cm__h, POLLIN, 0};
        long long t0 = sy_monotonicms();
        int r = poll(&p, 1, static_cast<int>(rest));
        wz_lesen(static_cast<long>(sy_monotonicms() - t0));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            fehler = true;
            break;
        }
        if (r == 0) break;
        ssize_t m = read(cm__h, t + n, grenze - n);
        if (m < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (m <= 0) { // readable without data: the line is gone
            fehler = true;
            break;
        }
        n += static_cast<size_t>(m);
        t[n] = 0;
        if (cm_antwortfertig(t, n, endzeile, cm_secport)) break;
    }
    if (gewartet) *gewartet = static_cast<long>(cm__echtms() - start);
    return n == 0 && fehler ? -1 : static_cast<ssize_t>(n);
}

// The prefix of an extended command ("+CREG" of "AT+CREG?\r"); empty for basic commands.
void cm__praefix(const char* befehl, char* p, size_t cap) {
    p[0] = 0;
    if (!befehl || strncasecmp(befehl, "AT", 2) != 0 || !strchr("+^$_!%*", befehl[2])) return;
    size_t i = 0;
    for (const char* q = befehl + 2; *q && !strchr("=?;\r\n ", *q) && i + 1 < cap; q++)
        p[i++] = static_cast<char>(toupper(static_cast<unsigned char>(*q)));
    p[i] = 0;
}

bool cm__beginnt(const char* z, size_t l, const char* p) {
    size_t n = strlen(p);
    return l >= n && memcmp(z, p, n) == 0;
}

bool cm__gleich(const char* z, size_t l, const char* p) {
    return l == strlen(p) && memcmp(z, p, l) == 0;
}

// A final result line (without its line end and trailing blanks); "OK" only when ok.
bool cm__schlusszeile(const char* z, size_t l, bool ok) {
    return (ok && cm__gleich(z, l, "OK")) || cm__gleich(z, l, "ERROR") ||
           cm__beginnt(z, l, "+CME ERROR") || cm__beginnt(z, l, "+CMS ERROR") ||
           cm__gleich(z, l, "NO CARRIER") || cm__beginnt(z, l, "CONNECT") ||
           cm__gleich(z, l, "BUSY") || cm__gleich(z, l, "NO ANSWER") ||
           cm__gleich(z, l, "NO DIALTONE") || cm__gleich(z, l, "COMMAND NOT SUPPORT");
}

// Lines a modem sends on its own, never as the answer to another command.
constexpr const char* cm__spontan[] = {
    "^RSSI:", "^MODE:", "^BOOT:", "^DSFLOWRPT:", "^SRVST:", "^SIMST:", "+CREG:", "+CGREG:"};

bool cm__unaufgefordert(const char* z, size_t l, const char* praefix, bool anrufe) {
    while (l > 0 && *z == ' ') {
        z++;
        l--;
    }
    size_t pl = strlen(praefix);
    if (pl && l > pl && strncasecmp(z, praefix, pl) == 0 && z[pl] == ':') return false;
    for (const char* s : cm__spontan)
        if (cm__beginnt(z, l, s)) return true;
    return !anrufe && (cm__gleich(z, l, "RING") || cm__beginnt(z, l, "+CLIP:"));
}

void cm__settimeout(int zehntel) {
    if (cm__h <= 0) return;
    cm__att.c_cc[VTIME] = static_cast<cc_t>(zehntel);
    tcsetattr(cm__h, TCSANOW, &cm__att);
}

// Empties the input. While calls are watched, what arrived between two commands (RING,
// +CLIP, or a late answer) goes to the call detection first; it is dropped either way so
// that it is never taken for the answer to the next command.
void cm__flush(bool anrufe) {
    if (cm__h <= 0) return;
    cm__settimeout(1);
    fcntl(cm__h, F_SETFL, cm__flags | O_NONBLOCK);
    char b[101];
    for (int i = 0; i < 100; i++) { // bounded: a modem may stream without end
        ssize_t n = read(cm__h, b, 100);
        if (n <= 0) break;
        b[n] = 0;
        if (anrufe) cm__ringdetect(b);
    }
    fcntl(cm__h, F_SETFL, cm__flags);
}

// Descriptors 0..2 must be taken before a port is opened, or the port could become
// stdin/stdout/stderr and get output of unrelated code written into it.
void cm__sicherestandard() {
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            int n = open("/dev/null", O_RDWR);
            if (n > 2) close(n);
        }
}

bool cm__oeffnekandidaten() {
    char liste[310];
    strMcpy(liste, cm__po);
    char* p = liste;
    while (*p) {
        char kandidat[310];
        STRMTCPY(kandidat, &p, ',');
        if (*p == ',') p++;
        if (!kandidat[0]) continue;
        int h = open(kandidat, O_RDWR | O_NOCTTY);
        if (h > 0) {
            cm__h = h;
            return true;
        }
        if (h == 0) close(h);
    }
    return false;
}

bool cm__simuliere(const char* t) {
    if (cm__comsim || (cm__h <= 0 && cm__singleport)) return true;
    if (geraet.load() != 6) return false;
    if (strncmp(t, "AT_OPSYS=", 9) == 0) return true;
    if (strncmp(t, "AT+COPS", 7) != 0) return false;
    char c = strlen(t) > 8 ? t[8] : 0;
    return c != '?' && c != '0' && c != '1';
}

} // namespace

bool cm_antwortfertig(const char* roh, size_t n, const char* endzeile, bool secport) {
    if (!roh || n == 0) return false;
    if (secport && roh[0] == 'K') return n >= CM_RAHMENLAENGE;
    if (secport && roh[0] == 0x7E) return n >= 2 && roh[n - 1] == 0x7E;
    bool mitende = endzeile && *endzeile;
    for (size_t i = 0; i < n;) {
        if (roh[i] == '\r' || roh[i] == '\n') {
            i++;
            continue;
        }
        size_t e = i;
        while (e < n && roh[e] != '\r' && roh[e] != '\n')
            e++;
        bool ganz = e < n;
        const char* z = roh + i;
        size_t l = e - i;
        // the prompt of +CMGS ("> ") comes without a line end
        if (mitende && cm__beginnt(z, l, endzeile) && (ganz || endzeile[0] == '>')) return true;
        while (l > 0 && z[l - 1] == ' ')
            l--;
        if (ganz && cm__schlusszeile(z, l, !mitende)) return true;
        i = e;
    }
    return false;
}

int cm_unaufgefordert(char* text, const char* befehl, bool anrufe, char* weg, size_t wegcap) {
    if (weg && wegcap) weg[0] = 0;
    if (!text) return 0;
    char praefix[32];
    cm__praefix(befehl, praefix, sizeof praefix);
    int anzahl = 0;
    size_t i = 0;
    while (text[i]) {
        if (text[i] == '\r' || text[i] == '\n') {
            i++;
            continue;
        }
        size_t e = i;
        while (text[e] && text[e] != '\r' && text[e] != '\n')
            e++;
        if (!cm__unaufgefordert(text + i, e - i, praefix, anrufe)) {
            i = e;
            continue;
        }
        anzahl++;
        if (weg && wegcap) {
            size_t w = strlen(weg);
            size_t l = e - i;
            if (w + l + 2 <= wegcap) {
                memcpy(weg + w, text + i, l);
                weg[w + l] = '\n';
                weg[w + l + 1] = 0;
            }
        }
        // The line goes with its own line end, and with the blank line the modem put
        // before it when that line end is not also the previous line's only one.
        size_t a = i;
        if (a >= 2 && text[a - 2] == '\r' && text[a - 1] == '\n' &&
            (a == 2 || text[a - 3] == '\r' || text[a - 3] == '\n'))
            a -= 2;
        if (text[e] == '\r' && text[e + 1] == '\n')
            e += 2;
        else if (text[e] == '\r' || text[e] == '\n')
            e++;
        memmove(text + a, text + e, strlen(text + e) + 1);
        i = a;
    }
    return anzahl;
}

bool cm_antwortleer(const char* text, const char* befehl) {
    if (!text) return true;
    size_t el = befehl ? strcspn(befehl, "\r\n") : 0;
    for (size_t i = 0; text[i];) {
        if (text[i] == '\r' || text[i] == '\n' || text[i] == ' ') {
            i++;
            continue;
        }
        size_t e = i;
        while (text[e] && text[e] != '\r' && text[e] != '\n')
            e++;
        if (el == 0 || e - i != el || memcmp(text + i, befehl, el) != 0) return false;
        i = e;
    }
    return true;
}

void cm_ini() {
    cm__lesefehleranzahl = 0;
    cm_postini();
}

std::atomic<unsigned> cm__sitzung{1};

unsigned cm_sitzung() {
    return cm__sitzung.load();
}

bool cm_simuliert() {
    return cm__simuliere("");
}

void cm_postini() {
    cm__sitzung++;
    if (cm__h > 0) close(cm__h);
    cm__po[0] = 0;
    cm__h = 0;
    cm_secport = false;
    cm__singleport = false;
    cm__comsim = false;
    cm__singleporttext[0] = 0;
}

bool cm_open(const char* port, bool timeo) {
    (void)timeo;
    if (cm__h > 0) return true;
    if (port) {
        strMcpy(cm__po, port);
    } else if (!cm__po[0] || cm_secport) {
        return false;
    }
    bool dllmeldung = cm_secport && !secportmanuell;
    if (dllmeldung || stricmp(cm__po, "DLL") == 0) lo_slog("No Novatel DLL in Linux.\n", "", -1);
    if (dllmeldung) {
        lo_slog("Could not initialize Novatel DLL.\n", "", -1);
        if (MODUS('M'))
            lo_mlog(cm__t("%s Could not initialize Novatel DLL. SMS reception at program start "
                          "only.",
                          "%s Novatel-DLL konnte nicht initialisiert werden. SMS-Empfang nur "
                          "bei Programmstart möglich."),
                    datumzeit(), -1, false);
        cc_show2(cm__t("+Novatel DLL emulation activated.", "+Novatel-DLL-Emulation aktiviert."),
                 cm__t("+NovatelDLL_emulation", "+NovatelDLL-\\Emulation"));
        msleepx(1000);
    }
    cm__h = 0;
    if (strcmp(cm__po, "NONE") == 0) {
        cm__comsim = true;
        return true;
    }
    cm__sicherestandard();
    bool ok = false;
    for (int versuch = 0; versuch < 6; versuch++) {
        if (cm__oeffnekandidaten()) {
            tcgetattr(cm__h, &cm__att);
            cm__att.c_iflag = 0;
            cm__att.c_oflag = 0;
            cm__att.c_lflag = 0;
            cm__att.c_cflag |= CREAD | HUPCL;
            cm__att.c_cc[VMIN] = 0;
            cm__att.c_cc[VTIME] = 1;
            tcsetattr(cm__h, TCSANOW, &cm__att);
            cm__flags = fcntl(cm__h, F_GETFL);
            if (cm__flags < 0) cm__flags = O_RDWR;
            cm__flush(false);
            ok = true;
            break;
        }
        if (versuch == 5) break;
        if (msleepx(2000)) break;
        lo_slog(cm__t("Retry to open port %s.\n", "Versuche erneut, Port %s zu öffnen.\n"), cm__po,
                -1);
    }
    if (ok)
        lo_slog(cm__t("Opened Port %s.\n", "Port %s geöffnet.\n"), cm__po, -1);
    else
        lo_slog(cm__t("Port %s could not be opened.\n", "Port %s konnte nicht geöffnet werden.\n"),
                cm__po, -1);
    return ok;
}

void cm_close() {
    cm__comsim = false;
    if (cm__h > 0) {
        close(cm__h);
        cm__h = 0;
        lo_slog(cm__t("Port %s closed.\n", "Port %s geschlossen.\n"), cm__po, -1);
    }
}

bool cm_isopen() {
    return cm__h > 0;
}

bool cm_issim() {
    return cm__comsim;
}

bool cm_singleport() {
    return cm__singleport;
}

void cm_change() {
    if (cm_secport) return;
    cm_secport = true;
    int alt = cm__h;
    strMcpy(cm__po, inidat.com2);
    cm__h = 0;
    cm_open(cm__po, false);
    msleep(100);
    if (alt > 0) close(alt);
}

bool cm_puts(const char* t) {
    cm__baurahmen();
    if (cm__ruheaktiv()) return false;
    if (!t) t = "";
    // A factory reset forgets the settings of the session (the SMS message format).
    if (strncasecmp(t, "ATZ", 3) == 0 || strncasecmp(t, "AT&F", 4) == 0) cm__sitzung++;
    if (cm__simuliere(t)) {
        cm__log("simu s:  %s\r\n", t);
        if (strstr(t, "AT+CREG?")) {
            strMcpy(cm__singleporttext, "\r\n+CREG: 0,1\r\nOK\r\n");
        } else if (strstr(t, "AT+CGREG?")) {
            strMcpy(cm__singleporttext, "\r\n+CGREG: 0,1\r\nOK\r\n");
        } else if (strstr(t, "AT+COPS?")) {
            snprintf(cm__singleporttext, sizeof cm__singleporttext,
                     "\r\n+COPS: 0,0,\"%.20s\",9\r\nOK\r\n",
                     inidat.con[0] ? inidat.con : "Internet");
        } else if (!cm__comsim && cm__h > 0) {
            // The real port stays silent for a simulated command: without a prepared answer
            // the next read would wait its whole window for nothing.
            strMcpy(cm__singleporttext, "\r\nOK\r\n");
        } else {
            cm__singleporttext[0] = 0;
        }
        return true;
    }
    if (cm__h <= 0 && !cm_open(nullptr, false)) return false;
    strMcpy(cm__befehl, t);
    size_t len = strlen(t);
    if (cm__logging()) {
        if (strstr(t, "CPIN="))
            lo_slog("s:  AT+CPIN=xxxx\r\n", "", -1);
        else
            cm__log(cm_secport && len <= 40 ? "S:  %s\r\n" : "s:  %s\r\n", t);
    }
    cm__flush(cm__ringdetect_active());
    if (len == 0) return true;
    if (cm_secport && len <= 20) {
        memset(cm__secporttext + 4, 0, 20);
        memcpy(cm__secporttext + 4, t, len);
        cm__secporttext[644] = static_cast<char>(len);
        cm__secporttext[1] = novatelu740 ? static_cast<char>(0xFA) : 0x32;
        cm__setzefcs(cm__secporttext);
        return write(cm__h, cm__secporttext, CM_RAHMENLAENGE) == CM_RAHMENLAENGE;
    }
    return write(cm__h, t, len) == static_cast<ssize_t>(len);
}

bool cm_putm(const char* t, unsigned long tlen) {
    if (cm__ruheaktiv()) return false;
    char z[21] = "";
    if (t) {
        size_t n = tlen < 20 ? tlen : 20;
        memcpy(z, t, n);
        z[n] = 0;
    }
    if (cm__comsim || (cm__h <= 0 && cm__singleport)) {
        cm__log("simu t:  %20s\r\n", z);
        cm__singleporttext[0] = 0;
        return true;
    }
    cm__log("t:  %20s\r\n", z);
    if (cm__h <= 0 && !cm_open(nullptr, false)) return false;
    strMcpy(cm__befehl, z);
    if (tlen == 0 || !t) return true;
    if (!konsoleaktiv) cm__flush(cm__ringdetect_active());
    return write(cm__h, t, tlen) == static_cast<ssize_t>(tlen);
}

void cm_gets(char* t, int wartezeit, size_t cap, const char* endzeile) {
    if (!t || cap == 0) return;
    t[0] = 0;
    if (cm__ruheaktiv()) return;
    bool logt = cm__logging();
    if (cm__singleporttext[0]) {
        strmcpy(t, cm__singleporttext, cap);
        cm__singleporttext[0] = 0;
        cm__log("simu r:  %s\n", t);
        return;
    }
    if (cm__comsim || (cm__h <= 0 && cm__singleport)) {
        strmcpy(t, "\r\nOK\r\n", cap);
        cm__log("ok r:  %s\n", t);
        return;
    }
    if (cm__h <= 0 && !cm_open(nullptr, false)) return;
    size_t grenze = cm_secport ? CM_RAHMENLAENGE : 999;
    if (grenze > cap - 1) grenze = cap - 1;
    long fenster = (wartezeit > 0 ? wartezeit : 1) * 1000L;
    long gewartet = 0;
    ssize_t n = grenze ? cm__liesganz(t, grenze, fenster, endzeile, &gewartet) : 0;
    if (n < 0) {
        if (cm__lesefehleranzahl > 8) {
            char a[400], b[400];
            snprintf(a, sizeof a, cm__t("*Read error at %s.", "*Lesefehler bei %s."), cm__po);
            snprintf(b, sizeof b, cm__t("*Read error %s.", "*Lesefehler_%s."), cm__po);
            cc_show2(a, b);
            msleepx(4000);
        }
        cm__lesefehleranzahl += 2;
        n = 0;
    } else if (n == 0 || (!cm_secport && cm_antwortleer(t, cm__befehl))) {
        // Silence (or the echo alone) scores a point per second waited, so that a dead
        // modem gets its rest after about ten seconds whatever the callers' waits.
        long punkte = (gewartet + 500) / 1000;
        if (!konsoleaktiv) cm__lesefehleranzahl += static_cast<int>(punkte < 1 ? 1 : punkte);
    } else {
        cm__lesefehleranzahl = 0;
    }
    if (cm__lesefehleranzahl > 9) {
        lo_vlog(cm__t("%s Communications error at port %s.\n",
                      "%s Kommunikationsfehler bei Port %s.\n"),
                cm__po, -1);
        cm__lesefehleranzahl = 0;
        ruhestatus = 1;
        programmende_gewuenscht = true;
    }
    t[n] = 0;

    auto* u = reinterpret_cast<unsigned char*>(t);
    if (cm_secport && n > 4 && u[0] == 'K' && (u[1] == '2' || u[1] == 0xFA) &&
        cap > CM_RAHMENLAENGE) {
        u[644] = 0;
        size_t lesen = 999 < cap - 1 ? 999 : cap - 1;
        for (int i = 0; i < 8 && u[644] == 0; i++) {
            if (novatelu740) {
                cm_secporttext0[1] = static_cast<char>(0xFA);
                cm_secporttext0[648] = 0x4C;
                cm_secporttext0[649] = 0x05;
            }
            if (write(cm__h, cm_secporttext0, CM_RAHMENLAENGE) != CM_RAHMENLAENGE) {
            }
            msleep(comzeit);
            u[644] = 0;
            n = cm__liesganz(t, lesen, 1000, nullptr, nullptr);
            if (n < 0) n = 0;
            t[n] = 0;
            msleep(comzeit);
        }
        memset(t, ' ', 4);
        if (n == 651 || n == 652) {
            unsigned laenge = u[644];
            if (logt) {
                char* p = cm__tprot;
                for (int i = 4; i < 36; i++)
                    p += snprintf(p, sizeof cm__tprot - static_cast<size_t>(p - cm__tprot), "%02X",
                                  u[i]);
                lo_slog("rb: %s %li\n", cm__tprot, static_cast<long>(laenge));
            }
            long ende = 0;
            if (strncmp(t + 6, "+COPS:", 6) == 0) {
                const char* q1 = static_cast<const char*>(memchr(t + 12, '"', 15));
                if (q1) {
                    const char* q2 = static_cast<const char*>(memchr(q1 + 1, '"', 50));
                    if (q2) ende = q2 - t + 11;
                }
            } else if (strncmp(t + 6, "+CREG:", 6) == 0) {
                ende = 24;
            } else if (strncmp(t + 6, "+CGREG:", 7) == 0 || strncmp(t + 6, "+CSQ:", 5) == 0) {
                ende = 25;
            } else if (strncmp(t + 6, "$NWRAT:", 7) == 0) {
                ende = 27;
            }
            if (ende > 0 && ende < n) {
                t[ende] = 0;
                if (ende != static_cast<long>(laenge) + 4 && ende != static_cast<long>(laenge) + 5)
                    lo_slog(cm__t("rb: Syntax recognized, length adjusted.\n",
                                  "rb: Syntax erkannt, Länge korrigiert.\n"),
                            "", -1);
            } else if (laenge <= 2 && strlen(t + 4) < 60) {
                lo_slog(cm__t("rb: Length adjusted.\n", "rb: Länge korrigiert.\n"), "", -1);
            } else {
                t[4 + laenge] = 0;
            }
        } else {
            t[4] = 0;
            if (n >= 51 && n <= 1999)
                lo_slog("rb: %s: %li.\n", cm__t("Wrong packet length", "Falsche Paketlänge"), n);
        }
    }
    bool anrufe = cm__ringdetect_active();
    char weg[300];
    if (cm_unaufgefordert(t, cm__befehl, anrufe, weg, sizeof weg) > 0 && logt) {
        for (char* z = weg; *z;) {
            char* e = strchr(z, '\n');
            if (!e) break;
            *e = 0;
            cm__log("u:  %s\n", z);
            z = e + 1;
        }
    }
    if (logt) cm__log("r:  %s\n", t);
    if (anrufe) cm__ringdetect(t);
}

void cm_preend() {
    cm_close();
    novateldll = false;
    lo_slog(cm__t("Pre-termination.\n", "Pre-Ende.\n"), "", -1);
}

void cm_end() {
    cm_preend();
}
