// Benchmarks of the real tandor binary against the modem simulator, in a private /dev and
// network as the end-to-end tests run it (root, a display in DISPLAY):
//   tandorbench BUILDDIR start|reaction|footprint|accounting|services|ussd [--full]
//   [--realistic]
// Each prints a machine line, its figures, and lines "RESULT|benchmark|figure|goal" that
// scripts/bench.sh collects into one table. Without --full the runs are scaled down and
// say so. --realistic runs the start benchmark against a simulator that answers like a
// real stick (answers in pieces, seconds for the slow commands, a busy SIM, unsolicited
// lines): the reads' waits include the modem's latency, so the goal stays the same ratio.
// --sms adds a keyword entry, so SMS reception is on and the store is polled every fourth
// cycle. ussd times balance queries from the menu (from the simulator's "+CUSD:" line to the
// answer in the service log and in its box) and compares the offline cycle with and without
// the code dialog open.
#include "core/webfetch.h"

#include <dirent.h>
#include <sched.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string bm__build, bm__src;
bool bm__voll = false;
bool bm__realistisch = false;
bool bm__sms = false;

long long bm__jetzt() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void bm__ms(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string bm__lies(const std::string& pfad) {
    std::ifstream f(pfad, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void bm__schreib(const std::string& pfad, const std::string& text) {
    std::ofstream(pfad, std::ios::binary) << text;
}

int bm__zaehle(const std::string& s, const std::string& teil) {
    int n = 0;
    for (size_t p = s.find(teil); p != std::string::npos; p = s.find(teil, p + 1))
        n++;
    return n;
}

// Output of a shell command; the commands are the benchmark's own, with no outside input.
std::string bm__ausgabe(const std::string& befehl) {
    std::string r;
    FILE* f = popen(befehl.c_str(), "r");
    if (!f) return r;
    char b[512];
    while (fgets(b, sizeof b, f))
        r += b;
    pclose(f);
    return r;
}

int bm__spawn(const std::vector<std::string>& argv, const std::string& aus) {
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(aus.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        std::vector<char*> a;
        for (const auto& s : argv)
            a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        execvp(a[0], a.data());
        _exit(127);
    }
    return pid;
}

// Waits up to ms for the child; its status, or -1.
int bm__warte(int pid, long ms) {
    long long ende = bm__jetzt() + ms;
    int st = 0;
    while (bm__jetzt() < ende) {
        if (waitpid(pid, &st, WNOHANG) == pid) return st;
        bm__ms(10);
    }
    return -1;
}

// Polls a file every few ms until it holds text at least n times; the time it was seen.
long long bm__warteauf(const std::string& pfad, const std::string& text, long ms, int n = 1) {
    long long ende = bm__jetzt() + ms;
    while (bm__jetzt() < ende) {
        if (bm__zaehle(bm__lies(pfad), text) >= n) return bm__jetzt();
        bm__ms(5);
    }
    return -1;
}

std::string bm__maschine() {
    utsname u{};
    uname(&u);
    std::string cpu = "?";
    std::istringstream ci(bm__lies("/proc/cpuinfo"));
    for (std::string z; std::getline(ci, z);)
        if (z.rfind("model name", 0) == 0) {
            cpu = z.substr(z.find(':') + 2);
            break;
        }
    double l1 = 0, l5 = 0, l15 = 0;
    sscanf(bm__lies("/proc/loadavg").c_str(), "%lf %lf %lf", &l1, &l5, &l15);
    char t[400];
    snprintf(t, sizeof t, "%s, %ld cores, %s %s, load %.2f %.2f %.2f", cpu.c_str(),
             sysconf(_SC_NPROCESSORS_ONLN), u.sysname, u.release, l1, l5, l15);
    return t;
}

void bm__ergebnis(const char* name, const std::string& wert, const char* ziel) {
    printf("RESULT|%s%s|%s|%s\n", name, bm__sms ? ", SMS on" : "", wert.c_str(), ziel);
    fflush(stdout);
}

std::string bm__f(const char* format, double a, double b = 0, double c = 0) {
    char t[200];
    snprintf(t, sizeof t, format, a, b, c);
    return t;
}

// One simulated modem and one tandor in a private /dev and network, in a scratch
// directory that the run keeps for inspection.
struct bm_lauf {
    std::string dir, ctl;
    int sim = -1, pid = -1;
    std::string port;
    long long start = 0;

    bool modem(const char* typ, const std::vector<std::string>& mehr = {}) {
        char vorlage[] = "/tmp/tandor-bench-XXXXXX";
        dir = mkdtemp(vorlage);
        ctl = dir + "/pppd";
        mkdir(ctl.c_str(), 0755);
        std::vector<std::string> a = {bm__build + "/tools/modemsim",
                                      "--type",
                                      typ,
                                      "--pin",
                                      "1234",
                                      "--control",
                                      dir + "/simctl",
                                      "--transcript",
                                      dir + "/transcript"};
        if (bm__realistisch) a.push_back("--realistic");
        a.insert(a.end(), mehr.begin(), mehr.end());
        sim = bm__spawn(a, dir + "/modemsim.out");
        for (int i = 0; i < 100 && port.empty(); i++) {
            bm__ms(50);
            std::string s = bm__lies(dir + "/modemsim.out");
            size_t p = s.find("port ");
            if (p != std::string::npos) port = s.substr(p + 5, s.find('\n', p) - p - 5);
        }
        return !port.empty();
    }
    // form: the window form kept in the header ('1' normal window, '4' tray icon).
    void ini(const std::string& zeilen, char form = '1') {
        std::string kopf = "01 0AA000000000-0000000000001-0000000000000000000000000";
        kopf[28] = form;
        bm__schreib(dir + "/tandor.ini",
                    kopf +
                        "\nMOD=P\nLAN=English\nCOM=/dev/ttyUSB0;NONE\nCONA=SE\n"
                        "CON=\nPIN=1234\nAPN=internet.t-mobile\n" +
                        (bm__sms ? "SMS1=+49170123;START\nCMD1=tandor_CONNECT\n" : "") + zeilen);
    }
    void starte() {
        start = bm__jetzt();
        pid = bm__spawn({"unshare",
                         "-n",
                         "-i",
                         "-m",
                         "/bin/sh",
                         bm__src + "/scripts/privatedev.sh",
                         dir + "/hostdev",
                         "ttyUSB0",
                         port,
                         "--",
                         "/bin/sh",
                         bm__src + "/scripts/privatenet.sh",
                         bm__build + "/tools/bin",
                         ctl,
                         "--",
                         bm__build + "/tandor",
                         "CONN",
                         "DIR=" + dir,
                         "INSTANCE=4",
                         "NOSPLASH",
                         "MUTE"},
                        dir + "/stdout.txt");
    }
    std::string servilog() { return bm__lies(dir + "/servilog.txt"); }
    // Time of the n-th made connection, -1 when none came within ms.
    long long verbunden(int n = 1, long ms = 120000) {
        return bm__warteauf(dir + "/servilog.txt", "Connection established.", ms, n);
    }
    std::string netz(const std::string& befehl) {
        return bm__ausgabe("nsenter --net=/proc/" + std::to_string(pid) + "/ns/net " + befehl +
                           " 2>/dev/null");
    }
    // The kernel's ppp0 byte counters in tandor's network.
    bool zaehler(long long* rx, long long* tx, long long* drops = nullptr) {
        std::istringstream s(netz("cat /proc/net/dev"));
        for (std::string z; std::getline(s, z);) {
            char n[64];
            long long v[12];
            if (sscanf(z.c_str(),
                       " %63[^:]: %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld", n,
                       &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10],
                       &v[11]) == 13 &&
                strcmp(n, "ppp0") == 0) {
                *rx = v[0];
                *tx = v[8];
                if (drops) *drops = v[3] + v[11];
                return true;
            }
        }
        return false;
    }
    // The stand-in pppd that tandor started (its direct child), 0 when none runs.
    int pppd() {
        std::string s = bm__ausgabe("ps -o pid=,stat=,comm= --ppid " + std::to_string(pid));
        std::istringstream i(s);
        int p;
        std::string stat, comm;
        while (i >> p >> stat >> comm)
            if (comm == "pppd" && stat[0] != 'Z') return p;
        return 0;
    }
    // Ended, or a zombie not yet reaped by tandor.
    static bool beendet(int p) {
        std::string s = bm__lies("/proc/" + std::to_string(p) + "/stat");
        if (s.empty()) return true;
        size_t k = s.rfind(')');
        return k != std::string::npos && k + 2 < s.size() && s[k + 2] == 'Z';
    }
    std::string fenster() {
        std::string id = bm__ausgabe("xdotool search --onlyvisible --pid " + std::to_string(pid) +
                                     " --name '^tandor' 2>/dev/null | head -1");
        while (!id.empty() && id.back() == '\n')
            id.pop_back();
        return id;
    }
    // Picks a menu entry of the main window, counted from below (1 Exit ... 6 Disconnect),
    // or among those that can be chosen from the top when vonunten is negative (offline: 2
    // "Prepaid-credit?", 4 "Send USSD code..."); the Return key itself is left to the caller
    // so that it can time it.
    bool menu(int vonunten) {
        std::string w = fenster();
        if (w.empty()) return false;
        if (system(("xdotool mousemove --window " + w + " 80 20 click 3").c_str()) != 0)
            return false;
        bm__ms(700);
        std::string k = "xdotool key";
        for (int i = 0; i < (vonunten < 0 ? -vonunten : vonunten); i++)
            k += vonunten < 0 ? " Down" : " Up";
        return system(k.c_str()) == 0;
    }
    int ende(long ms = 30000) {
        if (pid <= 0) return -1;
        kill(pid, SIGTERM);
        int st = bm__warte(pid, ms);
        if (st == -1) {
            kill(pid, SIGKILL);
            bm__warte(pid, 5000);
        }
        pid = -1;
        return st;
    }
    ~bm_lauf() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            bm__warte(pid, 5000);
        }
        if (sim > 0) {
            kill(sim, SIGTERM);
            bm__warte(sim, 5000);
        }
    }
};

