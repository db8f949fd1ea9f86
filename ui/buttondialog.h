// The button dialog: one text in the button-dialog markup describes a whole dialog (icon,
// heading, general text, up to ten buttons each with a description above it). This module
// owns the markup parser and the dialog that shows a parsed text and waits for a button.
#pragma once

#define bd_MAXBUTTONS 10

// A parsed markup text. The fields hold the raw (internal 8-bit) text of the markup.
struct bd_markup_t {
    char icon;                  // icon letter of the head item ('i', 'w', 'e', 'q'; other: none)
    char heading[100];          // window title ("Message" when missing)
    char text[1000];            // general text
    int buttn;                  // button columns used (at most bd_MAXBUTTONS)
    int buttdef;                // column of the default button, -1 for none
    int buttret[bd_MAXBUTTONS]; // answer digit of each column
    char label[bd_MAXBUTTONS][100];       // button label; empty: no button there
    char description[bd_MAXBUTTONS][300]; // text shown above the button
};

// Markup: the first character is the item separator S; the rest is cut at S into items.
// The head item is the icon letter, its own field separator F, then heading F text. Each
// further item is one column: an optional answer digit ('+' before it marks the default),
// then the item's field separator F, then label F description. Fields past the second are
// ignored, items past the tenth column too. Null or empty content gives an empty dialog.
// Always succeeds on any text; false only when out is null.
bool bd_parse(const char* content, bd_markup_t* out);

// Shows the dialog of content and waits. mtime: time-out in ms, below 1 none. Returns the
// answer digit of the pressed button (0..9), 0 for Escape, a closed or destroyed window and
// the program end, -1 for the time-out. Callable from any thread without the GTK lock.
int bd_buttondialog(const char* content, int mtime);
