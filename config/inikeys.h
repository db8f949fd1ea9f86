// The keys of the ini file: each line (or program argument) read into the configuration
// record, and the record written back in the numbered layout with the key description.
#pragma once

#include <cstdio>

// What the reading of one file's lines has found so far.
struct ik_lesen_t {
    bool conagesehen; // a CONA= line came before (older files have none)
    bool neu;         // the file must be rewritten
    bool writeexit;   // INIWRITEEXIT was given
    int errnamen;     // recognised ERR= names of the last ERR= line
};

// Reads one line into inidat (the line may be changed in place). Header and DIR= lines
// are the caller's.
void ik_line(char* zeile, ik_lesen_t* st);
// After all lines: rules that need the whole file (switch K drops a PIN).
void ik_finish(ik_lesen_t* st);
// Writes lines 02 to 43, two empty lines and the key description (line 01 is the
// caller's). False when a write failed.
bool ik_write(FILE* f);