// ---- 1: process start to connection made, against the waits the design mandates ----
int bm_start() {
    int n = bm__voll ? 5 : 1;
    bool gut = true;
    for (const char* typ : {"3", "1"}) {
        std::string name = typ[0] == '3' ? "Huawei" : "Option";
        if (bm__realistisch) name += ", realistic modem";
        double summewand = 0, summesoll = 0;
        for (int i = 0; i < n; i++) {
            bm_lauf l;
            if (!l.modem(typ)) return 1;
            l.ini("");
            l.starte();
            long long t = l.verbunden();
            if (t < 0) {
                printf("start %s: no connection within 120 s (%s)\n", name.c_str(), l.dir.c_str());
                gut = false;
                break;
            }
            long schlaf = -1, lesen = -1;
            std::string s = l.servilog();
            size_t p = s.find("Mandated waits:");
            if (p != std::string::npos)
                sscanf(s.c_str() + p, "Mandated waits: sleeps %ld ms, reads %ld ms", &schlaf,
                       &lesen);
            long wand = static_cast<long>(t - l.start);
            printf("start %s run %d: %ld ms to connected; mandated: sleeps %ld ms + reads %ld ms "
                   "= %ld ms; ratio %.3f\n",
                   name.c_str(), i + 1, wand, schlaf, lesen, schlaf + lesen,
                   double(wand) / double(schlaf + lesen));
            summewand += wand;
            summesoll += schlaf + lesen;
            l.ende();
        }
        if (summesoll > 0)
            bm__ergebnis(("start to connected, " + name).c_str(),
                         bm__f("%.1f s / %.1f s mandated = ratio %.3f", summewand / n / 1000,
                               summesoll / n / 1000, summewand / summesoll) +
                             (n > 1 ? " (mean of " + std::to_string(n) + ")" : ""),
                         "ratio <= 1.10");
    }
    return gut ? 0 : 1;
}

