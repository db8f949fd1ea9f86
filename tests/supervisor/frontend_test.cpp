#include "core/helpers.h"
#include "core/programstate.h"
#include "core/system.h"
#include "supervisor/frontend.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <fcntl.h>
#include <functional>
#include <sched.h>
#include <string>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr unsigned long SCHLUESSEL = 0x515256F3;

// Runs fn in a child with private IPC and mount namespaces; fn returns "" or what went
// wrong, which comes back as the result.
std::string imkind(const std::function<std::string()>& fn) {
    int p[2];
    if (pipe(p) != 0) return "pipe";
    pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        std::string r;
        if (unshare(CLONE_NEWIPC | CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            r = "unshare";
        else
            r = fn();
        ssize_t w = write(p[1], r.data(), r.size());
        (void)w;
        _exit(0);
    }
    close(p[1]);
    std::string r;
    char b[256];
    ssize_t n;
    while ((n = read(p[0], b, sizeof b)) > 0)
        r.append(b, static_cast<size_t>(n));
    close(p[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    if (!WIFEXITED(st)) r += " (child died)";
    return r;
}

// A segment with the key made by a process that has ended: its creator is gone.
int segmentvontotem(size_t groesse, int modus) {
    pid_t pid = fork();
    if (pid == 0) _exit(shmget(SCHLUESSEL, groesse, IPC_CREAT | IPC_EXCL | modus) < 0);
    int st = 0;
    waitpid(pid, &st, 0);
    return shmget(SCHLUESSEL, 0, 0);
}

// A record of this build in a segment, as a running program would have made it.
tdrio_t* gueltigerrecord(int id) {
    tdrio_t* r = static_cast<tdrio_t*>(shmat(id, nullptr, 0));
    memset(r, 0, sizeof *r);
    r->len = sizeof(tdrio_t);
    r->structure_version = TDRIO_STRUCTURE_VERSION;
    r->process_counter = 77;
    return r;
}

unsigned modus(int id) {
    shmid_ds ds{};
    return shmctl(id, IPC_STAT, &ds) == 0 ? ds.shm_perm.mode & 0777 : 07777;
}

void vorbereiten(int ipcmod) {
    ASSERT_FALSE(ts_workdir().empty());
    tdriok = SCHLUESSEL;
    inidat.ipcmod = ipcmod;
    MODUS('P') = 1;
    inidat.headerv = 990;
    inidat.headervoffset = 4500;
    inidat.headert = 61;
}

struct anlegefall {
    const char* name;
    std::function<std::string()> fall;
};

TEST(FrontendRecord, CreatedExclusivelyAndAttachedOnlyWhenItFits) {
    vorbereiten(0);
    const anlegefall faelle[] = {
        {"fresh, mode 0600, initialised",
         [] {
             tdrio_t* r = ii_start(true);
             if (!r || tdriow != r || tdrior != r) return std::string("no record");
             int id = shmget(SCHLUESSEL, 0, 0);
             if (modus(id) != 0600) return "mode " + std::to_string(modus(id));
             if (r->len != 1064 && r->len != 984) return std::string("len");
             if (r->structure_version != 3 || r->program_version != 5) return std::string("ver");
             if (r->volume != 994 || r->time != 61 || r->process_counter == 0)
                 return std::string("volume/time/counter");
             if (ii_start(true) != r) return std::string("second start made another");
             return std::string();
         }},
        {"ipcmod 0044 gives 0644",
         [] {
             inidat.ipcmod = 0044;
             ii_start(true);
             unsigned m = modus(shmget(SCHLUESSEL, 0, 0));
             return m == 0644 ? std::string() : "mode " + std::to_string(m);
         }},
        {"a dead creator's segment is replaced",
         [] {
             int alt = segmentvontotem(100, 0600);
             tdrio_t* r = ii_start(true);
             int neu = shmget(SCHLUESSEL, 0, 0);
             if (!r || neu == alt) return std::string("not replaced");
             return r->len == sizeof(tdrio_t) ? std::string() : std::string("len");
         }},
        {"a living creator's segment is left alone",
         [] {
             int id = shmget(SCHLUESSEL, 2000, IPC_CREAT | 0600);
             char* p = static_cast<char*>(shmat(id, nullptr, 0));
             strcpy(p, "fremd");
             if (ii_start(true) || tdriow || tdrior) return std::string("took it");
             if (shmget(SCHLUESSEL, 0, 0) != id || strcmp(p, "fremd") != 0)
                 return std::string("touched");
             return ts_readfile("servilog.txt").find("Could not create shared memory") ==
                            std::string::npos
                        ? std::string("not logged")
                        : std::string();
         }},
        {"another owner's segment is left alone",
         [] {
             int id = segmentvontotem(2000, 0666);
             shmid_ds ds{};
             shmctl(id, IPC_STAT, &ds);
             ds.shm_perm.uid = 65534;
             shmctl(id, IPC_SET, &ds);
             if (ii_start(true)) return std::string("took it");
             return shmget(SCHLUESSEL, 0, 0) == id ? std::string() : std::string("removed");
         }},
        {"attacher refuses a small segment",
         [] {
             shmget(SCHLUESSEL, 512, IPC_CREAT | 0600);
             return ii_start(false) ? std::string("attached") : std::string();
         }},
        {"attacher refuses another len or version",
         [] {
             int id = shmget(SCHLUESSEL, 2000, IPC_CREAT | 0600);
             tdrio_t* r = gueltigerrecord(id);
             r->len = 984 + 1064 - sizeof(tdrio_t);
             if (ii_start(false)) return std::string("len taken");
             r->len = sizeof(tdrio_t);
             r->structure_version = 2;
             if (ii_start(false)) return std::string("version taken");
             r->structure_version = 3;
             return ii_start(false) ? std::string() : std::string("good one refused");
         }},
        {"attacher reads, never publishes, and only detaches",
         [] {
             int id = shmget(SCHLUESSEL, 2000, IPC_CREAT | 0600);
             tdrio_t* r = gueltigerrecord(id);
             if (!ii_start(false) || tdriow || !tdrior_rw) return std::string("attach");
             if (!ii_aktiv()) return std::string("not active");
             ii_stop();
             if (tdrior || shmget(SCHLUESSEL, 0, 0) != id || r->process_counter != 77)
                 return std::string("stop touched the record");
             // The creator removed it: an attacher sees the program as gone.
             ii_start(false);
             shmctl(id, IPC_RMID, nullptr);
             return ii_aktiv() ? std::string("still active") : std::string();
         }},
        {"creator's end sets 0 and removes the key",
         [] {
             tdrio_t* r = ii_start(true);
             if (!r) return std::string("no record");
             tdrio_t* blick = static_cast<tdrio_t*>(shmat(shmget(SCHLUESSEL, 0, 0), nullptr, 0));
             ii_end();
             if (tdriow || tdrior) return std::string("pointers kept");
             if (blick->process_counter != 0) return std::string("counter");
             return shmget(SCHLUESSEL, 0, 0) < 0 ? std::string() : std::string("key still there");
         }},
    };
    for (const auto& f : faelle)
        EXPECT_EQ(imkind(f.fall), "") << f.name;
}

// The command field as a frontend sees it after each of two polls.
struct kommandofall {
    const char* text; // written into the field (100 bytes of 'x' when null)
    const char *nach1, *nach2;
};

TEST(FrontendRecord, CommandFieldClearedOnceTakenOrUnchangedForAPoll) {
    vorbereiten(0);
    sy_setclock(SY_CLOCK_AUTO, 1700000000);
    static char argv0[] = "./bin/../tandor";
    static char* argv[] = {argv0, nullptr};
    _argv = argv;
    const kommandofall faelle[] = {
        {"bogus", "bogus", ""},
        {nullptr, "x", ""},
        {":0:3000:AT+CSQ", ":0:3000:AT+CSQ", ":0:3000:AT+CSQ"},
        {"tAnDoR_pAtH", "", ""},
        {"TANDOR_CONNECT", "", ""},
        {"tandor_reconnect", "", ""},
    };
    for (const auto& f : faelle) {
        std::string r = imkind([&f] {
            tdrio_t* rec = ii_start(true);
            if (!rec) return std::string("no record");
            inidat.constart = false;
            if (f.text)
                strcpy(rec->command, f.text);
            else
                memset(rec->command, 'x', sizeof rec->command);
            bool da = ii_kommandoda();
            dateikommandoholen(false);
            std::string s1(rec->command, strnlen(rec->command, 1));
            if (f.text) s1 = rec->command;
            dateikommandoholen(false);
            std::string s2 = rec->command;
            std::string fehler;
            if (s1 != f.nach1) fehler += " first poll: " + s1;
            if (s2 != f.nach2) fehler += " second poll: " + s2;
            if (da != (f.text == nullptr || f.text[0] != ':')) fehler += " wake";
            if (f.text && !stricmp(f.text, "tandor_PATH") && strcmp(rec->answer, argv0))
                fehler += " answer " + std::string(rec->answer);
            if (f.text && !stricmp(f.text, "tandor_CONNECT") && !inidat.constart)
                fehler += " not connecting";
            if (f.text && !stricmp(f.text, "tandor_RECONNECT") && unterbrechung_gewuenscht != 2)
                fehler += " no interruption";
            return fehler;
        });
        EXPECT_EQ(r, "") << (f.text ? f.text : "100 bytes without NUL");
    }
    sy_setclock(SY_CLOCK_REAL);
}

TEST(FrontendRecord, ACommandInTheRecordEndsTheMainLoopsPause) {
    vorbereiten(0);
    sy_setclock(SY_CLOCK_REAL);
    std::string r = imkind([] {
        tdrio_t* rec = ii_start(true);
        if (!rec) return std::string("no record");
        std::string fehler;
        for (const char* k : {"tandor_CONNECT", ":0:0:AT"}) {
            rec->command[0] = 0;
            ps_pause(0);
            auto t0 = std::chrono::steady_clock::now();
            std::thread frontend([rec, k] {
                usleep(400000);
                strcpy(rec->command, k);
            });
            bool geweckt = ii_pause(1800);
            long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - t0)
                          .count();
            frontend.join();
            // A device command waits for its task and leaves the pause alone.
            bool geraet = k[0] == ':';
            if (geweckt == geraet || (geraet ? ms < 1750 : ms > 700))
                fehler += std::string(" ") + k + " " + std::to_string(ms);
        }
        return fehler;
    });
    EXPECT_EQ(r, "");
}

struct dateifall {
    const char* name;
    std::function<void(const char*)> anlegen;
    int erwartet;
    bool bleibt;
};

TEST(FrontendRecord, CommandFilesAreTakenOnlyWhenSmallRegularAndRemoved) {
    const dateifall faelle[] = {
        {"missing", [](const char*) {}, II_DATEI_KEINE, false},
        {"empty", [](const char* n) { ts_writefile(n, ""); }, II_DATEI_GENOMMEN, false},
        {"29 bytes", [](const char* n) { ts_writefile(n, std::string(29, 'a')); },
         II_DATEI_GENOMMEN, false},
        {"30 bytes", [](const char* n) { ts_writefile(n, std::string(30, 'a')); }, II_DATEI_FREMD,
         true},
        {"symlink to a small file",
         [](const char* n) {
             ts_writefile("ziel", "");
             (void)!symlink("ziel", n);
         },
         II_DATEI_FREMD, true},
        {"directory", [](const char* n) { mkdir(n, 0700); }, II_DATEI_FREMD, true},
        {"FIFO", [](const char* n) { mkfifo(n, 0600); }, II_DATEI_FREMD, true},
        // A file bind-mounted onto itself: unlink gives EBUSY even for root.
        {"unremovable",
         [](const char* n) {
             ts_writefile(n, "");
             mount(n, n, nullptr, MS_BIND, nullptr);
         },
         II_DATEI_BLEIBT, true},
    };
    for (const auto& f : faelle) {
        std::string r = imkind([&f] {
            if (ts_workdir().empty()) return std::string("workdir");
            MODUS('P') = 1;
            const char* n = "tandor_END";
            f.anlegen(n);
            int k = ii_dateikommando(n);
            struct stat st;
            bool da = lstat(n, &st) == 0;
            std::string fehler;
            if (k != f.erwartet) fehler += " kind " + std::to_string(k);
            if (da != f.bleibt) fehler += da ? " stayed" : " removed";
            if (k == II_DATEI_BLEIBT) {
                // The poll never acts on it, and says so once.
                programmende_gewuenscht = false;
                dateikommandoholen(true);
                dateikommandoholen(true);
                if (programmende_gewuenscht) fehler += " acted on";
                if (ts_count(ts_readfile("servilog.txt"), "cannot be removed") != 1)
                    fehler += " not logged once";
                umount(n);
            }
            return fehler;
        });
        EXPECT_EQ(r, "") << f.name;
    }
}

} // namespace
