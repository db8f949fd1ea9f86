#include "core/programstate.h"

#include <cstring>

inidat_t inidat;
std::atomic<bool> inidatgueltig{false};
bool _de = false;

std::atomic<bool> programmende_gewuenscht{false};
std::atomic<int> ruhestatus{0};
std::atomic<int> unterbrechung_gewuenscht{0};
std::atomic<bool> shutdownerlaubt{false};
std::atomic<bool> tonlos{false};

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

ps_hooks_t ps_hooks = {nullptr, nullptr};

void ps_resetinidat() {
    std::memset(&inidat, 0, sizeof inidat);
    inidat.round = 1;
    inidat.roundt = 1;
    inidat.enduhrzeit1 = -1;
    inidat.enduhrzeit2 = -1;
    inidat.constart = true;
    inidat.conende = true;
}

namespace {
// The record starts with the defaults, also before the ini file is read.
struct ps__init {
    ps__init() { ps_resetinidat(); }
} ps__initonce;
} // namespace
