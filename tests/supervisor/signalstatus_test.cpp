#include "core/programstate.h"
#include "supervisor/signalstatus.h"
#include "ui/mainwindow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Signal answers as the modems send them.
struct csqfall {
    const char* name;
    int geraet;
    const char* csq;
    const char* cind;
    int raw; // -1 = no reading
};
const csqfall csqfaelle[] = {
    {"huawei_e220_good", 3, "\r\n+CSQ: 31,99\r\n\r\nOK\r\n", nullptr, 31},
    {"option_icon_zero", 1, "\r\n+CSQ: 0,99\r\n\r\nOK\r\n", nullptr, 0},
    {"echoed_command", 3, "AT+CSQ\r\r\n+CSQ: 14,0\r\n\r\nOK\r\n", nullptr, 14},
    {"huawei_unknown", 3, "\r\n+CSQ: 99,99\r\n\r\nOK\r\n", nullptr, -1},
    {"ericsson_f3507g_cind_level3", 5, "\r\n+CSQ: 99,99\r\n\r\nOK\r\n",
     "\r\n+CIND: 5,3,1,0,0,0,0,0\r\n\r\nOK\r\n", 15},
    {"ericsson_cind_level5", 5, "\r\n+CSQ: 99,99\r\n\r\nOK\r\n", "\r\n+CIND: 0,5,1\r\n\r\nOK\r\n",
     27},
    {"ericsson_cind_out_of_range", 5, "\r\n+CSQ: 99,99\r\n\r\nOK\r\n",
     "\r\n+CIND: 5,7,1\r\n\r\nOK\r\n", -1},
    {"ericsson_cind_missing", 5, "\r\n+CSQ: 99,99\r\n\r\nOK\r\n", nullptr, -1},
    {"zte_mf_no_blank", 8, "\r\n+CSQ:4,0\r\n\r\nOK\r\n", nullptr, 4},
    {"leading_zero_and_blanks", 3, "\r\n+CSQ:  07 , 99\r\n\r\nOK\r\n", nullptr, 7},
    {"rssi_report_before", 3, "\r\n^RSSI:12\r\n\r\n+CSQ: 12,99\r\n\r\nOK\r\n", nullptr, 12},
    {"ericsson_cind_blanks", 5, "\r\n+CSQ: 99,99\r\n\r\nOK\r\n",
     "\r\n+CIND: 5, 4, 1, 0\r\n\r\nOK\r\n", 21},
    {"cut_after_first_digit", 3, "\r\n+CSQ: 1", nullptr, -1},
    {"three_digits", 3, "\r\n+CSQ: 150,99\r\n\r\nOK\r\n", nullptr, -1},
    {"above_scale", 3, "\r\n+CSQ: 45,99\r\n\r\nOK\r\n", nullptr, -1},
    {"error", 3, "\r\nERROR\r\n", nullptr, -1},
    {"empty", 3, "", nullptr, -1},
    {"null", 3, nullptr, nullptr, -1},
};

TEST(SignalStatus, SignalAnswersGiveTheRawValue) {
    for (const auto& f : csqfaelle)
        EXPECT_EQ(ss_signalraw(f.geraet, f.csq, f.cind), f.raw) << f.name;
}

TEST(SignalStatus, RawValueConvertsToPercentDbmAndTexts) {
    struct {
        int raw;
        int sig, sigd;
        const char* sigs;
        const char* mini;
    } faelle[] = {
        {31, 100, 51, "100% = -51dBm", "100%"},
        {0, 0, 113, "00% = -113dBm", "00%"},
        {15, 50, 83, "50% = -83dBm", "50%"},
        {3, 10, 107, "10% = -107dBm", "10%"},
    };
    for (const auto& f : faelle) {
        ss_signal_t s;
        EXPECT_TRUE(ss_signal(s, f.raw, true, false));
        EXPECT_EQ(s.sig, f.sig) << f.raw;
        EXPECT_EQ(s.sigd, f.sigd) << f.raw;
        EXPECT_STREQ(s.sigs, f.sigs);
        EXPECT_STREQ(s.sigsmini, f.mini);
        EXPECT_EQ(s.sigfail, 0);
    }
}

