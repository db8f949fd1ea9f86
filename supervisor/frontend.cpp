#include "supervisor/frontend.h"

#include "connection/dialup.h"
#include "connection/statistics.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "ui/mainwindow.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The segment id of the attached record, -1 when none; ii__erzeuger: this process created
// it and alone may end it.
int ii__tdrioid = -1;
bool ii__erzeuger = false;
// The failure to create the record is logged once per program run, not at every rest.
bool ii__gemeldet = false;

// The command words in the order they are carried out.
const auto& ii__kommandos = ps_kommandos;
// An unknown text seen in the command field by the last poll; it is cleared when the next
// poll finds it unchanged (a text still being written gets one poll to settle).
char ii__unbekannt[II_KOMMANDOGROESSE] = "";
// Command files that could not be removed, logged once each.
bool ii__dateigemeldet[4] = {false, false, false, false};

size_t ii__groesse() {
    return sizeof(tdrio_t) > TDRIO_SEGMENTGROESSE ? sizeof(tdrio_t) : TDRIO_SEGMENTGROESSE;
}

// The process lives (as far as this user can tell): kill answers anything but "no such
// process".
bool ii__lebt(pid_t pid) {
    if (pid <= 0) return false;
    return kill(pid, 0) == 0 || errno != ESRCH;
}

void ii__fehler(const char* warum) {
    if (ii__gemeldet) return;
    ii__gemeldet = true;
    lo_slog("ii_start: Could not create shared memory.\n", "", -1);
    lo_slog("ii_start: %s\n", warum, -1);
}

// Creates the segment with the key exclusively. A segment of this user left by a run that
// no longer lives is removed and made anew once; any other segment is not ours to take.
int ii__anlegen(int bits) {
    size_t groesse = ii__groesse();
    int id = shmget(static_cast<key_t>(tdriok), groesse, IPC_CREAT | IPC_EXCL | bits);
    if (id >= 0 || errno != EEXIST) {
        if (id < 0) ii__fehler(strerror(errno));
        return id;
    }
    int alt = shmget(static_cast<key_t>(tdriok), 0, 0);
    shmid_ds ds{};
    if (alt < 0 || shmctl(alt, IPC_STAT, &ds) != 0) {
        ii__fehler("a segment with the key exists and cannot be examined");
        return -1;
    }
    if (ds.shm_perm.uid != geteuid()) {
        ii__fehler("a segment with the key belongs to another user; left alone");
        return -1;
    }
    if (ii__lebt(ds.shm_cpid)) {
        ii__fehler("a segment with the key belongs to a running process; left alone");
        return -1;
    }
    lo_slog("ii_start: removed the record of an ended run%s (process %li).\n", "", ds.shm_cpid);
    shmctl(alt, IPC_RMID, nullptr);
    id = shmget(static_cast<key_t>(tdriok), groesse, IPC_CREAT | IPC_EXCL | bits);
    if (id < 0) ii__fehler(strerror(errno));
    return id;
}

tdrio_t* ii__erzeugen() {
    // The permission bits of IPC= with read and write for the owner; its higher bits are
    // flags of shmget (creation flags, which this call sets anyway).
    int modus = 0600 | (inidat.ipcmod & 0777);
    int id = ii__anlegen(modus | (inidat.ipcmod & ~0777 & ~(IPC_CREAT | IPC_EXCL)));
    if (id < 0) return nullptr;
    void* p = shmat(id, nullptr, 0);
    shmid_ds ds{};
    bool gut = p != reinterpret_cast<void*>(-1) && shmctl(id, IPC_STAT, &ds) == 0 &&
               ds.shm_perm.uid == geteuid() && (ds.shm_perm.mode & 0777) == (unsigned)modus &&
               ds.shm_segsz >= sizeof(tdrio_t);
    if (!gut) {
        if (p != reinterpret_cast<void*>(-1)) shmdt(p);
        shmctl(id, IPC_RMID, nullptr);
        ii__fehler("the new segment has not the owner, mode or size asked for");
        return nullptr;
    }
    tdrio_t* r = static_cast<tdrio_t*>(p);
    memset(r, 0, sizeof *r);
    r->len = sizeof(tdrio_t);
    r->structure_version = TDRIO_STRUCTURE_VERSION;
    r->program_version = TDRIO_PROGRAM_VERSION;
    r->volume = static_cast<unsigned long>(inidat.headerv + inidat.headervoffset / 1000);
    r->time = static_cast<unsigned long>(inidat.headert);
    // Above 0 from the start: a frontend attaching before the first window refresh must
    // not take the program for ended.
    ii_zaehlersetzen(r, 1);
    ii__tdrioid = id;
    ii__erzeuger = true;
    tdrior_rw = true;
    tdrior = r;
    __atomic_store_n(&tdriow, r, __ATOMIC_RELEASE);
    // The next window refresh publishes the texts shown already.
    tdrioneu = true;
    return r;
}

