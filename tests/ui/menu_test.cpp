// The program menu: its entries per mode and form, their sensitivity, the request each
// entry sets, and the start of the configuration program.
#include "mainwindow_fixture.h"

#include "core/frontendrecord.h"

#include <sys/stat.h>

using namespace mwt;

namespace {

std::vector<std::string> eintraege() {
    return gesperrt([] {
        cc_menu();
        GtkWidget* m = menue();
        auto r = menuetexte(m);
        gtk_menu_popdown(GTK_MENU(m));
        return r;
    });
}

struct Zustand {
    bool empfindlich, aktiv;
};
Zustand zustand(const std::string& text) {
    return gesperrt([&] {
        cc_menu();
        GtkWidget* m = menue();
        GtkWidget* e = eintrag(m, text);
        Zustand z{false, false};
        EXPECT_NE(e, nullptr) << text;
        if (e) {
            z.empfindlich = gtk_widget_get_sensitive(e);
            z.aktiv =
                GTK_IS_CHECK_MENU_ITEM(e) && gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(e));
        }
        gtk_menu_popdown(GTK_MENU(m));
        return z;
    });
}

using Liste = std::vector<std::string>;

TEST_F(Fenster, MenuEntriesFollowModeAndForm) {
    zeige(fefo_NORMAL);
    EXPECT_EQ(eintraege(), (Liste{"*  tandor 0.5  *",
                                  "http://tandor.example/update?",
                                  "-",
                                  "Prepaid-credit?",
                                  "Load Prepaid...",
                                  "Send USSD code...",
                                  "-",
                                  "UMTS only",
                                  "UMTS preferred",
                                  "GPRS preferred",
                                  "GPRS only",
                                  "No opmode selection",
                                  "-",
                                  "Connect automatically",
                                  "Disconnect",
                                  "Connect",
                                  "-",
                                  "Mute",
                                  "Mini window",
                                  "Configuration",
                                  "Exit"}));
    zeige(fefo_MINI);
    EXPECT_EQ(eintraege()[18], "Regular window");
    zeige(fefo_ICON);
    EXPECT_EQ(eintraege()[18], "Regular window");
    // Without a form there is no form entry.
    zeige(fefo_OHNE);
    Liste ohne = eintraege();
    ASSERT_EQ(ohne.size(), 20u);
    EXPECT_EQ(Liste(ohne.end() - 3, ohne.end()), (Liste{"Mute", "Configuration", "Exit"}));

    // The control program shows another instance's state: no modem entries, CONTROL info,
    // and the menu ends with Exit.
    inidat.funktion = FUNKTION_CONTROL;
    zeige(fefo_MINI);
    EXPECT_EQ(eintraege(), (Liste{"*  tandor 0.5  *", "http://tandor.example/update?", "GPRS only",
                                  "No opmode selection", "-", "Connect", "Disconnect",
                                  "CONTROL info", "-", "Mute", "Regular window", "Exit"}));
    // Without a frontend record nothing can be sent to the main instance.
    EXPECT_FALSE(zustand("Connect").empfindlich);
    EXPECT_FALSE(zustand("Disconnect").empfindlich);
    EXPECT_FALSE(zustand("http://tandor.example/update?").empfindlich);

    inidat.funktion = 0;
    _de = true;
    zeige(fefo_NORMAL);
    Liste de = eintraege();
    EXPECT_EQ(de[3], "Prepaid-Guthaben?");
    EXPECT_EQ(de[7], "UMTS ausschließlich");
    EXPECT_EQ(de[13], "Automatisch verbinden");
    EXPECT_EQ(de[14], "Trennen");
    EXPECT_EQ(de[18], "Minifenster");
    EXPECT_EQ(de[19], "Konfiguration");
    EXPECT_EQ(de[20], "Ende");
}

