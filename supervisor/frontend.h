// The frontend interface: the shared-memory record a connection program publishes and
// takes commands through, the command files in the working directory, and the control
// program's loop that mirrors a running copy.
#pragma once

#include "core/frontendrecord.h"

#include <cstddef>

// Nothing to prepare; kept as the interface's first call of the main thread.
void ii_ini();
// cre true (connection program): create the record; cre false (control program): attach to
// the running copy's record. Returns the record or null; does nothing when one is attached.
tdrio_t* ii_start(bool cre);
// Releases the record: the creator marks the program inactive and removes the segment, any
// other process only detaches.
void ii_stop();
// The same at the program end. The creator keeps its mapping (the process end unmaps it)
// so that a thread still writing through a pointer it loaded just before stays safe.
void ii_end();
// The attached record belongs to a running program: not marked for removal and its
// creator lives. A control program shows "not active" otherwise.
bool ii_aktiv();

// A command waits in the record (the main loop's pause ends for it).
bool ii_kommandoda();
// The main loop's pause between two cycles: ps_pause in slices of 250 ms, so that a
// command a frontend writes into the record ends it as a request of the menu or a signal
// does. True when woken.
bool ii_pause(long ms);

// A command file in the working directory: what a poll did with it.
enum {
    II_DATEI_KEINE = 0,    // no such name
    II_DATEI_GENOMMEN = 1, // a regular file under 30 bytes, removed: its command is taken
    II_DATEI_FREMD = 2,    // a link, directory, FIFO or 30 bytes and more: ignored, left
    II_DATEI_BLEIBT = 3,   // it could not be removed: never acted on
};
int ii_dateikommando(const char* name);

// Takes commands from the record and, with auch_datei, from the command files.
void dateikommandoholen(bool auch_datei);

// The control program's display loop; returns when the program end is requested.
void frontend();
