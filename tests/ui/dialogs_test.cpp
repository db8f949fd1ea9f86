// Message boxes, button dialogs and the input dialog on a real display: answered by click,
// keys, the window's close and the time-out, always from a thread that is not the GTK
// thread; destroyed parents, answers that race, the program end, the GTK thread as caller,
// texts with markup characters, and screenshots for people to look at.
#include "gtktestloop.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "testsupport.h"
#include "ui/buttondialog.h"
#include "ui/gtkmain.h"
#include "ui/inputdialog.h"
#include "ui/messagebox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using uhr = std::chrono::steady_clock;

long ms_seit(uhr::time_point t0) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(uhr::now() - t0).count();
}

bool warte(const std::function<bool()>& f, long ms) {
    auto ende = uhr::now() + std::chrono::milliseconds(ms);
    while (!f()) {
        if (uhr::now() > ende) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Warnings and criticals of GLib, GTK and Pango while a test runs.
std::mutex logmu;
std::vector<std::string> logwarnungen;
void logfang(const gchar* domain, GLogLevelFlags level, const gchar* msg, gpointer) {
    if (!(level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR))) return;
    std::lock_guard<std::mutex> g(logmu);
    logwarnungen.push_back(std::string(domain ? domain : "") + ": " + (msg ? msg : ""));
}

// One dialog call in a thread of its own.
struct aufruf {
    std::atomic<bool> fertig{false};
    std::atomic<int> ergebnis{-99};
    std::atomic<bool> imgtk{false};
    std::thread t;
    uhr::time_point ende;
    explicit aufruf(std::function<int()> f) {
        t = std::thread([this, f] {
            imgtk = g_thread_self() == gtkfaden.load();
            ergebnis = f();
            ende = uhr::now();
            fertig = true;
        });
    }
    bool warten(long ms = 5000) {
        return warte([this] { return fertig.load(); }, ms);
    }
    ~aufruf() {
        if (t.joinable()) t.join();
    }
};

struct sperre {
    sperre() { th_enter(); }
    ~sperre() { th_leave(); }
};

// The visible top-level window titled titel; caller holds the GTK lock.
GtkWidget* fenster_locked(const char* titel) {
    GtkWidget* gefunden = nullptr;
    GList* l = gtk_window_list_toplevels();
    for (GList* i = l; i; i = i->next) {
        GtkWindow* w = GTK_WINDOW(i->data);
        const char* t = gtk_window_get_title(w);
        if (t && std::string(t) == titel && gtk_widget_get_visible(GTK_WIDGET(w)))
            gefunden = GTK_WIDGET(w);
    }
    g_list_free(l);
    return gefunden;
}

GtkWidget* fenster(const char* titel, long ms = 5000) {
    GtkWidget* w = nullptr;
    warte(
        [&] {
            sperre s;
            w = fenster_locked(titel);
            return w != nullptr;
        },
        ms);
    return w;
}

bool fensterweg(const char* titel, long ms = 3000) {
    return warte(
        [&] {
            sperre s;
            return fenster_locked(titel) == nullptr;
        },
        ms);
}

void sammle(GtkWidget* w, GType typ, std::vector<GtkWidget*>& out) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(w, typ)) out.push_back(w);
    if (GTK_IS_CONTAINER(w)) {
        GList* l = gtk_container_get_children(GTK_CONTAINER(w));
        for (GList* i = l; i; i = i->next)
            sammle(GTK_WIDGET(i->data), typ, out);
        g_list_free(l);
    }
}

// The button labelled label (stock id for stock buttons); GTK lock held.
GtkWidget* knopf(GtkWidget* w, const char* label) {
    std::vector<GtkWidget*> v;
    sammle(w, GTK_TYPE_BUTTON, v);
    for (GtkWidget* b : v) {
        const char* l = gtk_button_get_label(GTK_BUTTON(b));
        if (l && std::string(l) == label) return b;
    }
    return nullptr;
}

// Labels of the buttons from left to right.
std::vector<std::string> knopflabels(GtkWidget* w) {
    std::vector<GtkWidget*> v;
    sammle(w, GTK_TYPE_BUTTON, v);
    std::stable_sort(v.begin(), v.end(), [](GtkWidget* a, GtkWidget* b) {
        GtkAllocation x, y;
        gtk_widget_get_allocation(a, &x);
        gtk_widget_get_allocation(b, &y);
        return x.x < y.x;
    });
    std::vector<std::string> r;
    for (GtkWidget* b : v)
        r.push_back(gtk_button_get_label(GTK_BUTTON(b)) ? gtk_button_get_label(GTK_BUTTON(b)) : "");
    return r;
}

