// Ini-file access from processes of their own, for the crash and lock tests.
//   writer DIR            rewrite the file and its header in a loop, counters rising
//   reader DIR SECONDS    read the file under the lock in a loop; exits 1 (with the reason
//                         on stdout) when the file does not parse or a counter went back
//   header DIR VALUE GO   wait for the file GO, then write the header with headerv VALUE
//   hold DIR SECONDS      hold the ini file open (and so the lock) for SECONDS
#include "config/header.h"
#include "config/inifile.h"
#include "core/programstate.h"
#include "core/system.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

long zahl(const char* s, int n) {
    long v = 0;
    for (int i = 0; i < n; i++) {
        if (s[i] < '0' || s[i] > '9') return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

int reader(long sekunden) {
    long vmax = -1, tmax = -1;
    auto ende = std::chrono::steady_clock::now() + std::chrono::seconds(sekunden);
    long runden = 0;
    while (std::chrono::steady_clock::now() < ende) {
        if (!iv_iniopen("rt")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        std::string inhalt;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, iv_inifile())) > 0)
            inhalt.append(buf, n);
        iv_iniclose();
        runden++;
        if (!hd_valid(inhalt.c_str())) {
            printf("invalid header after %ld reads: %.60s\n", runden, inhalt.c_str());
            return 1;
        }
        if (inhalt.find("\n43 REM=") == std::string::npos) {
            printf("file cut short after %ld reads (%zu bytes)\n", runden, inhalt.size());
            return 1;
        }
        long v = zahl(inhalt.c_str() + 6, 9), t = zahl(inhalt.c_str() + 31, 6);
        if (v < vmax || t < tmax) {
            printf("counter went back: v %ld after %ld, t %ld after %ld\n", v, vmax, t, tmax);
            return 1;
        }
        vmax = v;
        tmax = t;
    }
    printf("ok %ld reads, last v %ld\n", runden, vmax);
    return 0;
}

// Starts from the counters in the file, so that a restarted writer goes on from there.
void writer() {
    sy_setclock(SY_CLOCK_AUTO, time(nullptr));
    char* argv[] = {(char*)"CONN", nullptr};
    _argc = 1;
    _argv = argv;
    for (;;) {
        if (iv_iniparse() < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        inidat.day = 1;
        inidat.dayt = 1;
        inidat.headerv += 1;
        inidat.headert += 1;
        iv_iniwrite();
        inidat.headerv += 1;
        inidat.headert += 1;
        iv_iniheaderwrite(false);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || chdir(argv[2]) != 0) return 2;
    inidat.funktion = 9;
    if (!strcmp(argv[1], "reader") && argc > 3) return reader(atol(argv[3]));
    if (!strcmp(argv[1], "writer")) writer();
    if (!strcmp(argv[1], "hold") && argc > 3) {
        if (!iv_iniopen("rt")) return 1;
        printf("holding\n");
        fflush(stdout);
        sleep((unsigned)atoi(argv[3]));
        iv_iniclose();
        return 0;
    }
    if (!strcmp(argv[1], "header") && argc > 4) {
        sy_setclock(SY_CLOCK_AUTO, time(nullptr));
        while (access(argv[4], F_OK) != 0)
            usleep(1000);
        inidat.headergueltig = true;
        inidat.day = 1;
        inidat.headerv = atol(argv[3]);
        iv_iniheaderwrite(false);
        return 0;
    }
    return 2;
}
