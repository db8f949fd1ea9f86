#include "core/helpers.h"

#include "core/programstate.h"
#include "core/system.h"

#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned char hp__hexvalue(int c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : 0;
}

// Unsigned, upper-cased byte: the key of the case-insensitive order.
inline int hp__upper(char c) {
    return toupper((unsigned char)c);
}

// Digits of the magnitude, least significant first, then reversed in place.
char* hp__utoa(unsigned long m, bool neg, char* s, int b) {
    if (b < 2 || b > 16) {
        *s = '\0';
        return s;
    }
    char* p = s;
    do {
        *p++ = "0123456789abcdef"[m % b];
        m /= b;
    } while (m);
    if (neg) *p++ = '-';
    *p = '\0';
    for (char *l = s, *r = p - 1; l < r; ++l, --r) {
        char c = *l;
        *l = *r;
        *r = c;
    }
    return s;
}

// Closes a descriptor on every path out of a function.
struct hp__fd {
    int fd = -1;
    ~hp__fd() {
        if (fd >= 0) close(fd);
    }
};

} // namespace

#define HP__X4(n) hp__hexvalue(n), hp__hexvalue(n + 1), hp__hexvalue(n + 2), hp__hexvalue(n + 3)
#define HP__X16(n) HP__X4(n), HP__X4(n + 4), HP__X4(n + 8), HP__X4(n + 12)
#define HP__X64(n) HP__X16(n), HP__X16(n + 16), HP__X16(n + 32), HP__X16(n + 48)

constexpr char _hexdigit[17] = "0123456789ABCDEF";
constexpr unsigned char _hexnumber[256] = {HP__X64(0), HP__X64(64), HP__X64(128), HP__X64(192)};
// '7', 'c', 'F' and 'G' by their codes: a char subscript would be sign-dependent.
static_assert(_hexnumber[0x37] == 7 && _hexnumber[0x63] == 12 && _hexnumber[0x46] == 15 &&
              _hexnumber[0x47] == 0 && _hexnumber[255] == 0);

// ---- Strings and numbers ----

char* itoa(int v, char* s, int b) {
    return hp__utoa(v < 0 ? 0UL - (unsigned long)v : (unsigned long)v, v < 0, s, b);
}

char* ltoa(long v, char* s, int b) {
    return hp__utoa(v < 0 ? 0UL - (unsigned long)v : (unsigned long)v, v < 0, s, b);
}

char* strmcpy(char* dest, const char* src, size_t maxlen) {
    stpmcpy(dest, src, maxlen);
    return dest;
}

char* stpmcpy(char* dest, const char* src, size_t maxlen) {
    if (maxlen == 0) return dest;
    if (src)
        while (--maxlen && *src)
            *dest++ = *src++;
    *dest = '\0';
    return dest;
}

char* strmtcpy(char* dest, char** srcp, size_t maxlen, char token) {
    char* s = *srcp;
    char* d = dest;
    for (; *s && *s != token; ++s)
        if (maxlen > 1 && d < dest + maxlen - 1) *d++ = *s;
    if (maxlen) *d = '\0';
    if (*s == token && *s) ++s;
    *srcp = s;
    return dest;
}

void strupper(char* tp) {
    for (; *tp; ++tp)
        *tp = (char)toupper((unsigned char)*tp);
}

int stricmp(const char* s1, const char* s2) {
    for (;; ++s1, ++s2) {
        int c1 = hp__upper(*s1), c2 = hp__upper(*s2);
        if (c1 != c2) return c1 < c2 ? -1 : 1;
        if (!c1) return 0;
    }
}

int memicmp(const char* s1, const char* s2, long siz) {
    for (long i = 0; i < siz; ++i) {
        int c1 = hp__upper(s1[i]), c2 = hp__upper(s2[i]);
        if (c1 != c2) return c1 < c2 ? -1 : 1;
        if (!c1) return 1; // both ended before siz characters: not a match
    }
    return 0;
}

char* strmtoutf8(char* dest, const char* src, size_t maxlen) {
    static constexpr struct {
        unsigned char latin, u1, u2;
    } tab[] = {{0xC4, 0xC3, 0x84}, {0xD6, 0xC3, 0x96}, {0xDC, 0xC3, 0x9C}, {0xE4, 0xC3, 0xA4},
               {0xF6, 0xC3, 0xB6}, {0xFC, 0xC3, 0xBC}, {0xDF, 0xC3, 0x9F}, {0xEB, 0xC3, 0xAB},
               {0xF1, 0xC3, 0xB1}, {0xE1, 0xC3, 0xA1}, {0xE3, 0xC4, 0x83}};
    if (maxlen == 0) return dest;
    const unsigned char* s = (const unsigned char*)src;
    size_t j = 0, room = maxlen - 1; // output bytes before the terminator
    while (*s && j < room) {
        unsigned char c = *s;
        bool done = false;
        if (room - j >= 2)
            for (auto& t : tab)
                if (t.latin == c) {
                    dest[j++] = (char)t.u1;
                    dest[j++] = (char)t.u2;
                    s++;
                    done = true;
                    break;
                }
        if (done) continue;
        if ((c == 0xC3 || c == 0xC4) && (s[1] & 0x80) && room - j >= 2) {
            dest[j++] = (char)*s++;
            dest[j++] = (char)*s++;
        } else if (c == 0xE2 && s[1] == 0x86 && (s[2] & 0x80) && room - j >= 3) {
            for (int k = 0; k < 3; ++k)
                dest[j++] = (char)*s++;
        } else {
            dest[j++] = c < 0x80 ? (char)c : '_';
            s++;
        }
    }
    dest[j] = '\0';
    return dest;
}

