// The program's window on the system: every system path it touches and the clock (wall
// time, the hundredth-second time base ti_htime, sleeps). Production uses the real ones;
// test code may point the paths into a scratch tree and run the clock virtually.
#pragma once

#include <ctime>

enum sy_path_t {
    SY_PROC,       // "/proc": owner test of the cross-process flags
    SY_NETDEV,     // "/proc/net/dev": interface counters
    SY_SERIALBYID, // "/dev/serial/by-id": modem discovery
    SY_TTYUSB,     // "/dev/ttyUSB": prefix of the port search
    SY_PIDDIR,     // "/var/run": pppd's pid files
    SY_SHAREDIR,   // "/usr/share/tandor": shared installation
    SY_USRBIN,     // "/usr/bin": system program directory
    SY_PATHCOUNT
};

// The path in force (never null).
const char* sy_path(sy_path_t p);
// Test code: replace one path; null restores the default.
void sy_setpath(sy_path_t p, const char* value);

// Clock modes. SY_CLOCK_REAL is the system clock. SY_CLOCK_AUTO is virtual: every sleep
// advances the virtual time by its length at once (single-threaded tests of waits and
// accounting). SY_CLOCK_MANUAL is virtual too: sleeps block until sy_advance has moved
// the virtual time past their end (multi-threaded tests that step time explicitly).
enum sy_clock_t { SY_CLOCK_REAL, SY_CLOCK_AUTO, SY_CLOCK_MANUAL };
// Test code: switch the clock; the virtual clocks start at the wall time `start`.
void sy_setclock(sy_clock_t mode, time_t start = 0);
// Test code: advance the virtual time by ms milliseconds and wake the sleepers due.
void sy_advance(long ms);
// Test code: the machine sleeps (standby) for ms milliseconds on the virtual clock: the
// wall time and the boot clock move on, the monotonic clock and every sleep stand still.
void sy_standby(long ms);

// Test code: waits (in real time, at most realms) until n threads sleep on the manual
// clock; true when they do.
bool sy_waitsleepers(int n, long realms);

// Wall time in seconds.
time_t sy_time();
// Local broken-down wall time (thread-safe).
void sy_localtime(struct tm* t);
// Monotonic milliseconds (for measuring waits); they stand still while the machine sleeps.
long long sy_monotonicms();
// Milliseconds the machine has spent in standby since it booted: CLOCK_BOOTTIME minus
// CLOCK_MONOTONIC, which grows only while the machine sleeps.
long long sy_standbyms();
// Sleeps ms milliseconds on the program's clock.
void sy_sleepms(long ms);
// True while the clock is the system's (no virtual clock of a test).
bool sy_realclock();

// Hundredths of a second since the first call after start or after ti_htimereset.
long ti_htime();
// Restarts the time base at 0 with its next use (the timer tick's end).
void ti_htimereset();
