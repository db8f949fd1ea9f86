// The splash window in a running GTK loop: messages of every kind in both languages,
// suppression, self-hiding with its timers, calls from inside the loop, and screenshots.
#include "gtktestloop.h"
#include "config/inifile.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "ui/gtkmain.h"
#include "ui/splash.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>

#include <gtk/gtk.h>

namespace {

using uhr = std::chrono::steady_clock;

long ms_seit(uhr::time_point t0) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(uhr::now() - t0).count();
}
void schlafe(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The splash window is the top-level window whose first label reads "tandor". GDK lock held.
GtkWidget* splashfenster(GtkWidget** meldung = nullptr) {
    GtkWidget* gefunden = nullptr;
    GList* alle = gtk_window_list_toplevels();
    for (GList* l = alle; l && !gefunden; l = l->next) {
        GtkWidget* box = gtk_bin_get_child(GTK_BIN(l->data));
        if (!box || !GTK_IS_VBOX(box)) continue;
        GList* kinder = gtk_container_get_children(GTK_CONTAINER(box));
        if (g_list_length(kinder) == 2 && GTK_IS_LABEL(kinder->data) &&
            std::string(gtk_label_get_text(GTK_LABEL(kinder->data))) == "tandor") {
            gefunden = GTK_WIDGET(l->data);
            if (meldung) *meldung = GTK_WIDGET(kinder->next->data);
        }
        g_list_free(kinder);
    }
    g_list_free(alle);
    return gefunden;
}

struct Sicht {
    bool sichtbar = false;
    std::string text;
};

// What the screen shows now: visible or not, and the message label.
Sicht sicht() {
    Sicht s;
    th_enter();
    GtkWidget* meldung = nullptr;
    GtkWidget* w = splashfenster(&meldung);
    if (w) {
        s.sichtbar = gtk_widget_get_visible(w);
        s.text = gtk_label_get_text(GTK_LABEL(meldung));
    }
    th_leave();
    return s;
}

bool warte(const std::function<bool()>& f, long ms) {
    auto t0 = uhr::now();
    while (!f()) {
        if (ms_seit(t0) > ms) return false;
        schlafe(10);
    }
    return true;
}

struct Splash : ::testing::Test {
    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run the tests through tests/harness.sh";
        ASSERT_TRUE(gm_init(nullptr, nullptr));
        th_create(gtkthread, nullptr);
        ASSERT_TRUE(warte([] { return gtklaeuft.load(); }, 5000));
        cs_nosplash = false;
        smsconfigsub = false;
        _de = false;
    }
    // The loop must be gone before the process exits and GTK's memory goes with it.
    void TearDown() override { EXPECT_TRUE(th_terminate(5000)); }
};

struct Art {
    int art;
    const char* de; // nullptr: the window is hidden
    const char* en;
};
const Art arten[] = {
    {1, "Start.", "Start."},
    {2, "Restart.", "Restart."},
    {3, "End.", "End."},
    {5, "Daten werden gespeichert.", "Storing configuration data."},
    {10, "Programm wird beendet.", "Terminating the programm."},
    {11, "Standby wird eingeleitet.", "Entering standby."},
    {12,
     "R\xc3\xbc"
     "ckkehr aus Standby.",
     "Resuming from standby."},
    {21, "Bitte einige Sekunden warten.", "Please wait some seconds."},
    {32, "Still running.", "Still running."},
    {33, "Sende-Auftrag angenommen.", "Send request accepted."},
    {34, "Name gespeichert.", "Name stored."},
    {0, nullptr, nullptr},
    {4, nullptr, nullptr},
    {-1, nullptr, nullptr},
};

// A call from a thread outside the loop returns with the window already updated.
TEST_F(Splash, EveryKindShowsItsTextInBothLanguagesAtOnce) {
    for (bool de : {true, false}) {
        _de = de;
        for (const Art& a : arten) {
            cs_show(5); // something visible first, so that hiding shows
            cs_show(a.art);
            Sicht s = sicht();
            SCOPED_TRACE(std::to_string(a.art) + (de ? " de" : " en"));
            if (a.de) {
                EXPECT_TRUE(s.sichtbar);
                EXPECT_EQ(s.text, de ? a.de : a.en);
                EXPECT_EQ(cs_state(), a.art);
                EXPECT_STREQ(cs_text(), de ? a.de : a.en);
            } else {
                EXPECT_FALSE(s.sichtbar);
                EXPECT_EQ(cs_state(), 0);
            }
        }
    }
}

