#include "core/logging.h"

#include "core/helpers.h"
#include "core/programstate.h"
#include "core/system.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

char connlogdatei[55] = "connlog.txt";
std::atomic<int> smssignalstatus{0};

namespace {

// Log-after-standby counter: 0 off, 1..120 stage 2, 121..160 stage 1.
std::atomic<int> lo__logafterstandby{0};
constexpr int lo__STUFE1 = 121;
constexpr int lo__STUFE0 = 161;

// The connection-log stamp; "*" until the first lo_vlogtime. Guarded so that a reader
// never copies a half-written stamp.
std::mutex lo__stampmutex;
char lo__vlogtimestamp[30] = "*";

// How far the per-SMS file name may move forward when its second is taken.
constexpr int lo__SMSFILETRIES = 60;

// Closes a descriptor on every path.
struct lo__fdguard {
    int fd;
    ~lo__fdguard() {
        if (fd >= 0) close(fd);
    }
};

bool lo__writeall(int fd, const char* p, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        len -= (size_t)n;
    }
    return true;
}

// Writes one piece of text as a single write; oflags chooses append, replace or exclusive
// creation. False when the file cannot be opened or written.
// With sync the text is on the disk when true comes back (the SMS log: a message is
// deleted from the modem only after that).
bool lo__writefile(const char* path, int oflags, mode_t mode, const char* text, size_t len,
                   bool sync = false) {
    lo__fdguard f{open(path, O_WRONLY | O_CREAT | O_CLOEXEC | oflags, mode)};
    if (f.fd < 0) return false;
    if (!lo__writeall(f.fd, text, len)) return false;
    return !sync || fsync(f.fd) == 0;
}

// Makes the entries of a directory durable (a file just created in it).
bool lo__syncdir(const char* path) {
    lo__fdguard d{open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    return d.fd >= 0 && fsync(d.fd) == 0;
}

// A formatted line in a stack buffer, or on the heap when it does not fit.
struct lo__line {
    char buf[1024];
    char* heap = nullptr;
    const char* text = nullptr;
    size_t len = 0;
    ~lo__line() { free(heap); }
};

bool lo__vformat(lo__line& l, const char* fmt, va_list ap) {
    va_list ap2;
    va_copy(ap2, ap);
    int n = vsnprintf(l.buf, sizeof l.buf, fmt, ap);
    if (n >= 0 && (size_t)n >= sizeof l.buf) {
        l.heap = (char*)malloc((size_t)n + 1);
        if (!l.heap) abort();
        vsnprintf(l.heap, (size_t)n + 1, fmt, ap2);
    }
    va_end(ap2);
    if (n < 0) return false;
    l.text = l.heap ? l.heap : l.buf;
    l.len = (size_t)n;
    return true;
}

bool lo__format(lo__line& l, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    bool ok = lo__vformat(l, fmt, ap);
    va_end(ap);
    return ok;
}

// Appends one formatted line to a log file.
void lo__append(const char* path, const char* fmt, ...) {
    lo__line l;
    va_list ap;
    va_start(ap, fmt);
    bool ok = lo__vformat(l, fmt, ap);
    va_end(ap);
    if (ok) lo__writefile(path, O_APPEND, 0666, l.text, l.len);
}

// A format cut to a length limit may end inside a conversion ("...%l"); drop such a
// remnant so that printf never sees an incomplete conversion.
void lo__trimconversion(char* f) {
    for (size_t i = 0; f[i]; i++) {
        if (f[i] != '%') continue;
        size_t j = i + 1;
        if (f[j] == '%') {
            i = j;
            continue;
        }
        while (f[j] && strchr("-+ #0123456789.hlLqjzt", f[j]))
            j++;
        if (!f[j]) {
            f[i] = 0;
            return;
        }
        i = j;
    }
}

// Builds prefix + format, the format cut to maxfmt characters.
template <size_t N>
void lo__buildformat(char (&dest)[N], const char* prefix, const char* format, size_t maxfmt) {
    char* p = stpMcpy(dest, prefix);
    strmcpy(p, format, min((size_t)(dest + N - p), maxfmt + 1));
    lo__trimconversion(dest);
}

long lo__zehntel() {
    return (ti_htime() / 10) % 1000;
}

bool lo__aus() {
    return inidat.funktion == FUNKTION_CONTROL;
}

// While the program rests every log call restarts the log-after-standby counter; the
// first one after it was off marks the start of stage 2.
void lo__standbystep() {
    if (ruhestatus.load() == 0) return;
    int erwartet = 0;
    if (lo__logafterstandby.compare_exchange_strong(erwartet, 1)) {
        lo_slogx("------------------------------\n", "", -1);
        lo_slogx("Protokoll Stufe 2.\n", "", -1);
    }
    lo__logafterstandby = 1;
}

// The compact time YYYYMMDD_hhmmss of a datumzeit text, moved on by plus seconds
// (calendar arithmetic only: the text is already local time).
bool lo__kompakt(const char* dz, int plus, char* out, size_t n) {
    struct tm t = {};
    if (sscanf(dz, "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
               &t.tm_sec) != 6)
        return false;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_sec += plus;
    time_t x = timegm(&t);
    if (!gmtime_r(&x, &t)) return false;
    snprintf(out, n, "%04d%02d%02d_%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
             t.tm_hour, t.tm_min, t.tm_sec);
    return true;
}

bool lo__nummerzeichen(char c, size_t i) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c == '-' && i == 0);
}