std::vector<std::string> labeltexte(GtkWidget* w) {
    std::vector<GtkWidget*> v;
    sammle(w, GTK_TYPE_LABEL, v);
    std::vector<std::string> r;
    for (GtkWidget* l : v)
        r.push_back(gtk_label_get_text(GTK_LABEL(l)));
    return r;
}

bool klicke(const char* titel, const char* label) {
    if (!fenster(titel)) return false;
    sperre s;
    GtkWidget* b = knopf(fenster_locked(titel), label);
    if (!b) return false;
    gtk_button_clicked(GTK_BUTTON(b));
    return true;
}

// A key press and release as the X server would deliver them; GTK lock held.
void taste_locked(GtkWidget* w, guint keyval) {
    GdkKeymapKey* keys = nullptr;
    gint n = 0;
    guint16 code = 0;
    if (gdk_keymap_get_entries_for_keyval(nullptr, keyval, &keys, &n) && n > 0)
        code = (guint16)keys[0].keycode;
    g_free(keys);
    // The press may already destroy the window; the release goes to its GdkWindow then.
    GdkWindow* gw = GDK_WINDOW(g_object_ref(w->window));
    for (GdkEventType typ : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* ev = gdk_event_new(typ);
        ev->key.window = GDK_WINDOW(g_object_ref(gw));
        ev->key.send_event = TRUE;
        ev->key.time = GDK_CURRENT_TIME;
        ev->key.keyval = keyval;
        ev->key.hardware_keycode = code;
        gtk_main_do_event(ev);
        gdk_event_free(ev);
    }
    g_object_unref(gw);
}

bool taste(const char* titel, guint keyval) {
    if (!fenster(titel)) return false;
    sperre s;
    GtkWidget* w = fenster_locked(titel);
    if (!w) return false;
    taste_locked(w, keyval);
    return true;
}

// The window manager's close button.
bool schliesse(const char* titel) {
    if (!fenster(titel)) return false;
    sperre s;
    GtkWidget* w = fenster_locked(titel);
    if (!w) return false;
    GdkEvent* ev = gdk_event_new(GDK_DELETE);
    ev->any.window = GDK_WINDOW(g_object_ref(w->window));
    ev->any.send_event = TRUE;
    gtk_main_do_event(ev);
    gdk_event_free(ev);
    return true;
}

GtkWidget* eingabefeld_locked(GtkWidget* w) {
    std::vector<GtkWidget*> v;
    sammle(w, GTK_TYPE_ENTRY, v);
    return v.empty() ? nullptr : v[0];
}

// Writes the window with its frame as PNG under the build directory.
void bildschirmfoto(const char* titel, const char* name) {
    GtkWidget* w = fenster(titel);
    ASSERT_NE(w, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // mapped and drawn
    sperre s;
    w = fenster_locked(titel);
    ASSERT_NE(w, nullptr);
    gdk_window_process_all_updates();
    gdk_flush();
    GdkRectangle r;
    gdk_window_get_frame_extents(w->window, &r);
    GdkPixbuf* pb = gdk_pixbuf_get_from_drawable(nullptr, gdk_get_default_root_window(), nullptr,
                                                 r.x, r.y, 0, 0, r.width, r.height);
    ASSERT_NE(pb, nullptr);
    std::string dir = std::string(TANDOR_BINARY_DIR) + "/screenshots";
    g_mkdir_with_parents(dir.c_str(), 0755);
    std::string pfad = dir + "/" + name + ".png";
    EXPECT_TRUE(gdk_pixbuf_save(pb, pfad.c_str(), "png", nullptr, nullptr)) << pfad;
    g_object_unref(pb);
}

struct Dialoge : ::testing::Test {
    std::string dir;
    bool mitgtkthread = true;
    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run the tests through tests/harness.sh";
        dir = ts_scratchdir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
        programmende_gewuenscht = false;
        g_log_set_default_handler(logfang, nullptr);
        ASSERT_TRUE(gm_init(nullptr, nullptr));
        if (!mitgtkthread) return;
        th_create(gtkthread, nullptr);
        ASSERT_TRUE(warte([] { return gtklaeuft.load(); }, 5000));
    }
    void TearDown() override {
        th_terminate(3000);
        std::lock_guard<std::mutex> g(logmu);
        for (auto& m : logwarnungen)
            ADD_FAILURE() << "logged: " << m;
    }
};

// --- me_messagebox --------------------------------------------------------------------

