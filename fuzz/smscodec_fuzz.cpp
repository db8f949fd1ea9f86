// Fuzz target: the SMS/USSD text codecs. The decoders get arbitrary text; the 7-bit packer
// gets arbitrary text in a buffer of exactly its capacity and must round-trip through the
// decoder wherever the alphabet allows it.
#include "fuzz/fuzzsupport.h"

#include "core/smscodec.h"

#include <algorithm>

namespace {

bool fz__hex(const char* t) {
    for (; *t; t++)
        if (!strchr("0123456789ABCDEFabcdef", *t)) return false;
    return true;
}

// Decoders in place: on refusal the text is unchanged, on success it only got shorter.
void fz__dekodierer(const uint8_t* data, size_t size) {
    fz_text t(data, size), orig(data, size);
    size_t laenge = strlen(t.c());
    bool ok = sevenhextostr(t.c());
    if (!ok)
        FZ_PRUEF(memcmp(t.c(), orig.c(), laenge + 1) == 0);
    else {
        FZ_PRUEF(laenge >= 4 && laenge % 2 == 0 && fz__hex(orig.c()));
        // At most 8 characters per 7 octets, never more than the hex text was long.
        FZ_PRUEF(strlen(t.c()) <= laenge / 2 * 8 / 7);
    }

    fz_text u(data, size);
    ok = utf16hextostr(u.c());
    if (!ok)
        FZ_PRUEF(memcmp(u.c(), orig.c(), laenge + 1) == 0);
    else {
        FZ_PRUEF(laenge >= 8 && laenge % 4 == 0 && fz__hex(orig.c()));
        // One byte per UCS-2 character, none of them a NUL.
        FZ_PRUEF(strlen(u.c()) == laenge / 4);
    }
}

// Packs the text into a buffer of a capacity the input chooses (the text may fill it
// without a NUL) and checks the size promise; with room for all of it, unpacking gives the
// text back as the alphabet shows it.
void fz__packer(const uint8_t* data, size_t size) {
    if (size < 3) return;
    bool bin = data[0] & 1;
    bool gross = data[0] & 2;
    int maxlen = data[0] & 4 ? 1000000 : data[1];
    uint8_t wahl = data[2];
    data += 3;
    size -= 3;
    std::string text(reinterpret_cast<const char*>(data),
                     strnlen(reinterpret_cast<const char*>(data), size));
    size_t capacity = gross ? 2 * text.size() + 2 : 1 + wahl % (text.size() + 8);
    std::vector<char> puffer(capacity, 0);
    memcpy(puffer.data(), text.data(), std::min(capacity, text.size()));
    int n = strtosevenhex(puffer.data(), capacity, bin, maxlen);
    FZ_PRUEF(n >= 0 && n <= maxlen && static_cast<size_t>(n) <= text.size());
    size_t octets = (7 * static_cast<size_t>(n) + 7) / 8;
    if (bin) {
        FZ_PRUEF(n == 0 || octets + 2 <= capacity);
        if (octets + 2 <= capacity) FZ_PRUEF(puffer[octets] == 0 && puffer[octets + 1] == 0);
    } else {
        FZ_PRUEF(n == 0 || 2 * octets + 1 <= capacity);
        if (capacity > 0) FZ_PRUEF(strnlen(puffer.data(), capacity) == 2 * octets);
        FZ_PRUEF(fz__hex(puffer.data()));
    }
    // With room for the whole text every character is packed (umlaut pairs count once).
    bool umlaute = text.find('\xC3') != std::string::npos || text.find('\xC4') != std::string::npos;
    if (gross && maxlen >= static_cast<int>(text.size()) && !umlaute)
        FZ_PRUEF(static_cast<size_t>(n) == text.size());

    // Round trip of the hex form. Umlaut pairs are folded before packing, so only texts
    // without them are compared. A text of 8k characters ending in '@' (septet 0) fills
    // 7k octets exactly, like 8k-1 characters with their zero padding, and loses that '@'.
    if (bin || umlaute || n < 3 || static_cast<size_t>(n) != text.size()) return;
    std::string erwartet;
    for (unsigned char c : text)
        erwartet.push_back(static_cast<char>(sc_septetzeichen(sc_zeichenseptet(c))));
    if (n % 8 == 0 && sc_zeichenseptet(static_cast<unsigned char>(text.back())) == 0)
        erwartet.pop_back();
    // The packer never writes the escape septet, so no escape sequence can appear.
    std::vector<char> hex(puffer.begin(), puffer.begin() + 2 * octets + 1);
    FZ_PRUEF(sevenhextostr(hex.data()));
    FZ_PRUEF(erwartet == hex.data());
}

// UCS-2 round trip: every byte as "00XX" comes back as itself, a NUL as '_'.
void fz__ucs2(const uint8_t* data, size_t size) {
    if (size < 2 || size > 2000) return;
    std::string hex, erwartet;
    for (size_t i = 0; i < size; i++) {
        char z[5];
        snprintf(z, sizeof z, "00%02X", data[i]);
        hex += z;
        erwartet.push_back(data[i] ? static_cast<char>(data[i]) : '_');
    }
    fz_text t(hex);
    FZ_PRUEF(utf16hextostr(t.c()));
    FZ_PRUEF(erwartet == std::string(t.c()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    fz__dekodierer(data, size);
    fz__packer(data, size);
    fz__ucs2(data, size);
    return 0;
}
