#include "ui/iconpainting.h"

#include "core/programstate.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int IC_PIXEL = IC_R * IC_R;

struct ic__farbe {
    uint8_t r, g, b, a;
};

constexpr ic__farbe IC_TRANSPARENT = {0, 0, 0, 0};
constexpr ic__farbe IC_SCHWARZ = {0, 0, 0, 0xFF};
constexpr ic__farbe IC_WEISS = {0xFF, 0xFF, 0xFF, 0xFF};

constexpr ic__farbe ic__rgb(uint32_t rgb) {
    return {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 0xFF};
}

// Colour of every pattern character. A constant table, so callers on different threads
// never race on building it; '#' is left transparent here and chosen per call.
struct ic__legende_t {
    ic__farbe f[256];
};
constexpr ic__legende_t ic__legende_bauen() {
    ic__legende_t t{};
    t.f[(unsigned char)'x'] = IC_SCHWARZ;
    t.f[(unsigned char)'w'] = IC_WEISS;
    t.f[(unsigned char)'r'] = ic__rgb(IC_ROT);
    t.f[(unsigned char)'b'] = ic__rgb(0x0000FF);
    t.f[(unsigned char)'g'] = ic__rgb(0x00FF00);
    t.f[(unsigned char)'y'] = ic__rgb(IC_GELB);
    t.f[(unsigned char)'-'] = ic__rgb(IC_DUNKELGELB);
    t.f[(unsigned char)'/'] = ic__rgb(0xBFBFBF);
    return t;
}
constexpr ic__legende_t ic__legende = ic__legende_bauen();

// The monochrome colour, read at every drawing so that a change of MOD=B shows at once.
ic__farbe ic__mono() {
    return MODUS('B') ? IC_WEISS : IC_SCHWARZ;
}

void ic__setzen(uint8_t* px, int pixel, ic__farbe f) {
    uint8_t* p = px + pixel * 4;
    p[0] = f.r;
    p[1] = f.g;
    p[2] = f.b;
    p[3] = f.a;
}

// Draws the '#' cells of a small bitmap (rows of equal width) in colour f with its top-left
// cell at row, column; cells outside the picture are dropped.
void ic__bitmap(uint8_t* px, int row, int column, const char* const* zeilen, int hoehe,
                ic__farbe f) {
    for (int z = 0; z < hoehe; z++) {
        int r = row + z;
        if (r < 0 || r >= IC_R) continue;
        for (int s = 0; zeilen[z][s]; s++) {
            int c = column + s;
            if (zeilen[z][s] == '#' && c >= 0 && c < IC_R) ic__setzen(px, r * IC_R + c, f);
        }
    }
}

// Digits 0-9, 5 x 7, strokes two pixels thick.
constexpr const char* ic__ziffern[10][7] = {
    {".###.", "##.##", "##.##", "##.##", "##.##", "##.##", ".###."},
    {"..##.", ".###.", "####.", "..##.", "..##.", "..##.", ".####"},
    {".###.", "##.##", "...##", "..##.", ".##..", "##...", "#####"},
    {".###.", "##.##", "...##", ".###.", "...##", "##.##", ".###."},
    {"...#.", "..##.", ".###.", "#.##.", "#####", "..##.", "..##."},
    {"#####", "##...", "##...", "####.", "...##", "##.##", ".###."},
    {"..##.", ".##..", "##...", "####.", "##.##", "##.##", ".###."},
    {"#####", "##.##", "...##", "..##.", ".##..", ".##..", ".##.."},
    {".###.", "##.##", "##.##", ".###.", "##.##", "##.##", ".###."},
    {".###.", "##.##", "##.##", ".####", "...##", "..##.", ".##.."},
};

