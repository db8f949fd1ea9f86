// The ini keys: each line read into the configuration record, the record written in the
// numbered layout, and configurations that survive a write and a read unchanged.
#include "config/inikeys.h"
#include "config/obfuscation.h"
#include "core/helpers.h"
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
#include <utility>
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

// The persisted fields of the record as text, by name.
// clang-format off
#define T(x) {#x, [] { return std::string(inidat.x); }}
#define N(x) {#x, [] { return std::to_string(inidat.x); }}
const std::vector<std::pair<std::string, std::function<std::string()>>> ik_felder = {
    T(comport), N(mangeraet), T(devi), T(pin), T(net), T(apn), T(ppq), T(ppc), N(conad),
    T(conport), T(con), N(constart), N(conende), T(conname), T(conpass), N(day), N(round),
    N(dayt), N(roundt), N(max[0]), N(max[1]), N(max[2]), N(maxt[0]), N(maxt[1]), N(maxt[2]),
    T(homu), T(homi), T(homo), N(err[0]), N(err[1]), N(err[2]), N(err[3]), N(err[4]),
    N(err[5]), N(err[6]), N(err[7]), T(ping), N(startdelay), N(resumedelay), N(endm),
    N(enduhrzeit1), N(enduhrzeit2), N(enduhrzeite), N(end), N(endhightraffic), N(endforce),
    N(endverb), N(endstandby), N(endshutdown), T(cmd[0]), T(cmd[1]), T(cmd[2]), N(sms[0]),
    N(sms[1]), N(sms[2]), N(smsring), T(smsnr[0]), T(smsnr[1]), T(smsnr[2]), T(smskey[0]),
    T(smskey[1]), T(smskey[2]), T(smsc), N(ipcmod), N(icon), N(batt1), N(batt2), T(rem),
    {"mod", [] {
         std::string s;
         for (int c = 1; c < 256; c++)
             if (inidat.mod[c]) s += (char)c;
         return s;
     }},
    {"de", [] { return std::to_string(_de); }},
};
#undef T
#undef N
// clang-format on

std::string feld(const std::string& name, const ik_lesen_t& st) {
    if (name == "neu") return std::to_string(st.neu);
    if (name == "exit") return std::to_string(st.writeexit);
    for (auto& [n, f] : ik_felder)
        if (n == name) return f();
    return "<unknown field " + name + ">";
}

ik_lesen_t lies(const std::vector<std::string>& zeilen) {
    ik_lesen_t st{};
    for (const std::string& z : zeilen) {
        std::vector<char> b(z.begin(), z.end());
        b.push_back(0);
        ik_line(b.data(), &st);
    }
    return st;
}

// Lines read into a fresh record; "soll" lists field=value items separated by '|'. A
// name with a leading '#' compares the length of the text.
struct Fall {
    std::vector<std::string> zeilen;
    std::string soll;
};

