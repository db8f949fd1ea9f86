#include "core/flags.h"
#include "core/programstate.h"
#include "core/system.h"
#include "endstate.h"
#include "supervisor/instance.h"
#include "supervisor/programend.h"
#include "testsupport.h"
#include "ui/splash.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

unsigned long zufallsschluessel() {
    std::random_device r;
    return 0x7B000000ul + (r() & 0xFFFFF0ul);
}

TEST(Instance, SmsFlagReportsANewSmsOnce) {
    smssignal = zufallsschluessel();
    EXPECT_FALSE(ia_smssignal(0));
    EXPECT_TRUE(ia_smssignal(1));
    EXPECT_TRUE(ia_smssignal(0));
    EXPECT_FALSE(ia_smssignal(0)); // seen already
    ia_smssignal(2);
    EXPECT_FALSE(ia_smssignal(0));
    EXPECT_FALSE(fl_query(smssignal));
    ia_smssignal(1);
    EXPECT_TRUE(ia_smssignal(0)); // raised again after it was cleared
    ia_smssignal(2);
}

TEST(Instance, SecondConfigurationProgramGivesUp) {
    ASSERT_EQ(chdir(ts_scratchdir().c_str()), 0);
    konfigaktivsignal = zufallsschluessel();
    inidat.funktion = FUNKTION_CONFIG;
    sy_setclock(SY_CLOCK_AUTO, 1700000000);
    EXPECT_TRUE(ia_startcheck());
    EXPECT_TRUE(ia_configinstance_isactive());
    // The flag is held (by this process): a further configuration program does not start.
    EXPECT_FALSE(ia_startcheck());
    EXPECT_EQ(cs_state(), 32);
    fl_clear(konfigaktivsignal);
    EXPECT_TRUE(ia_startcheck());
    fl_clear(konfigaktivsignal);
    sy_setclock(SY_CLOCK_REAL);
}

TEST(Instance, ConnectionProgramTakesAFreeFlagAtOnce) {
    ASSERT_EQ(chdir(ts_scratchdir().c_str()), 0);
    aktivsignal = zufallsschluessel();
    endesignal = aktivsignal + 1;
    inidat.funktion = 0;
    EXPECT_FALSE(ia_instance_isactive());
    EXPECT_TRUE(ia_startcheck());
    EXPECT_TRUE(ia_instance_isactive());
    EXPECT_FALSE(fl_query(endesignal));
    fl_clear(aktivsignal);
}

// The pid a flag holds, read from its two semaphore values; 0 when it does not exist.
long besitzer(unsigned long key) {
    int id = semget((key_t)key, 2, 0444);
    if (id < 0) return 0;
    unsigned short v[2] = {0, 0};
    union {
        int val;
        struct semid_ds* buf;
        unsigned short* array;
    } arg;
    arg.array = v;
    if (semctl(id, 0, GETALL, arg) != 0) return 0;
    return (long)v[0] + (long)v[1] * 32768L;
}

// A running copy played by a child process that holds the flag until it is killed.
pid_t laufendekopie(unsigned long key) {
    int p[2];
    if (pipe(p) != 0) return -1;
    pid_t kind = fork();
    if (kind == 0) {
        close(p[0]);
        fl_set(key);
        if (write(p[1], "x", 1) != 1) _exit(1);
        for (;;)
            pause();
    }
    close(p[1]);
    char c;
    if (read(p[0], &c, 1) != 1) kind = -1;
    close(p[0]);
    return kind;
}

// Waits up to 5 s until every other thread of this process sleeps in nanosleep. The lock
// monitor is started by the first GUI lock and registers itself under the thread registry's
// mutex; a fork at that moment would hand the child a mutex that no thread will release.
void anderethreadsschlafen() {
    long selbst = (long)gettid();
    for (int versuch = 0; versuch < 500; versuch++) {
        bool ruhig = true;
        if (DIR* d = opendir("/proc/self/task")) {
            while (dirent* e = readdir(d)) {
                long tid = atol(e->d_name);
                if (tid <= 0 || tid == selbst) continue;
                std::ifstream f("/proc/self/task/" + std::string(e->d_name) + "/syscall");
                long nr = -1;
                f >> nr;
                if (nr != 35 && nr != 230) ruhig = false; // nanosleep, clock_nanosleep
            }
            closedir(d);
        }
        if (ruhig) return;
        usleep(10000);
    }
}

TEST(Instance, ACopyThatGivesUpLeavesTheRunningCopysFlag) {
    ASSERT_FALSE(ts_workdir().empty());
    es_grundzustand(0x7B000000ul);
    ia_freigeben(); // nothing taken by an earlier case in this process
    inidat.funktion = 0;
    _starttoggle = 0;
    sy_setclock(SY_CLOCK_AUTO, 1700000000);
    pid_t laufend = laufendekopie(aktivsignal);
    ASSERT_GT(laufend, 0);

    // The running copy does not end: after its 100 passes this copy gives up, and the flag
    // still names the running copy, so the next start asks it to end again.
    EXPECT_FALSE(ia_startcheck());
    EXPECT_EQ(besitzer(aktivsignal), laufend);
    EXPECT_FALSE(fl_query(endesignal)) << "the request to end is withdrawn";
    // The copy that gave up ends; its end leaves the flag alone.
    anderethreadsschlafen();
    EXPECT_EXIT(programmende(true), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(besitzer(aktivsignal), laufend);
    EXPECT_TRUE(ia_instance_isactive());

    kill(laufend, SIGKILL);
    waitpid(laufend, nullptr, 0);
    EXPECT_FALSE(ia_instance_isactive()) << "the dead owner's flag counts as free";
    EXPECT_TRUE(ia_startcheck());
    EXPECT_EQ(besitzer(aktivsignal), getpid());
    ia_freigeben();
    EXPECT_EQ(besitzer(aktivsignal), 0);
    sy_setclock(SY_CLOCK_REAL);
}

} // namespace