TEST(SignalStatus, FailedReadingsKeepTheValueFourTimesThenClearIt) {
    ss_signal_t s;
    ASSERT_TRUE(ss_signal(s, 15, true, false));
    for (int i = 0; i < 4; i++) {
        EXPECT_FALSE(ss_signal(s, -1, true, false));
        EXPECT_EQ(s.sig, 50) << i;
    }
    EXPECT_FALSE(ss_signal(s, -1, true, false));
    EXPECT_EQ(s.sig, -1);
    EXPECT_STREQ(s.sigs, "  ");
    EXPECT_STREQ(s.sigsmini, "  ");
    EXPECT_EQ(s.raw, 0);
    EXPECT_EQ(s.sigalt, 50);

    ss_signal_t neu; // after a restart the first failure clears at once
    neu.sig = 40;
    EXPECT_FALSE(ss_signal(neu, -1, true, false));
    EXPECT_EQ(neu.sig, -1);
}

TEST(SignalStatus, NovatelLowReadingCountsOnlyAfterThreeFailures) {
    ss_signal_t s;
    ASSERT_TRUE(ss_signal(s, 20, true, true));
    EXPECT_FALSE(ss_signal(s, 2, true, true));
    EXPECT_EQ(s.sig, 66);
    EXPECT_FALSE(ss_signal(s, 2, true, true));
    EXPECT_FALSE(ss_signal(s, 2, true, true));
    EXPECT_TRUE(ss_signal(s, 2, true, true));
    EXPECT_EQ(s.sig, 6);
    ss_signal_t andere; // other modems take it at once
    ASSERT_TRUE(ss_signal(andere, 20, true, false));
    EXPECT_TRUE(ss_signal(andere, 2, true, false));
}

TEST(SignalStatus, WeakSignalMarksLineThreeAfterSixReadings) {
    ss_signal_t s;
    char zeile[150];
    for (int i = 0; i < 5; i++)
        ss_signal(s, 3, true, false);
    ss_signalzeile(s, zeile, sizeof zeile);
    EXPECT_STREQ(zeile, " 10% = -107dBm");
    ss_signal(s, 3, true, false);
    ss_signalzeile(s, zeile, sizeof zeile);
    EXPECT_STREQ(zeile, "+10% = -107dBm");
    for (int i = 0; i < 10; i++)
        ss_signal(s, 3, true, false);
    EXPECT_EQ(s.siggelb, 9);
    ss_signal(s, 4, true, false); // 13 %
    EXPECT_EQ(s.siggelb, 0);
}

TEST(SignalStatus, BatteryAndToneFrequency) {
    EXPECT_EQ(ss_akku("\r\n+CBC: 0,87\r\n\r\nOK\r\n"), 87);
    EXPECT_EQ(ss_akku("\r\n+CBC: 1,87\r\n\r\nOK\r\n"), 0); // on the charger
    EXPECT_EQ(ss_akku("\r\n+CBC: 0,0\r\n"), 0);
    EXPECT_EQ(ss_akku("\r\n+CBC: 0,99999\r\n"), 0);
    EXPECT_EQ(ss_akku("\r\nERROR\r\n"), 0);
    EXPECT_EQ(ss_tonfrequenz(0), 310);
    EXPECT_EQ(ss_tonfrequenz(50), 1405);
    EXPECT_EQ(ss_tonfrequenz(100), 3210);
}