TEST_F(Fenster, MenuSensitivityFollowsTheState) {
    zeige(fefo_NORMAL);
    // Right after a start connecting is not yet permitted.
    verbindenverboten = true;
    inidat.constart = true;
    EXPECT_FALSE(zustand("http://tandor.example/update?").empfindlich);
    EXPECT_FALSE(zustand("Prepaid-credit?").empfindlich);
    EXPECT_FALSE(zustand("Disconnect").empfindlich);
    EXPECT_TRUE(zustand("Connect").empfindlich);
    EXPECT_TRUE(zustand("UMTS only").empfindlich);
    EXPECT_FALSE(zustand("*  tandor 0.5  *").empfindlich);

    // Permitted and offline with automatic connection: it connects by itself.
    verbindenverboten = false;
    EXPECT_TRUE(zustand("http://tandor.example/update?").empfindlich);
    EXPECT_TRUE(zustand("Send USSD code...").empfindlich);
    EXPECT_FALSE(zustand("Connect").empfindlich);
    EXPECT_FALSE(zustand("Disconnect").empfindlich);
    EXPECT_TRUE(zustand("Connect automatically").aktiv);
    verbindeneinmal = true;
    EXPECT_FALSE(zustand("Connect automatically").aktiv);

    onlinezeit = 1234;
    EXPECT_TRUE(zustand("Disconnect").empfindlich);
    EXPECT_TRUE(zustand("Reconnect").empfindlich);

    // A pending request blocks what would collide with it.
    prepaid_gewuenscht = true;
    EXPECT_FALSE(zustand("Load Prepaid...").empfindlich);
    prepaid_gewuenscht = false;
    ba_gewuenscht = 2;
    for (const char* e :
         {"UMTS only", "UMTS preferred", "GPRS preferred", "GPRS only", "No opmode selection",
          "Prepaid-credit?", "http://tandor.example/update?"})
        EXPECT_FALSE(zustand(e).empfindlich) << e;
    ba_gewuenscht = 0;
    cm__singleport = true;
    EXPECT_FALSE(zustand("Prepaid-credit?").empfindlich);
    cm__singleport = false;

    // The radio entries show the mode; some devices cannot prefer GPRS.
    inidat.funktion = 3;
    geraet = 1;
    EXPECT_TRUE(zustand("GPRS preferred").aktiv);
    EXPECT_TRUE(zustand("GPRS preferred").empfindlich);
    EXPECT_FALSE(zustand("UMTS preferred").aktiv);
    geraet = 2;
    EXPECT_FALSE(zustand("GPRS preferred").aktiv);
    EXPECT_FALSE(zustand("GPRS preferred").empfindlich);
    EXPECT_TRUE(zustand("UMTS preferred").aktiv);
    for (int g : {5, 6}) {
        geraet = g;
        EXPECT_FALSE(zustand("GPRS preferred").empfindlich) << g;
    }
    geraet = 1;
    linksys = true;
    EXPECT_FALSE(zustand("GPRS preferred").empfindlich);
    EXPECT_FALSE(zustand("Prepaid-credit?").empfindlich);
    linksys = false;
    inidat.funktion = 9;
    EXPECT_TRUE(zustand("No opmode selection").aktiv);
    EXPECT_FALSE(zustand("GPRS only").aktiv);
    tonlos = true;
    EXPECT_TRUE(zustand("Mute").aktiv);
}

