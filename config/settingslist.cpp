#include "config/settingslist.h"

#include "config/inifile.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/webfetch.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

const char* se_wiki = "wiki.tandor.example";
const char* se_website = "tandor.example";

namespace {

// The editors whose revisions of the list are taken.
constexpr const char* se__vertraut[5] = {"Tandor", "Tandor-Team", "Listenpflege", "Netzwart",
                                         "Providerdaten"};
constexpr const char* se__kopf = "tandor Standard Settings   AAA00007";
constexpr int se__MARKE = 27;
constexpr const char* se__felder[13] = {
    "",       "",      "",      "|PLMN=", "|APN=",  "|USERNAME=", "|PASSWORD=",
    "|SMSC=", "|PPQ=", "|PPC=", "|HOMU=", "|HOMI=", "|HOMO="};

std::string se__mem;                 // the whole file
size_t se__memp = std::string::npos; // start of the selected entry line

bool se__zeilenanfang(const std::string& s, size_t i, const char* text) {
    return s.compare(i, strlen(text), text) == 0;
}
size_t se__zeilenende(const std::string& s, size_t i) {
    size_t e = s.find_first_of("\r\n", i);
    return e == std::string::npos ? s.size() : e;
}
// Starts of the entry lines (operator lines and "|||" lines) in file order.
std::vector<size_t> se__eintragszeilen() {
    std::vector<size_t> z;
    for (size_t i = 0; i < se__mem.size();) {
        if (se__zeilenanfang(se__mem, i, "{{Settings|") || se__zeilenanfang(se__mem, i, "|||"))
            z.push_back(i);
        size_t e = se__mem.find('\n', i);
        if (e == std::string::npos) break;
        i = e + 1;
    }
    return z;
}
std::string se__bis(const std::string& s, size_t i, const char* ende, size_t max) {
    size_t e = s.find_first_of(ende, i);
    if (e == std::string::npos) e = s.size();
    return s.substr(i, std::min(e - i, max));
}

bool se__schreiben(const char* datei, const std::string& inhalt) {
    std::string tmp = std::string(datei) + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = write(fd, inhalt.data(), inhalt.size()) == static_cast<ssize_t>(inhalt.size()) &&
              fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) {
        file_makerw(datei, 0);
        ok = rename(tmp.c_str(), datei) == 0;
    }
    if (!ok) unlink(tmp.c_str());
    return ok;
}

