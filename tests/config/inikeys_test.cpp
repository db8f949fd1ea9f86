// The ini keys: each line read into the configuration record, the record written in the
// numbered layout, and configurations that survive a write and a read unchanged.
#include "config/inikeys.h"
#include "config/obfuscation.h"
#include "core/programstate.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class IniKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string dir = ts_scratchdir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
        setenv("TZ", "UTC", 1);
        setlocale(LC_ALL, "C");
        ps_resetinidat();
        _de = false;
    }
};

ik_lesen_t lies(const std::vector<std::string>& zeilen, ik_lesen_t st = {}) {
    for (const std::string& z : zeilen) {
        std::vector<char> b(z.begin(), z.end());
        b.push_back(0);
        ik_line(b.data(), &st);
    }
    return st;
}

std::string schreib() {
    char* buf = nullptr;
    size_t n = 0;
    FILE* f = open_memstream(&buf, &n);
    EXPECT_TRUE(ik_write(f));
    fclose(f);
    std::string s(buf, n);
    free(buf);
    return s;
}

// The written line with the given number, without its number and the LF.
std::string zeile(const std::string& datei, const char* nr) {
    std::string such = std::string("\n") + nr + " ";
    size_t p = datei.find(such);
    if (p == std::string::npos) return "<none>";
    p += such.size();
    return datei.substr(p, datei.find('\n', p) - p);
}

std::string obf(const std::string& klar) {
    std::vector<char> b(7 + 2 * klar.size());
    ob_obfuscate(klar.c_str(), b.data(), b.size());
    return b.data();
}

struct Fall {
    std::vector<std::string> zeilen;
    std::function<void(const ik_lesen_t&)> pruefe;
};

void pruefealle(const std::vector<Fall>& faelle) {
    for (const Fall& f : faelle) {
        ps_resetinidat();
        _de = false;
        ik_lesen_t st = lies(f.zeilen);
        SCOPED_TRACE(f.zeilen.back());
        f.pruefe(st);
    }
}

TEST_F(IniKeys, LineSyntaxNumbersCommentsAndKeyMatching) {
    std::string cr = "08 COM=/dev/ttyUSB2\r\n";
    pruefealle({
        {{"COM=/dev/a"},
         [](auto& st) {
             EXPECT_STREQ(inidat.comport, "/dev/a");
             EXPECT_FALSE(st.neu);
         }},
        {{"43 rem=klein"}, [](auto&) { EXPECT_STREQ(inidat.rem, "klein"); }},
        {{"08 com =  /dev/b"}, [](auto&) { EXPECT_STREQ(inidat.comport, "/dev/b"); }},
        {{"08 COM /dev/c"}, [](auto&) { EXPECT_STREQ(inidat.comport, ""); }},
        {{"08 COMPORT=/dev/c"}, [](auto&) { EXPECT_STREQ(inidat.comport, ""); }},
        {{"* COM=/x", "(COM=/x)", "12 * COM=/x", "12 (COM=/x"},
         [](auto&) { EXPECT_STREQ(inidat.comport, ""); }},
        {{cr}, [](auto&) { EXPECT_STREQ(inidat.comport, "/dev/ttyUSB2"); }},
        {{"08 COM=/dev/d \t \n"}, [](auto&) { EXPECT_STREQ(inidat.comport, "/dev/d"); }},
        {{"05 tandor 0.5"}, [](auto& st) { EXPECT_FALSE(st.neu); }},
        {{"05 tandor 0.4"}, [](auto& st) { EXPECT_TRUE(st.neu); }},
        {{"04 --> PIN eingeben"},
         [](auto& st) {
             EXPECT_TRUE(st.neu);
             EXPECT_STREQ(inidat.hinweis, "");
         }},
        {{"INIWRITE"},
         [](auto& st) {
             EXPECT_TRUE(st.neu);
             EXPECT_FALSE(st.writeexit);
         }},
        {{"iniwriteexit"},
         [](auto& st) {
             EXPECT_TRUE(st.neu);
             EXPECT_TRUE(st.writeexit);
         }},
        {{"XYZ=1", "USSD=*1#", "CMD=x"}, [](auto& st) { EXPECT_FALSE(st.neu); }},
        // Longer keys win over the shorter ones they start with.
        {{"DEVI=AT+X", "DEV=3", "PING=1.2.3.4", "MAX=2G"},
         [](auto&) {
             EXPECT_STREQ(inidat.devi, "AT+X");
             EXPECT_EQ(inidat.mangeraet, 3);
             EXPECT_STREQ(inidat.ping, "1.2.3.4");
             EXPECT_STREQ(inidat.pin, "");
             EXPECT_EQ(inidat.max[0], 2000000);
         }},
        {{"servilog"},
         [](auto& st) {
             EXPECT_EQ(MODUS('P'), 1);
             EXPECT_TRUE(st.neu);
         }},
        {{"SERVICELOG", "MOD=X"},
         [](auto&) {
             EXPECT_EQ(MODUS('P'), 0);
             EXPECT_EQ(MODUS('X'), 1);
         }},
    });
}

