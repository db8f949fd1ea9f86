// SMS PDUs in both directions: SMS-DELIVER hex as +CMGR returns it, SMS-SUBMIT hex as AT+CMGS
// takes it, and the +CMGR answer that must be complete before its PDU counts. Test PDUs are
// written by hand or assembled here bit by bit, never by the product's encoder.
#include "messaging/smspdu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// User data of 7-bit text: the header octets, fill bits up to the next septet, then the
// septets, LSB first (3GPP TS 23.040 9.2.3.24).
std::string septetbits(const std::string& kopf, const std::string& text) {
    std::vector<int> b;
    for (size_t i = 0; i < kopf.size(); i += 2) {
        unsigned o = static_cast<unsigned>(std::stoul(kopf.substr(i, 2), nullptr, 16));
        for (int k = 0; k < 8; ++k)
            b.push_back(o >> k & 1);
    }
    while (b.size() % 7)
        b.push_back(0);
    // Only letters, digits and blanks are used: their septet is their ASCII value.
    for (unsigned char c : text)
        for (int k = 0; k < 7; ++k)
            b.push_back(c >> k & 1);
    while (b.size() % 8)
        b.push_back(0);
    std::string hex;
    for (size_t i = 0; i < b.size(); i += 8) {
        unsigned o = 0;
        for (int k = 0; k < 8; ++k)
            o |= static_cast<unsigned>(b[i + k]) << k;
        char z[3];
        snprintf(z, sizeof z, "%02X", o);
        hex += z;
    }
    return hex;
}

std::string octet(unsigned v) {
    char z[3];
    snprintf(z, sizeof z, "%02X", v);
    return z;
}

// Service centre +27381000015, sender +491721234567, 2012-03-12 16:14:33 zone +1 h.
const std::string zentrale = "07917283010010F5";
const std::string absender = "0C91947112325476";
const std::string zeit = "21302161413340";

// An SMS-DELIVER from those parts; fo 04 plain, 44 with a user-data header.
std::string deliver(unsigned fo, unsigned dcs, unsigned udl, const std::string& ud,
                    const std::string& oa = absender, const std::string& scts = zeit) {
    return zentrale + octet(fo) + oa + "00" + octet(dcs) + scts + octet(udl) + ud;
}

// The widely printed example PDU: "hellohello" from 27838890001 (type C8, not international).
const std::string beispiel =
    "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";

} // namespace

