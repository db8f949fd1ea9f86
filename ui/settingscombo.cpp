#include "ui/settingscombo.h"

#include "config/settingslist.h"
#include "ui/mainwindow.h"

#include <string>

void se_loadcombobox(GtkWidget* w) {
    if (!w || !se_laden()) return;
    GtkComboBox* c = GTK_COMBO_BOX(w);
    for (int i = 0; i < 2000; i++) {
        GtkTreeModel* m = gtk_combo_box_get_model(c);
        if (!m || gtk_tree_model_iter_n_children(m, nullptr) <= 2) break;
        gtk_combo_box_remove_text(c, 2);
    }
    for (const std::string& e : se_eintraege())
        gtk_combo_box_append_text(c, e.c_str());
    gtk_combo_box_set_active(c, 0);
}

bool se_loadfield(int ele, GtkWidget* w) {
    if (ele < 3 || ele > 12 || !w) return false;
    std::string wert;
    bool voll = se_feld(ele, wert);
    char u[1200];
    cc_utf8(u, sizeof u, wert.c_str());
    gtk_entry_set_text(GTK_ENTRY(w), u);
    return voll;
}
