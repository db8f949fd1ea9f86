#include "core/system.h"
#include "core/waittally.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(SystemPaths, DefaultsAndReplacement) {
    EXPECT_STREQ(sy_path(SY_NETDEV), "/proc/net/dev");
    EXPECT_STREQ(sy_path(SY_SERIALBYID), "/dev/serial/by-id");
    sy_setpath(SY_NETDEV, "/tmp/x/dev");
    EXPECT_STREQ(sy_path(SY_NETDEV), "/tmp/x/dev");
    sy_setpath(SY_NETDEV, nullptr);
    EXPECT_STREQ(sy_path(SY_NETDEV), "/proc/net/dev");
}

TEST(SystemClock, AutoClockAdvancesBySleeps) {
    sy_setclock(SY_CLOCK_AUTO, 1350633909); // 2012-10-19 08:05:09 UTC
    EXPECT_EQ(sy_time(), 1350633909);
    long h0 = ti_htime();
    EXPECT_EQ(h0, 0);
    sy_sleepms(61500);
    EXPECT_EQ(sy_time(), 1350633909 + 61);
    EXPECT_EQ(ti_htime(), 6150);
    ti_htimereset();
    EXPECT_EQ(ti_htime(), 0);
    sy_sleepms(250);
    EXPECT_EQ(ti_htime(), 25);
    sy_setclock(SY_CLOCK_REAL);
}

TEST(SystemClock, ManualClockWakesSleepersOnlyWhenAdvanced) {
    sy_setclock(SY_CLOCK_MANUAL, 1000);
    std::atomic<bool> wach{false};
    std::thread t([&] {
        sy_sleepms(5000);
        wach = true;
    });
    ASSERT_TRUE(sy_waitsleepers(1, 5000));
    sy_advance(4000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(wach);
    sy_advance(1000);
    t.join();
    EXPECT_TRUE(wach);
    EXPECT_EQ(sy_time(), 1005);
    sy_setclock(SY_CLOCK_REAL);
}

TEST(SystemClock, RealTimeBaseCountsHundredths) {
    sy_setclock(SY_CLOCK_REAL);
    long a = ti_htime();
    sy_sleepms(120);
    long b = ti_htime();
    EXPECT_GE(b - a, 11);
    EXPECT_LT(b - a, 60);
}

TEST(WaitTally, CountsEveryRequestedSleepOfTheCallingThreadOnly) {
    sy_setclock(SY_CLOCK_AUTO, 1000);
    long s0 = wz_schlafsumme();
    sy_sleepms(1800);
    sy_sleepms(0);
    sy_sleepms(-5);
    sy_sleepms(250);
    EXPECT_EQ(wz_schlafsumme() - s0, 2050);
    // Another thread's sleeps run beside this one's and stay in its own tally.
    long fremd = -1;
    std::thread t([&] {
        sy_sleepms(4000);
        fremd = wz_schlafsumme();
    });
    t.join();
    EXPECT_EQ(fremd, 4000);
    EXPECT_EQ(wz_schlafsumme() - s0, 2050);
    sy_setclock(SY_CLOCK_REAL);
}

// A standby moves the wall time and the standby clock, but neither the monotonic time nor
// the time base, and wakes no sleeper; the real standby clock never runs backwards.
TEST(SystemClock, StandbyMovesOnlyTheWallAndTheStandbyClock) {
    sy_setclock(SY_CLOCK_MANUAL, 1000);
    EXPECT_EQ(sy_standbyms(), 0);
    long h0 = ti_htime();
    long long m0 = sy_monotonicms();
    std::atomic<bool> wach{false};
    std::thread t([&] {
        sy_sleepms(5000);
        wach = true;
    });
    ASSERT_TRUE(sy_waitsleepers(1, 5000));
    sy_standby(60000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(wach);
    EXPECT_EQ(sy_time(), 1060);
    EXPECT_EQ(sy_standbyms(), 60000);
    EXPECT_EQ(sy_monotonicms(), m0);
    EXPECT_EQ(ti_htime(), h0);
    sy_advance(5000);
    t.join();
    EXPECT_EQ(sy_time(), 1065);
    // A new virtual clock starts without standby.
    sy_setclock(SY_CLOCK_AUTO, 1000);
    EXPECT_EQ(sy_standbyms(), 0);

    sy_setclock(SY_CLOCK_REAL);
    long long a = sy_standbyms();
    EXPECT_GE(a, 0);
    sy_sleepms(50);
    EXPECT_GE(sy_standbyms() + 1, a);
}
