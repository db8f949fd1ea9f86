#include "connection/dialup.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "connection/routerlink.h"
#include "connection/userprograms.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "core/waittally.h"
#include "modem/atexchange.h"
#include "ui/buttondialog.h"
#include "ui/trayicons.h"

std::atomic<long> mtextup{0};
int optiongi = -1;
cn_dialuphooks_t cn_dialuphooks{};

namespace {

char cn__linuxconnectionname[100];
std::atomic<time_t> cn__active{0};
// The machine's standby time (sy_standbyms) when the link was last seen up: a standby is
// told by this clock, which moves only while the machine sleeps, not by the gaps between
// our own passes, which a slow modem or a busy machine widens as well.
std::atomic<long long> cn__standbybasis{0};
int cn__activeatstart = 99;

// The pppd child and the pipe that carries its standard output and error.
pid_t cn__pid = -1;
int cn__fd = -1;
bool cn__eof = false;
// Line buffer of pppd's output; a line longer than it is taken in pieces.
char cn__antwort[5001];
size_t cn__antwortlen = 0;
bool cn__mandriva = false;

int cn__inicounter = -1;
int cn__errorcounter = 0;

constexpr int CN_COUNTDOWN = 22;
// After SIGHUP pppd ends the link with LCP (up to about 6 s against a silent peer) and
// then runs its ip-down scripts (resolv.conf); it gets this long before SIGKILL. SIGTERM
// follows the SIGHUP after a moment, as pppd quits on it for good ("persist" or not).
constexpr long CN_ENDEFRIST = 10000, CN_TERMNACH = 300;
// More standby than this between two sightings of the link is a standby of the computer.
constexpr long long CN_STANDBYMS = 4000;

// The log writers with the line end each log uses (the connection log is read by the
// chart, which expects CR LF).
template <size_t N> const char* cn__zeilenende(char (&f)[N], const char* format, const char* nl) {
    snprintf(f, N, "%s%s", format, nl);
    return f;
}
void cn__slog(const char* format, const char* s, long li) {
    char f[300];
    lo_slog(cn__zeilenende(f, format, "\n"), s, li);
}
void cn__dlog(const char* format, const char* s, long li) {
    char f[300];
    lo_dlog(cn__zeilenende(f, format, "\n"), s, li);
}
void cn__vlog(const char* format, const char* s, long li) {
    char f[300];
    lo_vlog(cn__zeilenende(f, format, "\r\n"), s, li);
}

bool cn__debug() {
    return MODUS('1') != 0;
}

// Service log, and debug log when it is on.
void cn__log(const char* format, const char* s, long li) {
    cn__slog(format, s, li);
    if (cn__debug()) cn__dlog(format, s, li);
}

void cn__status(const char* de, const char* en, const char* minide, const char* minien) {
    ps_statustext(_de ? de : en, _de ? minide : minien);
}

long long cn__echtms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Waiting for a child process is about a real process, so it runs in real time steps
// whatever clock the program uses. True when the child has ended (and is reaped) before
// the real monotonic time bis.
bool cn__reap(pid_t pid, long long bis) {
    for (;;) {
        int st;
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) return true;
        long long rest = bis - cn__echtms();
        if (rest <= 0) return false;
        poll(nullptr, 0, rest < 20 ? static_cast<int>(rest) : 20);
    }
}

// Ends our pppd child: SIGHUP (pppd hangs up cleanly), SIGTERM a moment later, and
// SIGKILL only when it has not ended within the grace; it is always reaped, so no pppd
// and no zombie stays behind. The caller holds no GTK lock (the main thread or program
// end), so the window and the menu answer meanwhile; a program end asked for during the
// wait is held up by the grace at most.
void cn__kindbeenden() {
    if (cn__pid <= 0) return;
    pid_t pid = cn__pid;
    cn__pid = -1;
    if (cn__reap(pid, 0)) return;
    long long t0 = cn__echtms();
    kill(pid, SIGHUP);
    if (cn__reap(pid, t0 + CN_TERMNACH)) return;
    kill(pid, SIGTERM);
    if (cn__reap(pid, t0 + CN_ENDEFRIST)) return;
    cn__slog("Linux connect: pppd did not end, killing pid %s%li.", "", pid);
    kill(pid, SIGKILL);
    int st;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
}

