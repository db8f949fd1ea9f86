// The program's small runtime library: bounded copies into fixed-size text fields,
// case-insensitive comparison, number and unit formatting, single-byte to UTF-8
// conversion, thin file-system wrappers, interruptible sleeps, date/time texts, the
// end-time window test and the triangle-wave beep.
#pragma once

#include <cstddef>
#include <cstdlib>

#define DIRCHAR '/'
#define DIRSTR "/"

// UTF-8 forms of the German special letters, spliced into message literals.
#define U8AE "\xC3\x84"
#define U8OE "\xC3\x96"
#define U8UE "\xC3\x9C"
#define U8ae "\xC3\xA4"
#define U8oe "\xC3\xB6"
#define U8ue "\xC3\xBC"
#define U8ss "\xC3\x9F"

#define FREE(x)                                                                                    \
    do {                                                                                           \
        if (x) {                                                                                   \
            free(x);                                                                               \
            (x) = nullptr;                                                                         \
        }                                                                                          \
    } while (0)

extern const char _hexdigit[17];            // "0123456789ABCDEF"
extern const unsigned char _hexnumber[256]; // hex digit value of a character, else 0

template <typename T> constexpr T max(T a, T b) {
    return a > b ? a : b;
}
template <typename T> constexpr T min(T a, T b) {
    return a < b ? a : b;
}
constexpr bool ishexdigit(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Strings and numbers.
char* itoa(int v, char* s, int b);
char* ltoa(long v, char* s, int b);
char* strmcpy(char* dest, const char* src, size_t maxlen);
char* stpmcpy(char* dest, const char* src, size_t maxlen);
char* strmtcpy(char* dest, char** srcp, size_t maxlen, char token);
void strupper(char* tp);
int stricmp(const char* s1, const char* s2);
int memicmp(const char* s1, const char* s2, long siz);
char* strmtoutf8(char* dest, const char* src, size_t maxlen);
int bereich(int i, int von, int bis);
long bereichl(long i, long von, long bis);
int sortiervergleich(const void* a, const void* b);
int sortiervergleichi(const void* a, const void* b);

// The forms that take the destination array's size.
template <size_t N> char* strMcpy(char (&d)[N], const char* s) {
    return strmcpy(d, s, N);
}
template <size_t N> char* stpMcpy(char (&d)[N], const char* s) {
    return stpmcpy(d, s, N);
}
template <size_t N> char* strMtoutf8(char (&d)[N], const char* s) {
    return strmtoutf8(d, s, N);
}
#define STRMTCPY(d, s, t) strmtcpy((d), (s), sizeof(d), (t))

// Files and directories.
bool file_exists(const char* fn);
// First entry of d whose name starts with st; its path goes to re (relen bytes). A path
// that does not fit counts as no match.
bool file_find(const char* d, const char* st, char* re, size_t relen);
template <size_t N> bool file_find(const char* d, const char* st, char (&re)[N]) {
    return file_find(d, st, re, N);
}
long file_length(const char* fn);
bool file_copy(const char* src, const char* dst, bool fiex);
void file_makerw(const char* d, int ri);
bool file_delete(const char* fn);
bool symlink_create(const char* src, const char* dst);
bool dir_create(const char* dn);

// Time and sleeping.
void msleep(long ms);
bool msleepx(long ms); // true when the program end was requested; checked every 500 ms
// Local time texts in a buffer of the calling thread.
const char* datumzeit();
const char* datumzeitkompakt();
int innerhalb_enduhrzeit();

// Units (each returns a thread-local buffer overwritten by its next call in that thread).
const char* kbytemiteinheit(long kb);
const char* zeitmiteinheit(long zeit);
const char* stundenminuten(long minuten);
// A volume in kB as "%3li %03li %03li kB" (millions, thousands, units).
const char* volumentext(long kb);
// A rate in bytes per second as "%5li.%01li kB/s", rounded to a tenth.
const char* tempotext(long bps);

// Sound.
bool beep(int fq, int dur);
