// Thread registry, interruptible sleeps, termination with and without a GTK stand-in,
// thread creation with a stack size, and the GTK-lock record. The termination flag is
// process-wide and never cleared: every case runs in its own process.
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "core/threads.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A record as the monitor shows it: up to three sequence digits, E or L, five line digits.
bool eintragpasst(const std::string& e) {
    if (e.size() < 6 || e.size() > 9) return false;
    size_t k = e.size() - 6;
    if (e[k] != 'E' && e[k] != 'L') return false;
    for (size_t i = 0; i < e.size(); i++)
        if (i != k && (e[i] < '0' || e[i] > '9')) return false;
    return true;
}

long long jetzt() {
    return sy_monotonicms();
}

class Threads : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        dir = ts_scratchdir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ps_resetinidat();
        inidat.mod['P'] = 1;
    }
    void TearDown() override {
        th_setgui(nullptr);
        programmende_gewuenscht = false;
        sy_setclock(SY_CLOCK_REAL);
    }
    std::string log() { return ts_readfile(dir + "/servilog.txt"); }
    bool logwaits(const std::string& text, long ms) {
        for (long t = 0; t < ms; t += 10) {
            if (log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(Threads, RegistryHoldsThirtyAndCutsNames) {
    std::vector<th_reg> regs;
    for (int i = 0; i < 30; i++) {
        th_reg r = th_register(("t" + std::to_string(i)).c_str());
        ASSERT_NE(r, nullptr) << i;
        regs.push_back(r);
    }
    EXPECT_EQ(th_register("one too many"), nullptr);
    EXPECT_NE(log().find("th_register: no free node available.\n"), std::string::npos);

    EXPECT_TRUE(th_unregister(regs[7]));
    EXPECT_FALSE(th_unregister(regs[7])); // a freed node is no longer a valid handle
    th_reg lang = th_register("abcdefghijklmnopqrst");
    ASSERT_NE(lang, nullptr);
    EXPECT_TRUE(th_unregister(lang));
    EXPECT_NE(log().find("th_unregister: \"abcdefghijklmno\"\n"), std::string::npos);
    // Unlinking from the head, the middle and the tail leaves a consistent ring.
    for (int i : {0, 29, 15, 1, 28})
        EXPECT_TRUE(th_unregister(regs[i]));
    for (int i = 0; i < 30; i++) {
        if (i != 0 && i != 1 && i != 7 && i != 15 && i != 28 && i != 29) {
            EXPECT_TRUE(th_unregister(regs[i]));
        }
    }
    EXPECT_TRUE(th_terminate(0)); // nothing left
}

TEST_F(Threads, UnregisterNeedsAValidHandle) {
    bool fremd = true, eigen = false;
    std::thread([&] { fremd = th_unregister(nullptr); }).join();
    EXPECT_FALSE(fremd);
    EXPECT_NE(log().find("th_unregister: handle invalid.\n"), std::string::npos);
    alignas(th_reg) char falsch[64] = {};
    EXPECT_FALSE(th_unregister(reinterpret_cast<th_reg>(falsch)));
    std::thread([&] {
        th_register("selbst");
        eigen = th_unregister(nullptr);
    }).join();
    EXPECT_TRUE(eigen);
    EXPECT_NE(log().find("th_unregister: \"selbst\"\n"), std::string::npos);
}

TEST_F(Threads, MsleepSleepsWholeTimeUndisturbed) {
    sy_setclock(SY_CLOCK_AUTO, 1000000);
    long long t0 = jetzt();
    EXPECT_FALSE(th_msleep(1200));
    EXPECT_EQ(jetzt() - t0, 1200);
    programmende_gewuenscht = true; // only th_msleepx heeds it
    EXPECT_FALSE(th_msleep(700));
    EXPECT_EQ(jetzt() - t0, 1900);
    EXPECT_FALSE(th_msleepx(700));
    EXPECT_EQ(jetzt() - t0, 1900);
}

TEST_F(Threads, MsleepWakesSoonAfterTerminate) {
    std::atomic<long long> gesetzt{0};
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        gesetzt = jetzt();
        th_terminate(0);
    });
    long long t0 = jetzt();
    EXPECT_TRUE(th_msleep(10000));
    long long t1 = jetzt();
    t.join();
    EXPECT_LT(t1 - gesetzt, 700);
    EXPECT_LT(t1 - t0, 1200);
    EXPECT_TRUE(th_queryterminate());
    EXPECT_TRUE(th_msleep(10000)); // at once
    EXPECT_LT(jetzt() - t1, 100);
}

TEST_F(Threads, MsleepxReturnsFalseOnProgramEnd) {
    std::atomic<long long> gesetzt{0};
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        gesetzt = jetzt();
        programmende_gewuenscht = true;
    });
    EXPECT_FALSE(th_msleepx(10000));
    long long t1 = jetzt();
    t.join();
    EXPECT_LT(t1 - gesetzt, 700);
    // The termination flag is tested first.
    th_terminate(0);
    EXPECT_TRUE(th_msleepx(1000));
}

