#include "messaging/smspdu.h"

#include "core/smscodec.h"

#include <cstdio>
#include <cstring>

namespace {

// A PDU as +CMGR gives it: up to 12 octets of service-centre address with its length octet,
// and an SMS-DELIVER of at most 163 octets. Longer hex is not a PDU.
constexpr size_t pd__maxoctets = 256;
constexpr unsigned pd__maxsca = 12;
constexpr unsigned pd__maxziffern = 20;

constexpr char pd__hexziffern[] = "0123456789ABCDEF";

int pd__nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Converts hex into octets; 0 unless the whole text is hex of an even length that fits.
size_t pd__octets(const char* hex, unsigned char* o, size_t max) {
    size_t n = 0;
    for (; hex[0]; hex += 2) {
        int h = pd__nibble(hex[0]), l = h < 0 ? -1 : pd__nibble(hex[1]);
        if (l < 0 || n == max) return 0;
        o[n++] = static_cast<unsigned char>(h << 4 | l);
    }
    return n;
}

// Reads octets front to back; any read behind the end marks the PDU as broken.
struct pd__leser {
    const unsigned char* o;
    size_t n;
    size_t i = 0;
    bool ok = true;
    unsigned octet() {
        if (i >= n) {
            ok = false;
            return 0;
        }
        return o[i++];
    }
    const unsigned char* nimm(size_t k) {
        if (k > n - i) {
            ok = false;
            i = n;
            return nullptr;
        }
        const unsigned char* p = o + i;
        i += k;
        return p;
    }
};

// How the user data is coded, taken from the data coding scheme.
enum pd__kodierung_t { PD_SIEBEN, PD_ACHT, PD_UCS2, PD_ROH };

pd__kodierung_t pd__kodierung(unsigned dcs) {
    switch (dcs >> 4) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x3:
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7: {
        // General data coding, plain or marked for automatic deletion; compressed text
        // cannot be shown.
        if (dcs & 0x20) return PD_ROH;
        constexpr pd__kodierung_t alphabet[] = {PD_SIEBEN, PD_ACHT, PD_UCS2, PD_ROH};
        return alphabet[(dcs >> 2) & 3];
    }
    case 0xC:
    case 0xD:
        return PD_SIEBEN; // message waiting indication, text in the default alphabet
    case 0xE:
        return PD_UCS2; // message waiting indication, UCS-2 text
    case 0xF:
        return dcs & 0x04 ? PD_ACHT : PD_SIEBEN;
    default:
        return PD_ROH;
    }
}

// Looks for a concatenation element among the header's elements and writes its marker.
// Elements that run past the header end the search; parts or numbers that do not fit one
// hex digit, and numbers outside 1..parts, give no marker.
void pd__kopf(const unsigned char* k, size_t l, char (&marke)[8]) {
    for (size_t i = 0; i + 2 <= l;) {
        unsigned iei = k[i], iel = k[i + 1];
        if (iel > l - i - 2) return;
        const unsigned char* d = k + i + 2;
        unsigned ref = 0, teile = 0, nummer = 0;
        bool kette = false;
        if (iei == 0x00 && iel == 3) {
            ref = d[0], teile = d[1], nummer = d[2], kette = true;
        } else if (iei == 0x08 && iel == 4) {
            // 16-bit reference: the marker has room for its low byte only.
            ref = d[1], teile = d[2], nummer = d[3], kette = true;
        }
        if (kette) {
            if (teile <= 15 && nummer >= 1 && nummer <= teile)
                snprintf(marke, sizeof marke, "{l%02X%X%X}", ref & 0xFF, teile & 0x0F,
                         nummer & 0x0F);
            return;
        }
        i += 2 + iel;
    }
}

// Semi-octets in swapped order (low nibble first), as two characters each.
void pd__halboctets(const unsigned char* o, size_t ziffern, char* out) {
    for (size_t i = 0; i < ziffern; ++i) {
        unsigned b = o[i / 2];
        out[i] = pd__hexziffern[i % 2 ? b >> 4 : b & 0x0F];
    }
}

// Writes 'ziffern' decimal digits in swapped BCD, padded with F; returns the octets written.
size_t pd__bcd(const char* z, size_t ziffern, unsigned char* o) {
    size_t k = 0;
    for (size_t i = 0; i < ziffern; i += 2) {
        unsigned lo = static_cast<unsigned>(z[i] - '0');
        unsigned hi = i + 1 < ziffern ? static_cast<unsigned>(z[i + 1] - '0') : 0x0F;
        o[k++] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return k;
}

// Number of leading decimal digits.
size_t pd__ziffern(const char* z) {
    size_t n = 0;
    while (z[n] >= '0' && z[n] <= '9')
        ++n;
    return n;
}

// Reads a marker "{lRRNP}" at the start of t into the concatenation header's three values.
bool pd__marke(const char* t, unsigned* ref, unsigned* teile, unsigned* nummer) {
    if (t[0] != '{' || t[1] != 'l') return false;
    int w[4];
    for (int i = 0; i < 4; ++i)
        if ((w[i] = pd__nibble(t[2 + i])) < 0) return false;
    if (t[6] != '}') return false;
    *ref = static_cast<unsigned>(w[0] << 4 | w[1]);
    *teile = static_cast<unsigned>(w[2]);
    *nummer = static_cast<unsigned>(w[3]);
    return true;
}

} // namespace