// Registration and location answers.
struct regfall {
    const char* name;
    const char* tag;
    const char* antwort;
    int stat;
    const char* lac;
    const char* ucid;
};
const regfall regfaelle[] = {
    {"n0_home", "CGREG", "\r\n+CGREG: 0,1\r\n\r\nOK\r\n", 1, "", ""},
    {"n1_roaming", "CGREG", "\r\n+CGREG: 1,5\r\n\r\nOK\r\n", 5, "", ""},
    {"n2_searching", "CGREG", "\r\n+CGREG: 2,2\r\n\r\nOK\r\n", 2, "", ""},
    {"huawei_quoted", "CGREG", "\r\n+CGREG: 2,1,\"1A2B\",\"C3D4\"\r\n\r\nOK\r\n", 1, "1A2B",
     "C3D4"},
    {"huawei_quoted_8digit_cell", "CGREG", "\r\n+CGREG: 2,1,\"00A1\",\"01C3D4E5\",2\r\n\r\nOK\r\n",
     1, "00A1", "1C3D4E5"},
    {"option_unquoted_long_cell", "CGREG", "\r\n+CGREG: 2,1,1A2B,C3D4E5\r\n\r\nOK\r\n", 1, "1A2B",
     "C3D4E5"},
    {"blank_after_comma", "CGREG", "\r\n+CGREG: 2,5, 1a2b, 00c3\r\n\r\nOK\r\n", 5, "1A2B", "00C3"},
    {"zte_creg", "CREG", "\r\n+CREG: 2,1,\"0FA2\",\"3B91\"\r\n\r\nOK\r\n", 1, "0FA2", "3B91"},
    {"urc_before_answer", "CGREG",
     "\r\n+CGREG: 1\r\n\r\n+CGREG: 2,1,\"1A2B\",\"C3D4\"\r\n\r\nOK\r\n", 1, "1A2B", "C3D4"},
    {"cell_nine_hex_digits", "CGREG", "\r\n+CGREG: 2,1,\"1A2B\",\"123456789\"\r\n\r\nOK\r\n", 1, "",
     ""},
    {"huge_hex_run", "CGREG",
     "\r\n+CGREG: 2,1,FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF,1\r\n\r\nOK\r\n", 1, "", ""},
    {"cut_in_quotes", "CGREG", "\r\n+CGREG: 2,1,\"1A2B\",\"C3", 1, "", ""},
    {"lac_without_cell", "CGREG", "\r\n+CGREG: 2,1,\"1A2B\"\r\n", 1, "", ""},
    // Spacing, quoting and padding as other makers send them.
    {"zte_no_blanks_unquoted", "CREG", "\r\n+CREG:2,1,0001,0010\r\n\r\nOK\r\n", 1, "0001", "0010"},
    {"padded_n_and_stat", "CREG", "\r\n+CREG: 002,001,\"18d8\",\"ffff\"\r\n\r\nOK\r\n", 1, "18D8",
     "FFFF"},
    {"blanks_after_commas", "CGREG", "\r\n+CGREG: 2, 1, \"0426\", \"F00F\"\r\n\r\nOK\r\n", 1,
     "0426", "F00F"},
    {"act_and_rac_after_cell", "CGREG",
     "\r\n+CGREG: 2,5,\"1A2B\",\"01C3D4E5\",6,\"0F\"\r\n\r\nOK\r\n", 5, "1A2B", "1C3D4E5"},
    {"multi_digit_state", "CREG", "\r\n+CREG: 2,10,\"1A2B\",\"C3D4\",7\r\n\r\nOK\r\n", 10, "1A2B",
     "C3D4"},
    // The unsolicited form without <n>, caught by a query while reports are on.
    {"report_unquoted", "CREG", "\r\n+CREG: 1,8BE3,2BAF\r\n", 1, "8BE3", "2BAF"},
    {"report_quoted_with_act", "CGREG", "\r\n+CGREG: 5,\"0A1B\",\"C3F2A1\",2\r\n", 5, "0A1B",
     "C3F2A1"},
    {"report_decimal_lac", "CREG", "\r\n+CREG: 1,0426,1234\r\n", 1, "0426", "1234"},
    {"report_without_cell", "CREG", "\r\n+CREG: 1,8BE3\r\n", 1, "", ""},
    {"answer_wins_over_report_after", "CREG",
     "\r\n+CREG: 2,1,\"1A2B\",\"C3D4\"\r\n\r\nOK\r\n\r\n+CREG: 1,\"0FFF\",\"AAAA\"\r\n", 1, "1A2B",
     "C3D4"},
    {"answer_without_location_wins", "CREG",
     "\r\n+CREG: 5,\"0FFF\",\"AAAA\"\r\n\r\n+CREG: 0,1\r\n\r\nOK\r\n", 1, "", ""},
    {"last_report_counts", "CREG",
     "\r\n+CREG: 2,\"0FFF\",\"AAAA\"\r\n\r\n+CREG: 1,\"0FFF\",\"BBBB\"\r\n", 1, "0FFF", "BBBB"},
    {"cut_after_state", "CGREG", "\r\n+CGREG: 2,1", -1, "", ""},
    {"cut_in_unquoted_cell", "CGREG", "\r\n+CGREG: 2,1,1A2B,C3", 1, "", ""},
    {"other_tag_only", "CGREG", "\r\n+CREG: 2,1,\"1A2B\",\"C3D4\"\r\n", -1, "", ""},
    {"error", "CGREG", "\r\n+CME ERROR: 10\r\n", -1, "", ""},
};

TEST(SignalStatus, RegistrationAnswersGiveStateAndLocation) {
    for (const auto& f : regfaelle) {
        char lac[20] = "old", ucid[20] = "old";
        EXPECT_EQ(ss_registrierung(f.antwort, f.tag, lac, ucid), f.stat) << f.name;
        EXPECT_STREQ(lac, f.lac) << f.name;
        EXPECT_STREQ(ucid, f.ucid) << f.name;
    }
}

