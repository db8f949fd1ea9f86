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

// Indexes of inidat.err (the ERR= tolerances).
enum { ERR_NOC, ERR_FRZ, ERR_CRC, ERR_TME, ERR_ALG, ERR_FRM, ERR_BUF, ERR_L, ERRN };

// The configuration record, filled from the ini file by the configuration reader; every
// other subsystem reads it. Texts are fixed-size and filled by bounded copies.
struct inidat_t {
    char programm[30];         // base name of the program file
    int funktion;              // operating function (0 plain, 1..4/9 modes, 40, 50, 60, 81, 82, 90)
    char hinweis[100];         // hint for the user (line 04)
    char hinweisk;             // hint code '0'..'8'
    char comport[300];         // COM= as written
    char com1[300];            // resolved command port
    bool com1none;             // com1 is "NONE"
    char com2[300];            // secondary port
    int mangeraet;             // DEV= manual device type, 0 automatic
    char devi[604];            // DEVI= user AT commands
    char pin[300];             // SIM PIN in clear text (obfuscated in the file)
    char net[500];             // NET= network selection
    char apn[300];             // APN=
    char ppq[100];             // PPQ= prepaid query USSD
    char ppc[300];             // PPC= top-up template
    int conad;                 // kind of the CON= value
    char conport[300];         // CON= as written
    char con[300];             // dial-up port(s) or interface
    bool constart;             // connect automatically
    bool conende;              // disconnect at program end
    char conname[300];         // dial-up user name
    char conpass[300];         // dial-up password
    int day;                   // volume period day (0 none, 1..31, 32 daily, 99 never)
    int round;                 // volume rounding in kB; 0 = no volume accounting
    long max[3];               // volume thresholds in kB: pre-warning, warning, limit
    int dayt;                  // time period day
    int roundt;                // time rounding in minutes; 0 = no time accounting
    long maxt[3];              // online-time thresholds in minutes
    char homu[300];            // homezone status request
    char homi[300];            // pattern: inside the homezone
    char homo[300];            // pattern: outside the homezone
    int err[12];               // error tolerances, indexed by ERR_NOC..ERR_L
    char ping[300];            // connection monitoring addresses
    char* pingp;               // cursor into ping
    unsigned long startdelay;  // seconds before the first connection
    unsigned long resumedelay; // seconds after a resume from standby
    int endm;                  // closing the main window: 0 ask, 1 end, 2 minimise
    int enduhrzeit1;           // end-time window start, minutes after midnight; -1 off
    int enduhrzeit2;           // end-time window end, minutes after midnight; -1 off
    bool enduhrzeite;          // end the program after the window ended the connection
    unsigned long end;         // automatic end countdown in minutes
    bool endhightraffic;       // inactivity below 2200 B/s instead of 800 B/s
    bool endforce;             // countdown regardless of traffic
    bool endverb;              // countdown ends the connection only
    bool endstandby;           // end the program at standby
    int endshutdown;           // 0 nothing, 1 shut down, 2 reboot after the program end
    char cmd[3][300];          // user commands
    int sms[3];                // remote-control entries: 0 unused, 1 SMS keyword, 2 call
    bool smsring;              // an entry reacts to calls
    char smsnr[3][30];         // number of each entry
    char smskey[3][300];       // keyword of each entry, upper case
    char smsc[30];             // SMS service centre
    int ipcmod;                // permission bits of the frontend record, 0 default
    int icon;                  // tray icon style 1..6
    int batt1;                 // battery icon below this charge (percent)
    int batt2;                 // battery warning below this charge (percent)
    char mod[256];             // switch letters of MOD=, indexed by the letter
    char rem[300];             // free comment
    // The header line (line 01) with the persistent counters.
    bool headergueltig;           // header fields valid; header writes are refused before
    char header2, header3;        // letters at offsets 4 and 5, carried through
    long headerv;                 // data-volume counter in kB
    long headervoffset;           // bytes not yet folded into headerv
    long headert;                 // online-time counter in minutes
    long headert_alt;             // headert at the last header write
    int headerday, headermon;     // day and month of the last counter update
    int headerx, headery;         // window position read at start
    int headerx_neu, headery_neu; // window position to write
    int headerfefo;               // window form read at start (at least 1)
    bool headerset;               // the header was read from an existing file
};
extern inidat_t inidat;
#define MODUS(m) (inidat.mod[(unsigned char)(m)])

extern std::atomic<bool> inidatgueltig; // inidat holds a parsed configuration
extern bool _de;                        // texts in German (true) or English

// Flags of the main loop. Written by many threads and by the signal handler, hence atomic.
extern std::atomic<bool> programmende_gewuenscht; // program end (or rest) requested
// A real end was asked for (not a rest): kept across a rest and never weakened to one.
extern std::atomic<bool> programmende_endgueltig;
extern std::atomic<int> ruhestatus;               // 0 active, 1 rest requested, 2..4 resting
extern std::atomic<int> unterbrechung_gewuenscht; // end mode of a requested interruption
extern std::atomic<bool> shutdownerlaubt;         // computer shutdown allowed at the end
extern std::atomic<bool> tonlos;                  // sound off (MUTE, menu)