TEST_F(IniKeys, TextValuesThatDoNotFitAreIgnored) {
    std::string s299(299, 'a'), s300(300, 'a');
    pruefealle({
        {{"COM=" + s299}, [&](auto&) { EXPECT_EQ(inidat.comport, s299); }},
        {{"COM=" + s300, "APN=" + s300, "PPC=" + s300, "PING=" + s300, "CMD2=" + s300},
         [](auto&) {
             EXPECT_STREQ(inidat.comport, "");
             EXPECT_STREQ(inidat.apn, "");
             EXPECT_STREQ(inidat.ppc, "*104*<INPUT>#");
             EXPECT_STREQ(inidat.ping, "");
             EXPECT_STREQ(inidat.cmd[1], "");
         }},
        {{"NET=" + std::string(499, 'n')}, [](auto&) { EXPECT_EQ(strlen(inidat.net), 499u); }},
        {{"NET=" + std::string(500, 'n')}, [](auto&) { EXPECT_STREQ(inidat.net, ""); }},
        {{"PPQ=" + std::string(100, '1')}, [](auto&) { EXPECT_STREQ(inidat.ppq, "*100#"); }},
        {{"DEVI=" + std::string(603, 'd')}, [](auto&) { EXPECT_EQ(strlen(inidat.devi), 603u); }},
        {{"DEVI=" + std::string(604, 'd')}, [](auto&) { EXPECT_STREQ(inidat.devi, ""); }},
        {{"HOMU=HTTP://example.org/hz"},
         [](auto& st) {
             EXPECT_STREQ(inidat.homu, "example.org/hz");
             EXPECT_TRUE(st.neu);
         }},
        // Commands keep their quotes: an argument in single quotes stays literal.
        {{"CMD1=notify 'a $(b)'"}, [](auto&) { EXPECT_STREQ(inidat.cmd[0], "notify 'a $(b)'"); }},
        // A long comment is cut before a whole character, not inside it.
        {{"REM=" +
          [] {
              std::string r;
              for (int i = 0; i < 200; i++)
                  r += "\xC3\xA4";
              return r;
          }()},
         [](auto&) {
             EXPECT_EQ(strlen(inidat.rem), 298u);
             EXPECT_EQ((unsigned char)inidat.rem[296], 0xC3);
         }},
    });
}

TEST_F(IniKeys, PinIsReadObfuscatedOrClearAndWrittenObfuscated) {
    pruefealle({
        {{"11 pin=1234"},
         [](auto& st) {
             EXPECT_STREQ(inidat.pin, "1234");
             EXPECT_TRUE(st.neu);
         }},
        {{"PIN=" + obf("1234")},
         [](auto& st) {
             EXPECT_STREQ(inidat.pin, "1234");
             EXPECT_FALSE(st.neu);
         }},
        {{"PIN=1234", "PIN=none"},
         [](auto& st) {
             EXPECT_STREQ(inidat.pin, "");
             EXPECT_TRUE(st.neu);
         }},
        {{"PIN="},
         [](auto& st) {
             EXPECT_STREQ(inidat.pin, "");
             EXPECT_FALSE(st.neu);
         }},
        {{"MOD=K", "PIN=1234"}, [](auto&) { EXPECT_STREQ(inidat.pin, ""); }},
        {{"PIN=" + obf(std::string(299, '7'))}, [](auto&) { EXPECT_EQ(strlen(inidat.pin), 299u); }},
        {{"PIN=" + obf(std::string(300, '7')), "PIN=" + std::string(300, '7')},
         [](auto&) { EXPECT_STREQ(inidat.pin, ""); }},
    });
    ps_resetinidat();
    ik_lesen_t st = lies({"PIN=1234"});
    EXPECT_TRUE(st.neu);
    std::string d = schreib();
    EXPECT_EQ(zeile(d, "11"), "PIN=" + obf("1234"));
    // Switch K: a PIN read before the switch is dropped at the end and not written.
    st = lies({"PIN=" + obf("1234"), "MOD=K"});
    ik_finish(&st);
    EXPECT_STREQ(inidat.pin, "");
    EXPECT_TRUE(st.neu);
    strcpy(inidat.pin, "1234");
    EXPECT_EQ(zeile(schreib(), "11"), "PIN=");
}

TEST_F(IniKeys, PassHoldsNameAndPasswordObfuscatedTogether) {
    std::string n299(299, 'n'), p299(299, 'p');
    pruefealle({
        {{"PASS=user;geheim"},
         [](auto& st) {
             EXPECT_STREQ(inidat.conname, "user");
             EXPECT_STREQ(inidat.conpass, "geheim");
             EXPECT_TRUE(st.neu);
         }},
        {{"PASS=" + obf("user;ge;heim")},
         [](auto& st) {
             EXPECT_STREQ(inidat.conname, "user");
             EXPECT_STREQ(inidat.conpass, "ge;heim");
             EXPECT_FALSE(st.neu);
         }},
        // The older layout: obfuscated name, then the password in clear.
        {{"PASS=" + obf("user") + ";geheim"},
         [](auto& st) {
             EXPECT_STREQ(inidat.conname, "user");
             EXPECT_STREQ(inidat.conpass, "geheim");
             EXPECT_TRUE(st.neu);
         }},
        {{"PASS=" + obf(n299 + ";" + p299)},
         [&](auto&) {
             EXPECT_EQ(inidat.conname, n299);
             EXPECT_EQ(inidat.conpass, p299);
         }},
        {{"PASS=" + obf(n299 + "n;x")}, [](auto&) { EXPECT_STREQ(inidat.conname, ""); }},
    });
    ps_resetinidat();
    strcpy(inidat.conname, "user");
    strcpy(inidat.conpass, "geheim");
    std::string z = zeile(schreib(), "18");
    EXPECT_EQ(z, "PASS=" + obf("user;geheim"));
    EXPECT_EQ(z.find(';'), std::string::npos);
    // The obfuscation alphabet has no ';', which tells the older layout apart.
    std::string alle;
    for (int c = 1; c < 256; c++)
        alle += (char)c;
    EXPECT_EQ(obf(alle).find(';'), std::string::npos);
}

