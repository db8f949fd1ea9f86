#include "core/frontendrecord.h"

tdrio_t* tdriow = nullptr;
tdrio_t* tdrior = nullptr;
bool tdrior_rw = false;

void ii_textsetzen(char* feld, size_t groesse, const char* text) {
    if (!feld || groesse == 0) return;
    size_t i = 0;
    if (text)
        for (; i + 1 < groesse && text[i]; i++)
            feld[i] = text[i];
    feld[i] = 0;
}

void ii_zaehlersetzen(tdrio_t* r, unsigned long wert) {
    if (r) __atomic_store_n(&r->process_counter, wert, __ATOMIC_RELEASE);
}
