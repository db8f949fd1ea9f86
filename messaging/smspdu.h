// SMS PDUs as the modem gives and takes them in PDU mode: a received SMS-DELIVER decoded into
// sender, time stamp and text, and an SMS-SUBMIT built from a number and a text. Pure
// functions on the caller's buffers; every offset is bounded by the octets present.
#pragma once

#include <cstddef>

// A received SMS-DELIVER.
struct pd_eingang_t {
    char absender[24];   // "+" (type of number international) and digits; all '0' when a
                         // digit is not decimal (an alphanumeric sender, filler)
    bool alphanumerisch; // type of number 5: the digits shown are no number at all
    char zeit[20];       // "20YY-MM-DD hh:mm:ss" from the service-centre time stamp
    char zone[3];        // the time-zone octet as two digits
    int dcs;             // data coding scheme
    char marke[8];       // concatenation marker "{lRRNP}" or ""
    char text[700];      // the body as single-byte text (Latin-1), or the user data as hex
                         // when its coding is neither 7-bit, 8-bit nor UCS-2
};

// Decodes an SMS-DELIVER given as hex (service-centre address first, as +CMGR gives it).
// False for anything else or anything malformed (p then undefined).
bool pd_lesen(const char* hex, pd_eingang_t* p);

// The message text of a received SMS: "<sender> <time> (<zone>)\n\n<marker><body>".
void pd_nachricht(const pd_eingang_t& p, char* out, size_t n);

// Builds an SMS-SUBMIT as upper-case hex into out (size n): service centre from smsc
// ("+" and 1-20 digits; anything else gives "00", the modem's stored centre), destination
// digits (1-20, type 91 international or 81 with national), GSM 7-bit text (UTF-8 or
// single-byte, at most 160 septets); a text starting with a marker "{lRRNP}" is sent with
// a concatenation header. Returns the number of TPDU octets (the length AT+CMGS takes), or
// -1 when the number is malformed or out is too small.
int pd_schreiben(const char* smsc, const char* nummer, bool national, const char* text, char* out,
                 size_t n);

// Checks a +CMGR answer for completeness: a final "OK" and a PDU line whose octet count is
// exactly 1 + service-centre length + the <length> field of the +CMGR line. Copies the PDU
// hex into hex (size n) and returns true only then.
bool pd_cmgr(const char* antwort, char* hex, size_t n);
