// Reachability of the Internet over the link: the traffic probe of an idle link (a ping, a
// DNS lookup of a random name, or a pause, chosen by each entry of the PING= list), and the
// thread that asks the operator to switch its image compression off (MOD=G).
#pragma once

#include <atomic>

// The compressor could not be switched off while online; the main thread reports it and
// clears the flag.
extern std::atomic<bool> iz_kdfehler;

// Starts the compressor thread ("kdthread") and resets the probe's pause; once per process.
void iz_ini();
void iz_end();
// One probe for the list entry ip: "999.N" with N 2..99 pauses N passes (cn_dnsbremse holds
// the list cursor), "999.111" looks up a random name (a "no such host" answer counts, it
// came from a DNS server), 0, 1 or another N stops probing, any other entry is pinged
// (3 s wait with warten, else 0.6 s). True when the link answered.
bool iz_dnsecho(const char* ip, bool warten);
// Pings a host or address once with a wait in ms; true on an answer. Host names of letters,
// digits, '_', '-', '.' only, not starting with '-', at most 99 characters; the ping runs
// from an argument vector and is killed at its wait plus one second.
bool iz_ping(const char* ip, int waittime);
// An entry that needs no route: "999." followed by a digit.
bool iz_ipok(const char* ip);

// Pure parts, for the tests.
// The pause count of a "999." entry: 2..99 a pause, 111 a DNS echo, else 0 (probing off);
// -1 when ip is no "999." entry.
int iz_pseudo(const char* ip);
// The address as ping gets it: a dotted address of four numbers loses its leading zeros
// ("127.000.000.001" is 127.0.0.1, never read as octal); anything else stays. False for a
// host that must not be pinged.
bool iz_pingziel(const char* ip, char* out, unsigned n);
// The whole seconds ping waits for an answer: 1.8 s below 1,000 ms, else waittime + 0.8 s.
int iz_pingsekunden(int waittime);