TEST_F(Dialoge, MessageBoxButtonsInOrderAndTheirAnswers) {
    struct {
        int buttons;
        std::vector<std::string> labels;
        const char* klick;
        int antwort;
    } faelle[] = {
        {3, {"gtk-cancel", "gtk-no", "gtk-yes"}, "gtk-no", 2},
        {3, {"gtk-cancel", "gtk-no", "gtk-yes"}, "gtk-cancel", 0},
        {2, {"gtk-no", "gtk-yes"}, "gtk-yes", 1},
        {1, {"gtk-cancel", "gtk-ok"}, "gtk-ok", 1},
        {0, {"gtk-ok"}, "gtk-ok", 1},
    };
    for (auto& f : faelle) {
        SCOPED_TRACE(f.klick);
        aufruf a([&] { return me_messagebox(0, "Frage", "Text", 3, f.buttons, 0); });
        GtkWidget* w = fenster("Frage");
        ASSERT_NE(w, nullptr);
        {
            sperre s;
            EXPECT_EQ(knopflabels(GTK_DIALOG(w)->action_area), f.labels);
        }
        EXPECT_FALSE(a.fertig);
        ASSERT_TRUE(klicke("Frage", f.klick));
        ASSERT_TRUE(a.warten());
        EXPECT_EQ(a.ergebnis, f.antwort);
        EXPECT_FALSE(a.imgtk);
        EXPECT_TRUE(fensterweg("Frage"));
    }
}

TEST_F(Dialoge, MessageBoxEscapeAndCloseAnswerZero) {
    for (int weg = 0; weg < 2; weg++) {
        aufruf a([] { return me_messagebox(0, "Hinweis", "Text", 0, 2, 0); });
        ASSERT_TRUE(weg == 0 ? taste("Hinweis", GDK_Escape) : schliesse("Hinweis"));
        ASSERT_TRUE(a.warten());
        EXPECT_EQ(a.ergebnis, 0) << (weg == 0 ? "Escape" : "close");
        EXPECT_TRUE(fensterweg("Hinweis"));
    }
}

TEST_F(Dialoge, MessageBoxTimeOutAnswersMinusOne) {
    auto t0 = uhr::now();
    aufruf a([] { return me_messagebox(0, "Zeit", "Text", 2, 0, 600); });
    ASSERT_NE(fenster("Zeit"), nullptr);
    ASSERT_TRUE(a.warten(5000));
    EXPECT_EQ(a.ergebnis, -1);
    long dauer = (long)std::chrono::duration_cast<std::chrono::milliseconds>(a.ende - t0).count();
    EXPECT_GE(dauer, 550);
    EXPECT_LT(dauer, 2500);
    EXPECT_TRUE(fensterweg("Zeit"));
}

TEST_F(Dialoge, MessageBoxArgumentsOutOfRangeShowNothing) {
    auto t0 = uhr::now();
    EXPECT_EQ(me_messagebox(0, "X", "Y", 4, 0, 0), 0);
    EXPECT_EQ(me_messagebox(0, "X", "Y", 0, -1, 0), 0);
    EXPECT_EQ(me_messagebox(1, "X", "Y", 0, 0, 0), 0);
    EXPECT_EQ(me_messagebox(0, nullptr, "Y", 0, 0, 0), 0);
    EXPECT_EQ(me_messagebox(0, "X", "Y", 0, 0, -5), 0);
    EXPECT_LT(ms_seit(t0), 200);
    sperre s;
    EXPECT_EQ(fenster_locked("X"), nullptr);
}

// --- me_messageboxa -------------------------------------------------------------------

