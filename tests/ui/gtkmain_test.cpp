// The GTK main loop and the program end: th_terminate quits the real GTK loop from any
// thread, also from the GTK thread itself and from a thread that holds the GTK lock.
#include "gtktestloop.h"
#include "core/threads.h"
#include "ui/gtkmain.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <gtk/gtk.h>
#include <thread>

namespace {

using uhr = std::chrono::steady_clock;

bool warte(std::atomic<bool>& f, long ms) {
    auto ende = uhr::now() + std::chrono::milliseconds(ms);
    while (!f && uhr::now() < ende)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return f;
}

long ms_seit(uhr::time_point t0) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(uhr::now() - t0).count();
}

struct GtkLoop : ::testing::Test {
    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run the tests through tests/harness.sh";
        ASSERT_TRUE(gm_init(nullptr, nullptr));
        th_create(gtkthread, nullptr);
        ASSERT_TRUE(warte(gtklaeuft, 5000));
    }
};

TEST_F(GtkLoop, TerminateFromAPlainThreadQuitsTheLoopAndReturnsTrue) {
    auto t0 = uhr::now();
    EXPECT_TRUE(th_terminate(5000));
    EXPECT_LT(ms_seit(t0), 1500);
    EXPECT_TRUE(gtkverlassen);
}

TEST_F(GtkLoop, TerminateWhileHoldingTheGtkLockReturnsWithinItsTime) {
    th_enter();
    auto t0 = uhr::now();
    th_terminate(1500);
    long dauer = ms_seit(t0);
    th_leave();
    EXPECT_LT(dauer, 2200);
    // Once the lock is free the GTK thread leaves its loop.
    EXPECT_TRUE(warte(gtkverlassen, 3000));
}

std::atomic<long> dauerimgtk{-1};

TEST_F(GtkLoop, TerminateFromTheGtkThreadReturnsWithinItsTime) {
    gdk_threads_add_idle(
        [](gpointer) -> gboolean {
            auto t0 = uhr::now();
            th_terminate(1500);
            dauerimgtk = ms_seit(t0);
            return FALSE;
        },
        nullptr);
    EXPECT_TRUE(warte(gtkverlassen, 5000));
    EXPECT_GE(dauerimgtk, 0);
    EXPECT_LT(dauerimgtk, 2200);
}

TEST(GtkInit, NoDisplayIsReportedNotFatal) {
    unsetenv("DISPLAY");
    EXPECT_FALSE(gm_init(nullptr, nullptr));
}

} // namespace