// The first line of /proc/<pid>/<datei>; false when the process or the file is gone.
bool cn__proczeile(long pid, const char* datei, char* z, size_t cap) {
    char pfad[300];
    snprintf(pfad, sizeof pfad, "%s/%ld/%s", sy_path(SY_PROC), pid, datei);
    FILE* f = fopen(pfad, "r");
    if (!f) return false;
    bool gelesen = fgets(z, static_cast<int>(cap), f) != nullptr;
    fclose(f);
    return gelesen;
}

// A pid named by a pid file or a lock message may only be signalled when it is our own
// child, or another process (not init, not us) whose name is pppd.
bool cn__signalerlaubt(long pid) {
    if (pid > 0 && pid == cn__pid) return true;
    if (pid <= 1 || pid == getpid()) return false;
    char name[32];
    return cn__proczeile(pid, "comm", name, sizeof name) && strcmp(name, "pppd\n") == 0;
}

// Whether a process lives (a zombie has ended); for a pppd that is not our child.
bool cn__laeuft(long pid) {
    char z[512];
    const char* k = cn__proczeile(pid, "stat", z, sizeof z) ? strrchr(z, ')') : nullptr;
    return k && k[1] == ' ' && k[2] != 'Z' && k[2] != 'X';
}

void cn__freigeben() {
    cn__kindbeenden();
    if (cn__fd >= 0) close(cn__fd);
    cn__fd = -1;
    cn__eof = false;
    cn__antwortlen = 0;
}

// cn_linuxconnect(22): stop the running pppd through its pid file, then release the
// child and the pipe.
void cn__trennen() {
    if (cn__linuxconnectionname[0]) {
        char pfad[400], zeile[51] = "";
        snprintf(pfad, sizeof pfad, "%s/%s.pid", sy_path(SY_PIDDIR), cn__linuxconnectionname);
        FILE* f = fopen(pfad, "r");
        if (f) {
            if (!fgets(zeile, sizeof zeile, f)) zeile[0] = 0;
            fclose(f);
        }
        long pid = isdigit(static_cast<unsigned char>(zeile[0])) ? atol(zeile) : 0;
        if (pid > 0 && pid != cn__pid) {
            if (cn__signalerlaubt(pid)) {
                long long t0 = cn__echtms();
                kill(static_cast<pid_t>(pid), SIGHUP);
                sy_sleepms(300);
                kill(static_cast<pid_t>(pid), SIGTERM);
                sy_sleepms(100);
                // A pppd started elsewhere gets the same grace to end the link and run its
                // scripts, so that a new dial does not find the port still locked. It is
                // not ours to kill.
                while (cn__laeuft(pid) && cn__echtms() - t0 < CN_ENDEFRIST)
                    poll(nullptr, 0, 50);
                if (cn__laeuft(pid))
                    cn__slog("Linux disconnect: pppd %s%li has not ended.", "", pid);
            } else {
                cn__slog("Linux disconnect: pid %s%li is no pppd, not signalled.", "", pid);
            }
        }
    }
    cn__linuxconnectionname[0] = 0;
    cn__freigeben();
}

// Starts pppd without a shell; its standard output and error share one pipe.
bool cn__starte(char* const argv[]) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(p[0]);
        close(p[1]);
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls until exec: the parent may have threads.
        dup2(p[1], 1);
        dup2(p[1], 2);
        int nul = open("/dev/null", O_RDONLY);
        if (nul >= 0 && nul != 0) dup2(nul, 0);
        close_range(3, ~0U, 0);
        execvp("pppd", argv);
        const char* t = errno == ENOENT   ? "pppd: No such file or directory\n"
                        : errno == EACCES ? "pppd: Permission denied\n"
                                          : "pppd: cannot be executed\n";
        ssize_t r = write(1, t, strlen(t));
        (void)r;
        _exit(127);
    }
    close(p[1]);
    fcntl(p[0], F_SETFL, fcntl(p[0], F_GETFL) | O_NONBLOCK);
    cn__pid = pid;
    cn__fd = p[0];
    cn__eof = false;
    cn__antwortlen = 0;
    return true;
}

