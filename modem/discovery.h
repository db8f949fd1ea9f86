// Modem discovery and initialisation: finding the ports by their stable by-id names,
// identifying the maker from the ATI answer, unlocking the SIM, preparing the location
// report and setting the radio mode with each maker's own command.
#pragma once

// Operator code, location area and cell identity shown by the signal reading. A first
// byte 0x01 marks a value the device does not report, "" one still to be read.
extern char plmn[20], lac[20], ucid[20];
// Emptied by the discovery; not used further on this platform.
extern char porttreiber1[308], porttreiber2[308];

// Results of de_inipin.
enum {
    DE_BEREIT = 0,    // ready
    DE_PINFEHLT = 1,  // PIN needed and none given, or a PUK unlock was done
    DE_STUMM = 2,     // modem does not answer
    DE_PINFALSCH = 3, // PIN rejected (or not a valid PIN)
    DE_PUKNOETIG = 4, // SIM locked, PUK needed
    DE_PUKFALSCH = 5, // PUK rejected
    DE_KEINESIM = 6,  // SIM not found
    DE_KEINPORT = -1, // command port cannot be opened
};

// What an answer to "AT+CPIN?" says about the SIM.
enum {
    DE_SIM_BEREIT, // usable: READY, PIN2/PUK2, or a plain OK
    DE_SIM_PIN,    // asks for its PIN
    DE_SIM_PUK,    // asks for its PUK
    DE_SIM_WARTEN, // no state yet: silent, cut off or "SIM busy"
    DE_SIM_FEHLER, // plain ERROR: a busy SIM on a modem without +CMEE, or no SIM
    DE_SIM_FEHLT,  // a +CME error other than busy: no SIM, SIM failure
};
int de_simlage(const char* antwort);

// The SIM's verdict on a code it was sent, from the answer to "AT+CPIN=..." and to the
// "AT+CPIN?" after it. puk: the code was PUK and new PIN.
enum {
    DE_CODE_ANGENOMMEN, // the SIM is ready
    DE_CODE_ABGELEHNT,  // an error other than busy, and the SIM still asks for the code
    DE_CODE_PUK,        // the SIM asks for its PUK now (a PIN was sent)
    DE_CODE_WARTEN,     // no verdict yet: silent, late or busy answers
};
int de_codeurteil(const char* codeantwort, const char* abfrage, bool puk);

// Empties the PIN in the record and on the PIN line of the ini file, so that no later
// start sends a code the SIM rejected. The other lines stay as they are in the file.
// True when the file was rewritten.
bool de_pinloeschen();

// Finds the ports under sy_path(SY_SERIALBYID): fills inidat.com1 and inidat.con where
// the user has not fixed them, presets geraet and shows the modem type. modemname (30
// bytes, may be null) receives the displayed name.
void de_getcomport(char* modemname);
// Makes a port of the configuration ready (cut at ';', "" = discovered command port):
// opens it and unlocks the SIM with a factory reset first. 1 on success, 0 otherwise.
int de_portini(char* port);
// Prepares the modem and unlocks the SIM. art 0 at start (once per cycle), 1 with a
// factory reset, 2 PIN check only. Returns one of the DE_ codes.
int de_inipin(int art);
// Identifies the maker by "ATI" (case ignored); sets geraet, novatelu740 and comzeit.
void de_identify();
// Device type from an identification answer (0 when none matches).
int de_geraetausati(const char* antwort);
// Once per cycle: switches on the location report.
void de_cellidqueryini();
// Sets radio mode ba (1 GPRS, 2 UMTS, 3 GPRS preferred, 4 UMTS preferred, 9 unchanged);
// prot 0 silent, 1 show on success, 2 log, show and report a failure, 3 show and report.
bool de_iniopmode(int ba, int prot);