TEST(SmsPdu, DecodesDeliverPdusAndRefusesMalformedOnes) {
    const std::string a200(200, 'a');
    struct {
        const char* what;
        std::string hex;
        bool ok;
        const char* absender = "";
        const char* zeit = "";
        const char* zone = "";
        const char* marke = "";
        std::string text = "";
        bool alphanumerisch = false;
    } cases[] = {
        {"common example", beispiel, true, "27838890001", "2099-03-29 15:16:59", "08", "",
         "hellohello"},
        {"first part, 8-bit reference",
         deliver(0x44, 0x00, 7 + 5, septetbits("0500033A0201", "Hallo")), true, "+491721234567",
         "2012-03-12 16:14:33", "04", "{l3A21}", "Hallo"},
        {"second part, 16-bit reference, no fill bits",
         deliver(0x44, 0x00, 8 + 4, septetbits("0608041F3A0202", "Welt")), true, "+491721234567",
         "2012-03-12 16:14:33", "04", "{l3A22}", "Welt"},
        {"other element skipped, five fill bits",
         deliver(0x44, 0x00, 11 + 2, septetbits("0870010100033A0201", "ok")), true, "+491721234567",
         "2012-03-12 16:14:33", "04", "{l3A21}", "ok"},
        {"16 parts do not fit the marker",
         deliver(0x44, 0x00, 7 + 2, septetbits("0500033A1001", "ok")), true, "+491721234567",
         "2012-03-12 16:14:33", "04", "", "ok"},
        {"UCS-2 starting with the euro sign", deliver(0x04, 0x08, 10, "20AC00E400F600FC0021"), true,
         "+491721234567", "2012-03-12 16:14:33", "04", "", "E\xE4\xF6\xFC!"},
        {"UCS-2 behind a header", deliver(0x44, 0x18, 8, "0500030702010041"), true, "+491721234567",
         "2012-03-12 16:14:33", "04", "{l0721}", "A"},
        {"8-bit with control bytes", deliver(0x04, 0xF4, 6, "41000D0A427F"), true, "+491721234567",
         "2012-03-12 16:14:33", "04", "", "A___B_"},
        {"message waiting group, 7-bit", deliver(0x04, 0xD0, 2, septetbits("", "ok")), true,
         "+491721234567", "2012-03-12 16:14:33", "04", "", "ok"},
        {"160 septets in 140 octets", deliver(0x04, 0x00, 160, septetbits("", a200.substr(40))),
         true, "+491721234567", "2012-03-12 16:14:33", "04", "", a200.substr(40)},
        {"alphanumeric sender", deliver(0x04, 0x00, 2, "EF35", "0ED0" + septetbits("", "Tandor12")),
         true, "00000000000000", "2012-03-12 16:14:33", "04", "", "ok", true},
        {"sender with a non-decimal digit", deliver(0x04, 0x00, 2, "EF35", "049121A3"), true,
         "+0000", "2012-03-12 16:14:33", "04", "", "ok"},
        {"negative zone keeps its sign bit",
         deliver(0x04, 0x00, 2, "EF35", absender, "21302161413348"), true, "+491721234567",
         "2012-03-12 16:14:33", "84", "", "ok"},
        {"compressed text as hex", deliver(0x04, 0x24, 3, "C0FFEE"), true, "+491721234567",
         "2012-03-12 16:14:33", "04", "", "C0FFEE"},
        {"reserved coding as hex behind the header", deliver(0x44, 0x80, 7, "0500033A0201AB"), true,
         "+491721234567", "2012-03-12 16:14:33", "04", "{l3A21}", "AB"},

        {"empty", "", false},
        {"odd hex", beispiel.substr(1), false},
        {"not hex", "07917283010010F5040BC87238880900F1000099309251619580 0AE8329BFD", false},
        {"service centre of 13 octets",
         "0D91" + std::string(24, '1') + beispiel.substr(zentrale.size()), false},
        {"UDL one septet too large",
         beispiel.substr(0, beispiel.size() - 20) + "0B" + beispiel.substr(beispiel.size() - 18),
         false},
        {"UDHL beyond the user data", deliver(0x44, 0x04, 2, "0500"), false},
        {"header longer than the 7-bit text", deliver(0x44, 0x00, 6, "0500033A0201"), false},
        {"sender of 21 digits", deliver(0x04, 0x00, 2, "EF35", "1591" + std::string(22, '1')),
         false},
        {"SMS-SUBMIT", "0011000C919471123254760000FF05E8329BFD06", false},
        {"SMS-STATUS-REPORT", zentrale + "0600" + absender + zeit + zeit + "00", false},
    };
    for (const auto& c : cases) {
        pd_eingang_t p;
        ASSERT_EQ(c.ok, pd_lesen(c.hex.c_str(), &p)) << c.what;
        if (!c.ok) continue;
        EXPECT_STREQ(c.absender, p.absender) << c.what;
        EXPECT_EQ(c.alphanumerisch, p.alphanumerisch) << c.what;
        EXPECT_STREQ(c.zeit, p.zeit) << c.what;
        EXPECT_STREQ(c.zone, p.zone) << c.what;
        EXPECT_STREQ(c.marke, p.marke) << c.what;
        EXPECT_EQ(c.text, p.text) << c.what;
    }

    // Cut anywhere, the example is refused: every field is bounded by the octets present.
    pd_eingang_t p;
    for (size_t l = 0; l < beispiel.size(); l += 2)
        EXPECT_FALSE(pd_lesen(beispiel.substr(0, l).c_str(), &p)) << l;

    // The stored message: header line, blank line, marker and body; cut at the buffer.
    ASSERT_TRUE(pd_lesen(deliver(0x44, 0x00, 12, septetbits("0500033A0201", "Hallo")).c_str(), &p));
    char nachricht[64];
    pd_nachricht(p, nachricht, sizeof nachricht);
    EXPECT_STREQ("+491721234567 2012-03-12 16:14:33 (04)\n\n{l3A21}Hallo", nachricht);
    pd_nachricht(p, nachricht, 14);
    EXPECT_STREQ("+491721234567", nachricht);
}