// Time from an action to the end of the stand-in pppd, in ms (-1 when it did not end).
long bm__bispppdende(int pppd, long long t0) {
    while (!bm_lauf::beendet(pppd)) {
        if (bm__jetzt() - t0 > 30000) return -1;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return static_cast<long>(bm__jetzt() - t0);
}

void bm__statistik(const char* name, std::vector<long> z) {
    if (z.empty()) return;
    std::sort(z.begin(), z.end());
    double median = z.size() % 2 ? z[z.size() / 2] : (z[z.size() / 2 - 1] + z[z.size() / 2]) / 2.0;
    printf("%s: %zu runs, median %.0f ms, worst %ld ms\n", name, z.size(), median, z.back());
    bm__ergebnis(name,
                 bm__f("median %.0f ms, worst %.0f ms", median, double(z.back())) + " (" +
                     std::to_string(z.size()) + " runs)",
                 "against the 1800 ms cycle");
}

// ---- 2: menu "Disconnect" and SIGTERM to the end of pppd ----
int bm_reaktion() {
    int n = bm__voll ? 20 : 3;
    if (!bm__voll) printf("reaction: scaled down to %d runs each (--full: 20)\n", n);
    std::vector<long> menu, term;
    {
        // One program: "Disconnect", then "Connect automatically" from the menu, n times.
        bm_lauf l;
        if (!l.modem("3")) return 1;
        l.ini("");
        l.starte();
        for (int i = 0; i < n; i++) {
            if (l.verbunden(i + 1) < 0) {
                printf("reaction: connection %d not made (%s)\n", i + 1, l.dir.c_str());
                break;
            }
            bm__ms(2500);
            int p = l.pppd();
            if (!p || !l.menu(6)) {
                printf("reaction: no pppd or no menu (%s)\n", l.dir.c_str());
                break;
            }
            bm__ms(300);
            long long t0 = bm__jetzt();
            if (system("xdotool key Return") != 0) break;
            long ms = bm__bispppdende(p, t0);
            printf("menu disconnect %d: %ld ms\n", i + 1, ms);
            if (ms < 0) break;
            menu.push_back(ms);
            if (i + 1 < n) {
                // Offline, automatic connection off: "Connect" and "Disconnect" are greyed
                // and skipped, so five steps up reach "Connect automatically".
                bm__ms(3000);
                if (!l.menu(5)) break;
                bm__ms(300);
                if (system("xdotool key Return") != 0) break;
            }
        }
        l.ende();
    }
    for (int i = 0; i < n; i++) {
        bm_lauf l;
        if (!l.modem("3")) return 1;
        l.ini("");
        l.starte();
        if (l.verbunden() < 0) {
            printf("reaction: no connection (%s)\n", l.dir.c_str());
            break;
        }
        bm__ms(2500);
        int p = l.pppd();
        if (!p) break;
        long long t0 = bm__jetzt();
        kill(l.pid, SIGTERM);
        long ms = bm__bispppdende(p, t0);
        printf("SIGTERM %d: %ld ms\n", i + 1, ms);
        if (ms < 0) break;
        term.push_back(ms);
        bm__warte(l.pid, 30000);
        l.pid = -1;
    }
    bm__statistik("menu Disconnect to pppd end", menu);
    bm__statistik("SIGTERM to pppd end", term);
    return menu.size() == size_t(n) && term.size() == size_t(n) ? 0 : 1;
}

struct bm__cpu {
    long long ns = 0; // run time of all threads, from the scheduler's nanosecond account
    long hwm = 0, rss = 0;
    std::map<std::string, long long> faeden; // "tid name" -> ns of that thread
};

// Run time of one thread in ns (first field of its schedstat) and its name.
long long bm__laufzeit(const std::string& taskdir, std::string* name) {
    std::string c = bm__lies(taskdir + "/comm");
    while (!c.empty() && c.back() == '\n')
        c.pop_back();
    *name = c;
    return atoll(bm__lies(taskdir + "/schedstat").c_str());
}

bm__cpu bm__prozess(int pid) {
    bm__cpu r;
    std::string p = "/proc/" + std::to_string(pid);
    if (DIR* d = opendir((p + "/task").c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::string name;
            long long t = bm__laufzeit(p + "/task/" + e->d_name, &name);
            r.faeden[std::string(e->d_name) + " " + name] = t;
        }
        closedir(d);
    }
    std::istringstream st(bm__lies("/proc/" + std::to_string(pid) + "/status"));
    for (std::string z; std::getline(st, z);)
        if (z.rfind("VmHWM:", 0) == 0)
            r.hwm = atol(z.c_str() + 6);
        else if (z.rfind("VmRSS:", 0) == 0)
            r.rss = atol(z.c_str() + 6);
    return r;
}

// A frontend peer as another program would be one: in tandor's IPC namespace it attaches
// to the record (key of INSTANCE=4) read only and copies it every 250 ms until it is ended.
// It knows the record by the published x86-64 layout only: 1064 bytes, the change counter
// at offset 144. Its pid; the counter it saw last goes to aus.
int bm__peer(int tandor, const std::string& aus) {
    pid_t p = fork();
    if (p != 0) return p;
    FILE* f = fopen(aus.c_str(), "w");
    int ns = open(("/proc/" + std::to_string(tandor) + "/ns/ipc").c_str(), O_RDONLY);
    if (ns < 0 || setns(ns, CLONE_NEWIPC) != 0) _exit(1);
    const key_t key = static_cast<key_t>(0x515256F0 + 4);
    unsigned char* r = nullptr;
    for (int i = 0; i < 100 && !r; i++) {
        int id = shmget(key, 0, 0);
        void* a = id < 0 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, SHM_RDONLY);
        if (a != reinterpret_cast<void*>(-1))
            r = static_cast<unsigned char*>(a);
        else
            usleep(100000);
    }
    if (!r) _exit(1);
    unsigned char kopie[1064];
    for (long n = 1;; n++) {
        unsigned long zaehler =
            __atomic_load_n(reinterpret_cast<unsigned long*>(r + 144), __ATOMIC_ACQUIRE);
        memcpy(kopie, r, sizeof kopie);
        if (f && n % 20 == 0) {
            rewind(f);
            fprintf(f, "polls %ld counter %lu\n", n, zaehler);
            fflush(f);
        }
        usleep(250000);
    }
}

