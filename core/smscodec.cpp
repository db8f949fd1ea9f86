#include "core/smscodec.h"

#include <array>
#include <cstring>

namespace {

// GSM default alphabet septet -> single byte. Greek capitals have no Latin-1 form and show as
// look-alike ASCII; the escape septet 0x1B alone shows as a blank.
constexpr unsigned char sc__dekodiertabelle[128] = {
    0x40, 0xA3, 0x24, 0xA5, 0xE8, 0xE9, 0xF9, 0xEC, 0xF2, 0xC7, 0x0A, 0xD8, 0xF8, 0x0D, 0xC5, 0xE5,
    0x5E, 0x5F, 0x2A, 0x2A, 0x5E, 0x4F, 0x50, 0x2A, 0x53, 0x2A, 0x2A, 0x20, 0xC6, 0xE6, 0xDF, 0xC9,
    0x20, 0x21, 0x22, 0x23, 0xD7, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0xA1, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0xC4, 0xD6, 0xD1, 0xDC, 0xA7,
    0xBF, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0xE4, 0xF6, 0xF1, 0xFC, 0xE0,
};

constexpr unsigned sc__escape = 0x1B;

// Septet after an escape -> byte, 0 where the extension table has no character for it. The euro
// sign has no Latin-1 byte and shows as a look-alike 'E'; the page break becomes a line feed.
constexpr std::array<unsigned char, 128> sc__baueescapetabelle() {
    std::array<unsigned char, 128> e{};
    e[0x0A] = '\n';
    e[0x14] = '^';
    e[0x28] = '{';
    e[0x29] = '}';
    e[0x2F] = '\\';
    e[0x3C] = '[';
    e[0x3D] = '~';
    e[0x3E] = ']';
    e[0x40] = '|';
    e[0x65] = 'E';
    return e;
}
constexpr std::array<unsigned char, 128> sc__escapetabelle = sc__baueescapetabelle();

// Single byte -> septet. Whatever has no GSM form is sent as '_' (0x11); no escape sequences
// are produced, so '{' and friends are sent as '_' too.
constexpr std::array<unsigned char, 256> sc__bauekodiertabelle() {
    std::array<unsigned char, 256> e{};
    for (auto& s : e)
        s = 0x11;
    // Blank to '?' (but '$'), the digits and the ASCII letters keep their value.
    for (unsigned c = 0x20; c <= 0x3F; ++c)
        e[c] = static_cast<unsigned char>(c);
    for (unsigned c = 'A'; c <= 'Z'; ++c)
        e[c] = static_cast<unsigned char>(c);
    for (unsigned c = 'a'; c <= 'z'; ++c)
        e[c] = static_cast<unsigned char>(c);
    constexpr unsigned char paare[][2] = {
        {'@', 0x00},  {0xA3, 0x01}, {'$', 0x02},  {0xA5, 0x03}, {0xE8, 0x04}, {0xE9, 0x05},
        {0xF9, 0x06}, {0xEC, 0x07}, {0xF2, 0x08}, {0xC7, 0x09}, {'\n', 0x0A}, {0xD8, 0x0B},
        {0xF8, 0x0C}, {'\r', 0x0D}, {0xC5, 0x0E}, {0xE5, 0x0F}, {'_', 0x11},  {0xC6, 0x1C},
        {0xE6, 0x1D}, {0xDF, 0x1E}, {0xC9, 0x1F}, {0xA4, 0x24}, {0xA1, 0x40}, {0xC4, 0x5B},
        {0xD6, 0x5C}, {0xD1, 0x5D}, {0xDC, 0x5E}, {0xA7, 0x5F}, {0xBF, 0x60}, {0xE4, 0x7B},
        {0xF6, 0x7C}, {0xF1, 0x7D}, {0xFC, 0x7E}, {0xE0, 0x7F}, {0x80, 0x65},
    };
    for (const auto& p : paare)
        e[p[0]] = p[1];
    return e;
}
constexpr std::array<unsigned char, 256> sc__kodiertabelle = sc__bauekodiertabelle();

static_assert(sc__kodiertabelle['@'] == 0x00 && sc__kodiertabelle['$'] == 0x02 &&
              sc__kodiertabelle['{'] == 0x11 && sc__kodiertabelle[0xA4] == 0x24);

constexpr char sc__hexziffern[] = "0123456789ABCDEF";

// Value of a hex digit of either case, -1 for anything else.
constexpr int sc__nibble(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The octet at hex position 2*i of an already checked text.
inline unsigned sc__octet(const char* t, size_t i) {
    return static_cast<unsigned>(sc__nibble(static_cast<unsigned char>(t[2 * i])) << 4 |
                                 sc__nibble(static_cast<unsigned char>(t[2 * i + 1])));
}

// Length of t if it is non-empty hex of a multiple of 'schritt' characters, else 0.
size_t sc__hexlaenge(const char* t, size_t schritt) {
    size_t n = 0;
    for (; t[n]; ++n)
        if (sc__nibble(static_cast<unsigned char>(t[n])) < 0) return 0;
    return n % schritt ? 0 : n;
}

// The UTF-8 umlauts that GTK entry fields deliver, as single bytes; 0 if the pair is none.
constexpr unsigned char sc__falte(unsigned char a, unsigned char b) {
    if (a == 0xC3) {
        switch (b) {
        case 0x84:
            return 0xC4;
        case 0x96:
            return 0xD6;
        case 0x9C:
            return 0xDC;
        case 0x9F:
            return 0xDF;
        case 0xA1:
            return 0xE1;
        case 0xA4:
            return 0xE4;
        case 0xAB:
            return 0xEB;
        case 0xB1:
            return 0xF1;
        case 0xB6:
            return 0xF6;
        case 0xBC:
            return 0xFC;
        default:
            return 0;
        }
    }
    return a == 0xC4 && b == 0x83 ? 0xE3 : 0;
}

// Bytes the packed result of n characters takes, terminator(s) included.
constexpr size_t sc__bedarf(size_t n, bool bin) {
    size_t octets = (7 * n + 7) / 8;
    return bin ? octets + 2 : 2 * octets + 1;
}

// Septet unpacking shared by the hex and the binary form. octet(j) gives the j-th octet;
// each octet is fetched before the septets it carries are written, and never more than the
// septet index characters have been written by then, which keeps in-place hex decoding safe.
template <class Octet>
size_t sc__septets(Octet octet, size_t anzahl, size_t bitversatz, size_t septets, char* out,
                   size_t n) {
    if (!out || n == 0) return 0;
    size_t vorrat = anzahl * 8 > bitversatz ? (anzahl * 8 - bitversatz) / 7 : 0;
    if (septets > vorrat) septets = vorrat;
    size_t j = bitversatz / 8;
    unsigned bits = 0, anzahlbits = 0;
    if (septets && bitversatz % 8) {
        bits = octet(j++) >> (bitversatz % 8);
        anzahlbits = 8 - bitversatz % 8;
    }
    size_t o = 0;
    auto schreibe = [&](unsigned char c) {
        if (o + 1 >= n) return false;
        out[o++] = static_cast<char>(c);
        return true;
    };
    bool escape = false, voll = false;
    for (size_t s = 0; s < septets && !voll; ++s) {
        if (anzahlbits < 7) {
            bits |= octet(j++) << anzahlbits;
            anzahlbits += 8;
        }
        unsigned septet = bits & 0x7F;
        bits >>= 7;
        anzahlbits -= 7;
        if (escape) {
            escape = false;
            if (unsigned char c = sc__escapetabelle[septet]) {
                voll = !schreibe(c);
                continue;
            }
            // An escape without a known follower shows as a blank; the follower as itself.
            if (!schreibe(sc__dekodiertabelle[sc__escape])) break;
        }
        if (septet == sc__escape) {
            escape = true;
            continue;
        }
        voll = !schreibe(sc__dekodiertabelle[septet]);
    }
    if (escape) schreibe(sc__dekodiertabelle[sc__escape]);
    out[o] = 0;
    return o;
}

} // namespace

size_t sc_septetsentpacken(const unsigned char* o, size_t anzahl, size_t bitversatz, size_t septets,
                           char* out, size_t n) {
    if (!o) anzahl = 0;
    return sc__septets([o](size_t j) { return static_cast<unsigned>(o[j]); }, anzahl, bitversatz,
                       septets, out, n);
}

size_t sc_ucs2entpacken(const unsigned char* o, size_t anzahl, char* out, size_t n) {
    if (!out || n == 0) return 0;
    size_t k = 0;
    for (size_t i = 0; o && i + 1 < anzahl && k + 1 < n; i += 2) {
        unsigned v = static_cast<unsigned>(o[i]) << 8 | o[i + 1];
        // The euro sign looks like an 'E', as the 7-bit decoder shows it; a NUL would cut
        // the text.
        out[k++] = static_cast<char>(v == 0x20AC ? 'E' : v == 0 || v > 0xFF ? '_' : v);
    }
    out[k] = 0;
    return k;
}

unsigned char sc_septetzeichen(unsigned septet) {
    return sc__dekodiertabelle[septet & 0x7F];
}

unsigned char sc_zeichenseptet(unsigned char zeichen) {
    return sc__kodiertabelle[zeichen];
}

int strtosevenhex(char* t, size_t capacity, bool bin, int maxlen, bool crfuellung) {
    if (!t || capacity == 0) return 0;
    if (sc__bedarf(0, bin) > capacity) {
        memset(t, 0, capacity);
        return 0;
    }
    auto* u = reinterpret_cast<unsigned char*>(t);
    // Octets are written behind the reading position: after n characters at most
    // ceil(7n/8) <= n octets exist, and at least n bytes have been read.
    size_t r = 0, o = 0;
    unsigned bits = 0, anzahl = 0;
    int n = 0;
    while (r < capacity && u[r] && n < maxlen && sc__bedarf(n + 1, bin) <= capacity) {
        unsigned char c = u[r++];
        if (r < capacity && u[r]) {
            if (unsigned char f = sc__falte(c, u[r])) {
                c = f;
                ++r;
            }
        }
        bits |= static_cast<unsigned>(sc__kodiertabelle[c]) << anzahl;
        anzahl += 7;
        ++n;
        while (anzahl >= 8) {
            u[o++] = static_cast<unsigned char>(bits);
            bits >>= 8;
            anzahl -= 8;
        }
    }
    // 7 spare bits are left exactly when 8n-1 characters were packed.
    if (crfuellung && anzahl == 1) bits |= static_cast<unsigned>(sc__kodiertabelle['\r']) << 1;
    if (anzahl) u[o++] = static_cast<unsigned char>(bits);
    if (bin) {
        u[o] = 0;
        u[o + 1] = 0;
        return n;
    }
    // Expand from the last octet backwards so that no octet is overwritten before it is read.
    for (size_t i = o; i-- > 0;) {
        unsigned char b = u[i];
        u[2 * i] = static_cast<unsigned char>(sc__hexziffern[b >> 4]);
        u[2 * i + 1] = static_cast<unsigned char>(sc__hexziffern[b & 0x0F]);
    }
    u[2 * o] = 0;
    return n;
}

bool sevenhextostr(char* t) {
    if (!t) return false;
    size_t laenge = sc__hexlaenge(t, 2);
    if (laenge < 4) return false;
    size_t octets = laenge / 2;
    // Only whole septets count; the bits left in the last octet are padding. When 7k octets
    // end in a zero septet, that septet is taken as padding of 8k-1 characters, not as '@'.
    size_t septets = octets * 8 / 7;
    if (octets % 7 == 0 && (sc__octet(t, octets - 1) >> 1) == 0) --septets;
    sc__septets([t](size_t j) { return sc__octet(t, j); }, octets, 0, septets, t, laenge + 1);
    return true;
}

bool utf16hextostr(char* t) {
    if (!t) return false;
    size_t laenge = sc__hexlaenge(t, 4);
    if (laenge < 8 || t[0] != '0' || t[4] != '0') return false;
    size_t n = laenge / 4;
    for (size_t i = 0; i < n; ++i) {
        unsigned v = sc__octet(t, 2 * i) << 8 | sc__octet(t, 2 * i + 1);
        // One byte per character: whatever has no single-byte form, and a NUL that would cut
        // the text, is shown as '_'.
        t[i] = static_cast<char>(v == 0 || v > 0xFF ? '_' : v);
    }
    t[n] = 0;
    return true;
}