void pruefe(const std::vector<Fall>& faelle) {
    for (const Fall& f : faelle) {
        ps_resetinidat();
        _de = false;
        ik_lesen_t st = lies(f.zeilen);
        SCOPED_TRACE(f.zeilen.back().substr(0, 60));
        size_t p = 0;
        while (p < f.soll.size()) {
            size_t q = f.soll.find('|', p);
            if (q == std::string::npos) q = f.soll.size();
            std::string item = f.soll.substr(p, q - p);
            size_t gl = item.find('=');
            std::string n = item.substr(0, gl), v = item.substr(gl + 1);
            if (n[0] == '#')
                EXPECT_EQ(std::to_string(feld(n.substr(1), st).size()), v) << n;
            else
                EXPECT_EQ(feld(n, st), v) << n;
            p = q + 1;
        }
    }
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

// The written line with the given number, without the number and the LF.
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

const std::string s299(299, 'a'), s300(300, 'a');

TEST_F(IniKeys, LineSyntaxAndKeyMatching) {
    pruefe({
        {{"COM=/dev/a"}, "comport=/dev/a|neu=0"},
        {{"43 rem=klein"}, "rem=klein"},
        {{"08 com =  /dev/b"}, "comport=/dev/b"},
        {{"08 COM /dev/c", "COMPORT=/dev/c"}, "comport="},
        {{"* COM=/x", "(COM=/x)", "12 * COM=/x", "12 (COM=/x"}, "comport=|neu=0"},
        {{"08 COM=/dev/ttyUSB2\r\n"}, "comport=/dev/ttyUSB2"},
        {{"08 COM=/dev/d \t \n"}, "comport=/dev/d"},
        {{"05 tandor 0.5"}, "neu=0"},
        {{"05 tandor 0.4"}, "neu=1"},
        {{"04 --> PIN eingeben"}, "neu=1"},
        {{"INIWRITE"}, "neu=1|exit=0"},
        {{"iniwriteexit"}, "neu=1|exit=1"},
        {{"XYZ=1", "USSD=*1#", "CMD=x"}, "neu=0"},
        // Longer keys win over the shorter ones they start with.
        {{"DEVI=AT+X", "DEV=3", "PING=1.2.3.4", "MAX=2G", "CONA=E", "ENDM=2", "ENDC=1:00;2:00"},
         "devi=AT+X|mangeraet=3|ping=1.2.3.4|pin=|max[0]=2000000|constart=0|endm=2|end=0|"
         "enduhrzeit1=60"},
        {{"servilog"}, "mod=P|neu=1"},
        {{"SERVICELOG", "MOD=X"}, "mod=X"},
    });
}

TEST_F(IniKeys, TextValuesThatDoNotFitAreIgnored) {
    std::string rem;
    while (rem.size() < 400)
        rem += "\xC3\xA4";
    pruefe({
        {{"COM=" + s299}, "#comport=299"},
        {{"COM=" + s300, "APN=" + s300, "PPC=" + s300, "PING=" + s300, "CMD2=" + s300},
         "comport=|apn=|ppc=*104*<INPUT>#|ping=|cmd[1]="},
        {{"NET=" + std::string(499, 'n')}, "#net=499"},
        {{"NET=" + std::string(500, 'n'), "PPQ=" + std::string(100, '1')}, "net=|ppq=*100#"},
        {{"DEVI=" + std::string(603, 'd')}, "#devi=603"},
        {{"DEVI=" + std::string(604, 'd')}, "devi="},
        {{"HOMU=HTTP://example.org/hz"}, "homu=example.org/hz|neu=1"},
        // Commands keep their quotes: an argument in single quotes stays literal.
        {{"CMD1=notify 'a $(b)'"}, "cmd[0]=notify 'a $(b)'"},
        // A long comment is cut before a whole character, never inside it.
        {{"REM=" + rem}, "rem=" + rem.substr(0, 298)},
    });
}

TEST_F(IniKeys, PinIsReadObfuscatedOrClearAndWrittenObfuscated) {
    pruefe({
        {{"11 pin=1234"}, "pin=1234|neu=1"},
        {{"PIN=" + obf("1234")}, "pin=1234|neu=0"},
        {{"PIN=1234", "PIN=none"}, "pin=|neu=1"},
        {{"PIN="}, "pin=|neu=0"},
        {{"MOD=K", "PIN=1234"}, "pin="},
        {{"PIN=" + obf(std::string(299, '7'))}, "#pin=299"},
        {{"PIN=" + obf(std::string(300, '7')), "PIN=" + std::string(300, '7')}, "pin="},
    });
    ps_resetinidat();
    lies({"PIN=1234"});
    EXPECT_EQ(zeile(schreib(), "11"), "PIN=" + obf("1234"));
    // Switch K: a PIN read before the switch is dropped at the end and never written.
    ik_lesen_t st = lies({"PIN=" + obf("1234"), "MOD=K"});
    ik_finish(&st);
    EXPECT_STREQ(inidat.pin, "");
    EXPECT_TRUE(st.neu);
    strcpy(inidat.pin, "1234");
    EXPECT_EQ(zeile(schreib(), "11"), "PIN=");
}

TEST_F(IniKeys, PassHoldsNameAndPasswordObfuscatedTogether) {
    pruefe({
        {{"PASS=user;geheim"}, "conname=user|conpass=geheim|neu=1"},
        {{"PASS=" + obf("user;ge;heim")}, "conname=user|conpass=ge;heim|neu=0"},
        // The older layout: obfuscated name, then the password in clear.
        {{"PASS=" + obf("user") + ";geheim"}, "conname=user|conpass=geheim|neu=1"},
        {{"PASS=" + obf(s299 + ";" + s299)}, "#conname=299|#conpass=299"},
        {{"PASS=" + obf(s300 + ";x")}, "conname=|conpass="},
    });
    ps_resetinidat();
    strcpy(inidat.conname, "user");
    strcpy(inidat.conpass, "geheim");
    EXPECT_EQ(zeile(schreib(), "18"), "PASS=" + obf("user;geheim"));
    // The obfuscation alphabet has no ';', which tells the older layout apart.
    std::string alle;
    for (int c = 1; c < 256; c++)
        alle += (char)c;
    EXPECT_EQ(obf(alle).find(';'), std::string::npos);
}

TEST_F(IniKeys, LanguageAndConnectionForms) {
    pruefe({
        {{"07 LAN=English"}, "de=0|neu=1"},
        {{"07 LAN=Deutsch\t"}, "de=1|neu=0"},
        {{"lan=german\t"}, "de=1|neu=0"},
        {{"CONA=se"}, "constart=1|conende=1"},
        {{"CONA=", "CON=/dev/ttyUSB0"}, "constart=0|conende=0|con=/dev/ttyUSB0|conad=2"},
        {{"CON=;/dev/ttyUSB0,/dev/ttyUSB1;"},
         "constart=0|conende=0|conport=/dev/ttyUSB0,/dev/ttyUSB1"},
        {{"CON=x", "CON=Internet"}, "conport=|con="},
        {{"CON=x", "CON=" + s299}, "conport=|con="},
        {{"CON=x", "CON=|"}, "conport=x|con=x|conad=1"},
        {{"CON=x", "CON=|Internet"}, "con=x|conad=1"},
        {{"CON=,"}, "conport=|conad=3"},
        {{"CON=,ppp0"}, "conport=ppp0|con=ppp0|conad=4"},
        {{"CON=|ppp0"}, "con=ppp0|conad=2"},
    });
    // Older files without CONA=: CON= switches both automatic modes on.
    inidat.constart = inidat.conende = false;
    lies({"CON=/dev/ttyUSB0"});
    EXPECT_TRUE(inidat.constart && inidat.conende);
}

TEST_F(IniKeys, PeriodsRoundingsAndThresholds) {
    pruefe({
        {{"DAY=15"}, "day=15|dayt=0"},
        {{"DAY=15 ; 01"}, "day=15|dayt=1"},
        {{"DAY=;05"}, "day=0|dayt=5"},
        {{"RND=7", "DAY=p 15"}, "round=1|day=15"},
        {{"DAY=15;500"}, "round=500|dayt=0"},
        // A present RND= line sets both roundings; a missing number is 0.
        {{"RND="}, "round=0|roundt=0"},
        {{"RND=5"}, "round=5|roundt=0"},
        {{"RND=100 ; 5"}, "round=100|roundt=5"},
        {{"MAXV=1,5G"}, "max[0]=1|max[1]=0|neu=1"},
        {{"MAXV=500M;1G;2G;3G"}, "max[0]=500000|max[1]=1000000|max[2]=2000000|neu=1"},
        {{"MAXV=0;1500k;2m"}, "max[0]=0|max[1]=1500|max[2]=2000|neu=0"},
        {{"MAXV=99999999999999999999999G;9G9G9G9G9G9G"},
         "max[0]=" + std::to_string(LONG_MAX) + "|max[1]=" + std::to_string(LONG_MAX)},
        {{"MAXT=90;2h;1d"}, "maxt[0]=90|maxt[1]=120|maxt[2]=1440"},
        // Minutes read back as minutes: the m of "min" is no unit, neither is M or G.
        {{"MAXT=90min;2M;1G"}, "maxt[0]=90|maxt[1]=2|maxt[2]=1"},
    });
    lies({"DAY=33;40", "RND=", "MAXT=90;2h;1d", "MAXV=1500;2000;3000000"});
    std::string d = schreib();
    EXPECT_EQ(zeile(d, "19"), "DAY=99;99");
    EXPECT_EQ(zeile(d, "20"), "RND=");
    EXPECT_EQ(zeile(d, "21"), "MAXV=1500k;2M;3G");
    EXPECT_EQ(zeile(d, "22"), "MAXT=90min;2h;1d");
}

TEST_F(IniKeys, ErrorTolerances) {
    pruefe({
        {{"ERR=NOC0 FRZ15 CRC50 TME10 ALG10 FRM10 BUF10 L4"}, "neu=0"},
        {{"ERR=noc5  l9"}, "err[0]=5|err[7]=9|err[2]=50|neu=0"},
        {{"ERR=NOC FRZ20 X L1234 BUF7TME8"},
         "err[0]=0|err[1]=20|err[7]=123|err[6]=7|err[3]=8|neu=1"},
    });
    // Fewer than eight names (or no ERR= line) ask for a completed file.
    for (auto& [z, namen] : std::vector<std::pair<std::string, int>>{
             {"ERR=NOC0 FRZ15 CRC50 TME10 ALG10 FRM10 BUF10 L4", 8},
             {"ERR=noc5 l9", 2},
             {"COM=x", 0}}) {
        ik_lesen_t st = lies({z});
        EXPECT_EQ(st.errnamen, namen);
        ik_finish(&st);
        EXPECT_EQ(st.neu, namen < 8) << z;
    }
}

TEST_F(IniKeys, DelaysEndTimesAndCountdown) {
    pruefe({
        {{"SDLY=30"}, "startdelay=30|resumedelay=0"},
        {{"SDLY=30 ; 10"}, "resumedelay=10"},
        {{"ENDC=22:00;06:30E"}, "enduhrzeit1=1320|enduhrzeit2=390|enduhrzeite=1|neu=0"},
        {{"ENDC=25:00;06:00"}, "enduhrzeit1=1439|enduhrzeit2=360|neu=1"},
        {{"ENDC=22.00;6.00e"}, "enduhrzeit2=360|enduhrzeite=1"},
        {{"ENDC=22:00;06:00E", "ENDC=2200;0600"}, "enduhrzeit1=-1|enduhrzeit2=-1|enduhrzeite=0"},
        {{"ENDC=x22:00;06:00"}, "enduhrzeit1=-1"},
        {{"ENDM=5"}, "endm=0"},
        {{"END=120CSR"}, "end=120|endverb=1|endshutdown=2"},
        {{"END=RS"}, "endshutdown=2"},
        {{"END=5s"}, "endshutdown=1"},
        {{"SDLY=5;7", "END=30;60tfz"},
         "startdelay=30|resumedelay=7|end=60|endhightraffic=1|endforce=1|endstandby=1|endverb=0"},
    });
    std::string d = schreib();
    EXPECT_EQ(zeile(d, "28"), "SDLY=30;7");
    EXPECT_EQ(zeile(d, "31"), "END=60TFZ");
    lies({"ENDC=22:00;06:30E"});
    EXPECT_EQ(zeile(schreib(), "30"), "ENDC=22:00;06:30E");
    inidat.enduhrzeit2 = -1;
    EXPECT_EQ(zeile(schreib(), "30"), "ENDC=");
}

TEST_F(IniKeys, RemoteControlEntries) {
    pruefe({
        {{"SMS1=,+49171234"}, "sms[0]=2|smsnr[0]=+49171234|smsring=1|mod="},
        {{"SMS2=+49171234;start"}, "sms[1]=1|smsnr[1]=+49171234|smskey[1]=START"},
        // An empty entry is unused and switches nothing on.
        {{"SMS3=+4917;stop", "MOD=", "SMS3="}, "sms[2]=0|smskey[2]=|mod="},
        // A number that does not fit is not cut into another number.
        {{"SMS1=" + std::string(30, '1') + ";START"}, "sms[0]=0|smsnr[0]="},
        {{"SMSC=491720000000"}, "smsc=(format error)"},
        {{"LAN=Deutsch\t", "SMSC=0172"}, "smsc=(Formatfehler)"},
        {{"SMSC=+491720000000"}, "smsc=+491720000000"},
        {{"SMSC=+" + std::string(29, '1')}, "smsc=(format error)"},
    });
    // A keyword entry switches reception on, also when MOD= follows it as in the file's
    // own layout (MOD= clears every switch when it is read).
    ps_resetinidat();
    ik_lesen_t st = lies({"SMS2=+49170123;start", "MOD=P"});
    ik_finish(&st);
    EXPECT_TRUE(MODUS('M') && MODUS('P'));
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
    pruefe({
        {{"ICON=9"}, "icon=1"},
        {{"ICON=4"}, "icon=4"},
        {{"DEV=150"}, "mangeraet=0"},
        {{"DEV=-3"}, "mangeraet=0"},
        {{"IPC=777"}, "ipcmod=511"},
        {{"IPC=77777777"}, "ipcmod=2047"},
        {{"BATT=10;30"}, "batt1=30|batt2=10|neu=1"},
        {{"BATT=150;20"}, "batt1=100|batt2=20|neu=1"},
        {{"BATT=%30;x10"}, "batt1=30|batt2=10|neu=0"},
        // Only ASCII letters and digits are switches.
        {{"MOD=PX8\xE4-;\xFFk"}, "mod=8PXk"},
    });
    lies({"IPC=777", "DEV=7", "MOD=zXA1"});
    inidat.mod['$'] = 1; // no switch the reader would take back
    std::string d = schreib();
    EXPECT_EQ(zeile(d, "39"), "IPC=0777");
    EXPECT_EQ(zeile(d, "09"), "DEV=7");
    EXPECT_EQ(zeile(d, "42"), "MOD=1AXz");
}

TEST_F(IniKeys, WrittenLayoutAndDescription) {
    std::string d = schreib();
    const std::string soll =
        "02 (Please do not change line 01.)\n03\n04\n05 tandor 0.5\n06\n"
        "07 LAN=English\t\n08 COM=\n09 DEV=\n10 DEVI=\n11 PIN=\n12 NET=\n"
        "13 APN=\n14 PPQ=*100#\n15 PPC=*104*<INPUT>#\n16 CONA=SE\n17 CON=\n"
        "18 PASS=\n19 DAY=\n20 RND=1;1\n21 MAXV=0;0;0\n22 MAXT=0;0;0\n23 HOMU=\n"
        "24 HOMI=\n25 HOMO=\n26 ERR=NOC0 FRZ15 CRC50 TME10 ALG10 FRM10 BUF10 L4\n"
        "27 PING=\n28 SDLY=0\n29 ENDM=0\n30 ENDC=\n31 END=0\n32 CMD1=\n33 CMD2=\n"
        "34 CMD3=\n35 SMS1=\n36 SMS2=\n37 SMS3=\n38 SMSC=\n39 IPC=\n40 ICON=1\n"
        "41 BATT=0;0\n42 MOD=\n43 REM=\n\n\n";
    ASSERT_EQ(d.substr(0, soll.size()), soll);

    // Banner, pointer to the other language, own text; two empty lines; banner and the
    // other text. Every line is a comment for the reader.
    std::string b = d.substr(soll.size());
    std::string banner = std::string(53, '*') + "\n*" + std::string(21, ' ') + "tandor" +
                         std::string(24, ' ') + "*\n*" + std::string(51, ' ') + "*\n";
    EXPECT_EQ(b.find(banner + "*     -> Deutsche Beschreibung siehe unten. <-      *\n"), 0u);
    size_t zweite = b.find("\n\n\n" + banner);
    ASSERT_NE(zweite, std::string::npos);
    EXPECT_LT(b.find("Description of the settings"), zweite);
    EXPECT_GT(b.find("Beschreibung der Einstellungen"), zweite);
    EXPECT_EQ(b.find("==DATUM==="), std::string::npos);
    EXPECT_NE(b.find("19.10.2012", b.find("19.10.2012") + 1), std::string::npos);
    std::vector<std::string> zeilen;
    for (size_t p = 0, q; (q = b.find('\n', p)) != std::string::npos; p = q + 1) {
        zeilen.push_back(b.substr(p, q - p));
        EXPECT_TRUE(zeilen.back().empty() || zeilen.back()[0] == '*') << zeilen.back();
    }
    EXPECT_EQ(b.back(), '\n');
    inidat_t vorher;
    memcpy(&vorher, &inidat, sizeof inidat);
    EXPECT_FALSE(lies(zeilen).neu);
    EXPECT_EQ(memcmp(&vorher, &inidat, sizeof inidat), 0);

    _de = true;
    d = schreib();
    std::string kopf = "02 (Die Zeile 01 bitte nicht ver\xC3\xA4ndern.)\n03\n04\n";
    EXPECT_EQ(d.substr(0, kopf.size()), kopf);
    b = d.substr(d.find("\n43 REM=\n\n\n") + 11);
    EXPECT_EQ(b.find(banner + "*       -> English description see below. <-        *\n"), 0u);
    EXPECT_LT(b.find("Beschreibung der Einstellungen"), b.find("Description of the settings"));

    // A hint goes to line 04; a line break inside a value never starts a line of its own.
    strcpy(inidat.hinweis, "PIN eingeben");
    strcpy(inidat.comport, "/dev/x\nPIN=1\r");
    d = schreib();
    EXPECT_EQ(zeile(d, "04"), "--> PIN eingeben");
    EXPECT_EQ(zeile(d, "08"), "COM=/dev/x PIN=1 ");
}

// ---- Round trip ----

// Written after a header line and read back as the ini reader does: 1180-byte lines.
void rundlauf(std::string& datei, ik_lesen_t& st) {
    char* buf = nullptr;
    size_t n = 0;
    FILE* f = open_memstream(&buf, &n);
    fputs("0 Kopfzeile\n", f);
    EXPECT_TRUE(ik_write(f));
    fclose(f);
    datei.assign(buf, n);
    free(buf);
    bool deutsch = _de;
    ps_resetinidat();
    _de = !deutsch;
    st = {};
    FILE* r = fmemopen(datei.data(), datei.size(), "r");
    char zeile[1180];
    for (bool kopf = true; fgets(zeile, sizeof zeile, r); kopf = false) {
        EXPECT_NE(strchr(zeile, '\n'), nullptr) << "line longer than the reader's buffer";
        if (!kopf) ik_line(zeile, &st);
    }
    fclose(r);
    ik_finish(&st);
}

// A full configuration as typed by hand: no line numbers, keys in reverse order.
void fuelle() {
    lies({"rem=Grüße, Köln; \"Tarif\" = 5 GB",
          "MOD=MPX1",
          "SMS2=,+49172345678",
          "SMS1=+49171234567;connect",
          "CMD3=/usr/bin/prog --opt=1 ; x",
          "CMD1=notify-send 'Online' \"$(date)\"",
          "END=60TFCZS",
          "ENDC=22:00;06:30E",
          "ENDM=2",
          "SDLY=30;10",
          "PING=999.111.000.000;999.003.000.000",
          "ERR=L777 NOC0 FRZ111 CRC222 TME333 ALG444 FRM555 BUF666",
          "HOMO=Homezone: nein",
          "HOMI=Homezone: ja",
          "HOMU=*101#",
          "MAXT=90min;2h;2d",
          "MAXV=1500k;500M;1001M",
          "RND=100;5",
          "DAY=15;32",
          "PASS=user@provider;pa;ss w=rd",
          "CON=/dev/ttyUSB0,/dev/ttyUSB1",
          "CONA=E",
          "PPC=*103*<INPUT>#",
          "PPQ=*101#",
          "APN=internet.t-mobile",
          "NET=?Vodafone;O2 - de",
          "PIN=1234",
          "DEVI=\\*AT+CFUN=1",
          "DEV=3",
          "COM=/dev/ttyUSB2;/dev/ttyUSB0",
          "SMSC=+491720000000",
          "IPC=0777",
          "ICON=4",
          "BATT=30;10"});
}

void lang() {
    strcpy(inidat.pin, std::string(299, '9').c_str());
    strcpy(inidat.conname, std::string(150, 'n').c_str());
    strcpy(inidat.conpass, std::string(148, 'p').c_str());
    strcpy(inidat.comport, s299.c_str());
    strcpy(inidat.devi, std::string(603, 'd').c_str());
    strcpy(inidat.net, std::string(499, 'n').c_str());
    strcpy(inidat.ppq, std::string(99, 'q').c_str());
    strcpy(inidat.cmd[1], s299.c_str());
    strcpy(inidat.smsnr[2], std::string(29, '5').c_str());
    strcpy(inidat.smskey[2], std::string(299, 'K').c_str());
    inidat.sms[2] = 1;
    std::string rem;
    while (rem.size() < 298)
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
        {"all switches but K", false,
         [] {
             fuelle();
             for (int c = 0; c < 128; c++)
                 inidat.mod[c] = isalnum(c) && c != 'K';
         }},
        {"long values", false, [] { fuelle(), lang(); }},
        {"long name only", false, [] { strcpy(inidat.conname, s299.c_str()); }},
        {"password only", false, [] { strcpy(inidat.conpass, "nur;pass"); }},
        {"no roundings", false, [] { inidat.round = inidat.roundt = 0; }},
        {"time rounding only", false, [] { inidat.round = 0, inidat.roundt = 7; }},
        {"volume rounding only", true, [] { inidat.roundt = 0, inidat.dayt = 1; }},
        {"PIN never stored", false, [] { fuelle(), inidat.pin[0] = 0, inidat.mod['K'] = 1; }},
        {"calls and empty keyword parts", false,
         [] {
             inidat.sms[0] = inidat.sms[1] = 2;
             strcpy(inidat.smsnr[0], "+4917");
             inidat.smsring = true;
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
        std::vector<std::string> soll;
        for (auto& [n, wert] : ik_felder)
            soll.push_back(wert());
        std::string eins, zwei;
        ik_lesen_t st;
        rundlauf(eins, st);
        EXPECT_FALSE(st.neu) << "a written file must not ask for its own rewrite";
        for (size_t i = 0; i < soll.size(); i++)
            EXPECT_EQ(ik_felder[i].second(), soll[i]) << ik_felder[i].first;
        rundlauf(zwei, st);
        EXPECT_EQ(eins, zwei);
    }
}

// Name and password of 299 characters each need a line longer than 1180 bytes.
TEST_F(IniKeys, LongestNameAndPasswordSurviveOnALongerLine) {
    strcpy(inidat.conname, s299.c_str());
    strcpy(inidat.conpass, s299.c_str());
    std::string z = zeile(schreib(), "18");
    EXPECT_EQ(z.size(), 5 + 6 + 2 * 599u);
    ps_resetinidat();
    EXPECT_FALSE(lies({"18 " + z}).neu);
    EXPECT_EQ(inidat.conname, s299);
    EXPECT_EQ(inidat.conpass, s299);
}

TEST(IniKeyCon, KeepsItsMeaningWhenTheFileIsRewritten) {
    // Marker characters behind the first marker are no part of a port name: kept, they
    // would turn automatic connection off (';') or change the value at the next reading.
    for (const char* wert : {"| ; 5|||WSp", "||||WSp", ",;ppp0;;"}) {
        ps_resetinidat();
        ik_lesen_t st = {};
        char zeile[400];
        snprintf(zeile, sizeof zeile, "CONA=SE\n");
        ik_line(zeile, &st);
        snprintf(zeile, sizeof zeile, "CON=%s\n", wert);
        ik_line(zeile, &st);
        char port[300];
        strMcpy(port, inidat.conport);
        bool start = inidat.constart, ende = inidat.conende;
        EXPECT_TRUE(port[0] != ';' && port[0] != '|' && port[0] != ',' && port[0] != ' ') << wert;
        ps_resetinidat();
        st = {};
        snprintf(zeile, sizeof zeile, "CONA=%s%s\n", start ? "S" : "", ende ? "E" : "");
        ik_line(zeile, &st);
        snprintf(zeile, sizeof zeile, "CON=%s\n", port);
        ik_line(zeile, &st);
        EXPECT_STREQ(inidat.conport, port) << wert;
        EXPECT_EQ(inidat.constart, start) << wert;
        EXPECT_EQ(inidat.conende, ende) << wert;
    }
}

} // namespace
