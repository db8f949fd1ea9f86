#include "config/inifile.h"

#include "core/helpers.h"
#include "core/programstate.h"

#include <cctype>
#include <cstring>

namespace {
// Of the ini lines given as arguments only MOD= is taken so far: it switches the logs.
void iv__arguments() {
    for (int i = 1; i < _argc && _argv; i++) {
        const char* a = _argv[i];
        if (!a || memicmp(a, "MOD=", 4) != 0) continue;
        memset(inidat.mod, 0, sizeof inidat.mod);
        for (const char* p = a + 4; *p; p++)
            if (isalnum((unsigned char)*p)) inidat.mod[(unsigned char)*p] = 1;
    }
}
} // namespace

int iv_iniparse() {
    int funktion = inidat.funktion;
    ps_resetinidat();
    inidat.funktion = funktion;
    iv__arguments();
    if ((funktion < 40 || funktion == FUNKTION_CONFIG) && ps_hooks.startcheck &&
        !ps_hooks.startcheck())
        return -1;
    if (inidat.funktion == 0) inidat.funktion = 9;
    inidatgueltig = true;
    return 0;
}