// ---- 3: CPU time and peak resident memory while connected with steady traffic ----
// In the tray-icon form on a foreign network: the main icon is repainted with every rate
// change and the warning icon flashes once a second, each with a new picture. A frontend
// peer polls the record meanwhile, and a CONTROL copy mirrors it, whose share is measured
// over the same time.
int bm_fussabdruck() {
    long sekunden = bm__voll ? 300 : 60;
    if (!bm__voll)
        printf("footprint: scaled down to %ld s connected (--full: 5 minutes)\n", sekunden);
    bm_lauf l;
    if (!l.modem("3", {"--network", "Fremdnetz", "26203"})) return 1;
    l.ini("DAY=01;01\nRND=1;1\nNET=;T-Mobile D;26201\nICON=2\n", '4');
    l.starte();
    if (l.verbunden() < 0) {
        printf("footprint: no connection (%s)\n", l.dir.c_str());
        return 1;
    }
    bm__ms(2000);
    bool warnung = false;
    for (int i = 0; i < 20 && !warnung; i++, bm__ms(500))
        warnung = !bm__ausgabe("xdotool search --classname tandor-warning 2>/dev/null").empty();
    printf("footprint: tray icon form, warning icon %s\n", warnung ? "flashing" : "NOT SHOWN");
    // Beside it: a frontend peer polling the record, and a CONTROL copy (normal window) in
    // the same IPC namespace mirroring it.
    int peer = bm__peer(l.pid, l.dir + "/peer.txt");
    std::string cdir = l.dir + "/control";
    mkdir(cdir.c_str(), 0755);
    bm__schreib(cdir + "/tandor.ini",
                "01 0AA000000000-0000000000001-0000000000000000000000000\nMOD=P\nLAN=English\n");
    int control = bm__spawn({"nsenter", "-i", "-t", std::to_string(l.pid), bm__build + "/tandor",
                             "CONTROL", "DIR=" + cdir, "INSTANCE=4", "NOSPLASH", "MUTE"},
                            l.dir + "/control.out");
    // The control program writes no logs: its window title carries the mirrored warning
    // icon's code ("[$" or "[!!") once it shows the running copy.
    bool gespiegelt = false;
    for (int i = 0; i < 100 && !gespiegelt; i++, bm__ms(200)) {
        std::string t =
            bm__ausgabe("for w in $(xdotool search --onlyvisible --pid " + std::to_string(control) +
                        " 2>/dev/null); do xdotool getwindowname $w; done");
        gespiegelt = t.find("[$") != std::string::npos || t.find("[!!") != std::string::npos;
    }
    printf("footprint: CONTROL copy %s\n", gespiegelt ? "mirrors the record" : "NOT ATTACHED");
    bm__ms(2000);
    bm__cpu a = bm__prozess(l.pid);
    bm__cpu ca = bm__prozess(control);
    long long t0 = bm__jetzt();
    // About 100 kB/s each way: 100 datagrams of 1,000 bytes per second.
    while (bm__jetzt() - t0 < sekunden * 1000) {
        bm__schreib(l.ctl + "/traffic", "rx 100 1000\n");
        l.netz("bash -c 'for i in $(seq 100); do printf %01000d 0 >/dev/udp/10.64.64.1/9; "
               "done'");
        bm__ms(1000 - (bm__jetzt() - t0) % 1000);
    }
    bm__cpu b = bm__prozess(l.pid);
    bm__cpu cb = bm__prozess(control);
    double dauer = double(bm__jetzt() - t0) / 1000;
    std::string peerstand = bm__lies(l.dir + "/peer.txt");
    while (!peerstand.empty() && peerstand.back() == '\n')
        peerstand.pop_back();
    printf("footprint: peer %s\n", peerstand.empty() ? "NOT ATTACHED" : peerstand.c_str());
    kill(peer, SIGKILL);
    bm__warte(peer, 5000);
    kill(control, SIGTERM);
    if (bm__warte(control, 15000) == -1) {
        kill(control, SIGKILL);
        bm__warte(control, 5000);
    }
    long long controlns = 0;
    std::vector<std::pair<std::string, long long>> controlanteile;
    for (const auto& [faden, t] : cb.faeden) {
        auto vor = ca.faeden.find(faden);
        controlanteile.emplace_back(faden, t - (vor == ca.faeden.end() ? 0 : vor->second));
        controlns += controlanteile.back().second;
    }
    long long rx = 0, tx = 0;
    l.zaehler(&rx, &tx);
    // Each thread alive at the end, with what it ran in between (one started in between
    // counts from zero), and their sum.
    std::vector<std::pair<std::string, long long>> anteile;
    for (const auto& [faden, t] : b.faeden) {
        auto vor = a.faeden.find(faden);
        anteile.emplace_back(faden, t - (vor == a.faeden.end() ? 0 : vor->second));
        b.ns += anteile.back().second;
    }
    double cpus = double(b.ns) / 1e9;
    double prozent = cpus / dauer * 100;
    printf("footprint: %.0f s connected, %lld bytes in, %lld bytes out; CPU %.2f s = %.2f s per "
           "minute = %.3f %% of one core; peak RSS %ld kB\n",
           dauer, rx, tx, cpus, cpus / dauer * 60, prozent, b.hwm);
    for (const auto& [faden, d] : anteile)
        if (d > 0) printf("footprint: thread %s: %.1f ms\n", faden.c_str(), double(d) / 1e6);
    std::string skala = bm__voll ? "" : " (60 s run)";
    bm__ergebnis("CPU while connected, peer polling the record",
                 bm__f("%.2f s/min = %.3f %% of one core", cpus / dauer * 60, prozent) + skala,
                 "< 0.2 % of one core");
    double cprozent = double(controlns) / 1e9 / dauer * 100;
    printf("footprint: CONTROL copy: CPU %.2f s = %.3f %% of one core; peak RSS %ld kB\n",
           double(controlns) / 1e9, cprozent, cb.hwm);
    for (const auto& [faden, d] : controlanteile)
        if (d > 0)
            printf("footprint: CONTROL thread %s: %.1f ms\n", faden.c_str(), double(d) / 1e6);
    bm__ergebnis(
        "CPU of an idle CONTROL copy mirroring it",
        bm__f("%.2f s/min = %.3f %% of one core", double(controlns) / 1e9 / dauer * 60, cprozent) +
            skala,
        "< 0.2 % of one core");
    bm__ergebnis("peak resident memory",
                 bm__f("%.1f MB; resident %.1f MB at the start, %.1f MB at the end", b.hwm / 1024.0,
                       a.rss / 1024.0, b.rss / 1024.0) +
                     skala,
                 "< 30 MB, flat");
    l.ende();
    return 0;
}