TEST_F(Dialoge, AsyncBoxReturnsAtOnceAndItsYesEndsTheProgram) {
    auto t0 = uhr::now();
    me_messageboxa(1, "tandor   End", "Terminate tandor?  ", 0);
    EXPECT_LT(ms_seit(t0), 100);
    ASSERT_TRUE(klicke("tandor   End", "gtk-no"));
    ASSERT_TRUE(fensterweg("tandor   End"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(programmende_gewuenscht);

    {
        sperre s; // called with the GTK lock held, as the window's close handler does
        me_messageboxa(1, "tandor   End", "Terminate tandor?  ", 0);
    }
    ASSERT_TRUE(klicke("tandor   End", "gtk-yes"));
    EXPECT_TRUE(warte([] { return programmende_gewuenscht.load(); }, 3000));
}

TEST_F(Dialoge, AsyncNoticeHasOnlyOk) {
    me_messageboxa(0, "tandor   Configuration", "Please terminate the parallely  \nrunning", 5);
    GtkWidget* w = fenster("tandor   Configuration");
    ASSERT_NE(w, nullptr);
    {
        sperre s;
        EXPECT_EQ(knopflabels(GTK_DIALOG(w)->action_area), std::vector<std::string>{"gtk-ok"});
    }
    ASSERT_TRUE(klicke("tandor   Configuration", "gtk-ok"));
    EXPECT_TRUE(fensterweg("tandor   Configuration"));
    EXPECT_FALSE(programmende_gewuenscht);
}

// --- bd_buttondialog ------------------------------------------------------------------

const char* const abc = "|q#Titel#Text|1#A|+2#B|0#C";

TEST_F(Dialoge, ButtonDialogReturnOnTheDefaultAndClick) {
    {
        aufruf a([] { return bd_buttondialog(abc, 0); });
        GtkWidget* w = fenster("Titel");
        ASSERT_NE(w, nullptr);
        {
            sperre s;
            EXPECT_EQ(knopflabels(w), (std::vector<std::string>{"A", "B", "C"}));
            GtkWidget* b = knopf(w, "B");
            EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(w)), b);
            std::vector<GtkWidget*> bilder;
            sammle(w, GTK_TYPE_IMAGE, bilder);
            ASSERT_EQ(bilder.size(), 1u);
            gchar* stock = nullptr;
            gtk_image_get_stock(GTK_IMAGE(bilder[0]), &stock, nullptr);
            EXPECT_STREQ(stock, GTK_STOCK_DIALOG_QUESTION);
        }
        ASSERT_TRUE(taste("Titel", GDK_Return));
        ASSERT_TRUE(a.warten());
        EXPECT_EQ(a.ergebnis, 2);
        EXPECT_TRUE(fensterweg("Titel"));
    }
    aufruf a([] { return bd_buttondialog(abc, 0); });
    ASSERT_TRUE(klicke("Titel", "C"));
    ASSERT_TRUE(a.warten());
    EXPECT_EQ(a.ergebnis, 0);
}

TEST_F(Dialoge, ButtonDialogEscapeCloseAndTimeOut) {
    for (int weg = 0; weg < 2; weg++) {
        aufruf a([] { return bd_buttondialog("|q#Titel#Text|7#A", 0); });
        ASSERT_TRUE(weg == 0 ? taste("Titel", GDK_Escape) : schliesse("Titel"));
        ASSERT_TRUE(a.warten());
        EXPECT_EQ(a.ergebnis, 0);
        EXPECT_TRUE(fensterweg("Titel"));
    }
    // An empty text: a window "Message" without buttons that only the time-out ends.
    auto t0 = uhr::now();
    aufruf a([] { return bd_buttondialog("", 700); });
    ASSERT_NE(fenster("Message"), nullptr);
    ASSERT_TRUE(a.warten());
    EXPECT_EQ(a.ergebnis, -1);
    EXPECT_GE(ms_seit(t0), 650);
    EXPECT_TRUE(fensterweg("Message"));
}

TEST_F(Dialoge, ButtonDialogTwelveItemsShowTenButtons) {
    std::string s = "|w#Viele";
    for (int i = 0; i < 12; i++)
        s += "|" + std::to_string(i % 10) + "#K" + std::to_string(i) + "#d";
    aufruf a([&] { return bd_buttondialog(s.c_str(), 0); });
    GtkWidget* w = fenster("Viele");
    ASSERT_NE(w, nullptr);
    {
        sperre st;
        EXPECT_EQ(knopflabels(w).size(), 10u);
    }
    ASSERT_TRUE(klicke("Viele", "K7"));
    ASSERT_TRUE(a.warten());
    EXPECT_EQ(a.ergebnis, 7);
}

// --- ce_inputdialog -------------------------------------------------------------------

struct eingabe {
    char text[50];
    aufruf a;
    explicit eingabe(int art, const char* titel = "PIN")
        : text("unberührt"),
          a([this, art, titel] { return ce_inputdialog(art, titel, "PIN eingeben:", text); }) {}
};

void tippe(const char* titel, const char* s) {
    for (const char* p = s; *p; p++)
        ASSERT_TRUE(taste(titel, gdk_unicode_to_keyval((guint32)(unsigned char)*p)));
}

struct feldzustand {
    std::string text;
    bool apply, save;
};
feldzustand zustand(const char* titel) {
    sperre s;
    GtkWidget* w = fenster_locked(titel);
    if (!w) return {"<no window>", false, false};
    GtkWidget* e = eingabefeld_locked(w);
    GtkWidget* ap = knopf(w, GTK_STOCK_APPLY);
    GtkWidget* sv = knopf(w, GTK_STOCK_SAVE);
    return {gtk_entry_get_text(GTK_ENTRY(e)), ap && gtk_widget_get_sensitive(ap),
            sv && gtk_widget_get_sensitive(sv)};
}

