// Pictures of the normal and the mini window with realistic status texts, in German and
// English, for people to look at (build/screenshots/).
#include "mainwindow_fixture.h"

#include <sys/stat.h>

using namespace mwt;

namespace {

// The window with its frame as the screen shows it (the main window unless w is given).
bool foto(const char* name, GtkWidget* w = nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return gesperrt([&] {
        gdk_window_process_all_updates();
        gdk_flush();
        GdkWindow* gw = gtk_widget_get_window(w ? w : mainwindow);
        if (!gw) return false;
        GdkRectangle r;
        gdk_window_get_frame_extents(gw, &r);
        int sw = gdk_screen_width(), sh = gdk_screen_height();
        if (r.x < 0) r.width += r.x, r.x = 0;
        if (r.y < 0) r.height += r.y, r.y = 0;
        if (r.x + r.width > sw) r.width = sw - r.x;
        if (r.y + r.height > sh) r.height = sh - r.y;
        GdkPixbuf* pb = gdk_pixbuf_get_from_drawable(nullptr, gdk_get_default_root_window(),
                                                     nullptr, r.x, r.y, 0, 0, r.width, r.height);
        if (!pb) return false;
        std::string verz = std::string(TANDOR_BINARY_DIR) + "/screenshots";
        mkdir(verz.c_str(), 0755);
        bool ok = gdk_pixbuf_save(pb, (verz + "/" + name + ".png").c_str(), "png", nullptr, NULL);
        g_object_unref(pb);
        return ok;
    });
}

void texte(bool de) {
    strcpy(cc_mtext[1], de ? " Verbunden." : " Connected.");
    strcpy(cc_mtext[2], " UMTS");
    strcpy(cc_mtext[3], " 67% -79dBm");
    strcpy(cc_mtext[4], " 12.3 kB/s");
    strcpy(cc_mtext[5], " 245.6 kB/s");
    strcpy(cc_mtext[6], "  1 234 567 kB");
    strcpy(cc_mtext[7], " 1:23 h");
    strcpy(cc_mtext[8], " ");
    strcpy(cc_mtext[9], " U67% 245.6\xE2\x86\x93_Vodafone.de");
    onlinezeit = 498300;
}

void alarm(bool de) {
    strcpy(cc_mtext[1], de ? "*Volumengrenze erreicht! Verbindung wird getrennt."
                           : "*Volume limit reached! Disconnecting.");
    strcpy(cc_mtext[6], "* 5 000 123 kB");
    strcpy(cc_mtext[3], "+18% -105dBm");
    strcpy(cc_mtext[9], de ? "*Volumen~grenze!" : "*Volume_limit!");
}

void serie(bool de) {
    _de = de;
    // Away from the other tests' windows at 0,0 and their menus at the pointer.
    inidat.headerx_neu = 40;
    inidat.headery_neu = 560;
    texte(de);
    zeige(fefo_NORMAL);
    const char* s = de ? "de" : "en";
    EXPECT_TRUE(foto((std::string("normal_") + s).c_str()));
    alarm(de);
    cc_show();
    EXPECT_TRUE(foto((std::string("normal_alarm_") + s).c_str()));
    texte(de);
    zeige(fefo_MINI);
    EXPECT_TRUE(foto((std::string("mini_") + s).c_str()));
    alarm(de);
    cc_show();
    EXPECT_TRUE(foto((std::string("mini_alarm_") + s).c_str()));
    GtkWidget* m = gesperrt([] {
        cc_menu();
        return gtk_widget_get_toplevel(menue());
    });
    EXPECT_TRUE(foto((std::string("menu_") + s).c_str(), m));
    gesperrt([] { gtk_menu_popdown(GTK_MENU(menue())); });
}

// One case, so that the two languages never share the screen.
TEST_F(Fenster, ScreenshotsGermanAndEnglish) {
    serie(true);
    setfefo(fefo_OHNE);
    cc_show();
    serie(false);
}

} // namespace