TEST_F(IniKeys, LanguageAndConnectionForms) {
    pruefealle({
        {{"07 LAN=English"},
         [](auto& st) {
             EXPECT_FALSE(_de);
             EXPECT_TRUE(st.neu);
         }},
        {{"07 LAN=Deutsch\t"},
         [](auto& st) {
             EXPECT_TRUE(_de);
             EXPECT_FALSE(st.neu);
         }},
        {{"lan=german\t"},
         [](auto& st) {
             EXPECT_TRUE(_de);
             EXPECT_FALSE(st.neu);
         }},
        {{"CONA=se"},
         [](auto&) {
             EXPECT_TRUE(inidat.constart);
             EXPECT_TRUE(inidat.conende);
         }},
        {{"CONA=E"},
         [](auto&) {
             EXPECT_FALSE(inidat.constart);
             EXPECT_TRUE(inidat.conende);
         }},
        {{"CONA=", "CON=/dev/ttyUSB0"},
         [](auto&) {
             EXPECT_FALSE(inidat.constart);
             EXPECT_FALSE(inidat.conende);
             EXPECT_STREQ(inidat.con, "/dev/ttyUSB0");
             EXPECT_EQ(inidat.conad, 2);
         }},
        {{"CON=;/dev/ttyUSB0,/dev/ttyUSB1;"},
         [](auto&) {
             EXPECT_FALSE(inidat.constart);
             EXPECT_FALSE(inidat.conende);
             EXPECT_STREQ(inidat.conport, "/dev/ttyUSB0,/dev/ttyUSB1");
         }},
        {{"CON=x", "CON=Internet"}, [](auto&) { EXPECT_STREQ(inidat.conport, ""); }},
        {{"CON=x", "CON=" + std::string(299, 'p')}, [](auto&) { EXPECT_STREQ(inidat.con, ""); }},
        {{"CON=x", "CON=|"},
         [](auto&) {
             EXPECT_STREQ(inidat.conport, "x");
             EXPECT_EQ(inidat.conad, 1);
         }},
        {{"CON=x", "CON=|Internet"}, [](auto&) { EXPECT_STREQ(inidat.con, "x"); }},
        {{"CON=,"},
         [](auto&) {
             EXPECT_STREQ(inidat.conport, "");
             EXPECT_EQ(inidat.conad, 3);
         }},
        {{"CON=,ppp0"},
         [](auto&) {
             EXPECT_STREQ(inidat.con, "ppp0");
             EXPECT_EQ(inidat.conad, 4);
         }},
        {{"CON=|ppp0"},
         [](auto&) {
             EXPECT_STREQ(inidat.con, "ppp0");
             EXPECT_EQ(inidat.conad, 2);
         }},
    });
    // Older files without CONA=: CON= switches both automatic modes on.
    ps_resetinidat();
    inidat.constart = inidat.conende = false;
    lies({"CON=/dev/ttyUSB0"});
    EXPECT_TRUE(inidat.constart);
    EXPECT_TRUE(inidat.conende);
}

