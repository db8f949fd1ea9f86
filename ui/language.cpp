#include "ui/language.h"

#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"

#include <cstring>

namespace {

// Records follow each other in one byte area: the class, the widget pointer, the UTF-8
// text with its terminator. A class byte 0 ends the sequence, so the area always ends
// with one; the pointer is copied bytewise since records are not aligned.
constexpr size_t ls__STORAGEMAX = 60000;
constexpr size_t ls__TEXTMAX = 2000;
constexpr unsigned char ls__TOT = '-'; // record of a destroyed widget, skipped
unsigned char ls__storage[ls__STORAGEMAX];
size_t ls__storagep = 0;
GtkWidget* ls__lastradio = nullptr; // the group that class r joins

struct ls__rec_t {
    unsigned char* klasse;
    GtkWidget* w;
    const char* text;
};

// Calls f for every record; f may change the class byte only.
template <typename F> void ls__jeder(F f) {
    size_t p = 0;
    while (p < ls__storagep && ls__storage[p]) {
        ls__rec_t r;
        r.klasse = &ls__storage[p];
        memcpy(&r.w, &ls__storage[p + 1], sizeof r.w);
        r.text = (const char*)&ls__storage[p + 1 + sizeof r.w];
        p += 1 + sizeof r.w + strlen(r.text) + 1;
        f(r);
    }
}

void ls__destroyed(GtkWidget* w, gpointer) {
    ls__jeder([w](ls__rec_t& r) {
        if (r.w == w) *r.klasse = ls__TOT;
    });
    if (ls__lastradio == w) ls__lastradio = nullptr;
}

// One destroy handler per widget, however many texts it has.
void ls__beobachten(GtkWidget* w) {
    if (g_object_get_data(G_OBJECT(w), "ls-recorded")) return;
    g_object_set_data(G_OBJECT(w), "ls-recorded", GINT_TO_POINTER(1));
    g_signal_connect(w, "destroy", G_CALLBACK(ls__destroyed), nullptr);
}

// The combobox's list: column 0 holds the item texts (both the text combobox and the
// older gtk_combo_box_new_text use such a list store).
void ls__combo(GtkWidget* w, const char* liste) {
    if (!GTK_IS_COMBO_BOX(w)) return;
    GtkComboBox* cb = GTK_COMBO_BOX(w);
    GtkTreeModel* m = gtk_combo_box_get_model(cb);
    if (!m || !GTK_IS_LIST_STORE(m) || gtk_tree_model_get_n_columns(m) < 1 ||
        gtk_tree_model_get_column_type(m, 0) != G_TYPE_STRING)
        return;
    GtkListStore* store = GTK_LIST_STORE(m);
    int aktiv = gtk_combo_box_get_active(cb);
    const char* s = liste;
    for (int i = 0;; i++) {
        const char* e = strchr(s, '|');
        char item[ls__TEXTMAX];
        size_t n = e ? (size_t)(e - s) : strlen(s);
        memcpy(item, s, n); // n < ls__TEXTMAX: a part of a recorded text
        item[n] = 0;
        GtkTreeIter it;
        if (gtk_tree_model_iter_nth_child(m, &it, nullptr, i))
            gtk_list_store_set(store, &it, 0, item, -1);
        else
            gtk_list_store_insert_with_values(store, &it, i, 0, item, -1);
        if (!e) break;
        s = e + 1;
    }
    gtk_combo_box_set_active(cb, aktiv < 0 ? 0 : aktiv);
}

// Puts the language half of text into the property of w that the class names. Only
// plain-text setters: a text never reaches Pango markup.
void ls__setzen(unsigned char klasse, GtkWidget* w, const char* text, bool deutsch) {
    char teil[ls__TEXTMAX];
    const char* tilde = strchr(text, '~');
    if (!tilde) {
        strMcpy(teil, text);
    } else if (deutsch) {
        size_t n = (size_t)(tilde - text);
        memcpy(teil, text, n);
        teil[n] = 0;
    } else {
        strMcpy(teil, tilde + 1);
    }
    switch (klasse) {
    case 'B':
    case 'R':
    case 'X':
        if (GTK_IS_BUTTON(w)) gtk_button_set_label(GTK_BUTTON(w), teil);
        break;
    case 'C':
        ls__combo(w, teil);
        break;
    case 'G':
        if (GTK_IS_FRAME(w)) gtk_frame_set_label(GTK_FRAME(w), teil);
        break;
    case 'L':
        if (GTK_IS_LABEL(w)) gtk_label_set_text(GTK_LABEL(w), teil);
        break;
    case 'T':
        if (GTK_IS_WIDGET(w)) gtk_widget_set_tooltip_text(w, teil);
        break;
    case 'W':
        if (GTK_IS_WINDOW(w)) gtk_window_set_title(GTK_WINDOW(w), teil);
        break;
    default:
        break;
    }
}

bool ls__klassegueltig(char k) {
    return k && strchr("BCGLRTWX", k);
}

} // namespace

