// The provider settings list: entries and fields of a list file, the pure steps of the
// update from the wiki, and the update and the version query against the web stand-in
// in a network of the test's own.
#include "config/inifile.h"
#include "config/settingslist.h"
#include "core/programstate.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace {

const std::string liste = "tandor Standard Settings   LAA00007\r\n\r\n"
                          "{{Settings|PROVIDER=Ohne Land|APN=web}}\r\n"
                          "== Deutschland ==\r\n"
                          "{{Settings|PROVIDER=T-Mobile D|PLMN=26201|APN=internet.t-mobile|"
                          "PPQ=<nowiki>*100#</nowiki>|SMSC=+491710760000}}\r\n"
                          "{{Settings|APN=\"evil\";AT+CFUN=0|PLMN=26203|USERNAME=a;b}}\r\n"
                          "|||Sonstige=\r\n"
                          "=== \xD6sterreich ===\r\n"
                          "{{Settings|PROVIDER=A1 M\xFC"
                          "nchen|PPC=*104*<INPUT>#|HOMU=*999#}}\r\n"
                          "*****";

TEST(SettingsList, EntriesAndFieldsOfTheList) {
    ts_workdir();
    ts_writefile(settingsdatei, liste);
    ASSERT_TRUE(se_laden());
    std::vector<std::string> e = se_eintraege();
    std::vector<std::string> soll = {"?   Ohne Land", "Deutschland   T-Mobile D", "Deutschland   ?",
                                     "Sonstige", "\xC3\x96sterreich   A1 M\xC3\xBCnchen"};
    EXPECT_EQ(e, soll);
    struct {
        int zeile, feld;
        const char* wert;
    } const faelle[] = {
        {1, 3, "26201"},  {1, 4, "internet.t-mobile"},
        {1, 8, "*100#"},  {1, 7, "+491710760000"},
        {1, 5, ""},       {2, 3, "26203"},
        {2, 4, ""},    // a value that would reach the modem with a quote and a ';'
        {2, 5, "a;b"}, // the user name is no AT value
        {3, 4, ""},       {4, 9, "*104*<INPUT>#"},
        {4, 10, "*999#"}, {9, 4, ""},
    };
    for (const auto& f : faelle) {
        SCOPED_TRACE(std::to_string(f.zeile) + "/" + std::to_string(f.feld));
        se_setrow(f.zeile);
        std::string w = "x";
        EXPECT_EQ(se_feld(f.feld, w), f.wert[0] != 0);
        EXPECT_EQ(w, f.wert);
    }
    std::string w = "unberuehrt";
    EXPECT_FALSE(se_feld(2, w));
    EXPECT_EQ(w, "unberuehrt");
    se_end();
    EXPECT_TRUE(se_eintraege().empty());
    ts_writefile(settingsdatei, "12345");
    EXPECT_FALSE(se_laden());

    // The list shipped with the program loads, and its values are fit for the modem.
    ts_writefile(settingsdatei, ts_readfile(TANDOR_SOURCE_DIR "/data/tandorS.ini"));
    ASSERT_TRUE(se_laden());
    e = se_eintraege();
    ASSERT_EQ(e.size(), 8u);
    EXPECT_EQ(e[0], "Deutschland   T-Mobile D1");
    for (int z = 0; z < 7; z++) {
        se_setrow(z);
        EXPECT_TRUE(se_feld(3, w)) << z;
        EXPECT_TRUE(se_feld(4, w)) << z;
    }
}

std::string historie(const std::string& nutzer1, const std::string& nutzer2) {
    auto zeile = [](const std::string& rev, const std::string& n) {
        return "<li><a href=\"/wiki/edit/" + rev + "?title=Vorlage:Settings_List&amp;oldid=" + rev +
               "\">10:00</a> <span class='history-user'><a href=\"/wiki/index.php/Benutzer:" + n +
               "\" title=\"Benutzer:" + n + "\">" + n + "</a></span></li>\n";
    };
    return "<ul>\n" + zeile("2", nutzer1) + zeile("1", nutzer2) + "</ul>\n";
}

TEST(SettingsList, RevisionSourceAndConversion) {
    struct {
        std::string seite;
        const char* rev; // null: none taken
    } const faelle[] = {
        {historie("Netzwart", "Tandor"), "2"},
        {historie("Tand", "Tandor"), "1"}, // a prefix of a trusted name is no trusted name
        {historie("", "NETZWART"), "1"},
        {historie("Mallory", "Tandorx"), nullptr},
        {"<li class=\"x\"><a href=\"/wiki/edit/7?a=1&amp;b=2\">x</a><span "
         "class='history-user'><a href=\"/wiki/index.php/Benutzer:Tandor&action\">",
         "7"},
    };
    for (const auto& f : faelle) {
        SCOPED_TRACE(f.seite);
        std::string url;
        ASSERT_EQ(se_revision(f.seite.c_str(), url), f.rev != nullptr);
        if (f.rev) {
            EXPECT_EQ(url.rfind(std::string(se_wiki) + "/wiki/edit/" + f.rev + "?", 0), 0u) << url;
            EXPECT_EQ(url.find("&amp;"), std::string::npos) << url;
            EXPECT_EQ(url.substr(url.size() - 12), "&action=edit");
        }
    }
    std::string inhalt;
    const char* quelle = "{{Settings|PROVIDER=x}}";
    EXPECT_TRUE(se_quelltext(
        ("<textarea id=\"wpTextbox1\" rows=\"5\">" + std::string(quelle) + "</textarea><div>")
            .c_str(),
        inhalt));
    EXPECT_EQ(inhalt, quelle);
    EXPECT_TRUE(se_quelltext(
        ("<textarea tabindex=\"1\" id=\"wpTextbox1\">" + std::string(quelle) + "</textarea><div>")
            .c_str(),
        inhalt));
    EXPECT_FALSE(
        se_quelltext("<textarea id=\"wpTextbox1\">{{Settings|PROVIDER=x}} broken off", inhalt));
    EXPECT_FALSE(se_quelltext("<textarea id=\"wpTextbox1\">nothing</textarea><div>", inhalt));
    EXPECT_FALSE(se_quelltext(nullptr, inhalt));
    EXPECT_EQ(se_umwandeln("a\r\nb\nM\xC3\xBCnchen \xC4\x83 &lt;nowiki&gt;*100#&amp;x"),
              "a\r\nb\r\nM\xFCnchen \xE3 <nowiki>*100#&x");
}

