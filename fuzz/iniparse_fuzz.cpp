// Fuzz target: reading a whole ini file from disk (iv_iniparse in a scratch directory, as
// the configuration program, which reads the same lines without start delay). The record
// it builds must equal the one of a plain line-by-line reading of the same bytes: the
// header from line 01 (a line 01 with a '=' is a key line of a file without header), every
// other line through the key rules, a line too long for the
// reader dropped whole, a line read up to a NUL byte in it.
#include "fuzz/fuzzsupport.h"
#include "fuzz/iniwrite.h"

#include "config/header.h"
#include "config/inifile.h"
#include "config/inikeys.h"
#include "core/programstate.h"
#include "core/system.h"

#include <fcntl.h>

namespace {

constexpr size_t fz__ZEILE = 1300; // the reader's line buffer

// The plain reading: lines at '\n', each up to its first NUL.
std::string fz__referenz(const std::string& text) {
    ps_resetinidat();
    _de = false;
    ik_lesen_t st = {};
    size_t pos = 0;
    bool erste = true;
    while (pos < text.size()) {
        size_t ende = text.find('\n', pos);
        size_t naechste = ende == std::string::npos ? text.size() : ende + 1;
        std::string z = text.substr(pos, (ende == std::string::npos ? text.size() : ende) - pos);
        pos = naechste;
        if (erste) {
            erste = false;
            // Line 01 is the header unless it holds a '=': then the file has no header
            // line, and it is a key line like the others.
            std::string kopf = z.substr(0, fz__ZEILE - 1);
            if (!strchr(kopf.c_str(), '=')) {
                hd_read(kopf.c_str());
                continue;
            }
            hd_new();
        }
        if (z.size() >= fz__ZEILE - 1) continue;
        fz_text zeile(z);
        ik_line(zeile.c(), &st);
    }
    ik_finish(&st);
    return fz_iniwrite();
}

bool fz__enthaelt(const std::string& s, const char* wort) {
    for (size_t i = 0; i + strlen(wort) <= s.size(); i++)
        if (strncasecmp(s.c_str() + i, wort, strlen(wort)) == 0) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fz_arbeitsverzeichnis(argc, argv);
    sy_setclock(SY_CLOCK_AUTO);
    _argc = 0;
    _argv = nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 20000) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    // DIR= moves the whole configuration to another directory: not here. The first
    // character makes the file an existing one.
    if (fz__enthaelt(text, "dir")) return 0;
    if (text[0] != '0' && text[0] != '1') text[0] = '0';

    fz_logsleeren();
    unlink("tandor.ini");
    int fd = open("tandor.ini", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    FZ_PRUEF(fd >= 0);
    FZ_PRUEF(write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
    close(fd);

    // Read as the configuration program reads it: the same lines, but without the start
    // delay (SDLY= may ask for years) and the modem checks.
    inidat.funktion = FUNKTION_CONFIG;
    _de = false; // the language stays from the last start when the file names none
    programmende_gewuenscht = false;
    ruhestatus = 0;
    int r = iv_iniparse();
    FZ_PRUEF(r >= -1 && r <= 2);
    std::string gelesen = fz_iniwrite();
    std::string referenz = fz__referenz(text);
    if (gelesen != referenz) {
        fprintf(stderr, "iv_iniparse:\n%s\nline by line:\n%s\n", gelesen.c_str(), referenz.c_str());
        abort();
    }
    return 0;
}
