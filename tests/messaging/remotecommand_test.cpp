// Remote commands: which entry a message or call triggers and the command it builds, and
// the effects of a match with a real user program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>

#include "connection/userprograms.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "messaging/remotecommand.h"
#include "testsupport.h"

namespace {

void eintrag(int i, int sms, const char* nr, const char* key, const char* cmd) {
    inidat.sms[i] = sms;
    strcpy(inidat.smsnr[i], nr);
    strcpy(inidat.smskey[i], key);
    strcpy(inidat.cmd[i], cmd);
}

TEST(RemoteCommand, EntryNumberKeywordValuesAndWords) {
    const std::string lang = "START" + std::string(495, 'a');
    struct fall {
        int art;
        const char* nummer;
        bool alpha;
        std::string text;
        const char* cmd0; // replaces the command of entry 0 when set
        int eintrag;
        rk_wort_t wort;
        bool ausfuehren;
        std::string vorlage, befehl, w1;
    } const faelle[] = {
        {1, "+4917012", false, "please start now x;rm *", nullptr, 0, RK_CONNECT, true,
         "echo %1 %3 %x 50%%", "tandor_CONNECT  echo +4917012  now x_rm _ %x 50%", "+4917012"},
        // another number, and an alphanumeric sender whose digits spell the entry's number
        {1, "+4917013", false, "start", nullptr, -1, RK_KEIN, false, "", "", ""},
        {1, "+4917012", true, "START", nullptr, -1, RK_KEIN, false, "", "", ""},
        // a word the message supplies acts alone; the Latin-1 keyword is found in any case
        {1, "+4917012", true, "l\xe4ufttandor_end; rm -rf ~", nullptr, 1, RK_END, false, "",
         "tandor_end; rm -rf ~", "+4917012"},
        {1, "+49 17012;id", false, "L\xc4UFT ls", nullptr, 1, RK_KEIN, true, "%2", " ls", ""},
        {1, "+4917012", false, lang + "b", nullptr, -1, RK_KEIN, false, "", "", ""},
        {1, "+4917012", false, lang, "%2%2", 0, RK_KEIN, true, "%2%2", std::string(799, 'a'),
         "+4917012"},
        {1, "+4917012", false, "start", "tandor_END %2", 0, RK_END, false, "%2", "tandor_END ",
         "+4917012"},
        {2, "+4930", false, "start", nullptr, 2, RK_RECONNECT, true, "sh %0 %1 %2",
         "tandor_reconnect sh 4930 +4930 %2", "+4930"},
        {2, "030", false, "", nullptr, 2, RK_RECONNECT, true, "sh %0 %1 %2",
         "tandor_reconnect sh %0 030 %2", "030"},
    };
    for (const auto& f : faelle) {
        eintrag(0, 1, "+4917012", "START", f.cmd0 ? f.cmd0 : "tandor_CONNECT  echo %1 %3 %x 50%%");
        eintrag(1, 1, "", "L\xc4UFT", "%2");
        eintrag(2, 2, "", "", "tandor_reconnect sh %0 %1 %2");
        rk_treffer_t t;
        rk_finden(f.art, f.nummer, f.alpha, f.text.c_str(), &t);
        const std::string n = f.text.substr(0, 40);
        EXPECT_TRUE(t.geprueft) << n;
        EXPECT_EQ(t.eintrag, f.eintrag) << n;
        if (t.eintrag < 0 || f.eintrag < 0) continue;
        EXPECT_EQ(t.wort, f.wort) << n;
        EXPECT_EQ(t.ausfuehren, f.ausfuehren) << n;
        if (f.ausfuehren) {
            EXPECT_EQ(t.vorlage, f.vorlage) << n;
        }
        EXPECT_EQ(t.befehl, f.befehl) << n;
        EXPECT_EQ(t.werte[1], f.w1) << n;
    }
    inidat.cmd[0][0] = inidat.cmd[1][0] = 0;
    rk_treffer_t t;
    rk_finden(1, "+4917012", false, "start", &t);
    EXPECT_FALSE(t.geprueft);
}

// The logs, the flags of the words, and a template whose values reach the program as
// they are: nothing of the message is run as shell text.
TEST(RemoteCommand, WordsSetTheirFlagsAndTheTemplateRunsWithTheValues) {
    ts_workdir();
    inidat.mod['M'] = 1;
    inidat.round = 1;
    _de = false;
    eintrag(0, 1, "", "GO", "tandor_END printf '%s\\n' \"%2\" > out");
    const char* koerper = "go$(touch x)'\"; touch y";
    rk_treffer_t t;
    rk_finden(1, "+491", false, koerper, &t);
    bool ende = false;
    rk_ausfuehren(t, 1, &ende);
    EXPECT_TRUE(ende);
    EXPECT_TRUE(ts_waitfor("out", "y\n", 3000));
    EXPECT_EQ(ts_readfile("out"), std::string(koerper + 2) + "\n");
    sp_stop(0);
    EXPECT_NE(ts_readfile("sms.txt").find("Command: tandor_END printf"), std::string::npos);
    std::string log = ts_readfile("connlog.txt");
    EXPECT_NE(log.find("Program terminated by SMS."), std::string::npos) << log;
    EXPECT_NE(log.find("Command by SMS: printf '%s\\n' \"$(touch x)"), std::string::npos) << log;

    // A word from the message acts, and the rest behind it never runs.
    for (const char* k : {"tandor_CONNECT", "tandor_RECONNECT", "%2", "tandor_DISCONNECT"}) {
        eintrag(0, 1, "", "", k);
        rk_finden(1, "+491", false, "tandor_END; touch z", &t);
        ende = false;
        rk_ausfuehren(t, 1, &ende);
        if (!strcmp(k, "tandor_CONNECT")) {
            EXPECT_TRUE(inidat.constart);
        }
        if (!strcmp(k, "tandor_RECONNECT")) {
            EXPECT_EQ(unterbrechung_gewuenscht.load(), 2);
        }
        EXPECT_EQ(ende, !strcmp(k, "%2")) << k;
    }
    EXPECT_FALSE(inidat.constart);
    usleep(300000);
    for (const char* d : {"x", "y", "z"})
        EXPECT_NE(access(d, F_OK), 0) << d;
}

} // namespace
