// The control program (a copy started with CONTROL): it mirrors the state a running
// connection program publishes in the frontend record in its own window and icons. The
// loop itself is frontend() (supervisor/frontend.h); these are its pure steps.
#pragma once

#include "core/frontendrecord.h"
#include "ui/mainwindow.h"

// A copy of the shared record taken at one moment: the change counter first (acquire, so
// the texts written before it are seen), then the rest; every text field ends with a NUL
// whatever the writer left in it.
void fe_kopieren(const tdrio_t* quelle, tdrio_t& kopie);

// The window texts of a record: entries 1 (status line), 2 (radio mode), 3 (signal),
// 4 and 5 (rates), 6 (volume), 7 (online time), 8 (error) and 9 (mini text) of texte,
// each with its marker. The volume and time lines are marked '*' at or above the warning
// limit and '+' at or above the pre-warning limit of max / maxt (kB / minutes; 0 = not
// set). Entry 0 is left alone. The record's texts need not be terminated.
void fe_texte(const tdrio_t& r, const long max[3], const long maxt[3],
              char (&texte)[cc_mtextFELD][150]);

// The homezone icon's kind (ic_hshow) for the record's hicon_status: 1 inside -> 2,
// 2 outside -> 3 (flashing), 9 unknown -> 1, anything else off.
int fe_homezoneart(int hicon_status);
