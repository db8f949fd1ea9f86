#include "ui/trayicons.h"

#include "core/helpers.h"
#include "core/threads.h"

#include <mutex>

std::atomic<const char*> ic_micon{""}, ic_wicon{""}, ic_ticon{""}, ic_hicon{""}, ic_bicon{""};

namespace {
// Callers of one icon are serialised, and always before the GTK lock is taken.
std::mutex ic__mmutex;
ic_mshowcall ic__mletzt = {0, 0, 0, 0, 0, ""};
int ic__manzahl = 0;
} // namespace

void ic_mshow(int art, int ba, int sig, int up, int down, const char* text) {
    std::lock_guard<std::mutex> g(ic__mmutex);
    if (art >= 0) ic__mletzt.art = art;
    if (ba >= 0) ic__mletzt.ba = ba;
    if (sig >= 0) ic__mletzt.sig = sig;
    if (up >= 0) ic__mletzt.up = up;
    if (down >= 0) ic__mletzt.down = down;
    strMcpy(ic__mletzt.text, text ? text : "");
    ic__manzahl++;
    // The drawn icon will be changed here; the lock is taken as the real one takes it.
    th_enter();
    th_leave();
}

ic_mshowcall ic_lastmshow() {
    std::lock_guard<std::mutex> g(ic__mmutex);
    return ic__mletzt;
}

int ic_mshowcount() {
    std::lock_guard<std::mutex> g(ic__mmutex);
    return ic__manzahl;
}