TEST_F(Threads, TerminateWaitsForThreadsThatExitAndNamesTheRest) {
    std::thread([] {
        th_register("worker");
        for (;;)
            th_msleepexit(100000);
    }).detach();
    std::thread([] {
        th_register("stubborn");
        th_sleepinfinite();
    }).detach();
    ASSERT_TRUE(logwaits("th_sleepinfinite: \"stubborn\" is still registered", 2000));
    long long t0 = jetzt();
    EXPECT_FALSE(th_terminate(1200));
    long long dauer = jetzt() - t0;
    EXPECT_GE(dauer, 1200);
    EXPECT_LT(dauer, 2500);
    std::string l = log();
    EXPECT_NE(l.find("th_msleepexit: exiting \"worker\"\n"), std::string::npos);
    EXPECT_NE(l.find("th_terminate error: \"stubborn\" is still runing.\n"), std::string::npos);
    EXPECT_EQ(l.find("\"worker\" is still runing"), std::string::npos);
}

TEST_F(Threads, TerminateReturnsAsSoonAsAllHaveLeft) {
    std::thread([] {
        th_register("worker");
        for (;;)
            th_msleepexit(100000);
    }).detach();
    std::thread([] {
        th_msleepexit(100000); // never registered: logs and returns
        th_sleepinfinite();
    }).detach();
    ASSERT_TRUE(logwaits("th_register: \"worker\"", 2000));
    long long t0 = jetzt();
    EXPECT_TRUE(th_terminate(5000));
    EXPECT_LT(jetzt() - t0, 1000);
    EXPECT_TRUE(logwaits("th_msleepexit: thread was not registered\n", 2000));
    EXPECT_TRUE(logwaits("th_sleepinfinite: unregistered thread - ok.\n", 2000));
}

// A stand-in for the GTK thread: a GLib main loop of its own with a lock in place of the
// GDK lock. The quit arrives as an idle callback that takes the lock, as a GTK idle
// callback would; a timeout keeps events coming all the time.
struct Fakegui {
    GMainContext* ctx = nullptr;
    GMainLoop* loop = nullptr;
    std::mutex lock;
    std::atomic<bool> quit{false};
    std::thread thread;
    std::thread::id id;
};
Fakegui* fg = nullptr;

gboolean fg_quitidle(gpointer) {
    std::lock_guard<std::mutex> g(fg->lock);
    g_main_loop_quit(fg->loop);
    return G_SOURCE_REMOVE;
}
gboolean fg_busy(gpointer) {
    return G_SOURCE_CONTINUE;
}

const th_gui_t fg_gui = {
    [] { fg->lock.lock(); },
    [] { fg->lock.unlock(); },
    [] {
        GSource* s = g_idle_source_new();
        g_source_set_callback(s, fg_quitidle, nullptr, nullptr);
        g_source_attach(s, fg->ctx);
        g_source_unref(s);
    },
    [] { return fg->quit.load(); },
    [] { return std::this_thread::get_id() == fg->id; },
};

class ThreadsGui : public Threads {
  protected:
    Fakegui gui;
    void SetUp() override {
        Threads::SetUp();
        fg = &gui;
        gui.ctx = g_main_context_new();
        gui.loop = g_main_loop_new(gui.ctx, FALSE);
        GSource* s = g_timeout_source_new(1);
        g_source_set_callback(s, fg_busy, nullptr, nullptr);
        g_source_attach(s, gui.ctx);
        g_source_unref(s);
        std::atomic<bool> laeuft{false};
        gui.thread = std::thread([&] {
            gui.id = std::this_thread::get_id();
            g_main_context_push_thread_default(gui.ctx);
            laeuft = true;
            g_main_loop_run(gui.loop);
            g_main_context_pop_thread_default(gui.ctx);
            gui.quit = true;
        });
        while (!laeuft)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        th_setgui(&fg_gui);
    }
    void TearDown() override {
        Threads::TearDown();
        if (gui.thread.joinable()) gui.thread.join();
        g_main_loop_unref(gui.loop);
        g_main_context_unref(gui.ctx);
        fg = nullptr;
    }
    // Runs f inside the GUI loop with the lock held, as a GTK signal handler runs.
    void ingui(std::function<void()> f) {
        static std::function<void()> aufgabe;
        aufgabe = std::move(f);
        GSource* s = g_idle_source_new();
        g_source_set_callback(
            s,
            [](gpointer) -> gboolean {
                std::lock_guard<std::mutex> g(fg->lock);
                aufgabe();
                return G_SOURCE_REMOVE;
            },
            nullptr, nullptr);
        g_source_attach(s, gui.ctx);
        g_source_unref(s);
    }
};