TEST_F(Splash, StartAndEndKindsAreSuppressedButMessagesAreNot) {
    cs_show(5);
    cs_nosplash = true;
    for (int art : {1, 2, 3, 10, 11, 12}) {
        cs_show(5);
        cs_show(art);
        EXPECT_FALSE(sicht().sichtbar) << art;
        EXPECT_EQ(cs_state(), 0);
    }
    cs_show(5);
    EXPECT_TRUE(sicht().sichtbar);
    cs_show(33);
    EXPECT_EQ(sicht().text, "Send request accepted.");

    // The SMS configuration instance shows no "Start." but the other kinds.
    cs_nosplash = false;
    smsconfigsub = true;
    cs_show(1);
    EXPECT_FALSE(sicht().sichtbar);
    cs_show(2);
    EXPECT_TRUE(sicht().sichtbar);
    EXPECT_EQ(sicht().text, "Restart.");
}

TEST_F(Splash, FreeTextOfKindNineIsConvertedAndBounded) {
    cs_splashtext("--> Gr\xfc\xdf"
                  "e");
    cs_show(9);
    EXPECT_EQ(sicht().text, "--> Gr\xc3\xbc\xc3\x9f"
                            "e");
    EXPECT_TRUE(sicht().sichtbar);
    // Markup characters are shown as they are.
    cs_splashtext("<b>x</b> & y");
    cs_show(9);
    EXPECT_EQ(sicht().text, "<b>x</b> & y");
    cs_splashtext(std::string(200, 'a').c_str());
    cs_show(9);
    EXPECT_EQ(sicht().text, std::string(59, 'a'));
    cs_splashtext(nullptr);
    cs_show(9);
    EXPECT_EQ(sicht().text, "");
}

TEST_F(Splash, SendRequestAcceptedHidesItselfAfterAboutOneAndAHalfSeconds) {
    auto t0 = uhr::now();
    cs_show(33);
    EXPECT_TRUE(sicht().sichtbar);
    EXPECT_EQ(sicht().text, "Send request accepted.");
    schlafe(1100);
    EXPECT_TRUE(sicht().sichtbar);
    ASSERT_TRUE(warte([] { return !sicht().sichtbar; }, 4000));
    long weg = ms_seit(t0);
    EXPECT_GE(weg, 1400);
    EXPECT_LT(weg, 2600);
    EXPECT_EQ(cs_state(), 0);
    EXPECT_STREQ(cs_text(), "");
}

TEST_F(Splash, AnEarlierTimerDoesNotHideALaterMessage) {
    auto t0 = uhr::now();
    cs_show(33); // 1.5 s
    schlafe(700);
    cs_show(34); // 2 s from now
    schlafe(1900 - ms_seit(t0));
    Sicht s = sicht();
    EXPECT_TRUE(s.sichtbar) << "hidden by the timer of the earlier message";
    EXPECT_EQ(s.text, "Name stored.");
    ASSERT_TRUE(warte([] { return !sicht().sichtbar; }, 4000));
    EXPECT_GE(ms_seit(t0), 2500);

    // A message that stays is not hidden by a self-hiding one before it.
    cs_show(33);
    schlafe(200);
    cs_show(5);
    schlafe(2000);
    EXPECT_TRUE(sicht().sichtbar);
    EXPECT_EQ(sicht().text, "Storing configuration data.");
    EXPECT_EQ(cs_state(), 5);
}

std::atomic<long> dauerimloop{-1};

// Inside the loop, with the GDK lock held by the dispatching thread (a gdk_threads
// source) or without it (a plain GLib source): cs_show returns at once and the loop
// shows the message afterwards.
TEST_F(Splash, CallsFromInsideTheLoopNeverWaitForTheLock) {
    gdk_threads_add_idle(
        [](gpointer) -> gboolean {
            auto t0 = uhr::now();
            cs_show(33);
            dauerimloop = ms_seit(t0);
            return FALSE;
        },
        nullptr);
    ASSERT_TRUE(warte([] { return dauerimloop >= 0; }, 3000)) << "cs_show blocked in the loop";
    EXPECT_LT(dauerimloop, 200);
    EXPECT_TRUE(
        warte([] { return sicht().sichtbar && sicht().text == "Send request accepted."; }, 1000));
    // The queued message hides itself like any other.
    EXPECT_TRUE(warte([] { return !sicht().sichtbar; }, 3000));

    dauerimloop = -1;
    g_idle_add(
        [](gpointer) -> gboolean {
            cs_show(5);
            dauerimloop = 0;
            return FALSE;
        },
        nullptr);
    ASSERT_TRUE(warte([] { return dauerimloop >= 0; }, 3000));
    EXPECT_TRUE(warte(
        [] { return sicht().sichtbar && sicht().text == "Storing configuration data."; }, 1000));
}