TEST(SmsPdu, BuildsSubmitPdus) {
    const std::string a200(200, 'a'), b200(200, 'b');
    struct {
        const char* what;
        const char* smsc;
        const char* nummer;
        bool national;
        std::string text;
        int octets;
        std::string hex;
    } cases[] = {
        {"international with a centre", "+491710760000", "491721234567", false, "hello", 19,
         "0791947101670000"
         "11000C919471123254760000FF05E8329BFD06"},
        {"national, modem's centre", "", "01721234567", true, "hello", 19,
         "00"
         "11000B811027214365F70000FF05E8329BFD06"},
        {"centre with an odd digit count", "+4917107600001", "491721234567", false, "", 14,
         "0891947101670000F1"
         "11000C919471123254760000FF00"},
        {"centre left as a format error", "(format error)", "4917", false, "", 10,
         "00"
         "1100049194710000FF00"},
        {"centre with a blank", "+49 171", "4917", false, "", 10, "001100049194710000FF00"},
        {"lone plus as centre", "+", "4917", false, "", 10, "001100049194710000FF00"},
        {"marker becomes the concatenation header", nullptr, "491721234567", false, "{l3A21}hi", 22,
         "00"
         "51000C919471123254760000FF09"
         "0500033A0201D069"},
        {"160 septets at most", "", "4917", false, a200, 10 + 140,
         "001100049194710000FFA0" + septetbits("", a200.substr(40))},
        {"header and 153 septets at most", "", "4917", false, "{l3A22}" + b200, 10 + 140,
         "005100049194710000FFA0" + septetbits("0500033A0202", b200.substr(47))},
        {"number with a plus", "", "+4917", false, "x", -1, ""},
        {"number with a dash", "", "0172-123", true, "x", -1, ""},
        {"empty number", "", "", false, "x", -1, ""},
        {"21 digits", "", "123456789012345678901", false, "x", -1, ""},
    };
    for (const auto& c : cases) {
        char out[400];
        EXPECT_EQ(c.octets,
                  pd_schreiben(c.smsc, c.nummer, c.national, c.text.c_str(), out, sizeof out))
            << c.what;
        EXPECT_EQ(c.hex, out) << c.what;
    }
    // Exactly the hex and its NUL fit; one byte less is refused without writing behind.
    std::vector<char> knapp(41, 'x');
    EXPECT_EQ(19, pd_schreiben("", "01721234567", true, "hello", knapp.data(), knapp.size()));
    EXPECT_EQ(-1, pd_schreiben("", "01721234567", true, "hello", knapp.data(), 40));
    EXPECT_EQ(0, knapp[0]);
}

TEST(SmsPdu, TakesOnlyCompleteCmgrAnswers) {
    const std::string pdu = beispiel; // 8 octets of centre, 28 of TPDU
    struct {
        const char* what;
        std::string antwort;
        bool ok;
    } cases[] = {
        {"complete", "\r\n+CMGR: 0,,28\r\n" + pdu + "\r\n\r\nOK\r\n", true},
        {"alpha with a comma", "\r\n+CMGR: 1,\"Mum, Dad\",28\r\n" + pdu + "\r\n\r\nOK\r\n", true},
        {"unsolicited lines between",
         "\r\n+CMGR: 0,,28\r\n^RSSI:14\r\n" + pdu + "\r\n^BOOT:1,0,0,0\r\nOK\r\n", true},
        {"final OK not yet there", "\r\n+CMGR: 0,,28\r\n" + pdu + "\r\n", false},
        {"PDU cut", "\r\n+CMGR: 0,,28\r\n" + pdu.substr(0, 60) + "\r\nOK\r\n", false},
        {"length field one too small", "\r\n+CMGR: 0,,27\r\n" + pdu + "\r\n\r\nOK\r\n", false},
        {"no length field", "\r\n+CMGR: 0\r\n" + pdu + "\r\n\r\nOK\r\n", false},
        {"odd hex", "\r\n+CMGR: 0,,28\r\n" + pdu + "0\r\n\r\nOK\r\n", false},
        {"error", "\r\n+CMS ERROR: 321\r\n", false},
    };
    for (const auto& c : cases) {
        char hex[400] = "untouched";
        EXPECT_EQ(c.ok, pd_cmgr(c.antwort.c_str(), hex, sizeof hex)) << c.what;
        EXPECT_EQ(c.ok ? pdu : "untouched", hex) << c.what;
    }
    char klein[72];
    EXPECT_FALSE(pd_cmgr(cases[0].antwort.c_str(), klein, sizeof klein));
}
