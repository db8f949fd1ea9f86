#include "connection/userprograms.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "core/helpers.h"
#include "core/logging.h"
#include "core/system.h"
#include "modem/calls.h"

extern char** environ;

namespace {

// How long a program has to end on SIGTERM before its group is killed.
constexpr long SP__FRIST = 3000;
// After SIGKILL the kernel needs a moment to take the group down.
constexpr long SP__NACHKILL = 1000;

// The leader pid of each slot's program, 0 when the slot is empty. The leader's own
// process group has its pid as id; since only sp_stop reaps it, the pid (and with it the
// group id) cannot pass to another process while it is held here.
std::mutex sp__mutex;
pid_t sp__pid[SP_SLOTS];

long long sp__echtms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void sp__warte(long ms) {
    poll(nullptr, 0, static_cast<int>(ms));
}

// A prefix character m counts when it stands first, or behind one or two characters of
// the set vorher (the prefixes that may come before it).
bool sp__marke(const char* cm, char m, const char* vorher) {
    if (!cm) return false;
    for (int k = 0; k < 3 && cm[k]; k++) {
        if (cm[k] == m) return true;
        if (k == 2 || !strchr(vorher, cm[k])) return false;
    }
    return false;
}

// A name of at least 5 characters ending in ".at", in any case.
bool sp__atdatei(const char* c) {
    size_t n = strlen(c);
    return n >= 5 && stricmp(c + n - 3, ".at") == 0;
}

// Sends the first line of an AT command file to the modem; a missing file is ignored.
void sp__atsenden(const char* datei) {
    FILE* f = fopen(datei, "r");
    if (!f) {
        lo_slog("User AT file %s not found.\n", datei, -1);
        return;
    }
    char zeile[297];
    bool gelesen = fgets(zeile, sizeof zeile, f) != nullptr;
    fclose(f);
    if (!gelesen) return;
    size_t n = strlen(zeile);
    while (n > 0 && (zeile[n - 1] == '\r' || zeile[n - 1] == '\n'))
        zeile[--n] = 0;
    cm_userat(zeile);
}

// A call or SMS template as shell text: %0..%3 become the positional parameters $1..$4
// (the values follow as such), "%%" becomes '%', every other '%' stays. The parameter is
// quoted for the place it stands in: "$1" outside quotes, ${1} inside double quotes, and
// closing and reopening single quotes inside those, so a template that quotes its
// placeholder gets the value whole too. A null value keeps its placeholder as written.
// False when the result does not fit.
bool sp__skript(const char* vorlage, const char* const werte[4], char* z, size_t cap) {
    size_t n = 0;
    char quote = 0; // the quote character while inside quotes
    for (const char* p = vorlage; *p; p++) {
        char einfuegen[8] = {*p, 0};
        if (p[0] == '%' && p[1] == '%') {
            p++;
        } else if (p[0] == '%' && p[1] >= '0' && p[1] <= '3' && werte && werte[p[1] - '0']) {
            const char* form = quote == '"' ? "${%c}" : quote == '\'' ? "'\"$%c\"'" : "\"$%c\"";
            snprintf(einfuegen, sizeof einfuegen, form, p[1] + 1);
            p++;
        } else if (p[0] == '\\' && quote != '\'' && (p[1] == '"' || p[1] == '\'' || p[1] == '\\')) {
            // An escaped quote or backslash neither opens nor closes quotes.
            einfuegen[1] = p[1];
            einfuegen[2] = 0;
            p++;
        } else if ((p[0] == '"' || p[0] == '\'') && (!quote || quote == p[0])) {
            quote = quote ? 0 : p[0];
        }
        size_t l = strlen(einfuegen);
        if (n + l >= cap) return false;
        memcpy(z + n, einfuegen, l);
        n += l;
    }
    z[n] = 0;
    return true;
}

// Runs the shell text in a session of its own (so its whole group can be signalled), with
// stdin and stdout on /dev/null (nobody reads its output, and a pipe nobody reads stalls
// the program) and without any of our descriptors above 2 (the modem port among them).
// Signal mask and dispositions are the default ones, whatever this thread has set.
pid_t sp__spawn(const char* skript, const char* const werte[4]) {
    posix_spawn_file_actions_t fa;
    posix_spawnattr_t at;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&at);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    sigset_t leer, standard;
    sigemptyset(&leer);
    sigemptyset(&standard);
    for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2,
                  SIGTSTP, SIGTTIN, SIGTTOU})
        sigaddset(&standard, s);
    posix_spawnattr_setsigmask(&at, &leer);
    posix_spawnattr_setsigdefault(&at, &standard);
    posix_spawnattr_setflags(&at,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const char* argv[9] = {"sh", "-c", skript, nullptr};
    if (werte) {
        argv[3] = "sh";
        for (int i = 0; i < 4; i++)
            argv[4 + i] = werte[i] ? werte[i] : "";
    }
    pid_t pid = 0;
    int e = posix_spawn(&pid, "/bin/sh", &fa, &at, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&at);
    return e == 0 ? pid : 0;
}