// One line of pppd's output into z: 1 a line, 0 none yet, -1 the output has ended.
int cn__zeile(char* z, size_t cap) {
    while (!cn__eof && cn__antwortlen < sizeof cn__antwort - 1) {
        ssize_t n =
            read(cn__fd, cn__antwort + cn__antwortlen, sizeof cn__antwort - 1 - cn__antwortlen);
        if (n > 0) {
            cn__antwortlen += static_cast<size_t>(n);
        } else if (n == 0) {
            cn__eof = true;
        } else if (errno != EINTR) {
            if (errno != EAGAIN) cn__eof = true;
            break;
        }
    }
    if (cn__antwortlen == 0) return cn__eof ? -1 : 0;
    char* nl = static_cast<char*>(memchr(cn__antwort, '\n', cn__antwortlen));
    size_t len;
    if (nl)
        len = static_cast<size_t>(nl - cn__antwort) + 1;
    else if (cn__eof || cn__antwortlen >= sizeof cn__antwort - 1)
        len = cn__antwortlen;
    else
        return 0;
    size_t k = len < cap ? len : cap - 1;
    memcpy(z, cn__antwort, k);
    z[k] = 0;
    memmove(cn__antwort, cn__antwort + len, cn__antwortlen - len);
    cn__antwortlen -= len;
    size_t e = strlen(z);
    while (e > 0 && (z[e - 1] == '\n' || z[e - 1] == '\r'))
        z[--e] = 0;
    return 1;
}

// Takes the next port of the comma list at *pp into port; *pp becomes null at the end.
void cn__naechsterport(const char** pp, char (&port)[300]) {
    const char* p = *pp;
    while (*p == ' ')
        p++;
    const char* komma = strchr(p, ',');
    size_t n = komma ? static_cast<size_t>(komma - p) : strlen(p);
    if (n >= sizeof port) n = sizeof port - 1;
    memcpy(port, p, n);
    port[n] = 0;
    while (n > 0 && port[n - 1] == ' ')
        port[--n] = 0;
    *pp = komma ? komma + 1 : nullptr;
}

// A line of pppd's output against the error table; 0 when no error rule fires.
struct cn__regel {
    const char* text;
    bool anfang; // the line begins with text (else: contains it)
    int fehler;
};
constexpr cn__regel cn__regeln[] = {
    {"Usage: pppd ", true, CN_USAGE},
    {"Cannot read ", true, CN_NICHTLESBAR},
    {"No such file or directory", false, CN_FEHLT},
    {"Permission denied", false, CN_ZUGRIFF},
    {"option requires root privilege", false, CN_ROOT},
    {"Connect script failed", false, CN_SKRIPT},
    {"Hangup", true, CN_HANGUP},
    {"LCP: timeout sending Config-Requests", false, CN_LCP},
};

int cn__fehler(int i) {
    cn__log("Linux connect error %s%li.", "", i);
    cn__trennen();
    sy_sleepms(300);
    return i;
}

// The interface name after "Connect: " at the start of the line or of an inner line.
void cn__interface(const char* z) {
    const char* p = strncmp(z, "Connect: ", 9) == 0 ? z : strstr(z, "\nConnect: ");
    if (!p) return;
    p = strchr(p, ':') + 2;
    size_t n = strcspn(p, " \t\r\n");
    if (n >= sizeof cn__linuxconnectionname) n = sizeof cn__linuxconnectionname - 1;
    memcpy(cn__linuxconnectionname, p, n);
    cn__linuxconnectionname[n] = 0;
}

