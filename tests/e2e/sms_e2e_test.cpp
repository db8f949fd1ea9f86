// SMS with the real binary against the simulator's SMS store: received messages of every
// coding reach sms.txt and sms_in before the modem deletes them (also across a rest that
// resets the modem to text mode), a keyword SMS connects and hands its text to a user
// command as one argument and only once, and files in sms_send go out as PDUs or are set
// aside when they cannot be sent. The PDUs are built and read here, independently of the
// program's own codec.
#include "modem/modemsimulator.h"
#include "smspdutest.h"
#include "tandorrun.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace smspdutest;

// --- the runs ---------------------------------------------------------------------------

const std::string KOPF = "01 0AA000000123-0000000000001-0000043" + std::string(16, '0');

// Milliseconds of the UTC day, from a transcript line's "hh:mm:ss.mmm".
long tagesms(const std::string& zeile) {
    int h, m, s, ms;
    if (sscanf(zeile.c_str(), "%d:%d:%d.%d", &h, &m, &s, &ms) != 4) return -1;
    return ((h * 60L + m) * 60 + s) * 1000 + ms;
}

long mtimetagesms(const std::string& pfad) {
    struct stat st;
    if (stat(pfad.c_str(), &st) != 0) return -1;
    return (st.st_mtim.tv_sec % 86400) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

// Files of a directory.
std::vector<std::string> dateien(const std::string& d) {
    std::vector<std::string> r;
    if (DIR* v = opendir(d.c_str())) {
        while (dirent* e = readdir(v))
            if (e->d_name[0] != '.') r.push_back(e->d_name);
        closedir(v);
    }
    return r;
}

// A file at least 5 s old, written in one step: the program takes it at its next send.
void legeab(const std::string& pfad, const std::string& inhalt) {
    ts_writefile(pfad + ".tmp", inhalt);
    timeval t[2];
    gettimeofday(&t[0], nullptr);
    t[0].tv_sec -= 5;
    t[1] = t[0];
    utimes((pfad + ".tmp").c_str(), t);
    ASSERT_EQ(rename((pfad + ".tmp").c_str(), pfad.c_str()), 0);
}

// The records helper_argv wrote: its working directory, then its arguments.
std::vector<std::vector<std::string>> aufrufe(const std::string& pfad) {
    std::vector<std::vector<std::string>> r;
    std::string s = ts_readfile(pfad), teil;
    std::vector<std::string> satz;
    for (char c : s) {
        if (c == '\x1e') {
            r.push_back(satz);
            satz.clear();
        } else if (c == '\0') {
            satz.push_back(teil);
            teil.clear();
        } else {
            teil += c;
        }
    }
    return r;
}

struct SmsRun : ModemRun {
    std::string argvdatei = dir + "/argv.out";

    void SetUp() override {
        ModemRun::SetUp();
        if (HasFatalFailure()) return;
        mkdir((dir + "/sms_in").c_str(), 0700);
        mkdir((dir + "/sms_send").c_str(), 0700);
    }
    void ini(const std::string& zeilen) {
        ts_writefile(dir + "/tandor.ini", KOPF +
                                              "\nMOD=PIJM\nLAN=English\nCOM=/dev/ttyUSB0;NONE\n"
                                              "CONA=E\nCON=\nAPN=internet.t-mobile\n" +
                                              zeilen);
    }
    void starte() { pid = ts_spawn(ts_netzstart(dir, modem.port, ctl, 4), dir + "/stdout.txt"); }
    std::vector<std::string> ausgang() { return ts_readlines(modem.dir + "/outbox"); }
    // The answer that follows the n-th line from the program beginning with text.
    std::string antwort(const std::string& text, size_t n) {
        std::vector<std::string> z = ts_readlines(modem.dir + "/transcript");
        size_t gefunden = 0;
        for (size_t i = 0; i < z.size(); i++) {
            if (!(z[i].size() > 15 && z[i][13] == '<' && z[i].compare(15, text.size(), text) == 0))
                continue;
            if (gefunden++ != n) continue;
            std::string a;
            for (size_t k = i + 1; k < z.size() && z[k].size() > 15 && z[k][13] == '>'; k++)
                a += z[k].substr(15);
            return a;
        }
        return "";
    }
    // Reads of stored SMS so far, by listing or one by one.
    size_t lesungen() { return gesendet("AT+CMGR=").size() + gesendet("AT+CMGL").size(); }
    template <class F> bool warte(F bedingung, long ms) {
        for (long t = 0; t < ms; t += 200, usleep(200000))
            if (bedingung()) return true;
        return bedingung();
    }
};

// Stored SMS of every coding are read while sms.txt cannot be written, but none is deleted;
// a rest resets the modem to text mode in between; once sms.txt can be written they all
// arrive, each deleted only after its files exist, and a file sent after the rest goes out
// as a PDU still. An alphanumeric sender that spells the keyword entry's number runs
// nothing.
TEST_F(SmsRun, StoredSmsAreDeletedOnlyOnceStoredAndDecodedInEveryCoding) {
    const std::string num = "+491701234567";
    struct Fall {
        Deliver pdu;
        std::string kopf, text; // expected sender part of the record and body
    };
    Deliver kaputt = sieben(absender(num), "abc");
    kaputt.udl = 60; // 60 septets announced, 3 present
    std::vector<Fall> faelle = {
        {sieben(absender(num), "Teil 1 @ 5$_ Grüße", 0x3A, 2, 1), "+491701234567",
         "{l3A21}Teil 1 @ 5$_ Gr\xFC\xDF"
         "e"},
        {ucs2(absender("0301234"), {'G', 'r', 0xFC, 0xDF, 'e', ' ', 0xE4, ' ', 0x20AC, ' ', 0xC4}),
         "0301234",
         "Gr\xFC\xDF"
         "e \xE4 E \xC4"},
        {sieben(absender("+49170123", true), "START alnum"), "", "START alnum"},
        {kaputt, "", ""},
    };
    for (size_t i = 0; i < faelle.size(); i++) {
        faelle[i].pdu.sek = int(10 + i);
        modem.control("sms " + faelle[i].pdu.pdu());
    }
    ASSERT_EQ(mkdir((dir + "/sms.txt").c_str(), 0755), 0);
    ini("SMS1=+49170123;START\nCMD1=" + ts_helper("helper_argv") + " " + argvdatei + " %2\n");
    starte();

    // Read, but not deleted, while sms.txt is a directory.
    ASSERT_TRUE(warte([&] { return lesungen() > 0; }, 30000)) << protokolle() << transcript();
    sleep(1);
    EXPECT_TRUE(gesendet("AT+CMGD=").empty()) << transcript();

    // A rest: the modem is reset and back in text mode when the program starts again.
    modem.control("fault silence 2");
    ASSERT_TRUE(wartelog("tandor paused. Standby.", 1, 40000)) << protokolle();
    EXPECT_TRUE(gesendet("AT+CMGD=").empty()) << transcript();
    ASSERT_EQ(rmdir((dir + "/sms.txt").c_str()), 0);
    legeab(dir + "/sms_send/sms_nat__-0170123.txt", "Inland Grüße\x1a");
    size_t vorher = ts_readlines(modem.dir + "/transcript").size();

    // Every index deleted with OK, each after its body was in sms_in.
    ASSERT_TRUE(warte(
        [&] {
            for (size_t i = 1; i <= faelle.size(); i++)
                if (antwort("AT+CMGD=" + std::to_string(i), 0).find("OK") == std::string::npos)
                    return false;
            return !ausgang().empty();
        },
        45000))
        << protokolle() << transcript();
    std::vector<std::string> nach = ts_readlines(modem.dir + "/transcript");
    bool reset = false;
    for (size_t i = vorher; i < nach.size(); i++)
        reset = reset || nach[i].find("< AT&F") != std::string::npos ||
                nach[i].find("< ATZ") != std::string::npos;
    EXPECT_TRUE(reset) << "the rest did not reset the modem; text mode was not tested";

    std::string log = ts_readfile(dir + "/sms.txt");
    std::vector<std::string> imordner = dateien(dir + "/sms_in");
    for (size_t i = 0; i < faelle.size(); i++) {
        const Fall& f = faelle[i];
        SCOPED_TRACE("SMS " + std::to_string(i + 1));
        std::string datei; // the per-SMS file with this body
        if (!f.text.empty()) {
            char t[16];
            snprintf(t, sizeof t, "%02d", f.pdu.sek);
            std::regex satz(
                "\\d SMS: " + std::regex_replace(f.kopf, std::regex("\\+"), "\\+") +
                (f.kopf.empty() ? "0+" : "") + " 2026-12-08 13:45:" + t + " \\[44\\]\n\n" +
                std::regex_replace(f.text, std::regex("[\\\\^$.|?*+()\\[\\]{}]"), "\\$&") + "\n\n");
            EXPECT_TRUE(std::regex_search(log, satz)) << log;
            for (const std::string& n : imordner) {
                std::string inhalt = ts_readfile(dir + "/sms_in/" + n);
                while (!inhalt.empty() && inhalt.back() == '\n')
                    inhalt.pop_back();
                if (inhalt == f.text) datei = dir + "/sms_in/" + n;
            }
            ASSERT_FALSE(datei.empty()) << "body missing in sms_in";
        } else if (f.kopf.empty()) {
            // not decodable: the PDU as it was received, hex
            std::string tpdu = f.pdu.pdu().substr(16);
            EXPECT_NE(log.find(tpdu), std::string::npos) << log;
        }
        std::string loesch = gesendet("AT+CMGD=" + std::to_string(i + 1)).at(0);
        if (!datei.empty()) {
            EXPECT_LE(mtimetagesms(datei), tagesms(loesch)) << "deleted before stored";
        }
    }
    // sms1.txt holds the last decoded SMS alone.
    std::string eins = ts_readfile(dir + "/sms1.txt");
    EXPECT_EQ(ts_count(eins, " SMS: "), 1) << eins;
    EXPECT_NE(eins.find("\n\nSTART alnum\n\n"), std::string::npos) << eins;
    // The alphanumeric sender ran nothing.
    EXPECT_EQ(access(argvdatei.c_str(), F_OK), -1) << ts_readfile(argvdatei);

    // Sent after the rest: a PDU, not text mode.
    Submit s = lies(ausgang().at(0));
    EXPECT_TRUE(s.gueltig) << ausgang().at(0);
    EXPECT_EQ(s.nummer, "0170123");
    EXPECT_EQ(s.typ, 0x81);
    EXPECT_EQ(s.udh, "");
    EXPECT_EQ(s.text, "Inland Grüße");
    EXPECT_EQ(access((dir + "/sms_out/sms_nat__-0170123.txt").c_str(), F_OK), 0);
    kill(pid, SIGTERM);
    endetsauber(30000);
}

// A keyword SMS whose text is shell syntax: the program connects, and the user command gets
// the text behind the keyword as one argument, nothing of it runs. The modem refuses to
// delete the SMS; the command runs once, and not again after a new start that reads the
// same SMS from the store.
TEST_F(SmsRun, AKeywordSmsConnectsAndRunsItsCommandOnceWithTheTextAsOneArgument) {
    const std::string rest = " it's \"x\"; $(touch pwned) done";
    modem.control("fault cmgderror 50");
    modem.control("sms " + sieben(absender("+49170123"), "START" + rest).pdu());
    ini("SMS1=+49170123;START\nCMD1=tandor_CONNECT " + ts_helper("helper_argv") + " " + argvdatei +
        " %2\n");
    starte();
    ASSERT_TRUE(wartelog("Connection established.", 1, 60000)) << protokolle();
    ASSERT_TRUE(warte([&] { return aufrufe(argvdatei).size() == 1; }, 10000)) << protokolle();
    std::vector<std::string> a = aufrufe(argvdatei).at(0);
    ASSERT_EQ(a.size(), 2u) << "not one argument";
    EXPECT_EQ(a[1], rest);
    char hier[4096] = "";
    ASSERT_NE(getcwd(hier, sizeof hier), nullptr);
    for (const std::string& d : {dir, a[0], std::string("/"), std::string(hier)})
        EXPECT_EQ(access((d + "/pwned").c_str(), F_OK), -1) << "the text ran in " << d;
    EXPECT_NE(antwort("AT+CMGD=1", 0).find("ERROR"), std::string::npos) << transcript();

    // A new start reads the SMS again from the store; it was handled and stays so.
    kill(pid, SIGTERM);
    endetsauber(30000);
    size_t gelesen = lesungen();
    starte();
    ASSERT_TRUE(warte([&] { return lesungen() > gelesen; }, 30000)) << protokolle() << transcript();
    sleep(8); // two polls more
    EXPECT_EQ(aufrufe(argvdatei).size(), 1u) << protokolle();
    kill(pid, SIGTERM);
    endetsauber(30000);
}

// Files in sms_send, taken in name order: one with a concatenation marker goes out as a PDU
// with its header; malformed ones are set aside without holding it up, and one the modem
// never prompts for is given up after three tries, each cancelled with ESC.
TEST_F(SmsRun, SmsFilesAreSentAsPdusAndTheUnsendableSetAside) {
    std::string s = dir + "/sms_send/";
    const std::vector<std::string> schlecht = {"sms_bad__12x", "sms_far__123456789012345678901.txt",
                                               "sms_long__491701234567.txt"};
    legeab(s + schlecht[0], "x");
    legeab(s + schlecht[1], "zu weit");
    legeab(s + "sms_hello__491701234567.txt", "{l3A21}Hallo Welt");
    legeab(s + schlecht[2], std::string(251, 'a'));
    legeab(s + "sms_stumm__4917099.txt", "ohne Prompt");
    ini("");
    starte();
    ASSERT_TRUE(warte([&] { return !ausgang().empty(); }, 30000)) << protokolle() << transcript();
    // The next file finds a modem that never prompts.
    size_t cmgs = gesendet("AT+CMGS=").size();
    modem.control("fault noprompt 3");
    auto beiseite = [&](const std::string& n) {
        return access((s + "failed_" + n).c_str(), F_OK) == 0;
    };
    ASSERT_TRUE(warte([&] { return beiseite("sms_stumm__4917099.txt"); }, 60000))
        << protokolle() << transcript();

    std::vector<std::string> aus = ausgang();
    ASSERT_EQ(aus.size(), 1u);
    Submit u = lies(aus[0]);
    EXPECT_TRUE(u.gueltig) << aus[0];
    EXPECT_EQ(u.nummer, "491701234567");
    EXPECT_EQ(u.typ, 0x91);
    EXPECT_EQ(u.erstes & 0x40, 0x40);
    EXPECT_EQ(u.udh, "00033A0201");
    EXPECT_EQ(u.text, "Hallo Welt");
    EXPECT_EQ(dateien(dir + "/sms_out"), std::vector<std::string>{"sms_hello__491701234567.txt"});
    EXPECT_EQ(ts_readfile(dir + "/sms_out/sms_hello__491701234567.txt"), "{l3A21}Hallo Welt");
    for (const std::string& n : schlecht)
        EXPECT_TRUE(beiseite(n)) << n;
    EXPECT_EQ(dateien(dir + "/sms_send").size(), 4u);

    // Three tries, each cancelled with ESC before the next command.
    EXPECT_EQ(gesendet("AT+CMGS=").size(), cmgs + 3) << transcript();
    std::vector<std::string> z = ts_readlines(modem.dir + "/transcript");
    int abbrueche = 0;
    for (size_t i = 0; i < z.size(); i++)
        if (z[i].find("< AT+CMGS=") == 13)
            for (size_t k = i + 1; k < z.size() && z[k].find("< AT") != 13; k++)
                if (z[k].find("< \\x1B") == 13) {
                    abbrueche++;
                    break;
                }
    EXPECT_EQ(abbrueche, 3) << transcript();
    kill(pid, SIGTERM);
    endetsauber(30000);
}

} // namespace
