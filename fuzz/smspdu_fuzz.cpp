// Fuzz target: the SMS PDU codec. The input goes to the SMS-DELIVER decoder as hex text and,
// hex-encoded, as octets; to the +CMGR completeness check; and, split at line feeds into
// centre, number and text, to the SMS-SUBMIT builder, whose result is turned into an
// SMS-DELIVER and must decode to the same number, marker and text.
#include "fuzz/fuzzsupport.h"

#include "core/smscodec.h"
#include "messaging/smspdu.h"

#include <algorithm>

namespace {

bool fz__hex(const char* t) {
    for (; *t; t++)
        if (!strchr("0123456789ABCDEFabcdef", *t)) return false;
    return true;
}

// Decodes and checks that every field stays in its size and form.
bool fz__lesen(const char* hex, pd_eingang_t* p) {
    memset(p, 'x', sizeof *p);
    if (!pd_lesen(hex, p)) return false;
    FZ_PRUEF(fz__hex(hex) && strlen(hex) % 2 == 0);
    FZ_PRUEF(fz_terminiert(p->absender) && strlen(p->absender) <= 21);
    FZ_PRUEF(fz_terminiert(p->zeit) && strlen(p->zeit) == 19);
    FZ_PRUEF(fz_terminiert(p->zone) && strlen(p->zone) == 2);
    FZ_PRUEF(fz_terminiert(p->marke) && (p->marke[0] == 0 || strlen(p->marke) == 7));
    FZ_PRUEF(fz_terminiert(p->text));
    FZ_PRUEF(p->dcs >= 0 && p->dcs <= 255);
    if (p->alphanumerisch) FZ_PRUEF(strspn(p->absender, "0") == strlen(p->absender));
    // The message text in a buffer of exactly the size the input chooses.
    size_t n = 1 + (strlen(hex) % 97);
    std::vector<char> out(n, 'x');
    pd_nachricht(*p, out.data(), n);
    FZ_PRUEF(fz_terminiert(out.data(), n));
    return true;
}

void fz__cmgr(const char* antwort) {
    for (size_t n : {size_t{1}, size_t{64}, size_t{1000}}) {
        std::vector<char> hex(n, 'x');
        if (!pd_cmgr(antwort, hex.data(), n)) continue;
        size_t l = strlen(hex.data());
        FZ_PRUEF(l < n && l % 2 == 0 && l >= 2 && fz__hex(hex.data()));
        pd_eingang_t p;
        fz__lesen(hex.data(), &p);
    }
}

void fz__octets(const uint8_t* data, size_t size) {
    std::string hex;
    for (size_t i = 0; i < size && i < 300; i++) {
        char z[3];
        snprintf(z, sizeof z, "%02X", data[i]);
        hex += z;
    }
    fz_text t(hex);
    pd_eingang_t p;
    fz__lesen(t.c(), &p);
}

int fz__wert(const char* hex) {
    int w = 0;
    for (int i = 0; i < 2; i++)
        w = w << 4 | (hex[i] <= '9' ? hex[i] - '0' : hex[i] - 'A' + 10);
    return w;
}

// Builds, checks the layout, and decodes the same content as an SMS-DELIVER.
void fz__schreiben(const uint8_t* data, size_t size) {
    auto teile = fz_teile(data, size, '\n', 4);
    if (teile.size() < 3) return;
    bool national = !teile.back().empty() && (teile.back()[0] & 1);
    fz_text smsc(teile[0]), nummer(teile[1]), text(teile[2]);
    size_t n = 1 + (size * 7) % 400;
    std::vector<char> out(n, 'x');
    int r = pd_schreiben(smsc.c(), nummer.c(), national, text.c(), out.data(), n);
    if (r < 0) return;
    FZ_PRUEF(fz_terminiert(out.data(), n));
    const char* h = out.data();
    size_t l = strlen(h);
    FZ_PRUEF(l % 2 == 0 && strspn(h, "0123456789ABCDEF") == l);
    size_t sca = 1 + static_cast<size_t>(fz__wert(h));
    FZ_PRUEF(sca <= 12 && l / 2 == sca + static_cast<size_t>(r));
    const char* tpdu = h + 2 * sca;
    size_t ziffern = static_cast<size_t>(fz__wert(tpdu + 4));
    size_t da = 2 + (ziffern + 1) / 2;
    const char* rest = tpdu + 4 + 2 * da; // PID, DCS, VP, UDL, UD
    int udl = fz__wert(rest + 6);
    FZ_PRUEF(udl <= 160 && static_cast<size_t>(r) == 2 + da + 4 + (7 * udl + 7) / 8);

    // The same content as received: centre, first octet, the destination as originator,
    // PID, DCS, a time stamp, UDL and user data.
    bool kopf = fz__wert(tpdu) & 0x40;
    std::string deliver(h, 2 * sca);
    deliver += kopf ? "44" : "04";
    deliver.append(tpdu + 4, 2 * da);
    deliver.append(rest, 4);
    deliver += "21302161413340";
    deliver.append(rest + 6);
    pd_eingang_t p;
    FZ_PRUEF(fz__lesen(deliver.c_str(), &p));
    FZ_PRUEF(std::string(national ? "" : "+") + nummer.c() == p.absender);
    // The marker comes back (in upper case) wherever its values make a valid header.
    const char* m = text.c();
    if (kopf) {
        unsigned teile = static_cast<unsigned>(strtoul(std::string(m + 4, 1).c_str(), nullptr, 16));
        unsigned nr = static_cast<unsigned>(strtoul(std::string(m + 5, 1).c_str(), nullptr, 16));
        std::string marke(m, 7);
        for (char& c : marke)
            c = static_cast<char>(c == 'l' ? c : toupper(static_cast<unsigned char>(c)));
        FZ_PRUEF(nr >= 1 && nr <= teile ? marke == p.marke : p.marke[0] == 0);
    } else {
        FZ_PRUEF(p.marke[0] == 0);
    }

    // Text comparison where no UTF-8 pair is folded: each character as its septet shows.
    std::string t = text.c();
    if (t.find('\xC3') != std::string::npos || t.find('\xC4') != std::string::npos) return;
    if (kopf) {
        FZ_PRUEF(t.size() >= 7 && t[0] == '{' && t[1] == 'l' && t[6] == '}');
        t.erase(0, 7);
    }
    t.resize(std::min(t.size(), static_cast<size_t>(kopf ? 153 : 160)));
    std::string erwartet;
    for (unsigned char c : t)
        erwartet.push_back(static_cast<char>(sc_septetzeichen(sc_zeichenseptet(c))));
    FZ_PRUEF(erwartet == p.text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    fz_text t(data, size);
    pd_eingang_t p;
    fz__lesen(t.c(), &p);
    fz__cmgr(t.c());
    fz__octets(data, size);
    fz__schreiben(data, size);
    return 0;
}