// ---- 4: bytes through ppp0 against the kB tandor counts and stores ----
long long bm__kopfkb(const std::string& ini) {
    return atoll(ini.substr(6, 9).c_str());
}

// Pushes bytes each way through ppp0 in datagrams of 60 kB, in bursts of 100 that the
// stand-in has taken in (rx) and the interface queue can hold (tx), so that nothing is
// dropped: drops count as link errors and end the link. That stays far below the
// plausibility bound of a statistics pass (1.25 GB/s).
void bm__schiebe(bm_lauf& l, long long bytes) {
    const long long nutz = 60000, paket = nutz + 28, stoss = 100;
    long long n = bytes / paket, rest = bytes % paket;
    std::string helfer = bm__build + "/tests/helper_netns " + std::to_string(l.pid) + " send ";
    while (n > 0 || rest > 28) {
        long long k = std::min(n, stoss);
        std::string rx = k ? "rx " + std::to_string(k) + " " + std::to_string(nutz) + "\n" : "";
        if (!k) rx = "rx 1 " + std::to_string(rest - 28) + "\n";
        bm__schreib(l.ctl + "/traffic", rx);
        for (int i = 0; i < 2000 && !bm__lies(l.ctl + "/traffic").empty(); i++)
            bm__ms(2);
        l.netz(helfer + (k ? std::to_string(k) + " " + std::to_string(nutz)
                           : "1 " + std::to_string(rest - 28)));
        if (k)
            n -= k;
        else
            rest = 0;
        bm__ms(20);
    }
}

// Waits until the counters stand still for two statistics passes; returns rx+tx.
long long bm__ruhig(bm_lauf& l) {
    long long rx = 0, tx = 0, alt = -1;
    for (int i = 0; i < 60; i++) {
        l.zaehler(&rx, &tx);
        if (rx + tx == alt) break;
        alt = rx + tx;
        bm__ms(1000);
    }
    bm__ms(4000);
    long long drops = 0;
    if (!l.zaehler(&rx, &tx, &drops)) printf("accounting: ppp0 is gone\n");
    if (drops) printf("accounting: the kernel dropped %lld packets\n", drops);
    return rx + tx;
}

