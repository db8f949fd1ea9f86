// The window forms on a real display: texts and marker colours in every form, the form
// switches by iconify, close and click, the kept position, and cc_show from many threads
// while the form changes.
#include "mainwindow_fixture.h"

#include "config/inifile.h"
#include "supervisor/signalreading.h"
#include "ui/splash.h"
#include "ui/trayicons.h"

using namespace mwt;

namespace {

void statustexte() {
    strcpy(cc_mtext[1], " Vodafone.de [26202.4E2F.1A2B]");
    strcpy(cc_mtext[2], " UMTS");
    strcpy(cc_mtext[3], "+Signal 21%");
    strcpy(cc_mtext[4], " 12.3 kB/s");
    strcpy(cc_mtext[5], " 98.7 kB/s");
    strcpy(cc_mtext[6], "*  1 234 567 kB");
    strcpy(cc_mtext[7], " 1:23 h");
    strcpy(cc_mtext[8], " ");
    strcpy(cc_mtext[9], " U5 0012_Vodafone");
}

TEST_F(Fenster, AtStartTheNormalWindowShowsABlankStatusAndEmptyFields) {
    zeige(fefo_NORMAL);
    gesperrt([] {
        ASSERT_NE(mainwindow, nullptr);
        for (int i = 1; i <= 7; i++)
            EXPECT_EQ(feldtext(i), "") << i;
        EXPECT_EQ(feldfarbe(1), "#ffffff");
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(mainwindow)), "tandor 0.5");
        EXPECT_NE(gtk_window_get_icon(GTK_WINDOW(mainwindow)), nullptr);
    });
}

TEST_F(Fenster, APublishedReadingCycleReachesTheWindowWithoutALink) {
    zeige(fefo_NORMAL);
    geraet = 3;
    tonlos = true;
    sr_zustand_t z;
    sr_ini(z);
    strcpy(z.cops, "\r\n+COPS: 0,0,\"Testnetz\",2\r\n\r\nOK\r\n");
    ss_signal(z.signal, 15, true, false);
    sr_statistik_t offline; // no statistics pass: rates unknown
    sr_publizieren(z, 1, offline);
    EXPECT_TRUE(warte([] { return feldtext(1) == "Testnetz"; }))
        << gesperrt([] { return feldtext(1); });
    gesperrt([] {
        EXPECT_EQ(feldtext(2), "UMTS");
        EXPECT_EQ(feldtext(3), "50% = -83dBm");
    });

    // An LTE cell: its mode and letter in the window, mini text and tray icon, which gets
    // the mode 7 it draws grey without a letter.
    strcpy(z.cops, "\r\n+COPS: 0,0,\"Testnetz\",7\r\n\r\nOK\r\n");
    sr_statistik_t online;
    online.hoch = 1000;
    online.runter = 20000;
    online.kbv = 3000;
    sr_publizieren(z, 2, online);
    EXPECT_TRUE(warte([] { return feldtext(2) == "LTE"; })) << gesperrt([] { return feldtext(2); });
    EXPECT_STREQ(cc_mtext[9], " L50% 20\xE2\x86\x93_Testnetz");
    EXPECT_EQ(ic__mart, 1);
    EXPECT_STREQ(ic_micon, "");
    // The tooltip is the mini text with its break mark edited.
    EXPECT_STREQ(ic__mtext, "L50% 20\xE2\x86\x93 Testnetz");
    geraet = 0;
}