TEST(SignalStatus, LocationIsNotTouchedWhenTheModemCannotReportIt) {
    char lac[20] = "\001", ucid[20] = "";
    ss_registrierung("\r\n+CGREG: 2,1,\"1A2B\",\"C3D4\"\r\n", "CGREG", lac, ucid);
    EXPECT_EQ(lac[0], 1);
    EXPECT_STREQ(ucid, "C3D4");
}

TEST(SignalStatus, RegistrationStatusClassifiesSpecialAnswers) {
    EXPECT_EQ(ss_regstatus("\r\n+CGREG: 0,1\r\n\r\nOK\r\n", "CGREG"), 1);
    EXPECT_EQ(ss_regstatus("\r\n+CGREG: 0,5\r\n\r\nOK\r\n", "CGREG"), 5);
    EXPECT_EQ(ss_regstatus("\r\n+CGREG: 0,3\r\n\r\nOK\r\n", "CGREG"), 0);
    EXPECT_EQ(ss_regstatus("\r\n+CME ERROR: SIM PIN required\r\n", "CGREG"), SS_REG_SIMPIN);
    EXPECT_EQ(ss_regstatus("~\003\x10\x20", "CGREG"), SS_REG_ENDE);
    EXPECT_EQ(ss_regstatus(nullptr, "CGREG"), 0);
}

TEST(SignalStatus, CellIdSplitsIntoShortIdAndRnc) {
    struct {
        const char* ucid;
        const char* kurz;
        const char* rnc;
    } faelle[] = {{"C3D4E5", "D4E5", "C3"},
                  {"1C3D4E5", "D4E5", "1C3"},
                  {"01C3D4E5", "D4E5", "01C3"},
                  {"C3D4", "C3D4", ""},
                  {"", "", ""},
                  {"\001", "", ""}};
    for (const auto& f : faelle) {
        char kurz[5], rnc[5];
        ss_zelle(f.ucid, kurz, rnc);
        EXPECT_STREQ(kurz, f.kurz) << f.ucid;
        EXPECT_STREQ(rnc, f.rnc) << f.ucid;
    }
}

// Operator answers in long name and numeric format.
struct copsfall {
    const char* name;
    const char* antwort;
    int ergebnis;
    const char* netz;
};
const copsfall copsfaelle[] = {
    {"vodafone_umts", "\r\n+COPS: 0,0,\"vodafone.de\",2\r\n\r\nOK\r\n", 1, "vodafone.de"},
    {"gsm_no_act", "\r\n+COPS: 0,0,\"T-Mobile D\"\r\n\r\nOK\r\n", 1, "T-Mobile D"},
    {"limited_service", "\r\n+COPS: 0,0,\"Limited Service\",2\r\n\r\nOK\r\n", 1, "Limited Service"},
    {"no_operator", "\r\n+COPS: 0\r\n\r\nOK\r\n", 0, ""},
    {"empty_name", "\r\n+COPS: 0,0,\"\",0\r\n\r\nOK\r\n", 1, "-"},
    {"fffff_name", "\r\n+COPS: 0,0,\"fffff262\",2\r\n\r\nOK\r\n", 1, "FFFFF"},
    {"ucs2_name", "\r\n+COPS: 0,0,\"004F0032002000440045\",2\r\n\r\nOK\r\n", 1, "O2 DE"},
    {"ucs2_latin1", "\r\n+COPS: 0,0,\"0045002D0050006C00FC0073\",0\r\n\r\nOK\r\n", 1,
     "E-Pl\xC3\xBCs"},
    {"binary_name", "\r\n+COPS: 0,0,\"E\x01Plus\",0\r\n\r\nOK\r\n", 2, "E.Plus"},
    {"cut_name", "\r\n+COPS: 0,0,\"vodaf", 0, ""},
    {"error", "\r\nERROR\r\n", 0, ""},
};

TEST(SignalStatus, OperatorAnswersGiveTheNetworkName) {
    for (const auto& f : copsfaelle) {
        char name[80] = "";
        EXPECT_EQ(ss_netzname(f.antwort, name), f.ergebnis) << f.name;
        if (f.ergebnis) {
            EXPECT_STREQ(name, f.netz) << f.name;
        }
    }
    std::string lang = "\r\n+COPS: 0,0,\"" + std::string(2000, 'A') + "\",2\r\n";
    char name[80] = "";
    EXPECT_EQ(ss_netzname(lang.c_str(), name), 0);
    lang = "\r\n+COPS: 0,0,\"" + std::string(80, 'A') + "\",2\r\n";
    EXPECT_EQ(ss_netzname(lang.c_str(), name), 0);
}

