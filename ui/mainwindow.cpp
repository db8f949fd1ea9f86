#include "ui/mainwindow.h"

#include "core/helpers.h"

#include <mutex>

char cc_mtext[10][150];
int fefo = 0;

namespace {
// Status texts are written by several threads; one lock keeps each line whole.
std::mutex cc__mutex;
} // namespace

void cc_show(int) {}

void cc_show1(const char* text, const char* minitext) {
    std::lock_guard<std::mutex> g(cc__mutex);
    strMcpy(cc_mtext[1], text ? text : "");
    strMcpy(cc_mtext[9], minitext ? minitext : (text ? text : ""));
}

void cc_show2(const char* text, const char* minitext) {
    std::lock_guard<std::mutex> g(cc__mutex);
    strMcpy(cc_mtext[8], text ? text : "");
    (void)minitext;
}

void cc_quit() {}

void cc_getposition(int*, int*) {}