TEST_F(Dialoge, PinEntryChecksEveryKeystrokeAndReturnConfirms) {
    eingabe e(0x78);
    GtkWidget* w = fenster("PIN");
    ASSERT_NE(w, nullptr);
    {
        sperre s;
        GtkWidget* feld = eingabefeld_locked(w);
        ASSERT_NE(feld, nullptr);
        EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(feld)));
        EXPECT_EQ(knopflabels(w),
                  (std::vector<std::string>{GTK_STOCK_CANCEL, GTK_STOCK_SAVE, GTK_STOCK_APPLY}));
    }
    tippe("PIN", "12");
    EXPECT_EQ(zustand("PIN").text, "12");
    tippe("PIN", "a");
    EXPECT_EQ(zustand("PIN").text, "");
    tippe("PIN", "123");
    auto z = zustand("PIN");
    EXPECT_EQ(z.text, "123");
    EXPECT_FALSE(z.apply);
    EXPECT_FALSE(z.save);
    // Return with Apply insensitive does nothing.
    ASSERT_TRUE(taste("PIN", GDK_Return));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(e.a.fertig);
    tippe("PIN", "4");
    z = zustand("PIN");
    EXPECT_TRUE(z.apply);
    EXPECT_TRUE(z.save);
    ASSERT_TRUE(taste("PIN", GDK_Return));
    ASSERT_TRUE(e.a.warten());
    EXPECT_EQ(e.a.ergebnis, 1);
    EXPECT_STREQ(e.text, "1234");
    EXPECT_TRUE(fensterweg("PIN"));
}

TEST_F(Dialoge, PinEntryFiltersPastedText) {
    eingabe e(0x78);
    ASSERT_NE(fenster("PIN"), nullptr);
    tippe("PIN", "12");
    auto paste = [](const char* s) {
        sperre st;
        GtkWidget* feld = eingabefeld_locked(fenster_locked("PIN"));
        gtk_clipboard_set_text(gtk_widget_get_clipboard(feld, GDK_SELECTION_CLIPBOARD), s, -1);
        g_signal_emit_by_name(feld, "paste-clipboard");
    };
    paste("34");
    ASSERT_TRUE(warte([] { return zustand("PIN").text == "1234"; }, 3000));
    EXPECT_TRUE(zustand("PIN").apply);
    paste("5x");
    ASSERT_TRUE(warte([] { return zustand("PIN").text.empty(); }, 3000));
    EXPECT_FALSE(zustand("PIN").apply);
    // Text put in by other means is checked as well, and again at the click.
    {
        sperre st;
        GtkWidget* w = fenster_locked("PIN");
        GtkWidget* feld = eingabefeld_locked(w);
        gint pos = 0;
        gtk_editable_insert_text(GTK_EDITABLE(feld), "99 9-9", -1, &pos);
        EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(feld)), "");
        GtkWidget* ap = knopf(w, GTK_STOCK_APPLY);
        gtk_widget_set_sensitive(ap, TRUE); // as if someone forced it
        gtk_button_clicked(GTK_BUTTON(ap));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(e.a.fertig);
    tippe("PIN", "4711");
    ASSERT_TRUE(klicke("PIN", GTK_STOCK_SAVE));
    ASSERT_TRUE(e.a.warten());
    EXPECT_EQ(e.a.ergebnis, 2);
    EXPECT_STREQ(e.text, "4711");
}

TEST_F(Dialoge, InputCancelledByButtonEscapeOrCloseLeavesTheTextEmpty) {
    for (int weg = 0; weg < 3; weg++) {
        SCOPED_TRACE(weg);
        eingabe e(4, "USSD");
        ASSERT_NE(fenster("USSD"), nullptr);
        {
            sperre s;
            EXPECT_EQ(knopflabels(fenster_locked("USSD")),
                      (std::vector<std::string>{GTK_STOCK_CANCEL, GTK_STOCK_APPLY}));
        }
        tippe("USSD", "*100#");
        EXPECT_EQ(zustand("USSD").text, "*100#");
        EXPECT_TRUE(zustand("USSD").apply);
        bool ok = weg == 0   ? klicke("USSD", GTK_STOCK_CANCEL)
                  : weg == 1 ? taste("USSD", GDK_Escape)
                             : schliesse("USSD");
        ASSERT_TRUE(ok);
        ASSERT_TRUE(e.a.warten());
        EXPECT_EQ(e.a.ergebnis, 0);
        EXPECT_STREQ(e.text, "");
        EXPECT_TRUE(fensterweg("USSD"));
    }
    eingabe e(4, "USSD");
    tippe("USSD", "*100#");
    ASSERT_TRUE(klicke("USSD", GTK_STOCK_APPLY));
    ASSERT_TRUE(e.a.warten());
    EXPECT_EQ(e.a.ergebnis, 1);
    EXPECT_STREQ(e.text, "*100#");
}

