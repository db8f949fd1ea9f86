#include "config/inifile.h"

#include "config/header.h"
#include "config/inikeys.h"
#include "config/profiles.h"
#include "config/programname.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

char inidatei[40] = "tandor.ini";
char inititel[40] = "";
char settingsdatei[20] = "tandorS.ini";
const char profildatei[12] = "profile.ini";
bool _inidatneu = false;
bool installsub = false;
bool smsconfigsub = false;
bool configsub = false;

namespace {

// Every access to the ini file, by any thread of this process and by any other copy of
// the program, holds the lock from open to close: a mutex inside the process and an
// advisory lock between processes. The lock lives on a lock file beside the ini file that
// is never replaced, because a rewrite renames a new ini file over the old one.
std::mutex iv__mutex;
std::thread::id iv__besitzer; // thread holding the lock (guarded by iv__mutex's holder)
int iv__tiefe = 0;            // nesting of the holder's locks
int iv__lockfd = -1;          // the lock file, locked while iv__tiefe > 0

FILE* iv__fii = nullptr;
char iv__modus[8] = "";
bool iv__profilgelesen = false;
// The file as read was not in the program's own form (no header line at its start): its
// original is kept beside it before the first rewrite.
bool iv__original = false;

constexpr char iv__bom[] = "\xEF\xBB\xBF"; // UTF-8 byte-order mark of some editors

// The profile selector decides which file all further tests and reads are about.
void iv__profil() {
    if (iv__profilgelesen) return;
    iv__profilgelesen = true;
    pf_read();
}

// The length of a byte-order mark at the start of z (0 or 3).
size_t iv__bomlaenge(const char* z) {
    return strncmp(z, iv__bom, 3) == 0 ? 3 : 0;
}

// Whether line 01 (its byte-order mark skipped) is the header: it starts with '0' or '1'
// and holds no '=', which every key line has and no header.
bool iv__istkopf(const char* z) {
    return (*z == '0' || *z == '1') && !strchr(z, '=');
}

// A line that holds a secret (PIN=, PASS=, any case, after a line number) with a value:
// the text up to the '=' and "xxxx" go into maskiert. False for every other line.
bool iv__geheim(const char* zeile, char* maskiert, size_t n) {
    const char* p = zeile;
    while (isdigit((unsigned char)*p) || *p == ' ')
        p++;
    size_t k = memicmp(p, "PASS", 4) == 0 ? 4 : memicmp(p, "PIN", 3) == 0 ? 3 : 0;
    if (!k) return false;
    p += k;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p != '=' || !p[1]) return false;
    snprintf(maskiert, n, "%.*sxxxx", (int)(p + 1 - zeile), zeile);
    return true;
}

void iv__lockname(char* name, size_t len) {
    snprintf(name, len, "%s.lock", inidatei);
}

// Takes the lock; waits up to ms for another process, giving up early at program end.
// The wait is for another process, so it runs on real time, not on the program clock.
bool iv__lock(long ms) {
    if (iv__tiefe > 0 && iv__besitzer == std::this_thread::get_id()) {
        iv__tiefe++;
        return true;
    }
    iv__mutex.lock();
    char name[60];
    iv__lockname(name, sizeof name);
    int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A directory where no lock file can be made (read-only): serialise inside the
        // process only; the file itself cannot be rewritten there anyway.
        lo_slog("INI file: no lock file: %s\n", strerror(errno), -1);
    } else {
        long gewartet = 0;
        while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            if (gewartet >= ms || programmende_gewuenscht) {
                close(fd);
                iv__mutex.unlock();
                return false;
            }
            usleep(20000);
            gewartet += 20;
        }
    }
    iv__lockfd = fd;
    iv__besitzer = std::this_thread::get_id();
    iv__tiefe = 1;
    return true;
}

void iv__unlock() {
    if (iv__tiefe <= 0 || iv__besitzer != std::this_thread::get_id()) return;
    if (--iv__tiefe > 0) return;
    if (iv__lockfd >= 0) {
        flock(iv__lockfd, LOCK_UN);
        close(iv__lockfd);
    }
    iv__lockfd = -1;
    iv__besitzer = std::thread::id();
    iv__mutex.unlock();
}

void iv__gesperrt() {
    ps_statustext(_de ? " INI-Datei gesperrt." : " INI file is locked.",
                  _de ? " INI-Datei_gesperrt." : " INI file_is locked.");
}