TEST_F(Fenster, EachMenuEntrySetsItsRequest) {
    zeige(fefo_NORMAL);
    verbindenverboten = false;

    strcpy(prepaids, "Balance 5.00 EUR");
    ASSERT_TRUE(waehle("Prepaid-credit?"));
    EXPECT_TRUE(prepaid_gewuenscht);
    EXPECT_STREQ(prepaids, "");
    ASSERT_TRUE(waehle("Load Prepaid..."));
    EXPECT_EQ(prepaidaufladen_gewuenscht, 1);
    ASSERT_TRUE(waehle("Send USSD code..."));
    EXPECT_EQ(prepaidaufladen_gewuenscht, 2);

    struct {
        const char* text;
        int ba;
    } modi[] = {{"UMTS only", 2},
                {"UMTS preferred", 4},
                {"GPRS preferred", 3},
                {"GPRS only", 1},
                {"No opmode selection", 9}};
    for (auto& m : modi) {
        ba_gewuenscht = 0;
        ASSERT_TRUE(waehle(m.text)) << m.text;
        EXPECT_EQ(ba_gewuenscht, m.ba) << m.text;
        EXPECT_EQ(inidat.funktion, m.ba) << m.text;
    }

    // Automatic connection: on, off, and a one-time connection made permanent.
    inidat.constart = false;
    ASSERT_TRUE(waehle("Connect automatically"));
    EXPECT_TRUE(inidat.constart);
    ASSERT_TRUE(waehle("Connect automatically"));
    EXPECT_FALSE(inidat.constart);
    inidat.constart = true;
    verbindeneinmal = true;
    ASSERT_TRUE(waehle("Connect automatically"));
    EXPECT_TRUE(inidat.constart);
    EXPECT_FALSE(verbindeneinmal);

    // Connect once while offline; reconnect while online.
    inidat.constart = false;
    ASSERT_TRUE(waehle("Connect"));
    EXPECT_TRUE(inidat.constart);
    EXPECT_TRUE(verbindeneinmal);
    EXPECT_EQ(unterbrechung_gewuenscht, 0);
    onlinezeit = 500;
    ASSERT_TRUE(waehle("Reconnect"));
    EXPECT_EQ(unterbrechung_gewuenscht, 2);

    unterbrechung_gewuenscht = 0;
    ASSERT_TRUE(waehle("Disconnect"));
    EXPECT_FALSE(inidat.constart);
    EXPECT_EQ(unterbrechung_gewuenscht, 2);

    ASSERT_TRUE(waehle("Mute"));
    EXPECT_TRUE(tonlos);
    ASSERT_TRUE(waehle("Mute"));
    EXPECT_FALSE(tonlos);

    ASSERT_TRUE(waehle("Mini window"));
    EXPECT_EQ(fefo, fefo_MINI);
    EXPECT_TRUE(
        gesperrt([] { return mainwindow && !gtk_window_get_decorated(GTK_WINDOW(mainwindow)); }));
    ASSERT_TRUE(waehle("Regular window"));
    EXPECT_EQ(fefo, fefo_NORMAL);
    EXPECT_EQ(gesperrt([] { return fensterzahl(); }), 1);

    unterbrechung_gewuenscht = 3;
    ASSERT_TRUE(waehle("Exit"));
    EXPECT_TRUE(programmende_gewuenscht);
    EXPECT_EQ(unterbrechung_gewuenscht, 0);
}

// The update query shows its text first, then raises the request.
TEST_F(Fenster, UpdateEntryDoesNotWaitInsideTheGtkLoop) {
    zeige(fefo_NORMAL);
    verbindenverboten = false;
    _de = true;
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(waehle("http://tandor.example/update?"));
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_LT(ms, 90); // the 100 ms wait runs in a thread of its own
    EXPECT_TRUE(warte([] { return update_gewuenscht.load(); }, 3000));
    EXPECT_STREQ(cc_mtext[1], "+Starte Update-Anfrage.");
    EXPECT_STREQ(cc_mtext[9], "+Update-\\Anfrage.");
    EXPECT_EQ(gesperrt([] { return feldtext(1); }), "Starte Update-Anfrage.");
}