// Network letters of the main icon: large (rows 11-20, standard style) and small (rows
// 8-13, digit style), in the order G, U, E, H.
constexpr const char* ic__gross[4][10] = {
    {"...#####.", "..######.", ".##......", ".##......", ".##..####", ".##..####", ".##....##",
     ".##....##", "..######.", "...####.."},
    {".##....##", ".##....##", ".##....##", ".##....##", ".##....##", ".##....##", ".##....##",
     ".##....##", "..######.", "...####.."},
    {".########", ".########", ".##......", ".##......", ".######..", ".######..", ".##......",
     ".##......", ".########", ".########"},
    {".##....##", ".##....##", ".##....##", ".##....##", ".########", ".########", ".##....##",
     ".##....##", ".##....##", ".##....##"},
};
constexpr const char* ic__klein[4][6] = {
    {".####.", "##..##", "##....", "##.###", "##..##", ".####."},
    {"##..##", "##..##", "##..##", "##..##", "##..##", ".####."},
    {"######", "##....", "#####.", "#####.", "##....", "######"},
    {"##..##", "##..##", "######", "######", "##..##", "##..##"},
};

// Letter index and background of a network type; -1 for no letter (grey background).
int ic__buchstabe(int ba) {
    switch (ba) {
    case 1:
        return 0;
    case 2:
        return 1;
    case 5:
        return 2;
    case 6:
        return 3;
    default:
        return -1;
    }
}
constexpr uint32_t ic__hintergrund[4] = {0xFF4040, 0x8080FF, 0x80FF80, 0xFF40FF};
constexpr uint32_t IC_GRAU = 0xC0C0C0;