bool cn__dnszeile(const char* z) {
    for (const char* p = strstr(z, "DNS address "); p; p = strstr(p + 1, "DNS address "))
        if (isdigit(static_cast<unsigned char>(p[12]))) return true;
    return false;
}

bool cn__ifaktiv() {
    if (cn_dialuphooks.ifaktiv) return cn_dialuphooks.ifaktiv();
    if (!cn__linuxconnectionname[0]) return false;
    FILE* f = fopen(sy_path(SY_NETDEV), "r");
    if (!f) return false;
    char z[512];
    bool gefunden = false;
    size_t n = strlen(cn__linuxconnectionname);
    while (!gefunden && fgets(z, sizeof z, f)) {
        const char* p = z;
        while (*p == ' ')
            p++;
        gefunden = strncmp(p, cn__linuxconnectionname, n) == 0 && p[n] == ':';
    }
    fclose(f);
    return gefunden;
}

void cn__reopencommandport() {
    if (!cm_singleport()) return;
    sy_sleepms(1500);
    cn__slog("Reopening command port.", "", -1);
    cm_open(nullptr, false);
}

// The user programs after a connection was made: at the first connection of this
// initialisation cycle every slot that is not for program start or end, afterwards only
// the slots for every connection. Slots for an SMS or a call wait for their trigger.
void cn__userprograms() {
    bool ersteverbindung = cn__inicounter != inicounterglobal;
    bool gewartet = false;
    for (int i = 0; i < SP_SLOTS; i++) {
        const char* cm = inidat.cmd[i];
        if (!cm[0] || inidat.sms[i] || sp_atstart(cm) || sp_atend(cm)) continue;
        if (!ersteverbindung && !sp_ateveryconnect(cm)) continue;
        if (!gewartet) sy_sleepms(500);
        gewartet = true;
        sp_start(i, cm);
    }
    if (ersteverbindung) cn__inicounter = inicounterglobal;
}

void cn__stopjedeverbindung() {
    for (int i = 0; i < SP_SLOTS; i++)
        if (inidat.cmd[i][0] && !inidat.sms[i] && sp_ateveryconnect(inidat.cmd[i])) sp_stop(i);
}

} // namespace

int cn_fehlerregel(const char* zeile) {
    for (const auto& r : cn__regeln)
        if (r.anfang ? strncmp(zeile, r.text, strlen(r.text)) == 0
                     : strstr(zeile, r.text) != nullptr)
            return r.fehler;
    return 0;
}

// Run at every start of the main thread: whether a link is up is asked afresh after every
// rest, not only once per process.
void cn_ini() {
    cn__activeatstart = 99;
}

const char* cn_connectionname() {
    return cn__linuxconnectionname;
}

void cn_setconnectionname(const char* name) {
    strMcpy(cn__linuxconnectionname, name ? name : "");
}

int cn_pppdpid() {
    return cn__pid;
}

