// The pictures of the tray icons without a display: painted buffers compared pixel by
// pixel with the patterns, the digit font and the main icon's layout, the codes of the
// icons, and the pixel writers at the edges of the buffer. The timer tick: what a tick
// decides from the program's state, and its timer across ends and restarts.
#include "mainwindow_fixture.h"
#include "trayrows.h"
#include "ui/iconpainting.h"
#include "ui/timertick.h"

#include "core/programstate.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Zeilen = std::vector<std::string>;
using Maler = std::function<std::string(uint8_t*)>; // paints, gives the code

// One character per pixel in the patterns' legend, plus 'L' light blue and 'M' magenta
// (network backgrounds); '?' is any other colour.
Zeilen bild(const uint8_t* px) {
    struct {
        uint32_t rgba;
        char c;
    } const legende[] = {{0x00000000, '.'}, {0x000000FF, 'x'}, {0xFFFFFFFF, 'w'}, {0xFF0000FF, 'r'},
                         {0x0000FFFF, 'b'}, {0x00FF00FF, 'g'}, {0xFFFF00FF, 'y'}, {0x9F9F00FF, '-'},
                         {0xBFBFBFFF, '/'}, {0x8080FFFF, 'L'}, {0xFF40FFFF, 'M'}};
    Zeilen z(IC_R, std::string(IC_R, '?'));
    for (int i = 0; i < IC_R * IC_R; i++) {
        const uint8_t* p = px + 4 * i;
        uint32_t rgba = uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        for (auto& l : legende)
            if (l.rgba == rgba) z[i / IC_R][i % IC_R] = l.c;
    }
    return z;
}

