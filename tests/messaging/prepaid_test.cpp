// Prepaid tasks: the top-up template, device command and SMS code forms, the cleaning of a
// network answer, log masking, and a device command from the frontend record against the
// modem simulator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/frontendrecord.h"
#include "core/programstate.h"
#include "messaging/prepaid.h"
#include "modem/atexchange.h"
#include "modem/modemsimulator.h"
#include "testsupport.h"

namespace {

bool has(const std::string& s, const std::string& t) {
    return s.find(t) != std::string::npos;
}

TEST(PrepaidCodes, TemplateFilledOrLeftOrCodeAlone) {
    const std::string lang(200, '1');
    struct Fall {
        std::string vorlage, code, erwartet;
    } const faelle[] = {
        {"*104*<INPUT>#", "1234567890123", "*104*1234567890123#"},
        {"*104*<input>#<INPUT>", "12", "*104*12#<INPUT>"}, // only the first placeholder
        {"*100#", "1234", "*100#"},                        // no placeholder: the template itself
        {"", "*123#", "*123#"},                            // no template: the code
        {"*104*<INPUT>#", "", ""},                         // nothing typed, nothing sent
        {"*104*<INPUT>#", std::string(282, '7'), "*104*" + std::string(282, '7') + "#"},
        {"*104*<INPUT>#", std::string(283, '7'), std::string(283, '7')}, // 296 together
        {std::string(100, '*') + "<INPUT>", lang, lang},
    };
    for (const auto& f : faelle) {
        char out[300];
        pp_vorlage(f.vorlage.c_str(), f.code.c_str(), out, sizeof out);
        EXPECT_EQ(out, f.erwartet) << f.vorlage << " + " << f.code;
    }
}

TEST(PrepaidCodes, DeviceCommandWaitsClampedAndDefaulted) {
    struct Fall {
        const char* k;
        bool ok;
        long w1, w2;
        const char* befehl;
    } const faelle[] = {
        {":500:2000:AT+CSQ", true, 500, 2000, "AT+CSQ"},
        {"DEVICE:500:2000:AT+CSQ", true, 500, 2000, "AT+CSQ"},
        {":::ATI", true, 77, 3000, "ATI"},
        {":10000:30000:AT", true, 10000, 30000, "AT"},
        {":10001:30001:AT", true, 10000, 30000, "AT"},
        {":99999999999999999999999:99999999999999999999:AT", true, 10000, 30000, "AT"},
        {":5x:-1:AT", true, 77, 3000, "AT"},
        {":0:0:AT:X", true, 0, 0, "AT:X"}, // later colons belong to the command
        {":500:AT+CSQ", false, 500, 3000, ""},
        {":AT+CSQ", false, 77, 3000, ""},
        {"AT+CSQ", false, 77, 3000, ""},
    };
    for (const auto& f : faelle) {
        long w1 = -1, w2 = -1;
        char b[101];
        EXPECT_EQ(pp_geraetekommando(f.k, 77, &w1, &w2, b, sizeof b), f.ok) << f.k;
        if (!f.ok) continue;
        EXPECT_EQ(w1, f.w1) << f.k;
        EXPECT_EQ(w2, f.w2) << f.k;
        EXPECT_STREQ(b, f.befehl) << f.k;
    }
}

TEST(PrepaidCodes, SmsCodeNumberAndTextBounded) {
    struct Fall {
        const char* code;
        bool ok;
        const char* nummer;
        const char* text;
    } const faelle[] = {
        {"SMS:+4912345 hello", true, "4912345", "hello"},
        {"sms:012345 hello you", true, "-012345", "hello you"},
        {"SMS:4912345_x", true, "-4912345", "x"},
        {"SMS:+4912345", true, "4912345", ""}, // nothing after the digits
        {"SMS:+49123456789012345678", true, "49123456789012345678", ""},
        {"SMS:+491234567890123456789 x", false, "", ""}, // too long to name a send file
        {"SMS:+ hello", false, "", ""},
        {"SMS:hello", false, "", ""},
        {"*100#", false, "", ""},
    };
    for (const auto& f : faelle) {
        char nummer[22] = "x", text[50] = "x";
        EXPECT_EQ(pp_smscode(f.code, nummer, sizeof nummer, text, sizeof text), f.ok) << f.code;
        EXPECT_STREQ(nummer, f.nummer) << f.code;
        EXPECT_STREQ(text, f.text) << f.code;
    }
}

TEST(PrepaidCodes, AnswerCleanedAndCommandsMasked) {
    struct Reinigen {
        const char* roh;
        const char* sauber;
    } const reinigen[] = {
        {"Guthaben: 5,00 EUR\r\nG\xfcltig bis 31.12.",
         "Guthaben: 5,00 EUR\r\nG\xfcltig bis 31.12."},
        {"Gr\x81\xdf"
         "e, K\x84se \xe9t\xe9",
         "Gr\xfc\xdf"
         "e, K\xe4se \xe9t\xe9"},
        {"a\x1b[0mb\tc\x7f"
         "d\x85\x9f\xa0",
         "a_[0mb_c_d__\xa0"},
    };
    for (const auto& f : reinigen) {
        char t[100];
        strcpy(t, f.roh);
        pp_bereinigen(t);
        EXPECT_STREQ(t, f.sauber) << f.roh;
    }
    struct Maske {
        const char* befehl;
        const char* geloggt;
    } const maske[] = {
        {"AT+CPIN=\"1234\"\r", "AT+CPIN=xxxx\r"},
        {"at+cpwd=\"SC\",\"1234\",\"5678\"", "at+cpwd=xxxx"},
        {"AT+CSQ;+CLCK=\"SC\",0,\"1234\"\r\nOK", "AT+CSQ;+CLCK=xxxx\r\nOK"},
        {"AT+CPIN?\r", "AT+CPIN?\r"},
    };
    for (const auto& f : maske) {
        char out[100];
        pp_maskiert(f.befehl, out, sizeof out);
        EXPECT_STREQ(out, f.geloggt) << f.befehl;
    }
    char eng[10];
    pp_maskiert("AT+CPIN=1234", eng, sizeof eng);
    EXPECT_STREQ(eng, "AT+CPIN=x");
}

// A frontend's device command is sent to the modem, its answer lands in the record and the
// field is cleared; a command word stays for the frontend step; a Novatel without its
// library sends nothing; an inadmissible USSD code sends nothing and tells the user.
TEST(PrepaidTask, DeviceCommandFromTheRecord) {
    ASSERT_FALSE(ts_workdir().empty());
    ps_resetinidat();
    inidat.mod['P'] = 1;
    comzeit = 50;
    geraet = 3;
    cm_ini();
    ts_modemsim sim;
    ASSERT_TRUE(sim.start({"--type", "3", "--nopin"}));
    ASSERT_TRUE(cm_open(sim.port.c_str(), false));
    static tdrio_t rec{};
    tdriow = tdrior = &rec;
    char t[1000];

    strcpy(rec.command, ":100:2000:AT+CSQ");
    strcpy(rec.answer, "old");
    EXPECT_EQ(prepaid_aufgaben("*100#", "*104*<INPUT>#", nullptr, t), 1);
    EXPECT_TRUE(has(rec.answer, "+CSQ: ")) << rec.answer;
    EXPECT_TRUE(has(rec.answer, "OK")) << rec.answer;
    EXPECT_STREQ(rec.command, "");
    EXPECT_EQ(sm_msgprepaidzustand.load(), 0); // a frontend's answer is not shown to the user
    EXPECT_TRUE(has(sim.transcript(), "AT+CSQ\\r")) << sim.transcript();
    EXPECT_FALSE(has(sim.transcript(), "CUSD"));
    EXPECT_TRUE(has(ts_readfile("servilog.txt"), "External device command: :100:2000:AT+CSQ"));

    strcpy(rec.command, "tandor_CONNECT");
    EXPECT_EQ(prepaid_aufgaben("*100#", "*104*<INPUT>#", nullptr, t), 0);
    EXPECT_STREQ(rec.command, "tandor_CONNECT");

    geraet = 2;
    novateldll = false;
    strcpy(rec.command, ":::AT+CPIN=\"1234\"");
    EXPECT_EQ(prepaid_aufgaben("*100#", "*104*<INPUT>#", nullptr, t), 1);
    EXPECT_STREQ(rec.answer, "NO NOVATEL DLL.");
    EXPECT_STREQ(rec.command, "");
    EXPECT_FALSE(has(sim.transcript(), "CPIN=\"1234"));
    std::string log = ts_readfile("servilog.txt");
    EXPECT_TRUE(has(log, "External device command: :::AT+CPIN=xxxx")) << log;
    EXPECT_FALSE(has(log, "1234")) << log;

    // A code that would end the AT command and start another one is not sent at all.
    geraet = 3;
    prepaid_gewuenscht = true;
    strcpy(prepaids, "*100\"#\r\nAT+CFUN=0");
    EXPECT_EQ(prepaid_aufgaben("*100#", "*104*<INPUT>#", nullptr, t), 1);
    EXPECT_EQ(sm_msgprepaidzustand.load(), 1);
    EXPECT_TRUE(has(sm_msgprepaidnachricht, "cannot be sent")) << sm_msgprepaidnachricht;
    EXPECT_FALSE(prepaid_gewuenscht);
    EXPECT_STREQ(prepaids, "");
    EXPECT_FALSE(has(sim.transcript(), "CUSD"));
    EXPECT_FALSE(has(sim.transcript(), "CFUN=0"));

    // A balance query: the answer, decoded by the calls layer, cleaned for the box; the
    // connection log gets it on one line.
    inidat.round = 1;
    sm_msgprepaidzustand = 0;
    sim.control("ussdcoding ucs2");
    sim.control("ussddelay 200");
    sim.control("ussd Guthaben: 5,00 EUR\x01G\xC3\xBCltig");
    prepaid_gewuenscht = true;
    EXPECT_EQ(prepaid_aufgaben("*100#", "*104*<INPUT>#", nullptr, t), 1);
    EXPECT_TRUE(has(sim.transcript(), "USSD code: *100#"));
    EXPECT_EQ(sm_msgprepaidzustand.load(), 1);
    EXPECT_TRUE(
        has(sm_msgprepaidnachricht, "Answer from your mobile network:  \n\nGuthaben: 5,00 EUR"))
        << sm_msgprepaidnachricht;
    EXPECT_TRUE(has(ts_readfile("servilog.txt"), "Answer from network: Answer from your mobile"));
    EXPECT_TRUE(has(ts_readfile("connlog.txt"), "Account answer: Guthaben: 5,00 EUR"));
    EXPECT_TRUE(has(t, "EUR_G\xfcltig")) << t; // umlaut kept, control byte replaced
    tdriow = tdrior = nullptr;
    cm_end();
}

} // namespace
