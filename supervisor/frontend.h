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
// The same at the program end.
void ii_end();

// Size of a copy of the command field: its 100 bytes and a NUL that is always there.
#define II_KOMMANDOGROESSE 101
// The command field copied out bounded; empty without a record.
void ii_kommando(char (&kommando)[II_KOMMANDOGROESSE]);
// Clears the command field if it still holds kommando (a frontend may have written anew).
void ii_kommandoloeschen(const char* kommando);
// A command waits in the record (the main loop's pause ends for it).
bool ii_kommandoda();

// Takes commands from the record and, with auch_datei, from the command files.
void dateikommandoholen(bool auch_datei);

// The control program's display loop; returns when the program end is requested.
void frontend();
