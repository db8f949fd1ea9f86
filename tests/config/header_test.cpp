// The header line: its validity test, the defensive reader, composing with the counter
// limits, the in-place rewrite and the configuration program's carried-over line 01.
#include "config/header.h"
#include "config/inifile.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kopfzeile = "01 2AB000012345-0120004531101-5000321";
const std::string rest = "0000000000000000\n02 COM=/dev/ttyUSB0\n03 PIN=\n";

// The window as the hooks report it; without a window the position stays as it is.
bool fenster;
int fensterx, fenstery, fensterform;

class Header : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(chdir(ts_scratchdir().c_str()), 0);
        ps_resetinidat();
        programmende_gewuenscht = false;
        _de = false;
        strcpy(inidatei, "tandor.ini");
        strcpy(connlogdatei, "connlog.txt");
        strcpy(headerdaten, "01 AAA000000000-0000000000000-00000000000000000000000");
        configkbvreset = configtreset = 0;
        fenster = false;
        fensterform = 0;
        ps_hooks.windowposition = [](int* x, int* y) {
            if (!fenster) return;
            *x = fensterx;
            *y = fenstery;
        };
        ps_hooks.windowform = [] { return fensterform; };
        sy_setclock(SY_CLOCK_AUTO, 1700000000);
    }
    void TearDown() override {
        sy_setclock(SY_CLOCK_REAL);
        ps_hooks = {};
        ps_resetinidat();
    }
    static std::string composed() {
        iv_iniheaderwrite(true);
        return std::string(headerdaten, HD_LAENGE);
    }
};

TEST_F(Header, ValidityOfEveryPosition) {
    EXPECT_TRUE(hd_valid(kopfzeile));
    EXPECT_TRUE(hd_valid((std::string(kopfzeile) + rest).c_str()));
    EXPECT_TRUE(hd_valid("01 0az999999999-9999999931129-9599999\r\n")); // letters any case
    EXPECT_FALSE(hd_valid(nullptr));
    EXPECT_FALSE(hd_valid(""));
    EXPECT_FALSE(hd_valid("01 2AB000012345-0120004531101-500032")); // 36 characters
    EXPECT_FALSE(hd_valid("01 2AB000012345-0120004531101-500032\n0"));
    // Each position with a character of the wrong class.
    const std::string gut = kopfzeile;
    for (size_t i = 0; i < gut.size(); i++) {
        bool ziffer = i == 3 || (i >= 6 && i != 15 && i != 29);
        bool zeichen = i == 4 || i == 5;
        std::string z = gut;
        z[i] = ziffer || zeichen ? '-' : '7';
        EXPECT_FALSE(hd_valid(z.c_str())) << z;
        if (ziffer) {
            z[i] = 'x';
            EXPECT_FALSE(hd_valid(z.c_str())) << z;
        }
    }
    // The function position holds a digit or the 'A' of a line never written by a
    // connection program.
    EXPECT_TRUE(hd_valid("01 AAA000000000-0000000000000-0000000"));
    EXPECT_FALSE(hd_valid("01 BAA000000000-0000000000000-0000000"));
}

TEST_F(Header, ReadsEveryField) {
    hd_read((std::string(kopfzeile) + rest).c_str());
    EXPECT_TRUE(inidat.headergueltig);
    EXPECT_TRUE(inidat.headerset);
    EXPECT_EQ(inidat.funktion, 2); // a plainly named copy takes the function of the header
    EXPECT_EQ(inidat.header2, 'A');
    EXPECT_EQ(inidat.header3, 'B');
    EXPECT_EQ(inidat.headerv, 12345);
    EXPECT_EQ(inidat.headerx, 120);
    EXPECT_EQ(inidat.headery, 45);
    EXPECT_EQ(inidat.headerx_neu, 120);
    EXPECT_EQ(inidat.headery_neu, 45);
    EXPECT_EQ(inidat.headerday, 31);
    EXPECT_EQ(inidat.headermon, 10);
    EXPECT_EQ(inidat.headerfefo, 1);
    EXPECT_EQ(inidat.hinweisk, '5');
    EXPECT_EQ(inidat.headert, 321);
    EXPECT_EQ(inidat.headert_alt, 321);
    EXPECT_EQ(inidat.headervoffset, 999);

    ps_resetinidat();
    inidat.funktion = 3; // the program name gave a function: the header does not change it
    hd_read(kopfzeile);
    EXPECT_EQ(inidat.funktion, 3);
}

