#include "config/obfuscation.h"

#include "core/helpers.h"

#include <cstring>

namespace {

constexpr char ob__praefix[] = "CRYPT1";
constexpr size_t ob__PRAEFIXLAENGE = sizeof ob__praefix - 1;

// The key and the digit alphabet are fixed forever: values already stored in ini files
// must stay readable. The alphabet avoids blanks, ';', '=' and lower case so that a value
// survives the ini syntax and any upper-casing unchanged.
constexpr char ob__xorkey[] = "t4N%qZ8w@";
constexpr size_t ob__KEYLAENGE = sizeof ob__xorkey - 1;
constexpr char ob__hexdec[] = "K7QX3MBV9RHD5TGW";

static_assert(ob__KEYLAENGE == 9);
static_assert(sizeof ob__hexdec - 1 == 16);

// Position of c in the alphabet; a foreign character counts as 0.
unsigned ob__wert(char c) {
    const char* p = c ? strchr(ob__hexdec, c) : nullptr;
    return p ? (unsigned)(p - ob__hexdec) : 0;
}

} // namespace

char* ob_obfuscate(const char* zd, char* ze, size_t zelen) {
    if (!ze || zelen == 0) return ze;
    *ze = 0;
    if (!zd || !*zd) return ze;
    size_t n = strlen(zd);
    // Prefix, two characters per byte and the NUL; a text that does not fit gives "".
    if (zelen - 1 < ob__PRAEFIXLAENGE || n > (zelen - 1 - ob__PRAEFIXLAENGE) / 2) return ze;
    char* p = ze;
    memcpy(p, ob__praefix, ob__PRAEFIXLAENGE);
    p += ob__PRAEFIXLAENGE;
    size_t k = 0;
    for (size_t i = 0; i < n; i++) {
        unsigned x = (unsigned char)zd[i] ^ (unsigned char)ob__xorkey[k];
        *p++ = ob__hexdec[x / 16];
        *p++ = ob__hexdec[x % 16];
        if (++k == ob__KEYLAENGE) k = 0;
    }
    *p = 0;
    return p;
}

bool ob_deobfuscate(const char* ze, char* zd, size_t zdlen) {
    if (!zd || zdlen == 0) return ze && strncmp(ze, ob__praefix, ob__PRAEFIXLAENGE) == 0;
    *zd = 0;
    if (!ze) return false;
    if (strncmp(ze, ob__praefix, ob__PRAEFIXLAENGE) != 0) {
        strmcpy(zd, ze, zdlen);
        return false;
    }
    const char* q = ze + ob__PRAEFIXLAENGE;
    size_t k = 0, i = 0;
    // An odd last character is ignored; a text longer than zd is cut like every bounded
    // copy.
    while (q[0] && q[1] && i < zdlen - 1) {
        unsigned x = ob__wert(q[0]) * 16 + ob__wert(q[1]);
        zd[i++] = (char)(x ^ (unsigned char)ob__xorkey[k]);
        if (++k == ob__KEYLAENGE) k = 0;
        q += 2;
    }
    zd[i] = 0;
    return true;
}