TEST_F(Fenster, NormalFormShowsEachTextInItsFieldWithItsMarkerColour) {
    zeige(fefo_NORMAL);
    statustexte();
    cc_show();
    gesperrt([] {
        const char* text[8] = {"",
                               "Vodafone.de [26202.4E2F.1A2B]",
                               "UMTS",
                               "Signal 21%",
                               "12.3 kB/s",
                               "98.7 kB/s",
                               "  1 234 567 kB",
                               "1:23 h"};
        const char* farbe[8] = {"",        "#ffffff", "#ffffff", "#ff66ff",
                                "#ffffff", "#ffffff", "#ffaaaa", "#ffffff"};
        for (int i = 1; i <= 7; i++) {
            EXPECT_EQ(feldtext(i), text[i]) << i;
            EXPECT_EQ(feldfarbe(i), farbe[i]) << i;
        }
    });
    // An error text with only its marker leaves field 6; with text it takes its place,
    // and the colour follows a changed marker.
    strcpy(cc_mtext[8], "*");
    cc_show();
    EXPECT_EQ(gesperrt([] { return feldtext(6); }), "  1 234 567 kB");
    strcpy(cc_mtext[8], "+Read error 3");
    cc_show();
    gesperrt([] {
        EXPECT_EQ(feldtext(6), "Read error 3");
        EXPECT_EQ(feldfarbe(6), "#ff66ff");
    });
    strcpy(cc_mtext[8], " ");
    strcpy(cc_mtext[6], "    12 345 kB");
    strcpy(cc_mtext[3], " Signal 80%");
    cc_show();
    gesperrt([] {
        EXPECT_EQ(feldtext(6), "   12 345 kB");
        EXPECT_EQ(feldfarbe(6), "#ffffff");
        EXPECT_EQ(feldfarbe(3), "#ffffff");
    });
    // Latin-1 umlauts from old texts become UTF-8.
    strcpy(cc_mtext[1], " Verbindungsaufbau l\xE4uft.");
    cc_show();
    EXPECT_EQ(gesperrt([] { return feldtext(1); }), "Verbindungsaufbau l\xC3\xA4uft.");
}

TEST_F(Fenster, TitleCarriesTheIconCodesAndTheProfile) {
    strcpy(inititel, "work");
    ic_wicon = "$";
    ic_hicon = "H";
    zeige(fefo_NORMAL);
    EXPECT_STREQ(gesperrt([] { return gtk_window_get_title(GTK_WINDOW(mainwindow)); }),
                 "[$[H work - tandor 0.5");
    ic_wicon = "";
    cc_show();
    EXPECT_STREQ(gesperrt([] { return gtk_window_get_title(GTK_WINDOW(mainwindow)); }),
                 "[H work - tandor 0.5");
}

std::string minimarkup() {
    return gesperrt([] { return std::string(gtk_label_get_label(GTK_LABEL(minilabel()))); });
}
std::string minisichtbar() {
    return gesperrt([] { return std::string(gtk_label_get_text(GTK_LABEL(minilabel()))); });
}

TEST_F(Fenster, MiniFormShowsTheEditedTextOnTheStateColour) {
    statustexte();
    zeige(fefo_MINI);
    gesperrt([] {
        ASSERT_NE(mainwindow, nullptr);
        EXPECT_FALSE(gtk_window_get_decorated(GTK_WINDOW(mainwindow)));
        GtkAllocation a;
        gtk_widget_get_allocation(mainwindow, &a);
        EXPECT_EQ(a.width, 174);
    });
    EXPECT_EQ(minisichtbar(), " U5 0012 Vodafone" + std::string(64, ' '));
    EXPECT_NE(minimarkup().find("background=\"#000000\""), std::string::npos); // offline

    onlinezeit = 500; // the online state alone redraws
    cc_show();
    EXPECT_NE(minimarkup().find("background=\"#0000ff\""), std::string::npos);
    EXPECT_EQ(gesperrt([] { return farbtext(gtk_widget_get_style(mainwindow)->bg[0]); }),
              "#0000ff");

    inidat.mod[(unsigned char)'O'] = 1;
    strcpy(cc_mtext[9], " G4 0012_E-Plus");
    cc_show();
    EXPECT_NE(minimarkup().find("background=\"#007f00\""), std::string::npos);

    // An error text replaces the mini text; operator names are shown as they are.
    strcpy(cc_mtext[8], "*AT&T <roaming>");
    cc_show();
    EXPECT_EQ(minisichtbar(), " AT&T <roaming>" + std::string(64, ' '));
    EXPECT_NE(minimarkup().find("background=\"#ff0000\""), std::string::npos);

    strcpy(cc_mtext[8], " ");
    strcpy(cc_mtext[9], "+Update_query.");
    cc_show();
    EXPECT_EQ(minisichtbar(), " Update query." + std::string(64, ' '));
    EXPECT_NE(minimarkup().find("background=\"#bf00bf\""), std::string::npos);
}

