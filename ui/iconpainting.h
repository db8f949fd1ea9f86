// The pictures of the tray icons: 22 x 22 pixels painted word by word into a buffer of
// RGBA bytes (byte 0 red, 1 green, 2 blue, 3 alpha) from text patterns and a built-in
// digit font, never from image files. No toolkit here: the tray icons hand the buffer over.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int IC_R = 22;                      // pixels per row and rows per picture
constexpr int IC_PXGROESSE = IC_R * IC_R * 4; // 1,936 bytes
constexpr uint32_t IC_DUNKELGELB = 0x9F9F00;  // warning icon, flash phase 1 (RGB)
constexpr uint32_t IC_GELB = 0xFFFF00;        // warning icon, flash phase 2; battery
constexpr uint32_t IC_ROT = 0xFF0000;

// Writes one pixel per character of content, from the first pixel of row on, running on
// into the following rows, and stops at the end of the buffer; a null content or a row
// outside 0..21 writes nothing. Legend: blank transparent, x black, w white, r red,
// b blue, g green, y yellow, - dark yellow, / light grey, # the monochrome colour (white
// with MOD=B, else black, read at every call); any other character is transparent.
void ic__pxs(uint8_t* px, int row, const char* content);
// Draws digit 0..9 as a 5 x 7 glyph in the monochrome colour with its top-left pixel at
// row, column; sets only the glyph's pixels and clips at every edge. Any other digit
// draws nothing.
void ic__pxd(uint8_t* px, int row, int column, int digit);

// Sets every pixel to transparent.
void ic_leeren(uint8_t* px);
// Swaps two opaque colours (RGB) everywhere in the picture: the flashing of the warning
// and homezone icons.
void ic_tauschen(uint8_t* px, uint32_t rgb1, uint32_t rgb2);

// Signal bars of the main icon for a signal in percent: 0 for 0, 1 for 1-14, 2 for 15-29,
// 3 for 30-49, 4 for 50-69, 5 from 70.
int ic_balken(int sig);

// Main icon, kind 1..5: 1 online (network letter of ba on its colour with signal bars in
// the standard style stil <= 1; up and down rates in kB/s as digits with a small letter and
// bars in the digit style stil > 1); 2 not connected, 3 network search, 4 connecting,
// 5 disconnecting (the traffic symbol above the state symbol). sig 0..100, up/down >= 0;
// a rate above 9999 shows its last four digits, zeros included. Any other kind paints an
// empty picture; every kind starts from a cleared buffer.
void ic_malen_haupt(uint8_t* px, int art, int ba, int sig, int up, int down, int stil);
// The main window's icon: the traffic symbol four rows down on a transparent ground.
void ic_malen_fenster(uint8_t* px);
// Warning icon (kinds 1 and 2 look alike; kind 2 flashes by ic_tauschen of dark yellow and
// yellow).
void ic_malen_warnung(uint8_t* px);
// Homezone icon: 1 status unknown, 2 in the homezone, 3 not in the homezone (flashes by
// ic_tauschen of red and yellow).
void ic_malen_homezone(uint8_t* px, int art);
// Countdown icon, kinds 1..3 (remaining online time, remaining idle time, time without
// connection): a clock with the kind's lower half and, below 600 minutes, the remaining
// minutes val as H:MM.
void ic_malen_countdown(uint8_t* px, int art, unsigned long val);
// Battery icon: 1 half (yellow), 2 low (red).
void ic_malen_akku(uint8_t* px, int art);

// Text codes of the kinds, shown in the main window's title. Kinds outside the tables
// give the empty text.
// Main icon: 0/1 "", 2 "-", 3 "?", 4 "-><-", 5 "<-|->".
const char* ic_code_haupt(int art);
// Warning icon: 0 "", 1/2 "$"; "!!" in the flash phase of kind 2.
const char* ic_code_warnung(int art, bool flashphase);
// Homezone icon: 0 "", 1 "H?", 2 "H", 3 "XH!"; "X!H" in the flash phase of kind 3.
const char* ic_code_homezone(int art, bool flashphase);
// Countdown icon: "" for kind 0, else c/z/x followed by val as one or two digits (below
// 100), the hours digit and 'h' (100-599), nothing from 600 on.
void ic_code_countdown(char* out, size_t n, int art, unsigned long val);
// Battery icon: 0 "", 1 "batt", 2 "BATT!".
const char* ic_code_akku(int art);
// Kind of the battery icon for a level in percent: 0 for 0 or above batt1, 1 above batt2,
// else 2.
int ic_akkuart(int val, int batt1, int batt2);