TEST(SignalStatus, NumericOperatorCode) {
    struct {
        const char* antwort;
        const char* plmn;
    } faelle[] = {
        {"\r\n+COPS: 0,2,\"26202\",2\r\n\r\nOK\r\n", "26202"},
        {"\r\n+COPS: 0,2,\"310410\",2\r\n\r\nOK\r\n", "310410"},
        {"\r\n+COPS: 0,0,\"vodafone.de\",2\r\n\r\nOK\r\n", ""}, // format switch failed
        {"\r\n+COPS: 0,2,\"2620", ""},                          // cut
        {"\r\n+COPS: 0,2,\"2620123\",2\r\n", ""},               // too long
        {"\r\n+COPS: 0\r\n\r\nOK\r\n", ""},
    };
    for (const auto& f : faelle) {
        char plmn[20] = "x";
        ss_plmn(f.antwort, plmn);
        EXPECT_STREQ(plmn, f.plmn) << f.antwort;
    }
}

TEST(SignalStatus, RadioModeAnswersPerDeviceKind) {
    struct {
        const char* name;
        int geraet;
        const char* antwort;
        int ba;
    } faelle[] = {
        {"huawei_cops_umts", 3, "\r\n+COPS: 0,0,\"vodafone.de\",2\r\n\r\nOK\r\n", 2},
        {"option_cops_act3", 1, "\r\n+COPS: 0,0,\"o2 - de\",3\r\n\r\nOK\r\n", 5},
        {"option_cops_act5", 1, "\r\n+COPS: 0,0,\"o2 - de\",5\r\n\r\nOK\r\n", 6},
        {"option_cops_act6", 1, "\r\n+COPS: 0,0,\"o2 - de\",6\r\n\r\nOK\r\n", 6},
        {"sierra_cops_act9", 4, "\r\n+COPS: 0,0,\"o2 - de\",9\r\n\r\nOK\r\n", 0},
        {"cops_lte_blanks", 3, "\r\n+COPS: 0, 0, \"Telekom.de\" , 7\r\n\r\nOK\r\n", 7},
        {"cops_nr_two_digits", 3, "\r\n+COPS: 0,0,\"Telekom.de\",12\r\n\r\nOK\r\n", 1},
        {"cops_gsm_no_act", 3, "\r\n+COPS: 0,0,\"T-Mobile D\"\r\n\r\nOK\r\n", 1},
        {"cops_no_operator", 3, "\r\n+COPS: 0\r\n\r\nOK\r\n", 0},
        {"cops_cut_after_quote", 3, "\r\n+COPS: 0,0,\"E-Plus\"", 1},
        {"zte_gprs", 8, "\r\n+ZPAS: \"GPRS\",\"CS_PS\"\r\n\r\nOK\r\n", 1},
        {"zte_umts", 8, "\r\n+ZPAS: \"UMTS\",\"CS_PS\"\r\n\r\nOK\r\n", 2},
        {"zte_edge", 8, "\r\n+ZPAS: \"EDGE\",\"PS_ONLY\"\r\n\r\nOK\r\n", 5},
        {"zte_hsdpa", 8, "\r\n+ZPAS: \"HSDPA\",\"CS_PS\"\r\n\r\nOK\r\n", 6},
        {"zte_no_service", 8, "\r\n+ZPAS: \"NO SERVICE\",\"CS_ONLY\"\r\n\r\nOK\r\n", 0},
        {"novatel_umts", 2, "\r\n$NWRAT: 0,2,3\r\n\r\nOK\r\n", 2},
        {"novatel_gprs", 2, "\r\n$NWRAT: 0,2,4\r\n\r\nOK\r\n", 1},
        {"novatel_no_network", 2, "\r\n$NWRAT: 0,2,0\r\n\r\nOK\r\n", 0},
        {"novatel_cut", 2, "\r\n$NWRAT: 0,2", 0},
        {"novatel_garbage", 2, "\r\n$NWRAT: 0,2,x\r\n", 0},
        {"no_answer", 2, "", 0},
    };
    for (const auto& f : faelle)
        EXPECT_EQ(ss_betriebsart(f.geraet, f.antwort), f.ba) << f.name;
}