TEST_F(Fenster, SecondMiniFormShowsTheTextOnTwoLines) {
    strcpy(cc_mtext[9], " Neustart /_Restart.");
    zeige(fefo_MINI2);
    EXPECT_EQ(minisichtbar(),
              " Neustart /" + std::string(64, ' ') + "\n Restart." + std::string(64, ' '));
}

// The control program's note is information, not a warning.
TEST_F(Fenster, ControlInfoIsAnInformationBox) {
    inidat.funktion = FUNKTION_CONTROL;
    _de = false;
    zeige(fefo_NORMAL);
    ASSERT_TRUE(waehle("CONTROL info"));
    ASSERT_TRUE(warte([] { return dialog() != nullptr; }));
    gesperrt([] {
        GtkMessageType typ = GTK_MESSAGE_OTHER;
        gchar *titel = nullptr, *text = nullptr;
        g_object_get(dialog(), "message-type", &typ, "text", &titel, "secondary-text", &text,
                     nullptr);
        EXPECT_EQ(typ, GTK_MESSAGE_INFO);
        EXPECT_STREQ(titel, "tandor   CONTROL info");
        EXPECT_STREQ(text, "This is only the tandor user interface.  \n"
                           "Therefore not all functions are available at present.  \n"
                           "Please start the main program, if necessary.  ");
        g_free(titel);
        g_free(text);
        gtk_dialog_response(GTK_DIALOG(dialog()), GTK_RESPONSE_OK);
    });
    EXPECT_TRUE(warte([] { return dialog() == nullptr; }));
}

TEST_F(Fenster, IconFormHasNoWindowAndShowsTheTrayIconAtOnce) {
    zeige(fefo_NORMAL);
    ic_mshow(2, 0, 0, 0, 0, "Not connected.");
    EXPECT_FALSE(gesperrt([] { return ic_eingebettet(); }));
    zeige(fefo_ICON);
    EXPECT_EQ(gesperrt([] { return mainwindow; }), nullptr);
    EXPECT_EQ(gesperrt([] { return fensterzahl(); }), 0);
    // The kind drawn last is shown at once, in the harness's tray.
    EXPECT_TRUE(warte([] { return ic_eingebettet(); }));
    EXPECT_EQ(ic__mart, 2);
    EXPECT_STREQ(ic_micon, "-");
    // An operator name the network sends in Latin-1 or as broken UTF-8 reaches GTK as valid
    // UTF-8, cut on a character boundary.
    ic_mshow(1, 2, 50, 0, 0, ("U50% 1\xE2\x86\x93_\xC3\xC3" + std::string(140, '\xE4')).c_str());
    EXPECT_TRUE(g_utf8_validate(ic__mtext, -1, nullptr)) << ic__mtext;
    EXPECT_GE(strlen(ic__mtext), 140u) << ic__mtext;
    EXPECT_LE(strlen(ic__mtext), 149u) << ic__mtext;
    // Leaving the icon form hides the icon again.
    zeige(fefo_MINI);
    EXPECT_TRUE(warte([] { return !ic_eingebettet(); }));
    EXPECT_EQ(gesperrt([] { return fensterzahl(); }), 1);
    // At the program end cc_quit hides the icon of the icon form, and leaves a window.
    cc_quit();
    EXPECT_EQ(fefo, fefo_MINI);
    zeige(fefo_ICON);
    EXPECT_TRUE(warte([] { return ic_eingebettet(); }));
    cc_quit();
    EXPECT_EQ(fefo, fefo_OHNE);
    EXPECT_TRUE(warte([] { return !ic_eingebettet(); }));
}

TEST_F(Fenster, WithoutAWindowAnAlarmTextHidesTheSplash) {
    cs_show(1);
    ASSERT_EQ(cs_state(), 1);
    zeige(fefo_OHNE);
    cc_show2(" Start.", " Start.");
    EXPECT_EQ(cs_state(), 1);
    cc_show2("*Modem not responding.", "*Modem_not_responding.");
    EXPECT_EQ(cs_state(), 0);
    EXPECT_EQ(gesperrt([] { return fensterzahl(); }), 0);
    // cc_quit has nothing to hide without the icon form.
    cc_quit();
    EXPECT_EQ(fefo, fefo_OHNE);
}