int cn_linuxconnect(int func) {
    if (func == 22) {
        cn__trennen();
        return 0;
    }
    if (func != 21) return -1;
    const char* liste = inidat.con[0] ? inidat.con : "/dev/ttyUSB0";
    // In single-port mode the link takes the command port over: no AT byte may reach
    // the modem while pppd holds the line.
    if (cm_singleport() && cm_isopen()) {
        cn__slog("Closing command port for the connection.", "", -1);
        cm_close();
    }
    const char* naechster = liste;
    bool ersterversuch = true;
    for (;;) {
        cn__trennen();
        char port[300];
        cn__naechsterport(&naechster, port);
        const char* name = inidat.conname[0] ? inidat.conname : "a";
        const char* pass = inidat.conpass[0] ? inidat.conpass : "a";
        if (strlen(name) + strlen(pass) > 499) {
            cn__log("Linux connect: user name and password too long.", "", -1);
            return cn__fehler(CN_TIMEOUT);
        }
        // The argument vector of the pppd command line; nothing passes a shell.
        const char* argv[24];
        int n = 0;
        for (const char* a : {"pppd", static_cast<const char*>(port), "user", name, "password",
                              pass, "crtscts", "lock", "usepeerdns", "noipdefault", "defaultroute"})
            argv[n++] = a;
        if (!cn__mandriva) argv[n++] = "replacedefaultroute";
        argv[n++] = "nodetach";
        argv[n++] = "child-timeout";
        argv[n++] = "5";
        if (cn__debug()) argv[n++] = "dump";
        argv[n++] = "connect";
        argv[n++] = "chat \"\" atd*99#";
        argv[n] = nullptr;
        if (cn__debug()) {
            // The log shows the command with the credentials masked.
            char kommando[800];
            snprintf(kommando, sizeof kommando,
                     "pppd '%s' user *** password *** crtscts lock usepeerdns noipdefault "
                     "defaultroute %snodetach child-timeout 5 dump connect 'chat \"\" atd*99#'",
                     port, cn__mandriva ? "" : "replacedefaultroute ");
            cn__dlog("Connect: %s", kommando, -1);
        }
        cn__slog("Connecting via %s", port, -1);
        if (!cn__starte(const_cast<char* const*>(argv))) {
            cn__slog("Linux connect error 21.", "", -1);
            cn__trennen();
            return CN_START;
        }
        int countdown = CN_COUNTDOWN;
        bool authok = false, dnsok = false, neustart = false;
        char z[5001];
        while (countdown >= 0 && !neustart) {
            if (programmende_gewuenscht) {
                if (cn__debug()) cn__dlog("Connect aborted because of program end.", "", -1);
                cn__slog(_de ? "Linux connect abgebrochen, da Programmende."
                             : "Linux connect terminated because of program end.",
                         "", -1);
                cn__trennen();
                return CN_PROGRAMMENDE;
            }
            int r = cn__zeile(z, sizeof z);
            if (r < 0) {
                // pppd has ended without a link: waiting on would change nothing.
                cn__log("Linux connect: pppd ended.", "", -1);
                countdown = -1;
                break;
            }
            if (r == 0) {
                countdown--;
                msleepx(990);
                if (countdown >= 0 && countdown % 2 == 0)
                    cn__log("Connect countdown: %s%li", "", countdown);
                continue;
            }
            cn__log("Connect answer: %s", z, -1);
            if (strstr(z, "pppd: unrecognized option 'replacedefaultroute'")) {
                if (cn__mandriva) return cn__fehler(CN_MANDRIVA);
                cn__mandriva = true;
                cn__log("Assumed Mandriva as operating system.", "", -1);
                sy_sleepms(100);
                naechster = liste;
                neustart = true;
                continue;
            }
            if (const char* l = strstr(z, " is locked by pid ")) {
                if (!ersterversuch) return cn__fehler(CN_GESPERRT);
                long pid = atol(l + 18);
                sy_sleepms(50);
                if (cn__signalerlaubt(pid)) {
                    cn__log("Linux connect: killing pid %s%li", "", pid);
                    kill(static_cast<pid_t>(pid), SIGTERM);
                } else {
                    cn__log("Linux connect: lock holder %s%li is no pppd, not signalled.", "", pid);
                }
                sy_sleepms(2000);
                ersterversuch = false;
                naechster = liste;
                neustart = true;
                continue;
            }
            if (strncmp(z, "pppd: unrecognized option ", 26) == 0) {
                if (!naechster) return cn__fehler(CN_KEINPORT);
                neustart = true;
                continue;
            }
            if (int f = cn_fehlerregel(z)) return cn__fehler(f);
            cn__interface(z);
            if (strstr(z, "authentication succeeded")) authok = true;
            if (cn__dnszeile(z)) dnsok = true;
            if (cn__linuxconnectionname[0] && authok && dnsok) break;
        }
        if (neustart) continue;
        if (countdown < 0) {
            cn__log("Linux connect timeout.", "", -1);
            cn__trennen();
            return CN_TIMEOUT;
        }
        cn__antwortlen = 0;
        if (!programmende_gewuenscht) sy_sleepms(750);
        if (!programmende_gewuenscht) sy_sleepms(750);
        return CN_OK;
    }
}