// The web stand-in serves the wiki and the web site in a network of this test process.
struct SettingsWeb : ::testing::Test {
    std::string dir, seiten;
    int sim = -1;
    void SetUp() override {
        ASSERT_EQ(geteuid(), 0u) << "a private network needs root";
        ASSERT_EQ(unshare(CLONE_NEWNET), 0);
        ASSERT_EQ(system("ip link set lo up"), 0);
        dir = ts_workdir();
        seiten = dir + "/seiten";
        mkdir(seiten.c_str(), 0755);
        mkdir((seiten + "/wiki").c_str(), 0755);
        mkdir((seiten + "/wiki/edit").c_str(), 0755);
        sim = ts_spawn({TANDOR_BINARY_DIR "/tools/bin/httpsim", "--pages", seiten, "--log",
                        dir + "/httpsim.log", "--pidfile", dir + "/httpsim.pid"},
                       dir + "/httpsim.out");
        ASSERT_TRUE(ts_waitfor(dir + "/httpsim.pid", "", 5000));
        for (int i = 0; i < 50 && ts_readfile(dir + "/httpsim.pid").empty(); i++)
            usleep(100000);
        se_wiki = "127.0.0.1";
        se_website = "127.0.0.1";
    }
    void TearDown() override {
        if (sim > 0) kill(sim, SIGTERM), ts_waitpid(sim, 3000);
    }
    void seite(const std::string& pfad, const std::string& inhalt) {
        ts_writefile(seiten + pfad, inhalt);
    }
};

TEST_F(SettingsWeb, TheTrustedRevisionIsStoredAndABrokenPageLeavesTheOldFile) {
    ts_writefile(settingsdatei, liste);
    seite("/wiki/index.php", historie("Tand", "Listenpflege"));
    seite("/wiki/edit/1",
          "<html><textarea id=\"wpTextbox1\">== Land ==\n{{Settings|PROVIDER=M\xC3\xBCnchen "
          "&amp; Co|PPQ=&lt;nowiki&gt;*100#&lt;/nowiki&gt;}}</textarea><div>x</div>");
    seite("/wiki/edit/2",
          "<textarea id=\"wpTextbox1\">{{Settings|PROVIDER=Falsch}}</textarea><div>");
    ASSERT_TRUE(se_settingsupdate()) << ts_readfile(dir + "/httpsim.log");
    EXPECT_EQ(
        ts_readfile(settingsdatei),
        "tandor Standard Settings   AAA00007\r\n\r\n== Land ==\r\n{{Settings|PROVIDER=M\xFCnchen "
        "& Co|PPQ=<nowiki>*100#</nowiki>}}\r\n*****");
    // Taken over once by the dialog: the marker turns to 'L'.
    EXPECT_TRUE(se_settingsupdated());
    EXPECT_FALSE(se_settingsupdated());
    EXPECT_EQ(ts_readfile(settingsdatei)[27], 'L');

    // An edit page broken off before the end of its text area changes nothing.
    std::string vorher = ts_readfile(settingsdatei);
    seite("/wiki/edit/1", "<textarea id=\"wpTextbox1\">== Neu ==\n{{Settings|PROVIDER=y}}");
    EXPECT_FALSE(se_settingsupdate());
    EXPECT_EQ(ts_readfile(settingsdatei), vorher);
}

TEST_F(SettingsWeb, TheUpdateQueryOpensOnePagePerVersionCase) {
    ts_writefile(dir + "/xdg-open", "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >>" +
                                        dir + "/browser\necho >>" + dir + "/browser\n");
    chmod((dir + "/xdg-open").c_str(), 0755);
    setenv("PATH", (dir + ":" + getenv("PATH")).c_str(), 1);
    struct {
        const char* seite;
        int ergebnis;
        const char* url;
    } const faelle[] = {
        {"tandor  501\n", 1, "[http://127.0.0.1/update_available.html]"},
        {"tandor  500\n", 0, "[http://127.0.0.1/update_uptodate.html]"},
        {"<html>moved</html>", -1, "[http://127.0.0.1/index.html]"},
    };
    std::string erwartet;
    for (const auto& f : faelle) {
        SCOPED_TRACE(f.seite);
        seite("/tandor_version.txt", f.seite);
        update_gewuenscht = true;
        EXPECT_EQ(se_updatequery(), f.ergebnis);
        EXPECT_FALSE(update_gewuenscht); // the menu entry is sensitive again
        erwartet += std::string(f.url) + "\n";
        EXPECT_TRUE(ts_waitfor(dir + "/browser", f.url, 3000));
    }
    EXPECT_EQ(ts_readfile(dir + "/browser"), erwartet);
}

} // namespace