// A control program or another reader: only a segment of this build's record is taken,
// written when permitted, else read only.
tdrio_t* ii__anhaengen() {
    int id = shmget(static_cast<key_t>(tdriok), 0, 0);
    if (id < 0) return nullptr;
    shmid_ds ds{};
    if (shmctl(id, IPC_STAT, &ds) != 0 || ds.shm_segsz < sizeof(tdrio_t)) return nullptr;
    bool rw = true;
    void* p = shmat(id, nullptr, 0);
    if (p == reinterpret_cast<void*>(-1)) {
        rw = false;
        p = shmat(id, nullptr, SHM_RDONLY);
        if (p == reinterpret_cast<void*>(-1)) return nullptr;
    }
    tdrio_t* r = static_cast<tdrio_t*>(p);
    if (r->len != sizeof(tdrio_t) || r->structure_version != TDRIO_STRUCTURE_VERSION) {
        shmdt(p);
        return nullptr;
    }
    ii__tdrioid = id;
    ii__erzeuger = false;
    tdrior_rw = rw;
    __atomic_store_n(&tdrior, r, __ATOMIC_RELEASE);
    return r;
}

void ii__freigeben(bool programmende) {
    tdrio_t* r = __atomic_exchange_n(&tdrior, nullptr, __ATOMIC_ACQ_REL);
    if (!r) return;
    if (ii__erzeuger) {
        // Other threads (window refresh, timer tick) write through tdriow: it goes first,
        // and the mapping stays (the process end unmaps it), so a write that loaded the
        // pointer just before still lands in valid memory.
        __atomic_store_n(&tdriow, nullptr, __ATOMIC_RELEASE);
        ii_zaehlersetzen(r, 0);
        shmctl(ii__tdrioid, IPC_RMID, nullptr);
    } else if (!programmende) {
        shmdt(r);
    }
    ii__tdrioid = -1;
    ii__erzeuger = false;
    tdrior_rw = false;
}

bool ii__wort(const char* k, int i) {
    return stricmp(k, ii__kommandos[i]) == 0;
}

void ii__ausfuehren(int i) {
    static const char* const de[4] = {
        "Verbindung per Kommando aktiviert.", "Verbindung per Kommando deaktiviert.",
        "Neu verbinden durch Kommando.", "Programm per Kommando beendet."};
    static const char* const en[4] = {
        "Connection activated by command.", "Connection deactivated by command.",
        "Reconnect caused by command.", "Program terminated by command."};
    const char* text = _de ? de[i] : en[i];
    lo_slog("%s\n", text, -1);
    lo_vlog("%s %s\n", text, -1);
    switch (i) {
    case 0:
        inidat.constart = true;
        break;
    case 1:
        inidat.constart = false;
        // The bytes since the last pass are counted before the interface goes away.
        cn_nachmessen();
        cn_stop(1);
        break;
    case 2:
        ps_unterbrechen(2);
        break;
    case 3:
        ps_endeanfordern();
        break;
    }
}

} // namespace

void ii_ini() {}

tdrio_t* ii_start(bool cre) {
    tdrio_t* r = __atomic_load_n(&tdrior, __ATOMIC_ACQUIRE);
    if (r) return r;
    return cre ? ii__erzeugen() : ii__anhaengen();
}