TEST_F(Header, DamagedFieldsReadAsZero) {
    struct {
        const char* zeile;
        long v, t;
        int x, y, day, mon, fefo;
        char h2, hk;
    } faelle[] = {
        // a letter in the volume, a blank in the time, no position digits
        {"01 0qb0000x1234-    000012032-5 00321", 0, 0, 0, 0, 12, 3, 2, 'Q', '5'},
        // a letter in y; day, month and form beyond their ranges; no hint digit
        {"01 0A-000000007-0100020x32999-X000009", 7, 9, 100, 0, 31, 12, 4, 'A', '0'},
        // a short line: the missing fields are 0
        {"01 0QQ000000042-01000200", 42, 0, 100, 200, 0, 0, 1, 'Q', '0'},
        {"01", 0, 0, 0, 0, 0, 0, 1, 'A', '0'},
    };
    for (auto& f : faelle) {
        ps_resetinidat();
        hd_read(f.zeile);
        EXPECT_EQ(inidat.headerv, f.v) << f.zeile;
        EXPECT_EQ(inidat.headert, f.t) << f.zeile;
        EXPECT_EQ(inidat.headerx, f.x) << f.zeile;
        EXPECT_EQ(inidat.headery, f.y) << f.zeile;
        EXPECT_EQ(inidat.headerday, f.day) << f.zeile;
        EXPECT_EQ(inidat.headermon, f.mon) << f.zeile;
        EXPECT_EQ(inidat.headerfefo, f.fefo) << f.zeile;
        EXPECT_EQ(inidat.header2, f.h2) << f.zeile;
        EXPECT_EQ(inidat.hinweisk, f.hk) << f.zeile;
        EXPECT_EQ(inidat.funktion, 0) << f.zeile;
        // Whatever was read composes to a complete header again.
        EXPECT_TRUE(hd_valid(composed().c_str())) << composed();
    }
}

TEST_F(Header, NewFileLineOfAPlainCopy) {
    inidat.hinweisk = '3';
    hd_new();
    EXPECT_TRUE(inidat.headergueltig);
    EXPECT_FALSE(inidat.headerset);
    fenster = true;
    fensterx = 250;
    fenstery = 80;
    fensterform = 2;
    EXPECT_EQ(composed(), "01 0AA000000000-0250008000002-3000000");
    EXPECT_STREQ(headerdaten + HD_LAENGE, "0000000000000000");
    EXPECT_EQ(strlen(headerdaten), 53u);
}

TEST_F(Header, CountersAtTheEndOfTheirFieldsStayThereAndAreLoggedOnce) {
    hd_new();
    inidat.funktion = 9;
    inidat.mod[(unsigned char)'P'] = 1;
    struct {
        long v, t;
        const char* kopf;
    } faelle[] = {
        {999999999, 599999, "01 9AA999999999-0000000000001-0599999"},
        {1000000000, 600000, "01 9AA999999999-0000000000001-0599999"}, // one more: held
        {5000000000, 9999999, "01 9AA999999999-0000000000001-0599999"},
        {12, 7, "01 9AA000000012-0000000000001-0000007"}, // a reset period: counts again
        {1000000001, 600001, "01 9AA999999999-0000000000001-0599999"}, // logged again
        {-4, -1, "01 9AA000000000-0000000000001-0000000"},             // no sense: 0
    };
    for (auto& f : faelle) {
        inidat.headerv = f.v;
        inidat.headert = f.t;
        EXPECT_EQ(composed(), f.kopf) << f.v;
    }
    EXPECT_EQ(inidat.headert, 0);
    std::string log = ts_readfile("servilog.txt");
    EXPECT_EQ(ts_count(log, "volume counter at the end of its field, kept at 999999999."), 2)
        << log;
    EXPECT_EQ(ts_count(log, "online time counter at the end of its field, kept at 599999."), 2);

    inidat.funktion = 12; // not a digit: written as 0
    fenster = true;
    fensterx = 12345;
    fenstery = 0;
    inidat.headerday = 45;
    inidat.headermon = 13;
    inidat.headerfefo = 7;
    EXPECT_EQ(composed(), "01 0AA000000000-9999000031124-0000000");
    inidat.headerx = inidat.headery = -5; // negative positions become 0
    fenster = false;
    inidat.header2 = '#';
    EXPECT_EQ(composed().substr(0, 28), "01 0AA000000000-000000003112");
}

class HeaderDatei : public Header {
  protected:
    void datei(const std::string& inhalt) { ts_writefile("tandor.ini", inhalt); }
    static std::string inhalt() { return ts_readfile("tandor.ini"); }
};

