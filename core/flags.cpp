#include "core/flags.h"

#include "core/logging.h"
#include "core/system.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Compare-and-swap attempts before giving up; each failure means another copy changed
// the values in between, so the bound is only reached under absurd contention.
constexpr int fl__VERSUCHE = 100;
// A set whose creator has not stored its pid yet is left alone this many seconds.
constexpr time_t fl__ERSTELLFRIST = 5;

union fl__semun {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

// The pid in two semaphore values, each within the semaphore maximum of 32767.
void fl__encode(long pid, unsigned short v[2]) {
    v[0] = (unsigned short)(pid & 0x7FFF);
    v[1] = (unsigned short)(pid >> 15);
}

long fl__decode(const unsigned short v[2]) {
    return (long)v[0] + (long)v[1] * 32768L;
}

// The owner lives when its directory under /proc exists. Without it, a process of
// another user hidden from /proc (hidepid) still shows through kill's EPERM.
bool fl__alive(long pid) {
    if (pid <= 0) return false;
    char path[300];
    snprintf(path, sizeof path, "%s/%ld", sy_path(SY_PROC), pid);
    if (access(path, F_OK) == 0) return true;
    return kill((pid_t)pid, 0) != 0 && errno == EPERM;
}

// The living owner belongs to another user: its /proc entry has another uid, or it is
// hidden from /proc and kill answers EPERM.
bool fl__otheruser(long pid) {
    if (pid <= 0) return false;
    char path[300];
    snprintf(path, sizeof path, "%s/%ld", sy_path(SY_PROC), pid);
    struct stat st;
    if (stat(path, &st) == 0) return st.st_uid != geteuid();
    return kill((pid_t)pid, 0) != 0 && errno == EPERM;
}

bool fl__getall(int id, unsigned short v[2]) {
    fl__semun arg;
    arg.array = v;
    return semctl(id, 0, GETALL, arg) == 0;
}

// Replaces the values alt by neu in one semop: the decrements and the zero tests succeed
// only while the values are exactly alt, so a concurrent change makes it fail (EAGAIN).
// Going through semop also sets sem_otime, which marks the set as filled.
bool fl__cas(int id, const unsigned short alt[2], const unsigned short neu[2]) {
    struct sembuf ops[6];
    size_t n = 0;
    for (unsigned short i = 0; i < 2; i++)
        if (alt[i]) ops[n++] = {i, (short)-alt[i], IPC_NOWAIT};
    for (unsigned short i = 0; i < 2; i++)
        ops[n++] = {i, 0, IPC_NOWAIT};
    for (unsigned short i = 0; i < 2; i++)
        if (neu[i]) ops[n++] = {i, (short)neu[i], IPC_NOWAIT};
    return semop(id, ops, n) == 0;
}

// Stores this process's pid; with held, also reports whether a living owner had it. With
// nurfrei a flag held by any living process (this one included) is left as it is.
bool fl__store(unsigned long key, bool* held, bool nurfrei = false) {
    unsigned short neu[2];
    fl__encode((long)getpid(), neu);
    for (int i = 0; i < fl__VERSUCHE; i++) {
        int id = semget((key_t)key, 2, 0666);
        if (id < 0) id = semget((key_t)key, 2, IPC_CREAT | 0666);
        if (id < 0) {
            lo_slog("Could not create semaphore.\n", "", -1);
            return false;
        }
        unsigned short alt[2];
        if (!fl__getall(id, alt)) {
            if (errno == EIDRM || errno == EINVAL) continue; // removed meanwhile
            return false;
        }
        // The IPC keys are the same for every user of the machine: a living copy of
        // another user keeps its flag.
        long besitzer = fl__decode(alt);
        if (besitzer != getpid() && fl__alive(besitzer) && fl__otheruser(besitzer)) {
            if (held) *held = true;
            return false;
        }
        if (nurfrei && fl__alive(besitzer)) {
            if (held) *held = true;
            return false;
        }
        if (fl__cas(id, alt, neu)) {
            if (held) *held = fl__alive(fl__decode(alt));
            return true;
        }
        if (errno != EAGAIN && errno != EIDRM && errno != EINVAL) return false;
    }
    return false;
}

} // namespace

bool fl_set(unsigned long key) {
    return fl__store(key, nullptr);
}

bool fl_queryset(unsigned long key) {
    bool held = false;
    fl__store(key, &held);
    return held;
}

bool fl_take(unsigned long key) {
    bool held = false;
    return fl__store(key, &held, true) && !held;
}

void fl_clear(unsigned long key) {
    int id = semget((key_t)key, 2, 0666);
    if (id < 0) return;
    unsigned short null[2] = {0, 0};
    fl__semun arg;
    arg.array = null;
    semctl(id, 0, SETALL, arg);
    semctl(id, 0, IPC_RMID);
}

bool fl_query(unsigned long key) {
    int id = semget((key_t)key, 2, 0444);
    if (id < 0) return false;
    unsigned short v[2];
    if (!fl__getall(id, v)) return false;
    if (fl__alive(fl__decode(v))) return true;
    if (v[0] == 0 && v[1] == 0) {
        // Created but not yet filled by its creator: free, but not stale. The kernel's
        // change time is wall-clock time, hence time() rather than the program clock.
        struct semid_ds ds;
        fl__semun arg;
        arg.buf = &ds;
        if (semctl(id, 0, IPC_STAT, arg) == 0 && ds.sem_otime == 0 &&
            time(nullptr) - ds.sem_ctime < fl__ERSTELLFRIST)
            return false;
    }
    // Stale: the owner died without clearing it. Removed only while it still holds the
    // values judged here, so an owner that took it over meanwhile keeps it (a copy that
    // takes it between the two calls below can still lose it; the window is tiny).
    int wid = semget((key_t)key, 2, 0666);
    if (wid < 0) return false;
    unsigned short null[2] = {0, 0};
    if (fl__cas(wid, v, null)) semctl(wid, 0, IPC_RMID);
    return false;
}

bool fl_foreign(unsigned long key) {
    int id = semget((key_t)key, 2, 0444);
    if (id < 0) return false;
    unsigned short v[2];
    if (!fl__getall(id, v)) return false;
    long pid = fl__decode(v);
    return fl__alive(pid) && fl__otheruser(pid);
}