TEST_F(Dialoge, LanguageChoice) {
    struct {
        const char* label;
        int antwort;
    } faelle[] = {{"Deutsch", 1}, {"English", 2}, {nullptr, 0}};
    for (auto& f : faelle) {
        eingabe e(1, "tandor   Installation");
        GtkWidget* w = fenster("tandor   Installation");
        ASSERT_NE(w, nullptr);
        {
            sperre s;
            EXPECT_EQ(eingabefeld_locked(w), nullptr);
            EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(w)), knopf(w, "English"));
        }
        if (f.label)
            ASSERT_TRUE(klicke("tandor   Installation", f.label));
        else
            ASSERT_TRUE(schliesse("tandor   Installation"));
        ASSERT_TRUE(e.a.warten());
        EXPECT_EQ(e.a.ergebnis, f.antwort);
        EXPECT_STREQ(e.text, "");
        EXPECT_TRUE(fensterweg("tandor   Installation"));
    }
}

TEST_F(Dialoge, SecondInputDialogWaitsForTheFirst) {
    eingabe erste(4, "Erste");
    ASSERT_NE(fenster("Erste"), nullptr);
    eingabe zweite(4, "Zweite");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    {
        sperre s;
        EXPECT_EQ(fenster_locked("Zweite"), nullptr);
    }
    EXPECT_FALSE(zweite.a.fertig);
    ASSERT_TRUE(klicke("Erste", GTK_STOCK_CANCEL));
    ASSERT_TRUE(erste.a.warten());
    ASSERT_NE(fenster("Zweite"), nullptr);
    tippe("Zweite", "42");
    ASSERT_TRUE(taste("Zweite", GDK_Return));
    ASSERT_TRUE(zweite.a.warten());
    EXPECT_EQ(zweite.a.ergebnis, 1);
    EXPECT_STREQ(zweite.text, "42");
}

// --- Every kind: parents, destruction, races, program end --------------------------------

struct art {
    const char* name;
    const char* titel;
    std::function<int()> rufe;
    int ende; // answer at the program end
};
const std::vector<art>& arten() {
    static const std::vector<art> a = {
        {"message box", "Box", [] { return me_messagebox(0, "Box", "Text", 0, 1, 0); }, -1},
        {"button dialog", "Knopf", [] { return bd_buttondialog("|i#Knopf#Text|1#Ja", 0); }, 0},
        {"input dialog", "Eingabe",
         [] {
             char t[50];
             return ce_inputdialog(0x78, "Eingabe", "PIN:", t);
         },
         0},
    };
    return a;
}

TEST_F(Dialoge, DestroyedParentOrDestroyedDialogAnswersCancel) {
    for (auto& k : arten()) {
        SCOPED_TRACE(k.name);
        GtkWidget* eltern;
        {
            sperre s;
            eltern = gtk_window_new(GTK_WINDOW_TOPLEVEL);
            gtk_window_set_title(GTK_WINDOW(eltern), "Hauptfenster");
            gtk_widget_show_all(eltern);
            me_setparent(eltern);
        }
        aufruf a(k.rufe);
        GtkWidget* w = fenster(k.titel);
        ASSERT_NE(w, nullptr);
        {
            sperre s;
            EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(w)), GTK_WINDOW(eltern));
            gtk_widget_destroy(eltern); // the main window is rebuilt at a form change
            EXPECT_EQ(me_parent(), nullptr);
        }
        ASSERT_TRUE(a.warten());
        EXPECT_EQ(a.ergebnis, 0);
        EXPECT_TRUE(fensterweg(k.titel));

        aufruf b(k.rufe);
        w = fenster(k.titel);
        ASSERT_NE(w, nullptr);
        {
            sperre s;
            EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(w)), nullptr);
            gtk_widget_destroy(w);
        }
        ASSERT_TRUE(b.warten());
        EXPECT_EQ(b.ergebnis, 0);
    }
}

