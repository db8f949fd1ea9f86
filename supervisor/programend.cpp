// The program end, rests and interruptions; see programend.h.
#include "supervisor/programend.h"

#include "config/header.h"
#include "config/inifile.h"
#include "connection/dialup.h"
#include "connection/statistics.h"
#include "connection/userprograms.h"
#include "core/flags.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "core/threads.h"
#include "modem/atexchange.h"
#include "supervisor/frontend.h"
#include "supervisor/instance.h"
#include "supervisor/sessionclient.h"
#include "ui/mainwindow.h"
#include "ui/timertick.h"
#include "ui/trayicons.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <mutex>

namespace {
// Two threads may request the end at once; only one runs the end sequence.
std::mutex pe__mutex;
// The sequence that holds pe__mutex ends the program (and does not merely rest).
std::atomic<bool> pe__endet{false};

void pe__zeige(const char* de, const char* en, const char* minide, const char* minien, long ms) {
    cc_show2(_de ? de : en, _de ? minide : minien);
    msleep(ms);
}

// The automatic end conditions; true when one of them asks for the end.
void pe__endebedingungen() {
    // Another copy asks this one to end (its start check raised the flag).
    if (inidat.funktion != FUNKTION_CONTROL && fl_query(endesignal) && !fl_foreign(endesignal)) {
        cc_show2(_de ? " tandor neu gestartet." : " tandor restartet.", _de ? " Ende." : " End.");
        msleep(1500);
        ps_endeanfordern();
        return;
    }
    long noc = inidat.err[ERR_NOC];
    if (onlinezeit == 0 && noc > 0 && (long)(offlinezeita / 6000) >= noc) {
        lo_vlog(_de ? "%s %s%li Minuten ohne funktionsfähige Verbindung.\n"
                    : "%s %s%li minutes without functioning connection.\n",
                "", noc);
        pe__zeige("*Keine Verbindung erreicht.", "*No connection accomplished.",
                  "*Keine_Verbindung.", "*Connection_timeout.", 2500);
        shutdownerlaubt = true;
        ps_endeanfordern();
        return;
    }
    if ((long)inidat.end <= 0) return;
    bool online = inidat.endforce;
    unsigned long zeit = online ? onlinezeit.load() : inaktivzeit.load();
    if ((long)(zeit / 6000) < (long)inidat.end) return;
    if (online) {
        lo_vlog(_de ? "%s %s%li Minuten maximale Onlinezeit erreicht.\n"
                    : "%s %s%li minutes maximum online time expired.\n",
                "", inidat.end);
        pe__zeige("*Maximale Onlinezeit erreicht.", "*Maximum online time expired.",
                  "*Maximale_Onlinezeit.", "*Max online_time.", 2500);
    } else {
        lo_vlog(_de ? "%s %s%li Minuten maximale Inaktivzeit erreicht.\n"
                    : "%s %s%li minutes maximum inactive time expired.\n",
                "", inidat.end);
        pe__zeige("*Maximale Inaktivzeit erreicht.", "*Maximum inactive time expired.",
                  "*Maximale_Inaktivzeit.", "*Max inactive_time.", 2500);
    }
    if (inidat.endverb) {
        // Only the connection ends, and it is not made again by itself.
        inidat.constart = false;
        ps_unterbrechen(1);
    } else {
        shutdownerlaubt = true;
        ps_endeanfordern();
    }
}

// Stops the connection for a requested interruption; the program goes on.
void pe__unterbrechung(int modus) {
    // The bytes since the last statistics pass are counted before the link goes and the
    // rounding applies to all of them.
    if (onlinezeit > 0) cn_nachmessen();
    volzeitrunden();
    onlinezeit_vorher = -1;
    cn_stop(modus);
    if (modus == 5 && inidat.enduhrzeite) ps_endeanfordern();
    msleepx(2000);
}

bool pe__benutzerslot(int i) {
    return inidat.cmd[i][0] && !inidat.sms[i];
}

// The computer shutdown after the end, reported in the connection log and the window.
void pe__shutdown() {
    lo_slogx("ENDP40.\n", "", -1);
    msleep(500);
    for (int i = 0; i < SP_SLOTS; i++)
        if (pe__benutzerslot(i) && sp_atend(inidat.cmd[i])) {
            msleep(3000);
            break;
        }
    bool reboot = inidat.endshutdown == 2;
    bool ok = pe_shutdown(inidat.endshutdown);
    const char* was = reboot ? "Reboot" : "Shutdown";
    lo_vlog(ok ? (_de ? "%s %s eingeleitet.\n" : "%s %s initiated.\n")
               : (_de ? "%s %s nicht möglich.\n" : "%s %s initiation failed.\n"),
            was, -1);
    if (ok && !reboot)
        pe__zeige("+Shutdown gestartet.", "+Initiated shutdown.", "+Shutdown_gestartet.",
                  "+Initiated_shutdown.", 1500);
    else if (ok)
        pe__zeige("+Reboot gestartet.", "+Initiated reboot.", "+Reboot_gestartet.",
                  "+Initiated_reboot.", 1500);
    else if (!reboot)
        pe__zeige("+Shutdown erfolglos.", "+Shutdown error.", "+Shutdown_erfolglos.",
                  "+Shutdown_error.", 1500);
    else
        pe__zeige("*Reboot erfolglos.", "*Reboot error.", "*Reboot_erfolglos.", "*Reboot_error.",
                  1500);
}

// The modem is left as the configuration asks when the connection ends with the program.
void pe__modemzuruecksetzen() {
    if (geraet == 1 && optiongi && cm_isopen() && cn_isactive()) {
        msleep(200);
        cm_puts("AT_ORESET\r");
        msleep(200);
        cm_close();
    } else if (MODUS('K') || MODUS('Y')) {
        msleep(100);
        cm_puts("AT+CFUN=1,1\r");
        msleep(100);
    } else if (geraet == 5) {
        msleep(100);
        cm_puts("AT+CFUN=4\r");
        msleep(100);
    }
}

} // namespace

