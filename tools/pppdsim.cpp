// Stand-in for the system's pppd, built as a program named "pppd" for tests: it takes
// pppd's options, dials with the real chat over the given device, prints the lines a
// real pppd prints for each outcome and, when connected, holds a TUN device named ppp0.
//
// Test control (environment; the stand-in is a test tool):
//   PPPDSIM_DIR     directory with the files below (required for anything but defaults)
//   PPPDSIM_PIDDIR  directory of the pid file (default /var/run)
// Files in PPPDSIM_DIR:
//   outcomes  one outcome per start, first line taken and removed; empty means "ok";
//             "slowend N" connects and, once signalled, takes N seconds to end (as a real
//             pppd does with LCP and its ip-down scripts); "deaf" connects and then
//             ignores SIGHUP and SIGTERM
//   ignored   written by "deaf": the number of the first signal it ignored
//   args      written: the argument vector, one argument per line
//   traffic   read while connected: "rx N SIZE" writes N UDP packets into ppp0
//   status    written: "tx BYTES PACKETS" of the packets routed out of ppp0
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t ps__signal = 0;
volatile sig_atomic_t ps__ueberhoert = 0; // a signal that "deaf" ignored

void ps__fang(int s) {
    ps__signal = s;
}

void ps__taub(int s) {
    ps__ueberhoert = s;
}

std::string ps__dir() {
    const char* d = getenv("PPPDSIM_DIR");
    return d ? d : "";
}

std::string ps__lies(const std::string& pfad) {
    std::string r;
    FILE* f = fopen(pfad.c_str(), "r");
    if (!f) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        r.append(buf, n);
    fclose(f);
    return r;
}

void ps__schreib(const std::string& pfad, const std::string& inhalt) {
    std::string tmp = pfad + ".tmp";
    FILE* f = fopen(tmp.c_str(), "w");
    if (!f) return;
    fputs(inhalt.c_str(), f);
    fclose(f);
    rename(tmp.c_str(), pfad.c_str());
}

// Takes the first line of the outcomes file.
std::string ps__ausgang() {
    if (ps__dir().empty()) return "ok";
    std::string pfad = ps__dir() + "/outcomes";
    std::string s = ps__lies(pfad);
    size_t e = s.find('\n');
    std::string erste = s.substr(0, e);
    ps__schreib(pfad, e == std::string::npos ? "" : s.substr(e + 1));
    return erste.empty() ? "ok" : erste;
}

void ps__sag(const char* zeile) {
    printf("%s\n", zeile);
    fflush(stdout);
}

