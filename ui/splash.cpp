#include "ui/splash.h"

#include "config/inifile.h"
#include "core/helpers.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "ui/mainwindow.h"

#include <gtk/gtk.h>
#include <mutex>

namespace {

struct cs__art_t {
    int art;
    const char* de;
    const char* en;
    unsigned hidems;   // hides itself after this time; 0 stays
    bool unterdrueckt; // suppressed by cs_nosplash
};

// Texts are Latin-1 like the rest of the program's literals; strmtoutf8 converts them.
constexpr cs__art_t cs__arten[] = {
    {1, "Start.", "Start.", 0, true},
    {2, "Restart.", "Restart.", 0, true},
    {3, "End.", "End.", 0, true},
    {5, "Daten werden gespeichert.", "Storing configuration data.", 0, false},
    {9, nullptr, nullptr, 0, false},
    {10, "Programm wird beendet.", "Terminating the programm.", 0, true},
    {11, "Standby wird eingeleitet.", "Entering standby.", 0, true},
    {12,
     "R\xfc"
     "ckkehr aus Standby.",
     "Resuming from standby.", 0, true},
    {21, "Bitte einige Sekunden warten.", "Please wait some seconds.", 4000, false},
    {32, "Still running.", "Still running.", 2500, false},
    {33, "Sende-Auftrag angenommen.", "Send request accepted.", 1500, false},
    {34, "Name gespeichert.", "Name stored.", 2000, false},
};

// The request in effect. Written by any thread; the GDK lock is never taken while
// cs__mutex is held, so the two cannot deadlock.
std::mutex cs__mutex;
char cs__splashtext[60];
int cs__art = 0;
char cs__meldung[100];
// Counts the requests. A hide timer carries the generation it was started for and hides
// only while no later request has come, so it never hides somebody else's message.
unsigned long cs__generation = 0;

// The window; used only under the GDK lock.
GtkWidget* cs__window = nullptr;
GtkWidget* cs__text = nullptr;
bool cs__ready = false;
unsigned long cs__angezeigt = 0; // generation last put into the window

const cs__art_t* cs__suche(int art) {
    for (const auto& a : cs__arten)
        if (a.art == art) return &a;
    return nullptr;
}

// Someone destroyed the window (for instance all windows at program end): the next
// message builds a new one instead of using a dead pointer.
void cs__destroyed(GtkWidget*, gpointer) {
    cs__window = nullptr;
    cs__text = nullptr;
    cs__ready = false;
    cs__angezeigt = 0;
}

// A close request from the window manager only hides the splash.
gboolean cs__delete(GtkWidget* w, GdkEvent*, gpointer) {
    gtk_widget_hide(w);
    return TRUE;
}

// GDK lock held.
void cs__ini() {
    cs__window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* win = GTK_WINDOW(cs__window);
    // Centred again whenever a longer or shorter message changes the size.
    gtk_window_set_position(win, GTK_WIN_POS_CENTER_ALWAYS);
    gtk_window_set_keep_above(win, TRUE);
    gtk_window_set_skip_taskbar_hint(win, TRUE);
    gtk_window_set_decorated(win, FALSE);
    gtk_window_set_resizable(win, FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(cs__window), 5);
    setcolor(cs__window, "#ffff00");

    GtkWidget* box = gtk_vbox_new(TRUE, 2);
    GtkWidget* titel = gtk_label_new("tandor");
    PangoFontDescription* f = pango_font_description_from_string("Sans Bold 14");
    gtk_widget_modify_font(titel, f);
    pango_font_description_free(f);
    cs__text = gtk_label_new("Start.");
    f = pango_font_description_from_string("Sans 11");
    gtk_widget_modify_font(cs__text, f);
    pango_font_description_free(f);
    gtk_misc_set_padding(GTK_MISC(cs__text), 12, 0);
    gtk_box_pack_start(GTK_BOX(box), titel, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), cs__text, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(cs__window), box);
    // Short messages such as "Start." still give a box that catches the eye.
    gtk_widget_set_size_request(cs__window, 180, -1);
    g_signal_connect(cs__window, "destroy", G_CALLBACK(cs__destroyed), nullptr);
    g_signal_connect(cs__window, "delete-event", G_CALLBACK(cs__delete), nullptr);
    cs__angezeigt = 0;
    cs__ready = true;
}

// Runs in the GTK main loop under the GDK lock (gdk_threads_add_timeout).
gboolean cs__hide(gpointer generation) {
    {
        std::lock_guard<std::mutex> g(cs__mutex);
        if (cs__generation != (unsigned long)GPOINTER_TO_SIZE(generation)) return FALSE;
        cs__art = 0;
        cs__meldung[0] = 0;
    }
    if (cs__ready) gtk_widget_hide(cs__window);
    return FALSE;
}

// Puts the newest request into the window. GDK lock held. Requests that were queued and
// then overtaken find their generation already shown and change nothing.
void cs__anwenden() {
    if (!cs__ready) cs__ini();
    int art;
    char meldung[sizeof cs__meldung];
    unsigned long generation;
    {
        std::lock_guard<std::mutex> g(cs__mutex);
        art = cs__art;
        strMcpy(meldung, cs__meldung);
        generation = cs__generation;
    }
    if (generation == cs__angezeigt) return;
    cs__angezeigt = generation;
    if (art == 0) {
        gtk_widget_hide(cs__window);
        return;
    }
    gtk_label_set_text(GTK_LABEL(cs__text), meldung);
    const cs__art_t* a = cs__suche(art);
    if (a && a->hidems)
        gdk_threads_add_timeout(a->hidems, cs__hide, GSIZE_TO_POINTER((gsize)generation));
    gtk_widget_show_all(cs__window);
    gtk_window_present(GTK_WINDOW(cs__window));
}

gboolean cs__idle(gpointer) {
    cs__anwenden();
    return FALSE;
}

// GTK has been initialised with a display. Asking the type system first keeps processes
// without any GTK (tests of other layers, the start before gtk_init) free of GDK objects.
bool cs__gtkbereit() {
    return g_type_from_name("GdkDisplayManager") != 0 && gdk_display_get_default() != nullptr;
}

} // namespace

void cs_splashtext(const char* t) {
    std::lock_guard<std::mutex> g(cs__mutex);
    strMcpy(cs__splashtext, t ? t : "");
}

void cs_show(int splashart) {
    const cs__art_t* a = cs__suche(splashart);
    int art = a ? splashart : 0;
    if (a && a->unterdrueckt && (cs_nosplash || (art == 1 && smsconfigsub))) art = 0;
    {
        std::lock_guard<std::mutex> g(cs__mutex);
        if (art == 9)
            strMtoutf8(cs__meldung, cs__splashtext);
        else if (art)
            strMtoutf8(cs__meldung, _de ? a->de : a->en);
        else
            cs__meldung[0] = 0;
        cs__art = art;
        ++cs__generation;
    }
    if (!cs__gtkbereit()) return;
    // Inside the main loop the GDK lock may be held by this very thread (event handlers,
    // gdk_threads timeouts) or not (plain GLib sources): the loop does the work later.
    if (g_main_context_is_owner(g_main_context_default())) {
        gdk_threads_add_idle(cs__idle, nullptr);
        return;
    }
    th_enter();
    cs__anwenden();
    gdk_flush();
    th_leave();
}

int cs_state() {
    std::lock_guard<std::mutex> g(cs__mutex);
    return cs__art;
}

const char* cs_text() {
    thread_local char kopie[sizeof cs__meldung];
    std::lock_guard<std::mutex> g(cs__mutex);
    strMcpy(kopie, cs__meldung);
    return kopie;
}
