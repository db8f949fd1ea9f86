#include "core/programstate.h"

#include "core/system.h"
#include "core/threads.h"
#include "core/waittally.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

inidat_t inidat;
std::atomic<bool> inidatgueltig{false};
bool _de = false;

std::atomic<bool> programmende_gewuenscht{false};
std::atomic<bool> programmende_endgueltig{false};
std::atomic<int> ruhestatus{0};
std::atomic<int> unterbrechung_gewuenscht{0};
std::atomic<bool> shutdownerlaubt{false};
std::atomic<bool> tonlos{false};

std::atomic<bool> verbindenverboten{true};
std::atomic<bool> verbindeneinmal{false};
std::atomic<int> ba_gewuenscht{0};
std::atomic<bool> prepaid_gewuenscht{false};
std::atomic<int> prepaidaufladen_gewuenscht{0};
std::atomic<bool> update_gewuenscht{false};
std::atomic<unsigned long> onlinezeit{0};
std::atomic<unsigned long> offlinezeit{0};
std::atomic<unsigned long> offlinezeita{0};
std::atomic<unsigned long> offlinezeitring{0};
std::atomic<unsigned long> inaktivzeit{0};
std::atomic<int> onlinezeit_vorher{-1};
std::atomic<bool> verbindenhalten{false};
std::atomic<int> maxgrenze{0};
char maxgrenzes[50];
std::atomic<bool> netzfremd{false};
std::atomic<int> homezonestatus{0};
std::atomic<int> homezonezaehler{0};
std::atomic<int> akkufuellstand{0};
std::atomic<int> geraet{0};
std::atomic<bool> linksys{false};
std::atomic<bool> novatelu740{false}, novateldll{false};
std::atomic<bool> cm__singleport{false};
std::atomic<int> comzeit{100};
std::atomic<int> inicounterglobal{0};
char prepaids[300];
ti_iconstatus_t ti_iconstatus;
std::atomic<bool> tdrioneu{false};
std::atomic<bool> shutdowninteractionkeyvalid{false};

int _argc = 0;
char** _argv = nullptr;
bool ubuntusysdir = false;
bool cs_nosplash = false;
bool _silentinstall = false;
std::atomic<int> _starttoggle{0};

unsigned long aktivsignal = 0x515256A0;
unsigned long endesignal = 0x515256B0;
unsigned long konfigaktivsignal = 0x515256C0;
unsigned long smssignal = 0x515256D0;
unsigned long tdriok = 0x515256F0;

ps_hooks_t ps_hooks = {};

void ps_statustext(const char* text, const char* minitext) {
    if (ps_hooks.statustext) ps_hooks.statustext(text, minitext);
}
int ps_messagebox(const char* title, const char* text, int mode, int icon) {
    return ps_hooks.messagebox ? ps_hooks.messagebox(title, text, mode, icon) : 0;
}
void ps_splash(int code) {
    if (ps_hooks.splash) ps_hooks.splash(code);
}
void ps_splashtext(const char* text) {
    if (ps_hooks.splashtext) ps_hooks.splashtext(text);
}
void ps_windowposition(int* x, int* y) {
    if (ps_hooks.windowposition) ps_hooks.windowposition(x, y);
}
int ps_windowform() {
    return ps_hooks.windowform ? ps_hooks.windowform() : 0;
}

void ps_windowshow(int form) {
    if (ps_hooks.windowshow) ps_hooks.windowshow(form);
}

bool ps_smssignal(int f) {
    return ps_hooks.smssignal ? ps_hooks.smssignal(f) : false;
}

bool ps_timegap(time_t tim) {
    return ps_hooks.timegap ? ps_hooks.timegap(tim) : false;
}