TEST_F(ThreadsGui, TerminateQuitsTheLoopWhileEventsKeepComing) {
    long long t0 = jetzt();
    EXPECT_TRUE(th_terminate(3000));
    EXPECT_LT(jetzt() - t0, 1000);
    EXPECT_TRUE(gui.quit); // waited for the loop to quit
}

TEST_F(ThreadsGui, TerminateFromTheGuiThreadHoldingTheLock) {
    std::atomic<long long> dauer{-1};
    std::atomic<bool> ergebnis{false};
    ingui([&] {
        long long t0 = jetzt();
        ergebnis = th_terminate(3000);
        dauer = jetzt() - t0;
    });
    gui.thread.join(); // the loop quits after the handler returned
    EXPECT_TRUE(ergebnis);
    EXPECT_GE(dauer, 0);
    EXPECT_LT(dauer, 1000);
}

TEST_F(ThreadsGui, TerminateWhileTheCallerHoldsTheLock) {
    long long t0 = jetzt();
    th_enter();
    bool ergebnis = th_terminate(1000); // the quit callback waits for the lock
    th_leave();
    long long dauer = jetzt() - t0;
    EXPECT_TRUE(ergebnis); // no thread registered
    EXPECT_GE(dauer, 1000);
    EXPECT_LT(dauer, 2000);
    gui.thread.join(); // and quits once the lock is free
    EXPECT_TRUE(gui.quit);
}

void* stackgroesse(void* p) {
    pthread_attr_t a;
    size_t s = 0;
    if (pthread_getattr_np(pthread_self(), &a) == 0) {
        pthread_attr_getstacksize(&a, &s);
        pthread_attr_destroy(&a);
    }
    static_cast<std::atomic<size_t>*>(p)->store(s);
    return nullptr;
}

TEST_F(Threads, CreateStartsDetachedThreadsWithTheStackSize) {
    std::atomic<size_t> gross{0}, normal{0};
    ASSERT_NE(th_createx(stackgroesse, &gross, 1000000), nullptr);
    ASSERT_NE(th_create(stackgroesse, &normal), nullptr);
    for (int i = 0; i < 200 && (!gross || !normal); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(gross.load(), 1000000u);
    EXPECT_LT(gross.load(), 1100000u);
    EXPECT_GT(normal.load(), 0u);
}

TEST_F(Threads, LockRecordUnderConcurrentUse) {
    constexpr int N = 6, RUNDEN = 20000;
    long zaehler = 0; // guarded by the lock alone
    std::vector<std::thread> ts;
    for (int i = 0; i < N; i++)
        ts.emplace_back([&] {
            for (int k = 0; k < RUNDEN; k++) {
                th_enter();
                zaehler++;
                th_leave();
            }
        });
    for (auto& t : ts)
        t.join();
    EXPECT_EQ(zaehler, (long)N * RUNDEN);
    ASSERT_TRUE(logwaits("th_register: \"th__monitor\"", 2000));
    th_locklog();
    auto lines = ts_readlines(dir + "/servilog.txt");
    std::string zeile;
    for (auto& l : lines)
        if (l.find("GTK thread locks") != std::string::npos) zeile = l;
    std::string kopf = "GTK thread locks (nnnxlllll for counter, enter/leave, line number):";
    ASSERT_EQ(zeile.substr(0, 4 + kopf.size()).substr(4), kopf);
    std::istringstream in(zeile.substr(4 + kopf.size()));
    int n = 0;
    for (std::string e; in >> e; n++)
        EXPECT_TRUE(eintragpasst(e)) << e;
    EXPECT_GT(n, 0);
    EXPECT_LE(n, 30);
}

TEST_F(Threads, LockRecordNamesLinesInOrder) {
    th_enter();
    int l1 = __LINE__ - 1;
    th_leave();
    int l2 = __LINE__ - 1;
    th_locklog();
    char erwartet[64];
    snprintf(erwartet, sizeof erwartet, "line number): 1E%05d 2L%05d\n", l1, l2);
    EXPECT_NE(log().find(erwartet), std::string::npos) << log();
}

} // namespace
