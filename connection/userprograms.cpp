#include "connection/userprograms.h"

#include <atomic>

#include "core/programstate.h"

namespace {
std::atomic<int> sp__starts{0}, sp__stops{0};
bool sp__slot(int i) {
    return i >= 0 && i < SP_SLOTS && inidat.cmd[i][0] != 0;
}
} // namespace

bool sp_start(int i) {
    if (!sp__slot(i)) return false;
    sp__starts++;
    return false;
}

bool sp_stop(int i) {
    if (!sp__slot(i)) return false;
    sp__stops++;
    return false;
}

bool sp_jedeverbindung(int) {
    return false;
}
bool sp_programmstart(int) {
    return false;
}
bool sp_programmende(int) {
    return false;
}
bool sp_smsgesteuert(int i) {
    return i >= 0 && i < SP_SLOTS && inidat.sms[i] != 0;
}
int sp_startcount() {
    return sp__starts;
}
int sp_stopcount() {
    return sp__stops;
}
