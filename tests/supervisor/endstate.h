// The program-wide state an end-sequence test starts from: a configuration run with the
// service log on, flag keys of its own (random, so parallel test programs never share
// one), and no end, rest, interruption or counted time pending.
#pragma once

#include "core/programstate.h"

#include <random>

inline void es_grundzustand(unsigned long schluesselbasis) {
    std::random_device r;
    auto schluessel = [&] { return schluesselbasis + (r() & 0xFFFFF0ul); };
    ps_resetinidat();
    inidat.funktion = 9;
    inidat.mod['P'] = 1;
    aktivsignal = schluessel();
    endesignal = schluessel() + 8;
    konfigaktivsignal = schluessel() + 4;
    smssignal = schluessel() + 12;
    programmende_gewuenscht = false;
    programmende_endgueltig = false;
    ruhestatus = 0;
    unterbrechung_gewuenscht = 0;
    onlinezeit = offlinezeita = inaktivzeit = 0;
}