// Status of the supervisor: requests from the menu, the timer tick and remote commands,
// and the state of the connection and the modem. Each has few writers (see where it is
// set); the main thread acts on the requests at fixed points of its cycle.
extern std::atomic<bool> verbindenverboten;         // connecting not yet permitted
extern std::atomic<bool> verbindeneinmal;           // connect once, then not again
extern std::atomic<bool> verbindenhalten;           // no new link while a warning asks
extern std::atomic<int> ba_gewuenscht;              // requested radio mode (1..4, 9)
extern std::atomic<bool> prepaid_gewuenscht;        // prepaid balance query requested
extern std::atomic<int> prepaidaufladen_gewuenscht; // top-up (1) or USSD code (2) requested
extern std::atomic<bool> update_gewuenscht;         // online update query requested
extern std::atomic<unsigned long> onlinezeit;       // hundredths; 0 = not connected
extern std::atomic<unsigned long> offlinezeit;      // hundredths since the connection ended
extern std::atomic<unsigned long> offlinezeita;     // offline time outside the end window
extern std::atomic<unsigned long> offlinezeitring;  // offlinezeit at the last call
extern std::atomic<unsigned long> inaktivzeit;      // hundredths without traffic while connected
extern std::atomic<int> onlinezeit_vorher;          // online time accounted at the last rounding
extern std::atomic<int> maxgrenze;                  // limit state 0, 1, 2
extern char maxgrenzes[50];                         // volume and time text of the limit icon
extern std::atomic<bool> netzfremd;                 // the network is not an allowed one
extern std::atomic<int> homezonestatus;             // 0 unknown, 1 inside, 2 outside
extern std::atomic<int> homezonezaehler;            // cycles to the next homezone query
extern std::atomic<int> akkufuellstand;             // battery charge in percent, 0 none
extern std::atomic<int> geraet;                     // modem kind found by the discovery
extern std::atomic<bool> linksys;                   // router link mode
extern std::atomic<bool> novatelu740, novateldll;   // Novatel variants
extern std::atomic<bool> cm__singleport;  // one port for commands and connection (AT layer)
extern std::atomic<int> comzeit;          // wait after each AT command, ms
extern std::atomic<int> inicounterglobal; // incremented at every rest
extern char prepaids[300];                // last prepaid balance answer
// States of the warning, countdown and homezone icons as the timer tick last set them, for
// the frontend record: vicon_status 0 off, 1 pre-warning, 2 warning, 3 foreign network;
// ticon_status the countdown kind with its minutes ticon_value; hicon_status 0 off,
// 1 inside, 2 outside, 9 unknown. tdrioneu: one of them changed since the record last took
// them.
struct ti_iconstatus_t {
    std::atomic<int> vicon_status{0}, ticon_status{0}, hicon_status{0};
    std::atomic<unsigned long> ticon_value{0};
};
extern ti_iconstatus_t ti_iconstatus;
extern std::atomic<bool> tdrioneu;
extern std::atomic<bool> shutdowninteractionkeyvalid; // the desktop session waits for our end

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
    // A status text for the main window's line 1 and its mini form.
    void (*statustext)(const char* text, const char* minitext);
    // A message box; returns the answer.
    int (*messagebox)(const char* title, const char* text, int mode, int icon);
    // The splash screen: a code, and a text for the codes that show one.
    void (*splash)(int code);
    void (*splashtext)(const char* text);
    // The main window's position (left unchanged when there is no window) and its form.
    void (*windowposition)(int* x, int* y);
    int (*windowform)();
    // Shows the main window in a form (the form read from the header at start).
    void (*windowshow)(int form);
    // The start-up checks of a connection run (modem, SIM, network list, APN): -1 end,
    // 1 incomplete, 0 fine; sets *neuschreiben when the ini file is to be rewritten. With
    // nurports only the ports of COM= are taken.
    int (*startchecks)(bool* neuschreiben, bool nurports);
    // The SMS flag between instances: 1 raise, 2 clear, else ask whether it was newly raised.
    bool (*smssignal)(int f);
    // The dial-up's time-gap watch (a standby noticed); 0 means now.
    bool (*timegap)(time_t tim);
};
extern ps_hooks_t ps_hooks;

// Calls through the hooks that do nothing while a hook is not set.
void ps_statustext(const char* text, const char* minitext);
int ps_messagebox(const char* title, const char* text, int mode, int icon);
void ps_splash(int code);
void ps_splashtext(const char* text);
void ps_windowposition(int* x, int* y);
int ps_windowform();
void ps_windowshow(int form);
bool ps_smssignal(int f);
bool ps_timegap(time_t tim);

// Resets the record to the values a program start has before reading the ini file.
void ps_resetinidat();

// Wakes the main loop from the pause between two cycles, so that a request just set is
// taken at once instead of after the pause. Any requester may call it; only an atomic
// store, so safe in a signal handler.
void ps_wecken();
// The main loop's pause: sleeps ms on the program's clock in short steps and returns true
// as soon as it is woken (a wake since the last pause counts too); false when the time ran
// out or the program terminates.
bool ps_pause(long ms);

// Asks for the program end (not a rest) and wakes the main loop. Only atomic stores: safe
// in a signal handler.
void ps_endeanfordern();
// Asks to interrupt the connection with an end mode (1..5, see unterbrechung_gewuenscht) and
// wakes the main loop; a pending request of a stronger mode is kept.
void ps_unterbrechen(int modus);

// The built-in command words of command files, the frontend record, SMS and calls, in the
// order connect, disconnect, reconnect, end; compared without regard to case.
extern const char ps_kommandos[4][20];
