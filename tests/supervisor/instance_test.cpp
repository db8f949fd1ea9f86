#include "core/flags.h"
#include "core/programstate.h"
#include "core/system.h"
#include "supervisor/instance.h"
#include "testsupport.h"
#include "ui/splash.h"

#include <gtest/gtest.h>

#include <random>
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

} // namespace