void ps_resetinidat() {
    std::memset(&inidat, 0, sizeof inidat);
    inidat.hinweisk = '0';
    std::strcpy(inidat.ppq, "*100#");
    std::strcpy(inidat.ppc, "*104*<INPUT>#");
    inidat.constart = true;
    inidat.conende = true;
    inidat.round = 1;
    inidat.roundt = 1;
    static constexpr int errvorgabe[ERRN] = {0, 15, 50, 10, 10, 10, 10, 4};
    for (int i = 0; i < ERRN; i++)
        inidat.err[i] = errvorgabe[i];
    inidat.pingp = inidat.ping;
    inidat.enduhrzeit1 = -1;
    inidat.enduhrzeit2 = -1;
    inidat.icon = 1;
    inidat.header2 = inidat.header3 = 'A';
    inidat.headervoffset = 999;
    inidat.headerfefo = 1;
}

namespace {
// The record starts with the defaults, also before the ini file is read.
struct ps__init {
    ps__init() { ps_resetinidat(); }
} ps__initonce;
} // namespace

namespace {
// A wake asked for and not yet seen by the pause. Lock-free, hence usable in a handler.
std::atomic<bool> ps__geweckt{false};
static_assert(std::atomic<bool>::is_always_lock_free);
// On the real clock the pause blocks in poll() on this pipe, so a wake costs no polling:
// ps_wecken writes one byte (write is async-signal-safe). Made before main, close-on-exec
// so that pppd and user programs do not inherit it.
struct ps__weckrohr {
    int fd[2] = {-1, -1};
    ps__weckrohr() {
        if (pipe2(fd, O_CLOEXEC | O_NONBLOCK) != 0) fd[0] = fd[1] = -1;
    }
} ps__rohr;
// On a virtual clock (tests) the pause sleeps in steps this long and looks for a wake.
constexpr long ps__WECKSCHRITT = 50;
// On the real clock the pause still looks for a termination this often.
constexpr long ps__ENDESCHRITT = 500;

void ps__leeren() {
    char b[64];
    while (ps__rohr.fd[0] >= 0 && read(ps__rohr.fd[0], b, sizeof b) > 0) {
    }
}

// Blocks up to ms real milliseconds or until a wake byte arrives; counts the time waited
// in the thread's tally of requested sleeps.
void ps__warte(long ms) {
    long long beginn = sy_monotonicms();
    pollfd p{ps__rohr.fd[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(ms)) > 0) ps__leeren();
    wz_schlaf(static_cast<long>(sy_monotonicms() - beginn));
}
} // namespace

void ps_wecken() {
    ps__geweckt.store(true);
    if (ps__rohr.fd[1] >= 0) {
        ssize_t r = write(ps__rohr.fd[1], "w", 1);
        (void)r; // a full pipe already holds a wake
    }
}

bool ps_pause(long ms) {
    bool real = sy_realclock() && ps__rohr.fd[0] >= 0;
    while (ms > 0 && !th_queryterminate()) {
        if (ps__geweckt.exchange(false)) return true;
        if (real) {
            long long beginn = sy_monotonicms();
            ps__warte(std::min(ms, ps__ENDESCHRITT));
            ms -= static_cast<long>(sy_monotonicms() - beginn);
        } else {
            long schritt = std::min(ms, ps__WECKSCHRITT);
            sy_sleepms(schritt);
            ms -= schritt;
        }
    }
    return !th_queryterminate() && ps__geweckt.exchange(false);
}

const char ps_kommandos[4][20] = {"tandor_CONNECT", "tandor_DISCONNECT", "tandor_RECONNECT",
                                  "tandor_END"};

void ps_endeanfordern() {
    programmende_endgueltig = true;
    programmende_gewuenscht = true;
    ps_wecken();
}

void ps_unterbrechen(int modus) {
    // Strength of the end modes: a user's reconnect is the weakest (the link comes back),
    // the end time of day the strongest (it may end the program).
    constexpr int staerke[6] = {0, 4, 1, 2, 3, 5};
    if (modus < 1 || modus > 5) return;
    int alt = unterbrechung_gewuenscht.load();
    while ((alt < 1 || alt > 5 || staerke[alt] < staerke[modus]) &&
           !unterbrechung_gewuenscht.compare_exchange_weak(alt, modus)) {
    }
    ps_wecken();
}