// Removes the line end (LF and a CR before it) in place.
void iv__zeilenende(char* z) {
    size_t l = strlen(z);
    while (l > 0 && (z[l - 1] == '\n' || z[l - 1] == '\r'))
        z[--l] = 0;
}

// Reads one line of the file into z (n bytes); false at the end of the file. *zulang is set
// for a line that did not fit, whose rest is skipped up to its line end. The line end is
// searched in the whole buffer, so a NUL byte inside a line cannot make it look too long
// (which would skip the next line as its "rest").
bool iv__zeilelesen(FILE* f, char* z, size_t n, bool* zulang) {
    memset(z, 0, n);
    if (!fgets(z, (int)n, f)) return false;
    *zulang = !memchr(z, '\n', n) && !feof(f);
    if (*zulang) {
        int c;
        while ((c = fgetc(f)) != EOF && c != '\n') {
        }
    }
    return true;
}

// Lines 2 to 4 may redirect the whole configuration to another directory.
bool iv__dirumleitung(char* ziel, size_t len) {
    FILE* f = iv_inifile();
    if (!f) return false;
    char zeile[1180];
    rewind(f);
    for (int n = 1; n <= 4 && fgets(zeile, sizeof zeile, f); n++) {
        if (n == 1) continue;
        char* d = strstr(zeile, "DIR=");
        if (!d) d = strstr(zeile, "dir=");
        if (!d) continue;
        d += 4;
        while (*d == ' ' || *d == '\t' || *d == '"')
            d++;
        size_t l = strlen(d);
        while (l > 0 && strchr(" \t\"\\/\r\n", d[l - 1]))
            d[--l] = 0;
        if (!*d) continue;
        strmcpy(ziel, d, len);
        return true;
    }
    return false;
}

void iv__dirwechsel(const char* ziel) {
    lo_slog("INI file: DIR=%s\n", ziel, -1);
    // The file of this directory is the source of a first copy into the target.
    char hier[300];
    if (!getcwd(hier, sizeof hier)) hier[0] = 0;
    char quelle_ini[400], quelle_s[400];
    snprintf(quelle_ini, sizeof quelle_ini, "%s/%s", hier, inidatei);
    snprintf(quelle_s, sizeof quelle_s, "%s/%s", hier, settingsdatei);
    if (!file_exists(ziel)) {
        dir_create(ziel);
        file_makerw(ziel, 0);
    }
    if (chdir(ziel) != 0) {
        ps_statustext("* DIR= Fehler/Error.", "* DIR= Fehler/Error.");
        msleepx(4000);
        return;
    }
    // The target may select a profile of its own; its file is the one read from now on.
    pf_read();
    if (!file_exists(inidatei) && hier[0]) {
        file_copy(quelle_ini, inidatei, true);
        file_makerw(inidatei, 0);
        if (file_exists(quelle_s) && !file_exists(settingsdatei))
            file_copy(quelle_s, settingsdatei, true);
    }
    _inidatneu = true;
}

// 1 the file starts with its header line (first character '0' or '1'), 2 it has content
// but no header at its start (written by hand, or behind a byte-order mark), 0 it counts
// as new (missing, or empty), -1 it exists but cannot be read: never run on defaults nor
// overwrite it then.
int iv__existenz() {
    int fd = open(inidatei, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return 0;
        lo_slog("!INI file cannot be read: %s\n", strerror(errno), -1);
        return -1;
    }
    char c[4] = {};
    ssize_t n = read(fd, c, 4);
    int fehler = errno;
    close(fd);
    if (n < 0) {
        lo_slog("!INI file cannot be read: %s\n", strerror(fehler), -1);
        return -1;
    }
    if (n == 0 || (n == 3 && iv__bomlaenge(c))) return 0;
    return c[0] == '0' || c[0] == '1' ? 1 : 2;
}

