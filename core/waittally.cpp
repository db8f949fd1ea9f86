#include "core/waittally.h"

namespace {
// Only the owning thread reads or writes its sums, so plain thread-locals suffice and the
// tally costs an addition per sleep or read.
thread_local long wz__schlaf = 0;
thread_local long wz__lesen = 0;
} // namespace

void wz_schlaf(long ms) {
    if (ms > 0) wz__schlaf += ms;
}

void wz_lesen(long ms) {
    if (ms > 0) wz__lesen += ms;
}

long wz_schlafsumme() {
    return wz__schlaf;
}

long wz_lesesumme() {
    return wz__lesen;
}
