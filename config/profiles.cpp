#include "config/profiles.h"

#include "config/inifile.h"
#include "core/flags.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int pf__MAXKANDIDATEN = 80;
// Longest line of profile.ini that counts; the rest of a longer line is ignored.
constexpr size_t pf__ZEILE = 49;

// Names that end in ".ini" but are no profiles (besides the current one and the
// provider settings list).
constexpr const char* pf__fremde[] = {"Brisko_net.ini", "sms_name.ini", "NwtGatewayConfig.ini",
                                      profildatei};

bool pf__endetini(const char* n) {
    size_t l = strlen(n);
    return l > 4 && stricmp(n + l - 4, ".ini") == 0;
}

// The name a profile.ini names: the last line that reads INI=<name> after leading blanks
// and digits. A name that does not fit inidatei is passed over, since a shortened name
// would select another file. False when there is none.
bool pf__lesen(char (&name)[sizeof inidatei]) {
    FILE* f = fopen(profildatei, "rt");
    if (!f) return false;
    bool gefunden = false;
    char zeile[pf__ZEILE + 1];
    size_t n = 0;
    bool ende = false;
    while (!ende) {
        int c = fgetc(f);
        if (c == EOF) ende = true;
        if (c != EOF && c != '\n') {
            if (n < pf__ZEILE) zeile[n++] = (char)c;
            continue;
        }
        zeile[n] = 0;
        n = 0;
        char* z = zeile;
        while (*z == ' ' || (*z >= '0' && *z <= '9'))
            z++;
        if (memicmp(z, "INI=", 4) != 0) continue;
        z += 4;
        z[strcspn(z, "\r\n")] = 0;
        if (*z && strlen(z) < sizeof name) {
            strMcpy(name, z);
            gefunden = true;
        }
    }
    fclose(f);
    return gefunden;
}

// Writes profile.ini through a temporary file renamed over it, so that a reader never
// sees a half-written selector.
bool pf__schreiben(const char* name) {
    char tmp[] = "profile.ini.XXXXXX";
    int fd = mkstemp(tmp);
    if (fd < 0) return false;
    char text[sizeof inidatei + 8];
    int n = snprintf(text, sizeof text, "INI=%s", name);
    bool ok = n > 0 && (size_t)n < sizeof text && write(fd, text, (size_t)n) == n;
    ok = fchmod(fd, 0600) == 0 && ok;
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(tmp, profildatei) == 0;
    if (!ok) unlink(tmp);
    return ok;
}

bool pf__kandidat(const char* n) {
    if (strlen(n) >= sizeof inidatei || !pf__endetini(n)) return false;
    if (stricmp(n, inidatei) == 0 || stricmp(n, settingsdatei) == 0) return false;
    for (const char* fremd : pf__fremde)
        if (stricmp(n, fremd) == 0) return false;
    struct stat st;
    return stat(n, &st) == 0 && S_ISREG(st.st_mode);
}

// The profile candidates of the working directory, sorted without regard to case.
int pf__kandidaten(char (*namen)[sizeof inidatei]) {
    int anzahl = 0;
    DIR* d = opendir(".");
    if (!d) return 0;
    while (dirent* e = readdir(d)) {
        if (anzahl >= pf__MAXKANDIDATEN) break;
        if (pf__kandidat(e->d_name)) strMcpy(namen[anzahl++], e->d_name);
    }
    closedir(d);
    qsort(namen, (size_t)anzahl, sizeof namen[0], sortiervergleichi);
    return anzahl;
}

void pf__splash(const char* text) {
    ps_splashtext(text);
    ps_splash(9);
    msleepx(2500);
    ps_splash(0);
}

} // namespace

void pf_read() {
    char name[sizeof inidatei];
    if (!pf__lesen(name)) return;
    strMcpy(inidatei, name);
    strMcpy(inititel, name);
    if (pf__endetini(inititel)) inititel[strlen(inititel) - 4] = 0;
    if (inititel[0]) snprintf(connlogdatei, sizeof connlogdatei, "connlog_%s.txt", inititel);
}

void iv_changeprofile() {
    if (fl_query(aktivsignal)) {
        pf__splash("Terminate first./Erst beenden.");
        return;
    }
    char aktuell[sizeof inidatei] = "";
    pf__lesen(aktuell);
    char namen[pf__MAXKANDIDATEN][sizeof inidatei];
    int anzahl = pf__kandidaten(namen);
    const char* neu = inidatei;
    if (anzahl > 0) {
        neu = namen[0];
        for (int i = 0; i < anzahl; i++)
            if (stricmp(namen[i], aktuell) > 0) {
                neu = namen[i];
                break;
            }
    }
    char neuname[sizeof inidatei];
    strMcpy(neuname, neu);
    if (!pf__schreiben(neuname))
        lo_slog("Profil: profile.ini nicht geschrieben: %s\n", neuname, -1);
    char text[100] = "--> ";
    strmcpy(text + 4, neuname, sizeof text - 4);
    if (pf__endetini(text + 4)) text[strlen(text) - 4] = 0;
    pf__splash(text);
}
