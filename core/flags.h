// Cross-process flags: named yes/no marks on System V semaphore sets that other copies
// of the program see, each holding the process id of its owner.
#pragma once

bool fl_set(unsigned long key);
void fl_clear(unsigned long key);
bool fl_query(unsigned long key);
