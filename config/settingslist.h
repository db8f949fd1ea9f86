// The provider settings list: standard settings for many operators (network code, APN,
// user, password, service centre, prepaid codes, homezone), kept in the settings file as a
// text export of a wiki page, refreshed from that wiki, and the query whether a newer
// program version exists. The dialog fills its combo box from here (ui/settingscombo).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Hosts of the settings wiki and of the program's web site (tests point them at a local
// server).
extern const char* se_wiki;
extern const char* se_website;

// Loads the settings file of the working directory; false when it is missing, shorter
// than 6 bytes or cannot be read whole (nothing is loaded then).
bool se_laden();
// The display texts of the list in file order: operator lines as the heading above them
// (or "?") followed by three blanks and the provider name, plain "|||" entries as they
// stand; converted to UTF-8.
std::vector<std::string> se_eintraege();
// Selects entry zeile (counted as se_eintraege counts).
void se_setrow(int zeile);
// The value of field ele (3 PLMN, 4 APN, 5 USERNAME, 6 PASSWORD, 7 SMSC, 8 PPQ, 9 PPC,
// 10 HOMU, 11 HOMI, 12 HOMO) of the selected operator line, without a nowiki wrapper; ""
// when missing. Values that go to the modem (PLMN, APN, SMSC, PPQ, PPC) holding '"', ';'
// or a control character load empty and are logged. False for another ele.
bool se_feld(int ele, std::string& wert);
// Frees the loaded list.
void se_end();

// Fetches the newest revision of the list made by a trusted editor from the wiki and
// stores it as the settings file (marker 'A'); the old file stays untouched on any failure.
bool se_settingsupdate();
// True exactly once after an update: turns the marker 'A' into 'L'.
bool se_settingsupdated();
// Asks the web site for the newest program version and opens the matching page in the
// browser; clears update_gewuenscht. 1 newer version, 0 up to date, -1 page not available.
int se_updatequery();
// The program registered as a system service: none on this platform.
bool svclesen(char* datei);

// The pure steps of the update, for the tests.
// From the revision history: the edit address of the newest revision by a trusted editor
// (whole name, case ignored); false when there is none.
bool se_revision(const char* historie, std::string& editurl);
// From the edit page: the source text of the list; false for a page without the whole
// text area or without an operator line.
bool se_quelltext(const char* seite, std::string& inhalt);
// The file's form of the source: CR LF line ends, Latin-1 letters, entities resolved.
std::string se_umwandeln(const std::string& inhalt);
// The version number of the version page (body "tandor  N"); -1 for another form.
long se_version(const char* antwort);
