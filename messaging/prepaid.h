// Prepaid balance and top-up by USSD, the code dialog of the menu, device commands from
// the frontend record or the dialog, and a code that becomes an outgoing SMS. The main
// thread, which owns the serial port, carries the requests out (prepaid_aufgaben); the
// code dialog runs in a thread of its own and only hands its result over; the message
// thread shows the answer.
#pragma once

#include <atomic>
#include <cstddef>

// Text for the user, shown by the message thread in the box "tandor   Credit Query" while
// sm_msgprepaidzustand is 1 (it sets it back to 0).
extern char sm_msgprepaidnachricht[900];
extern std::atomic<int> sm_msgprepaidzustand;

// Carries out what is pending: starts the code dialog (its thread) for a requested top-up
// or code, a device command of the frontend record or of the dialog, an SMS of the dialog,
// a USSD request. ppq/ppc: balance query code and top-up template; port: a command port to
// open with de_portini and close afterwards (null: the port the main thread keeps open is
// used as it is); t: reply buffer of at least 900 bytes.
// Returns 0 when nothing was pending.
int prepaid_aufgaben(const char* ppq, const char* ppc, char* port, char* t);

// Shows sm_msgprepaidnachricht when it is due; called by the message thread.
void prepaid_zeigen();

// The pure parts, for tests.
// The USSD string for a top-up: the first <INPUT> (also <input>, <Input>) of the template
// replaced by the code, a template without it as it is; the code itself when the two
// together are 296 characters or more or the template is empty. out has n bytes.
void pp_vorlage(const char* vorlage, const char* code, char* out, size_t n);
// A device command ":wait1:wait2:COMMAND" (each wait optional digits): the waits clamped
// (wait1 at most 10,000 ms, default comzeit; wait2 at most 30,000 ms, default 3,000;
// anything but digits gives the default) and the command. False without the third colon.
bool pp_geraetekommando(const char* k, long standard1, long* wait1, long* wait2, char* befehl,
                        size_t n);
// An "SMS:<number> <text>" code: the destination digits (a leading '+' dropped; national
// numbers get a leading '-') into nummer and the text behind the one character after the
// digits. False without digits.
bool pp_smscode(const char* code, char* nummer, size_t nn, char* text, size_t nt);
// Cleans a network answer for display: byte 0x81 becomes 'ü', 0x84 'ä', every control
// byte but CR and LF '_'; Latin-1 letters stay.
void pp_bereinigen(char* t);
// The command for the logs with the arguments of +CPIN, +CPWD and +CLCK masked.
void pp_maskiert(const char* befehl, char* out, size_t n);
