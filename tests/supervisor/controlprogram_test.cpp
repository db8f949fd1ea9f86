// The control program's mirror of a running copy's record: the window texts made from the
// record (radio mode from mode and rates, signal, rates or offline, volume and time marked
// against the control program's own limits), texts a writer left without a NUL, and the
// homezone icon's kind.
#include "supervisor/controlprogram.h"

#include "core/programstate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>

namespace {

struct Zeile {
    const char* name;
    std::function<void(tdrio_t&)> setze;
    long max[3], maxt[3];
    std::map<int, std::string> soll; // entry of cc_mtext -> text
};

void online(tdrio_t& r, unsigned long hoch, unsigned long runter) {
    r.online_time = 61;
    r.upspeed = hoch;
    r.downspeed = runter;
}

TEST(ControlProgram, WindowTextsOfTheRecord) {
    const std::string aa(64, 'A'), bb(48, 'B'), cc(32, 'C');
    const Zeile zeilen[] = {
        {"offline GPRS without signal, nothing counted",
         [](tdrio_t& r) {
             r.opmode = 1;
             strcpy(r.message, " Vodafone.de [26202.1A2B.3C4D]");
             strcpy(r.mini_message, " G50%_Vodafone.de");
             strcpy(r.error_message, " ");
         },
         {0, 0, 0},
         {0, 0, 0},
         {{1, " Vodafone.de [26202.1A2B.3C4D]"},
          {2, " GPRS"},
          {3, " "},
          {4, " offline"},
          {5, " offline"},
          {6, "   0 000 000 kB"},
          {7, " 0000:00"},
          {8, " "},
          {9, " G50%_Vodafone.de"}}},
        {"GPRS carrying more than 9450 B/s is EDGE; a weak signal is marked",
         [](tdrio_t& r) {
             r.opmode = 1;
             online(r, 1234, 8217);
             r.signal_raw = 3;
             r.signal_percent = 11;
             r.signal_dbm = -107;
         },
         {0, 0, 0},
         {0, 0, 0},
         {{2, " EDGE"}, {3, "+11% = -107dBm"}, {4, "     1.2 kB/s"}, {5, "     8.2 kB/s"}}},
        {"GPRS at 9450 B/s stays GPRS; 12 % is not weak",
         [](tdrio_t& r) {
             r.opmode = 1;
             online(r, 450, 9000);
             r.signal_raw = 4;
             r.signal_percent = 12;
             r.signal_dbm = -105;
         },
         {0, 0, 0},
         {0, 0, 0},
         {{2, " GPRS"}, {3, " 12% = -105dBm"}, {4, "     0.5 kB/s"}, {5, "     9.0 kB/s"}}},
        {"EDGE as reported",
         [](tdrio_t& r) { r.opmode = 5; },
         {0, 0, 0},
         {0, 0, 0},
         {{2, " EDGE"}}},
        {"UMTS at 56000 B/s stays UMTS",
         [](tdrio_t& r) {
             r.opmode = 2;
             online(r, 6000, 50000);
             r.signal_raw = 20;
             r.signal_percent = 66;
             r.signal_dbm = -73;
         },
         {0, 0, 0},
         {0, 0, 0},
         {{2, " UMTS"}, {3, " 66% = -73dBm"}, {5, "    50.0 kB/s"}}},
        {"UMTS above 56000 B/s is HSPA",
         [](tdrio_t& r) { r.opmode = 2, online(r, 6001, 50000); },
         {0, 0, 0},
         {0, 0, 0},
         {{2, " HSPA"}, {4, "     6.0 kB/s"}}},
        {"HSPA as reported, a fast link",
         [](tdrio_t& r) { r.opmode = 6, online(r, 123456789, 999949); },
         {0, 0, 0},
         {0, 0, 0},
         {{2, " HSPA"}, {4, " 123456.8 kB/s"}, {5, "   999.9 kB/s"}}},
        {"no radio mode", [](tdrio_t& r) { r.opmode = 0; }, {0, 0, 0}, {0, 0, 0}, {{2, " "}}},
        {"LTE", [](tdrio_t& r) { r.opmode = 7; }, {0, 0, 0}, {0, 0, 0}, {{2, " LTE"}}},
        {"below the pre-warning",
         [](tdrio_t& r) {
             r.volume = 999999;
             r.time = 119;
         },
         {1000000, 2000000, 3000000},
         {120, 240, 0},
         {{6, "   0 999 999 kB"}, {7, " 0001:59"}}},
        {"at the pre-warning",
         [](tdrio_t& r) {
             r.volume = 1000000;
             r.time = 120;
         },
         {1000000, 2000000, 3000000},
         {120, 240, 0},
         {{6, "+  1 000 000 kB"}, {7, "+0002:00"}}},
        {"at the warning, beyond the limit",
         [](tdrio_t& r) {
             r.volume = 3234567;
             r.time = 6001;
         },
         {1000000, 2000000, 3000000},
         {120, 240, 0},
         {{6, "*  3 234 567 kB"}, {7, "*0100:01"}}},
        {"limits not set mark nothing",
         [](tdrio_t& r) {
             r.volume = 1234567890;
             r.time = 99999;
         },
         {0, 0, 0},
         {0, 0, 0},
         {{6, " 1234 567 890 kB"}, {7, " 1666:39"}}},
        {"only a warning limit",
         [](tdrio_t& r) { r.volume = 500; },
         {0, 500, 0},
         {0, 0, 0},
         {{6, "*  0 000 500 kB"}}},
        {"texts that fill their fields without a NUL are cut at the field",
         [](tdrio_t& r) {
             memset(r.message, 'A', sizeof r.message);
             memset(r.mini_message, 'B', sizeof r.mini_message);
             memset(r.error_message, 'C', sizeof r.error_message);
         },
         {0, 0, 0},
         {0, 0, 0},
         {{1, aa}, {9, bb}, {8, cc}}},
    };
    for (const Zeile& z : zeilen) {
        SCOPED_TRACE(z.name);
        tdrio_t r{};
        r.len = sizeof r;
        r.process_counter = 3;
        z.setze(r);
        // Straight from the record, and from the copy the loop takes of it.
        tdrio_t k;
        fe_kopieren(&r, k);
        EXPECT_EQ(k.process_counter, 3u);
        for (const tdrio_t* quelle : {&r, &k}) {
            char texte[cc_mtextFELD][150];
            strcpy(texte[0], "0");
            fe_texte(*quelle, z.max, z.maxt, texte);
            EXPECT_STREQ(texte[0], "0");
            for (const auto& [i, text] : z.soll)
                EXPECT_EQ(texte[i], text) << "entry " << i;
        }
    }
}

// Every text of the copy ends within its field, whatever the writer left.
TEST(ControlProgram, TheCopyTerminatesEveryTextField) {
    tdrio_t r;
    memset(&r, 'Z', sizeof r);
    r.process_counter = 41;
    tdrio_t k;
    fe_kopieren(&r, k);
    EXPECT_EQ(k.process_counter, 41u);
    EXPECT_EQ(strlen(k.command), sizeof k.command - 1);
    EXPECT_EQ(strlen(k.network_name), sizeof k.network_name - 1);
    EXPECT_EQ(strlen(k.plmn), sizeof k.plmn - 1);
    EXPECT_EQ(strlen(k.lac), sizeof k.lac - 1);
    EXPECT_EQ(strlen(k.cid), sizeof k.cid - 1);
    EXPECT_EQ(strlen(k.message), sizeof k.message - 1);
    EXPECT_EQ(strlen(k.mini_message), sizeof k.mini_message - 1);
    EXPECT_EQ(strlen(k.error_message), sizeof k.error_message - 1);
    EXPECT_EQ(strlen(k.rnc), sizeof k.rnc - 1);
    EXPECT_EQ(strlen(k.answer), sizeof k.answer - 1);
    // The record's homezone states (1 inside, 2 outside, 9 unknown) against the icon's kinds
    // (2 inside, 3 outside, 1 unknown).
    EXPECT_EQ(fe_homezoneart(1), 2);
    EXPECT_EQ(fe_homezoneart(2), 3);
    EXPECT_EQ(fe_homezoneart(9), 1);
    EXPECT_EQ(fe_homezoneart(0), 0);
    EXPECT_EQ(fe_homezoneart(3), 0);
}

} // namespace