TEST_F(IniKeys, PeriodsRoundingsAndThresholds) {
    pruefealle({
        {{"DAY=15"},
         [](auto&) {
             EXPECT_EQ(inidat.day, 15);
             EXPECT_EQ(inidat.dayt, 0);
         }},
        {{"DAY=15 ; 01"},
         [](auto&) {
             EXPECT_EQ(inidat.day, 15);
             EXPECT_EQ(inidat.dayt, 1);
         }},
        {{"DAY=;05"},
         [](auto&) {
             EXPECT_EQ(inidat.day, 0);
             EXPECT_EQ(inidat.dayt, 5);
         }},
        {{"RND=7", "DAY=p 15"},
         [](auto&) {
             EXPECT_EQ(inidat.round, 1);
             EXPECT_EQ(inidat.day, 15);
         }},
        {{"DAY=15;500"},
         [](auto&) {
             EXPECT_EQ(inidat.round, 500);
             EXPECT_EQ(inidat.dayt, 0);
         }},
        // A present RND= line sets both roundings; a missing number is 0.
        {{"RND="},
         [](auto&) {
             EXPECT_EQ(inidat.round, 0);
             EXPECT_EQ(inidat.roundt, 0);
         }},
        {{"RND=5"},
         [](auto&) {
             EXPECT_EQ(inidat.round, 5);
             EXPECT_EQ(inidat.roundt, 0);
         }},
        {{"RND=100 ; 5"},
         [](auto&) {
             EXPECT_EQ(inidat.round, 100);
             EXPECT_EQ(inidat.roundt, 5);
         }},
        {{"RND=;3"},
         [](auto&) {
             EXPECT_EQ(inidat.round, 0);
             EXPECT_EQ(inidat.roundt, 3);
         }},
        {{"MAXV=1,5G"},
         [](auto& st) {
             EXPECT_EQ(inidat.max[0], 1);
             EXPECT_TRUE(st.neu);
         }},
        {{"MAXV=500M;1G;2G;3G"},
         [](auto& st) {
             EXPECT_EQ(inidat.max[0], 500000);
             EXPECT_EQ(inidat.max[1], 1000000);
             EXPECT_EQ(inidat.max[2], 2000000);
             EXPECT_TRUE(st.neu);
         }},
        {{"MAXV=0;1500k;2m"},
         [](auto& st) {
             EXPECT_EQ(inidat.max[1], 1500);
             EXPECT_EQ(inidat.max[2], 2000);
             EXPECT_FALSE(st.neu);
         }},
        {{"MAXV=99999999999999999999999G;9G9G9G9G9G"},
         [](auto&) {
             EXPECT_EQ(inidat.max[0], LONG_MAX);
             EXPECT_EQ(inidat.max[1], LONG_MAX);
         }},
        {{"MAXT=90;2h;1d"},
         [](auto&) {
             EXPECT_EQ(inidat.maxt[0], 90);
             EXPECT_EQ(inidat.maxt[1], 120);
             EXPECT_EQ(inidat.maxt[2], 1440);
         }},
        // Minutes read back as minutes: the m of "min" is no unit, neither is M or G.
        {{"MAXT=90min;2M;1G"},
         [](auto&) {
             EXPECT_EQ(inidat.maxt[0], 90);
             EXPECT_EQ(inidat.maxt[1], 2);
             EXPECT_EQ(inidat.maxt[2], 1);
         }},
    });
    ps_resetinidat();
    lies({"DAY=33;40", "RND=", "MAXT=90;2h;1d", "MAXV=1500;2000;3000000"});
    std::string d = schreib();
    EXPECT_EQ(zeile(d, "19"), "DAY=99;99");
    EXPECT_EQ(zeile(d, "20"), "RND=");
    EXPECT_EQ(zeile(d, "21"), "MAXV=1500k;2M;3G");
    EXPECT_EQ(zeile(d, "22"), "MAXT=90min;2h;1d");
    inidat.round = 5;
    EXPECT_EQ(zeile(schreib(), "20"), "RND=5");
    inidat.round = 0;
    inidat.roundt = 3;
    EXPECT_EQ(zeile(schreib(), "20"), "RND=;3");
}

TEST_F(IniKeys, ErrorTolerances) {
    ik_lesen_t st = lies({"ERR=NOC0 FRZ15 CRC50 TME10 ALG10 FRM10 BUF10 L4"});
    ik_finish(&st);
    EXPECT_EQ(st.errnamen, 8);
    EXPECT_FALSE(st.neu);

    ps_resetinidat();
    st = lies({"ERR=noc5  l9"});
    EXPECT_FALSE(st.neu);
    ik_finish(&st);
    EXPECT_TRUE(st.neu);
    EXPECT_EQ(inidat.err[ERR_NOC], 5);
    EXPECT_EQ(inidat.err[ERR_L], 9);
    EXPECT_EQ(inidat.err[ERR_CRC], 50);

    ps_resetinidat();
    st = lies({"ERR=NOC FRZ20 X L1234 BUF7TME8"});
    EXPECT_TRUE(st.neu);
    EXPECT_EQ(inidat.err[ERR_NOC], 0);
    EXPECT_EQ(inidat.err[ERR_FRZ], 20);
    EXPECT_EQ(inidat.err[ERR_L], 123);
    EXPECT_EQ(inidat.err[ERR_BUF], 7);
    EXPECT_EQ(inidat.err[ERR_TME], 8);
    EXPECT_EQ(st.errnamen, 4);

    // A file without ERR= is completed by a rewrite.
    ps_resetinidat();
    st = lies({"COM=/dev/x"});
    ik_finish(&st);
    EXPECT_TRUE(st.neu);
}