int bm_abrechnung() {
    std::vector<long long> mengen = {1000, 100000, 10000000, 300000000};
    if (bm__voll) mengen.push_back(3000000000LL);
    printf("accounting: up to %lld bytes each way per step%s\n", mengen.back(),
           bm__voll ? "" : " (--full: up to 3 GB)");
    bm_lauf l;
    if (!l.modem("3")) return 1;
    l.ini("DAY=01;01\nRND=1;1\n");
    long long kernel = 0;
    int verbindung = 0;
    // Three links: one ended by a line drop (pppd hangs up), one by the program's end,
    // one after a restart of the program.
    for (int lauf = 0; lauf < 2; lauf++) {
        l.starte();
        for (int v = 0; v < (lauf == 0 ? 2 : 1); v++) {
            if (l.verbunden(++verbindung) < 0) {
                printf("accounting: connection %d not made (%s)\n", verbindung, l.dir.c_str());
                return 1;
            }
            bm__ms(2000);
            l.netz("ip link set ppp0 mtu 65535 txqueuelen 10000");
            for (long long m : mengen)
                bm__schiebe(l, m);
            long long k = bm__ruhig(l);
            printf("accounting: link %d carried %lld bytes (kernel, both ways)\n", verbindung, k);
            kernel += k;
            if (lauf == 0 && v == 0) {
                int p = l.pppd();
                if (p) kill(p, SIGHUP);
            }
        }
        l.ende();
    }
    std::string ini = bm__lies(l.dir + "/tandor.ini");
    long long kb = bm__kopfkb(ini);
    std::string log = l.servilog();
    int schreiben = bm__zaehle(log, "Header in INI-file is going to be rewritten.");
    // The rules: every header write folds the whole kB and restarts the pending bytes at
    // 750 (a started kB is complete after 250 further bytes), each program start begins
    // with 999 pending; so each write moves the stored figure by -249..+750 bytes and each
    // start by +249.
    long long d = kb * 1000 - kernel;
    long long unten = 249LL * 2 - 249LL * schreiben, oben = 249LL * 2 + 750LL * schreiben;
    bool gut = d >= unten && d <= oben;
    printf("accounting: kernel %lld bytes, stored %lld kB; difference %+lld bytes, the rounding "
           "rules allow %+lld..%+lld bytes (%d header writes, 2 starts): %s\n",
           kernel, kb, d, unten, oben, schreiben, gut ? "within" : "OUTSIDE");
    char w[200];
    snprintf(w, sizeof w, "%lld bytes -> %lld kB stored, difference %+lld bytes %s", kernel, kb, d,
             gut ? "(within the rounding)" : "(BEYOND the rounding)");
    char z[120];
    snprintf(z, sizeof z, "difference within %+lld..%+lld bytes", unten, oben);
    bm__ergebnis("accounting accuracy", w, z);
    return gut ? 0 : 1;
}

// ---- 5: the web fetch on loopback, and the cycle of an idle connected link with probes ----
// Peak resident memory in kB (after clear_refs 5 resets it, the peak since then).
long bm__spitze() {
    std::istringstream st(bm__lies("/proc/self/status"));
    for (std::string z; std::getline(st, z);)
        if (z.rfind("VmHWM:", 0) == 0) return atol(z.c_str() + 6);
    return 0;
}

// In a child of its own network: the web stand-in on loopback, 100 fetches of a 2 kB page,
// then one of a 10 MB page with the peak memory it adds.
int bm__web() {
    pid_t kind = fork();
    if (kind == 0) {
        if (unshare(CLONE_NEWNET) != 0 || system("ip link set lo up") != 0) _exit(1);
        char vorlage[] = "/tmp/tandor-bench-web-XXXXXX";
        std::string dir = mkdtemp(vorlage);
        bm__schreib(dir + "/seite.html", std::string(2048, 'x'));
        int sim =
            bm__spawn({bm__build + "/tools/bin/httpsim", "--pages", dir, "--pidfile", dir + "/pid"},
                      dir + "/httpsim.out");
        for (int i = 0; i < 50 && bm__lies(dir + "/pid").empty(); i++)
            bm__ms(100);
        std::vector<long> us;
        for (int i = 0; i < 100; i++) {
            auto t0 = std::chrono::steady_clock::now();
            char* a = iz_httpget("127.0.0.1/seite.html", nullptr, nullptr, 2, 0, false);
            us.push_back((long)std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - t0)
                             .count());
            if (!a || !strstr(a, "xxxx")) {
                printf("web: fetch %d failed\n", i);
                _exit(1);
            }
            free(a);
        }
        std::sort(us.begin(), us.end());
        bm__schreib("/proc/self/clear_refs", "5");
        long vor = bm__spitze();
        char* a = iz_httpget("127.0.0.1/big10m", nullptr, nullptr, 2, 0, false);
        size_t n = a ? strlen(a) : 0;
        free(a);
        long nach = bm__spitze();
        kill(sim, SIGTERM);
        bm__warte(sim, 3000);
        printf("web: 2 kB page: median %.2f ms, worst %.2f ms (100 fetches); 10 MB page: %zu "
               "bytes kept, peak resident +%ld kB\n",
               us[50] / 1000.0, us.back() / 1000.0, n, nach - vor);
        bm__ergebnis("web fetch of a 2 kB page, loopback",
                     bm__f("median %.2f ms, worst %.2f ms (100 fetches)", us[50] / 1000.0,
                           us.back() / 1000.0),
                     "< 50 ms");
        bm__ergebnis("web fetch of a 10 MB page",
                     bm__f("peak resident +%.0f kB", double(nach - vor)), "< 1 MB added");
        fflush(stdout);
        _exit(0);
    }
    int st = bm__warte(kind, 120000);
    return st == 0 ? 0 : 1;
}

