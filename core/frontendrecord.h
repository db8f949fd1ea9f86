// The frontend record: the System V shared-memory record in which a running connection
// program publishes its state and takes commands from other programs. Its layout is an
// external interface and fixed: "ulong" is the platform's unsigned long, fields have their
// natural alignment, so an x86-64 build has a record of 1064 bytes and an i386 build one of
// 984 bytes. This header needs nothing but <stddef.h>, so that it also compiles for the
// i386 layout check without a 32-bit C++ library.
#pragma once

#include <stddef.h>

#define TDRIO_STRUCTURE_VERSION 3
// Major × 256 + minor of the version text "0.5".
#define TDRIO_PROGRAM_VERSION 5
// The size frontends ask for; a larger existing segment accepts it.
#define TDRIO_SEGMENTGROESSE 1024

struct tdrio_t {
    unsigned long len;                // size of the record in bytes
    unsigned short structure_version; // TDRIO_STRUCTURE_VERSION
    unsigned short program_version;   // TDRIO_PROGRAM_VERSION
    unsigned long res1[3];            // reserved, 0
    char command[100];                // command from a frontend; cleared once taken
    unsigned long process_counter;    // change counter; 0 = the program is not active
    unsigned long volume;             // volume of the period, kB
    unsigned long time;               // online time of the period, minutes
    unsigned long online_time;        // current connection, seconds rounded up; 0 offline
    unsigned long offline_time;       // seconds since the connection ended, rounded up
    unsigned long upspeed;            // bytes per second, 0 unknown
    unsigned long downspeed;          // bytes per second, 0 unknown
    unsigned char opmode;             // 0 none, 1 GPRS, 2 UMTS, 5 EDGE, 6 HSPA
    unsigned char signal_raw;         // the modem's raw value, 0 = no reading
    unsigned char signal_percent;     // signal in percent
    short signal_dbm;                 // signal in dBm
    char network_name[32];            // operator name
    char plmn[7];                     // numeric operator code
    char lac[5];                      // location area code, 4 hex characters
    char cid[5];                      // last 4 hex characters of the cell id
    char message[65];                 // status line 1 of the main window
    char mini_message[49];            // text of the mini window
    char error_message[33];           // error text
    unsigned char battery;            // battery charge in percent, 0 none
    char rnc[5];                      // radio network controller of a long cell id
    unsigned char internal1[3];       // icon states: warning, limit kind, homezone
    unsigned long internal2[6];       // [0] the value of the limit icon; rest reserved
    char answer[600];                 // answer to a command (program path, device answer)
};

#define TDRIO__PRUEFE(feld, o64, o32)                                                              \
    static_assert(offsetof(tdrio_t, feld) == (__SIZEOF_LONG__ == 8 ? (o64) : (o32)),               \
                  "offset of " #feld)
static_assert(sizeof(tdrio_t) == (__SIZEOF_LONG__ == 8 ? 1064 : 984), "size of the record");
TDRIO__PRUEFE(len, 0, 0);
TDRIO__PRUEFE(structure_version, 8, 4);
TDRIO__PRUEFE(program_version, 10, 6);
TDRIO__PRUEFE(res1, 16, 8);
TDRIO__PRUEFE(command, 40, 20);
TDRIO__PRUEFE(process_counter, 144, 120);
TDRIO__PRUEFE(volume, 152, 124);
TDRIO__PRUEFE(time, 160, 128);
TDRIO__PRUEFE(online_time, 168, 132);
TDRIO__PRUEFE(offline_time, 176, 136);
TDRIO__PRUEFE(upspeed, 184, 140);
TDRIO__PRUEFE(downspeed, 192, 144);
TDRIO__PRUEFE(opmode, 200, 148);
TDRIO__PRUEFE(signal_raw, 201, 149);
TDRIO__PRUEFE(signal_percent, 202, 150);
TDRIO__PRUEFE(signal_dbm, 204, 152);
TDRIO__PRUEFE(network_name, 206, 154);
TDRIO__PRUEFE(plmn, 238, 186);
TDRIO__PRUEFE(lac, 245, 193);
TDRIO__PRUEFE(cid, 250, 198);
TDRIO__PRUEFE(message, 255, 203);
TDRIO__PRUEFE(mini_message, 320, 268);
TDRIO__PRUEFE(error_message, 369, 317);
TDRIO__PRUEFE(battery, 402, 350);
TDRIO__PRUEFE(rnc, 403, 351);
TDRIO__PRUEFE(internal1, 408, 356);
TDRIO__PRUEFE(internal2, 416, 360);
TDRIO__PRUEFE(answer, 464, 384);
#undef TDRIO__PRUEFE

// The record of this process. tdriow: set only in the connection program that created the
// record, which alone publishes into it. tdrior: the record for reading (the creator's own,
// or the one a control program attached); tdrior_rw: a control program may write commands
// into it. The pointers change only in the main thread; other threads read them through the
// guards below.
extern tdrio_t* tdriow;
extern tdrio_t* tdrior;
extern bool tdrior_rw;

// A text field set with at most its size - 1 characters and a terminating NUL.
void ii_textsetzen(char* feld, size_t groesse, const char* text);
// The change counter, stored with release order after the texts, so a reader that sees the
// new count finds the new texts.
void ii_zaehlersetzen(tdrio_t* r, unsigned long wert);

// Size of a copy of the command field: its 100 bytes and a NUL that is always there.
#define II_KOMMANDOGROESSE 101
// The command field copied out bounded; empty without a record.
void ii_kommando(char (&kommando)[II_KOMMANDOGROESSE]);
// Clears the command field if it still holds kommando (a frontend may have written anew).
void ii_kommandoloeschen(const char* kommando);

// Writes of the publishing code; they do nothing while this process has no record.
#define TDRIOw(feld, wert)                                                                         \
    do {                                                                                           \
        tdrio_t* tdrio__p = __atomic_load_n(&tdriow, __ATOMIC_ACQUIRE);                            \
        if (tdrio__p) tdrio__p->feld = (wert);                                                     \
    } while (0)
#define TDRIOs(feld, text)                                                                         \
    do {                                                                                           \
        tdrio_t* tdrio__p = __atomic_load_n(&tdriow, __ATOMIC_ACQUIRE);                            \
        if (tdrio__p) ii_textsetzen(tdrio__p->feld, sizeof tdrio__p->feld, (text));                \
    } while (0)