TEST_F(IniKeys, DelaysEndTimesAndCountdown) {
    pruefealle({
        {{"SDLY=30"},
         [](auto&) {
             EXPECT_EQ(inidat.startdelay, 30u);
             EXPECT_EQ(inidat.resumedelay, 0u);
         }},
        {{"SDLY=30 ; 10"}, [](auto&) { EXPECT_EQ(inidat.resumedelay, 10u); }},
        {{"ENDC=22:00;06:30E"},
         [](auto& st) {
             EXPECT_EQ(inidat.enduhrzeit1, 1320);
             EXPECT_EQ(inidat.enduhrzeit2, 390);
             EXPECT_TRUE(inidat.enduhrzeite);
             EXPECT_FALSE(st.neu);
         }},
        {{"ENDC=25:00;06:00"},
         [](auto& st) {
             EXPECT_EQ(inidat.enduhrzeit1, 1439);
             EXPECT_EQ(inidat.enduhrzeit2, 360);
             EXPECT_TRUE(st.neu);
         }},
        {{"ENDC=22.00;6.00e"},
         [](auto&) {
             EXPECT_EQ(inidat.enduhrzeit2, 360);
             EXPECT_TRUE(inidat.enduhrzeite);
         }},
        {{"ENDC=22:00;06:00E", "ENDC=2200;0600"},
         [](auto&) {
             EXPECT_EQ(inidat.enduhrzeit1, -1);
             EXPECT_EQ(inidat.enduhrzeit2, -1);
             EXPECT_FALSE(inidat.enduhrzeite);
         }},
        {{"ENDC=x22:00;06:00"}, [](auto&) { EXPECT_EQ(inidat.enduhrzeit1, -1); }},
        {{"ENDM=5"}, [](auto&) { EXPECT_EQ(inidat.endm, 0); }},
        {{"ENDM=2"}, [](auto&) { EXPECT_EQ(inidat.endm, 2); }},
        {{"END=120CSR"},
         [](auto&) {
             EXPECT_EQ(inidat.end, 120u);
             EXPECT_TRUE(inidat.endverb);
             EXPECT_EQ(inidat.endshutdown, 2);
         }},
        {{"END=RS"}, [](auto&) { EXPECT_EQ(inidat.endshutdown, 2); }},
        {{"END=5s"}, [](auto&) { EXPECT_EQ(inidat.endshutdown, 1); }},
    });
    ps_resetinidat();
    lies({"SDLY=5;7", "END=30;60tfz", "ENDC=22:00;06:30E"});
    EXPECT_EQ(inidat.startdelay, 30u);
    EXPECT_EQ(inidat.end, 60u);
    EXPECT_TRUE(inidat.endhightraffic && inidat.endforce && inidat.endstandby);
    EXPECT_FALSE(inidat.endverb);
    std::string d = schreib();
    EXPECT_EQ(zeile(d, "28"), "SDLY=30;7");
    EXPECT_EQ(zeile(d, "30"), "ENDC=22:00;06:30E");
    EXPECT_EQ(zeile(d, "31"), "END=60TFZ");
    inidat.enduhrzeit2 = -1;
    EXPECT_EQ(zeile(schreib(), "30"), "ENDC=");
}

TEST_F(IniKeys, RemoteControlEntries) {
    pruefealle({
        {{"SMS1=,+49171234"},
         [](auto&) {
             EXPECT_EQ(inidat.sms[0], 2);
             EXPECT_STREQ(inidat.smsnr[0], "+49171234");
             EXPECT_TRUE(inidat.smsring);
             EXPECT_EQ(MODUS('M'), 0);
         }},
        {{"SMS2=+49171234;start"},
         [](auto&) {
             EXPECT_EQ(inidat.sms[1], 1);
             EXPECT_STREQ(inidat.smsnr[1], "+49171234");
             EXPECT_STREQ(inidat.smskey[1], "START");
             EXPECT_EQ(MODUS('M'), 1);
         }},
        // An empty entry is unused and switches nothing on.
        {{"SMS3=+4917;stop", "MOD=", "SMS3="},
         [](auto&) {
             EXPECT_EQ(inidat.sms[2], 0);
             EXPECT_STREQ(inidat.smskey[2], "");
             EXPECT_EQ(MODUS('M'), 0);
         }},
        // A number that does not fit is not cut into another number.
        {{"SMS1=" + std::string(30, '1') + ";START"},
         [](auto&) {
             EXPECT_EQ(inidat.sms[0], 0);
             EXPECT_STREQ(inidat.smsnr[0], "");
         }},
        {{"SMSC=491720000000"}, [](auto&) { EXPECT_STREQ(inidat.smsc, "(format error)"); }},
        {{"LAN=Deutsch\t", "SMSC=0172"},
         [](auto&) { EXPECT_STREQ(inidat.smsc, "(Formatfehler)"); }},
        {{"SMSC=+491720000000"}, [](auto&) { EXPECT_STREQ(inidat.smsc, "+491720000000"); }},
        {{"SMSC=+" + std::string(29, '1')},
         [](auto&) { EXPECT_STREQ(inidat.smsc, "(format error)"); }},
    });
    ps_resetinidat();
    lies({"SMS1=,+49171234", "SMS2=+49171234;start"});
    std::string d = schreib();
    EXPECT_EQ(zeile(d, "35"), "SMS1=,+49171234");
    EXPECT_EQ(zeile(d, "36"), "SMS2=+49171234;START");
    EXPECT_EQ(zeile(d, "37"), "SMS3=");
    // Writing recomputes whether an entry waits for calls.
    inidat.sms[0] = 0;
    schreib();
    EXPECT_FALSE(inidat.smsring);
}