bool se__lesen(const char* datei, std::string& out) {
    FILE* f = fopen(datei, "rb");
    if (!f) return false;
    out.clear();
    char b[8192];
    size_t n;
    while ((n = fread(b, 1, sizeof b, f)) > 0)
        out.append(b, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// The body of an HTTP answer with status 2xx; null otherwise.
const char* se__koerper(const char* antwort) {
    if (!antwort || strncmp(antwort, "HTTP/1.", 7) != 0 || antwort[8] != ' ' || antwort[9] != '2')
        return nullptr;
    const char* k = strstr(antwort, "\r\n\r\n");
    return k ? k + 4 : nullptr;
}

} // namespace

bool se_laden() {
    std::string s;
    if (!se__lesen(settingsdatei, s) || s.size() < 6) return false;
    se__mem = std::move(s);
    se__memp = std::string::npos;
    return true;
}

std::vector<std::string> se_eintraege() {
    std::vector<std::string> liste;
    std::string prefix = "?   ";
    const std::string& s = se__mem;
    for (size_t i = 0; i < s.size();) {
        if (se__zeilenanfang(s, i, "==")) {
            size_t j = s.find_first_not_of("= ", i);
            std::string t = j == std::string::npos ? "" : se__bis(s, j, "=\r\n", 100);
            while (!t.empty() && t.back() == ' ')
                t.pop_back();
            prefix = t + "   ";
        } else if (se__zeilenanfang(s, i, "{{Settings|")) {
            size_t e = se__zeilenende(s, i);
            size_t p = s.find("|PROVIDER=", i);
            std::string name =
                p != std::string::npos && p < e ? se__bis(s, p + 10, "\n|}", 100) : "?";
            char u[400];
            strmtoutf8(u, (prefix + name).c_str(), sizeof u);
            liste.push_back(u);
        } else if (se__zeilenanfang(s, i, "|||")) {
            std::string name = se__bis(s, i + 3, "=|\r\n", 100);
            if (name.size() < 2) name = "??";
            char u[400];
            strmtoutf8(u, name.c_str(), sizeof u);
            liste.push_back(u);
        }
        size_t e = s.find('\n', i);
        if (e == std::string::npos) break;
        i = e + 1;
    }
    return liste;
}

void se_setrow(int zeile) {
    std::vector<size_t> z = se__eintragszeilen();
    se__memp = zeile >= 0 && static_cast<size_t>(zeile) < z.size() ? z[zeile] : std::string::npos;
}

bool se_feld(int ele, std::string& wert) {
    if (ele < 3 || ele > 12) return false;
    wert.clear();
    if (se__memp == std::string::npos || !se__zeilenanfang(se__mem, se__memp, "{{Settings|"))
        return false;
    size_t e = se__zeilenende(se__mem, se__memp);
    size_t p = se__mem.find(se__felder[ele], se__memp);
    if (p == std::string::npos || p >= e) return false;
    size_t a = p + strlen(se__felder[ele]);
    wert = se__bis(se__mem, a, "|}\r\n", e - a);
    if (wert.size() > 17 && wert.compare(0, 8, "<nowiki>") == 0 &&
        wert.compare(wert.size() - 9, 9, "</nowiki>") == 0)
        wert = wert.substr(8, wert.size() - 17);
    bool modem = ele == 3 || ele == 4 || ele == 7 || ele == 8 || ele == 9;
    if (modem)
        for (unsigned char c : wert)
            if (c == '"' || c == ';' || c < 0x20 || c == 0x7F) {
                lo_slog("Settings list: value of %s refused.\n", se__felder[ele] + 1, -1);
                wert.clear();
                break;
            }
    return !wert.empty();
}

void se_end() {
    se__mem.clear();
    se__mem.shrink_to_fit();
    se__memp = std::string::npos;
}

bool se_revision(const char* historie, std::string& editurl) {
    if (!historie) return false;
    const std::string h = historie;
    const std::string nutzer = "<span class='history-user'><a href=\"/wiki/index.php/Benutzer:";
    for (size_t i = 0; i < h.size();) {
        size_t e = se__zeilenende(h, i);
        std::string zeile = h.substr(i, e - i);
        i = e + 1;
        if (zeile.compare(0, 4, "<li>") != 0 && zeile.compare(0, 10, "<li class=") != 0) continue;
        size_t u = zeile.find(nutzer);
        if (u == std::string::npos) continue;
        std::string name = se__bis(zeile, u + nutzer.size(), "&\"<>\r\n", 200);
        bool vertraut = false;
        for (const char* v : se__vertraut)
            vertraut = vertraut || (!name.empty() && strcasecmp(name.c_str(), v) == 0);
        if (!vertraut) continue;
        size_t a = zeile.rfind("<a href=\"", u);
        if (a == std::string::npos) return false;
        std::string ziel = se__bis(zeile, a + 9, "\"", 1000);
        for (size_t k; (k = ziel.find("&amp;")) != std::string::npos;)
            ziel.replace(k, 5, "&");
        if (ziel.empty() || ziel[0] != '/') return false;
        editurl = std::string(se_wiki) + ziel + "&action=edit";
        return true;
    }
    return false;
}

bool se_quelltext(const char* seite, std::string& inhalt) {
    if (!seite) return false;
    const std::string s = seite;
    const std::string id = "id=\"wpTextbox1\"";
    size_t t = s.find("<textarea " + id);
    for (size_t k = s.find("<textarea "); t == std::string::npos && k != std::string::npos;
         k = s.find("<textarea ", k + 1)) {
        size_t f = s.find(" " + id, k);
        if (f != std::string::npos && f - k <= 100) t = k;
    }
    if (t == std::string::npos) return false;
    size_t a = s.find('>', t);
    if (a == std::string::npos) return false;
    size_t e = s.find("</textarea><div", a);
    if (e == std::string::npos) return false;
    inhalt = s.substr(a + 1, e - a - 1);
    return inhalt.find("{{Settings|") != std::string::npos;
}

std::string se_umwandeln(const std::string& inhalt) {
    static constexpr struct {
        unsigned char a, b, latin;
    } paare[] = {{0xC3, 0x84, 0xC4}, {0xC3, 0x96, 0xD6}, {0xC3, 0x9C, 0xDC}, {0xC3, 0xA4, 0xE4},
                 {0xC3, 0xB6, 0xF6}, {0xC3, 0xBC, 0xFC}, {0xC3, 0x9F, 0xDF}, {0xC3, 0xAB, 0xEB},
                 {0xC3, 0xB1, 0xF1}, {0xC3, 0xA1, 0xE1}, {0xC4, 0x83, 0xE3}};
    std::string o;
    o.reserve(inhalt.size() + inhalt.size() / 20);
    for (size_t i = 0; i < inhalt.size(); i++) {
        unsigned char c = static_cast<unsigned char>(inhalt[i]);
        if (c == '\r' && i + 1 < inhalt.size() && inhalt[i + 1] == '\n') continue;
        if (c == '\n') {
            o += "\r\n";
            continue;
        }
        bool paar = false;
        if (i + 1 < inhalt.size())
            for (auto& p : paare)
                if (c == p.a && static_cast<unsigned char>(inhalt[i + 1]) == p.b) {
                    o += static_cast<char>(p.latin);
                    i++;
                    paar = true;
                    break;
                }
        if (paar) continue;
        if (inhalt.compare(i, 4, "&lt;") == 0)
            o += '<', i += 3;
        else if (inhalt.compare(i, 4, "&gt;") == 0)
            o += '>', i += 3;
        else if (inhalt.compare(i, 5, "&amp;") == 0)
            o += '&', i += 4;
        else
            o += static_cast<char>(c);
    }
    return o;
}

bool se_settingsupdate() {
    std::string url =
        std::string(se_wiki) + "/wiki/index.php?title=Vorlage:Settings_List&action=history";
    char* historie = iz_httpget(url.c_str(), nullptr, nullptr, 2, 0, false);
    std::string edit;
    bool ok = se_revision(se__koerper(historie), edit);
    free(historie);
    if (!ok) return false;
    char* seite = iz_httpget(edit.c_str(), nullptr, nullptr, 2, 0, false);
    std::string inhalt;
    ok = se_quelltext(se__koerper(seite), inhalt);
    free(seite);
    if (!ok) return false;
    std::string datei = std::string(se__kopf) + "\r\n\r\n" + se_umwandeln(inhalt) + "\r\n*****";
    if (!se__schreiben(settingsdatei, datei)) return false;
    lo_slog(_de ? "Standardeinstellungen wurden upgedatet.\n"
                : "Standard settings have been updated.\n",
            "", -1);
    return true;
}

bool se_settingsupdated() {
    std::string s;
    if (!se__lesen(settingsdatei, s) || s.size() <= static_cast<size_t>(se__MARKE) ||
        s[se__MARKE] != 'A')
        return false;
    s[se__MARKE] = 'L';
    if (!se__schreiben(settingsdatei, s)) return false;
    std::string zurueck;
    return se__lesen(settingsdatei, zurueck) && zurueck.size() > static_cast<size_t>(se__MARKE) &&
           zurueck[se__MARKE] == 'L';
}

long se_version(const char* antwort) {
    const char* k = se__koerper(antwort);
    if (!k || strncmp(k, "tandor  ", 8) != 0 || !isdigit(static_cast<unsigned char>(k[8])))
        return -1;
    char* e;
    long v = strtol(k + 8, &e, 10);
    return v > 0 && v < 100000 ? v : -1;
}

int se_updatequery() {
    update_gewuenscht = false;
    std::string url = std::string(se_website) + "/tandor_version.txt";
    char* a = iz_httpget(url.c_str(), nullptr, nullptr, 2, 0, false);
    long v = se_version(a);
    free(a);
    std::string seite = std::string("http://") + se_website;
    int r;
    if (v < 0) {
        lo_slog(_de ? "Versionsseite nicht erreichbar.\n" : "Version page not available.\n", "",
                -1);
        seite += _de ? "/index_de.html" : "/index.html";
        r = -1;
    } else if (v >= 501) {
        lo_slog(_de ? "Update auf Version %s%li ist verfügbar.\n"
                    : "Update to version %s%li is available.\n",
                "", v);
        seite += _de ? "/update_verfuegbar.html" : "/update_available.html";
        r = 1;
    } else {
        lo_slog("Update query: program version is uptodate.\n", "", -1);
        seite += _de ? "/update_aktuell.html" : "/update_uptodate.html";
        r = 0;
    }
    iz_httpbrowse(seite.c_str());
    if (r < 0) msleepx(3000);
    return r;
}

bool svclesen(char* datei) {
    if (datei) datei[0] = 0;
    return false;
}
