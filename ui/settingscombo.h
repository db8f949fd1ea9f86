// The provider settings list in the configuration dialog: its combo box and the entry
// fields a chosen operator fills (the list itself: config/settingslist.h).
#pragma once

#include <gtk/gtk.h>

// Loads the settings file and puts its entries into the combo box w behind the dialog's
// two fixed entries, then selects entry 0. GTK lock held.
void se_loadcombobox(GtkWidget* w);
// Puts field ele (3..12) of the selected operator into the entry w; true when not empty.
// Other ele leave w untouched and give false. GTK lock held.
bool se_loadfield(int ele, GtkWidget* w);
