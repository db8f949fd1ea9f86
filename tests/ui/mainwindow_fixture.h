// Shared set-up of the window and menu tests: a running GTK main loop in its own thread,
// a scratch working directory, and small helpers that look at the window's widgets under
// the GTK lock.
#pragma once

#include "gtktestloop.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "testsupport.h"
#include "ui/gtkmain.h"
#include "ui/mainwindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtk/gtk.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mwt {

// Runs f under the GTK lock and returns its result.
template <typename F> auto gesperrt(F f) {
    th_enter();
    if constexpr (std::is_void_v<decltype(f())>) {
        f();
        th_leave();
    } else {
        auto r = f();
        th_leave();
        return r;
    }
}

// Waits (GTK lock free between the looks) until cond, looked at under the lock, holds.
inline bool warte(const std::function<bool()>& cond, long ms = 5000) {
    auto ende = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (gesperrt(cond)) return true;
        if (std::chrono::steady_clock::now() > ende) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

inline void setfefo(int f) {
    std::atomic_ref<int>(fefo).store(f);
}

// Entry widget of normal-window field i (1..7). GTK lock held.
inline GtkWidget* feld(int i) {
    if (!mainwindow) return nullptr;
    GtkWidget* vbox = gtk_bin_get_child(GTK_BIN(mainwindow));
    GList* zeilen = gtk_container_get_children(GTK_CONTAINER(vbox));
    GtkWidget* w = nullptr;
    if (i == 1)
        w = GTK_WIDGET(g_list_nth_data(zeilen, 0));
    else {
        // Row 2: fields 2, 3, label, 4; row 3: fields 7, 6, label, 5.
        static const int zeile[8] = {0, 0, 1, 1, 1, 2, 2, 2};
        static const int platz[8] = {0, 0, 0, 1, 3, 3, 1, 0};
        GList* k =
            gtk_container_get_children(GTK_CONTAINER(g_list_nth_data(zeilen, (guint)zeile[i])));
        w = GTK_WIDGET(g_list_nth_data(k, (guint)platz[i]));
        g_list_free(k);
    }
    g_list_free(zeilen);
    return w;
}

inline std::string feldtext(int i) {
    GtkWidget* w = feld(i);
    return w ? gtk_entry_get_text(GTK_ENTRY(w)) : "<none>";
}

inline std::string farbtext(const GdkColor& c) {
    char s[8];
    snprintf(s, sizeof s, "#%02x%02x%02x", c.red >> 8, c.green >> 8, c.blue >> 8);
    return s;
}

// Base colour of a field as the style now draws it.
inline std::string feldfarbe(int i) {
    GtkWidget* w = feld(i);
    return w ? farbtext(gtk_widget_get_style(w)->base[GTK_STATE_NORMAL]) : "<none>";
}

inline GtkWidget* minilabel() {
    return mainwindow ? gtk_bin_get_child(GTK_BIN(mainwindow)) : nullptr;
}

// Our own visible top-level windows (not menus, not dialogs).
inline int fensterzahl() {
    int n = 0;
    GList* l = gtk_window_list_toplevels();
    for (GList* p = l; p; p = p->next) {
        GtkWidget* w = GTK_WIDGET(p->data);
        if (gtk_widget_get_visible(w) && GTK_IS_WINDOW(w) && !GTK_IS_DIALOG(w) && !GTK_IS_PLUG(w) &&
            gtk_window_get_window_type(GTK_WINDOW(w)) == GTK_WINDOW_TOPLEVEL)
            n++;
    }
    g_list_free(l);
    return n;
}

// The message dialog now shown, if any.
inline GtkWidget* dialog() {
    GtkWidget* d = nullptr;
    GList* l = gtk_window_list_toplevels();
    for (GList* p = l; p; p = p->next)
        if (GTK_IS_MESSAGE_DIALOG(p->data) && gtk_widget_get_visible(GTK_WIDGET(p->data)))
            d = GTK_WIDGET(p->data);
    g_list_free(l);
    return d;
}

// The menu built last (its popup window is a top-level of its own).
inline GtkWidget* menue() {
    GtkWidget* m = nullptr;
    GList* l = gtk_window_list_toplevels();
    for (GList* p = l; p; p = p->next) {
        GtkWidget* k = gtk_bin_get_child(GTK_BIN(p->data));
        if (k && GTK_IS_MENU(k)) m = k;
    }
    g_list_free(l);
    return m;
}

// Labels of the menu's entries, "-" for a separator.
inline std::vector<std::string> menuetexte(GtkWidget* m) {
    std::vector<std::string> r;
    GList* l = gtk_container_get_children(GTK_CONTAINER(m));
    for (GList* p = l; p; p = p->next) {
        GtkWidget* k = gtk_bin_get_child(GTK_BIN(p->data));
        r.push_back(k && GTK_IS_LABEL(k) ? gtk_label_get_text(GTK_LABEL(k)) : "-");
    }
    g_list_free(l);
    return r;
}

inline GtkWidget* eintrag(GtkWidget* m, const std::string& text) {
    GtkWidget* e = nullptr;
    GList* l = gtk_container_get_children(GTK_CONTAINER(m));
    for (GList* p = l; p; p = p->next) {
        GtkWidget* k = gtk_bin_get_child(GTK_BIN(p->data));
        if (k && GTK_IS_LABEL(k) && text == gtk_label_get_text(GTK_LABEL(k)))
            e = GTK_WIDGET(p->data);
    }
    g_list_free(l);
    return e;
}

// Opens the menu as a click would and activates the entry with the label; false when
// there is no such entry. The menu is closed again.
inline bool waehle(const std::string& text) {
    return gesperrt([&] {
        cc_menu();
        GtkWidget* m = menue();
        GtkWidget* e = m ? eintrag(m, text) : nullptr;
        if (e) gtk_menu_item_activate(GTK_MENU_ITEM(e));
        if (m) gtk_menu_popdown(GTK_MENU(m));
        return e != nullptr;
    });
}

// A button press (or other event) on the window as the X server would deliver it.
inline void klick(GtkWidget* w, guint knopf) {
    GdkEvent* ev = gdk_event_new(GDK_BUTTON_PRESS);
    ev->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(w)));
    ev->button.button = knopf;
    ev->button.time = GDK_CURRENT_TIME;
    gtk_widget_event(w, ev);
    gdk_event_free(ev);
}

inline void schliessen() {
    GdkEvent* ev = gdk_event_new(GDK_DELETE);
    ev->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(mainwindow)));
    ev->any.send_event = TRUE;
    gtk_main_do_event(ev);
    gdk_event_free(ev);
}

struct Fenster : ::testing::Test {
    std::string dir;
    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run the tests through tests/harness.sh";
        dir = ts_workdir();
        ASSERT_FALSE(dir.empty());
        ps_resetinidat();
        _de = false;
        for (int i = 0; i < cc_mtextFELD; i++)
            strcpy(cc_mtext[i], "0");
        ASSERT_TRUE(gm_init(nullptr, nullptr));
        th_create(gtkthread, nullptr);
        ASSERT_TRUE(warte([] { return gtklaeuft.load(); }));
    }
    // The GTK loop ends before the process does, so that no drawing runs into exit.
    void TearDown() override { th_terminate(3000); }
};

// Shows the window in form f and waits until the window manager has mapped it.
inline void zeige(int f) {
    setfefo(f);
    cc_show();
    if (f >= fefo_NORMAL && f <= fefo_MINI2)
        warte(
            [] { return mainwindow && gdk_window_is_viewable(gtk_widget_get_window(mainwindow)); });
}

} // namespace mwt
