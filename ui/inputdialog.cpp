#include "ui/inputdialog.h"

#include "core/helpers.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "ui/messagebox.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <mutex>

namespace {

// The widgets of one open input dialog; owned by its window (freed at its finalization),
// used only under the GTK lock.
struct ce__form_t {
    int art;
    me_dialog_t* d;
    GtkWidget* entry; // null for the language choice
    GtkWidget* apply;
    GtkWidget* save;
};

std::mutex ce__mutex; // guards ce__busy
std::condition_variable ce__cv;
bool ce__busy = false;

bool ce__endrequested() {
    return th_queryterminate() || programmende_gewuenscht;
}

// Length of the entry text as it counts for Apply; clears a line holding a non-digit in
// the digits-only kinds.
long ce__count(ce__form_t* f) {
    const char* t = gtk_entry_get_text(GTK_ENTRY(f->entry));
    long n = (long)strlen(t);
    if (f->art & ce_ZIFFERN) {
        for (const char* p = t; *p; p++)
            if (*p < '0' || *p > '9') {
                gtk_entry_set_text(GTK_ENTRY(f->entry), "");
                return 0;
            }
    }
    if ((f->art & ce_MIN4) && n <= 3) return 0;
    return n;
}

// On every change of the line, typed or pasted.
void ce__changed(GtkEditable*, gpointer p) {
    auto* f = (ce__form_t*)p;
    bool ok = ce__count(f) > 0;
    gtk_widget_set_sensitive(f->apply, ok);
    if (f->save) gtk_widget_set_sensitive(f->save, ok);
}

// Apply (1) and Save (2) take the line only when it is still valid.
void ce__confirm(ce__form_t* f, int antwort) {
    if (antwort != 0 && f->entry) {
        if (ce__count(f) <= 0) return;
        const char* t = gtk_entry_get_text(GTK_ENTRY(f->entry));
        char kopie[50];
        size_t n = strlen(t);
        if (n > sizeof kopie - 1) {
            n = sizeof kopie - 1;
            while (n > 0 && ((unsigned char)t[n] & 0xC0) == 0x80)
                n--; // no cut inside a UTF-8 sequence
        }
        memcpy(kopie, t, n);
        kopie[n] = '\0';
        me_dialogsettext(f->d, kopie);
    }
    me_dialoganswer(f->d, antwort);
}

void ce__clicked(GtkWidget* b, gpointer p) {
    ce__confirm((ce__form_t*)p, GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "ce-answer")));
}

void ce__activate(GtkEntry*, gpointer p) {
    auto* f = (ce__form_t*)p;
    if (gtk_widget_get_sensitive(f->apply)) ce__confirm(f, 1);
}

gboolean ce__key(GtkWidget*, GdkEventKey* ev, gpointer p) {
    if (ev->keyval != GDK_Escape) return FALSE;
    ce__confirm((ce__form_t*)p, 0);
    return TRUE;
}

gboolean ce__closewindow(GtkWidget*, GdkEvent*, gpointer p) {
    ce__confirm((ce__form_t*)p, 0);
    return TRUE;
}

GtkWidget* ce__button(const char* label, bool stock, int antwort, ce__form_t* f) {
    GtkWidget* b = stock ? gtk_button_new_from_stock(label) : gtk_button_new_with_label(label);
    g_object_set_data(G_OBJECT(b), "ce-answer", GINT_TO_POINTER(antwort));
    g_signal_connect(b, "clicked", G_CALLBACK(ce__clicked), f);
    return b;
}

GtkWidget* ce__sprachspalte(const char* gruss, const char* bitte, GtkWidget* knopf) {
    GtkWidget* v = gtk_vbox_new(FALSE, 8);
    gtk_box_pack_start(GTK_BOX(v), gtk_label_new(gruss), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(v), gtk_label_new(bitte), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(v), knopf, FALSE, FALSE, 0);
    return v;
}

