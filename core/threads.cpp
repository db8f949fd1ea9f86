#include "core/threads.h"

#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

struct th__reg {
    th__reg* next; // ring of running threads, or the free list
    th__reg* prev;
    GThread* glibth;
    unsigned long magic;
    char name[16];
};

namespace {

constexpr unsigned long th__MAGIC = 0x74684D41;
constexpr int th__MAXTHREADS = 30;
constexpr int th__statMAX = 32;
constexpr unsigned th__statUSED = 30; // slots used in turn out of th__statMAX
constexpr long th__SCHLAFSCHRITT = 500;
constexpr long th__TERMSCHRITT = 250;
constexpr gulong th__PARKUS = 111222000;

std::mutex th__mutex; // guards the registry below
th__reg th__storage[th__MAXTHREADS];
th__reg* th__free = nullptr;
th__reg* th__running = nullptr;
std::atomic<bool> th__terminateflag{false};

std::atomic<const th_gui_t*> th__gui{nullptr};
std::mutex th__defaultlock; // stands in for the GTK lock while no user interface is set

// Record of the last lock operations: written by every thread without a lock, so the
// slot index is taken atomically and always lies inside the used slots.
std::atomic<unsigned long> th__stat[th__statMAX];
std::atomic<unsigned> th__statpos{0};
std::atomic<unsigned> th__stati{1};
std::once_flag th__monitoronce;

bool th__valid(const th__reg* p) {
    if (!p) return false;
    auto a = (const char*)p, b = (const char*)th__storage;
    if (a < b || a >= b + sizeof th__storage) return false;
    if ((size_t)(a - b) % sizeof(th__reg) != 0) return false;
    return p->magic == th__MAGIC;
}

// The calling thread's node, or null. Called with th__mutex held.
th__reg* th__self() {
    if (!th__running) return nullptr;
    GThread* self = g_thread_self();
    if (!self) {
        lo_slog("th_self: g_thread_self reurned NULL\n", "", -1);
        return nullptr;
    }
    th__reg* p = th__running;
    do {
        if (p->glibth == self && th__valid(p)) return p;
        p = p->next;
    } while (p && p != th__running);
    return nullptr;
}

// Takes a node out of the ring and returns it to the free list. Called with th__mutex held.
void th__unlink(th__reg* p) {
    if (p->next == p) {
        th__running = nullptr;
    } else {
        if (p == th__running) th__running = p->next;
        p->prev->next = p->next;
        p->next->prev = p->prev;
    }
    p->magic = 0;
    p->glibth = nullptr;
    p->prev = nullptr;
    p->next = th__free;
    th__free = p;
}

bool th__anyregistered() {
    std::lock_guard<std::mutex> g(th__mutex);
    return th__running != nullptr;
}

[[noreturn]] void th__park() {
    for (;;)
        g_usleep(th__PARKUS);
}

void th__record(unsigned long art, int line) {
    unsigned long seq = th__stati.fetch_add(1) % 1000;
    unsigned slot = th__statpos.fetch_add(1) % th__statUSED;
    unsigned long l = (unsigned long)(line < 0 ? 0 : line) % 100000;
    th__stat[slot].store(seq * 1000000UL + art * 100000UL + l, std::memory_order_relaxed);
}

gpointer th__monitor(gpointer) {
    th_register("th__monitor");
    // The record describes real lock behaviour, so the monitor sleeps on the system clock:
    // a test's virtual clock would make it spin (logging and taking locks without pause)
    // or count it as a sleeper of the manual clock.
    for (;;) {
        th_locklog();
        for (long rest = 20612; rest > 0 && !th_queryterminate(); rest -= th__SCHLAFSCHRITT)
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::min(rest, th__SCHLAFSCHRITT)));
        if (th_queryterminate()) {
            th_unregister(nullptr);
            th__park();
        }
    }
}

} // namespace

void th_setgui(const th_gui_t* gui) {
    th__gui.store(gui);
}

th_reg th_register(const char* threadname) {
    const char* name = threadname ? threadname : "*unnamed thread*";
    std::lock_guard<std::mutex> g(th__mutex);
    lo_slog("th_register: \"%s\"\n", name, -1);
    if (!th__free) {
        if (th__running) {
            lo_slog("th_register: no free node available.\n", "", -1);
            return nullptr;
        }
        for (int i = th__MAXTHREADS - 1; i >= 0; i--) {
            th__storage[i].magic = 0;
            th__storage[i].next = th__free;
            th__free = &th__storage[i];
        }
    }
    th__reg* p = th__free;
    th__free = p->next;
    p->magic = th__MAGIC;
    p->glibth = g_thread_self();
    strMcpy(p->name, name);
    // Threads other than the process's first carry their name, so top -H and /proc show
    // which one spends the time; the first keeps the program's name.
    if (gettid() != getpid()) {
        char kurz[16]; // the kernel keeps 15 characters of a thread name
        strMcpy(kurz, name);
        pthread_setname_np(pthread_self(), kurz);
    }
    if (!th__running) {
        p->next = p->prev = p;
        th__running = p;
    } else {
        p->next = th__running;
        p->prev = th__running->prev;
        th__running->prev->next = p;
        th__running->prev = p;
    }
    return p;
}

bool th_unregister(th_reg thp) {
    std::lock_guard<std::mutex> g(th__mutex);
    if (!thp) thp = th__self();
    if (!th__valid(thp)) {
        lo_slog("th_unregister: handle invalid.\n", "", -1);
        return false;
    }
    lo_slog("th_unregister: \"%s\"\n", thp->name, -1);
    th__unlink(thp);
    return true;
}