TEST_F(Dialoge, ProgramEndClosesWaitingDialogs) {
    for (auto& k : arten()) {
        SCOPED_TRACE(k.name);
        programmende_gewuenscht = false;
        aufruf a(k.rufe);
        ASSERT_NE(fenster(k.titel), nullptr);
        programmende_gewuenscht = true;
        ASSERT_TRUE(a.warten(2000));
        EXPECT_EQ(a.ergebnis, k.ende);
        EXPECT_TRUE(fensterweg(k.titel));
    }
    programmende_gewuenscht = false;
    // Termination quits the GTK loop too; the waiter must not depend on it.
    aufruf a([] { return me_messagebox(0, "Box", "Text", 0, 0, 0); });
    ASSERT_NE(fenster("Box"), nullptr);
    th_terminate(0);
    ASSERT_TRUE(a.warten(2000));
    EXPECT_EQ(a.ergebnis, -1);
}

TEST_F(Dialoge, ClickAndTimeOutTogetherGiveOneAnswer) {
    for (int runde = 0; runde < 2; runde++) {
        std::atomic<int> rueckgaben{0};
        aufruf a([&] {
            int r = runde == 0 ? me_messagebox(0, "Rennen", "Text", 0, 0, 300)
                               : bd_buttondialog("|i#Rennen#Text|4#Vier", 300);
            rueckgaben++;
            return r;
        });
        ASSERT_NE(fenster("Rennen"), nullptr);
        {
            // The time-out falls due while the lock is held; the click comes first, then
            // others destroy the same dialog again.
            sperre s;
            GtkWidget* w = fenster_locked("Rennen");
            ASSERT_NE(w, nullptr);
            g_object_ref(w);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            gtk_button_clicked(GTK_BUTTON(knopf(w, runde == 0 ? "gtk-ok" : "Vier")));
            gtk_widget_destroy(w); // once more, by someone else
            gtk_widget_destroy(w);
            g_object_unref(w);
        }
        ASSERT_TRUE(a.warten());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(a.ergebnis, runde == 0 ? 1 : 4);
        EXPECT_EQ(rueckgaben, 1);
    }
}

// --- The GTK thread as caller, and no GTK loop at all -----------------------------------

std::atomic<int> gtkergebnis{-99};
std::atomic<int> gtkzweite{-99};

TEST_F(Dialoge, CalledFromAGtkHandlerRunsANestedLoop) {
    gdk_threads_add_idle(
        [](gpointer) -> gboolean {
            th_leave(); // a handler gives the lock back before it asks
            gtkergebnis = me_messagebox(0, "ImGtk", "Text", 3, 2, 0);
            th_enter();
            return FALSE;
        },
        nullptr);
    ASSERT_NE(fenster("ImGtk"), nullptr);
    ASSERT_TRUE(klicke("ImGtk", "gtk-no"));
    ASSERT_TRUE(warte([] { return gtkergebnis.load() != -99; }, 3000));
    EXPECT_EQ(gtkergebnis, 2);

    // An input dialog is open (for another thread); the GTK thread cannot wait for it.
    eingabe e(4, "Offen");
    ASSERT_NE(fenster("Offen"), nullptr);
    gdk_threads_add_idle(
        [](gpointer) -> gboolean {
            th_leave();
            char t[50];
            gtkzweite = ce_inputdialog(4, "Zweite", "x", t);
            th_enter();
            return FALSE;
        },
        nullptr);
    ASSERT_TRUE(warte([] { return gtkzweite.load() != -99; }, 2000));
    EXPECT_EQ(gtkzweite, 0);
    ASSERT_TRUE(klicke("Offen", GTK_STOCK_CANCEL));
    ASSERT_TRUE(e.a.warten());
}

struct OhneGtkThread : Dialoge {
    OhneGtkThread() { mitgtkthread = false; }
};

TEST_F(OhneGtkThread, WithoutAMainLoopTheCallerRunsTheEvents) {
    aufruf a([] { return bd_buttondialog("|i#Frueh#Text|3#Drei", 500); });
    ASSERT_NE(fenster("Frueh"), nullptr);
    ASSERT_TRUE(a.warten());
    EXPECT_EQ(a.ergebnis, -1); // the time-out ran without a GTK thread
    aufruf b([] { return me_messagebox(0, "Frueh", "Text", 0, 0, 0); });
    ASSERT_TRUE(klicke("Frueh", "gtk-ok"));
    ASSERT_TRUE(b.warten());
    EXPECT_EQ(b.ergebnis, 1);
}

// --- Texts ----------------------------------------------------------------------------

