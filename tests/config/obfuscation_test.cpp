// Obfuscation of stored secrets: round trips, the stored form, foreign and damaged values
// and the capacity limits of both directions.
#include "config/obfuscation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

std::string verschleiert(const std::string& klar) {
    std::string ze(7 + 2 * klar.size(), '\1');
    char* ende = ob_obfuscate(klar.c_str(), ze.data(), ze.size());
    EXPECT_EQ(*ende, 0);
    ze.resize((size_t)(ende - ze.data()));
    return ze;
}

std::string entschleiert(const std::string& ze, bool* prefix = nullptr) {
    std::string zd(ze.size() + 1, '\1');
    bool p = ob_deobfuscate(ze.c_str(), zd.data(), zd.size());
    if (prefix) *prefix = p;
    zd.resize(strlen(zd.c_str()));
    return zd;
}

TEST(Obfuscation, RoundTripsEveryByteAtEveryLength) {
    for (size_t laenge = 0; laenge <= 300; laenge++) {
        std::string klar;
        for (size_t i = 0; i < laenge; i++)
            klar += (char)(1 + (i * 7 + laenge) % 255); // every byte value 1..255 occurs
        std::string ze = verschleiert(klar);
        if (laenge == 0) {
            EXPECT_EQ(ze, "");
            continue;
        }
        ASSERT_EQ(ze.size(), 6 + 2 * laenge);
        EXPECT_EQ(ze.compare(0, 6, "CRYPT1"), 0);
        bool prefix = false;
        EXPECT_EQ(entschleiert(ze, &prefix), klar) << laenge;
        EXPECT_TRUE(prefix);
    }
}

TEST(Obfuscation, StoredFormFitsAnIniValue) {
    std::string ze = verschleiert("1234 ;=geheim\xE4\xFF");
    for (size_t i = 6; i < ze.size(); i++) {
        unsigned char c = (unsigned char)ze[i];
        EXPECT_TRUE(c > ' ' && c < 127 && c != ';' && c != '=') << ze;
        EXPECT_FALSE(c >= 'a' && c <= 'z') << ze;
    }
}

TEST(Obfuscation, ClearTextAndDamagedValues) {
    bool prefix = true;
    EXPECT_EQ(entschleiert("1234", &prefix), "1234");
    EXPECT_FALSE(prefix);
    EXPECT_EQ(entschleiert("", &prefix), "");
    EXPECT_FALSE(prefix);
    EXPECT_EQ(entschleiert("crypt1XX", &prefix), "crypt1XX"); // the mark is case-sensitive
    EXPECT_FALSE(prefix);
    EXPECT_EQ(entschleiert("CRYPT1", &prefix), "");
    EXPECT_TRUE(prefix);

    std::string ze = verschleiert("PIN9");
    // An odd last character is ignored.
    EXPECT_EQ(entschleiert(ze + "K"), "PIN9");
    // A character outside the alphabet counts as digit 0, like the first alphabet letter.
    std::string fremd = ze, null0 = ze;
    fremd[6] = '?';
    null0[6] = 'K';
    ASSERT_EQ(std::string("K7QX3MBV9RHD5TGW").find('K'), 0u);
    EXPECT_EQ(entschleiert(fremd), entschleiert(null0));
}

TEST(Obfuscation, CapacityLimits) {
    const char* klar = "geheimes-passwort"; // 17 bytes: needs 6 + 34 + 1 = 41
    // Exact capacity in a heap block of that size, so that the sanitizer sees any overrun.
    std::unique_ptr<char[]> genau(new char[41]);
    char* ende = ob_obfuscate(klar, genau.get(), 41);
    EXPECT_EQ(ende, genau.get() + 40);
    EXPECT_EQ(strlen(genau.get()), 40u);
    std::unique_ptr<char[]> knapp(new char[40]);
    ende = ob_obfuscate(klar, knapp.get(), 40);
    EXPECT_EQ(ende, knapp.get());
    EXPECT_STREQ(knapp.get(), "");
    char leer[1] = {'x'};
    EXPECT_EQ(ob_obfuscate("", leer, 1), leer);
    EXPECT_EQ(leer[0], 0);

    // Decoding into a short buffer cuts the text like every bounded copy.
    std::unique_ptr<char[]> zd(new char[18]);
    EXPECT_TRUE(ob_deobfuscate(genau.get(), zd.get(), 18));
    EXPECT_STREQ(zd.get(), klar);
    std::unique_ptr<char[]> kurz(new char[5]);
    EXPECT_TRUE(ob_deobfuscate(genau.get(), kurz.get(), 5));
    EXPECT_STREQ(kurz.get(), "gehe");
    EXPECT_FALSE(ob_deobfuscate("klartext", kurz.get(), 5));
    EXPECT_STREQ(kurz.get(), "klar");
}

} // namespace
