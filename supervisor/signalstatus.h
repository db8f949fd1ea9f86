// Signal and network status of the main thread without the port: parsing the modem's answers
// (+CSQ, +CIND, +COPS, +CREG/+CGREG, radio-mode answers), the signal state with its conversions
// and texts, the network state, and the status and connection-log lines of one cycle.
#pragma once

#include <cstddef>

// Signal state of the main thread.
struct ss_signal_t {
    int sig = -1;             // percent 0..100, -1 without a reading
    int sigalt = -1;          // previous valid sig
    int sigd = 0;             // positive dBm magnitude (level is -sigd)
    char sigs[20] = "  ";     // "%02i%% = -%idBm", two blanks without a reading
    char sigsmini[20] = "  "; // "%02i%%", two blanks
    int sigfail = 9;          // failed readings in a row; 9 after a restart
    int siggelb = 0;          // readings in a row below 12 %, up to 9
    int raw = 0;              // accepted raw value for the frontend record, 0 without a reading
};

// Network state: texts as shown; a first byte 0x01 in plmn, lac or ucid marks a value the
// modem cannot report.
struct ss_netz_t {
    char name[80] = "";
    char name_alt[80] = "";
    char plmn[20] = "", lac[20] = "", ucid[20] = "";
    char plmn_alt[20] = "", lac_alt[20] = "", ucid_alt[20] = "";
    char cidkurz[5] = "", rnc[5] = "";
    int ba = 0;      // 0 none, 1 GPRS, 2 UMTS, 5 EDGE, 6 HSPA, 7 LTE
    int ba_alt = -1; // radio family (ss_familie) seen last, -1 none yet
};

// --- Answer parsers. Each takes the whole answer as read (NUL-terminated, may be null) and
// never reads past its end; garbage, cut or overlong answers give "unknown".

// Raw +CSQ value 0..31, 99 for the modem's "unknown", -1 when the answer holds none.
int ss_csqraw(const char* antwort);
// +CIND? signal indicator 0..5 mapped to the raw scale 0, 3, 9, 15, 21, 27; -1 otherwise.
int ss_cindraw(const char* antwort);
// The raw value of one reading: +CSQ, and for modem kind 5 the +CIND? answer when +CSQ says 99.
// -1 = no reading.
int ss_signalraw(int geraet, const char* csq, const char* cind);

// Registration state after "CGREG:" or "CREG:" (tag without the colon, e.g. "CGREG"): the
// <stat> number (1 home, 5 roaming, others not registered) or -1 when absent. Takes the
// answer "<n>,<stat>[,<lac>,<ci>[,<AcT>...]]" and, without it, the unsolicited
// "<stat>,<lac>,<ci>[,...]", with or without blanks after the colon and the commas, leading
// zeros, and the location in hex with or without quotes. The location goes to lac and ucid
// (20 bytes each) as "%04X" when they are non-null and the modem reports them (first byte not
// 0x01); a value of more than 8 hex digits, a cut or a missing one leaves "".
constexpr int SS_STATMAX = 99;
int ss_registrierung(const char* antwort, const char* tag, char* lac, char* ucid);
constexpr int SS_REG_SIMPIN = -2; // the answer asks for the SIM PIN
constexpr int SS_REG_ENDE = -3;   // binary status frame of modem kind 2: the modem ends
// Classifies a registration answer: SS_REG_SIMPIN, SS_REG_ENDE, 1/5 registered, 0 not.
int ss_regstatus(const char* antwort, const char* tag);
// Short cell id (last 4 characters) and RNC part (up to 4 characters before them).
void ss_zelle(const char* ucid, char (&cidkurz)[5], char (&rnc)[5]);

// Network name of a +COPS? answer in long format. 1: name (80 bytes, UTF-8) set; 0: no quoted
// name (no operator); 2: the name is not printable text (name gets the raw start for the log).
int ss_netzname(const char* antwort, char (&name)[80]);
// Numeric operator code of a +COPS? answer in format 2 (5 or 6 digits); false and "" otherwise.
bool ss_plmn(const char* antwort, char (&plmn)[20]);

// Radio mode ba from the answer the modem kind is asked: kind 8 +ZPAS?, kind 2 $NWRAT?,
// others the access technology of +COPS? (ss_ba_act; none given counts as GSM).
int ss_ba_zpas(const char* antwort);
int ss_ba_nwrat(const char* antwort);
int ss_ba_cops(const char* antwort);
int ss_betriebsart(int geraet, const char* antwort);
// ba of a 27.007 access technology: 0/1 GSM 1, 2 UTRAN 2, 3 EGPRS 5, 4..6 HSPA 6, 7 E-UTRAN 7;
// the modem's 9 is none (0), any other number GSM.
int ss_ba_act(int act);
// Radio family of ba for the mode-change line and the cell-change beep: 1 GSM (1, 5),
// 2 UMTS (2, 6), 0 none (0, and LTE, which is in neither).
int ss_familie(int ba);
// Mode text ("GPRS", "EDGE", "UMTS", "HSPA", "LTE", "") and mini letter from ba and the speeds
// in bytes/s; ba is raised to 5 or 6 when the speeds show EDGE or HSPA.
void ss_betriebsarttext(int& ba, long hoch, long runter, char (&text)[8], char& buchstabe);

