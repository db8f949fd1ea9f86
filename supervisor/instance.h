// Whether another copy of the program runs: the single-instance start check on the
// cross-process flags, the flag of a running configuration program, and the SMS flag
// that carries the news of a new SMS from a connection program to a configuration program.
#pragma once

bool ia_instance_isactive();
bool ia_configinstance_isactive();
// Shows a box asking to end the running copy first; 1 when one runs, else 0.
int ia_instance_message();
// 1 sets the SMS flag, 2 clears it, anything else: true once when it was newly raised.
bool ia_smssignal(int f);
// The start check of the configuration reader: for connection programs (functions below
// 40) take over aktivsignal, asking a running copy to end; for the configuration program
// (50) take konfigaktivsignal if free. True when this process may go on.
bool ia_startcheck();
// Releases the instance flag that this process's start check took (at the end or a rest);
// the flag of another copy is never cleared.
void ia_freigeben();
