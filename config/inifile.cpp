#include "config/inifile.h"

#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

char inidatei[40] = "tandor.ini";
char inititel[40] = "";
char settingsdatei[20] = "tandorS.ini";
const char profildatei[12] = "profile.ini";
bool _inidatneu = false;
bool installsub = false;
bool smsconfigsub = false;
bool configsub = false;

namespace {

// Every access to the ini file, by any thread of this process and by any other copy of
// the program, holds the lock from open to close: a mutex inside the process and an
// advisory lock between processes. The lock lives on a lock file beside the ini file that
// is never replaced, because a rewrite renames a new ini file over the old one.
std::mutex iv__mutex;
std::thread::id iv__besitzer; // thread holding the lock (guarded by iv__mutex's holder)
int iv__tiefe = 0;            // nesting of the holder's locks
int iv__lockfd = -1;          // the lock file, locked while iv__tiefe > 0

FILE* iv__fii = nullptr;
char iv__modus[8] = "";

void iv__lockname(char* name, size_t len) { snprintf(name, len, "%s.lock", inidatei); }

// Takes the lock; waits up to ms for another process, giving up early at program end.
bool iv__lock(long ms) {
    if (iv__tiefe > 0 && iv__besitzer == std::this_thread::get_id()) {
        iv__tiefe++;
        return true;
    }
    iv__mutex.lock();
    char name[60];
    iv__lockname(name, sizeof name);
    int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A directory where no lock file can be made (read-only): serialise inside the
        // process only; the file itself cannot be rewritten there anyway.
        lo_slog("INI file: no lock file: %s\n", strerror(errno), -1);
    } else {
        long gewartet = 0;
        while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            if (gewartet >= ms || programmende_gewuenscht) {
                close(fd);
                iv__mutex.unlock();
                return false;
            }
            sy_sleepms(20);
            gewartet += 20;
        }
    }
    iv__lockfd = fd;
    iv__besitzer = std::this_thread::get_id();
    iv__tiefe = 1;
    return true;
}

void iv__unlock() {
    if (iv__tiefe <= 0 || iv__besitzer != std::this_thread::get_id()) return;
    if (--iv__tiefe > 0) return;
    if (iv__lockfd >= 0) {
        flock(iv__lockfd, LOCK_UN);
        close(iv__lockfd);
    }
    iv__lockfd = -1;
    iv__besitzer = std::thread::id();
    iv__mutex.unlock();
}

void iv__gesperrt() {
    ps_statustext(_de ? " INI-Datei gesperrt." : " INI file is locked.",
                  _de ? " INI-Datei_gesperrt." : " INI file_is locked.");
}

} // namespace

bool iv_iniopen(const char* modus) {
    bool schreiben = strchr(modus, 'w') || strchr(modus, '+');
    if (iv__fii && iv__besitzer == std::this_thread::get_id()) {
        if (strcmp(iv__modus, modus) == 0) return true;
        iv_iniclose();
    }
    int versuche = schreiben ? 8 : 3;
    for (int i = 0; i < versuche; i++) {
        if (i > 0 && msleepx(900 + rand() % 200)) break;
        if (!iv__lock(1000)) continue;
        // Opened only under the lock, so the handle is always the file now at the path.
        iv__fii = fopen(inidatei, modus);
        if (iv__fii) {
            strMcpy(iv__modus, modus);
            lo_slog("Opened INI file with access \"%s\".\n", modus, -1);
            return true;
        }
        iv__unlock();
    }
    iv__gesperrt();
    lo_slog("Could not open INI file with access \"%s\".\n", modus, -1);
    msleepx(1000);
    return false;
}

void iv_iniclose() {
    if (!iv__fii || iv__besitzer != std::this_thread::get_id()) return;
    fclose(iv__fii);
    iv__fii = nullptr;
    iv__modus[0] = 0;
    lo_slog("Closed INI file.\n", "", -1);
    iv__unlock();
}

FILE* iv_inifile() { return iv__besitzer == std::this_thread::get_id() ? iv__fii : nullptr; }


// Until the keys are read: the arguments MOD= switch the logs; the start check runs.
int iv_iniparse() {
    int funktion = inidat.funktion;
    ps_resetinidat();
    inidat.funktion = funktion;
    for (int i = 1; i < _argc && _argv; i++) {
        const char* a = _argv[i];
        if (!a || memicmp(a, "MOD=", 4) != 0) continue;
        memset(inidat.mod, 0, sizeof inidat.mod);
        for (const char* p = a + 4; *p; p++)
            if (isalnum((unsigned char)*p)) inidat.mod[(unsigned char)*p] = 1;
    }
    if ((funktion < 40 || funktion == FUNKTION_CONFIG) && ps_hooks.startcheck &&
        !ps_hooks.startcheck())
        return -1;
    if (inidat.funktion == 0) inidat.funktion = 9;
    inidatgueltig = true;
    return 0;
}
