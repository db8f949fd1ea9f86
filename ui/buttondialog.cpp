#include "ui/buttondialog.h"

#include "core/helpers.h"
#include "core/threads.h"
#include "ui/messagebox.h"

#include <cstring>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

namespace {

// Copies the range [a, e) into dest (n bytes), cut to fit.
void bd__copy(const char* a, const char* e, char* dest, size_t n) {
    size_t len = (size_t)(e - a);
    if (len > n - 1) len = n - 1;
    memcpy(dest, a, len);
    dest[len] = '\0';
}

// Cuts [q, e) at f into the first two fields.
void bd__fields(const char* q, const char* e, char f, char* f1, size_t n1, char* f2, size_t n2) {
    const char* a = (const char*)memchr(q, f, (size_t)(e - q));
    bd__copy(q, a ? a : e, f1, n1);
    if (!a) return;
    const char* b = (const char*)memchr(a + 1, f, (size_t)(e - a - 1));
    bd__copy(a + 1, b ? b : e, f2, n2);
}

const char* bd__itemend(const char* p, char s) {
    const char* e = strchr(p, s);
    return e ? e : p + strlen(p);
}

bool bd__digit(char c) {
    return c >= '0' && c <= '9';
}

const char* bd__stock(char icon) {
    switch (icon) {
    case 'i':
        return GTK_STOCK_INFO;
    case 'w':
        return GTK_STOCK_DIALOG_WARNING;
    case 'e':
        return GTK_STOCK_DIALOG_ERROR;
    case 'q':
        return GTK_STOCK_DIALOG_QUESTION;
    }
    return nullptr;
}

void bd__button(GtkWidget* b, gpointer p) {
    me_dialoganswer((me_dialog_t*)p, GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "bd-answer")));
}

gboolean bd__key(GtkWidget*, GdkEventKey* ev, gpointer p) {
    if (ev->keyval != GDK_Escape) return FALSE;
    me_dialoganswer((me_dialog_t*)p, 0);
    return TRUE;
}

// The window manager's close answers 0; the window is destroyed by the answer.
gboolean bd__closewindow(GtkWidget*, GdkEvent*, gpointer p) {
    me_dialoganswer((me_dialog_t*)p, 0);
    return TRUE;
}

GtkWidget* bd__label(const char* raw, size_t room) {
    char* u = (char*)g_malloc(room);
    strmtoutf8(u, raw, room);
    GtkWidget* l = gtk_label_new(u); // plain text: '&' and '<' show as they are
    g_free(u);
    return l;
}

} // namespace

bool bd_parse(const char* content, bd_markup_t* out) {
    if (!out) return false;
    memset(out, 0, sizeof *out);
    out->buttdef = -1;
    if (content && *content) {
        const char s = content[0];
        const char* p = content + 1;
        const char* e = bd__itemend(p, s);
        if (e > p) {
            out->icon = p[0];
            if (e - p >= 2)
                bd__fields(p + 2, e, p[1], out->heading, sizeof out->heading, out->text,
                           sizeof out->text);
        }
        while (*e == s && out->buttn < bd_MAXBUTTONS) {
            p = e + 1;
            e = bd__itemend(p, s);
            int c = out->buttn++;
            const char* q = p;
            if (e - q >= 2 && q[0] == '+' && bd__digit(q[1])) {
                out->buttdef = c;
                out->buttret[c] = q[1] - '0';
                q += 2;
            } else if (q < e && bd__digit(q[0])) {
                out->buttret[c] = q[0] - '0';
                q++;
            }
            if (q < e)
                bd__fields(q + 1, e, q[0], out->label[c], sizeof out->label[c], out->description[c],
                           sizeof out->description[c]);
        }
    }
    if (!out->heading[0]) strMcpy(out->heading, "Message");
    return true;
}