bool pd_lesen(const char* hex, pd_eingang_t* p) {
    if (!hex || !p) return false;
    *p = pd_eingang_t{};
    unsigned char o[pd__maxoctets];
    size_t n = pd__octets(hex, o, sizeof o);
    pd__leser l{o, n};

    unsigned sca = l.octet();
    if (sca > pd__maxsca) return false;
    l.nimm(sca);
    unsigned erstes = l.octet();
    if (!l.ok || (erstes & 0x03) != 0) return false; // SMS-DELIVER only
    bool kopf = erstes & 0x40;

    unsigned ziffern = l.octet(), typ = l.octet();
    if (ziffern > pd__maxziffern) return false;
    const unsigned char* adresse = l.nimm((ziffern + 1) / 2);
    l.octet(); // protocol identifier
    p->dcs = static_cast<int>(l.octet());
    const unsigned char* zeit = l.nimm(7);
    unsigned udl = l.octet();
    if (!l.ok) return false;

    // Sender: an alphanumeric one (type of number 5) or one with non-decimal digits is
    // shown as zeros.
    p->alphanumerisch = ((typ >> 4) & 0x07) == 5;
    char* a = p->absender;
    if (((typ >> 4) & 0x07) == 1) *a++ = '+';
    pd__halboctets(adresse, ziffern, a);
    bool dezimal = !p->alphanumerisch;
    for (unsigned i = 0; i < ziffern; ++i)
        dezimal = dezimal && a[i] <= '9';
    if (!dezimal) memset(a, '0', ziffern);

    // Time stamp: year, month, day, hour, minute, second, then the zone's two semi-octets as
    // they are (a set sign bit shows as a tens digit of 8 or more).
    char z[14];
    pd__halboctets(zeit, 14, z);
    snprintf(p->zeit, sizeof p->zeit, "20%.2s-%.2s-%.2s %.2s:%.2s:%.2s", z, z + 2, z + 4, z + 6,
             z + 8, z + 10);
    memcpy(p->zone, z + 12, 2);

    pd__kodierung_t art = pd__kodierung(static_cast<unsigned>(p->dcs));
    size_t udoctets = art == PD_SIEBEN ? (udl * 7 + 7) / 8 : udl;
    const unsigned char* ud = l.nimm(udoctets);
    if (!l.ok) return false;

    // The header sits inside the user data; in 7-bit text the first septet behind it starts
    // after the fill bits.
    size_t textoctet = 0, textseptet = 0;
    if (kopf) {
        if (udoctets == 0) return false;
        size_t udhl = ud[0];
        if (udhl + 1 > udoctets) return false;
        textoctet = udhl + 1;
        textseptet = ((udhl + 1) * 8 + 6) / 7;
        if (art == PD_SIEBEN && textseptet > udl) return false;
        pd__kopf(ud + 1, udhl, p->marke);
    }

    switch (art) {
    case PD_SIEBEN:
        sc_septetsentpacken(ud, udoctets, textseptet * 7, udl - textseptet, p->text,
                            sizeof p->text);
        break;
    case PD_UCS2:
        sc_ucs2entpacken(ud + textoctet, udoctets - textoctet, p->text, sizeof p->text);
        break;
    case PD_ACHT: {
        // Binary data: control bytes (a NUL would cut the text) are shown as '_'.
        size_t k = 0;
        for (size_t i = textoctet; i < udoctets && k + 1 < sizeof p->text; ++i)
            p->text[k++] = static_cast<char>(ud[i] < 0x20 || ud[i] == 0x7F ? '_' : ud[i]);
        p->text[k] = 0;
        break;
    }
    case PD_ROH: {
        size_t k = 0;
        for (size_t i = textoctet; i < udoctets && k + 2 < sizeof p->text; ++i) {
            p->text[k++] = pd__hexziffern[ud[i] >> 4];
            p->text[k++] = pd__hexziffern[ud[i] & 0x0F];
        }
        p->text[k] = 0;
        break;
    }
    }
    return true;
}

void pd_nachricht(const pd_eingang_t& p, char* out, size_t n) {
    if (!out || n == 0) return;
    snprintf(out, n, "%s %s (%s)\n\n%s%s", p.absender, p.zeit, p.zone, p.marke, p.text);
}