// With the switch P the service log gets the file's lines, a PIN masked.
void iv__servicelogdump() {
    if (!MODUS('P') || inidat.funktion == FUNKTION_CONTROL) return;
    lo_slog(
        _de ? "--------------------------------------------------\n\n    %s  tandor gestartet.\n"
            : "--------------------------------------------------\n\n    %s  tandor started.\n",
        datumzeit(), -1);
    lo_slog(_de ? "Program version %s\n    --- tandor.ini Anfang\n"
                : "Program version %s\n    --- tandor.ini start\n",
            "0.5", -1);
    if (iv_iniopen("rt")) {
        char zeile[1180];
        rewind(iv_inifile());
        while (fgets(zeile, sizeof zeile, iv_inifile())) {
            iv__zeilenende(zeile);
            size_t l = strlen(zeile);
            if (zeile[0] == '*' || l < 4) continue;
            if (l <= 5 && isdigit((unsigned char)zeile[0]) && isdigit((unsigned char)zeile[1]))
                continue;
            char maskiert[40];
            lo_slog("--- %s\n", iv__geheim(zeile, maskiert, sizeof maskiert) ? maskiert : zeile,
                    -1);
        }
        iv_iniclose();
    }
    lo_slog(_de ? "--- tandor.ini Ende\n" : "--- tandor.ini end\n", "", -1);
}

// Copies the file as it is (not in the program's own form) to "<name>.orig" before it is
// rewritten, so that nothing the user wrote is lost. An earlier copy is kept: it is the
// older original. False when the copy could not be made; the file is not rewritten then.
// Called under the lock.
bool iv__originalbehalten() {
    char orig[60];
    snprintf(orig, sizeof orig, "%s.orig", inidatei);
    if (!file_exists(inidatei)) return true;
    if (file_copy(inidatei, orig, true)) {
        int fd = open(orig, O_RDONLY | O_CLOEXEC);
        bool ok = fd >= 0 && fsync(fd) == 0;
        if (fd >= 0) close(fd);
        if (ok) {
            lo_slog("!INI file: the original has been kept as %s.\n", orig, -1);
            return true;
        }
    } else if (errno == EEXIST) {
        lo_slog("INI file: %s exists and is kept; not copied again.\n", orig, -1);
        return true;
    }
    lo_slog("!INI file: no copy %s, the file is not rewritten.\n", orig, -1);
    unlink(orig);
    return false;
}

// Waits the start delay, counting down in the status line.
void iv__startverzoegerung() {
    unsigned long sekunden = ruhestatus == 4 ? inidat.resumedelay : inidat.startdelay;
    for (unsigned long i = sekunden; i > 0 && !programmende_gewuenscht; i--) {
        char text[60], mini[60];
        snprintf(text, sizeof text, _de ? " Start in %lu Sekunden." : " Start in %lu seconds.", i);
        snprintf(mini, sizeof mini, " Start in_%lus.", i);
        ps_statustext(text, mini);
        if (msleepx(1000)) break;
    }
    if (sekunden) ps_statustext(" Start.", " Start.");
}

} // namespace

bool iv_iniopen(const char* modus) {
    iv__profil();
    bool schreiben = strchr(modus, 'w') || strchr(modus, '+');
    if (iv__fii && iv__besitzer == std::this_thread::get_id()) {
        if (strcmp(iv__modus, modus) == 0) return true;
        iv_iniclose();
    }
    int versuche = schreiben ? 8 : 3;
    for (int i = 0; i < versuche; i++) {
        if (i > 0 && msleepx(900 + rand() % 200)) break;
        if (!iv__lock(1000)) continue;
        // Opened only under the lock, so the handle is always the file now at the path.
        iv__fii = fopen(inidatei, modus);
        if (iv__fii) {
            strMcpy(iv__modus, modus);
            lo_slog("Opened INI file with access \"%s\".\n", modus, -1);
            return true;
        }
        int fehler = errno;
        iv__unlock();
        // A read-only file system, a directory in the file's place or a denied access do not
        // pass within the retries: waiting for them would only stall the caller's cycle.
        if (fehler == EROFS || fehler == EISDIR || fehler == EACCES || fehler == EPERM) {
            lo_slog("INI file: %s\n", strerror(fehler), -1);
            break;
        }
    }
    iv__gesperrt();
    lo_slog("Could not open INI file with access \"%s\".\n", modus, -1);
    msleepx(1000);
    return false;
}

void iv_iniclose() {
    if (!iv__fii || iv__besitzer != std::this_thread::get_id()) return;
    fclose(iv__fii);
    iv__fii = nullptr;
    iv__modus[0] = 0;
    lo_slog("Closed INI file.\n", "", -1);
    iv__unlock();
}