TEST_F(IniKeys, NumbersInRangeAndSwitches) {
    pruefealle({
        {{"ICON=9"}, [](auto&) { EXPECT_EQ(inidat.icon, 1); }},
        {{"ICON=4"}, [](auto&) { EXPECT_EQ(inidat.icon, 4); }},
        {{"DEV=150"}, [](auto&) { EXPECT_EQ(inidat.mangeraet, 0); }},
        {{"DEV=12"}, [](auto&) { EXPECT_EQ(inidat.mangeraet, 12); }},
        {{"DEV=-3"}, [](auto&) { EXPECT_EQ(inidat.mangeraet, 0); }},
        {{"IPC=777"}, [](auto&) { EXPECT_EQ(inidat.ipcmod, 511); }},
        {{"IPC=77777777"}, [](auto&) { EXPECT_EQ(inidat.ipcmod, 2047); }},
        {{"BATT=10;30"},
         [](auto& st) {
             EXPECT_EQ(inidat.batt1, 30);
             EXPECT_EQ(inidat.batt2, 10);
             EXPECT_TRUE(st.neu);
         }},
        {{"BATT=150;20"},
         [](auto& st) {
             EXPECT_EQ(inidat.batt1, 100);
             EXPECT_TRUE(st.neu);
         }},
        {{"BATT=%30;x10"},
         [](auto& st) {
             EXPECT_EQ(inidat.batt1, 30);
             EXPECT_EQ(inidat.batt2, 10);
             EXPECT_FALSE(st.neu);
         }},
        // Only ASCII letters and digits are switches.
        {{"MOD=PX8\xE4-;\xFFk"},
         [](auto&) {
             int gesetzt = 0;
             for (int c = 0; c < 256; c++)
                 gesetzt += inidat.mod[c];
             EXPECT_EQ(gesetzt, 4);
             EXPECT_EQ(MODUS('P') + MODUS('X') + MODUS('8') + MODUS('k'), 4);
         }},
    });
    ps_resetinidat();
    lies({"IPC=777", "DEV=7", "MOD=zXA1"});
    std::string d = schreib();
    EXPECT_EQ(zeile(d, "39"), "IPC=0777");
    EXPECT_EQ(zeile(d, "09"), "DEV=7");
    EXPECT_EQ(zeile(d, "42"), "MOD=1AXz");
    inidat.mod['$'] = 1; // not a switch the reader would take back
    EXPECT_EQ(zeile(schreib(), "42"), "MOD=1AXz");
}

TEST_F(IniKeys, WrittenLayoutOfTheDefaults) {
    std::string d = schreib();
    const char* soll = "02 (Please do not change line 01.)\n03\n04\n05 tandor 0.5\n06\n"
                       "07 LAN=English\t\n08 COM=\n09 DEV=\n10 DEVI=\n11 PIN=\n12 NET=\n"
                       "13 APN=\n14 PPQ=*100#\n15 PPC=*104*<INPUT>#\n16 CONA=SE\n17 CON=\n"
                       "18 PASS=\n19 DAY=\n20 RND=1;1\n21 MAXV=0;0;0\n22 MAXT=0;0;0\n23 HOMU=\n"
                       "24 HOMI=\n25 HOMO=\n26 ERR=NOC0 FRZ15 CRC50 TME10 ALG10 FRM10 BUF10 L4\n"
                       "27 PING=\n28 SDLY=0\n29 ENDM=0\n30 ENDC=\n31 END=0\n32 CMD1=\n33 CMD2=\n"
                       "34 CMD3=\n35 SMS1=\n36 SMS2=\n37 SMS3=\n38 SMSC=\n39 IPC=\n40 ICON=1\n"
                       "41 BATT=0;0\n42 MOD=\n43 REM=\n\n\n";
    ASSERT_EQ(d.substr(0, strlen(soll)), soll);

    // The description: banner, pointer to the other language, own text; two empty lines;
    // banner and the other text. Every line is a comment for the reader.
    std::string b = d.substr(strlen(soll));
    std::string stern(53, '*');
    std::string banner = stern + "\n*                     tandor                        *\n*" +
                         std::string(51, ' ') + "*\n";
    EXPECT_EQ(b.find(banner + "*     -> Deutsche Beschreibung siehe unten. <-      *\n"), 0u);
    size_t zweite = b.find("\n\n\n" + banner);
    ASSERT_NE(zweite, std::string::npos);
    EXPECT_LT(b.find("Description of the settings"), zweite);
    EXPECT_GT(b.find("Beschreibung der Einstellungen"), zweite);
    EXPECT_EQ(b.find("==DATUM==="), std::string::npos);
    EXPECT_NE(b.find("19.10.2012", b.find("19.10.2012") + 1), std::string::npos);
    EXPECT_EQ(b.back(), '\n');
    std::vector<std::string> zeilen;
    for (size_t p = 0, q; p < b.size(); p = q + 1) {
        q = b.find('\n', p);
        std::string z = b.substr(p, q - p);
        EXPECT_TRUE(z.empty() || z[0] == '*') << z;
        zeilen.push_back(z);
    }
    inidat_t vorher;
    memcpy(&vorher, &inidat, sizeof inidat);
    ik_lesen_t st = lies(zeilen);
    EXPECT_FALSE(st.neu);
    EXPECT_EQ(memcmp(&vorher, &inidat, sizeof inidat), 0);

    _de = true;
    d = schreib();
    std::string kopf = "02 (Die Zeile 01 bitte nicht ver\xC3\xA4ndern.)\n03\n04\n";
    EXPECT_EQ(d.substr(0, kopf.size()), kopf);
    EXPECT_EQ(zeile(d, "07"), "LAN=Deutsch\t");
    b = d.substr(d.find("\n43 REM=\n\n\n") + 11);
    EXPECT_EQ(b.find(banner + "*       -> English description see below. <-        *\n"), 0u);
    EXPECT_LT(b.find("Beschreibung der Einstellungen"), b.find("Description of the settings"));
}