// The main loop's cycle on an idle connected link that is probed every pass (PING=127.0.0.1):
// the spacing of the probes' log lines (the service log's tenth-second counter).
int bm__zyklus() {
    bm_lauf l;
    if (!l.modem("3")) return 1;
    l.ini("PING=127.0.0.1\n");
    l.starte();
    if (l.verbunden() < 0) {
        printf("services: no connection (%s)\n", l.dir.c_str());
        return 1;
    }
    int n = bm__voll ? 60 : 20;
    bm__warteauf(l.dir + "/servilog.txt", "Ping: 127.0.0.1", 30000 + n * 4000L, n + 1);
    std::vector<long> abstand;
    long vorher = -1;
    std::istringstream log(l.servilog());
    for (std::string z; std::getline(log, z);) {
        if (z.find("Ping: 127.0.0.1") == std::string::npos) continue;
        long t = atol(z.c_str()); // tenths of a second, modulo 1000
        if (vorher >= 0) abstand.push_back((t - vorher + 1000) % 1000 * 100);
        vorher = t;
    }
    l.ende();
    if (abstand.size() < 5) {
        printf("services: only %zu probes\n", abstand.size());
        return 1;
    }
    std::sort(abstand.begin(), abstand.end());
    printf("services: %zu probed cycles, median %ld ms, worst %ld ms\n", abstand.size(),
           abstand[abstand.size() / 2], abstand.back());
    bm__ergebnis("main-loop cycle, idle link probed by ping",
                 bm__f("median %.0f ms, worst %.0f ms", double(abstand[abstand.size() / 2]),
                       double(abstand.back())) +
                     " (" + std::to_string(abstand.size()) + " cycles)",
                 "< 2.8 s");
    return 0;
}

// ---- 6: USSD: from the network's answer to the result, and the cycle beside the dialog ----
// Milliseconds of the UTC day, now and of a transcript line's "hh:mm:ss.mmm".
long bm__tagesms() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return long(t.tv_sec % 86400) * 1000 + t.tv_nsec / 1000000;
}
long bm__zeilenms(const std::string& z) {
    int h, m, s, ms;
    if (sscanf(z.c_str(), "%d:%d:%d.%d", &h, &m, &s, &ms) != 4) return -1;
    return ((h * 60L + m) * 60 + s) * 1000 + ms;
}

// Times of the transcript lines of one direction ('<' from the program, '>' from the
// simulator) that hold text.
std::vector<long> bm__zeiten(const std::string& pfad, char richtung, const std::string& text) {
    std::vector<long> r;
    std::istringstream s(bm__lies(pfad));
    for (std::string z; std::getline(s, z);)
        if (z.size() > 15 && z[13] == richtung && z.find(text, 15) != std::string::npos)
            r.push_back(bm__zeilenms(z));
    return r;
}

// One line to the simulator's control file; it empties the file once it has taken it.
void bm__steuer(const bm_lauf& l, const std::string& zeile) {
    bm__schreib(l.dir + "/simctl", zeile + "\n");
    for (int i = 0; i < 200 && !bm__lies(l.dir + "/simctl").empty(); i++)
        bm__ms(10);
}

// A visible window of the program whose title matches name; "" when there is none.
std::string bm__fenster(const bm_lauf& l, const std::string& name) {
    std::string id =
        bm__ausgabe("xdotool search --all --onlyvisible --pid " + std::to_string(l.pid) +
                    " --name '" + name + "' 2>/dev/null | head -1");
    while (!id.empty() && id.back() == '\n')
        id.pop_back();
    return id;
}

// Closes a box as a user would (Return on the focused box; Escape sent to it when the key
// does not reach it) and waits until it is gone.
bool bm__schliesse(const bm_lauf& l, const std::string& w, const std::string& name) {
    for (const std::string& weg : {"xdotool windowactivate --sync " + w + " key Return",
                                   "xdotool key --window " + w + " Escape"}) {
        system((weg + " >/dev/null 2>&1").c_str());
        for (int i = 0; i < 40; i++, bm__ms(50))
            if (bm__fenster(l, name) != w) return true;
    }
    return false;
}

// Median spacing of the loop's signal queries between a and b (ms of the day); -1 with
// fewer than three.
long bm__signalabstand(const bm_lauf& l, long a, long b) {
    std::vector<long> t, d;
    for (long z : bm__zeiten(l.dir + "/transcript", '<', "AT+CSQ"))
        if (z >= a && z <= b) t.push_back(z);
    for (size_t i = 1; i < t.size(); i++)
        d.push_back(t[i] - t[i - 1]);
    if (d.size() < 2) return -1;
    std::sort(d.begin(), d.end());
    return d[d.size() / 2];
}

