// GSM 7-bit and UCS-2 codecs, fed with hex as modems deliver it in +CMGR/+CUSD/+COPS answers.
#include "core/smscodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Straight bit packing of septets, LSB first, as 3GPP TS 23.038 describes it.
std::string referencepack(const std::vector<unsigned>& septets) {
    std::string hex;
    unsigned bits = 0, n = 0;
    char b[3];
    for (unsigned s : septets) {
        bits |= s << n;
        n += 7;
        while (n >= 8) {
            snprintf(b, sizeof b, "%02X", bits & 0xFF);
            hex += b;
            bits >>= 8;
            n -= 8;
        }
    }
    if (n) {
        snprintf(b, sizeof b, "%02X", bits & 0xFF);
        hex += b;
    }
    return hex;
}

std::string pack(const std::string& text, int maxlen = 1000, int* packed = nullptr) {
    char buf[1024];
    buf[text.copy(buf, sizeof buf - 1)] = 0;
    int n = strtosevenhex(buf, false, maxlen);
    if (packed) *packed = n;
    return buf;
}

// Decoded bytes, or "<refused>" when the decoder declined (and then the text must be intact).
template <bool (*decode)(char*)> std::string unpack(const std::string& hex) {
    std::vector<char> buf(hex.begin(), hex.end());
    buf.push_back(0);
    if (!decode(buf.data())) {
        EXPECT_EQ(hex, std::string(buf.data())) << "refused input was changed";
        return "<refused>";
    }
    return buf.data();
}
const auto unpack7 = unpack<sevenhextostr>;
const auto unpack16 = unpack<utf16hextostr>;

} // namespace

TEST(SmsCodec, PacksTextsAsModemsExpectThem) {
    struct {
        const char* what;
        std::string text;
        int maxlen;
        const char* hex;
        int packed;
    } cases[] = {
        {"classic vector", "hellohello", 160, "E8329BFD4697D9EC37", 10},
        {"USSD balance request", "*100#", 160, "AA180C3602", 5},
        {"7 characters fill 7 octets", "abcdefg", 160, "61F1985C369F01", 7},
        {"UTF-8 umlauts folded",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         160, "47B9DF5306", 5},
        {"Latin-1 umlauts as they are",
         "Gr\xFC\xDF"
         "e",
         160, "47B9DF5306", 5},
        {"brace without GSM form", "a{", 160, "E108", 2},
        {"currency sign A4 is septet 24", "\xA4", 160, "24", 1},
        {"at sign and dollar", "@$", 160, "0001", 2},
        {"windows euro byte as e", "\x80", 160, "65", 1},
        {"maxlen cuts", "abcdef", 3, "61F118", 3},
        {"maxlen 0", "abc", 0, "", 0},
        {"empty text", "", 160, "", 0},
        {"lone lead byte is not folded", "\xC3", 160, "11", 1},
    };
    for (const auto& c : cases) {
        int n = -1;
        EXPECT_EQ(c.hex, pack(c.text, c.maxlen, &n)) << c.what;
        EXPECT_EQ(c.packed, n) << c.what;
    }
}

// USSD codes fill the 7 spare bits of 8n-1 characters with CR; SMS bodies (the default)
// keep zeros, since their length is given in septets.
TEST(SmsCodec, UssdCodesOf8nMinus1CharactersEndInACrFill) {
    struct {
        const char* code;
        bool ussd;
        const char* hex;
    } cases[] = {
        {"*101#12", true, "AA182C368AC91A"},
        {"*101#12", false, "AA182C368AC900"},
        {"*104*123456789#", true, "AA188CA68AC966B49AED86CB8D1A"},
        {"*100#", true, "AA180C3602"},
        {"abcdefgh", true, "61F1985C369FD1"},
    };
    for (const auto& c : cases) {
        char buf[64];
        strcpy(buf, c.code);
        EXPECT_EQ(static_cast<int>(strlen(c.code)), strtosevenhex(buf, false, 160, c.ussd));
        EXPECT_STREQ(c.hex, buf) << c.code << " ussd " << c.ussd;
    }
}

