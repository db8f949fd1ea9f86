// The one-line input dialog (PIN, codes) and the first-start language choice. Only one
// input dialog exists at a time; further callers wait until it has returned.
#pragma once

// Kinds (art): low nibble 1 language choice, 8 PIN entry with a Save button, others plain
// input; 0x10 digits only (a change that leaves any other character, also by pasting,
// clears the line); 0x20 hidden input; 0x40 narrow field and at least 4 characters.
#define ce_ARTSPRACHE 1
#define ce_ARTPIN 8
#define ce_ZIFFERN 0x10
#define ce_VERDECKT 0x20
#define ce_MIN4 0x40

// ueberschrift is the window title, prompt the label before the entry (null: empty). text
// (50 bytes, may be null) receives the input, or "" when the dialog was not confirmed.
// Returns 0 for Cancel, Escape, a closed or destroyed window and the program end; 1 for
// Apply or Return; 2 for Save. Language choice: 1 Deutsch, 2 English, 0 closed.
// Callable from any thread without the GTK lock. A second caller waits until the open input
// dialog has returned; in the GTK thread (which must keep the open one answerable) and at
// the program end it gets 0 at once instead.
int ce_inputdialog(int art, const char* ueberschrift, const char* prompt, char* text);