const char* const* pe_shutdownbefehl(int endshutdown) {
    static char nachricht[200];
    static const char* argv[8];
    bool reboot = endshutdown == 2;
    snprintf(nachricht, sizeof nachricht, "%s%s", reboot ? "Reboot" : "Shutdown",
             _de ? " initiiert von tandor. Siehe Datei tandor.ini, Parameter END=S oder END=R"
                 : " initiated by tandor. See file tandor.ini, parameter END=S or END=R ");
    // -n: sudo never waits for a password nobody can type.
    int i = 0;
    argv[i++] = "sudo";
    argv[i++] = "-n";
    argv[i++] = "shutdown";
    argv[i++] = reboot ? "-r" : "-P";
    argv[i++] = "1";
    argv[i++] = nachricht;
    argv[i] = nullptr;
    return argv;
}

bool pe_shutdown(int endshutdown) {
    const char* const* argv = pe_shutdownbefehl(endshutdown);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        int n = open("/dev/null", O_RDWR);
        if (n >= 0) {
            dup2(n, 0);
            dup2(n, 1);
            dup2(n, 2);
        }
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    // shutdown with a delay only schedules and returns; a sudo that hangs is not waited for.
    // A real process is waited for in real time, whatever clock the program runs on.
    for (int i = 0; i < 100; i++) {
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (r < 0 && errno != EINTR) return false;
        usleep(100000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

bool programmende(bool erzwingen) {
    int ruhe = ruhestatus;
    if (ruhe >= 2 && ruhe <= 4) {
        // Nothing ends during a rest, but an end asked for meanwhile is kept for the restart.
        if (erzwingen) programmende_endgueltig = true;
        return false;
    }
    if (erzwingen) ps_endeanfordern();
    // An end asked for during a rest or an interruption wait takes effect now.
    if (programmende_endgueltig) programmende_gewuenscht = true;

    if (!programmende_gewuenscht) pe__endebedingungen();
    if (!programmende_gewuenscht) {
        int modus = unterbrechung_gewuenscht.exchange(0);
        if (modus == 0) return false;
        pe__unterbrechung(modus);
        return false;
    }

    std::unique_lock<std::mutex> g(pe__mutex, std::try_to_lock);
    if (!g.owns_lock()) {
        // A rest runs in another thread: the end asked for here is kept in
        // programmende_endgueltig and taken at the first check point after the restart.
        // Parking this thread (say the window's) would leave it dead for good.
        if (!pe__endet) return false;
        // The end sequence runs in another thread; this one only waits to be parked.
        th_unregister(nullptr);
        th_sleepinfinite();
    }
    // A rest asked for together with (or after) a real end does not weaken it.
    bool ruhen = ruhestatus == 1 && !programmende_endgueltig;
    pe__endet = !ruhen;
    int f = inidat.funktion;

    lo_slogx("ENDP10.\n", "", -1);
    if (!ruhen) cc_show2(_de ? " Ende." : " End.", _de ? " Ende." : " End.");
    msleep(100);
    if (onlinezeit > 0) cn_nachmessen();
    volzeitrunden();
    lo_slogx("ENDP20.\n", "", -1);
    if (inidat.conende && f >= 1 && f <= 39) cn_stop(0);
    if (!ruhen && f < 40) {
        bool endprogramm = false;
        for (int i = 0; i < SP_SLOTS; i++) {
            if (!pe__benutzerslot(i)) continue;
            if (sp_atstart(inidat.cmd[i])) sp_stop(i);
            if (sp_atend(inidat.cmd[i])) {
                sp_start(i, inidat.cmd[i]);
                endprogramm = true;
            }
        }
        if (endprogramm) msleep(3000);
    }
    if (inidat.conende && f >= 1 && f <= 39) pe__modemzuruecksetzen();

    lo_slogx("ENDP21.\n", "", -1);
    // The counters: with a volume or time period they persist, the rest of the bytes folded
    // in; otherwise the header keeps only the window and the hint.
    if (inidat.day > 0 || inidat.dayt > 0)
        cn_sichern();
    else
        iv_iniheaderwrite(false);
    if (cn_endprocesses() && f < 40 && !ruhen) msleep(700);
    iv_iniclose();
    // Only the flag this copy took is released: a copy that gave up, a profile switch or
    // a second configuration program would otherwise clear the running copy's flag.
    ia_freigeben();
    ia_smssignal(2);
    lo_slogx("ENDP30.\n", "", -1);

    if (ruhen) {
        lo_slogx("ENDP32.\n", "", -1);
        if (geraet == 1 && optiongi) {
            cm_puts("AT_ORESET\r");
            msleep(200);
        }
        cm_preend();
        if (geraet == 1 && optiongi) msleep(1000);
        lo_slogx("ENDP38.\n", "", -1);
    } else {
        cm_end();
        ii_end();
        ic_end();
        cc_quit();
        ti_end();
    }
    if (inidat.endshutdown != 0 && shutdownerlaubt && !ruhen && f != FUNKTION_CONTROL)
        pe__shutdown();
    lo_slogx("ENDP50.\n", "", -1);

    if (!ruhen) {
        lo_slog(_de ? "%s  tandor beendet.\n\n    "
                      "--------------------------------------------------\n\n"
                    : "%s  tandor terminated.\n\n    "
                      "--------------------------------------------------\n\n",
                datumzeit(), -1);
        th_unregister(nullptr);
        th_terminate(20000);
        msleep(10);
        // The session manager waits for this answer before it goes on with the logout.
        sc_returninteraction();
        exit(0);
    }

    lo_slog(_de ? "%s  tandor unterbrochen. Standby.\n\n    "
                  "--------------------------------------------------\n\n"
                : "%s  tandor paused. Standby.\n\n    "
                  "--------------------------------------------------\n\n",
            datumzeit(), -1);
    lo_slogx("ENDP51.\n", "", -1);
    onlinezeit = 0;
    inaktivzeit = 0;
    ruhestatus = 2;
    programmende_gewuenscht = false;
    msleepx(geraet == 2 || (geraet == 1 && optiongi) ? 4000 : 1000);
    lo_slogx("ENDP56.\n", "", -1);
    inicounterglobal++;
    ruhestatus = 3;
    lo_slogx("ENDP57.\n", "", -1);
    return true;
}
