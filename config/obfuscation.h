// Obfuscation of the secrets stored in the ini file (PIN, dial-up user and password): a
// reversible keyed hex form marked "CRYPT1". It keeps them from casual reading only.
#pragma once

#include <cstddef>

// Writes the obfuscated form of zd into ze (capacity zelen; needs 7 + 2 x strlen(zd))
// and returns a pointer to its terminating NUL. A text that does not fit gives "".
char* ob_obfuscate(const char* zd, char* ze, size_t zelen);
// Decodes ze into zd (capacity zdlen) when it starts with "CRYPT1" and returns true;
// otherwise copies ze unchanged and returns false (clear text).
bool ob_deobfuscate(const char* ze, char* zd, size_t zdlen);
