// The control program's mirror of a running copy's record: the window texts made from the
// record (radio mode from mode and rates, signal, rates or offline, volume and time marked
// against the control program's own limits), and texts a writer left without a NUL.
#include "supervisor/controlprogram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Zeile {
    unsigned char opmode;
    unsigned long hoch, runter, online;
    unsigned char raw, prozent;
    short dbm;
    unsigned long volumen, zeit;
    long max[3], maxt[3];
    const char *modus, *signal, *up, *down, *vol, *time;
};

// clang-format off
const Zeile zeilen[] = {
    // Offline GPRS without a signal reading, nothing counted, no limits.
    {1, 0, 0, 0, 0, 0, 0, 0, 0, {0, 0, 0}, {0, 0, 0},
     " GPRS", " ", " offline", " offline", "   0 000 000 kB", " 0000:00"},
    // GPRS carrying more than 9450 B/s is EDGE; below 12 % the signal is marked.
    {1, 1234, 8217, 61, 3, 11, -107, 999999, 119, {1000000, 2000000, 0}, {120, 240, 0},
     " EDGE", "+11% = -107dBm", "     1.2 kB/s", "     8.2 kB/s", "   0 999 999 kB", " 0001:59"},
    // At 9450 B/s it stays GPRS; 12 % is not weak; both counters at the pre-warning.
    {1, 450, 9000, 61, 4, 12, -105, 1000000, 120, {1000000, 2000000, 0}, {120, 240, 0},
     " GPRS", " 12% = -105dBm", "     0.5 kB/s", "     9.0 kB/s", "+  1 000 000 kB", "+0002:00"},
    // EDGE as reported; both beyond the warning.
    {5, 0, 0, 0, 0, 0, 0, 3234567, 6001, {1000000, 2000000, 3000000}, {120, 240, 0},
     " EDGE", " ", " offline", " offline", "*  3 234 567 kB", "*0100:01"},
    // UMTS at 56000 B/s stays UMTS; limits not set mark nothing.
    {2, 6000, 50000, 1, 20, 66, -73, 1234567890, 99999, {0, 0, 0}, {0, 0, 0},
     " UMTS", " 66% = -73dBm", "     6.0 kB/s", "    50.0 kB/s", " 1234 567 890 kB", " 1666:39"},
    // Above 56000 B/s UMTS is HSPA; only a warning limit set.
    {2, 6001, 50000, 1, 0, 0, 0, 500, 0, {0, 500, 0}, {0, 0, 0},
     " HSPA", " ", "     6.0 kB/s", "    50.0 kB/s", "*  0 000 500 kB", " 0000:00"},
    // HSPA as reported on a fast link.
    {6, 123456789, 999949, 1, 0, 0, 0, 0, 0, {0, 0, 0}, {0, 0, 0},
     " HSPA", " ", " 123456.8 kB/s", "   999.9 kB/s", "   0 000 000 kB", " 0000:00"},
    // No radio mode, and LTE.
    {0, 0, 0, 0, 0, 0, 0, 0, 0, {0, 0, 0}, {0, 0, 0},
     " ", " ", " offline", " offline", "   0 000 000 kB", " 0000:00"},
    {7, 0, 0, 0, 0, 0, 0, 0, 0, {0, 0, 0}, {0, 0, 0},
     " LTE", " ", " offline", " offline", "   0 000 000 kB", " 0000:00"},
};
// clang-format on

TEST(ControlProgram, WindowTextsOfTheRecord) {
    for (const Zeile& z : zeilen) {
        SCOPED_TRACE(std::string(z.modus) + "|" + z.signal + "|" + z.vol + "|" + z.time);
        tdrio_t r{};
        r.opmode = z.opmode;
        r.upspeed = z.hoch;
        r.downspeed = z.runter;
        r.online_time = z.online;
        r.signal_raw = z.raw;
        r.signal_percent = z.prozent;
        r.signal_dbm = z.dbm;
        r.volume = z.volumen;
        r.time = z.zeit;
        strcpy(r.message, " Vodafone.de [26202.1A2B.3C4D]");
        strcpy(r.mini_message, " G50%_Vodafone.de");
        strcpy(r.error_message, " ");
        char t[cc_mtextFELD][150];
        strcpy(t[0], "0");
        fe_texte(r, z.max, z.maxt, t);
        EXPECT_STREQ(t[0], "0");
        EXPECT_STREQ(t[1], " Vodafone.de [26202.1A2B.3C4D]");
        EXPECT_STREQ(t[2], z.modus);
        EXPECT_STREQ(t[3], z.signal);
        EXPECT_STREQ(t[4], z.up);
        EXPECT_STREQ(t[5], z.down);
        EXPECT_STREQ(t[6], z.vol);
        EXPECT_STREQ(t[7], z.time);
        EXPECT_STREQ(t[8], " ");
        EXPECT_STREQ(t[9], " G50%_Vodafone.de");
    }
}

// A record whose every byte is set (no text ends with a NUL): the copy ends each text
// within its field, keeps the counter, and the window texts stop at the fields' ends.
TEST(ControlProgram, TextsWithoutANulEndAtTheirFields) {
    tdrio_t r;
    memset(&r, 'Z', sizeof r);
    r.process_counter = 41;
    tdrio_t k;
    fe_kopieren(&r, k);
    EXPECT_EQ(k.process_counter, 41u);
    for (const auto& [text, groesse] : {std::pair<const char*, size_t>{k.command, sizeof k.command},
                                        {k.network_name, sizeof k.network_name},
                                        {k.plmn, sizeof k.plmn},
                                        {k.lac, sizeof k.lac},
                                        {k.cid, sizeof k.cid},
                                        {k.message, sizeof k.message},
                                        {k.mini_message, sizeof k.mini_message},
                                        {k.error_message, sizeof k.error_message},
                                        {k.rnc, sizeof k.rnc},
                                        {k.answer, sizeof k.answer}})
        EXPECT_EQ(strlen(text), groesse - 1);
    const long keine[3] = {0, 0, 0};
    char t[cc_mtextFELD][150];
    fe_texte(r, keine, keine, t);
    EXPECT_EQ(t[1], std::string(64, 'Z'));
    EXPECT_EQ(t[8], std::string(32, 'Z'));
    EXPECT_EQ(t[9], std::string(48, 'Z'));
}

} // namespace
