// Fuzz target: the classification of pppd's output lines. Every line must give 0 or one
// of the error numbers of the table, whatever bytes pppd (or a broken pipe) delivers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "connection/dialup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader hands over NUL-terminated lines of at most 5000 bytes.
    if (size > 5000) return 0;
    char zeile[5001];
    memcpy(zeile, data, size);
    zeile[size] = 0;
    int f = cn_fehlerregel(zeile);
    switch (f) {
    case 0:
    case CN_USAGE:
    case CN_NICHTLESBAR:
    case CN_FEHLT:
    case CN_ZUGRIFF:
    case CN_ROOT:
    case CN_SKRIPT:
    case CN_HANGUP:
    case CN_LCP:
        break;
    default:
        abort();
    }
    return 0;
}