// Battery charge of a +CBC answer: the second number when the first (connection state) is 0,
// 1..100; 0 otherwise.
int ss_akku(const char* antwort);

// --- Signal state.
// Applies one reading (raw -1 = none). novatelroh: modem kind 2 without the vendor library,
// whose low readings count only after three failures. Returns true when accepted.
bool ss_signal(ss_signal_t& s, int raw, bool altwert, bool novatelroh);
// Status line 3: '+' when the signal was weak for six readings, else a blank, then sigs.
void ss_signalzeile(const ss_signal_t& s, char* zeile, size_t n);

// Tone frequency in Hz of the acoustic signal display for a signal of s percent.
int ss_tonfrequenz(int s);

// --- Network texts.
// Texts of the network search display and of the modem's own end, in the current language.
enum ss_text_t { SS_NETZSUCHE_TRAY, SS_NETZSUCHE, SS_NETZSUCHE_MINI, SS_ENDE, SS_ENDE_MINI };
const char* ss_text(ss_text_t t);
bool ss_netzunbekannt(const char* name); // "Limited Service"/"No Service" (case ignored)
// The allowed-network list ("; name;code;...") holds the name or the code (code of 5+ chars).
bool ss_netzerlaubt(const char* liste, const char* name, const char* plmn);
// Status line 1 from name, plmn, lac and cell id.
void ss_statuszeile(const ss_netz_t& n, char* zeile, size_t len);
// Connection-log lines, complete with the stamp given (a stamp of datumzeit(), say). Every
// value is copied as text, never used as a format.
void ss_log_dienst(char* z, size_t n, const char* stempel);
void ss_log_fremdnetz(char* z, size_t n, const char* stempel, const char* name);
bool ss_log_zelle(char* z, size_t n, const char* stempel, const ss_netz_t& netz);
void ss_log_betriebsart(char* z, size_t n, const char* stempel, int ba, bool neu);
// nachstart: the line after a connection start, always with the word "Signalstaerke".
void ss_log_signal(char* z, size_t n, const char* stempel, const ss_signal_t& s, bool nachstart);

// --- One cycle: the answers collected by the main thread (null = not asked) and the results.
struct ss_antworten_t {
    int geraet = 0;
    bool novatelroh = false; // kind 2 without the vendor library
    bool altwert = true;     // copy a valid sig to sigalt first
    // Router mode: its signal value (below 1 = none), -1 in modem mode. The router's name and
    // mode go straight into ss_netz_t, with cops and modus left null.
    int linkraw = -1;
    const char* csq = nullptr;
    const char* cind = nullptr;
    const char* cops = nullptr;    // +COPS? in long name format
    const char* copsnum = nullptr; // +COPS? in numeric format
    const char* reg = nullptr;     // +CGREG? (or +CREG? for kind 8) with the location
    const char* regtag = nullptr;  // tag of reg ("CGREG", "CREG"); null: by the modem kind
    // The caller has applied the cycle's readings to the signal state already (ss_signal);
    // a change is then measured against sigalt.
    bool signalgelesen = false;
    const char* modus = nullptr; // +ZPAS? (kind 8) or $NWRAT? (kind 2); others use cops
    long hoch = -1, runter = -1; // speeds in bytes/s, -1 unknown
    int zyklus = 0;              // cycle counter of the main loop
    const char* stempel = "";    // time stamp for the log lines
};
constexpr int SS_LOGMAX = 6;
struct ss_ergebnis_t {
    char zeile1[150] = "", zeile2[150] = "", zeile3[150] = "";
    char modusbuchstabe = ' ';
    bool netzwechsel = false; // a new network name (for the beep and the network check)
    bool zellwechsel = false; // plmn, lac or cell id changed
    char namefehler[80] = ""; // a name that was no printable text, for the service log
    int nlog = 0;
    char log[SS_LOGMAX][200] = {};
};
// Evaluates one cycle into the signal and network state; the log lines follow the letters
// I and J of inidat.mod (passed as ilog, jlog).
void ss_zyklus(const ss_antworten_t& a, ss_signal_t& s, ss_netz_t& n, bool ilog, bool jlog,
               ss_ergebnis_t& e);
// Copies lines 1 to 3 of a cycle into cc_mtext (line 1 only when the cycle set it).
void ss_mtext(const ss_ergebnis_t& e);