// True while a process of group g runs. Zombies do not count: a member orphaned by the
// leader's end belongs to init, which may take its time to reap it.
bool sp__gruppelebt(pid_t g) {
    if (kill(-g, 0) != 0 && errno == ESRCH) return false;
    DIR* d = opendir(sy_path(SY_PROC));
    if (!d) return true;
    bool lebt = false;
    while (!lebt) {
        dirent* e = readdir(d);
        if (!e) break;
        if (!isdigit((unsigned char)e->d_name[0])) continue;
        char pfad[300], z[512];
        snprintf(pfad, sizeof pfad, "%s/%s/stat", sy_path(SY_PROC), e->d_name);
        FILE* f = fopen(pfad, "r");
        if (!f) continue;
        bool ok = fgets(z, sizeof z, f) != nullptr;
        fclose(f);
        // "pid (comm) S ppid pgrp ...": comm may hold blanks and brackets.
        const char* p = ok ? strrchr(z, ')') : nullptr;
        char zustand = 0;
        long ppid = 0, pgrp = 0;
        if (p && sscanf(p + 1, " %c %ld %ld", &zustand, &ppid, &pgrp) == 3)
            lebt = pgrp == g && zustand != 'Z' && zustand != 'X';
    }
    closedir(d);
    return lebt;
}

// Ends the groups of the given leaders within one common grace: SIGTERM, and SIGKILL for
// what is left after it; every leader is reaped, so no zombie stays behind.
void sp__beenden(const pid_t* pids, int n) {
    bool geerntet[SP_SLOTS] = {}, fertig[SP_SLOTS] = {};
    for (int i = 0; i < n; i++) {
        kill(-pids[i], SIGTERM);
        kill(-pids[i], SIGCONT); // a stopped program sees SIGTERM only when it goes on
    }
    long long bis = sp__echtms() + SP__FRIST;
    for (bool nachkill = false;;) {
        bool alle = true;
        for (int i = 0; i < n; i++) {
            if (fertig[i]) continue;
            if (!geerntet[i]) {
                int st;
                pid_t r = waitpid(pids[i], &st, WNOHANG);
                geerntet[i] = r == pids[i] || (r < 0 && errno == ECHILD);
            }
            fertig[i] = geerntet[i] && !sp__gruppelebt(pids[i]);
            alle = alle && fertig[i];
        }
        if (alle) return;
        if (sp__echtms() >= bis) {
            if (nachkill) return;
            nachkill = true;
            for (int i = 0; i < n; i++) {
                if (fertig[i]) continue;
                lo_slog("User program %s%li killed after its grace.\n", "", pids[i]);
                kill(-pids[i], SIGKILL);
                int st;
                while (!geerntet[i] && waitpid(pids[i], &st, 0) < 0 && errno == EINTR) {
                }
                geerntet[i] = true;
            }
            bis = sp__echtms() + SP__NACHKILL;
        }
        sp__warte(20);
    }
}

// Takes the program out of slot idx; 0 when none was held.
pid_t sp__nehmen(int idx) {
    std::lock_guard<std::mutex> g(sp__mutex);
    pid_t p = sp__pid[idx];
    sp__pid[idx] = 0;
    return p;
}

void sp__starten(int idx, const char* cm, const char* const werte[4]) {
    if (idx < 0 || idx >= SP_SLOTS || !cm) return;
    const char* c = sp_cstart(cm);
    if (!*c) return;
    if (sp__atdatei(c)) {
        sp__atsenden(c);
        return;
    }
    char skript[2048];
    if (werte) {
        if (!sp__skript(c, werte, skript, sizeof skript)) {
            lo_slog("!User program too long, not started: %s\n", c, -1);
            return;
        }
        c = skript;
    }
    // A program for the program end runs on after our end: it is not held in the slot,
    // only reaped when it ends while we still run.
    if (sp_atend(cm)) {
        pid_t p = sp__spawn(c, werte);
        if (p <= 0) return;
        lo_slog("User program %s started, detached.\n", c, -1);
        std::thread([p] {
            int st;
            while (waitpid(p, &st, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        return;
    }
    sp_stop(idx);
    pid_t p = sp__spawn(c, werte);
    if (p <= 0) return;
    lo_slog("User program %s started in slot %li.\n", c, idx);
    pid_t alt;
    {
        std::lock_guard<std::mutex> g(sp__mutex);
        alt = sp__pid[idx];
        sp__pid[idx] = p;
    }
    // Another thread started the slot meanwhile: its program gives way to ours.
    if (alt > 0) sp__beenden(&alt, 1);
}

} // namespace

void sp_ini() {}
void sp_end() {}

bool sp_ishidden(const char* cm) {
    return sp__marke(cm, ';', ",|");
}
bool sp_atstart(const char* cm) {
    return sp__marke(cm, '!', ";,");
}
bool sp_atend(const char* cm) {
    return sp__marke(cm, '|', ";,");
}
bool sp_ateveryconnect(const char* cm) {
    return sp__marke(cm, ',', ";|");
}

const char* sp_cstart(const char* cm) {
    if (!cm) return "";
    while (*cm && strchr(";!|,", *cm))
        cm++;
    return cm;
}

void sp_start(int idx, const char* cm) {
    sp__starten(idx, cm, nullptr);
}

void sp_startmit(int idx, const char* vorlage, const char* const werte[4]) {
    static const char* const keine[4] = {};
    sp__starten(idx, vorlage, werte ? werte : keine);
}

bool sp_stop(int idx) {
    if (idx < 0 || idx >= SP_SLOTS) return false;
    pid_t p = sp__nehmen(idx);
    if (p <= 0) return false;
    sp__beenden(&p, 1);
    lo_slog("User program of slot %s%li ended.\n", "", idx);
    return true;
}

bool sp_stopall() {
    pid_t p[SP_SLOTS];
    int n = 0;
    for (int i = 0; i < SP_SLOTS; i++)
        if (pid_t q = sp__nehmen(i); q > 0) p[n++] = q;
    if (n) sp__beenden(p, n);
    return n > 0;
}
