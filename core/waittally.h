// Tally of the waits a thread asked for: every sleep at its full requested length and the
// time every read of the modem's answer actually blocked. Kept per thread, because the
// threads sleep side by side and only one thread's road (the main thread's way to a
// connection) adds up to a meaningful sum; a sum over all threads would exceed wall time.
#pragma once

// Adds a requested sleep of ms milliseconds to the calling thread's tally.
void wz_schlaf(long ms);
// Adds ms milliseconds that a read of the modem's answer blocked.
void wz_lesen(long ms);
// The calling thread's sums since it started, in milliseconds.
long wz_schlafsumme();
long wz_lesesumme();