// Runs the connect script as pppd does: through the shell, with the device on its
// standard input and output.
int ps__chat(const std::string& skript, int geraet) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        dup2(geraet, 0);
        dup2(geraet, 1);
        execl("/bin/sh", "sh", "-c", skript.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    printf("Script %s finished (pid %d), status = 0x%x\n", skript.c_str(), static_cast<int>(pid),
           WIFEXITED(st) ? WEXITSTATUS(st) : 0x80 + WTERMSIG(st));
    fflush(stdout);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool ps__adresse(int s, unsigned long anfrage, const char* ip) {
    ifreq r{};
    strncpy(r.ifr_name, "ppp0", IFNAMSIZ - 1);
    auto* a = reinterpret_cast<sockaddr_in*>(&r.ifr_addr);
    a->sin_family = AF_INET;
    inet_pton(AF_INET, ip, &a->sin_addr);
    return ioctl(s, anfrage, &r) == 0;
}

// Creates ppp0 as a TUN device (no link-layer header, like PPP); the returned
// descriptor holds it: the interface vanishes when it closes, even on SIGKILL.
int ps__tun() {
    int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    ifreq r{};
    r.ifr_flags = IFF_TUN | IFF_NO_PI;
    strncpy(r.ifr_name, "ppp0", IFNAMSIZ - 1);
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool gut = ioctl(fd, TUNSETIFF, &r) == 0 && s >= 0 &&
               ps__adresse(s, SIOCSIFADDR, "10.64.64.64") &&
               ps__adresse(s, SIOCSIFDSTADDR, "10.64.64.1");
    if (gut) {
        ifreq f{};
        strncpy(f.ifr_name, "ppp0", IFNAMSIZ - 1);
        gut = ioctl(s, SIOCGIFFLAGS, &f) == 0;
        f.ifr_flags |= IFF_UP | IFF_RUNNING | IFF_POINTOPOINT;
        gut = gut && ioctl(s, SIOCSIFFLAGS, &f) == 0;
    }
    if (s >= 0) close(s);
    if (!gut) {
        close(fd);
        return -1;
    }
    return fd;
}

unsigned ps__pruefsumme(const unsigned char* p, size_t n) {
    unsigned long s = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        s += (p[i] << 8) | p[i + 1];
    while (s >> 16)
        s = (s & 0xFFFF) + (s >> 16);
    return ~s & 0xFFFF;
}

// One UDP packet from the peer to us, as the link would deliver it.
void ps__empfang(int tun, size_t nutzlast) {
    std::vector<unsigned char> p(28 + nutzlast, 0);
    size_t len = p.size();
    p[0] = 0x45;
    p[2] = static_cast<unsigned char>(len >> 8);
    p[3] = static_cast<unsigned char>(len);
    p[8] = 64;
    p[9] = 17;
    inet_pton(AF_INET, "10.64.64.1", &p[12]);
    inet_pton(AF_INET, "10.64.64.64", &p[16]);
    unsigned ck = ps__pruefsumme(p.data(), 20);
    p[10] = static_cast<unsigned char>(ck >> 8);
    p[11] = static_cast<unsigned char>(ck);
    p[20] = 0x30; // source port 12345
    p[21] = 0x39;
    p[22] = 0x00; // discard port 9
    p[23] = 0x09;
    p[24] = static_cast<unsigned char>((8 + nutzlast) >> 8);
    p[25] = static_cast<unsigned char>(8 + nutzlast);
    if (write(tun, p.data(), len) < 0) perror("pppd: tun write");
}

void ps__verkehr(int tun) {
    std::string pfad = ps__dir() + "/traffic";
    std::string s = ps__lies(pfad);
    if (s.empty()) return;
    ps__schreib(pfad, "");
    long n = 0, groesse = 0;
    for (size_t p = 0; p < s.size();) {
        size_t e = s.find('\n', p);
        std::string z = s.substr(p, e == std::string::npos ? std::string::npos : e - p);
        if (sscanf(z.c_str(), "rx %ld %ld", &n, &groesse) == 2)
            for (long i = 0; i < n; i++)
                ps__empfang(tun, static_cast<size_t>(groesse));
        if (e == std::string::npos) break;
        p = e + 1;
    }
}

// Connected: counts what is routed out of ppp0 and plays requested traffic until a
// signal arrives or the line hangs up (the modem's side of the pty closes, as carrier
// drops on a real line). True when the line hung up.
bool ps__verbunden(int tun, int leitung) {
    long gesendet = 0, pakete = 0;
    bool gemeldet = false;
    unsigned char buf[65536];
    while (!ps__signal) {
        if (ps__ueberhoert && !gemeldet && !ps__dir().empty()) {
            ps__schreib(ps__dir() + "/ignored", std::to_string(ps__ueberhoert) + "\n");
            gemeldet = true;
        }
        pollfd p[2] = {{tun, POLLIN, 0}, {leitung, 0, 0}};
        int r = poll(p, 2, 100);
        if (r > 0 && (p[1].revents & (POLLHUP | POLLERR | POLLNVAL))) return true;
        if (r > 0 && (p[0].revents & POLLIN)) {
            ssize_t n = read(tun, buf, sizeof buf);
            if (n > 0) {
                gesendet += n;
                pakete++;
                if (!ps__dir().empty())
                    ps__schreib(ps__dir() + "/status", "tx " + std::to_string(gesendet) + " " +
                                                           std::to_string(pakete) + "\n");
            }
        }
        if (!ps__dir().empty()) ps__verkehr(tun);
    }
    return false;
}

void ps__warte() {
    while (!ps__signal)
        pause();
}

void ps__ende() {
    if (ps__signal == SIGHUP) {
        ps__sag("Hangup (SIGHUP)");
        ps__sag("Modem hangup");
    } else {
        printf("Terminating on signal %d\n", static_cast<int>(ps__signal));
        fflush(stdout);
    }
    ps__sag("Connection terminated.");
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGHUP, ps__fang);
    signal(SIGTERM, ps__fang);
    signal(SIGINT, ps__fang);
    signal(SIGPIPE, SIG_IGN);
    dup2(1, 2);

    std::string geraet, skript, args;
    bool replace = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        args += a + "\n";
        if (a == "connect" && i + 1 < argc) {
            skript = argv[i + 1];
            args += skript + "\n";
            i++;
        } else if ((a == "user" || a == "password" || a == "child-timeout") && i + 1 < argc) {
            args += std::string(argv[i + 1]) + "\n";
            i++;
        } else if (a == "replacedefaultroute") {
            replace = true;
        } else if (a[0] == '/' && geraet.empty()) {
            geraet = a;
        }
    }
    if (!ps__dir().empty()) ps__schreib(ps__dir() + "/args", args);

    std::string ausgang = ps__ausgang();
    if (!geraet.empty() && access(geraet.c_str(), F_OK) != 0) {
        // pppd takes a name that is no device node for an option
        printf("pppd: unrecognized option '%s'\n", geraet.c_str());
        return 2;
    }
    if (ausgang == "noreplace" && replace) {
        ps__sag("pppd: unrecognized option 'replacedefaultroute'");
        return 2;
    }
    if (ausgang.rfind("locked ", 0) == 0) {
        std::string name = geraet.substr(geraet.rfind('/') + 1);
        printf("Device %s is locked by pid %s\n", name.c_str(), ausgang.c_str() + 7);
        return 8;
    }
    struct fix {
        const char* name;
        const char* zeile;
        int code;
    };
    static const fix fixe[] = {
        {"usage", "Usage: pppd [ options ], where options are:", 2},
        {"cannotread", "Cannot read /etc/ppp/options.ttyUSB0: Input/output error", 2},
        {"noppp", "Couldn't open the /dev/ppp device: No such file or directory", 4},
        {"permission", "/usr/sbin/pppd: Permission denied", 126},
        {"root", "pppd: the crtscts option requires root privilege", 2},
        {"exit", "", 1},
    };
    for (const auto& f : fixe)
        if (ausgang == f.name) {
            if (f.zeile[0]) ps__sag(f.zeile);
            return f.code;
        }
    if (ausgang == "silent") {
        ps__warte();
        return 5;
    }

    int fd = open(geraet.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        printf("Failed to open %s: %s\n", geraet.c_str(), strerror(errno));
        return 3;
    }
    int chat = skript.empty() ? 0 : ps__chat(skript, fd);
    if (chat != 0 || ausgang == "scriptfail") {
        ps__sag("Connect script failed");
        close(fd);
        return 8;
    }
    if (ausgang == "hangup") {
        ps__sag("Serial connection established.");
        ps__sag("Hangup (SIGHUP)");
        ps__sag("Modem hangup");
        ps__sag("Connection terminated.");
        close(fd);
        return 16;
    }
    ps__sag("Serial connection established.");
    ps__sag("using channel 1");
    int tun = ps__tun();
    if (tun < 0) {
        printf("Couldn't create new ppp unit: %s\n", strerror(errno));
        close(fd);
        return 1;
    }
    ps__sag("Using interface ppp0");
    printf("Connect: ppp0 <--> %s\n", geraet.c_str());
    fflush(stdout);

    const char* piddir = getenv("PPPDSIM_PIDDIR");
    std::string pidpfad = std::string(piddir ? piddir : "/var/run") + "/ppp0.pid";
    ps__schreib(pidpfad, std::to_string(getpid()) + "\nppp0\n");

    if (ausgang == "lcptimeout") {
        ps__sag("LCP: timeout sending Config-Requests");
        ps__sag("Connection terminated.");
    } else {
        ps__sag(ausgang == "chap" ? "CHAP authentication succeeded"
                                  : "PAP authentication succeeded");
        ps__sag("local  IP address 10.64.64.64");
        ps__sag("remote IP address 10.64.64.1");
        if (ausgang != "nodns") {
            ps__sag("primary   DNS address 10.11.12.13");
            ps__sag("secondary DNS address 10.11.12.14");
        }
        if (ausgang == "deaf") {
            signal(SIGHUP, ps__taub);
            signal(SIGTERM, ps__taub);
        }
        if (ps__verbunden(tun, fd)) {
            ps__sag("Modem hangup");
            ps__sag("Connection terminated.");
            unlink(pidpfad.c_str());
            close(tun);
            close(fd);
            ps__sag("Exit.");
            return 16;
        }
        ps__ende();
        int langsam = 0;
        if (sscanf(ausgang.c_str(), "slowend %d", &langsam) == 1 && langsam > 0) {
            // Further signals while it ends change nothing, as with pppd.
            signal(SIGHUP, SIG_IGN);
            signal(SIGTERM, SIG_IGN);
            sleep(static_cast<unsigned>(langsam));
        }
    }
    unlink(pidpfad.c_str());
    close(tun);
    close(fd);
    ps__sag("Exit.");
    return ausgang == "lcptimeout" ? 16 : 5;
}