// Patterns: 22 characters per pixel row, rows joined without separators.
#define IC_MUSTER(name, zeilen, text)                                                              \
    constexpr char name[] = text;                                                                  \
    static_assert(sizeof(name) == (zeilen)*IC_R + 1, #name " is not " #zeilen " rows")

IC_MUSTER(ic__verkehr, 13,
          "    xxx               "
          "  xxrrrxx             "
          " xrrrrrrrx            "
          " xrrrrrrrx            "
          "xrrrrrrrrrx           "
          "xrrrrrrrrrx           "
          "xxxxxxxxxxxxxxxxxxxxx "
          "          xbbbbbbbbbx "
          "          xbbbbbbbbbx "
          "           xbbbbbbbx  "
          "           xbbbbbbbx  "
          "            xxbbbxx   "
          "              xxx     ");

IC_MUSTER(ic__nichtverbunden, 9,
          "                      "
          "         ###          "
          "        ###           "
          "##########   ######## "
          "#########   ######### "
          "########   ########## "
          "          ###         "
          "         ###          "
          "                      ");
IC_MUSTER(ic__netzsuche, 9,
          "         ###          "
          "        #####         "
          "       ##   ##        "
          "            ##        "
          "          ###         "
          "         ###          "
          "                      "
          "         ###          "
          "         ###          ");
IC_MUSTER(ic__verbinden, 9,
          "                      "
          "     ##       ##      "
          "      ##     ##       "
          "#########   ######### "
          "########## ########## "
          "#########   ######### "
          "      ##     ##       "
          "     ##       ##      "
          "                      ");
IC_MUSTER(ic__trennen, 9,
          "          #           "
          "   ##     #     ##    "
          "  ##      #      ##   "
          " ######## # ########  "
          "######### # ######### "
          " ######## # ########  "
          "  ##      #      ##   "
          "   ##     #     ##    "
          "          #           ");

IC_MUSTER(ic__warnung, 22,
          "        xxxxxx        "
          "      xx------xx      "
          "    xx----------xx    "
          "   x--------------x   "
          "  x-------xxx------x  "
          "  x------xxxx------x  "
          " x------xxxxx-------x "
          " x------xxxxx-------x "
          "x---------xxx--------x"
          "x---------xxx--------x"
          "x---------xxx--------x"
          "x---------xxx--------x"
          "x---------xxx--------x"
          "x---------xxx--------x"
          " x--------xxx-------x "
          " x--------xxx-------x "
          "  x------xxxxx-----x  "
          "  x------xxxxx-----x  "
          "   x--------------x   "
          "    xx----------xx    "
          "      xx------xx      "
          "        xxxxxx        ");

// Homezone status unknown: a white H and a white question mark, both outlined black.
IC_MUSTER(ic__hzunbekannt, 22,
          "                      "
          "                      "
          "                      "
          "                      "
          "xxxx  xxxx    xxxxxx  "
          "xwwx  xwwx   xwwwwwwx "
          "xwwx  xwwx  xwwxxxxwwx"
          "xwwx  xwwx  xwwx  xwwx"
          "xwwx  xwwx  xxxx xwwwx"
          "xwwxxxxwwx      xwwwx "
          "xwwwwwwwwx     xwwwx  "
          "xwwwwwwwwx     xwwx   "
          "xwwxxxxwwx     xwwx   "
          "xwwx  xwwx     xxxx   "
          "xwwx  xwwx            "
          "xwwx  xwwx     xxxx   "
          "xwwx  xwwx     xwwx   "
          "xxxx  xxxx     xxxx   "
          "                      "
          "                      "
          "                      "
          "                      ");
// In the homezone: a large green H outlined black.
IC_MUSTER(ic__hzdrin, 22,
          "  xxxxx        xxxxx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggxxxxxxxxxxgggx  "
          "  xggggggggggggggggx  "
          "  xggggggggggggggggx  "
          "  xggggggggggggggggx  "
          "  xgggxxxxxxxxxxgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xgggx        xgggx  "
          "  xxxxx        xxxxx  "
          "                      ");
// Not in the homezone: the same H in white, struck through in red (the red flashes).
IC_MUSTER(ic__hzdraussen, 22,
          "  xxxxx        xxxxrrr"
          "  xwwwx        xwwrrrr"
          "  xwwwx        xwrrrr "
          "  xwwwx        xrrrr  "
          "  xwwwx        rrrrx  "
          "  xwwwx       rrrrwx  "
          "  xwwwx      rrrrwwx  "
          "  xwwwx     rrrrwwwx  "
          "  xwwwxxxxxrrrrxwwwx  "
          "  xwwwwwwwrrrrwwwwwx  "
          "  xwwwwwwrrrrwwwwwwx  "
          "  xwwwwwrrrrwwwwwwwx  "
          "  xwwwxrrrrxxxxxwwwx  "
          "  xwwwrrrr     xwwwx  "
          "  xwwrrrr      xwwwx  "
          "  xwrrrr       xwwwx  "
          "  xrrrr        xwwwx  "
          "  rrrrx        xwwwx  "
          " rrrrwx        xwwwx  "
          "rrrrwwx        xwwwx  "
          "rrrxxxx        xxxxx  "
          "rr                    ");

// Clock: a round face over rows 0-12, columns 0-12, hands at twelve and three. The upper
// eight rows are common; the lower half carries the kind's sign at columns 13-21.
IC_MUSTER(ic__uhr, 8,
          "    xxxxx             "
          "  xxcccccxx           "
          " xccccxccccx          "
          " xccccxccccx          "
          "xcccccxcccccx         "
          "xcccccxcccccx         "
          "xcccccxxxxccx         "
          "xcccccccccccx         ");
IC_MUSTER(ic__uhronline, 6,
          "xcccccccccccx         "
          " xcccccccccx          "
          " xcccccccccx          "
          "  xxcccccxx           "
          "    xxxxx             "
          "                      ");
// Idle time: a small and a large Z.
IC_MUSTER(ic__uhrleerlauf, 6,
          "xcccccccccccx     ####"
          " xcccccccccx         #"
          " xcccccccccx ####   # "
          "  xxcccccxx    #   #  "
          "    xxxxx     #   #   "
          "             #### ####");
// Time without connection: a zigzag flash.
IC_MUSTER(ic__uhrohne, 6,
          "xcccccccccccx     ####"
          " xcccccccccx     #### "
          " xcccccccccx    ######"
          "  xxcccccxx       ### "
          "    xxxxx        ##   "
          "                ##    ");
IC_MUSTER(ic__doppelpunkt, 7,
          "                      "
          "                      "
          "        xx            "
          "        xx            "
          "                      "
          "        xx            "
          "        xx            ");

// Mobile set: a desk telephone with its handset on top and two rows of keys in the body.
IC_MUSTER(ic__mobilteil, 13,
          "//////////////////////"
          "////xxxxxxxxxxxxxx////"
          "///xxxxxxxxxxxxxxxx///"
          "///xxx//////////xxx///"
          "///////xx////xx///////"
          "//////xxxxxxxxxx//////"
          "/////xx//x//x//xx/////"
          "/////xxxxxxxxxxxx/////"
          "/////xx//x//x//xx/////"
          "/////xxxxxxxxxxxx/////"
          "/////xxxxxxxxxxxx/////"
          "////xxxxxxxxxxxxxx////"
          "//////////////////////");
// Battery: body at columns 6-14 with its pole at column 15, seven rows inside.
IC_MUSTER(ic__akkuhalb, 9,
          "//////xxxxxxxxx///////"
          "//////xyyyyyyyx///////"
          "//////xyyyyyyyx///////"
          "//////xyyyyyyyxx//////"
          "//////xyyyyyyyxx//////"
          "//////xyyyyyyyxx//////"
          "//////xyyyyyyyx///////"
          "//////xyyyyyyyx///////"
          "//////xxxxxxxxx///////");
IC_MUSTER(ic__akkuleer, 9,
          "//////xxxxxxxxx///////"
          "//////xxxxxxxxx///////"
          "//////xxxxxxxxx///////"
          "//////xxxxxxxxxx//////"
          "//////xrrrrrrrxx//////"
          "//////xrrrrrrrxx//////"
          "//////xrrrrrrrx///////"
          "//////xrrrrrrrx///////"
          "//////xxxxxxxxx///////");

#undef IC_MUSTER

// Draws n right-aligned with its units digit at column 17: no leading zeros, and above
// 9999 the last four digits, with their zeros (10005 shows 0005, not a bare 5).
void ic__zahl(uint8_t* px, int row, int n) {
    int rest = n;
    for (int stelle = 0; stelle < 4; stelle++) {
        if (stelle > 0 && rest == 0) break;
        ic__pxd(px, row, 17 - 6 * stelle, rest % 10);
        rest /= 10;
    }
}

bool ic__gleich(const uint8_t* p, ic__farbe f) {
    return p[0] == f.r && p[1] == f.g && p[2] == f.b && p[3] == f.a;
}

} // namespace