TEST(SignalStatus, ModeTextFollowsModeAndSpeed) {
    struct {
        int ba;
        long hoch, runter;
        const char* text;
        char buchstabe;
        int baneu;
    } faelle[] = {
        {1, 1000, 8000, "GPRS", 'G', 1},  {1, 1000, 9000, "EDGE", 'E', 5},
        {5, 0, 0, "EDGE", 'E', 5},        {2, 6000, 50000, "UMTS", 'U', 2},
        {2, 6000, 50001, "HSPA", 'H', 6}, {6, -1, -1, "HSPA", 'H', 6},
        {0, 9999, 99999, "", ' ', 0},     {1, -1, 99999, "GPRS", 'G', 1},
        {7, 0, 0, "LTE", 'L', 7},         {7, 99999, 99999, "LTE", 'L', 7},
    };
    for (const auto& f : faelle) {
        int ba = f.ba;
        char text[8], b;
        ss_betriebsarttext(ba, f.hoch, f.runter, text, b);
        EXPECT_STREQ(text, f.text) << f.ba << " " << f.runter;
        EXPECT_EQ(b, f.buchstabe);
        EXPECT_EQ(ba, f.baneu);
    }
}

// The access technology of +COPS through to what the windows show: 27.007 numbers 0..7,
// the modem's 9 for no service, and a number the table does not know.
TEST(SignalStatus, AccessTechnologyGivesModeTextLetterAndFamily) {
    struct {
        int act;
        int ba;
        const char* text;
        char buchstabe;
        int familie;
    } const faelle[] = {
        {0, 1, "GPRS", 'G', 1},  {1, 1, "GPRS", 'G', 1}, {2, 2, "UMTS", 'U', 2},
        {3, 5, "EDGE", 'E', 1},  {4, 6, "HSPA", 'H', 2}, {5, 6, "HSPA", 'H', 2},
        {6, 6, "HSPA", 'H', 2},  {7, 7, "LTE", 'L', 0},  {9, 0, "", ' ', 0},
        {11, 1, "GPRS", 'G', 1},
    };
    for (const auto& f : faelle) {
        char antwort[80];
        snprintf(antwort, sizeof antwort, "\r\n+COPS: 0,0,\"Netz\",%d\r\n\r\nOK\r\n", f.act);
        int ba = ss_betriebsart(3, antwort);
        EXPECT_EQ(ba, f.ba) << f.act;
        char text[8], b;
        ss_betriebsarttext(ba, 0, 0, text, b);
        EXPECT_EQ(ba, f.ba) << f.act;
        EXPECT_STREQ(text, f.text) << f.act;
        EXPECT_EQ(b, f.buchstabe) << f.act;
        EXPECT_EQ(ss_familie(ba), f.familie) << f.act;
    }
}

// LTE stands outside both families: no mode-change line either way, and the family seen
// last stays for the next change.
TEST(SignalStatus, LteCycleShowsItsModeWithoutAModeChangeLine) {
    _de = false;
    inidat.net[0] = 0;
    ss_signal_t s;
    ss_netz_t n;
    ss_antworten_t a;
    a.geraet = 3;
    a.csq = "\r\n+CSQ:20,99\r\n\r\nOK\r\n";
    a.cops = "\r\n+COPS: 0,0,\"Telekom.de\",2\r\n\r\nOK\r\n";
    a.reg = "\r\n+CGREG: 2,1,\"1A2B\",\"C3D4\"\r\n\r\nOK\r\n";
    a.zyklus = 1;
    a.stempel = "T";
    ss_ergebnis_t e;
    ss_zyklus(a, s, n, true, false, e);
    ASSERT_EQ(e.nlog, 2);
    EXPECT_STREQ(e.log[1], "T New mode of operation: UMTS.");
    EXPECT_EQ(n.ba_alt, 2);

    a.cops = "\r\n+COPS: 0,0,\"Telekom.de\",7\r\n\r\nOK\r\n";
    a.reg = "\r\n+CGREG: 1,\"1A2B\",\"00C3D4E5\",7\r\n\r\n+CGREG: 2,1,\"1A2B\",\"C3D4E5\",7\r\n";
    a.zyklus = 2;
    ss_zyklus(a, s, n, true, false, e);
    EXPECT_EQ(n.ba, 7);
    EXPECT_STREQ(e.zeile2, " LTE");
    EXPECT_EQ(e.modusbuchstabe, 'L');
    EXPECT_TRUE(e.zellwechsel);
    ASSERT_EQ(e.nlog, 1);
    EXPECT_STREQ(e.log[0], "T Cell: LAC=1A2B CID=C3D4E5");
    EXPECT_EQ(n.ba_alt, 2);
    char z[200];
    ss_log_betriebsart(z, sizeof z, "T", n.ba, false);
    EXPECT_STREQ(z, "T Mode of operation: LTE.");

    // Back to UMTS: the family did not change.
    a.cops = "\r\n+COPS: 0,0,\"Telekom.de\",6\r\n\r\nOK\r\n";
    a.zyklus = 3;
    ss_zyklus(a, s, n, true, false, e);
    EXPECT_STREQ(e.zeile2, " HSPA");
    EXPECT_EQ(e.nlog, 0);
}

