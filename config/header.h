// The header line (line 01 of the ini file) with the persistent volume and time
// counters, the date of their last update, the window position and form, the function
// and the hint code: read at start, composed for a full rewrite, rewritten in place.
#pragma once

// The 53-character line 01 of a full rewrite: the 37-character header and 16 reserved '0'.
extern char headerdaten[63];
// Manual counter resets requested by the configuration dialog (2 = reset).
extern int configkbvreset;
extern int configtreset;

// Length of the composed header.
constexpr int HD_LAENGE = 37;

// Whether a line is a complete header line (digits, blanks and dashes where they belong).
bool hd_valid(const char* zeile);
// Reads the header of an existing file (its line 01) into inidat and sets headergueltig;
// a line that is no complete header reads as zeros where it is damaged and is noted for
// a whole rewrite (hd_ganzschreiben).
void hd_read(const char* zeile);
// A new file: the header defaults, headergueltig set.
void hd_new();
// With dat false: rewrites the header in place in the ini file when needed (only over a
// complete header line). With dat true: composes it into headerdaten only.
void iv_iniheaderwrite(bool dat);
// The configuration program's line 01: the first 53 characters of the file as they are
// now (zeile, may be shorter or empty), with the hint code and the dialog's manual resets
// applied, into headerdaten.
void hd_confighead(const char* zeile);
// Line 01 of the file (zeile, as read) is no header that may be overwritten in place:
// the next write of the file is a whole one (iv_iniwrite), also when it comes from the
// in-place header write, as long as the file still starts with that line.
void hd_ganzschreiben(const char* zeile);
// Whether such a whole write is still due.
bool hd_ganzausstehend();
// The whole file has been written: line 01 is a complete header again (logged once).
void hd_ganzgeschrieben();
// Whether the counters are only in memory because the last header write that was due
// failed (a read-only or full file system, the file locked or replaced meanwhile).
bool hd_ausstehend();
// Called before the record is reset for a fresh read of the file (a restart after a rest):
// notes the counters when their write is still pending, so that the next hd_read keeps
// them instead of the older ones in the file.
void hd_vormerken();