TEST(SmsCodec, BinaryPackingEndsWithTwoZeroBytes) {
    char buf[32];
    memset(buf, 'x', sizeof buf);
    strcpy(buf, "hellohello");
    ASSERT_EQ(10, strtosevenhex(buf, true, 160));
    const unsigned char octets[] = {0xE8, 0x32, 0x9B, 0xFD, 0x46, 0x97, 0xD9, 0xEC, 0x37, 0, 0};
    EXPECT_EQ(0, memcmp(buf, octets, sizeof octets));

    // Zero octets inside the result are data, not an end.
    strcpy(buf, "@@@a");
    ASSERT_EQ(4, strtosevenhex(buf, true, 160));
    const unsigned char nulls[] = {0x00, 0x00, 0x20, 0x0C, 0, 0};
    EXPECT_EQ(0, memcmp(buf, nulls, sizeof nulls));
}

TEST(SmsCodec, UnpacksSmsAndUssdAnswers) {
    struct {
        const char* what;
        const char* hex;
        std::string text;
    } cases[] = {
        {"classic vector", "E8329BFD4697D9EC37", "hellohello"},
        {"lower-case digits", "e8329bfd4697d9ec37", "hellohello"},
        {"USSD request echoed", "AA180C3602", "*100#"},
        {"7 characters, septet 0 padding dropped", "61F1985C369F01", "abcdefg"},
        {"8 characters in 7 octets", "61F1985C369F03", "abcdefg\xA3"},
        {"balance answer, 31 characters in 28 octets",
         "49B41C74ACD3D16171D90D1297E9F270F94C07D5583018A85895BA00",
         "Ihr Guthaben betraegt 5,00 EUR."},
        {"balance answer, 47 characters",
         "49B41C74ACD3D16171D9AD03C564AC1A0C54AC4A5DA063BDCCA6A7CF20717A0E9AC55C31994B068BC500",
         "Ihr Guthaben: 12,50 EUR. Gueltig bis 31.12.2011"},
        {"umlauts", "47B9DF5306",
         "Gr\xFC\xDF"
         "e"},
        {"septet 24 is the multiplication sign", "2401", "\xD7$"},
        {"escape sequences", "E10D4ABC49D53665", "a{b}5E"},
        {"escape without a known follower stays a blank", "E14D10", "a A"},
        {"escape as the last septet", "E10D", "a "},
        {"padding bits that are not zero", "E8329BFD4697D9ECF7", "hellohello"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, unpack7(c.hex)) << c.what;
}

TEST(SmsCodec, DecodersRefuseWhatIsNotTheirHex) {
    EXPECT_FALSE(sevenhextostr(nullptr));
    EXPECT_FALSE(utf16hextostr(nullptr));
    for (const char* bad : {"", "E8", "E83", "E8329", "E8 32", "GG00", "Guthaben", "0x4142"})
        EXPECT_EQ("<refused>", unpack7(bad)) << bad;
    for (const char* bad :
         {"0048", "10480069", "00481069", "004800690", "0048006", "0048006G", "Hallo Welt"})
        EXPECT_EQ("<refused>", unpack16(bad)) << bad;
}

TEST(SmsCodec, Ucs2HexBecomesSingleByteText) {
    struct {
        const char* what;
        const char* hex;
        std::string text;
    } cases[] = {
        {"two letters", "00480069", "Hi"},
        {"operator name from +COPS", "0054002D004D006F00620069006C0065", "T-Mobile"},
        {"lower-case digits", "00e400f600fc", "\xE4\xF6\xFC"},
        {"Latin-1 range kept", "00A3008000FF", "\xA3\x80\xFF"},
        {"euro sign has no byte", "0035002020AC", "5 _"},
        {"high byte must not alias ASCII", "0041014100420241", "A_B_"},
        {"U+0000 must not cut the text", "004100000042", "A_B"},
        {"surrogate pair", "00410042D83DDE00", "AB__"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, unpack16(c.hex)) << c.what;
}

// Heap buffers of the exact size let AddressSanitizer catch any write behind the capacity.
TEST(SmsCodec, PackingStaysInsideTheCapacity) {
    struct {
        bool bin;
        size_t capacity;
        int packed;
        std::vector<unsigned char> result;
    } cases[] = {
        // hellohello needs 2*9+1 = 19 bytes as hex, 9+2 = 11 as binary.
        {false,
         19,
         10,
         {'E', '8', '3', '2', '9', 'B', 'F', 'D', '4', '6', '9', '7', 'D', '9', 'E', 'C', '3', '7',
          0}},
        {false,
         18,
         9,
         {'E', '8', '3', '2', '9', 'B', 'F', 'D', '4', '6', '9', '7', 'D', '9', '6', 'C', 0}},
        {true, 11, 10, {0xE8, 0x32, 0x9B, 0xFD, 0x46, 0x97, 0xD9, 0xEC, 0x37, 0, 0}},
        {true, 10, 9, {0xE8, 0x32, 0x9B, 0xFD, 0x46, 0x97, 0xD9, 0x6C, 0, 0}},
    };
    for (const auto& c : cases) {
        std::unique_ptr<char[]> buf(new char[c.capacity]);
        // With capacity 10 the text fills the buffer without its terminator.
        memcpy(buf.get(), "hellohello", std::min<size_t>(11, c.capacity));
        EXPECT_EQ(c.packed, strtosevenhex(buf.get(), c.capacity, c.bin, 160)) << c.capacity;
        EXPECT_EQ(0, memcmp(buf.get(), c.result.data(), c.result.size())) << c.capacity;
    }
    // A text that fills its buffer without a terminator is read only up to the capacity.
    std::unique_ptr<char[]> full(new char[5]);
    memcpy(full.get(), "abcde", 5);
    EXPECT_EQ(2, strtosevenhex(full.get(), 5, false, 160));
    EXPECT_STREQ("6131", full.get());
    // Too small even for the terminators: nothing packed, nothing written behind.
    std::unique_ptr<char[]> tiny(new char[1]);
    tiny[0] = 'a';
    EXPECT_EQ(0, strtosevenhex(tiny.get(), 1, true, 160));
    EXPECT_EQ(0, tiny[0]);
    EXPECT_EQ(0, strtosevenhex(nullptr, 10, false, 160));
}

TEST(SmsCodec, DecodingReadsNothingBehindTheText) {
    std::mt19937 rng(4711);
    for (size_t octets = 2; octets <= 40; ++octets) {
        std::string hex;
        for (size_t i = 0; i < octets; ++i) {
            char b[3];
            snprintf(b, sizeof b, "%02X", static_cast<unsigned>(rng() & 0xFF));
            hex += b;
        }
        std::unique_ptr<char[]> buf(new char[hex.size() + 1]);
        memcpy(buf.get(), hex.c_str(), hex.size() + 1);
        ASSERT_TRUE(sevenhextostr(buf.get()));
        // Whole septets only; escapes can merge two into one character.
        EXPECT_LE(strlen(buf.get()), octets * 8 / 7 + 1) << hex;

        if (hex.size() % 4 == 0 && hex.size() >= 8) {
            memcpy(buf.get(), hex.c_str(), hex.size() + 1);
            buf[0] = buf[4] = '0';
            EXPECT_TRUE(utf16hextostr(buf.get()));
            EXPECT_EQ(hex.size() / 4, strlen(buf.get()));
        }
    }
}

// Septets whose byte is sent back as the same septet form the representable alphabet; the rest
// have no Latin-1 form of their own (Greek capitals, the escape, the multiplication sign).
TEST(SmsCodec, AllSeptetsDecodeAndEncodeBack) {
    std::vector<unsigned> septets;
    for (unsigned s = 0; s < 128; ++s)
        septets.push_back(s);
    std::string hex = referencepack(septets);
    std::string text = unpack7(hex);
    ASSERT_EQ(128u, text.size());

    const struct {
        unsigned septet;
        unsigned char byte;
    } spots[] = {{0x00, '@'},  {0x01, 0xA3}, {0x02, '$'},  {0x0A, '\n'}, {0x0D, '\r'},
                 {0x11, '_'},  {0x1B, ' '},  {0x1E, 0xDF}, {0x24, 0xD7}, {0x40, 0xA1},
                 {0x5B, 0xC4}, {0x60, 0xBF}, {0x7E, 0xFC}, {0x7F, 0xE0}};
    for (const auto& sp : spots) {
        EXPECT_EQ(sp.byte, static_cast<unsigned char>(text[sp.septet])) << sp.septet;
        EXPECT_EQ(sp.byte, sc_septetzeichen(sp.septet)) << sp.septet;
    }

    // The non-invertible septets and what their byte is sent as.
    std::vector<unsigned> back = septets;
    const unsigned underscore = 0x11, star = 0x2A;
    for (unsigned s : {0x12u, 0x13u, 0x17u, 0x19u, 0x1Au})
        back[s] = star;
    back[0x10] = back[0x14] = back[0x24] = underscore;
    back[0x15] = 'O';
    back[0x16] = 'P';
    back[0x18] = 'S';
    back[0x1B] = ' ';
    char buf[300];
    strcpy(buf, text.c_str());
    EXPECT_EQ(128, strtosevenhex(buf, false, 200));
    EXPECT_EQ(referencepack(back), std::string(buf));
    for (unsigned s = 0; s < 128; ++s)
        EXPECT_EQ(back[s], sc_zeichenseptet(static_cast<unsigned char>(text[s]))) << s;
}

TEST(SmsCodec, RandomTextsSurviveTheRoundTrip) {
    std::vector<unsigned char> alphabet;
    for (unsigned s = 0; s < 128; ++s) {
        unsigned char c = sc_septetzeichen(s);
        if (sc_zeichenseptet(c) == s) alphabet.push_back(c);
    }
    ASSERT_EQ(116u, alphabet.size());
    std::mt19937 rng(20110601);
    for (size_t len = 0; len <= 200; ++len) {
        std::string text;
        for (size_t i = 0; i < len; ++i)
            text += static_cast<char>(alphabet[rng() % alphabet.size()]);
        // 8k characters ending in '@' cannot be told from 8k-1 characters plus padding.
        if (len % 8 == 0 && len && text.back() == '@') text.back() = 'x';
        int n = -1;
        std::string hex = pack(text, 1000, &n);
        EXPECT_EQ(static_cast<int>(len), n);
        EXPECT_EQ(2 * ((7 * len + 7) / 8), hex.size());
        // One character packs to fewer than 4 hex digits, which the decoder leaves alone.
        EXPECT_EQ(len < 2 ? "<refused>" : text, unpack7(hex)) << len;
    }
}

// The binary forms used by the PDU decoder: a start bit behind a user-data header, a septet
// count the octets may not cover, and the caller's buffer size.
TEST(SmsCodec, BinaryDecodersKeepToOffsetsAndBounds) {
    auto octets = [](const std::string& hex) {
        std::vector<unsigned char> o;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            o.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        return o;
    };
    struct {
        const char* what;
        const char* hex;
        size_t bitversatz, septets, n;
        std::string text;
    } sieben[] = {
        {"whole text", "E8329BFD4697D9EC37", 0, 10, 100, "hellohello"},
        {"one septet skipped", "E8329BFD4697D9EC37", 7, 9, 100, "ellohello"},
        {"behind a 6-octet header and its fill bit", "0500033A0201D069", 49, 2, 100, "hi"},
        {"more septets asked than the octets hold", "E8329B", 0, 10, 100, "hel"},
        {"cut at the buffer", "E8329BFD4697D9EC37", 0, 10, 5, "hell"},
        {"escape pair not split by the buffer", "E10D4ABC49D53665", 0, 9, 2, "a"},
        {"escape as the last septet", "E10D", 0, 2, 100, "a "},
        {"septet 0 is a real '@' when counted", "00", 0, 1, 100, "@"},
    };
    for (const auto& c : sieben) {
        auto o = octets(c.hex);
        std::unique_ptr<char[]> out(new char[c.n]);
        EXPECT_EQ(c.text.size(),
                  sc_septetsentpacken(o.data(), o.size(), c.bitversatz, c.septets, out.get(), c.n))
            << c.what;
        EXPECT_EQ(c.text, out.get()) << c.what;
    }
    struct {
        const char* what;
        const char* hex;
        size_t n;
        std::string text;
    } ucs2[] = {
        {"euro first, refused by the hex form", "20AC00E400F600FC", 100, "E\xE4\xF6\xFC"},
        {"first character above U+0FFF, then U+0000", "4E2D00000041", 100, "__A"},
        {"odd last octet ignored", "004100", 100, "A"},
        {"cut at the buffer", "0041004200430044", 3, "AB"},
    };
    for (const auto& c : ucs2) {
        auto o = octets(c.hex);
        std::unique_ptr<char[]> out(new char[c.n]);
        EXPECT_EQ(c.text.size(), sc_ucs2entpacken(o.data(), o.size(), out.get(), c.n)) << c.what;
        EXPECT_EQ(c.text, out.get()) << c.what;
    }
}