bool ls_element(char klasse, GtkWidget* w, const char* text) {
    if (klasse == 'r') klasse = 'R';
    if (!w || !text || !ls__klassegueltig(klasse)) return false;
    char utf[ls__TEXTMAX];
    strMtoutf8(utf, text);
    size_t len = strlen(utf);
    // Class, pointer, text, its terminator and the class 0 that ends the sequence.
    size_t bedarf = 1 + sizeof w + len + 1 + 1;
    if (bedarf > ls__STORAGEMAX - ls__storagep) {
        char anfang[60];
        strMcpy(anfang, utf);
        lo_slog("ls_element: language storage full, text not recorded: %s\n", anfang, -1);
        return false;
    }
    unsigned char* p = &ls__storage[ls__storagep];
    p[0] = (unsigned char)klasse;
    memcpy(p + 1, &w, sizeof w);
    memcpy(p + 1 + sizeof w, utf, len + 1);
    ls__storagep += 1 + sizeof w + len + 1;
    ls__storage[ls__storagep] = 0;
    ls__beobachten(w);
    return true;
}

GtkWidget* ls_new(char klasse, const char* text, const char* tooltip) {
    GtkWidget* w = nullptr;
    switch (klasse) {
    case 'B':
        w = gtk_button_new_with_label("");
        break;
    case 'C':
        w = gtk_combo_box_text_new();
        break;
    case 'E':
        w = gtk_entry_new();
        break;
    case 'G':
        w = gtk_frame_new(nullptr);
        break;
    case 'L':
        w = gtk_label_new(nullptr);
        gtk_misc_set_alignment(GTK_MISC(w), 0, 0.5);
        break;
    case 'R':
        w = gtk_radio_button_new_with_label(nullptr, "");
        break;
    case 'r':
        w = gtk_radio_button_new_with_label_from_widget(
            ls__lastradio ? GTK_RADIO_BUTTON(ls__lastradio) : nullptr, "");
        break;
    case 'W':
        w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        break;
    case 'X':
        w = gtk_check_button_new_with_label("");
        break;
    default:
        return nullptr;
    }
    if (klasse == 'R' || klasse == 'r') {
        ls__lastradio = w;
        ls__beobachten(w);
    }
    if (text && klasse != 'E' && ls_element(klasse, w, text)) {
        char utf[ls__TEXTMAX];
        strMtoutf8(utf, text);
        ls__setzen(klasse == 'r' ? 'R' : klasse, w, utf, _de);
    }
    if (tooltip && ls_element('T', w, tooltip)) {
        char utf[ls__TEXTMAX];
        strMtoutf8(utf, tooltip);
        ls__setzen('T', w, utf, _de);
    }
    return w;
}

void ls_switch(bool deutsch) {
    ls__jeder([deutsch](ls__rec_t& r) {
        if (*r.klasse != ls__TOT) ls__setzen(*r.klasse, r.w, r.text, deutsch);
    });
}

void ls_clear() {
    ls__storagep = 0;
    ls__storage[0] = 0;
    ls__lastradio = nullptr;
}