// The sender number for the file name: after the first '+', up to 29 characters, and
// only digits, letters and a leading '-', so that no sender text can name another path.
void lo__absender(const char* s, char (&nr)[30]) {
    const char* p = strchr(s, '+');
    p = p ? p + 1 : s;
    size_t k = 0;
    while (k < sizeof nr - 1 && lo__nummerzeichen(p[k], k)) {
        nr[k] = p[k];
        k++;
    }
    nr[k] = 0;
}

// Files the SMS body under sms_in, never replacing an earlier file: a taken name moves
// the time in the name on by one second.
bool lo__smsdatei(const char* dz, const char* s) {
    char nr[30];
    lo__absender(s, nr);
    const char* body = strstr(s, "\n\n");
    body = body ? body + 2 : s;
    for (int i = 0; i < lo__SMSFILETRIES; i++) {
        char kompakt[32];
        if (!lo__kompakt(dz, i, kompakt, sizeof kompakt)) {
            if (i > 0) return false;
            strMcpy(kompakt, datumzeitkompakt());
        }
        char name[100];
        snprintf(name, sizeof name, "sms_in/sms_%s__%s.txt", kompakt, nr);
        lo__fdguard f{open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)};
        if (f.fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        return lo__writeall(f.fd, body, strlen(body)) && fsync(f.fd) == 0 && lo__syncdir("sms_in");
    }
    return false;
}

} // namespace

void lo_slog(const char* format, const char* s, long li) {
    if (lo__aus() || !format) return;
    if (!s) s = "";
    lo__standbystep();
    int c = lo__logafterstandby.load();
    if (c >= 1 && c < lo__STUFE1) lo_slogx(format, s, li);
    if (!MODUS('P') && format[0] != '!') return;
    if (strlen(format) + strlen(s) + 60 > 999) return;
    char f[1024];
    lo__buildformat(f, "%03li ", format, sizeof f);
    if (li >= 0)
        lo__append("servilog.txt", f, lo__zehntel(), s, li);
    else
        lo__append("servilog.txt", f, lo__zehntel(), s);
}

void lo_slogx(const char* format, const char* s, long li) {
    if (lo__aus() || !format) return;
    if (!s) s = "";
    lo__standbystep();
    if (lo__logafterstandby.load() == 0) return;
    int c = ++lo__logafterstandby;
    if (MODUS('X') && strlen(format) + strlen(s) + 60 < 200) {
        char dz[30];
        strMcpy(dz, datumzeit());
        char f[256];
        lo__buildformat(f, "%s %03li ", format, sizeof f);
        if (li >= 0)
            lo__append("servilogx.txt", f, dz, lo__zehntel(), s, li);
        else
            lo__append("servilogx.txt", f, dz, lo__zehntel(), s);
    }
    if (c == lo__STUFE1) {
        lo_slogx("Protokoll Stufe 1.\n", "", -1);
    } else if (c == lo__STUFE0) {
        lo_slogx("Protokoll Stufe 0.\n", "", -1);
        lo__logafterstandby = 0;
    }
}

bool lo_logafterstandby() {
    return lo__logafterstandby.load() != 0;
}

void lo_dlog(const char* format, const char* s, long li) {
    if (lo__aus() || !format) return;
    if (!s) s = "";
    char f[320];
    lo__buildformat(f, "%s ", format, 296);
    char dz[30];
    strMcpy(dz, datumzeit());
    if (li >= 0)
        lo__append("debuglog.txt", f, dz, s, li);
    else
        lo__append("debuglog.txt", f, dz, s);
}

void lo_vlogtime() {
    std::lock_guard<std::mutex> g(lo__stampmutex);
    strMcpy(lo__vlogtimestamp, datumzeit());
}

void lo_vlog(const char* format, const char* s, long li) {
    if (lo__aus() || !format) return;
    if (inidat.round == 0 && inidat.roundt == 0) return;
    if (!s) s = "";
    char stamp[30];
    {
        std::lock_guard<std::mutex> g(lo__stampmutex);
        if (lo__vlogtimestamp[0] == '*') strMcpy(lo__vlogtimestamp, datumzeit());
        strMcpy(stamp, lo__vlogtimestamp);
    }
    // A format that starts with "%s" places the stamp itself.
    char f[140];
    const char* fmt = format;
    if (strncmp(format, "%s", 2) != 0) {
        lo__buildformat(f, "%s ", format, 116);
        fmt = f;
    }
    char datei[sizeof connlogdatei];
    strMcpy(datei, connlogdatei);
    if (li >= 0)
        lo__append(datei, fmt, stamp, s, li);
    else
        lo__append(datei, fmt, stamp, s);
}

bool lo_mlog(const char* format, const char* s, long li, bool sms1) {
    if (lo__aus() || !format || !MODUS('M')) return false;
    if (!s) s = "";
    // One reading of the time for the log lines and the file name.
    char dz[30];
    strMcpy(dz, datumzeit());
    lo__line l;
    bool ok = li >= 0 ? lo__format(l, format, dz, s, li) : lo__format(l, format, dz, s);
    ok = ok && lo__writefile("sms.txt", O_APPEND, 0666, l.text, l.len, true);
    if (!sms1) return ok;
    if (ok) lo__writefile("sms1.txt", O_TRUNC, 0666, l.text, l.len);
    bool datei = lo__smsdatei(dz, s);
    if (datei) smssignalstatus = 1;
    return ok && datei;
}