int bereich(int i, int von, int bis) {
    if (i < von) i = von;
    if (i > bis) i = bis;
    return i;
}

long bereichl(long i, long von, long bis) {
    if (i < von) i = von;
    if (i > bis) i = bis;
    return i;
}

int sortiervergleich(const void* a, const void* b) {
    return strcmp((const char*)a, (const char*)b);
}

int sortiervergleichi(const void* a, const void* b) {
    return stricmp((const char*)a, (const char*)b);
}

// ---- Files and directories ----

bool file_exists(const char* fn) {
    return fn && access(fn, R_OK) == 0;
}

bool file_find(const char* d, const char* st, char* re, size_t relen) {
    if (!d) d = ".";
    if (re && relen) *re = '\0';
    DIR* dir = opendir(d);
    if (!dir) return false;
    size_t stlen = st ? strlen(st) : 0;
    bool found = false;
    while (dirent* e = readdir(dir)) {
        if (strncmp(e->d_name, st ? st : "", stlen) != 0) continue;
        found = true;
        if (re) {
            // A cut-off path would name another file: a result that does not fit is no match.
            size_t dl = strlen(d);
            bool slash = dl && d[dl - 1] == DIRCHAR;
            if (dl + !slash + strlen(e->d_name) >= relen) {
                found = false;
            } else {
                char* p = stpmcpy(re, d, relen);
                if (!slash) p = stpmcpy(p, DIRSTR, relen - (p - re));
                stpmcpy(p, e->d_name, relen - (p - re));
            }
        }
        break;
    }
    closedir(dir);
    return found;
}

long file_length(const char* fn) {
    struct stat st;
    if (!fn || stat(fn, &st) != 0) return -1;
    return (long)st.st_size;
}