void ic__pxs(uint8_t* px, int row, const char* content) {
    if (!px || !content || row < 0 || row >= IC_R) return;
    ic__farbe mono = ic__mono();
    int pixel = row * IC_R;
    for (const char* c = content; *c && pixel < IC_PIXEL; c++, pixel++)
        ic__setzen(px, pixel, *c == '#' ? mono : ic__legende.f[(unsigned char)*c]);
}

void ic__pxd(uint8_t* px, int row, int column, int digit) {
    if (!px || digit < 0 || digit > 9) return;
    ic__bitmap(px, row, column, ic__ziffern[digit], 7, ic__mono());
}

void ic_leeren(uint8_t* px) {
    memset(px, 0, IC_PXGROESSE);
}

void ic_tauschen(uint8_t* px, uint32_t rgb1, uint32_t rgb2) {
    ic__farbe f1 = ic__rgb(rgb1), f2 = ic__rgb(rgb2);
    for (int i = 0; i < IC_PIXEL; i++) {
        uint8_t* p = px + i * 4;
        if (ic__gleich(p, f1))
            ic__setzen(px, i, f2);
        else if (ic__gleich(p, f2))
            ic__setzen(px, i, f1);
    }
}

int ic_balken(int sig) {
    if (sig <= 0) return 0;
    if (sig < 15) return 1;
    if (sig < 30) return 2;
    if (sig < 50) return 3;
    if (sig < 70) return 4;
    return 5;
}

void ic_malen_fenster(uint8_t* px) {
    ic_leeren(px);
    ic__pxs(px, 4, ic__verkehr);
}