TEST_F(Splash, WindowIsABorderlessYellowBoxAboveTheMiddleOfTheScreen) {
    cs_show(1);
    ASSERT_TRUE(warte(
        [] {
            th_enter();
            GtkWidget* w = splashfenster();
            bool ok = w && gtk_widget_get_window(w) &&
                      (gdk_window_get_state(gtk_widget_get_window(w)) & GDK_WINDOW_STATE_ABOVE);
            th_leave();
            return ok;
        },
        3000))
        << "not kept above";
    th_enter();
    GtkWidget* w = splashfenster();
    GtkWindow* win = GTK_WINDOW(w);
    EXPECT_FALSE(gtk_window_get_decorated(win));
    EXPECT_TRUE(gtk_window_get_skip_taskbar_hint(win));
    EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(w)), 5u);
    GdkColor gelb = gtk_widget_get_style(w)->bg[GTK_STATE_NORMAL];
    EXPECT_EQ(gelb.red, 0xffff);
    EXPECT_EQ(gelb.green, 0xffff);
    EXPECT_EQ(gelb.blue, 0);
    th_leave();
    // Distance of the window's middle from the screen's, once the window manager has placed
    // it (being kept above may be set before the window has its final position).
    static int dx, dy;
    auto mitte = [] {
        th_enter();
        GdkWindow* g = gtk_widget_get_window(splashfenster());
        int x, y, b, h;
        gdk_window_get_origin(g, &x, &y);
        gdk_drawable_get_size(g, &b, &h);
        dx = x + b / 2 - gdk_screen_get_width(gdk_screen_get_default()) / 2;
        dy = y + h / 2 - gdk_screen_get_height(gdk_screen_get_default()) / 2;
        th_leave();
        return abs(dx) <= 3 && abs(dy) <= 3;
    };
    EXPECT_TRUE(warte(mitte, 3000)) << "off the middle by " << dx << "," << dy;
}

TEST_F(Splash, ADestroyedWindowIsBuiltAgain) {
    cs_show(5);
    th_enter();
    gtk_widget_destroy(splashfenster());
    th_leave();
    cs_show(34);
    Sicht s = sicht();
    EXPECT_TRUE(s.sichtbar);
    EXPECT_EQ(s.text, "Name stored.");
}

// The window as drawn on the screen, once the window manager has placed it and the
// yellow background is there (the middle of the left border). Null after 3 s without.
GdkPixbuf* aufnahme() {
    auto t0 = uhr::now();
    for (;;) {
        th_enter();
        GdkPixbuf* pb = nullptr;
        GtkWidget* w = splashfenster();
        if (w && gtk_widget_get_window(w)) {
            GdkWindow* gw = gtk_widget_get_window(w);
            int b, h;
            gdk_drawable_get_size(gw, &b, &h);
            pb = gdk_pixbuf_get_from_drawable(nullptr, gw, nullptr, 0, 0, 0, 0, b, h);
        }
        th_leave();
        if (pb) {
            const guchar* p = gdk_pixbuf_get_pixels(pb) +
                              gdk_pixbuf_get_rowstride(pb) * (gdk_pixbuf_get_height(pb) / 2) +
                              gdk_pixbuf_get_n_channels(pb);
            if (p[0] == 255 && p[1] == 255 && p[2] == 0) return pb;
            g_object_unref(pb);
        }
        if (ms_seit(t0) > 3000) return nullptr;
        schlafe(100);
    }
}

void bild(const char* name) {
    schlafe(300); // the labels are drawn after the background
    GdkPixbuf* pb = aufnahme();
    ASSERT_NE(pb, nullptr) << "no yellow window on the screen";
    std::string dir = std::string(TANDOR_BINARY_DIR) + "/screenshots";
    mkdir(dir.c_str(), 0755);
    std::string datei = dir + "/" + name + ".png";
    EXPECT_TRUE(gdk_pixbuf_save(pb, datei.c_str(), "png", nullptr, nullptr));
    g_object_unref(pb);
}

TEST_F(Splash, Screenshots) {
    _de = true;
    cs_show(1);
    bild("splash_start");
    cs_show(5);
    bild("splash_saving_de");
    _de = false;
    cs_show(5);
    bild("splash_saving_en");
    _de = true;
    cs_show(12);
    bild("splash_resume_de");
}

// Without an initialised GTK (the start before gtk_init, programs of other layers) only
// the request is kept.
TEST(SplashOhneGtk, OnlyTheStateIsKept) {
    _de = false;
    cs_show(33);
    EXPECT_EQ(cs_state(), 33);
    EXPECT_STREQ(cs_text(), "Send request accepted.");
    cs_nosplash = true;
    cs_show(1);
    EXPECT_EQ(cs_state(), 0);
    EXPECT_STREQ(cs_text(), "");
}

} // namespace
