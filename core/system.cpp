#include "core/system.h"
#include "core/waittally.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr const char* sy__defaults[SY_PATHCOUNT] = {
    "/proc",    "/proc/net/dev",     "/dev/serial/by-id", "/dev/ttyUSB",
    "/var/run", "/usr/share/tandor", "/usr/bin",
};

// Replaced paths are kept for the life of the process: a pointer handed out by sy_path
// must stay valid while another thread reads it.
std::mutex sy__pathmutex;
std::list<std::string> sy__pathstore; // every replaced path, guarded by sy__pathmutex
std::atomic<const char*> sy__paths[SY_PATHCOUNT];

std::mutex sy__clockmutex;
std::condition_variable sy__clockcv;
std::atomic<int> sy__mode{SY_CLOCK_REAL};
long long sy__virtualms = 0; // virtual monotonic time in ms, guarded by sy__clockmutex
long long sy__standbyms = 0; // virtual time slept in standby; the wall time is the sum
int sy__sleepers = 0;        // threads blocked in a manual-clock sleep, same guard

long long sy__realmonotonicms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

std::atomic<long long> sy__htimebase{-1}; // monotonic ms at the first ti_htime, -1 unset

} // namespace

const char* sy_path(sy_path_t p) {
    if (p < 0 || p >= SY_PATHCOUNT) return "";
    const char* v = sy__paths[p].load();
    return v ? v : sy__defaults[p];
}

void sy_setpath(sy_path_t p, const char* value) {
    if (p < 0 || p >= SY_PATHCOUNT) return;
    std::lock_guard<std::mutex> g(sy__pathmutex);
    if (!value) {
        sy__paths[p].store(nullptr);
        return;
    }
    sy__pathstore.emplace_back(value);
    sy__paths[p].store(sy__pathstore.back().c_str());
}

void sy_setclock(sy_clock_t mode, time_t start) {
    std::lock_guard<std::mutex> g(sy__clockmutex);
    sy__mode = mode;
    sy__virtualms = (long long)start * 1000;
    sy__standbyms = 0;
    sy__htimebase = -1;
    sy__clockcv.notify_all();
}

void sy_advance(long ms) {
    if (ms < 0) return;
    std::lock_guard<std::mutex> g(sy__clockmutex);
    sy__virtualms += ms;
    sy__clockcv.notify_all();
}

void sy_standby(long ms) {
    if (ms < 0) return;
    std::lock_guard<std::mutex> g(sy__clockmutex);
    sy__standbyms += ms;
}

time_t sy_time() {
    if (sy__mode == SY_CLOCK_REAL) return time(nullptr);
    std::lock_guard<std::mutex> g(sy__clockmutex);
    return (time_t)((sy__virtualms + sy__standbyms) / 1000);
}

void sy_localtime(struct tm* t) {
    time_t now = sy_time();
    if (!localtime_r(&now, t)) std::memset(t, 0, sizeof *t);
}

bool sy_waitsleepers(int n, long realms) {
    std::unique_lock<std::mutex> g(sy__clockmutex);
    return sy__clockcv.wait_for(g, std::chrono::milliseconds(realms),
                                [&] { return sy__sleepers >= n; });
}

long long sy_monotonicms() {
    if (sy__mode == SY_CLOCK_REAL) return sy__realmonotonicms();
    std::lock_guard<std::mutex> g(sy__clockmutex);
    return sy__virtualms;
}

long long sy_standbyms() {
    if (sy__mode != SY_CLOCK_REAL) {
        std::lock_guard<std::mutex> g(sy__clockmutex);
        return sy__standbyms;
    }
    // Read the boot clock between two monotonic reads so that the three are one moment
    // to within the time of the calls.
    timespec m1, b, m2;
    if (clock_gettime(CLOCK_MONOTONIC, &m1) != 0 || clock_gettime(CLOCK_BOOTTIME, &b) != 0 ||
        clock_gettime(CLOCK_MONOTONIC, &m2) != 0)
        return 0;
    auto ns = [](const timespec& t) { return (long long)t.tv_sec * 1000000000LL + t.tv_nsec; };
    long long d = ns(b) - (ns(m1) + (ns(m2) - ns(m1)) / 2);
    return d > 0 ? d / 1000000 : 0;
}

bool sy_realclock() {
    return sy__mode.load() == SY_CLOCK_REAL;
}

void sy_sleepms(long ms) {
    if (ms <= 0) return;
    wz_schlaf(ms);
    switch (sy__mode.load()) {
    case SY_CLOCK_AUTO: {
        std::lock_guard<std::mutex> g(sy__clockmutex);
        sy__virtualms += ms;
        sy__clockcv.notify_all();
        return;
    }
    case SY_CLOCK_MANUAL: {
        std::unique_lock<std::mutex> g(sy__clockmutex);
        long long until = sy__virtualms + ms;
        sy__sleepers++;
        sy__clockcv.notify_all();
        sy__clockcv.wait(g, [&] { return sy__virtualms >= until || sy__mode != SY_CLOCK_MANUAL; });
        sy__sleepers--;
        return;
    }
    default:
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

long ti_htime() {
    long long now = sy_monotonicms();
    long long base = sy__htimebase.load();
    if (base < 0) {
        long long expected = -1;
        if (sy__htimebase.compare_exchange_strong(expected, now))
            base = now;
        else
            base = expected;
    }
    return (long)((now - base) / 10);
}

void ti_htimereset() {
    sy__htimebase = -1;
}
