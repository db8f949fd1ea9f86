// Program-wide state: the configuration record that the ini reader fills, the flags of
// the main loop and the globals that main sets from the command line. It lives in core
// so that every subsystem can read it without linking a higher layer; the owners named
// at each entry write it.
#pragma once

#include <atomic>
#include <ctime>

// Function numbers of inidat.funktion (set from the program name and arguments).
#define FUNKTION_CONTROL 40
#define FUNKTION_CONFIG 50
#define FUNKTION_PROFILE 60
#define FUNKTION_REMOVE 90

// The configuration record. The ini reader owns its contents; the fields here are those
// that the lower layers read. It grows with the configuration subsystem.
struct inidat_t {
    char programm[30]; // base name of the program file
    int funktion;      // operating function (0 plain, 1..9 modes, 40, 50, 60, 90)
    int round;         // volume rounding in kB; 0 = no volume accounting
    int roundt;        // time rounding in minutes; 0 = no time accounting
    int enduhrzeit1;   // end-time window start, minutes after midnight; -1 off
    int enduhrzeit2;   // end-time window end, minutes after midnight; -1 off
    bool enduhrzeite;  // end the program after the window ended the connection
    bool constart;     // connect automatically
    bool conende;      // disconnect at program end
    int endshutdown;   // 0 nothing, 1 shut down, 2 reboot after the program end
    char mod[256];     // switch letters of MOD=, indexed by the letter
};
extern inidat_t inidat;
#define MODUS(m) (inidat.mod[(unsigned char)(m)])

extern std::atomic<bool> inidatgueltig; // inidat holds a parsed configuration
extern bool _de;                        // texts in German (true) or English

// Flags of the main loop. Written by many threads and by the signal handler, hence atomic.
extern std::atomic<bool> programmende_gewuenscht; // program end (or rest) requested
extern std::atomic<int> ruhestatus;               // 0 active, 1 rest requested, 2..4 resting
extern std::atomic<int> unterbrechung_gewuenscht; // end mode of a requested interruption
extern std::atomic<bool> shutdownerlaubt;         // computer shutdown allowed at the end
extern std::atomic<bool> tonlos;                  // sound off (MUTE, menu)

// Set by main before any other thread runs.
extern int _argc;
extern char** _argv;
extern bool ubuntusysdir;             // program file lies in a system program directory
extern bool cs_nosplash;              // no splash screen
extern bool _silentinstall;           // installer shows no final box
extern std::atomic<int> _starttoggle; // 1 STARTTOGGLE given, 2 the running copy was asked to end

// System V keys of the cross-process flags and of the frontend record; INSTANCE adds its
// digit to each of them.
extern unsigned long aktivsignal;
extern unsigned long endesignal;
extern unsigned long konfigaktivsignal;
extern unsigned long smssignal;
extern unsigned long tdriok;

// Operations of higher layers that lower ones call. main fills them before the threads
// start; each stays null (and its caller does without) in tests that do not need it.
struct ps_hooks_t {
    // The single-instance start check; true when this process may go on.
    bool (*startcheck)();
    // The program end; with true it does not return once the end has run.
    bool (*programmende)(bool erzwingen);
};
extern ps_hooks_t ps_hooks;

// Resets the record to the values a program start has before reading the ini file.
void ps_resetinidat();