// Polls cc_getposition (which takes the lock itself) until it reports x, y.
bool positionwird(int x, int y) {
    int px = -1, py = -1;
    for (int i = 0; i < 250 && !(px == x && py == y); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        cc_getposition(&px, &py);
    }
    EXPECT_EQ(px, x);
    EXPECT_EQ(py, y);
    return px == x && py == y;
}

TEST_F(Fenster, PositionIsKeptForTheHeaderAndTheNextForm) {
    inidat.headerx_neu = 100;
    inidat.headery_neu = 120;
    zeige(fefo_NORMAL);
    ASSERT_TRUE(positionwird(100, 120));
    gesperrt([] { gtk_window_move(GTK_WINDOW(mainwindow), 300, 250); });
    ASSERT_TRUE(positionwird(300, 250));
    zeige(fefo_MINI);
    EXPECT_EQ(inidat.headerx_neu, 300);
    EXPECT_EQ(inidat.headery_neu, 250);
    EXPECT_TRUE(positionwird(300, 250));
    // Without a window the position is left alone.
    zeige(fefo_ICON);
    int x = -7, y = -7;
    cc_getposition(&x, &y);
    EXPECT_EQ(x, -7);
    EXPECT_EQ(y, -7);
    cc_getposition(nullptr, nullptr);
}

TEST_F(Fenster, IconifyingTheNormalWindowSwitchesToTheTrayIcon) {
    zeige(fefo_NORMAL);
    gesperrt([] { gtk_window_iconify(GTK_WINDOW(mainwindow)); });
    EXPECT_TRUE(warte([] { return fefo == fefo_ICON && !mainwindow; }));
    // Nothing was drawn before: the icon says "not connected".
    EXPECT_EQ(ic__mart, 2);
    EXPECT_STREQ(ic__mtext, "Not connected.");
}

TEST_F(Fenster, AnIconifiedMiniWindowComesBackWithTheTick) {
    zeige(fefo_MINI);
    gesperrt([] { gtk_window_iconify(GTK_WINDOW(mainwindow)); });
    ASSERT_TRUE(warte([] {
        return (gdk_window_get_state(gtk_widget_get_window(mainwindow)) &
                GDK_WINDOW_STATE_ICONIFIED) != 0;
    }));
    EXPECT_EQ(fefo, fefo_MINI);
    cc_tick();
    EXPECT_TRUE(warte([] {
        return (gdk_window_get_state(gtk_widget_get_window(mainwindow)) &
                GDK_WINDOW_STATE_ICONIFIED) == 0;
    }));
    EXPECT_EQ(fefo, fefo_MINI);
}

TEST_F(Fenster, LeftClickOnTheMiniWindowOpensTheNormalOneAndBack) {
    zeige(fefo_MINI);
    gesperrt([] { klick(mainwindow, 1); });
    EXPECT_EQ(fefo, fefo_NORMAL);
    ASSERT_TRUE(
        warte([] { return mainwindow && gtk_window_get_decorated(GTK_WINDOW(mainwindow)); }));
    // A left click on a field goes back to the mini window.
    gesperrt([] { klick(feld(3), 1); });
    EXPECT_EQ(fefo, fefo_MINI);
    EXPECT_EQ(gesperrt([] { return fensterzahl(); }), 1);

    // Once the normal window has lost the focus, a left click there opens the menu.
    gesperrt([] { klick(mainwindow, 1); });
    ASSERT_EQ(fefo, fefo_NORMAL);
    gesperrt([] {
        GdkEvent* ev = gdk_event_new(GDK_FOCUS_CHANGE);
        ev->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(mainwindow)));
        ev->focus_change.in = FALSE;
        gtk_widget_event(mainwindow, ev);
        gdk_event_free(ev);
        klick(mainwindow, 1);
    });
    EXPECT_EQ(fefo, fefo_NORMAL);
    EXPECT_NE(gesperrt([] { return menue(); }), nullptr);

    // A right click opens the menu in the mini window too.
    gesperrt([] { gtk_menu_popdown(GTK_MENU(menue())); });
    zeige(fefo_MINI);
    gesperrt([] {
        gtk_widget_destroy(gtk_widget_get_toplevel(menue()));
        klick(mainwindow, 3);
    });
    EXPECT_EQ(fefo, fefo_MINI);
    EXPECT_NE(gesperrt([] { return menue(); }), nullptr);
}

