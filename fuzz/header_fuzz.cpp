// Fuzz target: the header line (line 01) with the persistent counters. Any line is read
// without running past its end; a valid line composes back into a valid header, and the
// configuration program's repaired line 01 is always a complete header.
#include "fuzz/fuzzsupport.h"

#include "config/header.h"
#include "core/programstate.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fz_arbeitsverzeichnis(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 200) return 0;
    fz_text zeile(data, size);
    ps_resetinidat();
    bool gueltig = hd_valid(zeile.c());
    hd_read(zeile.c());
    FZ_PRUEF(inidat.headergueltig);
    FZ_PRUEF(inidat.headerfefo >= 1 && inidat.headerfefo <= 4);
    FZ_PRUEF(inidat.headerday >= 0 && inidat.headerday <= 31);
    FZ_PRUEF(inidat.headermon >= 0 && inidat.headermon <= 12);
    FZ_PRUEF(inidat.headerv >= 0 && inidat.headerv <= 999999999L);
    FZ_PRUEF(inidat.headert >= 0 && inidat.headert <= 999999L);

    // Composed again: always a valid header; from a valid line, the same counters (the
    // online time is held to 599999 minutes, a larger one restarts at 0).
    long v = inidat.headerv, t = inidat.headert;
    iv_iniheaderwrite(true);
    FZ_PRUEF(fz_terminiert(headerdaten));
    FZ_PRUEF(hd_valid(headerdaten));
    if (gueltig) {
        // Volume (offset 6, 9 digits) and online time (offset 31, 6 digits) are the
        // counters that must survive; the window fields may be clamped.
        FZ_PRUEF(memcmp(headerdaten + 6, zeile.c() + 6, 9) == 0 && v <= 999999999L);
        FZ_PRUEF(memcmp(headerdaten + 31, zeile.c() + 31, 6) == 0 || t > 599999L);
    }

    // The configuration program's line 01: 53 characters, a valid header in front.
    hd_confighead(zeile.c());
    FZ_PRUEF(strlen(headerdaten) == 53);
    FZ_PRUEF(hd_valid(headerdaten));
    fz_logsleeren();
    return 0;
}