// Builds the window; GTK lock held.
void ce__build(ce__form_t* f, const char* titel, const char* prompt) {
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_assert(w);
    g_object_set_data_full(G_OBJECT(w), "ce-form", f, g_free);
    gtk_window_set_title(GTK_WINDOW(w), titel);
    if (GtkWidget* parent = me_parent()) {
        gtk_window_set_transient_for(GTK_WINDOW(w), GTK_WINDOW(parent));
        gtk_window_set_destroy_with_parent(GTK_WINDOW(w), TRUE);
    }
    gtk_window_set_resizable(GTK_WINDOW(w), FALSE);
    gtk_window_set_position(GTK_WINDOW(w), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(w), TRUE);
    gtk_container_set_border_width(GTK_CONTAINER(w), 4);
    GtkWidget* fokus = nullptr;

    if ((f->art & 0xF) == ce_ARTSPRACHE) {
        GtkWidget* h = gtk_hbox_new(TRUE, 8);
        gtk_container_add(GTK_CONTAINER(w), h);
        GtkWidget* english = ce__button("English", false, 2, f);
        gtk_box_pack_start(GTK_BOX(h),
                           ce__sprachspalte("Welcome!", "Please select\nyour language.", english),
                           TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(h),
                           ce__sprachspalte("Willkommen!", "Bitte wählen Sie\nIhre Sprache.",
                                            ce__button("Deutsch", false, 1, f)),
                           TRUE, TRUE, 0);
        gtk_widget_set_can_default(english, TRUE);
        gtk_widget_grab_default(english);
        fokus = english;
    } else {
        GtkWidget* v = gtk_vbox_new(FALSE, 3);
        gtk_container_add(GTK_CONTAINER(w), v);
        GtkWidget* zeile = gtk_hbox_new(FALSE, 3);
        gtk_box_pack_start(GTK_BOX(v), zeile, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(zeile), gtk_label_new(prompt), FALSE, FALSE, 0);
        f->entry = gtk_entry_new();
        gtk_entry_set_max_length(GTK_ENTRY(f->entry), 49);
        if (f->art & ce_VERDECKT) gtk_entry_set_visibility(GTK_ENTRY(f->entry), FALSE);
        gtk_widget_set_size_request(f->entry, (f->art & ce_MIN4) ? 80 : 180, -1);
        gtk_box_pack_start(GTK_BOX(zeile), f->entry, TRUE, TRUE, 0);

        GtkWidget* rechts = gtk_alignment_new(1, 0.5, 0, 0);
        GtkWidget* knoepfe = gtk_hbox_new(FALSE, 3);
        gtk_container_add(GTK_CONTAINER(rechts), knoepfe);
        gtk_box_pack_start(GTK_BOX(v), rechts, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(knoepfe), ce__button(GTK_STOCK_CANCEL, true, 0, f), FALSE, FALSE,
                           0);
        if ((f->art & 0xF) == ce_ARTPIN) {
            f->save = ce__button(GTK_STOCK_SAVE, true, 2, f);
            gtk_widget_set_sensitive(f->save, FALSE);
            gtk_widget_set_tooltip_text(f->save, _de ? "PIN speichern und immer verwenden"
                                                     : "Save PIN and use it continuously");
            gtk_box_pack_start(GTK_BOX(knoepfe), f->save, FALSE, FALSE, 0);
        }
        f->apply = ce__button(GTK_STOCK_APPLY, true, 1, f);
        gtk_widget_set_sensitive(f->apply, FALSE);
        gtk_box_pack_start(GTK_BOX(knoepfe), f->apply, FALSE, FALSE, 0);
        gtk_widget_set_can_default(f->apply, TRUE);
        gtk_widget_grab_default(f->apply);
        g_signal_connect(f->entry, "changed", G_CALLBACK(ce__changed), f);
        g_signal_connect(f->entry, "activate", G_CALLBACK(ce__activate), f);
        fokus = f->entry;
    }
    g_signal_connect(w, "delete-event", G_CALLBACK(ce__closewindow), f);
    g_signal_connect(w, "key-press-event", G_CALLBACK(ce__key), f);
    me_dialogattach(f->d, w, 0, 0);
    gtk_widget_show_all(w);
    gtk_widget_grab_focus(fokus);
    gtk_window_present(GTK_WINDOW(w));
}

} // namespace

int ce_inputdialog(int art, const char* ueberschrift, const char* prompt, char* text) {
    if (text) *text = '\0';
    {
        std::unique_lock<std::mutex> lk(ce__mutex);
        while (ce__busy) {
            // The thread that runs the GTK events must not wait here: the open dialog could
            // never be answered.
            if (g_main_context_is_owner(g_main_context_default()) || ce__endrequested()) return 0;
            ce__cv.wait_for(lk, std::chrono::milliseconds(250));
        }
        ce__busy = true;
    }
    char titel[200], frage[400];
    strMtoutf8(titel, ueberschrift ? ueberschrift : "");
    strMtoutf8(frage, prompt ? prompt : "");

    auto* f = g_new0(ce__form_t, 1);
    f->art = art;
    f->d = me_dialognew(0);
    me_dialog_t* d = f->d; // f belongs to the window from here on
    th_enter();
    ce__build(f, titel, frage);
    th_leave();
    char eingabe[50];
    int antwort = me_dialogwait(d, eingabe);
    if (text && antwort != 0 && (art & 0xF) != ce_ARTSPRACHE) strmcpy(text, eingabe, 50);

    {
        std::lock_guard<std::mutex> g(ce__mutex);
        ce__busy = false;
    }
    ce__cv.notify_all();
    return antwort;
}