// The control program sends the running copy commands through its record: only into an
// empty field, whole and terminated, and not at all without the right to write.
TEST_F(Fenster, ControlMenuWritesCommandsIntoTheRunningCopysRecord) {
    inidat.funktion = FUNKTION_CONTROL;
    zeige(fefo_NORMAL);
    tdrio_t satz{};
    memset(satz.command, 'x', sizeof satz.command);
    satz.command[0] = 0; // empty, with the rest of an earlier, longer command behind it
    satz.process_counter = 7;
    __atomic_store_n(&tdrior, &satz, __ATOMIC_RELEASE);
    tdrior_rw = true;

    // Offline: Connect may be sent, Disconnect not; the update needs the copy online.
    EXPECT_TRUE(zustand("Connect").empfindlich);
    EXPECT_FALSE(zustand("Disconnect").empfindlich);
    EXPECT_FALSE(zustand("http://tandor.example/update?").empfindlich);
    ASSERT_TRUE(waehle("Connect"));
    EXPECT_STREQ(satz.command, "TANDOR_CONNECT");
    // Until the running copy has taken it, nothing more may be sent with Connect.
    EXPECT_FALSE(zustand("Connect").empfindlich);

    satz.online_time = 12;
    EXPECT_TRUE(zustand("Disconnect").empfindlich);
    EXPECT_TRUE(zustand("http://tandor.example/update?").empfindlich);
    // A command still waiting is not overwritten.
    ASSERT_TRUE(waehle("Disconnect"));
    EXPECT_STREQ(satz.command, "TANDOR_CONNECT");
    satz.command[0] = 0;
    ASSERT_TRUE(waehle("Disconnect"));
    EXPECT_STREQ(satz.command, "TANDOR_DISCONNECT");
    EXPECT_EQ(dialog(), nullptr);

    // Read only: the access warning instead, the field untouched.
    satz.command[0] = 0;
    tdrior_rw = false;
    ASSERT_TRUE(waehle("Disconnect"));
    EXPECT_TRUE(warte([] { return dialog() != nullptr; }));
    EXPECT_EQ(satz.command[0], 0);
    gesperrt([] { gtk_dialog_response(GTK_DIALOG(dialog()), GTK_RESPONSE_OK); });
    EXPECT_TRUE(warte([] { return dialog() == nullptr; }));
    __atomic_store_n(&tdrior, static_cast<tdrio_t*>(nullptr), __ATOMIC_RELEASE);
}

TEST_F(Fenster, ControlInfoShowsABoxWithoutWaiting) {
    inidat.funktion = FUNKTION_CONTROL;
    zeige(fefo_NORMAL);
    ASSERT_TRUE(waehle("CONTROL info"));
    EXPECT_TRUE(warte([] { return dialog() != nullptr; }));
    gesperrt([] { gtk_dialog_response(GTK_DIALOG(dialog()), GTK_RESPONSE_OK); });
    EXPECT_TRUE(warte([] { return dialog() == nullptr; }));
}

// A scratch bin directory with a script "name" that writes its argument vector, one
// argument a line, into out.
void skript(const std::string& bin, const char* name, const std::string& out) {
    std::string p = bin + "/" + name;
    ts_writefile(p, "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > '" + out +
                        "'\n");
    chmod(p.c_str(), 0755);
}

TEST_F(Fenster, ConfigurationStartsTheTandorFileBesideThisProgramWithoutAShell) {
    // The directory name would do harm in a shell command line.
    std::string bin = dir + "/my progs;touch PWNED";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    skript(bin, "tandor", dir + "/config.txt");
    skript(bin, "UMTS", dir + "/umts.txt");
    std::string a0 = bin + "/UMTS";
    const char* args[] = {
        a0.c_str(), "DIR=/data/my stick", "MUTE", "instance=3", "NOSPLASH", "dir=sub", nullptr};
    _argv = (char**)args;
    _argc = 6;
    zeige(fefo_NORMAL);
    ASSERT_TRUE(waehle("Configuration"));
    ASSERT_TRUE(ts_waitfor(dir + "/config.txt", "dir=sub", 5000));
    EXPECT_EQ(ts_readlines(dir + "/config.txt"),
              (Liste{bin + "/tandor", "CONFIG", "DIR=/data/my stick", "instance=3", "dir=sub"}));
    EXPECT_FALSE(g_file_test((dir + "/umts.txt").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_FALSE(g_file_test((dir + "/PWNED").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_FALSE(g_file_test("PWNED", G_FILE_TEST_EXISTS));
}

TEST_F(Fenster, ConfigurationWithoutTheTandorFileOnlyShowsAText) {
    std::string bin = dir + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    skript(bin, "UMTS", dir + "/umts.txt");
    std::string a0 = bin + "/UMTS";
    const char* args[] = {a0.c_str(), nullptr};
    _argv = (char**)args;
    _argc = 1;
    zeige(fefo_NORMAL);
    ASSERT_TRUE(waehle("Configuration"));
    EXPECT_STREQ(cc_mtext[1], "*Configuration program \"tandor\" missing.");
    EXPECT_EQ(gesperrt([] { return feldfarbe(1); }), "#ffaaaa");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(g_file_test((dir + "/umts.txt").c_str(), G_FILE_TEST_EXISTS));
}

} // namespace
