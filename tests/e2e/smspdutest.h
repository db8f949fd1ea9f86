// A minimal SMS PDU codec of the end-to-end runs, independent of the program's own: builds
// the SMS-DELIVER PDUs the simulator stores and reads the SMS-SUBMIT PDUs the program sends.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace smspdutest {

inline std::string hex(const std::vector<unsigned char>& b) {
    static const char* z = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : b) {
        s += z[c >> 4];
        s += z[c & 15];
    }
    return s;
}

inline std::vector<unsigned char> octets(const std::string& h) {
    std::vector<unsigned char> b;
    for (size_t i = 0; i + 1 < h.size() && isxdigit(h[i]) && isxdigit(h[i + 1]); i += 2)
        b.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return b;
}

// The GSM default alphabet for the characters the tests use: printable ASCII keeps its code
// but for @ $ _, and a few letters of the upper half given as UTF-8.
inline const std::map<std::string, int> GSM_SONDER = {
    {"@", 0x00}, {"$", 0x02}, {"_", 0x11}, {"\n", 0x0A}, {"\r", 0x0D}, {"ß", 0x1E},
    {"Ä", 0x5B}, {"Ö", 0x5C}, {"Ü", 0x5E}, {"ä", 0x7B},  {"ö", 0x7C},  {"ü", 0x7E}};

inline std::vector<int> septets(const std::string& utf8) {
    std::vector<int> s;
    for (size_t i = 0; i < utf8.size();) {
        size_t n = (static_cast<unsigned char>(utf8[i]) & 0xE0) == 0xC0 ? 2 : 1;
        std::string z = utf8.substr(i, n);
        i += n;
        auto f = GSM_SONDER.find(z);
        if (f != GSM_SONDER.end())
            s.push_back(f->second);
        else if (n == 1 && z[0] >= 0x20 && z[0] < 0x7F && !strchr("[\\]^`{|}~", z[0]))
            s.push_back(z[0]);
        else
            ADD_FAILURE() << "no GSM septet for " << z;
    }
    return s;
}

inline std::string gsmtext(const std::vector<int>& s) {
    std::string t;
    for (int c : s) {
        std::string z(1, '?');
        for (const auto& [k, v] : GSM_SONDER)
            if (v == c) z = k;
        if (c >= 0x20 && c < 0x7F && !strchr("@$_[\\]^`{|}~", c)) z = std::string(1, char(c));
        t += z;
    }
    return t;
}

// Packs septets least significant bit first, starting at bit ab (behind a header).
inline std::vector<unsigned char> packe(const std::vector<int>& s, size_t ab) {
    std::vector<unsigned char> b((ab + 7 * s.size() + 7) / 8, 0);
    for (size_t i = 0; i < s.size(); i++)
        for (int k = 0; k < 7; k++)
            if (s[i] >> k & 1) {
                size_t p = ab + 7 * i + k;
                b[p / 8] |= static_cast<unsigned char>(1 << (p % 8));
            }
    return b;
}

inline std::vector<int> entpacke(const std::vector<unsigned char>& b, size_t ab, size_t n) {
    std::vector<int> s;
    for (size_t i = 0; i < n; i++) {
        int c = 0;
        for (int k = 0; k < 7; k++) {
            size_t p = ab + 7 * i + k;
            if (p / 8 < b.size() && (b[p / 8] >> (p % 8) & 1)) c |= 1 << k;
        }
        s.push_back(c);
    }
    return s;
}

// Digits as swapped BCD, an odd count padded with F.
inline std::string bcd(const std::string& ziffern) {
    std::string d = ziffern.size() % 2 ? ziffern + "F" : ziffern, r;
    for (size_t i = 0; i < d.size(); i += 2)
        r += std::string(1, d[i + 1]) + d[i];
    return r;
}

// An originating address: "+4917..." international, "030..." national, or an alphanumeric
// sender (type D0) when alpha is set.
inline std::string absender(const std::string& nummer, bool alpha = false) {
    char k[8];
    if (alpha) {
        std::vector<int> s = septets(nummer);
        snprintf(k, sizeof k, "%02X", int((7 * s.size() + 3) / 4));
        return k + std::string("D0") + hex(packe(s, 0));
    }
    bool intl = nummer[0] == '+';
    std::string z = intl ? nummer.substr(1) : nummer;
    snprintf(k, sizeof k, "%02X%s", int(z.size()), intl ? "91" : "81");
    return k + bcd(z);
}