int bm_ussd() {
    int n = bm__voll ? 20 : 5;
    long sekunden = bm__voll ? 60 : 20;
    if (!bm__voll) printf("ussd: scaled down to %d queries, %ld s per cycle sample\n", n, sekunden);
    bm_lauf l;
    if (!l.modem("3", {"--signal", "15"})) return 1;
    // Offline, with a command port of its own: the prepaid entries can be chosen.
    bm__schreib(l.dir + "/tandor.ini",
                "01 0AA000000000-0000000000001-0000000000000000000000000\nMOD=P\nLAN=English\n"
                "COM=/dev/ttyUSB0\nCONA=E\nPIN=1234\nAPN=internet.t-mobile\n");
    bm__steuer(l, "ussd Guthaben: 5,00 EUR");
    l.starte();
    if (bm__warteauf(l.dir + "/servilog.txt", "Permitted to connect.", 60000) < 0) {
        printf("ussd: not permitted to connect (%s)\n", l.dir.c_str());
        return 1;
    }
    bm__ms(2000);
    std::vector<long> log, box;
    for (int i = 0; i < n; i++) {
        if (!l.menu(-2) || system("xdotool key Return") != 0) break;
        if (bm__warteauf(l.dir + "/servilog.txt", "Answer from network:", 30000, i + 1) < 0) {
            printf("ussd: no answer to query %d (%s)\n", i + 1, l.dir.c_str());
            break;
        }
        long imlog = bm__tagesms();
        std::string w;
        for (int k = 0; k < 400 && (w = bm__fenster(l, "Credit Query")).empty(); k++)
            bm__ms(5);
        long inbox = bm__tagesms();
        std::vector<long> antwort = bm__zeiten(l.dir + "/transcript", '>', "+CUSD:");
        if (antwort.size() < size_t(i + 1) || w.empty()) {
            printf("ussd: query %d: no +CUSD: line or no box (%s)\n", i + 1, l.dir.c_str());
            break;
        }
        log.push_back(imlog - antwort[size_t(i)]);
        box.push_back(inbox - antwort[size_t(i)]);
        printf("ussd: query %d: +CUSD: to the service log %ld ms, to the box %ld ms\n", i + 1,
               log.back(), box.back());
        if (!bm__schliesse(l, w, "Credit Query")) {
            printf("ussd: the box does not close (%s)\n", l.dir.c_str());
            break;
        }
        bm__ms(1500);
    }
    // The loop's cycle by its signal queries: a while without dialog, a while with the code
    // dialog open.
    long a = bm__tagesms();
    bm__ms(sekunden * 1000);
    long zu = bm__signalabstand(l, a, bm__tagesms());
    long offen = -1;
    std::string dialog;
    if (l.menu(-4) && system("xdotool key Return") == 0)
        for (int k = 0; k < 100 && (dialog = bm__fenster(l, "[Cc]ode$")).empty(); k++)
            bm__ms(100);
    if (!dialog.empty()) {
        a = bm__tagesms();
        bm__ms(sekunden * 1000);
        offen = bm__signalabstand(l, a, bm__tagesms());
        bm__schliesse(l, dialog, "[Cc]ode$");
    } else
        printf("ussd: the code dialog did not open (%s)\n", l.dir.c_str());
    printf("ussd: signal query every %ld ms without dialog, %ld ms with the code dialog open\n", zu,
           offen);
    l.ende();
    if (log.empty()) return 1;
    std::sort(log.begin(), log.end());
    std::sort(box.begin(), box.end());
    bm__ergebnis("USSD answer (+CUSD:) to the service log / the box",
                 bm__f("median %.0f / %.0f ms, worst %.0f", double(log[log.size() / 2]),
                       double(box[box.size() / 2]), double(std::max(log.back(), box.back()))) +
                     " ms (" + std::to_string(log.size()) + " queries)",
                 "< 1 s");
    bm__ergebnis("main-loop cycle offline, without / with the code dialog open",
                 bm__f("%.0f ms / %.0f ms", double(zu), double(offen)) + " (median spacing of "
                                                                         "AT+CSQ)",
                 "unchanged");
    return log.size() == size_t(n) && offen > 0 ? 0 : 1;
}

int bm_dienste() {
    int a = bm__zyklus();
    int b = bm__web();
    return a || b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr,
                "usage: tandorbench BUILDDIR start|reaction|footprint|accounting|services|ussd "
                "[--full]\n");
        return 2;
    }
    char voll[PATH_MAX];
    bm__build = realpath(argv[1], voll) ? voll : argv[1];
    bm__src = TANDOR_SOURCE_DIR;
    for (int i = 3; i < argc; i++) {
        if (strcmp(argv[i], "--full") == 0) bm__voll = true;
        if (strcmp(argv[i], "--realistic") == 0) bm__realistisch = true;
        if (strcmp(argv[i], "--sms") == 0) bm__sms = true;
    }
    signal(SIGPIPE, SIG_IGN);
    std::string was = argv[2];
    printf("machine: %s\n", bm__maschine().c_str());
    printf("MACHINE|%s\n", bm__maschine().c_str());
    fflush(stdout);
    int r = 2;
    if (was == "start") r = bm_start();
    if (was == "reaction") r = bm_reaktion();
    if (was == "footprint") r = bm_fussabdruck();
    if (was == "accounting") r = bm_abrechnung();
    if (was == "services") r = bm_dienste();
    if (was == "ussd") r = bm_ussd();
    printf("machine after the run: load %s", bm__lies("/proc/loadavg").c_str());
    return r;
}