void ii_stop() {
    ii__freigeben(false);
}

void ii_end() {
    ii__freigeben(true);
}

bool ii_aktiv() {
    tdrio_t* r = __atomic_load_n(&tdrior, __ATOMIC_ACQUIRE);
    if (!r || ii__tdrioid < 0) return false;
    if (ii__erzeuger) return true;
    shmid_ds ds{};
    if (shmctl(ii__tdrioid, IPC_STAT, &ds) != 0) return false;
    if (ds.shm_perm.mode & SHM_DEST) return false;
    return ii__lebt(ds.shm_cpid);
}

bool ii_kommandoda() {
    tdrio_t* r = __atomic_load_n(&tdriow, __ATOMIC_ACQUIRE);
    // Device commands wait in the field for the prepaid task; they do not shorten the pause.
    return r && r->command[0] && r->command[0] != ':';
}

bool ii_pause(long ms) {
    while (ms > 0) {
        long stueck = ms < 250 ? ms : 250;
        if (ps_pause(stueck)) return true;
        if (th_queryterminate()) return false;
        if (ii_kommandoda()) return true;
        ms -= stueck;
    }
    return false;
}

int ii_dateikommando(const char* name) {
    struct stat st;
    if (lstat(name, &st) != 0) return II_DATEI_KEINE;
    if (!S_ISREG(st.st_mode) || st.st_size >= 30) return II_DATEI_FREMD;
    // Taken only when it is gone: a file that stays would repeat its command at every poll.
    if (unlink(name) != 0) return II_DATEI_BLEIBT;
    return II_DATEI_GENOMMEN;
}

void dateikommandoholen(bool auch_datei) {
    if (!__atomic_load_n(&tdriow, __ATOMIC_ACQUIRE) && !auch_datei) return;
    char k[II_KOMMANDOGROESSE];
    ii_kommando(k);
    if (k[0] && stricmp(k, "tandor_PATH") == 0) {
        const char* pfad = (_argv && _argv[0]) ? _argv[0] : "?";
        TDRIOs(answer, pfad);
        ii_kommandoloeschen(k);
        k[0] = 0;
    }
    int quelle = 0; // of the last command taken: 1 record, 2 file
    bool ausrecord = false;
    for (int i = 0; i < 4; i++) {
        bool da = false;
        if (k[0] && ii__wort(k, i)) {
            da = ausrecord = true;
            quelle = 1;
        }
        if (auch_datei) {
            int d = ii_dateikommando(ii__kommandos[i]);
            if (d == II_DATEI_GENOMMEN) {
                da = true;
                quelle = 2;
            } else if (d == II_DATEI_BLEIBT && !ii__dateigemeldet[i]) {
                ii__dateigemeldet[i] = true;
                lo_slog("Command file %s cannot be removed; it is ignored.\n", ii__kommandos[i],
                        -1);
            }
        }
        if (da) ii__ausfuehren(i);
    }
    // A command taken from the record is cleared whichever source came last, or it would
    // be carried out again at the next poll.
    if (ausrecord) ii_kommandoloeschen(k);
    if (k[0] && !ausrecord && k[0] != ':') {
        // Unknown text (also 100 bytes without a NUL): cleared once it stayed unchanged for
        // a poll, so a frontend waiting for an empty field is not stuck.
        if (strcmp(k, ii__unbekannt) == 0) {
            lo_slog("Unknown command in the frontend record removed.\n", "", -1);
            ii_kommandoloeschen(k);
            ii__unbekannt[0] = 0;
        } else {
            strMcpy(ii__unbekannt, k);
        }
    } else {
        ii__unbekannt[0] = 0;
    }
    if (quelle == 0) return;
    ps_wecken();
    if (quelle == 2)
        cc_show2(_de ? "+Datei-Kommando empfangen." : "+File command received.",
                 _de ? "+Datei~Kommando" : "+File_command");
    else
        cc_show2(_de ? "+Externes Kommando empfangen." : "+External command received.",
                 _de ? "+Externes_Kommando" : "+External_command");
    msleepx(2000);
}