FILE* iv_inifile() {
    return iv__besitzer == std::this_thread::get_id() ? iv__fii : nullptr;
}

bool iv_iniwrite() {
    if (!iv__lock(8000)) {
        iv__gesperrt();
        return false;
    }
    if (inidat.funktion == FUNKTION_CONFIG) {
        // The header as it is in the file now, so that counters a running connection
        // program advanced meanwhile are kept.
        char kopf[1180] = "";
        FILE* alt = fopen(inidatei, "r");
        if (alt) {
            if (!fgets(kopf, sizeof kopf, alt)) kopf[0] = 0;
            fclose(alt);
        }
        iv__zeilenende(kopf);
        const char* k = kopf + iv__bomlaenge(kopf);
        hd_confighead(iv__istkopf(k) ? k : "");
    } else {
        iv_iniheaderwrite(true);
    }
    if (iv__original && !iv__originalbehalten()) {
        iv__unlock();
        return false;
    }
    char tmp[80];
    snprintf(tmp, sizeof tmp, "%s.tmpXXXXXX", inidatei);
    int fd = mkstemp(tmp);
    bool ok = fd >= 0;
    if (ok) {
        fchmod(fd, 0600);
        FILE* f = fdopen(fd, "w");
        if (!f) {
            close(fd);
            ok = false;
        } else {
            ok = fprintf(f, "%.53s\n", headerdaten) > 0 && ik_write(f);
            ok = fflush(f) == 0 && ok;
            ok = fsync(fileno(f)) == 0 && ok;
            ok = fclose(f) == 0 && ok;
        }
        if (ok) ok = rename(tmp, inidatei) == 0;
        if (!ok) unlink(tmp);
    }
    if (ok) {
        // The rename itself must reach the disk too.
        int dfd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            fsync(dfd);
            close(dfd);
        }
        lo_slog(_de ? "INI-Datei wurde neu geschrieben.\n" : "The INI file hase been rewritten.\n",
                "", -1);
        iv__original = false;
        hd_ganzgeschrieben();
    } else {
        lo_slog("!INI file could not be written: %s\n", strerror(errno), -1);
    }
    iv__unlock();
    return ok;
}