void ic_malen_haupt(uint8_t* px, int art, int ba, int sig, int up, int down, int stil) {
    ic_leeren(px);
    if (art < 1 || art > 5) return;
    bool ziffernstil = stil > 1;
    if (art >= 2 || !ziffernstil) ic__pxs(px, 0, ic__verkehr);
    int b = ic__buchstabe(ba);
    int balken = ic_balken(sig);
    if (art == 1 && !ziffernstil) {
        // The traffic symbol stands on the network's colour; only the corners stay open.
        ic__farbe hg = ic__rgb(b >= 0 ? ic__hintergrund[b] : IC_GRAU);
        for (int i = 0; i < IC_PIXEL; i++)
            if (px[i * 4 + 3] == 0) ic__setzen(px, i, hg);
        ic__setzen(px, 0, IC_TRANSPARENT);
        ic__setzen(px, IC_R - 1, IC_TRANSPARENT);
        ic__setzen(px, IC_PIXEL - IC_R, IC_TRANSPARENT);
        ic__setzen(px, IC_PIXEL - 1, IC_TRANSPARENT);
        if (b >= 0) ic__bitmap(px, 11, 0, ic__gross[b], 10, IC_SCHWARZ);
        for (int i = 0; i < balken; i++)
            for (int r = 20 - (i + 2); r <= 20; r++) {
                ic__setzen(px, r * IC_R + 11 + 2 * i, IC_SCHWARZ);
                ic__setzen(px, r * IC_R + 12 + 2 * i, IC_SCHWARZ);
            }
    } else if (art == 1) {
        ic__zahl(px, 0, up < 0 ? 0 : up);
        ic__zahl(px, 15, down < 0 ? 0 : down);
        if (b >= 0) ic__bitmap(px, 8, 0, ic__klein[b], 6, IC_SCHWARZ);
        for (int i = 0; i < balken; i++)
            for (int r = 8; r <= 13; r++) {
                ic__setzen(px, r * IC_R + 8 + 3 * i, IC_SCHWARZ);
                ic__setzen(px, r * IC_R + 9 + 3 * i, IC_SCHWARZ);
            }
    } else {
        static constexpr const char* zustand[4] = {ic__nichtverbunden, ic__netzsuche, ic__verbinden,
                                                   ic__trennen};
        ic__pxs(px, 13, zustand[art - 2]);
    }
}

void ic_malen_warnung(uint8_t* px) {
    ic_leeren(px);
    ic__pxs(px, 0, ic__warnung);
}

void ic_malen_homezone(uint8_t* px, int art) {
    ic_leeren(px);
    if (art == 1) ic__pxs(px, 0, ic__hzunbekannt);
    if (art == 2) ic__pxs(px, 0, ic__hzdrin);
    if (art == 3) ic__pxs(px, 0, ic__hzdraussen);
}

void ic_malen_countdown(uint8_t* px, int art, unsigned long val) {
    ic_leeren(px);
    if (art < 1 || art > 3) return;
    static constexpr const char* unten[3] = {ic__uhronline, ic__uhrleerlauf, ic__uhrohne};
    ic__pxs(px, 0, ic__uhr);
    ic__pxs(px, 15, ic__doppelpunkt);
    ic__pxs(px, 8, unten[art - 1]);
    if (val < 600) {
        ic__pxd(px, 15, 0, int(val / 60 % 10));
        ic__pxd(px, 15, 11, int(val / 10 % 6));
        ic__pxd(px, 15, 17, int(val % 10));
    }
}

void ic_malen_akku(uint8_t* px, int art) {
    ic_leeren(px);
    if (art < 1 || art > 2) return;
    ic__pxs(px, 0, ic__mobilteil);
    ic__pxs(px, 13, art == 1 ? ic__akkuhalb : ic__akkuleer);
}

const char* ic_code_haupt(int art) {
    static constexpr const char* codes[6] = {"", "", "-", "?", "-><-", "<-|->"};
    return art >= 0 && art <= 5 ? codes[art] : "";
}

const char* ic_code_warnung(int art, bool flashphase) {
    if (art == 1) return "$";
    if (art == 2) return flashphase ? "!!" : "$";
    return "";
}

const char* ic_code_homezone(int art, bool flashphase) {
    if (art == 1) return "H?";
    if (art == 2) return "H";
    if (art == 3) return flashphase ? "X!H" : "XH!";
    return "";
}

void ic_code_countdown(char* out, size_t n, int art, unsigned long val) {
    if (!out || n == 0) return;
    out[0] = 0;
    if (art < 1 || art > 3) return;
    char c = "czx"[art - 1];
    if (val < 100)
        snprintf(out, n, "%c%lu", c, val);
    else if (val < 600)
        snprintf(out, n, "%c%luh", c, val / 60);
    else
        snprintf(out, n, "%c", c);
}

const char* ic_code_akku(int art) {
    if (art == 1) return "batt";
    if (art == 2) return "BATT!";
    return "";
}

int ic_akkuart(int val, int batt1, int batt2) {
    if (val > 100) val = 100;
    if (val <= 0 || val > batt1) return 0;
    return val > batt2 ? 1 : 2;
}