TEST_F(Fenster, CloseAsksWhenEndModeIsZero) {
    inidat.endm = 0;
    zeige(fefo_NORMAL);
    gesperrt([] { schliessen(); });
    EXPECT_TRUE(warte([] { return dialog() != nullptr; }));
    EXPECT_FALSE(programmende_gewuenscht);
    EXPECT_NE(gesperrt([] { return mainwindow; }), nullptr);
    gesperrt([] {
        GtkWidget* d = dialog();
        if (d) gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_NO);
    });
    EXPECT_TRUE(warte([] { return dialog() == nullptr; }));
    EXPECT_FALSE(programmende_gewuenscht);
}

TEST_F(Fenster, CloseEndsAtOnceWhenEndModeIsOneOrInTheMiniWindow) {
    inidat.endm = 1;
    zeige(fefo_NORMAL);
    gesperrt([] { schliessen(); });
    EXPECT_TRUE(programmende_gewuenscht);
    EXPECT_STREQ(cc_mtext[1], " Ending.");
    EXPECT_NE(gesperrt([] { return mainwindow; }), nullptr);
    // Once the end is requested the window goes.
    gesperrt([] { schliessen(); });
    EXPECT_EQ(gesperrt([] { return mainwindow; }), nullptr);

    // cc_show knows the window is gone and builds a new one for the next form. Closing
    // the mini window ends without a question, whatever the end mode.
    programmende_gewuenscht = false;
    inidat.endm = 0;
    _de = true;
    zeige(fefo_MINI);
    EXPECT_EQ(gesperrt([] { return fensterzahl(); }), 1);
    gesperrt([] { schliessen(); });
    EXPECT_TRUE(programmende_gewuenscht);
    EXPECT_STREQ(cc_mtext[9], " Beenden.");
    EXPECT_EQ(gesperrt([] { return dialog(); }), nullptr);
}

TEST_F(Fenster, CloseMinimisesWhenEndModeIsTwo) {
    inidat.endm = 2;
    zeige(fefo_NORMAL);
    gesperrt([] { schliessen(); });
    EXPECT_TRUE(warte([] { return fefo == fefo_ICON && !mainwindow; }));
    EXPECT_FALSE(programmende_gewuenscht);
}

// Many threads show texts while others switch the form: the window is built and
// destroyed by one at a time, and in the end exactly the requested form exists.
TEST_F(Fenster, ShowFromManyThreadsWhileTheFormChanges) {
    statustexte();
    std::atomic<bool> halt{false};
    std::vector<std::thread> t;
    for (int i = 0; i < 4; i++)
        t.emplace_back([&, i] {
            char s[40];
            for (int n = 0; !halt; n++) {
                snprintf(s, sizeof s, "%cThread %d round %d", " +*"[n % 3], i, n);
                if (i % 2)
                    cc_show2(s, s);
                else {
                    strcpy(cc_mtext[3], s);
                    cc_show();
                }
            }
        });
    for (int i = 0; i < 2; i++)
        t.emplace_back([&, i] {
            unsigned r = 17u + (unsigned)i;
            while (!halt) {
                r = r * 1103515245u + 12345u;
                setfefo((int)((r >> 16) % 5));
                std::this_thread::sleep_for(std::chrono::milliseconds(15));
            }
        });
    t.emplace_back([&] {
        while (!halt) {
            int x, y;
            cc_getposition(&x, &y);
            cc_tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    halt = true;
    for (auto& th : t)
        th.join();

    for (int f : {fefo_NORMAL, fefo_MINI, fefo_ICON, fefo_OHNE, fefo_MINI2}) {
        zeige(f);
        bool fenster = f != fefo_ICON && f != fefo_OHNE;
        gesperrt([&] {
            EXPECT_EQ(mainwindow != nullptr, fenster) << f;
            EXPECT_EQ(fensterzahl(), fenster ? 1 : 0) << f;
        });
    }
}

} // namespace
