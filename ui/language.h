// The language switcher of the configuration dialog: remembers for each widget text its
// German and English form ("Deutsch~English") and sets all of them to one language at
// once. Owns the language storage; used under the GDK lock only.
#pragma once

#include <gtk/gtk.h>

// Class letters (also passed as numbers): B button, C text combobox (items split at '|'),
// E entry (no text), G frame, L label, R radio button (new group), r radio button in the
// group of the last one, T tooltip, W window title, X check button.

// Records text (German~English; without '~' the same for both) for the property of w
// that the class names. False when nothing was recorded: unknown class, no widget or
// text, or a full storage (written to the service log; the storage stays intact).
// Texts are converted to UTF-8 and cut to 1999 bytes. A destroyed widget's records are
// dropped by themselves.
bool ls_element(char klasse, GtkWidget* w, const char* text);
// Creates a widget of the class, records text (unless null or class E) and tooltip (as
// class T, unless null) and shows them in the language of _de. Null for an unknown class.
GtkWidget* ls_new(char klasse, const char* text, const char* tooltip);
// Sets every recorded text to German (true) or English. Combobox items are replaced in
// place; the active item stays (item 0 when none was active).
void ls_switch(bool deutsch);
// Forgets all records (the dialog closes).
void ls_clear();
