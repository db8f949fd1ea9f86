#include "config/programname.h"

#include "config/inifile.h"
#include "core/helpers.h"
#include "core/programstate.h"

#include <cstring>

namespace {

struct pn__eintrag {
    const char* name;
    int funktion;
};
constexpr pn__eintrag pn__tabelle[] = {
    {"TDR", 0},       {"TANDOR", 0},     {"GPRS", 1},      {"UMTS", 2},
    {"GPRSUMTS", 3},  {"UMTSGPRS", 4},   {"CONN", 9},      {"CONTROL", 40},
    {"CONFIG", 50},   {"CONFIGX", 50},   {"PROFILE", 60},  {"TANDOR_NEW", 81},
    {"TANDOR_OLD", 82}, {"TANDOR_DEBIAN_REMOVE", 90},
};

// Names under which the program file takes its first argument as the program name.
constexpr const char* pn__generisch[] = {"tandor.exe", "tandor", "tdr", "TANDOR.exe", "TANDOR",
                                         "TDR",        "CONFIG.exe", "CONFIG", "CO.exe", "CO"};

bool pn__endetmit(const char* s, const char* e) {
    size_t ls = strlen(s), le = strlen(e);
    return ls >= le && strcmp(s + ls - le, e) == 0;
}

} // namespace

bool pn_startkeyword(const char* a) {
    return stricmp(a, "NOSPLASH") == 0 || stricmp(a, "MUTE") == 0 ||
           stricmp(a, "SILENTINSTALL") == 0 || stricmp(a, "STARTTOGGLE") == 0 ||
           memicmp(a, "INSTANCE", 8) == 0;
}

int pn_funktion(const char* name) {
    char n[30];
    strMcpy(n, name);
    strupper(n);
    size_t l = strlen(n);
    if (l > 4 && strcmp(n + l - 4, ".EXE") == 0) n[l - 4] = 0;
    for (const auto& e : pn__tabelle)
        if (strcmp(n, e.name) == 0) return e.funktion;
    return -1;
}

int pn_programmname(int argc, char** argv, int* erstesargument) {
    const char* pfad = argc > 0 && argv[0] ? argv[0] : "";
    const char* name = strrchr(pfad, '/');
    name = name ? name + 1 : pfad;
    *erstesargument = 1;
    installsub = smsconfigsub = configsub = false;

    bool generisch = false;
    for (const char* g : pn__generisch) generisch = generisch || pn__endetmit(pfad, g);
    // A keyword of the program start or an ini line (KEY=value) is never a program name.
    const char* a1 = argc > 1 && argv[1] ? argv[1] : "";
    if (generisch && strlen(a1) > 3 && !strchr(a1, '=') && !pn_startkeyword(a1)) {
        *erstesargument = 2;
        if (strcmp(a1, "INSTALLSUB_D") == 0 || strcmp(a1, "INSTALLSUB_E") == 0) {
            installsub = true;
            _de = a1[11] == 'D';
        } else {
            name = a1;
        }
    }
    strMcpy(inidat.programm, name);
    size_t l = strlen(inidat.programm);
    if (l > 4 && stricmp(inidat.programm + l - 4, ".EXE") == 0) inidat.programm[l - 4] = 0;

    int funktion = pn_funktion(inidat.programm);
    if (argc > 1 && argv[1] && strcmp(argv[1], "SMSCONFIGSUB") == 0 && funktion < 50) {
        smsconfigsub = true;
        funktion = 50;
        *erstesargument = 2;
    }
    if (argc > 2 && argv[2] && strcmp(argv[2], "CONFIGSUB") == 0) {
        configsub = true;
        if (*erstesargument < 3) *erstesargument = 3;
    }
    return funktion;
}
