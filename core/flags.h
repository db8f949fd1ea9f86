// Cross-process flags: named yes/no marks on System V semaphore sets that other copies
// of the program see, each holding the process id of its owner.
#pragma once

bool fl_set(unsigned long key);
void fl_clear(unsigned long key);
bool fl_query(unsigned long key);
// Atomically between processes: query the flag, then set it to this process. Returns the
// query's result (true when a living owner, this process included, held it before). A
// flag held by a living process of another user is not taken over (and fl_set fails).
bool fl_queryset(unsigned long key);
// Atomically between processes: takes the flag for this process only when no living
// process holds it (this one included); true when taken. A held flag keeps its owner.
bool fl_take(unsigned long key);
// The flag is held by a living process of another user.
bool fl_foreign(unsigned long key);