void cn_start() {
    homezonestatus = 0;
    if (programmende_gewuenscht) return;
    if (cn__inicounter == inicounterglobal && (!linksys || !cm_linkcom(9, nullptr)))
        cn__stopjedeverbindung();
    if (ruhestatus != 1) {
        mtextup = -3;
        ic_mshow(4, 0, 0, 0, 0, _de ? "tandor\n\nVerbindungsaufbau." : "tandor\n\nConnecting.");
    }
    lo_vlogtime();
    int fehler = 0;
    if (linksys) {
        if (!cm_linkcom(9, nullptr)) {
            cm_linksyswait();
            cm_linkcom(21, nullptr);
            sy_sleepms(4000);
            bool verbunden = false;
            for (int i = 0; i < 10 && !verbunden; i++) {
                verbunden = cm_linkcom(9, nullptr);
                if (!verbunden) sy_sleepms(3000);
            }
            if (verbunden)
                sy_sleepms(5000);
            else
                fehler = CN_ROUTER;
        }
    } else {
        optiongi = 0;
        fehler = cn_linuxconnect(21);
        if (fehler == CN_ZUGRIFF) {
            bd_buttondialog(
                _de ? "|e#tandor   Verbinden#Fehler beim Verbindungszugriff.|+0#Programm "
                      "beenden#Damit ein Benutzer eine Internetverbindung herstellen kann,\n"
                      "geben Sie ihm bitte die n\xc3\xb6tigen Zugriffsrechte.\nDazu \xc3\xb6"
                      "ffnen Sie System->Systemverwaltung->\nBenutzer und Gruppen, klicken auf "
                      "den Schl\xc3\xbcsselbund,\nw\xc3\xa4hlen den Benutzer, klicken auf "
                      "Einstellungen und haken die beiden\nListeneintr\xc3\xa4ge an, deren "
                      "Namen das Wort \"Modem\" enthalten.\nMelden Sie sich danach ab und "
                      "wieder an."
                    : "|e#tandor   Connect#Connection access error.|+0#End program#To allow a "
                      "user to connect to the Internet, please\ngive him/her the necessary "
                      "access rights.\nTo do so, open System->System Administration->\nUser "
                      "and group accounts, then click on the key ring,\nselect the user, klick "
                      "on settings and check the two\nlist entries whose names include the "
                      "word \"modem\".\nAfterwards, please log-off and re-login.",
                0);
            programmende_gewuenscht = true;
        }
        if (cn__linuxconnectionname[0]) {
            cn__slog(_de ? "Verbindungsname: %s" : "Connection name: %s", cn__linuxconnectionname,
                     -1);
            cn__vlog(_de ? "%s Verbindungsname: %s" : "%s Connection name: %s",
                     cn__linuxconnectionname, -1);
            char t[150], m[150];
            snprintf(t, sizeof t, _de ? " Verbindung: %s." : " Connection: %s.",
                     cn__linuxconnectionname);
            snprintf(m, sizeof m, _de ? " Verbindung:_%s." : " Connection:_%s.",
                     cn__linuxconnectionname);
            ps_statustext(t, m);
            sy_sleepms(1000);
        }
    }
    if (verbindeneinmal) {
        verbindeneinmal = false;
        inidat.constart = false;
    }
    mtextup = 0;
    if (fehler) {
        cn__active = 0;
        cn__vlog(_de ? "%s Verbindung abgewiesen. Fehler %s%li."
                     : "%s Connection refused. Error %s%li.",
                 "", fehler);
        cn__slog(_de ? "*Verbindungsfehler %s%li." : "*Connection error %s%li.", "", fehler);
        char t[150], m[150];
        snprintf(t, sizeof t, _de ? "*Verbindungsfehler %i." : "*Connection error %i.", fehler);
        snprintf(m, sizeof m, _de ? "*Fehler %i." : "*Error %i.", fehler);
        ps_statustext(t, m);
        cn__reopencommandport();
        sy_sleepms(1000);
        if (++cn__errorcounter >= 4) {
            // From now on every second further failure rests and re-initialises the modem.
            cn__errorcounter = 2;
            ruhestatus = 1;
            programmende_gewuenscht = true;
        }
        return;
    }
    cn__errorcounter = 0;
    cn__standbybasis = sy_standbyms();
    cn__active = sy_time();
    {
        // What the road to this link waited by design (sleeps at full length, reads while
        // the modem answered); a benchmark sets it against the wall time it took.
        char w[120];
        snprintf(w, sizeof w, "Mandated waits: sleeps %ld ms, reads %ld ms", wz_schlafsumme(),
                 wz_lesesumme());
        cn__slog("%s", w, -1);
    }
    cn__vlog(_de ? "%s Verbindung hergestellt." : "%s Connection established.", "", -1);
    cn__slog(_de ? "Verbindung hergestellt." : "Connection established.", "", -1);
    if (cn_dialuphooks.statistikreset) cn_dialuphooks.statistikreset();
    if (cn_dialuphooks.volzeitrunden) cn_dialuphooks.volzeitrunden();
    onlinezeit = 1;
    cn__userprograms();
    homezonezaehler = -2;
}