Zeilen ersetze(Zeilen z, char von, char nach) {
    for (auto& s : z)
        for (auto& c : s)
            if (c == von) c = nach;
    return z;
}
Zeilen operator+(Zeilen a, const Zeilen& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Zeilen& verkehr = tr_verkehr;
const Zeilen nichtverbunden = {
    "......................", ".........###..........", "........###...........",
    "##########...########.", "#########...#########.", "########...##########.",
    "..........###.........", ".........###..........", "......................"};
const Zeilen& netzsuche = tr_netzsuche;
const Zeilen verbinden = {
    "......................", ".....##.......##......", "......##.....##.......",
    "#########...#########.", "##########.##########.", "#########...#########.",
    "......##.....##.......", ".....##.......##......", "......................"};
const Zeilen trennen = {
    "..........#...........", "...##.....#.....##....", "..##......#......##...",
    ".########.#.########..", "#########.#.#########.", ".########.#.########..",
    "..##......#......##...", "...##.....#.....##....", "..........#..........."};
const Zeilen& warnung = tr_warnung;
// U on light blue under the traffic symbol, five bars, open corners.
const Zeilen u_fuenfbalken = {
    ".LLLxxxLLLLLLLLLLLLLL.", "LLxxrrrxxLLLLLLLLLLLLL", "LxrrrrrrrxLLLLLLLLLLLL",
    "LxrrrrrrrxLLLLLLLLLLLL", "xrrrrrrrrrxLLLLLLLLLLL", "xrrrrrrrrrxLLLLLLLLLLL",
    "xxxxxxxxxxxxxxxxxxxxxL", "LLLLLLLLLLxbbbbbbbbbxL", "LLLLLLLLLLxbbbbbbbbbxL",
    "LLLLLLLLLLLxbbbbbbbxLL", "LLLLLLLLLLLxbbbbbbbxLL", "LxxLLLLxxLLLxxbbbxxLLL",
    "LxxLLLLxxLLLLLxxxLLLLL", "LxxLLLLxxLLLLLLLLLLLLL", "LxxLLLLxxLLLLLLLLLLxxL",
    "LxxLLLLxxLLLLLLLLxxxxL", "LxxLLLLxxLLLLLLxxxxxxL", "LxxLLLLxxLLLLxxxxxxxxL",
    "LxxLLLLxxLLxxxxxxxxxxL", "LLxxxxxxLLLxxxxxxxxxxL", "LLLxxxxLLLLxxxxxxxxxxL",
    ".LLLLLLLLLLLLLLLLLLLL."};
// Digit style: 0 up and down, small G, four bars; digits in '#', letter and bars black.
const Zeilen g_ziffern = {
    "..................###.", ".................##.##", ".................##.##",
    ".................##.##", ".................##.##", ".................##.##",
    "..................###.", "......................", ".xxxx...xx.xx.xx.xx...",
    "xx..xx..xx.xx.xx.xx...", "xx......xx.xx.xx.xx...", "xx.xxx..xx.xx.xx.xx...",
    "xx..xx..xx.xx.xx.xx...", ".xxxx...xx.xx.xx.xx...", "......................",
    "..................###.", ".................##.##", ".................##.##",
    ".................##.##", ".................##.##", ".................##.##",
    "..................###."};

struct Fall {
    const char* name;
    Maler malen;
    const char* code;      // nullptr: not checked
    int ab;                // first row compared
    Zeilen zeilen;         // expected rows from ab on; '#' is the monochrome colour
    bool restleer = false; // every other row transparent
    bool modb = false;
    const char* hat = "";  // colours that must appear
    const char* ohne = ""; // colours that must not appear
};

Maler haupt(int art, int ba, int sig, int up, int down, int stil) {
    return [=](uint8_t* px) {
        ic_malen_haupt(px, art, ba, sig, up, down, stil);
        return std::string(ic_code_haupt(art));
    };
}
Maler uhr(int art, unsigned long val) {
    return [=](uint8_t* px) {
        char code[30];
        ic_malen_countdown(px, art, val);
        ic_code_countdown(code, sizeof code, art, val);
        return std::string(code);
    };
}
Maler akku(int val) {
    return [=](uint8_t* px) {
        int art = ic_akkuart(val, 30, 10);
        ic_malen_akku(px, art);
        return std::to_string(art) + ic_code_akku(art);
    };
}
Maler homezone(int art, bool blinken) {
    return [=](uint8_t* px) {
        ic_malen_homezone(px, art);
        if (blinken) ic_tauschen(px, IC_ROT, IC_GELB);
        return std::string(ic_code_homezone(art, blinken));
    };
}

Maler warn(bool blinken) {
    return [=](uint8_t* px) {
        ic_malen_warnung(px);
        if (blinken) ic_tauschen(px, IC_DUNKELGELB, IC_GELB);
        return std::string(ic_code_warnung(2, blinken));
    };
}
// Pixel writers on a cleared picture.
Maler roh(void (*schreiben)(uint8_t*)) {
    return [=](uint8_t* px) {
        ic_leeren(px);
        schreiben(px);
        return std::string();
    };
}

TEST(IconPainting, PicturesMatchTheirPatternsDigitsAndCodes) {
    const std::string leer(IC_R, '.');
    const Zeilen h_magenta = {"MxxMMMMxxMMMMMMMMMMMMM", "MxxxxxxxxMMMMMMMMMMMMM",
                              "MxxxxxxxxMMMMMMMMMMMMM"};
    // clang-format off
    const Fall faelle[] = {
        {"warning", warn(false), "$", 0, warnung},
        {"warning, other flash phase", warn(true), "!!", 0, ersetze(warnung, '-', 'y')},
        {"not connected", haupt(2, 2, 50, 0, 0, 1), "-", 0, verkehr + nichtverbunden},
        {"network search", haupt(3, 0, 0, 0, 0, 2), "?", 0, verkehr + netzsuche},
        {"connecting", haupt(4, 1, 0, 0, 0, 1), "-><-", 0, verkehr + verbinden},
        {"disconnecting", haupt(5, 1, 0, 0, 0, 1), "<-|->", 0, verkehr + trennen},
        {"U, 70%: five bars", haupt(1, 2, 70, 9, 9, 1), "", 0, u_fuenfbalken},
        {"U, 69%: four bars", haupt(1, 2, 69, 0, 0, 1), nullptr, 14,
         {"LxxLLLLxxLLLLLLLLLLLLL", "LxxLLLLxxLLLLLLLLxxLLL", "LxxLLLLxxLLLLLLxxxxLLL",
          "LxxLLLLxxLLLLxxxxxxLLL", "LxxLLLLxxLLxxxxxxxxLLL", "LLxxxxxxLLLxxxxxxxxLLL",
          "LLLxxxxLLLLxxxxxxxxLLL"}},
        {"U, 15%: two bars", haupt(1, 2, 15, 0, 0, 1), nullptr, 16,
         {"LxxLLLLxxLLLLLLLLLLLLL", "LxxLLLLxxLLLLxxLLLLLLL", "LxxLLLLxxLLxxxxLLLLLLL",
          "LLxxxxxxLLLxxxxLLLLLLL", "LLLxxxxLLLLxxxxLLLLLLL"}},
        {"U, 14%: one bar", haupt(1, 2, 14, 0, 0, 1), nullptr, 17,
         {"LxxLLLLxxLLLLLLLLLLLLL", "LxxLLLLxxLLxxLLLLLLLLL", "LLxxxxxxLLLxxLLLLLLLLL",
          "LLLxxxxLLLLxxLLLLLLLLL"}},
        {"H on magenta", haupt(1, 6, 0, 0, 0, 0), nullptr, 14, h_magenta},
        {"MOD=B: the large letter stays black", haupt(1, 6, 0, 0, 0, 0), nullptr, 14, h_magenta,
         false, true},
        {"digit style, 0 and 0", haupt(1, 1, 50, 0, 0, 2), "", 0, g_ziffern},
        {"MOD=B: white digits, black letter and bars", haupt(1, 1, 50, 0, 0, 2), "", 0,
         g_ziffern, false, true, "wx"},
        {"digit style, 1205", haupt(1, 0, 0, 1205, 0, 2), "", 0,
         {".##...###...###..#####", "###..##.##.##.##.##...", "###.....##.##.##.##...",
          ".##....##..##.##.####.", ".##...##...##.##....##", ".##..##....##.##.##.##",
          "####.#####..###...###.", leer}},
        {"digit style, 12345", haupt(1, 0, 0, 12345, 0, 2), "", 0,
         {"###...###.....#..#####", "#.##.##.##...##..##...", "..##....##..###..##...",
          ".##...###..#.##..####.", "##......##.#####....##", "#....##.##...##..##.##",
          "####..###....##...###.", leer}},
        {"countdown 125 min", uhr(1, 125), "c2h", 15,
         {".###........###..#####", "##.##......##.##.##...", "...##...xx.##.##.##...",
          "..##....xx.##.##.####.", ".##........##.##....##", "##......xx.##.##.##.##",
          "#####...xx..###...###."}},
        {"countdown 45 min", uhr(1, 45), "c45", 15,
         {".###..........#..#####", "##.##........##..##...", "##.##...xx..###..##...",
          "##.##...xx.#.##..####.", "##.##......#####....##", "##.##...xx...##..##.##",
          ".###....xx...##...###."}},
        {"idle countdown from 600 min: no digits", uhr(2, 600), "z", 14,
         {leer, leer, leer, "........xx............", "........xx............", leer,
          "........xx............", "........xx............"}},
        {"countdown 7 min without connection", uhr(3, 7), "x7", 0, {}, false, false, "x"},
        {"battery 31%: hidden", akku(31), "0", 0, Zeilen(IC_R, leer)},
        {"battery 30%: half", akku(30), "1batt", 0, {}, false, false, "yx/", "r"},
        {"battery 11%: half", akku(11), "1batt", 0, {}, false, false, "y", "r"},
        {"battery 10%: low", akku(10), "2BATT!", 0, {}, false, false, "rx/", "y"},
        {"homezone unknown", homezone(1, false), "H?", 0, {}, false, false, "wx", "rgy"},
        {"in homezone", homezone(2, false), "H", 0, {}, false, false, "gx", "rwy"},
        {"not in homezone", homezone(3, false), "XH!", 0, {}, false, false, "rwx", "y"},
        {"not in homezone, flash", homezone(3, true), "X!H", 0, {}, false, false, "yw", "r"},
        // The pixel writers at the edges: glyph 8 clipped left, right, top and bottom.
        {"digits clipped at every edge",
         roh([](uint8_t* px) {
             ic__pxd(px, 0, -1, 8), ic__pxd(px, 0, 20, 8);
             ic__pxd(px, -3, 8, 8), ic__pxd(px, 19, 8, 8);
         }), nullptr, 0,
         Zeilen{"###......###.........#", "#.##....##.##.......##", "#.##....##.##.......##",
                "###......###.........#", "#.##................##", "#.##................##",
                "###..................#"} + Zeilen(12, leer) +
             Zeilen{".........###..........", "........##.##.........", "........##.##........."},
         true},
        {"digits wholly outside, bad digits, bad rows and a null text draw nothing",
         roh([](uint8_t* px) {
             ic__pxd(px, 0, 22, 8), ic__pxd(px, 0, -5, 8), ic__pxd(px, 22, 0, 8);
             ic__pxd(px, -7, 0, 8), ic__pxd(px, 5, 5, 10), ic__pxd(px, 5, 5, -1);
             ic__pxs(px, -1, "xxxx"), ic__pxs(px, IC_R, "xxxx"), ic__pxs(px, 3, nullptr);
         }), nullptr, 0, {}, true},
        {"a pattern longer than the buffer stops at its end",
         roh([](uint8_t* px) { ic__pxs(px, 20, std::string(3000, 'x').c_str()); }), nullptr, 20,
         {std::string(IC_R, 'x'), std::string(IC_R, 'x')}, true},
    };
    // clang-format on
    for (const Fall& f : faelle) {
        SCOPED_TRACE(f.name);
        // Canaries around the picture; the picture starts out as garbage, so a painter that
        // keeps pixels of an earlier picture shows them as '?'.
        std::vector<uint8_t> speicher(64 + IC_PXGROESSE + 64, 0xA5);
        uint8_t* px = speicher.data() + 64;
        memset(px, 0x5A, IC_PXGROESSE);
        inidat.mod[(unsigned char)'B'] = f.modb;
        std::string code = f.malen(px);
        inidat.mod[(unsigned char)'B'] = 0;
        for (int i = 0; i < 64; i++) {
            ASSERT_EQ(speicher[i], 0xA5) << "before the buffer, byte " << i;
            ASSERT_EQ(px[IC_PXGROESSE + i], 0xA5) << "after the buffer, byte " << i;
        }
        EXPECT_TRUE(!f.code || code == f.code) << "code " << code;
        Zeilen ist = bild(px);
        Zeilen soll = ersetze(f.zeilen, '#', f.modb ? 'w' : 'x');
        for (int r = 0; r < IC_R; r++) {
            int k = r - f.ab;
            if (k >= 0 && k < int(soll.size())) {
                ASSERT_EQ(soll[k].size(), size_t(IC_R)) << "expected row " << k;
                EXPECT_EQ(ist[r], soll[k]) << "row " << r;
            } else if (f.restleer) {
                EXPECT_EQ(ist[r], leer) << "row " << r;
            }
            EXPECT_EQ(ist[r].find('?'), std::string::npos) << "row " << r << ": " << ist[r];
        }
        std::string alle;
        for (auto& z : ist)
            alle += z;
        for (const char* c = f.hat; *c; c++) {
            EXPECT_NE(alle.find(*c), std::string::npos) << "no '" << *c << "'";
        }
        for (const char* c = f.ohne; *c; c++) {
            EXPECT_EQ(alle.find(*c), std::string::npos) << "a '" << *c << "'";
        }
    }
}

TEST(IconPainting, BatteryKindAndCountdownCodeAtTheirEdges) {
    EXPECT_EQ(ic_akkuart(0, 100, 50), 0);   // level 0 hides whatever the thresholds say
    EXPECT_EQ(ic_akkuart(150, 100, 50), 1); // above 100 counts as 100
    EXPECT_EQ(ic_akkuart(50, 100, 50), 2);
    char code[3] = {'?', '?', '?'}; // a field too short for "c2h" keeps its end
    ic_code_countdown(code, sizeof code, 1, 125);
    EXPECT_STREQ(code, "c2");
    ic_code_countdown(code, sizeof code, 0, 125);
    EXPECT_STREQ(code, "");
}

// Minutes are hundredths of a second / 6000, rounded from 55 s on.
TEST(TimerTick, WhatATickDoesForTheProgramsState) {
    struct Fall {
        const char* name;
        ti_lage_t l;
        int warnart, vicon, tart;
        unsigned long twert;
        int hart, hicon;
        bool ende;
    };
    // zaehler funktion configsub netzfremd maxgrenze | online offlinea inaktiv | end endforce
    // errnoc | homu homezonestatus MOD=H unterbrechung
    // clang-format off
    const Fall faelle[] = {
        {"quiet",
         {2, 0, false, false, 0, 0, 0, 0, 0, false, 0, false, 0, false, 0}, 0, 0, 0, 0, 0, 0, false},
        {"foreign network flashes",
         {2, 0, false, true, 1, 0, 0, 0, 0, false, 0, false, 0, false, 0}, 2, 3, 0, 0, 0, 0, false},
        {"warning refreshed on the fourth tick",
         {4, 0, false, false, 1, 0, 0, 0, 0, false, 0, false, 0, false, 0}, 1, 1, 0, 0, 0, 0, false},
        {"warning left alone between",
         {5, 0, false, false, 1, 0, 0, 0, 0, false, 0, false, 0, false, 0}, -1, 1, -1, 0, -1, 0, false},
        {"limit flashes",
         {6, 0, false, false, 2, 0, 0, 0, 0, false, 0, false, 0, false, 0}, 2, 2, 0, 0, 0, 0, false},
        {"frontend copy shows none of its own",
         {2, 40, false, true, 2, 100, 0, 0, 30, true, 5, true, 2, true, 0}, -1, -1, -1, 0, -1, 0, false},
        {"29 min 5 s of 30 forced",
         {2, 0, false, false, 0, 174500, 0, 0, 30, true, 0, false, 0, false, 0}, 0, 0, 1, 0, 0, 0, false},
        {"10 min of 30 forced",
         {2, 0, false, false, 0, 60000, 0, 0, 30, true, 0, false, 0, false, 0}, 0, 0, 1, 20, 0, 0, false},
        {"past the end shows 0",
         {2, 0, false, false, 0, 240000, 0, 0, 30, true, 0, false, 0, false, 0}, 0, 0, 1, 0, 0, 0, false},
        {"idle one minute",
         {2, 0, false, false, 0, 100, 0, 6000, 30, false, 0, false, 0, false, 0}, 0, 0, 2, 29, 0, 0, false},
        {"idle under a minute",
         {2, 0, false, false, 0, 100, 0, 5999, 30, false, 0, false, 0, false, 0}, 0, 0, 0, 0, 0, 0, false},
        {"offline beyond 90 s",
         {2, 0, false, false, 0, 0, 9001, 0, 30, true, 10, false, 0, false, 0}, 0, 0, 3, 8, 0, 0, false},
        {"offline 90 s",
         {2, 0, false, false, 0, 0, 9000, 0, 0, false, 10, false, 0, false, 0}, 0, 0, 0, 0, 0, 0, false},
        {"outside the homezone with MOD=H",
         {2, 0, false, false, 0, 100, 0, 0, 0, false, 0, true, 2, true, 0}, 0, 0, 0, 0, 3, 2, true},
        {"outside, disconnect already asked",
         {2, 0, false, false, 0, 100, 0, 0, 0, false, 0, true, 2, true, 3}, 0, 0, 0, 0, 3, 2, false},
        {"homezone unknown",
         {2, 0, false, false, 0, 100, 0, 0, 0, false, 0, true, 0, true, 0}, 0, 0, 0, 0, 1, 9, false},
        {"homezone offline",
         {2, 0, false, false, 0, 0, 0, 0, 0, false, 0, true, 2, true, 0}, 0, 0, 0, 0, 0, 0, false},
        {"configuration program",
         {2, 50, true, false, 0, 100, 0, 0, 0, false, 0, true, 2, true, 0}, 0, 0, 0, 0, -1, 0, false},
    };
    // clang-format on
    for (const Fall& f : faelle) {
        SCOPED_TRACE(f.name);
        ti_tun_t t = ti_entscheiden(f.l);
        EXPECT_EQ(t.warnart, f.warnart);
        EXPECT_EQ(t.vicon, f.vicon);
        EXPECT_EQ(t.tart, f.tart);
        EXPECT_EQ(t.twert, f.twert);
        EXPECT_EQ(t.hart, f.hart);
        if (f.hart > 0) {
            EXPECT_EQ(t.hicon, f.hicon);
        }
        EXPECT_EQ(t.homezoneende, f.ende);
        EXPECT_EQ(t.akku, f.hart >= 0);
    }
}

using namespace mwt;

// Blocks the GTK main loop for ms.
void blockieren(long ms) {
    static long dauer;
    dauer = ms;
    g_idle_add(
        [](gpointer) -> gboolean {
            g_usleep(static_cast<gulong>(dauer) * 1000);
            return FALSE;
        },
        nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

bool gestoppt() {
    for (int i = 0; i < 300 && ti__ticke != 2; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ti__ticke == 2;
}

TEST_F(Fenster, TheTickOutlivesEveryEndAndStartAndNeverRunsTwice) {
    ti_ini();
    ASSERT_TRUE(warte([] { return ti_tickzahl() >= 1; }, 3000));
    // An end taken back before the next tick, and one taken back after it.
    ti_end();
    ti_ini();
    ti_end();
    ASSERT_TRUE(gestoppt());
    ti_ini();
    // The same while the GTK thread is blocked: ti_ini never waits for it.
    blockieren(3000);
    ti_end();
    ti_ini();
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    blockieren(3000);
    ti_end();
    ASSERT_TRUE(gestoppt());
    ti_ini();

    std::vector<long long> zeiten;
    long n = ti_tickzahl();
    auto t0 = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (ti_tickzahl() != n) {
            EXPECT_EQ(ti_tickzahl(), n + 1) << "two ticks at once";
            n = ti_tickzahl();
            zeiten.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - t0)
                                 .count());
        }
    }
    EXPECT_GE(zeiten.size(), 9u);
    EXPECT_LE(zeiten.size(), 11u);
    for (size_t i = 1; i < zeiten.size(); i++)
        EXPECT_GE(zeiten[i] - zeiten[i - 1], 500) << "ticks " << i - 1 << " and " << i;
}

} // namespace