TEST(SignalStatus, AllowedNetworkListByNameOrCode) {
    const char* liste = ";vodafone.de;26203";
    EXPECT_TRUE(ss_netzerlaubt(liste, "vodafone.de", "26202"));
    EXPECT_TRUE(ss_netzerlaubt(liste, "E-Plus", "26203"));
    EXPECT_FALSE(ss_netzerlaubt(liste, "E-Plus", "26207"));
    EXPECT_FALSE(ss_netzerlaubt(liste, "vodafone", "2620")); // partial name, short code
    EXPECT_FALSE(ss_netzerlaubt(";2620;", "x", "2620"));
    EXPECT_TRUE(ss_netzerlaubt("vodafone.de", "E-Plus", "")); // no list: everything allowed
}

TEST(SignalStatus, StatusAndLogLinesInBothLanguages) {
    ss_netz_t n;
    strcpy(n.name, "vodafone.de");
    char z[200];
    ss_statuszeile(n, z, sizeof z);
    EXPECT_STREQ(z, " vodafone.de");
    strcpy(n.plmn, "26202");
    ss_statuszeile(n, z, sizeof z);
    EXPECT_STREQ(z, " vodafone.de [26202]");
    EXPECT_TRUE(ss_log_zelle(z, sizeof z, "S", n));
    EXPECT_STREQ(z, "S Cell: PLMN=26202");
    strcpy(n.lac, "1A2B");
    strcpy(n.ucid, "C3D4E5");
    ss_statuszeile(n, z, sizeof z);
    EXPECT_STREQ(z, " vodafone.de [26202.1A2B.C3D4E5]");
    n.plmn[0] = 1;
    ss_statuszeile(n, z, sizeof z);
    EXPECT_STREQ(z, " vodafone.de [1A2B.C3D4E5]");
    ss_netz_t leer;
    EXPECT_FALSE(ss_log_zelle(z, sizeof z, "S", leer));

    ss_signal_t s;
    ss_signal(s, 15, true, false);
    s.sig = 45; // 45 % at -83 dBm
    _de = false;
    ss_log_signal(z, sizeof z, "S", s, false);
    EXPECT_STREQ(z, "S Signal strength: 45% -83dBm");
    ss_log_betriebsart(z, sizeof z, "S", 6, true);
    EXPECT_STREQ(z, "S New mode of operation: UMTS.");
    ss_log_dienst(z, sizeof z, "S");
    EXPECT_STREQ(z, "S Network service not available.");
    ss_log_fremdnetz(z, sizeof z, "S", "100%s%n");
    EXPECT_STREQ(z, "S Unwanted network: 100%s%n"); // a name is text, never a format
    _de = true;
    ss_log_signal(z, sizeof z, "S", s, false);
    EXPECT_STREQ(z, "S Signalst\xC3\xA4rke: 45% -83dBm");
    ss_log_signal(z, sizeof z, "S", s, true);
    EXPECT_STREQ(z, "S Signalstaerke: 45% -83dBm");
    ss_log_betriebsart(z, sizeof z, "S", 5, false);
    EXPECT_STREQ(z, "S Betriebsart: GPRS.");
    ss_log_dienst(z, sizeof z, "S");
    EXPECT_STREQ(z, "S Dienst nicht verf\xC3\xBCgbar.");
    ss_log_fremdnetz(z, sizeof z, "S", "E-Plus");
    EXPECT_STREQ(z, "S Fremdnetz erkannt: E-Plus");
    _de = false;
}