void cn_stop(int endemodus) {
    cn__stopjedeverbindung();
    bool aktiv = cn_isactive();
    if (!aktiv && cn__active == 0) {
        // Nothing connected; a pppd that ended by itself is still reaped.
        cn__freigeben();
        return;
    }
    switch (endemodus) {
    case 2:
        cn__status("+Verbindung unterbrochen durch Benutzer.", "+Connection interrupted by user.",
                   "+Unterbrochen_v. Benutzer", "+Interrupted_by user.");
        cn__vlog(_de ? "%s Verbindung durch den Benutzer unterbrochen."
                     : "%s Connection interrupted by user.",
                 "", -1);
        break;
    case 3:
        cn__slog(_de ? "Au\xc3\x9f"
                       "erhalb der Homezone."
                     : "Outside the homezone.",
                 "", -1);
        cn__vlog("%s %s.",
                 _de ? "Au\xc3\x9f"
                       "erhalb der Homezone"
                     : "Outside the homezone",
                 -1);
        cn__status("*Au\xc3\x9f"
                   "erhalb der Homezone.",
                   "*Outside the homezone", "*Nicht in_Homezone.", "*Not in_homezone.");
        break;
    case 4:
        cn__slog(_de ? "Nicht gew\xc3\xbcnschtes Fremdnetz." : "Unwanted Network.", "", -1);
        cn__vlog(_de ? "%s Nicht gew\xc3\xbcnschtes Fremdnetz." : "%s Unwanted Network.", "", -1);
        cn__status("*Fremdnetz.", "*Unwanted network.", "*Fremdnetz.", "*Unwanted_network.");
        break;
    case 5:
        cn__slog(_de ? "Nicht gew\xc3\xbcnschtes \xc3\xbc"
                       "berschreiten der Ende-Uhrzeit."
                     : "Exceeded termination time of day.",
                 "", -1);
        cn__vlog(_de ? "%s Nicht gew\xc3\xbcnschtes \xc3\xbc"
                       "berschreiten der Ende-Uhrzeit."
                     : "%s Exceeded termination time of day.",
                 "", -1);
        cn__status("*Enduhrzeit erreicht.", "*Termination time reached.", "*Enduhrzeit_erreicht.",
                   "*Termination_time.");
        break;
    default:
        break;
    }
    if (aktiv) {
        if (ruhestatus != 1) {
            mtextup = -4;
            ic_mshow(5, 0, 0, 0, 0,
                     _de ? "tandor\n\nVerbindungsende." : "tandor\n\nConnection termination.");
        }
        if (linksys) {
            cm_linkcom(22, nullptr);
            if (ruhestatus != 1) cm_linksyswait();
        } else {
            cn_linuxconnect(22);
        }
    } else {
        // The link ended by itself (pppd ended or was killed): release what is left of it.
        cn__linuxconnectionname[0] = 0;
        cn__freigeben();
        cn__slog("Connection was terminated by extern.", "", -1);
        cn__status("+Verbindung unterbrochen.", "+Connection interrupted.", "+Unterbrochen.",
                   "+Interrupted.");
        cn__vlog(_de ? "Verbindung unterbrochen." : "Connection interrupted.", "", -1);
        sy_sleepms(3000);
        if (cn_timegap(0)) {
            if (!inidat.endstandby) ruhestatus = 1;
            programmende_gewuenscht = true;
        } else {
            sy_sleepms(2000);
        }
    }
    for (int i = 0; i < 10 && programmende_gewuenscht; i++) {
        if (ruhestatus == 1)
            cn__status("+Neuinitialisierung.", "+Reinitialization.", "+Re-Init.", "+Re-init.");
        else
            cn__status(" Ende.", " End.", " Ende.", " End.");
        sy_sleepms(100);
    }
    mtextup = -1;
    if (inidat.headervoffset < 1000) inidat.headervoffset = 1000;
    if (cn_dialuphooks.volzeitrunden) cn_dialuphooks.volzeitrunden();
    bool zwischen = endemodus != 0;
    if (inidat.round > 0) {
        const char* was = zwischen || inidat.day >= 1 ? (_de ? "Zwischensumme" : "Subtotal")
                                                      : (_de ? "Datenvolumen" : "Data volume");
        cn__vlog("%s %s: %li kB", was, inidat.headerv + inidat.headervoffset / 1000);
        if (endemodus == 0 && inidat.roundt < 1)
            cn__vlog(_de ? "%s Verbindung beendet." : "%s Connection terminated.", "", -1);
    }
    if (inidat.roundt > 0) {
        const char* f = zwischen || inidat.dayt >= 1
                            ? (_de ? "%s Zwischensumme: %s" : "%s Subtotal: %s")
                            : (_de ? "%s Onlinezeit: %s" : "%s Online time: %s");
        cn__vlog(f, stundenminuten(inidat.headert), -1);
        if (endemodus == 0)
            cn__vlog(_de ? "%s Verbindung beendet." : "%s Connection terminated.", "", -1);
    }
    homezonestatus = 0;
    cn__reopencommandport();
    cn__active = 0;
}

