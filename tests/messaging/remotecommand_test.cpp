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
        int eintrag = -1;
        rk_wort_t wort = RK_KEIN;
        bool ausfuehren = false;
        std::string vorlage = "", befehl = "";
        const char* cmd0 = nullptr; // replaces the command of entry 0 when set
    } const faelle[] = {
        {1, "+4917012", false, "please start now x;rm *", 0, RK_CONNECT, true, "echo %1 %3 %x 50%%",
         "tandor_CONNECT  echo +4917012  now x_rm _ %x 50%"},
        // another number, and an alphanumeric sender whose digits spell the entry's number
        {1, "+4917013", false, "start"},
        {1, "+4917012", true, "START"},
        // a word the message supplies acts alone; the Latin-1 keyword is found in any case
        {1, "+4917012", true, "l\xe4ufttandor_end; rm -rf ~", 1, RK_END, false, "",
         "tandor_end; rm -rf ~+4917012"},
        {1, "+49 17012;id", false, "L\xc4UFT ls", 1, RK_KEIN, true, "%2%1", " ls"},
        {1, "+4917012", false, lang + "b"},
        {1, "+4917012", false, lang, 0, RK_KEIN, true, "%2%2", std::string(799, 'a'), "%2%2"},
        {1, "+4917012", false, "start", 0, RK_END, false, "", "tandor_END ", "tandor_END %2"},
        {2, "+4930", false, "start", 2, RK_RECONNECT, true, "sh %0 %1 %2",
         "tandor_reconnect sh 4930 +4930 %2"},
        {2, "030", false, "", 2, RK_RECONNECT, true, "sh %0 %1 %2",
         "tandor_reconnect sh %0 030 %2"},
    };
    for (const auto& f : faelle) {
        eintrag(0, 1, "+4917012", "START", f.cmd0 ? f.cmd0 : "tandor_CONNECT  echo %1 %3 %x 50%%");
        eintrag(1, 1, "", "L\xc4UFT", "%2%1");
        eintrag(2, 2, "", "", "tandor_reconnect sh %0 %1 %2");
        rk_treffer_t t;
        rk_finden(f.art, f.nummer, f.alpha, f.text.c_str(), &t);
        const std::string n = f.text.substr(0, 40);
        EXPECT_TRUE(t.geprueft) << n;
        EXPECT_EQ(t.eintrag, f.eintrag) << n;
        if (t.eintrag < 0 || f.eintrag < 0) continue;
        EXPECT_EQ(t.wort, f.wort) << n;
        EXPECT_EQ(t.ausfuehren, f.ausfuehren) << n;
        EXPECT_EQ(t.befehl, f.befehl) << n;
        if (f.ausfuehren) {
            EXPECT_EQ(t.vorlage, f.vorlage) << n;
        }
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

// A call acts on every call entry that matches, with its number as %1; a number that is
// not '+' and 4 to 48 digits counts as none.
TEST(RemoteCommand, ACallRunsEveryMatchingCallEntry) {
    ts_workdir();
    inidat.round = 1;
    _de = false;
    eintrag(0, 2, "", "", "tandor_CONNECT printf '%s\\n' %1 > a");
    eintrag(1, 2, "+4930999", "", "printf x > b");
    eintrag(2, 2, "+4930123", "", "printf '%s\\n' %0 > c");
    inidat.constart = false;
    bool ende = false;
    rk_anruf("+4930123", &ende);
    EXPECT_TRUE(inidat.constart);
    EXPECT_TRUE(ts_waitfor("a", "\n", 3000));
    EXPECT_TRUE(ts_waitfor("c", "\n", 3000));
    EXPECT_EQ(ts_readfile("a"), "+4930123\n");
    EXPECT_EQ(ts_readfile("c"), "4930123\n");
    rk_anruf("+4930123;id", &ende);
    rk_anruf("+49", &ende);
    usleep(300000);
    EXPECT_NE(access("b", F_OK), 0);
    std::string log = ts_readfile("connlog.txt");
    EXPECT_EQ(1, ts_count(log, "Call recieved:")) << log;
    EXPECT_NE(log.find("Call recieved: +4930123\n"), std::string::npos) << log;
    EXPECT_EQ(3, ts_count(log, "Connection activated by call.")) << log;
    for (int i = 0; i < 3; i++)
        sp_stop(i);
    EXPECT_FALSE(ende);
}

} // namespace