TEST_F(IniKeys, WrittenValuesStayOnTheirLine) {
    strcpy(inidat.hinweis, "PIN eingeben");
    strcpy(inidat.comport, "/dev/x\nPIN=1\r");
    std::string d = schreib();
    EXPECT_EQ(zeile(d, "04"), "--> PIN eingeben");
    EXPECT_EQ(zeile(d, "08"), "COM=/dev/x PIN=1 ");
    EXPECT_EQ(d.find("\nPIN=1"), std::string::npos);
}

// ---- Round trip ----

// Written after a header line and read back as the ini reader does: 1180-byte lines.
bool rundlauf(std::string& datei, ik_lesen_t& st) {
    char* buf = nullptr;
    size_t n = 0;
    FILE* f = open_memstream(&buf, &n);
    fputs("0 Kopfzeile\n", f);
    bool ok = ik_write(f);
    fclose(f);
    datei.assign(buf, n);
    free(buf);
    bool deutsch = _de;
    ps_resetinidat();
    _de = !deutsch;
    st = {};
    FILE* r = fmemopen(datei.data(), datei.size(), "r");
    char zeile[1180];
    bool erste = true;
    while (fgets(zeile, sizeof zeile, r)) {
        EXPECT_NE(strchr(zeile, '\n'), nullptr) << "line longer than the reader's buffer";
        if (!erste) ik_line(zeile, &st);
        erste = false;
    }
    fclose(r);
    ik_finish(&st);
    return ok;
}

#define GLEICH_S(feld) EXPECT_STREQ(a.feld, b.feld) << #feld
#define GLEICH(feld) EXPECT_EQ(a.feld, b.feld) << #feld

void vergleiche(const inidat_t& a, const inidat_t& b) {
    GLEICH_S(comport);
    GLEICH(mangeraet);
    GLEICH_S(devi);
    GLEICH_S(pin);
    GLEICH_S(net);
    GLEICH_S(apn);
    GLEICH_S(ppq);
    GLEICH_S(ppc);
    GLEICH(conad);
    GLEICH_S(conport);
    GLEICH_S(con);
    GLEICH(constart);
    GLEICH(conende);
    GLEICH_S(conname);
    GLEICH_S(conpass);
    GLEICH(day);
    GLEICH(round);
    GLEICH(dayt);
    GLEICH(roundt);
    for (int i = 0; i < 3; i++) {
        GLEICH(max[i]);
        GLEICH(maxt[i]);
        GLEICH_S(cmd[i]);
        GLEICH(sms[i]);
        GLEICH_S(smsnr[i]);
        GLEICH_S(smskey[i]);
    }
    GLEICH_S(homu);
    GLEICH_S(homi);
    GLEICH_S(homo);
    for (int i = 0; i < ERRN; i++)
        GLEICH(err[i]);
    GLEICH_S(ping);
    GLEICH(startdelay);
    GLEICH(resumedelay);
    GLEICH(endm);
    GLEICH(enduhrzeit1);
    GLEICH(enduhrzeit2);
    GLEICH(enduhrzeite);
    GLEICH(end);
    GLEICH(endhightraffic);
    GLEICH(endforce);
    GLEICH(endverb);
    GLEICH(endstandby);
    GLEICH(endshutdown);
    GLEICH(smsring);
    GLEICH_S(smsc);
    GLEICH(ipcmod);
    GLEICH(icon);
    GLEICH(batt1);
    GLEICH(batt2);
    for (int c = 0; c < 256; c++)
        EXPECT_EQ(a.mod[c], b.mod[c]) << "mod " << c;
    GLEICH_S(rem);
}

void fuelle() {
    strcpy(inidat.comport, "/dev/ttyUSB2;/dev/ttyUSB0");
    inidat.mangeraet = 3;
    strcpy(inidat.devi, "\\*AT+CFUN=1");
    strcpy(inidat.pin, "1234");
    strcpy(inidat.net, "?Vodafone;O2 - de");
    strcpy(inidat.apn, "internet.t-mobile");
    strcpy(inidat.ppq, "*101#");
    strcpy(inidat.ppc, "*103*<INPUT>#");
    inidat.conad = 2;
    strcpy(inidat.conport, "/dev/ttyUSB0,/dev/ttyUSB1");
    strcpy(inidat.con, inidat.conport);
    inidat.constart = false;
    strcpy(inidat.conname, "user@provider");
    strcpy(inidat.conpass, "pa;ss w=rd");
    inidat.day = 15;
    inidat.dayt = 32;
    inidat.round = 100;
    inidat.roundt = 5;
    long mx[3] = {1500, 500000, 1001000}, mt[3] = {90, 120, 2880};
    for (int i = 0; i < 3; i++)
        inidat.max[i] = mx[i], inidat.maxt[i] = mt[i];
    strcpy(inidat.homu, "*101#");
    strcpy(inidat.homi, "Homezone: ja");
    strcpy(inidat.homo, "Homezone: nein");
    for (int i = 0; i < ERRN; i++)
        inidat.err[i] = i * 111 % 1000;
    strcpy(inidat.ping, "999.111.000.000;999.003.000.000");
    inidat.startdelay = 30;
    inidat.resumedelay = 10;
    inidat.endm = 2;
    inidat.enduhrzeit1 = 1320;
    inidat.enduhrzeit2 = 390;
    inidat.enduhrzeite = true;
    inidat.end = 60;
    inidat.endhightraffic = inidat.endforce = inidat.endverb = inidat.endstandby = true;
    inidat.endshutdown = 1;
    strcpy(inidat.cmd[0], "notify-send 'Online' \"$(date)\"");
    strcpy(inidat.cmd[2], "/usr/bin/prog --opt=1 ; x");
    inidat.sms[0] = 1;
    strcpy(inidat.smsnr[0], "+49171234567");
    strcpy(inidat.smskey[0], "CONNECT");
    inidat.sms[1] = 2;
    strcpy(inidat.smsnr[1], "+49172345678");
    inidat.smsring = true;
    strcpy(inidat.smsc, "+491720000000");
    inidat.ipcmod = 0777;
    inidat.icon = 4;
    inidat.batt1 = 30;
    inidat.batt2 = 10;
    inidat.mod['M'] = inidat.mod['P'] = inidat.mod['X'] = inidat.mod['1'] = 1;
    strcpy(inidat.rem, "Gr\xC3\xBC\xC3\x9F"
                       "e, K\xC3\xB6ln; \"Tarif\" = 5 GB");
}