TEST_F(Dialoge, MarkupCharactersShowAsTheyAreWithoutWarnings) {
    const char* text = "AT&T <b>fett</b> & 1 < 2 %s %n";
    {
        aufruf a([&] { return me_messagebox(0, "AT&T <i>", text, 2, 0, 0); });
        GtkWidget* w = fenster("AT&T <i>");
        ASSERT_NE(w, nullptr);
        {
            sperre s;
            auto l = labeltexte(w);
            EXPECT_NE(std::find(l.begin(), l.end(), "AT&T <i>"), l.end());
            EXPECT_NE(std::find(l.begin(), l.end(), text), l.end());
        }
        ASSERT_TRUE(klicke("AT&T <i>", "gtk-ok"));
        ASSERT_TRUE(a.warten());
    }
    {
        aufruf a([] { return bd_buttondialog("|w#AT&T <i>#a < b && c|1#<OK>&#x<y", 0); });
        GtkWidget* w = fenster("AT&T <i>");
        ASSERT_NE(w, nullptr);
        {
            sperre s;
            auto l = labeltexte(w);
            EXPECT_NE(std::find(l.begin(), l.end(), "a < b && c"), l.end());
            EXPECT_NE(std::find(l.begin(), l.end(), "x<y"), l.end());
        }
        ASSERT_TRUE(klicke("AT&T <i>", "<OK>&"));
        ASSERT_TRUE(a.warten());
        EXPECT_EQ(a.ergebnis, 1);
    }
    {
        char t[50];
        aufruf a([&] { return ce_inputdialog(0, "AT&T <i>", "Code <&>:", t); });
        GtkWidget* w = fenster("AT&T <i>");
        ASSERT_NE(w, nullptr);
        {
            sperre s;
            auto l = labeltexte(w);
            EXPECT_NE(std::find(l.begin(), l.end(), "Code <&>:"), l.end());
        }
        ASSERT_TRUE(taste("AT&T <i>", GDK_Escape));
        ASSERT_TRUE(a.warten());
    }
    // Latin-1 texts reach GTK as UTF-8.
    aufruf a([] {
        return bd_buttondialog("|i#Gr\xfc\xdf"
                               "e#W\xe4hlen|1#\xd6"
                               "ffnen",
                               0);
    });
    GtkWidget* w = fenster("Grüße");
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(klicke("Grüße", "Öffnen"));
    ASSERT_TRUE(a.warten());
    EXPECT_EQ(a.ergebnis, 1);
}

// --- Screenshots ----------------------------------------------------------------------

TEST_F(Dialoge, Screenshots) {
    {
        aufruf a([] { return me_messagebox(0, "tandor   End", "Terminate tandor?  ", 3, 2, 0); });
        bildschirmfoto("tandor   End", "messagebox");
        ASSERT_TRUE(klicke("tandor   End", "gtk-no"));
        ASSERT_TRUE(a.warten());
    }
    const char* en =
        "|q#tandor   Installation/Update#Please choose the mode of installation resp. update\n"
        "(files in the chosen directory will be updated).|+1#Standard#Directory \"~/tandor\"\n"
        "shall be used.|2#Manuell#Installation directory\nshall be chosen manually.|0#Cancel#"
        "Cancel installation\nresp. update.";
    const char* de =
        "|q#tandor   Installation/Update#Bitte die Art der Installation bzw. des Updates "
        "w\xe4hlen\n(Dateien im Zielverzeichnis werden aktualisiert).|+1#Standard#Standard-"
        "Verzeichnis\n\"~/tandor\" verwenden.|2#Manuell#Installationsverzeichnis\nmanuell "
        "ausw\xe4hlen.|0#Abbrechen#Installation bzw.\nUpdate abbrechen.";
    for (auto [text, name] : {std::pair{en, "buttondialog_en"}, std::pair{de, "buttondialog_de"}}) {
        aufruf a([text = text] { return bd_buttondialog(text, 0); });
        bildschirmfoto("tandor   Installation/Update", name);
        ASSERT_TRUE(taste("tandor   Installation/Update", GDK_Escape));
        ASSERT_TRUE(a.warten());
    }
    {
        eingabe e(1, "tandor   Installation");
        bildschirmfoto("tandor   Installation", "inputdialog_language");
        ASSERT_TRUE(klicke("tandor   Installation", "English"));
        ASSERT_TRUE(e.a.warten());
    }
    {
        eingabe e(0x78, "tandor   PIN");
        ASSERT_NE(fenster("tandor   PIN"), nullptr);
        tippe("tandor   PIN", "1234");
        bildschirmfoto("tandor   PIN", "inputdialog_pin");
        ASSERT_TRUE(taste("tandor   PIN", GDK_Escape));
        ASSERT_TRUE(e.a.warten());
    }
}

} // namespace