bool cn_isactive() {
    bool a = linksys ? cm_linkcom(9, nullptr) : cn__ifaktiv();
    if (a) cn_timegap(sy_time());
    return a;
}

bool cn_wasactiveatstart() {
    if (cn__activeatstart == 99) {
        cn__activeatstart = cn_isactive() ? 1 : 0;
        if (cn__activeatstart) {
            cn__standbybasis = sy_standbyms();
            cn__active = sy_time();
        }
    }
    return cn__activeatstart == 1;
}

// A gap is standby time of the machine since the link was last seen up. Wall-clock
// jumps and slow passes of our own are none: only the standby clock counts.
bool cn_timegap(time_t tim) {
    time_t a = cn__active;
    if (a == 1) return true;
    if (a == 0) return false;
    if (tim == 0) tim = sy_time();
    long long schlaf = sy_standbyms();
    if (schlaf - cn__standbybasis > CN_STANDBYMS) {
        cn__active = 1;
        return true;
    }
    cn__standbybasis = schlaf;
    cn__active = tim;
    return false;
}

bool cn_wastimegap() {
    return cn__active == 1;
}

// Every held user program is stopped, all within one grace (programs for the program end
// are not held and run on).
bool cn_endprocesses() {
    return sp_stopall();
}

void cn_createdialup(bool) {}
