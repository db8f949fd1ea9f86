// The ini record as the program writes it (lines 02 onwards), for the ini fuzz targets.
#pragma once

#include "fuzz/fuzzsupport.h"

#include "config/inikeys.h"

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string fz_iniwrite() {
    char* puffer = nullptr;
    size_t laenge = 0;
    FILE* f = open_memstream(&puffer, &laenge);
    FZ_PRUEF(f);
    FZ_PRUEF(ik_write(f));
    fclose(f);
    std::string s(puffer, laenge);
    free(puffer);
    return s;
}