// Time stamp 2026-12-08 13:45:<sek> in zone 44 (swapped it reads the same).
inline std::string zeit(int sek) {
    char t[8];
    snprintf(t, sizeof t, "%02d", sek);
    return "62218031" + std::string("54") + bcd(t) + "44";
}

struct Deliver {
    std::string oa;
    int dcs = 0;
    std::string udh; // user-data header in hex, without its length octet
    int udl = 0;     // septets (7-bit) or octets
    std::string ud;  // packed user data in hex
    int sek = 0;
    std::string pdu() const {
        char k[8];
        std::string s = "0791947101670000"; // centre +491710760000
        snprintf(k, sizeof k, "%02X", udh.empty() ? 0x04 : 0x44);
        s += k + oa + "00";
        snprintf(k, sizeof k, "%02X", dcs);
        s += k + zeit(sek);
        snprintf(k, sizeof k, "%02X", udl);
        return s + k + ud;
    }
};

// 7-bit text, behind a concatenation header (reference, parts, part) when parts > 0: the
// 6 header octets take 48 bits, a fill bit brings the text to a septet boundary.
inline Deliver sieben(const std::string& oa, const std::string& text, int ref = 0, int teile = 0,
                      int teil = 0) {
    Deliver d;
    d.oa = oa;
    std::vector<int> s = septets(text);
    if (teile == 0) {
        d.udl = int(s.size());
        d.ud = hex(packe(s, 0));
        return d;
    }
    std::vector<unsigned char> kopf = {
        0x05, 0x00, 0x03, (unsigned char)ref, (unsigned char)teile, (unsigned char)teil};
    d.udh = hex(kopf);
    std::vector<unsigned char> b = packe(s, 49);
    for (size_t i = 0; i < kopf.size(); i++)
        b[i] |= kopf[i];
    d.udl = 7 + int(s.size());
    d.ud = hex(b);
    return d;
}

inline Deliver ucs2(const std::string& oa, const std::vector<int>& zeichen) {
    Deliver d;
    d.oa = oa;
    d.dcs = 0x08;
    std::vector<unsigned char> b;
    for (int c : zeichen) {
        b.push_back(static_cast<unsigned char>(c >> 8));
        b.push_back(static_cast<unsigned char>(c & 0xFF));
    }
    d.udl = int(b.size());
    d.ud = hex(b);
    return d;
}

// An SMS-SUBMIT as the program hands it to the modem.
struct Submit {
    bool gueltig = false;
    int erstes = 0, typ = 0, dcs = -1;
    std::string nummer, udh, text;
};

inline Submit lies(const std::string& h) {
    Submit s;
    std::vector<unsigned char> b = octets(h);
    size_t i = 0;
    auto nimm = [&]() { return i < b.size() ? int(b[i++]) : -1; };
    i = size_t(nimm()) + 1; // service centre
    s.erstes = nimm();
    nimm(); // message reference
    int n = nimm();
    s.typ = nimm();
    for (int k = 0; k < (n + 1) / 2; k++) {
        int o = nimm();
        s.nummer += char('0' + (o & 15));
        if ((o >> 4) != 15) s.nummer += char('0' + (o >> 4));
    }
    nimm(); // protocol identifier
    s.dcs = nimm();
    int vp = (s.erstes >> 3) & 3;
    i += vp == 2 ? 1 : vp ? 7 : 0;
    int udl = nimm();
    if (udl < 0 || s.erstes < 0 || (s.erstes & 3) != 1 || s.dcs != 0) return s;
    std::vector<unsigned char> ud(b.begin() + long(i), b.end());
    if (ud.size() != size_t(7 * udl + 7) / 8) return s;
    size_t ueber = 0;
    if (s.erstes & 0x40) {
        size_t l = ud.empty() ? 0 : ud[0];
        s.udh = hex(std::vector<unsigned char>(ud.begin() + 1, ud.begin() + long(1 + l)));
        ueber = ((l + 1) * 8 + 6) / 7;
    }
    s.text = gsmtext(entpacke(ud, ueber * 7, size_t(udl) - ueber));
    s.gueltig = true;
    return s;
}

} // namespace smspdutest