TEST(SignalStatus, CycleFillsStatusLinesAndLogsChanges) {
    _de = false;
    strcpy(inidat.net, ";vodafone.de;");
    ss_signal_t s;
    ss_netz_t n;
    ss_antworten_t a;
    a.geraet = 3;
    a.csq = "\r\n+CSQ: 15,99\r\n\r\nOK\r\n";
    a.cops = "\r\n+COPS: 0,0,\"E-Plus\",2\r\n\r\nOK\r\n";
    a.copsnum = "\r\n+COPS: 0,2,\"26203\",2\r\n\r\nOK\r\n";
    a.reg = "\r\n+CGREG: 2,1,1A2B,C3D4E5\r\n\r\nOK\r\n";
    a.hoch = 100;
    a.runter = 200;
    a.zyklus = 1;
    a.stempel = "T";
    ss_ergebnis_t e;
    ss_zyklus(a, s, n, true, true, e);
    EXPECT_STREQ(e.zeile1, " E-Plus [26203.1A2B.C3D4E5]");
    EXPECT_STREQ(e.zeile2, " UMTS");
    EXPECT_STREQ(e.zeile3, " 50% = -83dBm");
    EXPECT_EQ(e.modusbuchstabe, 'U');
    EXPECT_STREQ(n.cidkurz, "D4E5");
    EXPECT_STREQ(n.rnc, "C3");
    EXPECT_TRUE(e.netzwechsel);
    EXPECT_TRUE(e.zellwechsel);
    EXPECT_TRUE(netzfremd);
    ASSERT_EQ(e.nlog, 4);
    EXPECT_STREQ(e.log[0], "T Unwanted network: E-Plus");
    EXPECT_STREQ(e.log[1], "T Cell: PLMN=26203 LAC=1A2B CID=C3D4E5");
    EXPECT_STREQ(e.log[2], "T New mode of operation: UMTS.");
    EXPECT_STREQ(e.log[3], "T Signal strength: 50% -83dBm");
    ss_mtext(e);
    EXPECT_STREQ(cc_mtext[2], " UMTS");
    EXPECT_STREQ(cc_mtext[3], " 50% = -83dBm");

    // The same answers again: nothing new to log.
    a.zyklus = 2;
    ss_zyklus(a, s, n, true, true, e);
    EXPECT_FALSE(e.netzwechsel);
    EXPECT_FALSE(e.zellwechsel);
    EXPECT_EQ(e.nlog, 0);

    // Garbage everywhere: the signal survives four failures, the name becomes " No Service".
    a.csq = a.cops = a.copsnum = a.reg = "\x7f\xff garbage \r\n";
    a.zyklus = 3;
    ss_zyklus(a, s, n, true, true, e);
    EXPECT_EQ(s.sig, 50);
    EXPECT_STREQ(n.name, " No Service");
    EXPECT_STREQ(n.plmn, "");
    EXPECT_STREQ(n.lac, "");
    EXPECT_EQ(n.ba, 0);
    EXPECT_STREQ(e.zeile1, "  No Service");
    EXPECT_STREQ(e.namefehler, "");
    EXPECT_STREQ(e.zeile2, " ");
    EXPECT_FALSE(e.netzwechsel);

    // A name with control characters is refused and handed out for the service log.
    a.cops = "\r\n+COPS: 0,0,\"E\tPlus\",2\r\n";
    ss_zyklus(a, s, n, true, true, e);
    EXPECT_STREQ(e.namefehler, "E.Plus");
    EXPECT_STREQ(n.name, " No Service");
}

TEST(SignalStatus, CycleWithLimitedServicePublishesNothing) {
    ss_signal_t s;
    ss_netz_t n;
    ss_antworten_t a;
    a.geraet = 8;
    a.csq = "\r\n+CSQ: 20,99\r\n\r\nOK\r\n";
    a.cops = "\r\n+COPS: 0,0,\"Limited Service\",2\r\n\r\nOK\r\n";
    a.modus = "\r\n+ZPAS: \"LIMITED SERVICE\",\"CS_ONLY\"\r\n\r\nOK\r\n";
    a.reg = "\r\n+CREG: 2,2,\"0FA2\",\"3B91\"\r\n\r\nOK\r\n";
    a.zyklus = 5;
    ss_ergebnis_t e;
    ss_zyklus(a, s, n, true, true, e);
    EXPECT_EQ(s.sig, 66);
    EXPECT_STREQ(n.lac, "0FA2"); // ZTE answers +CREG? under its own tag
    EXPECT_STREQ(e.zeile1, "");
    EXPECT_EQ(e.nlog, 0);
}

} // namespace