bool th_terminate(long milliseconds) {
    th__terminateflag = true;
    // The quit is queued into the GTK thread; this thread never takes the GTK lock here,
    // so a caller holding it, or running in the GTK thread, cannot deadlock. The GTK
    // thread's own loop can only quit after we return, so it is not waited for there.
    const th_gui_t* gui = th__gui.load();
    bool guithread = gui && gui->isguithread && gui->isguithread();
    bool quitwait = gui && gui->hasquit && !guithread;
    if (gui && gui->queuequit && !(gui->hasquit && gui->hasquit())) gui->queuequit();
    long rest = milliseconds;
    while (rest > 0 && (th__anyregistered() || (quitwait && !gui->hasquit()))) {
        long schritt = std::min(rest, th__TERMSCHRITT);
        sy_sleepms(schritt);
        rest -= schritt;
    }
    std::lock_guard<std::mutex> g(th__mutex);
    if (th__running) {
        th__reg* p = th__running;
        do {
            lo_slog("th_terminate error: \"%s\" is still runing.\n", p->name, -1);
            p = p->next;
        } while (p && p != th__running);
    }
    return th__running == nullptr;
}

bool th_queryterminate() {
    return th__terminateflag.load();
}

void th_sleepinfinite() {
    {
        std::lock_guard<std::mutex> g(th__mutex);
        th__reg* p = th__self();
        if (p)
            lo_slog("th_sleepinfinite: \"%s\" is still registered\n", p->name, -1);
        else
            lo_slog("th_sleepinfinite: unregistered thread - ok.\n", "", -1);
    }
    th__park();
}

bool th_msleep(long milliseconds) {
    while (milliseconds > 0) {
        if (th__terminateflag) return true;
        long schritt = std::min(milliseconds, th__SCHLAFSCHRITT);
        sy_sleepms(schritt);
        milliseconds -= schritt;
    }
    return th__terminateflag;
}

bool th_msleepx(long milliseconds) {
    while (milliseconds > 0) {
        if (th__terminateflag) return true;
        if (programmende_gewuenscht) return false;
        long schritt = std::min(milliseconds, th__SCHLAFSCHRITT);
        sy_sleepms(schritt);
        milliseconds -= schritt;
    }
    return th__terminateflag;
}

void th_msleepexit(long milliseconds) {
    while (milliseconds > 0 && !th__terminateflag) {
        long schritt = std::min(milliseconds, th__SCHLAFSCHRITT);
        sy_sleepms(schritt);
        milliseconds -= schritt;
    }
    if (!th__terminateflag) return;
    {
        std::unique_lock<std::mutex> g(th__mutex);
        th__reg* p = th__self();
        if (p) {
            lo_slog("th_msleepexit: exiting \"%s\"\n", p->name, -1);
            th__unlink(p);
            g.unlock();
            th__park();
        }
    }
    lo_slog("th_msleepexit: thread was not registered\n", "", -1);
}

GThread* th_create(GThreadFunc func, gpointer data) {
    GError* err = nullptr;
    GThread* t = g_thread_try_new(nullptr, func, data, &err);
    if (!t) {
        lo_slog("th_create: %s\n", err ? err->message : "", -1);
        g_clear_error(&err);
        return nullptr;
    }
    g_thread_unref(t);
    return t;
}

GThread* th_createx(GThreadFunc func, gpointer data, unsigned long stack_size) {
    if (stack_size == 0) return th_create(func, data);
    // The one GLib call that still takes a stack size; the thread is not joinable.
    GError* err = nullptr;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GThread* t =
        g_thread_create_full(func, data, stack_size, FALSE, FALSE, G_THREAD_PRIORITY_NORMAL, &err);
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (!t) {
        lo_slog("th_create: %s\n", err ? err->message : "", -1);
        g_clear_error(&err);
    }
    return t;
}

void th_enter_line(int line) {
    std::call_once(th__monitoronce, [] {
        for (auto& s : th__stat)
            s.store(0);
        th_create(th__monitor, nullptr);
    });
    th__record(1, line);
    const th_gui_t* gui = th__gui.load();
    if (gui && gui->lock)
        gui->lock();
    else
        th__defaultlock.lock();
}

void th_leave_line(int line) {
    const th_gui_t* gui = th__gui.load();
    if (gui && gui->unlock)
        gui->unlock();
    else
        th__defaultlock.unlock();
    th__record(2, line);
}

void th_locklog() {
    if (!MODUS('P')) return;
    unsigned long kopie[th__statMAX];
    for (int i = 0; i < th__statMAX; i++)
        kopie[i] = th__stat[i].load(std::memory_order_relaxed);
    std::sort(kopie, kopie + th__statMAX);
    // Records from the other side of a wrap of the sequence counter are left out.
    unsigned long bezug = th__stat[0].load(std::memory_order_relaxed);
    char zeile[700];
    size_t n = (size_t)snprintf(
        zeile, sizeof zeile, "GTK thread locks (nnnxlllll for counter, enter/leave, line number):");
    for (unsigned long r : kopie) {
        if (r == 0 || (r - bezug > 33999999UL && bezug - r > 33999999UL)) continue;
        unsigned long seq = r / 1000000, art = (r / 100000) % 10, line = r % 100000;
        char c = art == 1 ? 'E' : art == 2 ? 'L' : (char)('0' + art);
        if (n >= sizeof zeile) break;
        if (seq)
            n += (size_t)snprintf(zeile + n, sizeof zeile - n, " %lu%c%05lu", seq, c, line);
        else
            n += (size_t)snprintf(zeile + n, sizeof zeile - n, " %c%05lu", c, line);
    }
    if (n < sizeof zeile - 1) strcpy(zeile + n, "\n");
    lo_slog("%s", zeile, -1);
}
