// Test side of the stand-in pppd: a private network namespace for ppp0, the stand-in
// first on PATH, its control files in a scratch directory, and the process checks that
// tell whether a pppd child or a descriptor was left behind.
#pragma once

#include "testsupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

struct ts_pppdsim {
    std::string dir;

    // Enters a network namespace of this test process (lo up, IPv6 off) and puts the
    // stand-in first on PATH; false when the namespace cannot be made.
    bool start(bool standin = true) {
        dir = ts_scratchdir();
        if (unshare(CLONE_NEWNET) != 0) return false;
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        ifreq r{};
        strcpy(r.ifr_name, "lo");
        ioctl(s, SIOCGIFFLAGS, &r);
        r.ifr_flags |= IFF_UP;
        ioctl(s, SIOCSIFFLAGS, &r);
        close(s);
        // ppp0 comes later and takes the default: no IPv6 solicitations move its counters.
        ts_writefile("/proc/sys/net/ipv6/conf/all/disable_ipv6", "1\n");
        ts_writefile("/proc/sys/net/ipv6/conf/default/disable_ipv6", "1\n");
        std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
        if (standin) path = std::string(TANDOR_BINARY_DIR "/tools/bin:") + path;
        setenv("PATH", path.c_str(), 1);
        setenv("PPPDSIM_DIR", dir.c_str(), 1);
        setenv("PPPDSIM_PIDDIR", dir.c_str(), 1);
        return true;
    }
    // Outcomes of the next pppd starts, one per line.
    void outcomes(const std::string& lines) { ts_writefile(dir + "/outcomes", lines); }
    std::string args() { return ts_readfile(dir + "/args"); }
    // Asks the connected stand-in to deliver n packets of size payload bytes.
    void receive(int n, int size) {
        ts_writefile(dir + "/traffic", "rx " + std::to_string(n) + " " + std::to_string(size));
    }
    long sentbytes() {
        long b = 0, p = 0;
        sscanf(ts_readfile(dir + "/status").c_str(), "tx %ld %ld", &b, &p);
        return b;
    }
};

// Counters of an interface in /proc/net/dev; false when it is not listed.
inline bool ts_ifcounters(const char* name, long* rx, long* tx) {
    FILE* f = fopen("/proc/net/dev", "r");
    if (!f) return false;
    char z[512];
    bool da = false;
    while (!da && fgets(z, sizeof z, f)) {
        char n[64];
        long v[16];
        if (sscanf(z, " %63[^:]: %ld %ld %ld %ld %ld %ld %ld %ld %ld", n, &v[0], &v[1], &v[2],
                   &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]) == 10 &&
            strcmp(n, name) == 0) {
            *rx = v[0];
            *tx = v[8];
            da = true;
        }
    }
    fclose(f);
    return da;
}

// Children of this process named pppd, running or zombie.
inline int ts_pppdchildren() {
    int n = 0;
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        std::string st = ts_readfile(std::string("/proc/") + e->d_name + "/stat");
        size_t k = st.rfind(')');
        if (k == std::string::npos || st.find("(pppd)") == std::string::npos) continue;
        char zustand;
        int ppid = 0;
        if (sscanf(st.c_str() + k + 1, " %c %d", &zustand, &ppid) == 2 && ppid == getpid()) n++;
    }
    if (d) closedir(d);
    return n;
}

inline int ts_openfds() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (d && readdir(d))
        n++;
    if (d) closedir(d);
    return n;
}

// What the open descriptors point to, for a failure message.
inline std::string ts_fdlist() {
    std::string r;
    DIR* d = opendir("/proc/self/fd");
    while (dirent* e = d ? readdir(d) : nullptr) {
        char ziel[300] = "";
        std::string p = std::string("/proc/self/fd/") + e->d_name;
        ssize_t n = readlink(p.c_str(), ziel, sizeof ziel - 1);
        if (n > 0)
            r += std::string(" ") + e->d_name + "=" + std::string(ziel, static_cast<size_t>(n));
    }
    if (d) closedir(d);
    return r;
}

// One UDP datagram to the peer of ppp0, so it is routed out of the interface.
inline void ts_sendtopeer(int size) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(9);
    inet_pton(AF_INET, "10.64.64.1", &a.sin_addr);
    std::string daten(static_cast<size_t>(size), 'x');
    sendto(s, daten.data(), daten.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(s);
}