int iv_iniparse() {
    inidatgueltig = false;
    int funktion_start = inidat.funktion;
    // A restart must not set counters back that a failed write left only in memory.
    hd_vormerken();
    ps_resetinidat();
    _inidatneu = false;
    iv__original = false;

    // Program name and arguments.
    int erstes = 1;
    int funktion = pn_programmname(_argc, _argv, &erstes);
    bool unbekannt = funktion < 0;
    if (funktion_start != 0) funktion = funktion_start; // CONTROL, PROFILE, removal by main
    inidat.funktion = funktion < 0 ? 0 : funktion;

    // Single instance.
    if ((inidat.funktion < 40 || inidat.funktion == FUNKTION_CONFIG) && ps_hooks.startcheck &&
        !ps_hooks.startcheck())
        return -1;

    // Redirection to another directory by DIR= in lines 2 to 4, in the file the profile
    // names.
    iv__profil();
    if (iv__existenz() == 1 && iv_iniopen("rt")) {
        char ziel[300];
        bool umleiten = iv__dirumleitung(ziel, sizeof ziel);
        iv_iniclose();
        if (umleiten) iv__dirwechsel(ziel);
    }

    int existenz = iv__existenz();
    if (existenz < 0) {
        iv__gesperrt();
        ps_messagebox("tandor   Datei gesperrt / file locked",
                      _de ? "Die Konfigurationsdatei konnte nicht gelesen werden.  "
                          : "The configuration file could not be read.  ",
                      0, 0);
        return -1;
    }

    ik_lesen_t st = {};
    if (existenz == 0) {
        // A new file: the header defaults, switch O, written without reading keys.
        hd_new();
        inidat.mod[(unsigned char)'O'] = 1;
        _inidatneu = true;
        if (inidat.funktion == 0) {
            inidat.hinweisk = '1';
            strMcpy(inidat.hinweis, _de ? "Ggf. Zeilen PIN und APN ergänzen (siehe unten)!"
                                        : "If necessary, complete lines PIN and APN (see below)!");
        }
    } else if (iv_iniopen("rt")) {
        char zeile[1300]; // the longest line written (PASS=) is about 1213 characters
        FILE* f = iv_inifile();
        rewind(f);
        bool zulang = false;
        // The header is the start of line 01; an overlong rest of it is no key line. A
        // first line with a '=' is a key line of a file written by hand without a header:
        // its lines are settings, the counters start fresh.
        if (iv__zeilelesen(f, zeile, sizeof zeile, &zulang)) {
            size_t bom = iv__bomlaenge(zeile);
            char* z = zeile + bom;
            bool kopf = iv__istkopf(z);
            if (kopf) {
                iv__zeilenende(z);
                hd_read(z);
                // Behind the mark the header cannot be written in place.
                if (bom) hd_ganzschreiben(zeile);
            } else {
                lo_slog("!INI file without a header line: its lines are read as settings.\n", "",
                        -1);
                hd_new();
                hd_ganzschreiben(zeile);
                if (!zulang) ik_line(z, &st);
            }
            // Whatever line 01 held that was not the program's own header is kept in the
            // original's copy; the rewrite gives the file a complete header.
            if (hd_ganzausstehend()) _inidatneu = iv__original = true;
        }
        while (iv__zeilelesen(f, zeile, sizeof zeile, &zulang)) {
            if (zulang) {
                // A line longer than any the program writes is dropped whole: a cut value
                // (a password, say) would silently read as another one.
                char maskiert[40];
                lo_slog("INI file: line too long, ignored: %.40s\n",
                        iv__geheim(zeile, maskiert, sizeof maskiert) ? maskiert : zeile, -1);
                continue;
            }
            ik_line(zeile, &st);
        }
        iv_iniclose();
    } else {
        return -1;
    }
    // The arguments that were not the program name, as further lines.
    for (int i = erstes; i < _argc; i++) {
        if (!_argv[i] || !_argv[i][0] || pn_startkeyword(_argv[i]) ||
            memicmp(_argv[i], "DIR=", 4) == 0)
            continue;
        char maskiert[40];
        lo_slog(_de ? "* Übergabeparameter: %s\n" : "* Program parameter: %s\n",
                iv__geheim(_argv[i], maskiert, sizeof maskiert) ? maskiert : _argv[i], -1);
        char zeile[1300];
        strMcpy(zeile, _argv[i]);
        ik_line(zeile, &st);
    }
    ik_finish(&st);
    if (st.neu) _inidatneu = true;
    if (inidat.day == 0) inidat.headerv = 0;
    if (inidat.dayt == 0) inidat.headert = 0;

    iv__servicelogdump();
    if (inidat.funktion < 40) iv__startverzoegerung();
    if (inidat.funktion == 0 && existenz >= 1) inidat.funktion = 9;

    // Start-up checks: the modem is asked for what the configuration lacks.
    bool pruefungunvollstaendig = false, neuschreiben = false;
    if (inidat.funktion < 40 && !st.writeexit && ps_hooks.startchecks) {
        // A new file only gets the ports of COM=; the modem is asked from the next start on.
        int r = ps_hooks.startchecks(&neuschreiben, existenz < 1);
        if (r < 0) return -1;
        pruefungunvollstaendig = r > 0;
    }

    if ((_inidatneu || neuschreiben || inidat.hinweis[0] || st.writeexit) &&
        inidat.funktion != FUNKTION_CONTROL) {
        bool geschrieben = iv_iniwrite();
        if (geschrieben && inidat.funktion != FUNKTION_CONFIG) {
            iv_iniheaderwrite(false);
            inidat.headerx = 9999;
        }
        if (!geschrieben && inidat.funktion >= 40) {
            char text[200];
            snprintf(text, sizeof text,
                     _de ? "Die Konfigurationsdatei \"%s\"  \nkonnte nicht geschrieben werden.  "
                         : "The configuration file \"%s\"  \ncould not be written.  ",
                     inidatei);
            ps_messagebox("tandor   Datei gesperrt / file locked", text, 0, 0);
            return -1;
        }
    }
    // Counters kept from memory over a failed write go to the file at this first chance.
    if (hd_ausstehend() && inidat.funktion < 40 && existenz >= 1) iv_iniheaderwrite(false);
    inidatgueltig = true;
    if (st.writeexit) return 2;
    if (unbekannt || inidat.hinweis[0] || pruefungunvollstaendig) {
        if (inidat.funktion < 40) inidat.funktion = 0;
        return 1;
    }
    return 0;
}