bool file_copy(const char* src, const char* dst, bool fiex) {
    if (!src || !dst) return false;
    hp__fd in, out;
    struct stat sst, dstst;
    if ((in.fd = open(src, O_RDONLY)) < 0 || fstat(in.fd, &sst) != 0) return false;
    // The destination is truncated only after it has been seen not to be the source itself.
    if (fiex) {
        out.fd = open(dst, O_WRONLY | O_CREAT | O_EXCL, 0600);
    } else {
        out.fd = open(dst, O_WRONLY | O_CREAT, 0600);
        if (out.fd < 0) out.fd = open(dst, O_WRONLY);
    }
    if (out.fd < 0 || fstat(out.fd, &dstst) != 0) return false;
    if (sst.st_dev == dstst.st_dev && sst.st_ino == dstst.st_ino) {
        errno = EINVAL;
        return false;
    }
    if (S_ISREG(dstst.st_mode) && ftruncate(out.fd, 0) != 0) return false;

    constexpr size_t blocksize = 32768;
    char* buf = (char*)malloc(blocksize);
    assert(buf != nullptr);
    struct hp__buf {
        char* p;
        ~hp__buf() { free(p); }
    } bufguard{buf};
    for (;;) {
        ssize_t n = read(in.fd, buf, blocksize);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out.fd, buf + done, n - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

void file_makerw(const char* d, int ri) {
    struct stat st;
    if (!d || stat(d, &st) != 0) return;
    mode_t need = S_ISDIR(st.st_mode) ? 0700 : ri ? 0700 : 0600;
    if ((st.st_mode & need) == need) return;
    chmod(d, (st.st_mode & 07777) | need);
}

bool file_delete(const char* fn) {
    return fn && unlink(fn) == 0;
}

bool symlink_create(const char* src, const char* dst) {
    if (!src || !dst) return false;
    return symlink(src, dst) == 0 || errno == EEXIST;
}

bool dir_create(const char* dn) {
    return dn && (mkdir(dn, 0700) == 0 || errno == EEXIST);
}

// ---- Time and sleeping ----

void msleep(long ms) {
    sy_sleepms(ms);
}

bool msleepx(long ms) {
    while (ms > 0) {
        if (programmende_gewuenscht) return true;
        long slice = min(ms, 500L);
        sy_sleepms(slice);
        ms -= slice;
    }
    return programmende_gewuenscht;
}

namespace {
// Local time by a strftime format into a buffer of the calling thread.
template <size_t N> const char* hp__zeittext(char (&buf)[N], const char* fmt) {
    struct tm t;
    sy_localtime(&t);
    if (!strftime(buf, N, fmt, &t)) buf[0] = '\0';
    return buf;
}
} // namespace

const char* datumzeit() {
    thread_local char buf[30];
    return hp__zeittext(buf, "%Y-%m-%d %H:%M:%S");
}

const char* datumzeitkompakt() {
    thread_local char buf[30];
    return hp__zeittext(buf, "%Y%m%d_%H%M%S");
}

int innerhalb_enduhrzeit() {
    if (!inidatgueltig) return 0;
    int e1 = inidat.enduhrzeit1, e2 = inidat.enduhrzeit2;
    if (e1 < 0 || e2 < 0) return 0;
    struct tm t;
    sy_localtime(&t);
    int jetzt = t.tm_hour * 60 + t.tm_min;
    if (e2 < e1) return jetzt >= e1 || jetzt <= e2;
    return e1 <= jetzt && jetzt <= e2;
}

// ---- Units ----

namespace {
// The value in the largest unit that divides it: "gross" units, else "mittel" units,
// else the value itself; 0 (and below) without a unit.
const char* ue__miteinheit(char* buf, size_t len, long v, long gross, const char* grossname,
                           long mittel, const char* mittelname, const char* name) {
    if (v <= 0) return strmcpy(buf, "0", len);
    if (v % gross == 0)
        snprintf(buf, len, "%ld%s", v / gross, grossname);
    else if (v % mittel == 0)
        snprintf(buf, len, "%ld%s", v / mittel, mittelname);
    else
        snprintf(buf, len, "%ld%s", v, name);
    return buf;
}
} // namespace

const char* kbytemiteinheit(long kb) {
    thread_local char buf[40];
    return ue__miteinheit(buf, sizeof buf, kb, 1000000, "G", 1000, "M", "k");
}

const char* zeitmiteinheit(long zeit) {
    thread_local char buf[40];
    return ue__miteinheit(buf, sizeof buf, zeit, 1440, "d", 60, "h", "min");
}

const char* stundenminuten(long minuten) {
    thread_local char buf[40];
    if (minuten < 0) minuten = 0;
    snprintf(buf, sizeof buf, "%04li:%02li", minuten / 60, minuten % 60);
    return buf;
}

const char* volumentext(long kb) {
    thread_local char buf[40];
    snprintf(buf, sizeof buf, "%3li %03li %03li kB", kb / 1000000, (kb / 1000) % 1000, kb % 1000);
    return buf;
}

const char* tempotext(long bps) {
    thread_local char buf[40];
    long z = (bps + 50) / 100;
    snprintf(buf, sizeof buf, "%5li.%01li kB/s", z / 10, z % 10);
    return buf;
}

// ---- Sound ----

namespace {

constexpr int be__rate = 20000;
constexpr int be__buflen = 10000; // 0.5 s, looped for longer tones
std::mutex be__mutex;             // guards the waveform while it is rebuilt and played
unsigned char be__buf[be__buflen];
int be__fqold = 0;

// One triangle wave starting at the mid level, rising, between 64 and 191.
void be__build(int fq) {
    for (int i = 0; i < be__buflen; ++i) {
        int p = (int)(((int64_t)i * 512 * fq / be__rate) % 512);
        int t = p < 128 ? p + 128 : p < 384 ? 383 - p : p - 384;
        be__buf[i] = (unsigned char)(t / 2 + 64);
    }
    be__fqold = fq;
}

} // namespace

bool beep(int fq, int dur) {
    if (tonlos) return false;
    fq = bereich(fq, 100, 5000);
    dur = bereich(dur, 50, 5000);
    std::lock_guard<std::mutex> g(be__mutex);
    if (fq != be__fqold) be__build(fq);

    pa_sample_spec ss = {PA_SAMPLE_U8, be__rate, 1};
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "tandor", PA_STREAM_PLAYBACK, nullptr, "beep", &ss,
                                 nullptr, nullptr, &error);
    if (!s) {
        fprintf(stderr, "tandor: pa_simple_new(): %s\n", pa_strerror(error));
        return false;
    }
    bool ok = true;
    for (long rest = (long)dur * be__rate / 1000; rest > 0;) {
        long n = min(rest, (long)be__buflen);
        if (pa_simple_write(s, be__buf, n, &error) < 0) {
            fprintf(stderr, "tandor: pa_simple_write(): %s\n", pa_strerror(error));
            ok = false;
        }
        rest -= n;
    }
    // Freeing an undrained stream drops what the server has not played yet.
    if (pa_simple_drain(s, &error) < 0) {
        fprintf(stderr, "tandor: pa_simple_drain(): %s\n", pa_strerror(error));
        ok = false;
    }
    pa_simple_free(s);
    return ok;
}
