// Message boxes. Until the dialog windows are built this layer writes the box to the
// service log and answers as the box's default would.
#pragma once

// Shows a message box with a title and a text; mode 0 is a plain notice with an OK
// button. Returns the answer (1 = OK).
int me_messageboxa(const char* title, const char* text, int mode, int icon);