TEST_F(HeaderDatei, RewritesOnlyTheHeaderInPlace) {
    datei(kopfzeile + rest);
    hd_read(kopfzeile);
    inidat.funktion = 2;
    inidat.headert = 400;
    fenster = true;
    fensterx = 300;
    fenstery = 20;
    fensterform = 3;
    time_t vorher = sy_time();
    iv_iniheaderwrite(false);
    EXPECT_EQ(inhalt(), "01 2AB000012345-0300002031103-5000400" + rest);
    EXPECT_GE(sy_time() - vorher, 1); // waits a second after the write
    EXPECT_EQ(inidat.headert_alt, 400);
    EXPECT_EQ(inidat.headerfefo, 1); // the form read at start stays until the program end
    programmende_gewuenscht = true;
    iv_iniheaderwrite(false);
    EXPECT_EQ(inidat.headerfefo, 3);
}

TEST_F(HeaderDatei, FoldsWholeKilobytesAndRoundsTheRest) {
    datei(kopfzeile + rest);
    hd_read(kopfzeile);
    inidat.day = 1;
    inidat.headervoffset = 2600;
    iv_iniheaderwrite(false);
    EXPECT_EQ(inidat.headerv, 12347);
    EXPECT_EQ(inidat.headervoffset, 750);
    EXPECT_EQ(inhalt().substr(0, 16), "01 2AB000012347-");
}

TEST_F(HeaderDatei, NothingToWriteLeavesTheFileAlone) {
    datei(kopfzeile + rest);
    hd_read(kopfzeile);
    inidat.headert = 500;
    iv_iniheaderwrite(false); // day 0, dayt 0, window unchanged
    EXPECT_EQ(inhalt(), kopfzeile + rest);
    fenster = true;
    fensterx = -3; // no valid window position counts as unchanged
    fenstery = 10;
    iv_iniheaderwrite(false);
    EXPECT_EQ(inhalt(), kopfzeile + rest);
    inidat.dayt = 1; // the time counter is kept persistently: written
    iv_iniheaderwrite(false);
    EXPECT_EQ(inhalt().substr(31, 6), "000500");
}

TEST_F(HeaderDatei, RefusedWithoutValidHeaderFieldsOrFromOtherFunctions) {
    datei(kopfzeile + rest);
    inidat.dayt = 1;
    iv_iniheaderwrite(false); // not read yet
    EXPECT_EQ(inhalt(), kopfzeile + rest);
    hd_read(kopfzeile);
    inidat.headert = 777;
    for (int f : {FUNKTION_CONTROL, FUNKTION_CONFIG, FUNKTION_PROFILE, 81, FUNKTION_REMOVE}) {
        inidat.funktion = f;
        iv_iniheaderwrite(false);
        iv_iniheaderwrite(true);
        EXPECT_EQ(inhalt(), kopfzeile + rest) << f;
    }
    EXPECT_STREQ(headerdaten, "01 AAA000000000-0000000000000-00000000000000000000000");
}

TEST_F(HeaderDatei, NeverWritesOverAForeignOrDamagedLine) {
    const std::string faelle[] = {
        " 01 2AB000012345-0120004531101-5000321\n",  // hand-edited: starts with a blank
        "01 2AB000012345-0120004531101-500032\n1\n", // a line too short
        "01 2AB0000123x5-0120004531101-5000321\n",   // a letter in the volume
        "0\n",
        "",
    };
    for (const std::string& f : faelle) {
        datei(f);
        ps_resetinidat();
        hd_read(kopfzeile);
        inidat.dayt = 1;
        iv_iniheaderwrite(false);
        EXPECT_EQ(inhalt(), f);
    }
    unlink("tandor.ini");
    ps_resetinidat();
    hd_new();
    inidat.dayt = 1;
    iv_iniheaderwrite(false); // no file: nothing is created
    EXPECT_FALSE(access("tandor.ini", F_OK) == 0);
}

