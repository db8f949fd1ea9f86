// The end sequence under concurrent requests: two threads that end the program at once run
// it once; an end asked for by another thread while a rest runs neither parks that thread
// nor gets lost, and the counters are written by the rest and the end without counting a
// kilobyte twice.
#include "config/inifile.h"
#include "core/flags.h"
#include "core/programstate.h"
#include "core/system.h"
#include "supervisor/programend.h"
#include "endstate.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

class EndSequence : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ts_workdir().empty());
        es_grundzustand(0x7B000000ul);
        ts_writefile("tandor.ini", "01 0AA000000000-0000000000001-0000000000000000000000000\n");
        inidat.day = 1;
        inidat.dayt = 1;
        inidat.headerv = 100;
        inidat.headervoffset = 2500;
        inidat.headergueltig = true;
    }
    void TearDown() override { fl_clear(aktivsignal); }
    std::string servilog() { return ts_readfile("servilog.txt"); }
    std::string volumen() { return ts_readfile("tandor.ini").substr(6, 9); }
};

TEST_F(EndSequence, TwoThreadsEndingAtOnceRunItOnce) {
    auto zweienden = [] {
        std::atomic<int> bereit{0};
        auto ende = [&] {
            bereit++;
            while (bereit < 2) {
            }
            programmende(true);
        };
        std::thread a(ende), b(ende);
        a.join();
        b.join();
    };
    EXPECT_EXIT(zweienden(), ::testing::ExitedWithCode(0), "");
    std::string log = servilog();
    EXPECT_EQ(ts_count(log, "tandor terminated."), 1) << log;
    EXPECT_EQ(volumen(), "000000102");
}

TEST_F(EndSequence, AnEndAskedForWhileARestRunsIsKeptAndDoesNotParkItsThread) {
    // The real clock: the rest must really wait while the other thread asks.
    sy_setclock(SY_CLOCK_REAL);
    ruhestatus = 1;
    programmende_gewuenscht = true;
    std::atomic<bool> zurueck{false};
    std::thread rest([&] {
        EXPECT_TRUE(programmende(false));
        zurueck = true;
    });
    // Early in the rest (it first waits 100 ms, then 1 s at its end), from a thread such
    // as the window's.
    usleep(30000);
    std::atomic<bool> geantwortet{false};
    std::thread menue([&] {
        EXPECT_FALSE(programmende(true));
        geantwortet = true;
    });
    for (int i = 0; i < 300 && !geantwortet; i++)
        usleep(10000);
    EXPECT_TRUE(geantwortet) << "the asking thread was parked";
    rest.join();
    if (geantwortet)
        menue.join();
    else
        menue.detach();
    EXPECT_TRUE(zurueck);
    EXPECT_EQ(ruhestatus, 3);
    EXPECT_TRUE(programmende_endgueltig) << "the end request was lost";
    EXPECT_EQ(volumen(), "000000102") << "the rest wrote the counters";
    EXPECT_EQ(ts_count(servilog(), "tandor paused. Standby."), 1);

    // The restart's first check point ends the program; the counters are not folded twice.
    ruhestatus = 0;
    EXPECT_EXIT(programmende(false), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(ts_count(servilog(), "tandor terminated."), 1);
    EXPECT_EQ(volumen(), "000000102");
}

} // namespace
