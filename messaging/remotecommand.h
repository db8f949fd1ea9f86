// The remote-command step shared by SMS and calls: which entry (SMS1-SMS3) a message or a
// call from a number triggers, the command built from the entry's template, and its
// effects (the built-in words, or the template run as a user program with the values as
// positional parameters, never as shell text).
#pragma once

#include <cstddef>

// Built-in words of a command.
enum rk_wort_t { RK_KEIN = 0, RK_CONNECT, RK_DISCONNECT, RK_RECONNECT, RK_END };

// What a trigger found.
struct rk_treffer_t {
    int eintrag = -1;         // the entry (0..2) that matched, -1 none
    bool geprueft = false;    // at least one entry of the kind was examined
    rk_wort_t wort = RK_KEIN; // built-in word at the start of the expanded command
    bool ausfuehren = false;  // the template (behind its word) runs as a user program
    char vorlage[800] = "";   // that template, placeholders left for sp_startmit
    char befehl[800] = "";    // the expanded command, for the logs
    char werte[4][520] = {};  // %0 number without '+', %1 number, %2 text, %3 text with
                              // every character but A-Z a-z 0-9 blank _ . as '_'
    bool wertda[4] = {};      // the value replaces its placeholder; false keeps it as written
};

// Finds the first entry of kind art (1 SMS keyword entry, 2 call entry) that matches the
// sender number (only '+' and digits count; alphanumerisch true never matches an entry
// with a number) and, for SMS, the keyword in the upper-cased body; the argument text is
// the body behind the keyword, or the whole body. Entries before ab are passed over (a call
// acts on every matching entry). Fills t. Pure: reads inidat only.
void rk_finden(int art, const char* nummer, bool alphanumerisch, const char* text, rk_treffer_t* t,
               int ab = 0);

// Carries out a match: the logs ("Command: ..." in the SMS log for SMS), the built-in
// word's effect (constart, cn_stop(1), unterbrechung_gewuenscht = 2, end request through
// *ende), and sp_stop/sp_startmit for the template. quelle 1 SMS, 2 call.
void rk_ausfuehren(const rk_treffer_t& t, int quelle, bool* ende);

// Acts on a call the main thread took: the logs and the status text, then every matching
// call entry through rk_finden and rk_ausfuehren. nummer: "" for a call without number.
void rk_anruf(const char* nummer, bool* ende);
