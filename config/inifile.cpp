#include "config/inifile.h"

#include "core/programstate.h"

int iv_iniparse() {
    int funktion = inidat.funktion;
    ps_resetinidat();
    inidat.funktion = funktion;
    if ((funktion < 40 || funktion == FUNKTION_CONFIG) && ps_hooks.startcheck &&
        !ps_hooks.startcheck())
        return -1;
    if (inidat.funktion == 0) inidat.funktion = 9;
    inidatgueltig = true;
    return 0;
}
