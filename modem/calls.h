// Services on top of the AT exchange: incoming-call detection, USSD queries, the homezone
// query and user AT command strings with escapes and pauses.
#pragma once

#include <cstddef>

// Size of a caller number with its NUL: '+' and digits, 4 to 48 characters.
#define CM_NUMMERGROESSE 49
// Size of the buffer cm_ussdquery fills with the answer.
#define CM_USSDGROESSE 1000

// --- Incoming calls ---------------------------------------------------------------------
// Called by cm_gets with every answer while calls are watched (offline, an entry reacts to
// calls, not a frontend or configuration program). Removes the RING and +CLIP parts from t
// in place and only notes a new call (number and time) for the main thread; it never runs
// an AT exchange, a connection step or a user program itself. A ring 15 s or more after
// the previous one by the offline clock, or the first after the clock started again, is a
// new call; later rings of the same call are not noted again.
void cm__ringdetect(char* t);
// The main thread takes the call noted last: true when one waits; nummer (size n) receives
// the caller's number, "" for a call without +CLIP.
bool cm_anrufholen(char* nummer, size_t n);
// The pure part: removes every "RING" that begins a line and is followed by CR or LF, and
// every "+CLIP:" report up to the end of its line, from t. *ring: a ring or a number was
// seen; nummer (size n): the first number of 4 to 48 characters (an optional leading '+'
// and digits), else "".
void cm_anrufzerlegen(char* t, bool* ring, char* nummer, size_t n);

// --- USSD -------------------------------------------------------------------------------
// A USSD code, template or voucher may be sent: not empty, at most 146 characters and free
// of '"' and control bytes (they would end the AT command and start another one).
bool cm_ussdzulaessig(const char* code);
// Sends the USSD code in t (a buffer of CM_USSDGROESSE bytes) and leaves the decoded
// answer there, "" when there is none. Learns whether the modem wants the code as plain
// text or as GSM 7-bit packed hex. Ends as soon as "+CUSD:" or ERROR arrives; a menu
// answer (status 1) is closed with AT+CUSD=2. Nothing is sent for a code that is not
// admissible or while the port is only simulated.
void cm_ussdquery(char* t);
// The pure part: the decoded text of a "+CUSD: <status>,"<text>"[,<dcs>]" line into out
// (size n), by the coding scheme (72 and 17 UCS-2, 17 without its language prefix; other
// schemes GSM 7-bit hex when it is hex, else plain; without a scheme the hex guess).
// *status receives the status (-1 unknown). False when the line holds no quoted text.
bool cm_ussdantwort(const char* zeile, char* out, size_t n, int* status);

// --- Homezone ---------------------------------------------------------------------------
// Asks inidat.homu (a URL, or a USSD code beginning with '*') and sets homezonestatus.
// No USSD code is sent while the port is only simulated (the status stays as it was).
void cm_homezonequery();
// The pure part: the status for an answer (data of len bytes): 1 when the inside text
// occurs, 2 when the outside text occurs (it wins), else 0. An empty pattern never
// matches. web: the data is a whole HTTP answer; only the body of a 2xx answer counts.
int cm_homezonestatus(const char* data, size_t len, const char* homi, const char* homo, bool web);

// --- User AT commands -------------------------------------------------------------------
// One piece of a user command string.
struct cm_userstueck_t {
    char text[700];     // the bytes to send, escapes resolved (may hold any byte but NUL)
    size_t laenge = 0;  // their number (a \x00 escape counts as a byte)
    bool cr = false;    // a CR follows
    bool lesen = false; // the answer is read (\R)
    long pause = 0;     // ms to wait after it (\p 500, \P 5000)
};
// Splits a user command string at \r, \R, \p, \P and its end into at most max pieces;
// returns their number. A \x without two hex digits stays as it stands.
int cm_userzerlegen(const char* s, cm_userstueck_t* stuecke, int max);
// Sends dp, or inidat.devi when dp is null. Nothing happens for an empty string or while
// the command port is not open.
void cm_userat(const char* dp);