int bd_buttondialog(const char* content, int mtime) {
    auto* m = (bd_markup_t*)g_malloc(sizeof(bd_markup_t));
    bd_parse(content, m);
    me_dialog_t* d = me_dialognew(0);

    th_enter();
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_assert(w);
    char titel[200];
    strMtoutf8(titel, m->heading);
    gtk_window_set_title(GTK_WINDOW(w), titel);
    if (GtkWidget* parent = me_parent()) {
        gtk_window_set_transient_for(GTK_WINDOW(w), GTK_WINDOW(parent));
        gtk_window_set_destroy_with_parent(GTK_WINDOW(w), TRUE);
    }
    gtk_window_set_resizable(GTK_WINDOW(w), FALSE);
    gtk_window_set_position(GTK_WINDOW(w), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(w), TRUE);
    gtk_container_set_border_width(GTK_CONTAINER(w), 4);

    GtkWidget* vbox = gtk_vbox_new(FALSE, 5);
    gtk_container_add(GTK_CONTAINER(w), vbox);
    GtkWidget* kopf = gtk_hbox_new(FALSE, 5);
    GtkWidget* links = gtk_alignment_new(0, 0.5, 0, 0);
    gtk_container_add(GTK_CONTAINER(links), kopf);
    gtk_box_pack_start(GTK_BOX(vbox), links, FALSE, FALSE, 0);
    if (const char* stock = bd__stock(m->icon))
        gtk_box_pack_start(GTK_BOX(kopf), gtk_image_new_from_stock(stock, GTK_ICON_SIZE_DIALOG),
                           TRUE, TRUE, 0);
    if (m->text[0]) {
        GtkWidget* l = bd__label(m->text, 2 * sizeof m->text);
        gtk_misc_set_alignment(GTK_MISC(l), 0, 0.5);
        gtk_box_pack_start(GTK_BOX(kopf), l, TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(vbox), gtk_hseparator_new(), FALSE, FALSE, 0);
    }

    GtkWidget* standard = nullptr;
    if (m->buttn > 0) {
        GtkWidget* rechts = gtk_alignment_new(1, 0.5, 0, 0);
        GtkWidget* tab = gtk_table_new(2, (guint)m->buttn, FALSE);
        gtk_table_set_row_spacings(GTK_TABLE(tab), 8);
        gtk_table_set_col_spacings(GTK_TABLE(tab), 16);
        gtk_container_add(GTK_CONTAINER(rechts), tab);
        gtk_box_pack_start(GTK_BOX(vbox), rechts, FALSE, FALSE, 0);
        for (int c = 0; c < m->buttn; c++) {
            guint x = (guint)c;
            if (m->description[c][0])
                gtk_table_attach_defaults(
                    GTK_TABLE(tab), bd__label(m->description[c], 2 * sizeof m->description[c]), x,
                    x + 1, 0, 1);
            if (!m->label[c][0]) continue;
            char u[2 * sizeof m->label[c]];
            strMtoutf8(u, m->label[c]);
            GtkWidget* b = gtk_button_new_with_label(u);
            g_object_set_data(G_OBJECT(b), "bd-answer", GINT_TO_POINTER(m->buttret[c]));
            g_signal_connect(b, "clicked", G_CALLBACK(bd__button), d);
            gtk_table_attach(GTK_TABLE(tab), b, x, x + 1, 1, 2, GTK_FILL, GTK_SHRINK, 0, 0);
            if (c == m->buttdef) standard = b;
        }
    }
    g_signal_connect(w, "delete-event", G_CALLBACK(bd__closewindow), d);
    g_signal_connect(w, "key-press-event", G_CALLBACK(bd__key), d);
    me_dialogattach(d, w, mtime, -1);
    if (standard) {
        gtk_widget_set_can_default(standard, TRUE);
        gtk_widget_grab_default(standard);
        gtk_widget_grab_focus(standard);
    }
    gtk_widget_show_all(w);
    gtk_window_present(GTK_WINDOW(w));
    th_leave();
    g_free(m);
    return me_dialogwait(d, nullptr);
}
