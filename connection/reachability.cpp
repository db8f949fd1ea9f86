#include "connection/reachability.h"

#include "connection/statistics.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "core/threads.h"
#include "core/webfetch.h"

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

std::atomic<bool> iz_kdfehler{false};

namespace {

std::atomic<bool> iz__dnsneu{false};
int iz__pingdelay = 0; // passes still to wait on a pause entry (main thread only)

long long iz__jetzt() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The name of the DNS echo: "www." + a letter + three groups of two base-36 digits with
// "0" and "1" between them + ".com".
std::string iz__zufallsname() {
    static std::mt19937 zufall(std::random_device{}());
    auto zwei = [](unsigned z) {
        const char* ziffern = "0123456789abcdefghijklmnopqrstuvwxyz";
        z = z % 1260 + 36;
        return std::string{ziffern[z / 36 % 36], ziffern[z % 36]};
    };
    std::string s = "www.";
    s += static_cast<char>('a' + zufall() % 26);
    s += zwei(zufall()) + "0" + zwei(zufall()) + "1" + zwei(zufall()) + ".com";
    return s;
}

} // namespace

int iz_pseudo(const char* ip) {
    if (!ip || strncmp(ip, "999.", 4) != 0) return -1;
    const char* p = ip + 4;
    long n = 0;
    int ziffern = 0;
    while (isdigit(static_cast<unsigned char>(*p)) && ziffern < 6)
        n = n * 10 + (*p++ - '0'), ziffern++;
    if (ziffern == 0) return 0;
    if (n == 111) return 111;
    return n >= 2 && n <= 99 ? static_cast<int>(n) : (n == 1 ? 1 : 0);
}

bool iz_ipok(const char* ip) {
    return ip && strncmp(ip, "999.", 4) == 0 && isdigit(static_cast<unsigned char>(ip[4]));
}

