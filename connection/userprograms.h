// User programs at connection events: the slots of inidat.cmd and whether each runs.
// Stand-in until the user programs are built: it knows no slot markings, so no slot is
// ever started, and it records what the dial-up asks of it for tests.
#pragma once

#define SP_SLOTS 3

// Starts the program of slot i; true when it was started.
bool sp_start(int i);
// Stops the program of slot i (waits for it); true when it was running.
bool sp_stop(int i);
// Slot markings of Part "user programs": runs at every connection, at program start or
// end, triggered by an SMS or call.
bool sp_jedeverbindung(int i);
bool sp_programmstart(int i);
bool sp_programmende(int i);
bool sp_smsgesteuert(int i);
// Test support: how often sp_start and sp_stop were called.
int sp_startcount();
int sp_stopcount();