void allemod() {
    for (int c = 0; c < 256; c++)
        inidat.mod[c] = (isascii(c) && isalnum(c) && c != 'K') ? 1 : 0;
}

void lang() {
    inidat.pin[0] = 0;
    strcpy(inidat.pin, std::string(299, '9').c_str());
    strcpy(inidat.conname, std::string(150, 'n').c_str());
    strcpy(inidat.conpass, std::string(148, 'p').c_str());
    strcpy(inidat.comport, std::string(299, 'c').c_str());
    strcpy(inidat.devi, std::string(603, 'd').c_str());
    strcpy(inidat.net, std::string(499, 'n').c_str());
    strcpy(inidat.ppq, std::string(99, 'q').c_str());
    strcpy(inidat.cmd[1], std::string(299, 'x').c_str());
    strcpy(inidat.smsnr[2], std::string(29, '5').c_str());
    strcpy(inidat.smskey[2], std::string(299, 'K').c_str());
    inidat.sms[2] = 1;
    inidat.mod['M'] = 1;
    std::string rem;
    while (rem.size() < 297)
        rem += "\xC3\xA4";
    strcpy(inidat.rem, rem.c_str());
}

TEST_F(IniKeys, ConfigurationsSurviveWriteAndRead) {
    struct {
        const char* name;
        bool de;
        std::function<void()> setze;
    } faelle[] = {
        {"defaults", false, [] {}},
        {"defaults German", true, [] {}},
        {"full", false, fuelle},
        {"full German", true, fuelle},
        {"all switches", false,
         [] {
             fuelle();
             allemod();
         }},
        {"long values", false,
         [] {
             fuelle();
             lang();
         }},
        {"long name only", false, [] { strcpy(inidat.conname, std::string(299, 'n').c_str()); }},
        {"password only", false, [] { strcpy(inidat.conpass, "nur;pass"); }},
        {"no roundings", false, [] { inidat.round = inidat.roundt = 0; }},
        {"time rounding only", false,
         [] {
             inidat.round = 0;
             inidat.roundt = 7;
         }},
        {"volume rounding only", true,
         [] {
             inidat.roundt = 0;
             inidat.dayt = 1;
         }},
        {"PIN never stored", false,
         [] {
             fuelle();
             inidat.pin[0] = 0;
             inidat.mod['K'] = 1;
         }},
        {"all calls", false,
         [] {
             for (int i = 0; i < 3; i++) {
                 inidat.sms[i] = 2;
                 snprintf(inidat.smsnr[i], 30, "+4917%d", i);
             }
             inidat.smsring = true;
         }},
        {"empty keyword entries", false,
         [] {
             inidat.sms[0] = 1;
             strcpy(inidat.smsnr[0], "+49");
             inidat.sms[2] = 1;
             strcpy(inidat.smskey[2], "END");
             inidat.mod['M'] = 1;
             inidat.ipcmod = 03777;
             inidat.enduhrzeit1 = 0;
             inidat.enduhrzeit2 = 1439;
             inidat.endshutdown = 2;
         }},
    };
    for (auto& f : faelle) {
        SCOPED_TRACE(f.name);
        ps_resetinidat();
        _de = f.de;
        f.setze();
        inidat_t soll = inidat;
        std::string eins, zwei;
        ik_lesen_t st;
        ASSERT_TRUE(rundlauf(eins, st));
        EXPECT_FALSE(st.neu) << "a written file must not ask for its own rewrite";
        EXPECT_EQ(_de, f.de);
        vergleiche(soll, inidat);
        ASSERT_TRUE(rundlauf(zwei, st));
        EXPECT_EQ(eins, zwei);
    }
}

// Name and password of 299 characters each need a line longer than 1180 bytes.
TEST_F(IniKeys, LongestNameAndPasswordSurviveOnALongerLine) {
    std::string n299(299, 'n'), p299(299, 'p');
    strcpy(inidat.conname, n299.c_str());
    strcpy(inidat.conpass, p299.c_str());
    std::string z = zeile(schreib(), "18");
    EXPECT_EQ(z.size(), 5 + 6 + 2 * 599u);
    ps_resetinidat();
    ik_lesen_t st = lies({"18 " + z});
    EXPECT_FALSE(st.neu);
    EXPECT_EQ(inidat.conname, n299);
    EXPECT_EQ(inidat.conpass, p299);
}

} // namespace
