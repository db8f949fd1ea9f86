// The limit decision and the warning thread's choice of question as tables, and the limit
// step's announcements: once per crossing, in both logs, with the limit icon's text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/programstate.h"
#include "supervisor/warnings.h"
#include "testsupport.h"
#include "ui/mainwindow.h"

namespace {

struct GrenzFall {
    const char* name;
    long v, t;
    long max[3], maxt[3];
    int vorher; // maxgrenze of the pass before
    int nachher;
    bool warnung, vorwarnung, ueberschritten;
    char markev, markez;
};

TEST(LimitDecision, AnnouncesOncePerCrossingMarksEachLineAndFindsTheHardLimit) {
    const GrenzFall faelle[] = {
        {"volume at the warning: announced, not the pre-warning",
         950000,
         0,
         {500000, 900000, 1000000},
         {0, 0, 0},
         0,
         2,
         true,
         false,
         false,
         '*',
         ' '},
        {"the same volume a pass later: nothing new",
         950000,
         0,
         {500000, 900000, 1000000},
         {0, 0, 0},
         2,
         2,
         false,
         false,
         false,
         '*',
         ' '},
        {"the hard limit reached exactly",
         1000000,
         0,
         {500000, 900000, 1000000},
         {0, 0, 0},
         2,
         2,
         false,
         false,
         true,
         '*',
         ' '},
        {"pre-warning reached",
         500000,
         0,
         {500000, 900000, 1000000},
         {0, 0, 0},
         0,
         1,
         false,
         true,
         false,
         '+',
         ' '},
        {"just below everything",
         499999,
         0,
         {500000, 900000, 1000000},
         {0, 0, 0},
         0,
         0,
         false,
         false,
         false,
         ' ',
         ' '},
        {"fallen below the warning (new period): re-armed",
         10,
         0,
         {500000, 900000, 1000000},
         {0, 0, 0},
         2,
         0,
         false,
         false,
         false,
         ' ',
         ' '},
        {"fallen from the warning to the pre-warning: the pre-warning is new",
         600000,
         0,
         {500000, 900000, 1000000},
         {0, 0, 0},
         2,
         1,
         false,
         true,
         false,
         '+',
         ' '},
        {"only the time's hard limit, one minute before it",
         0,
         599,
         {0, 0, 0},
         {0, 0, 600},
         0,
         0,
         false,
         false,
         false,
         ' ',
         ' '},
        {"only the time's hard limit, reached",
         0,
         600,
         {0, 0, 0},
         {0, 0, 600},
         0,
         0,
         false,
         false,
         true,
         ' ',
         ' '},
        {"time at its warning, volume at its pre-warning: each line its own mark",
         150,
         25,
         {100, 200, 0},
         {10, 20, 0},
         1,
         2,
         true,
         false,
         false,
         '+',
         '*'},
        {"time pre-warning alone",
         0,
         60,
         {0, 0, 0},
         {60, 120, 0},
         0,
         1,
         false,
         true,
         false,
         ' ',
         '+'},
        {"unset limits never fire",
         999999999,
         999999,
         {0, 0, 0},
         {0, 0, 0},
         0,
         0,
         false,
         false,
         false,
         ' ',
         ' '},
        {"negative limits count as unset",
         5,
         5,
         {-1, -1, -1},
         {-1, -1, -1},
         0,
         0,
         false,
         false,
         false,
         ' ',
         ' '},
    };
    for (const GrenzFall& f : faelle) {
        SCOPED_TRACE(f.name);
        wa_grenzen_t g = wa_grenzentscheidung(f.v, f.t, f.max, f.maxt, f.vorher);
        EXPECT_EQ(g.maxgrenze, f.nachher);
        EXPECT_EQ(g.warnung, f.warnung);
        EXPECT_EQ(g.vorwarnung, f.vorwarnung);
        EXPECT_EQ(g.ueberschritten, f.ueberschritten);
        EXPECT_EQ(g.markev, f.markev);
        EXPECT_EQ(g.markez, f.markez);
    }
}

// One pass of the warning thread's choice, in the order of a run; the marks carry over
// from row to row within a scenario.
struct FrageSchritt {
    bool fremd;
    int homezone;
    int minute;
    int art;
};
struct FrageSzenario {
    const char* name;
    int e1, e2;
    std::vector<FrageSchritt> schritte;
};

TEST(WarningQuestion, ForeignNetAndHomezoneOncePerRunEndTimeOncePerWindow) {
    const FrageSzenario szenarien[] = {
        {"foreign network: once per run, also after it was left and entered again",
         -1,
         -1,
         {{true, 0, 600, 1}, {true, 0, 601, 0}, {false, 0, 602, 0}, {true, 0, 603, 0}}},
        {"homezone: asked only when outside, once per run",
         -1,
         -1,
         {{false, 1, 600, 0},
          {false, 2, 601, 2},
          {false, 2, 602, 0},
          {false, 1, 603, 0},
          {false, 2, 604, 0}}},
        {"both at once: one question per pass, the foreign network first",
         -1,
         -1,
         {{true, 2, 600, 1}, {true, 2, 601, 2}, {true, 2, 602, 0}}},
        {"window 23:00-01:00 over midnight: at 23:00, not at 23:30 nor after midnight, again "
         "the next day",
         1380,
         60,
         {{false, 0, 1379, 0},
          {false, 0, 1380, 3},
          {false, 0, 1410, 0},
          {false, 0, 0, 0},
          {false, 0, 60, 0},
          {false, 0, 61, 0},
          {false, 0, 720, 0},
          {false, 0, 1380, 3}}},
        {"started inside the window after midnight: asked at once",
         1380,
         60,
         {{false, 0, 30, 3}, {false, 0, 31, 0}}},
        {"window 08:00-17:00 within the day",
         480,
         1020,
         {{false, 0, 479, 0},
          {false, 0, 480, 3},
          {false, 0, 1020, 0},
          {false, 0, 1021, 0},
          {false, 0, 1439, 0},
          {false, 0, 480, 3}}},
        {"a foreign network first, the end time on the next pass",
         1380,
         60,
         {{true, 0, 1380, 1}, {true, 0, 1380, 3}, {true, 0, 1381, 0}}},
        {"window unset at either end: never asked",
         -1,
         60,
         {{false, 0, 0, 0}, {false, 0, 30, 0}, {false, 0, 60, 0}}},
        {"window unset at its end: never asked", 1380, -1, {{false, 0, 1380, 0}}},
    };
    for (const FrageSzenario& s : szenarien) {
        SCOPED_TRACE(s.name);
        wa_marken_t m;
        int i = 0;
        for (const FrageSchritt& f : s.schritte) {
            SCOPED_TRACE("pass " + std::to_string(i++));
            EXPECT_EQ(wa_frageart(f.fremd, f.homezone, s.e1, s.e2, f.minute, m), f.art);
        }
    }
}

struct LimitStep : ::testing::Test {
    void SetUp() override {
        ASSERT_FALSE(ts_workdir().empty());
        ps_resetinidat();
        inidatgueltig = true;
        inidat.round = 1; // the connection log is written only with accounting on
        inidat.mod['P'] = 1;
        _de = false;
        tonlos = true;
        maxgrenze = 0;
        ps_hooks = {};
    }
    void TearDown() override {
        maxgrenze = 0;
        inidatgueltig = false;
    }
};

TEST_F(LimitStep, AWarningIsAnnouncedOnceInBothLogsAndAgainAfterFallingBelow) {
    inidat.max[0] = 500000;
    inidat.max[1] = 900000;
    inidat.max[2] = 1000000;
    inidat.headerv = 949999;
    inidat.headervoffset = 1500; // one more kB pending
    inidat.headert = 605;
    wa_grenzen_t g = wa_grenzen();
    EXPECT_EQ(g.markev, '*');
    EXPECT_EQ(maxgrenze.load(), 2);
    EXPECT_STREQ(maxgrenzes, "  0 950 000 kB\n0010:05");
    EXPECT_STREQ(cc_mtext[1], "*Volume/time warning.");
    EXPECT_STREQ(cc_mtext[cc_mtextMINI], "*Vol/time_warning.");
    wa_grenzen();
    EXPECT_EQ(ts_count(ts_readfile("servilog.txt"), "Volume/time warning."), 1);
    EXPECT_EQ(ts_count(ts_readfile("connlog.txt"), "Volume/time warning."), 1);
    EXPECT_EQ(ts_count(ts_readfile("servilog.txt"), "pre-warning"), 0);

    // A new period: the counters start again, the warning comes back when crossed again.
    inidat.headerv = 0;
    inidat.headervoffset = 0;
    wa_grenzen();
    EXPECT_EQ(maxgrenze.load(), 0);
    inidat.headerv = 910000;
    wa_grenzen();
    EXPECT_EQ(ts_count(ts_readfile("connlog.txt"), "Volume/time warning."), 2);
}

} // namespace
