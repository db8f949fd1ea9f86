#include "ui/mainwindow.h"

#include "core/helpers.h"

#include <mutex>

char cc_mtext[cc_mtextFELD][150];
int fefo = 0;

namespace {
// Status texts are written by several threads; one lock keeps each line whole.
std::mutex cc__mutex;

void cc__leeren() {
    for (int i = 2; i <= 8; i++)
        strMcpy(cc_mtext[i], " ");
}
} // namespace

void cc_show() {}

void cc_show1() {
    {
        std::lock_guard<std::mutex> g(cc__mutex);
        cc__leeren();
    }
    cc_show();
}

void cc_show2(const char* text, const char* minitext) {
    {
        std::lock_guard<std::mutex> g(cc__mutex);
        cc__leeren();
        strMcpy(cc_mtext[1], text ? text : "");
        strMcpy(cc_mtext[cc_mtextMINI], minitext ? minitext : "");
    }
    cc_show();
}

void cc_quit() {}

void cc_getposition(int*, int*) {}

void setcolor(GtkWidget* w, const char* c) {
    GdkColor farbe;
    if (!w || !c || !gdk_color_parse(c, &farbe)) return;
    for (GtkStateType st : {GTK_STATE_NORMAL, GTK_STATE_ACTIVE, GTK_STATE_SELECTED}) {
        gtk_widget_modify_base(w, st, &farbe);
        gtk_widget_modify_bg(w, st, &farbe);
    }
}