bool iz_pingziel(const char* ip, char* out, unsigned n) {
    if (!ip || !ip[0] || ip[0] == '-' || strlen(ip) > 99 || n < 100) return false;
    for (const char* p = ip; *p; p++)
        if (!isalnum(static_cast<unsigned char>(*p)) && *p != '_' && *p != '-' && *p != '.')
            return false;
    unsigned a[4];
    char rest;
    int l[4] = {0, 0, 0, 0};
    // Four dotted numbers of up to three digits each: written as decimal.
    if (sscanf(ip, "%3u%n.%3u%n.%3u%n.%3u%n%c", &a[0], &l[0], &a[1], &l[1], &a[2], &l[2], &a[3],
               &l[3], &rest) == 4 &&
        strspn(ip, "0123456789.") == strlen(ip) && a[0] < 256 && a[1] < 256 && a[2] < 256 &&
        a[3] < 256) {
        snprintf(out, n, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
        return true;
    }
    strmcpy(out, ip, n);
    return true;
}

int iz_pingsekunden(int waittime) {
    long ms = waittime < 1000 ? 1800 : static_cast<long>(waittime) + 800;
    return static_cast<int>(bereichl(ms / 1000, 1, 99));
}

bool iz_ping(const char* ip, int waittime) {
    char ziel[100];
    if (!iz_pingziel(ip, ziel, sizeof ziel)) {
        lo_slog("Ping refused: %s\n", ip ? ip : "", -1);
        return false;
    }
    int sekunden = iz_pingsekunden(waittime);
    char w[8];
    snprintf(w, sizeof w, "%d", sekunden);
    int rohr[2];
    if (pipe2(rohr, O_CLOEXEC) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(rohr[0]);
        close(rohr[1]);
        return false;
    }
    if (pid == 0) {
        // Output into the pipe, nothing else inherited; the host is one argument.
        dup2(rohr[1], 1);
        dup2(rohr[1], 2);
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, 0);
        for (int fd = 3; fd < 1024; fd++)
            close(fd);
        execlp("ping", "ping", "-q", "-c", "1", "-s", "1", "-W", w, "--", ziel,
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(rohr[1]);
    std::string aus;
    long long ende = iz__jetzt() + (sekunden + 1) * 1000L;
    bool ok = false;
    for (;;) {
        long rest = static_cast<long>(ende - iz__jetzt());
        if (rest <= 0) break;
        pollfd p{rohr[0], POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(rest > 200 ? 200 : rest));
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        char b[512];
        ssize_t m = read(rohr[0], b, sizeof b);
        if (m <= 0) break;
        if (aus.size() < 8192) aus.append(b, static_cast<size_t>(m));
        if (aus.find(" 0% packet loss") != std::string::npos) ok = true;
    }
    close(rohr[0]);
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return ok;
}

bool iz_dnsecho(const char* ip, bool warten) {
    if (!ip || !ip[0]) return false;
    lo_slog("Ping: %s\n", ip, -1);
    if (iz__dnsneu.exchange(false)) iz__pingdelay = 0;
    cn_dnsbremse = false;
    if (iz__pingdelay > 0) {
        if (--iz__pingdelay == 0) return false;
        cn_dnsbremse = true;
        return false;
    }
    int n = iz_pseudo(ip);
    if (n < 0) return iz_ping(ip, warten ? 3000 : 600);
    if (n == 111) {
        int sekunden = iz_pingsekunden(warten ? 3000 : 600);
        std::string name = iz__zufallsname();
        return iz_namensantwort(name.c_str(), (sekunden + 1) * 1000L) >= 0;
    }
    iz__pingdelay = n >= 2 ? n - 1 : 0;
    cn_dnsbremse = true;
    return false;
}

// ---- The compressor switch-off thread ----

namespace {

constexpr const char* IZ_SPEEDHOST = "speed.operator.example";
constexpr const char* IZ_SPEEDSEITE = "m?s=n";
constexpr const char* IZ_KDPROXY = "proxy.operator.example";
constexpr int IZ_KDPORT = 4201;

bool iz__ende() {
    return programmende_gewuenscht || th_queryterminate();
}
bool iz__online() {
    return onlinezeit != 0;
}
// Waits s seconds in one-second steps while online (at once when offline); false when the
// thread is to leave.
bool iz__warten(long s) {
    for (long i = 0; i < s && iz__online(); i++) {
        if (iz__ende()) return false;
        th_msleep(1000);
    }
    return !iz__ende();
}

bool iz__senden(int s, const void* d, size_t n) {
    return send(s, d, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

// Reads what arrives within ms (in 100 ms steps, ending early at the thread's end) into
// out, at most n bytes; the byte count, 0 for nothing.
size_t iz__lesen(int s, char* out, size_t n, long ms) {
    size_t gelesen = 0;
    long long ende = iz__jetzt() + ms;
    while (gelesen < n && iz__jetzt() < ende && !iz__ende()) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        ssize_t m = recv(s, out + gelesen, n - gelesen, 0);
        if (m <= 0) break;
        gelesen += static_cast<size_t>(m);
    }
    return gelesen;
}

// The proxy's hello: "bmic", the version bytes, then records of type and length (both
// big-endian) with their values.
std::string iz__hallo() {
    std::string h = "bmic";
    h += std::string("\x02\x01\x01\x01", 4);
    auto satz = [&h](unsigned typ, const std::string& wert) {
        h += static_cast<char>(typ >> 8), h += static_cast<char>(typ & 0xFF);
        h += static_cast<char>(wert.size() >> 8), h += static_cast<char>(wert.size() & 0xFF);
        h += wert;
    };
    const std::string z2("\x20\x02\x00\x00", 4);
    satz(0x8000, "6F1C2D3E-4A5B-4C6D-8E7F-0A1B2C3D4E5F");
    satz(0x1000, "2.1.6");
    satz(0x1001, "1");
    satz(0x8004, "1024");
    satz(0x8005, "768");
    satz(0x8001, "Windows XP");
    satz(0x8006, "IE");
    satz(0x8007, "Outlook Express");
    satz(0x5003, std::string("\x20\x00\x00\x00", 4));
    satz(0x5001, z2);
    satz(0x5002, z2);
    satz(0x5004, z2);
    satz(0x5000, std::string("\x20\x03\x00\x00\x20\x01\x00\x00", 8));
    satz(0x9001, std::string("\x21\x00\x00\x00\x00", 5));
    satz(0x9000, std::string("\x21\x00\x00\x00\x00\x00\x00\x00\x00", 9));
    for (unsigned t : {0x300C, 0x300B, 0x300A, 0x3009, 0x3008, 0x3007, 0x3006, 0x3003})
        satz(t, "0");
    satz(0x3002, "100");
    satz(0x3001, "100");
    satz(0x4000,
         std::string("\x74\x64\x72\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01", 17));
    return h;
}

// One request of the speed-option page; true when the operator confirms ("gespeichert").
bool iz__speedoption() {
    int s = iz_verbinden(IZ_SPEEDHOST, 80, 10000);
    if (s < 0) return false;
    char anfrage[200];
    snprintf(anfrage, sizeof anfrage, "GET /%s HTTP/1.0\r\nHost: %s\r\n\r\n", IZ_SPEEDSEITE,
             IZ_SPEEDHOST);
    static char antwort[20000];
    size_t n = iz__senden(s, anfrage, strlen(anfrage)) ? iz__lesen(s, antwort, 19999, 10000) : 0;
    close(s);
    antwort[n] = 0;
    return strstr(antwort, "gespeichert") != nullptr;
}

// The session with the compression proxy; returns when it ends.
void iz__proxysitzung() {
    lo_slog("KD 1.\n", "", -1);
    int s = iz_verbinden(IZ_KDPROXY, IZ_KDPORT, 10000);
    if (s < 0) return;
    lo_slog(_de ? "KD Sende Paket 1.\n" : "KD Sending packet 1.\n", "", -1);
    std::string hallo = iz__hallo();
    bool ok = iz__senden(s, hallo.data(), hallo.size());
    if (!ok) lo_slog("KD write error P1.\n", "", -1);
    iz__warten(1);
    lo_slog("KD 2.\n", "", -1);
    if (ok) {
        lo_slog("KD 7.\n", "", -1);
        static const char keepalive[8] = {'b', 'm', 'i', 'c', 2, 3, 0, 8};
        static char puffer[20000];
        int fehler = 0;
        while (iz__warten(8)) {
            bool kam = false;
            while (size_t n = iz__lesen(s, puffer, sizeof puffer, 1000)) {
                kam = true;
                lo_slog(_de ? "KD Empfange %s%li Bytes.\n" : "KD %s%li bytes receiced.\n", "",
                        static_cast<long>(n));
            }
            fehler = kam ? 0 : fehler + 1;
            if (fehler >= 2 || !iz__online()) break;
            lo_slog("KD thread alive. 7\n", "", -1);
            if (!iz__warten(fehler ? 60 : 480)) break;
            lo_slog("KD thread alive. 8\n", "", -1);
            lo_slog(_de ? "KD Sende Paket 2.\n" : "KD Sending packet 2.\n", "", -1);
            if (!iz__senden(s, keepalive, sizeof keepalive)) break;
            iz__warten(1);
        }
    }
    close(s);
}

// One attempt while online with the switch: the speed-option page, repeated every 8
// minutes while the operator confirms it, else the proxy session; then the report and the
// pause before the next attempt. Returns early when the program ends or rests.
void iz__kdrunde() {
    if (!iz__warten(2)) return;
    lo_slog("KD thread alive. 3\n", "", -1);
    bool erfolg = false, jemals = false;
    while (!iz__ende() && iz__online()) {
        erfolg = iz__speedoption();
        if (!erfolg) break;
        jemals = true;
        lo_slog("KD thread alive. 5\n", "", -1);
        if (!iz__warten(480)) return;
        lo_slog("KD thread alive. 6\n", "", -1);
    }
    if (!erfolg && !jemals && !iz__ende()) iz__proxysitzung();
    lo_slog(_de ? "KD Ende.\n" : "KD End.\n", "", -1);
    iz__warten(1);
    if (iz__online() && !erfolg && !iz__ende()) iz_kdfehler = true;
    if (iz__warten(30)) iz__warten(30);
}

// Lives until the threads are terminated at the program end; a rest only interrupts an
// attempt.
gpointer iz__kdthread(gpointer) {
    th_reg reg = th_register("kdthread");
    lo_slog("KD Start.\n", "", -1);
    int runde = 0;
    while (!th_queryterminate()) {
        bool g = MODUS('G');
        if (iz__online() && g && !programmende_gewuenscht) {
            iz__kdrunde();
            continue;
        }
        if (++runde % 10 == 0) lo_slog(g ? "KD thread alive. 1\n" : "KD thread alive.\n", "", -1);
        for (int i = 0; i < (g ? 3 : 30) && !th_queryterminate(); i++)
            th_msleep(500);
    }
    th_unregister(reg);
    return nullptr;
}

} // namespace

void iz_ini() {
    iz__dnsneu = true;
    cn_dnsbremse = false;
    th_create(iz__kdthread, nullptr);
}

void iz_end() {}