// A damaged line 01 read at start is replaced by a whole rewrite at the first header
// write, once; every write after it is an in-place one again.
TEST_F(HeaderDatei, DamagedLineReadAtStartIsRewrittenWholeOnce) {
    const std::string faelle[] = {
        "01 2AB0000123x5-0120004531101-5000321", // a letter in the volume
        "01 2AB000012345-0120004531101-500032",  // one character short
        "01",
        "0",
        "01 2AB000012345 0120004531101 5000321 and more", // blanks for the dashes
    };
    inidat.mod[(unsigned char)'P'] = 1;
    for (const std::string& d : faelle) {
        unlink("servilog.txt");
        datei(d + "\n02 COM=x\n");
        ps_resetinidat();
        inidat.mod[(unsigned char)'P'] = 1;
        hd_read(d.c_str());
        EXPECT_TRUE(hd_ganzausstehend()) << d;
        inidat.funktion = 9;
        inidat.dayt = 1;
        inidat.headert = 250;
        iv_iniheaderwrite(false);
        std::string k = inhalt();
        EXPECT_TRUE(hd_valid(k.c_str())) << d << " -> " << k.substr(0, 60);
        EXPECT_EQ(k.substr(31, 6), "000250") << d;
        EXPECT_FALSE(hd_ganzausstehend());
        EXPECT_FALSE(hd_ausstehend());
        EXPECT_EQ(inidat.headert_alt, 250);
        // From now on in place, without another whole rewrite.
        struct stat a, b;
        ASSERT_EQ(stat("tandor.ini", &a), 0);
        inidat.headert = 260;
        iv_iniheaderwrite(false);
        ASSERT_EQ(stat("tandor.ini", &b), 0);
        EXPECT_EQ(a.st_ino, b.st_ino) << d;
        EXPECT_EQ(inhalt().substr(31, 6), "000260");
        std::string log = ts_readfile("servilog.txt");
        EXPECT_EQ(ts_count(log, "line 01 was no complete header; the file has been written whole."),
                  1)
            << d;
    }
}

TEST_F(HeaderDatei, DamagedLineIsNoLicenceToOverwriteAnotherFile) {
    // Read damaged, but the file now starts with another line (replaced meanwhile).
    hd_read("01 2AB0000123x5-0120004531101-5000321");
    const std::string fremd = "01 2AB0000999x5-0120004531101-5000321\nAPN=anders\n";
    datei(fremd);
    inidat.funktion = 9;
    inidat.dayt = 1;
    inidat.headert = 5;
    iv_iniheaderwrite(false);
    EXPECT_EQ(inhalt(), fremd);
    EXPECT_TRUE(hd_ganzausstehend());
    EXPECT_TRUE(hd_ausstehend());
    // A valid line read afterwards (a restart) clears the pending whole write.
    hd_read(kopfzeile);
    EXPECT_FALSE(hd_ganzausstehend());
}

TEST_F(Header, ConfigurationProgramCarriesTheFileHeader) {
    inidat.hinweisk = 0; // no hint digit: the file's one stays
    hd_confighead((std::string(kopfzeile) + rest).c_str());
    EXPECT_STREQ(headerdaten, (std::string(kopfzeile) + "0000000000000000").c_str());
    inidat.hinweisk = '7';
    hd_confighead("01 2AB000012345-0120004531101-5000321ABCDEFGHIJKLMNOPQRS\r\n");
    EXPECT_STREQ(headerdaten, "01 2AB000012345-0120004531101-70003210000000000000000");
    hd_confighead("01 5");
    EXPECT_STREQ(headerdaten, "01 5AA000000000-0000000000000-70000000000000000000000");
    inidat.hinweisk = 0;
    hd_confighead("");
    EXPECT_STREQ(headerdaten, "01 AAA000000000-0000000000000-00000000000000000000000");
    // Damaged fields are put right as the reader would take them.
    hd_confighead("xx 2A-0000x2345+0120004531101-5000321");
    EXPECT_STREQ(headerdaten, "01 2AA000000000-0120004531101-50003210000000000000000");
    EXPECT_TRUE(hd_valid(headerdaten));
}

TEST_F(Header, ManualResetsClearTheirCountersAndAreLogged) {
    inidat.hinweisk = '5';
    configkbvreset = 2;
    hd_confighead(kopfzeile);
    EXPECT_STREQ(headerdaten, "01 2AB000000000-0120004531101-50003210000000000000000");
    configkbvreset = 1;
    configtreset = 2;
    _de = true;
    hd_confighead(kopfzeile);
    EXPECT_STREQ(headerdaten, "01 2AB000012345-0120004531101-50000000000000000000000");
    auto zeilen = ts_readlines("connlog.txt");
    ASSERT_EQ(zeilen.size(), 2u);
    EXPECT_NE(zeilen[0].find(" Data volume counter has been reset manually."), std::string::npos);
    EXPECT_NE(zeilen[1].find(" Onlinezeit-Z\xC3\xA4hler manuell zur\xC3\xBC"
                             "ckgesetzt."),
              std::string::npos);
}

} // namespace