int pd_schreiben(const char* smsc, const char* nummer, bool national, const char* text, char* out,
                 size_t n) {
    if (out && n) out[0] = 0;
    size_t ziffern = nummer ? pd__ziffern(nummer) : 0;
    if (ziffern < 1 || ziffern > pd__maxziffern || nummer[ziffern]) return -1;

    // Room for a 12-octet centre and the longest SMS-SUBMIT.
    unsigned char pdu[200];
    size_t k = 0;
    const char* zentrale = smsc && smsc[0] == '+' ? smsc + 1 : nullptr;
    size_t zl = zentrale ? pd__ziffern(zentrale) : 0;
    if (zl >= 1 && zl <= pd__maxziffern && !zentrale[zl]) {
        pdu[k++] = static_cast<unsigned char>((zl + 1) / 2 + 1);
        pdu[k++] = 0x91;
        k += pd__bcd(zentrale, zl, pdu + k);
    } else {
        pdu[k++] = 0x00; // the centre stored in the modem
    }
    size_t sca = k;

    // A marker at the start becomes the concatenation header: its 7 characters are packed
    // as 7 zero septets, whose first 6 octets the header then takes; the seventh septet's
    // last bit is the fill bit in front of the text.
    if (!text) text = "";
    unsigned ref = 0, teile = 0, teilnummer = 0;
    bool kette = pd__marke(text, &ref, &teile, &teilnummer);
    char puffer[1024];
    if (kette) {
        memcpy(puffer, "@@@@@@@", 7);
        snprintf(puffer + 7, sizeof puffer - 7, "%s", text + 7);
    } else {
        snprintf(puffer, sizeof puffer, "%s", text);
    }
    int septets = strtosevenhex(puffer, true, 160);
    size_t udoctets = (7 * static_cast<size_t>(septets) + 7) / 8;
    if (kette) {
        const unsigned char kopf[6] = {0x05,
                                       0x00,
                                       0x03,
                                       static_cast<unsigned char>(ref),
                                       static_cast<unsigned char>(teile),
                                       static_cast<unsigned char>(teilnummer)};
        memcpy(puffer, kopf, sizeof kopf);
    }

    pdu[k++] = kette ? 0x51 : 0x11; // SMS-SUBMIT, relative validity period, header indicator
    pdu[k++] = 0x00;                // message reference: the modem sets it
    pdu[k++] = static_cast<unsigned char>(ziffern);
    pdu[k++] = national ? 0x81 : 0x91;
    k += pd__bcd(nummer, ziffern, pdu + k);
    pdu[k++] = 0x00; // protocol identifier
    pdu[k++] = 0x00; // GSM 7-bit
    pdu[k++] = 0xFF; // validity as long as possible
    pdu[k++] = static_cast<unsigned char>(septets);
    memcpy(pdu + k, puffer, udoctets);
    k += udoctets;

    if (!out || n < 2 * k + 1) return -1;
    for (size_t i = 0; i < k; ++i) {
        out[2 * i] = pd__hexziffern[pdu[i] >> 4];
        out[2 * i + 1] = pd__hexziffern[pdu[i] & 0x0F];
    }
    out[2 * k] = 0;
    return static_cast<int>(k - sca);
}

bool pd_cmgr(const char* antwort, char* hex, size_t n) {
    if (!antwort || !hex || n == 0) return false;
    const char* c = strstr(antwort, "+CMGR:");
    if (!c) return false;
    const char* ende = c + strcspn(c, "\r\n");

    // <stat>,[<alpha>],<length>: the length is behind the line's last comma (an alpha may
    // hold commas of its own).
    const char* komma = nullptr;
    for (const char* q = c; q < ende; ++q)
        if (*q == ',') komma = q;
    if (!komma) return false;
    const char* q = komma + 1;
    while (*q == ' ')
        ++q;
    size_t stellen = pd__ziffern(q);
    if (stellen == 0 || stellen > 3) return false;
    unsigned laenge = 0;
    for (size_t i = 0; i < stellen; ++i)
        laenge = laenge * 10 + static_cast<unsigned>(q[i] - '0');
    for (q += stellen; q < ende; ++q)
        if (*q != ' ') return false;

    // The PDU is the first line of hex digits behind it; a line of something else (an
    // unsolicited report) may come between.
    const char* pdu = nullptr;
    size_t pl = 0;
    const char* z = ende;
    while (*z && !pdu) {
        z += strspn(z, "\r\n");
        size_t l = strcspn(z, "\r\n");
        size_t h = 0;
        while (h < l && pd__nibble(z[h]) >= 0)
            ++h;
        if (l && h == l) pdu = z, pl = l;
        z += l;
    }
    if (!pdu || pl % 2) return false;
    unsigned sca = static_cast<unsigned>(pd__nibble(pdu[0]) << 4 | pd__nibble(pdu[1]));
    if (pl / 2 != 1 + sca + laenge) return false;

    // Complete only once the final result has arrived.
    bool ok = false;
    while (*z && !ok) {
        z += strspn(z, "\r\n");
        size_t l = strcspn(z, "\r\n");
        ok = l == 2 && z[0] == 'O' && z[1] == 'K';
        z += l;
    }
    if (!ok || pl + 1 > n) return false;
    memcpy(hex, pdu, pl);
    hex[pl] = 0;
    return true;
}
