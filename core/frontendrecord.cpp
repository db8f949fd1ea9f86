#include "core/frontendrecord.h"

#include <cstring>

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

void ii_kommando(char (&kommando)[II_KOMMANDOGROESSE]) {
    tdrio_t* r = __atomic_load_n(&tdrior, __ATOMIC_ACQUIRE);
    if (r)
        memcpy(kommando, r->command, sizeof r->command);
    else
        memset(kommando, 0, sizeof r->command);
    kommando[II_KOMMANDOGROESSE - 1] = 0;
}

void ii_kommandoloeschen(const char* kommando) {
    tdrio_t* r = __atomic_load_n(&tdriow, __ATOMIC_ACQUIRE);
    if (!r || !kommando) return;
    // Only the first byte: a frontend that already wrote its next command after seeing an
    // empty field keeps it whole.
    if (strncmp(r->command, kommando, sizeof r->command) == 0) r->command[0] = 0;
}
