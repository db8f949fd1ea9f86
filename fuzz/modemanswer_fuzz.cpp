// Fuzz target: the parsers of modem answers (signal, registration and location, operator
// name and code, radio mode, battery, identification, network list) and one whole reading
// cycle over them. Each answer sits in a buffer of exactly its length, so that a read past
// its end is caught; results must stay in their ranges and texts within their fields.
#include "fuzz/fuzzsupport.h"

#include "core/helpers.h"
#include "core/programstate.h"
#include "modem/discovery.h"
#include "modem/startupchecks.h"
#include "supervisor/signalstatus.h"

namespace {

bool fz__hexfeld(const char* s) {
    size_t n = strlen(s);
    if (n == 0) return true;
    if (n < 4 || n > 8) return false;
    for (; *s; s++)
        if (!strchr("0123456789ABCDEF", *s)) return false;
    return true;
}

// Every parser on one answer.
void fz__einzeln(const char* a) {
    int csq = ss_csqraw(a);
    FZ_PRUEF(csq == -1 || (csq >= 0 && csq <= 31) || csq == 99);
    int cind = ss_cindraw(a);
    FZ_PRUEF(cind == -1 || (cind >= 0 && cind <= 27 && cind % 3 == 0));

    for (const char* tag : {"CGREG", "CREG"}) {
        char lac[20] = "x", ucid[20] = "y";
        int stat = ss_registrierung(a, tag, lac, ucid);
        FZ_PRUEF(stat >= -1 && stat <= SS_STATMAX);
        FZ_PRUEF(fz_terminiert(lac) && fz_terminiert(ucid));
        FZ_PRUEF(fz__hexfeld(lac) && fz__hexfeld(ucid));
        FZ_PRUEF((lac[0] == 0) == (ucid[0] == 0));
        int r = ss_regstatus(a, tag);
        FZ_PRUEF(r == SS_REG_SIMPIN || r == SS_REG_ENDE || r == 0 || r == 1 || r == 5);
    }
    // A location the modem cannot report is left alone.
    char lac[20] = "\x01", ucid[20] = "\x01";
    ss_registrierung(a, "CGREG", lac, ucid);
    FZ_PRUEF(lac[0] == 1 && lac[1] == 0 && ucid[0] == 1 && ucid[1] == 0);

    char name[80];
    memset(name, 'x', sizeof name);
    int r = ss_netzname(a, name);
    FZ_PRUEF(r >= 0 && r <= 2);
    if (r) FZ_PRUEF(fz_terminiert(name));
    char plmn[20];
    bool ok = ss_plmn(a, plmn);
    FZ_PRUEF(fz_terminiert(plmn));
    FZ_PRUEF(ok ? strlen(plmn) == 5 || strlen(plmn) == 6 : plmn[0] == 0);

    int ba = ss_ba_zpas(a);
    FZ_PRUEF(ba == 0 || ba == 1 || ba == 2 || ba == 5 || ba == 6);
    ba = ss_ba_nwrat(a);
    FZ_PRUEF(ba >= 0 && ba <= 2);
    ba = ss_ba_cops(a);
    FZ_PRUEF(ba == 0 || ba == 1 || ba == 2 || ba == 5 || ba == 6 || ba == 7);
    // Every radio mode has its text and letter, or none at all.
    char text[8];
    char buchstabe = 'x';
    ss_betriebsarttext(ba, 0, 0, text, buchstabe);
    FZ_PRUEF(fz_terminiert(text) && (text[0] ? buchstabe == text[0] : buchstabe == ' '));
    int akku = ss_akku(a);
    FZ_PRUEF(akku >= 0 && akku <= 100);

    int g = de_geraetausati(a);
    FZ_PRUEF(g >= 0 && g <= 12);
    FZ_PRUEF(ss_netzunbekannt(a) || !ss_netzunbekannt(a));
}

// The network list into a buffer of exactly n bytes: stays terminated, no name twice.
void fz__netzliste(const char* a, size_t n, const char* vorher) {
    std::vector<char> liste(n, 0);
    strmcpy(liste.data(), vorher, n);
    size_t alt = strlen(liste.data());
    int neu = iv_netzliste(a, liste.data(), n);
    FZ_PRUEF(neu >= 0);
    FZ_PRUEF(fz_terminiert(liste.data(), n));
    FZ_PRUEF(strncmp(liste.data(), vorher, alt) == 0);
    // Entries appended are ";name" with a name of 1 to 30 characters and no ';'.
    std::vector<std::string> namen;
    int gezaehlt = 0;
    for (const char* p = liste.data() + alt; *p;) {
        FZ_PRUEF(*p == ';');
        const char* e = strchr(p + 1, ';');
        size_t l = e ? static_cast<size_t>(e - p - 1) : strlen(p + 1);
        FZ_PRUEF(l >= 1 && l <= 30);
        namen.emplace_back(p + 1, l);
        gezaehlt++;
        p += 1 + l;
    }
    FZ_PRUEF(gezaehlt == neu);
    for (size_t i = 0; i < namen.size(); i++)
        for (size_t j = i + 1; j < namen.size(); j++)
            FZ_PRUEF(namen[i] != namen[j]);
}

// One reading cycle with the pieces as its answers, twice (the second sees the first's
// state, as the main loop does).
void fz__zyklus(const std::vector<std::string>& teile, uint8_t wahl) {
    std::vector<fz_text> t;
    for (const std::string& s : teile)
        t.emplace_back(s);
    auto antwort = [&](size_t i) -> const char* { return i < t.size() ? t[i].c() : nullptr; };
    ps_resetinidat();
    if (wahl & 0x80) strMcpy(inidat.net, ";Home;26201;");
    static constexpr int geraete[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12};
    ss_antworten_t a;
    a.geraet = geraete[wahl % 11];
    a.novatelroh = wahl & 0x10;
    a.altwert = wahl & 0x20;
    a.signalgelesen = wahl & 0x40;
    a.csq = antwort(0);
    a.cind = antwort(1);
    a.cops = antwort(2);
    a.copsnum = antwort(3);
    a.reg = antwort(4);
    a.modus = antwort(5);
    a.hoch = wahl * 100;
    a.runter = wahl * 1000;
    a.stempel = "01.02.2012 10:11:12";
    ss_signal_t s;
    ss_netz_t n;
    if (wahl & 0x08) n.lac[0] = n.ucid[0] = 1;
    for (int zyklus = 0; zyklus < 2; zyklus++) {
        a.zyklus = zyklus + (wahl & 1);
        ss_ergebnis_t e;
        ss_zyklus(a, s, n, wahl & 2, wahl & 4, e);
        FZ_PRUEF(fz_terminiert(e.zeile1) && fz_terminiert(e.zeile2) && fz_terminiert(e.zeile3));
        FZ_PRUEF(fz_terminiert(e.namefehler));
        FZ_PRUEF(e.nlog >= 0 && e.nlog <= SS_LOGMAX);
        for (int i = 0; i < e.nlog; i++)
            FZ_PRUEF(fz_terminiert(e.log[i]) && e.log[i][0]);
        FZ_PRUEF(fz_terminiert(n.name) && fz_terminiert(n.name_alt));
        FZ_PRUEF(fz_terminiert(n.plmn) && fz_terminiert(n.lac) && fz_terminiert(n.ucid));
        FZ_PRUEF(fz_terminiert(n.cidkurz) && fz_terminiert(n.rnc));
        FZ_PRUEF(fz_terminiert(s.sigs) && fz_terminiert(s.sigsmini));
        FZ_PRUEF(s.sig >= -1 && s.sig <= 100);
        ss_mtext(e);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fz_arbeitsverzeichnis(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 3000) return 0;
    uint8_t wahl = data[0];
    fz_text ganz(data + 1, size - 1);
    fz__einzeln(ganz.c());
    fz__netzliste(ganz.c(), 500, "?"); // as the start-up checks call it
    fz__netzliste(ganz.c(), 1 + wahl % 64, wahl & 1 ? ";Home" : "");
    // The answers of one cycle, separated by a byte 0x1F in the input.
    fz__zyklus(fz_teile(data + 1, size - 1, 0x1F, 6), wahl);
    return 0;
}
