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

TEST(LimitDecision, AnnouncesOncePerCrossingMarksEachLineAndFindsTheHardLimit) {
    struct {
        const char* name;
        long v, t, max[3], maxt[3];
        int vorher, nachher; // maxgrenze before and after the pass
        bool warnung, vorwarnung, ueberschritten;
        char markev, markez;
    } const faelle[] = {
        // clang-format off
        {"warning reached, not the pre-warning", 950000, 0, {500000, 900000, 1000000}, {}, 0, 2, true, false, false, '*', ' '},
        {"the same a pass later: nothing new", 950000, 0, {500000, 900000, 1000000}, {}, 2, 2, false, false, false, '*', ' '},
        {"hard limit reached exactly", 1000000, 0, {500000, 900000, 1000000}, {}, 2, 2, false, false, true, '*', ' '},
        {"pre-warning reached", 500000, 0, {500000, 900000, 1000000}, {}, 0, 1, false, true, false, '+', ' '},
        {"just below everything", 499999, 0, {500000, 900000, 1000000}, {}, 0, 0, false, false, false, ' ', ' '},
        {"fallen below (new period): re-armed", 10, 0, {500000, 900000, 1000000}, {}, 2, 0, false, false, false, ' ', ' '},
        {"fallen to the pre-warning: announced", 600000, 0, {500000, 900000, 1000000}, {}, 2, 1, false, true, false, '+', ' '},
        {"only maxt[2]=600, a minute before", 0, 599, {}, {0, 0, 600}, 0, 0, false, false, false, ' ', ' '},
        {"only maxt[2]=600, reached", 0, 600, {}, {0, 0, 600}, 0, 0, false, false, true, ' ', ' '},
        {"each line its own mark", 150, 25, {100, 200, 0}, {10, 20, 0}, 1, 2, true, false, false, '+', '*'},
        {"time pre-warning alone", 0, 60, {}, {60, 120, 0}, 0, 1, false, true, false, ' ', '+'},
        {"unset limits never fire", 999999999, 999999, {}, {}, 0, 0, false, false, false, ' ', ' '},
        {"negative limits count as unset", 5, 5, {-1, -1, -1}, {-1, -1, -1}, 0, 0, false, false, false, ' ', ' '},
        // clang-format on
    };
    for (const auto& f : faelle) {
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

// Passes of the warning thread's choice in the order of a run; the marks carry over from
// pass to pass within a scenario. Each pass: foreign network, homezone state, minute of
// the day, and the kind of question expected.
TEST(WarningQuestion, ForeignNetAndHomezoneOncePerRunEndTimeOncePerWindow) {
    struct Pass {
        bool fremd;
        int homezone, minute, art;
    };
    struct {
        const char* name;
        int e1, e2;
        std::vector<Pass> passes;
    } const szenarien[] = {
        // clang-format off
        {"foreign network once per run, also when entered again", -1, -1, {{true, 0, 600, 1}, {true, 0, 601, 0}, {false, 0, 602, 0}, {true, 0, 603, 0}}},
        {"homezone: only outside, once per run", -1, -1, {{false, 1, 600, 0}, {false, 2, 601, 2}, {false, 2, 602, 0}, {false, 1, 603, 0}, {false, 2, 604, 0}}},
        {"both at once: one per pass, the foreign network first", -1, -1, {{true, 2, 600, 1}, {true, 2, 601, 2}, {true, 2, 602, 0}}},
        {"23:00-01:00: at 23:00, not at 23:30 nor after midnight, again the next day", 1380, 60,
         {{false, 0, 1379, 0}, {false, 0, 1380, 3}, {false, 0, 1410, 0}, {false, 0, 0, 0}, {false, 0, 60, 0}, {false, 0, 61, 0}, {false, 0, 1380, 3}}},
        {"started inside the window after midnight: asked at once", 1380, 60, {{false, 0, 30, 3}, {false, 0, 31, 0}}},
        {"08:00-17:00 within the day", 480, 1020, {{false, 0, 479, 0}, {false, 0, 480, 3}, {false, 0, 1020, 0}, {false, 0, 1021, 0}, {false, 0, 480, 3}}},
        {"a foreign network first, the end time on the next pass", 1380, 60, {{true, 0, 1380, 1}, {true, 0, 1380, 3}, {true, 0, 1381, 0}}},
        {"window unset at its start: never", -1, 60, {{false, 0, 0, 0}, {false, 0, 60, 0}}},
        {"window unset at its end: never", 1380, -1, {{false, 0, 1380, 0}}},
        // clang-format on
    };
    for (const auto& s : szenarien) {
        SCOPED_TRACE(s.name);
        wa_marken_t m;
        for (size_t i = 0; i < s.passes.size(); i++) {
            const Pass& p = s.passes[i];
            EXPECT_EQ(wa_frageart(p.fremd, p.homezone, s.e1, s.e2, p.minute, m), p.art)
                << "pass " << i;
        }
    }
}

TEST(LimitStep, AWarningIsAnnouncedOnceInBothLogsAndAgainAfterFallingBelow) {
    ASSERT_FALSE(ts_workdir().empty());
    ps_resetinidat();
    inidatgueltig = true;
    inidat.round = 1; // the connection log is written only with accounting on
    inidat.mod['P'] = 1;
    _de = false;
    tonlos = true;
    inidat.max[0] = 500000;
    inidat.max[1] = 900000;
    inidat.max[2] = 1000000;
    inidat.headerv = 949999;
    inidat.headervoffset = 1500; // one more kB pending
    inidat.headert = 605;
    EXPECT_EQ(wa_grenzen().markev, '*');
    EXPECT_EQ(maxgrenze.load(), 2);
    EXPECT_STREQ(maxgrenzes, "  0 950 000 kB\n0010:05");
    EXPECT_STREQ(cc_mtext[1], "*Volume/time warning.");
    EXPECT_STREQ(cc_mtext[cc_mtextMINI], "*Vol/time_warning.");
    wa_grenzen();
    EXPECT_EQ(ts_count(ts_readfile("servilog.txt"), "Volume/time warning."), 1);
    EXPECT_EQ(ts_count(ts_readfile("connlog.txt"), "Volume/time warning."), 1);
    EXPECT_EQ(ts_count(ts_readfile("servilog.txt"), "pre-warning"), 0);
    // A new period: the counters start again, the warning comes back when crossed again.
    inidat.headerv = inidat.headervoffset = 0;
    wa_grenzen();
    EXPECT_EQ(maxgrenze.load(), 0);
    inidat.headerv = 910000;
    wa_grenzen();
    EXPECT_EQ(ts_count(ts_readfile("connlog.txt"), "Volume/time warning."), 2);
}

} // namespace
