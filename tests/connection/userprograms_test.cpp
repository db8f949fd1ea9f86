// User programs: the prefixes of a command field, and real shell programs started and
// stopped in their slots.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "connection/userprograms.h"
#include "core/programstate.h"
#include "modem/atexchange.h"
#include "modem/modemsimulator.h"
#include "testsupport.h"

namespace {

// Processes whose /proc stat state, parent and group match.
int prozesse(const std::function<bool(char, long, long)>& passt) {
    int n = 0;
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        std::string st = ts_readfile(std::string("/proc/") + e->d_name + "/stat");
        size_t k = st.rfind(')');
        char z;
        long ppid, pgrp;
        if (k != std::string::npos &&
            sscanf(st.c_str() + k + 1, " %c %ld %ld", &z, &ppid, &pgrp) == 3 &&
            passt(z, ppid, pgrp))
            n++;
    }
    if (d) closedir(d);
    return n;
}
int lebendeingruppe(long g) {
    return prozesse([g](char z, long, long pg) { return pg == g && z != 'Z'; });
}
int eigenezombies() {
    return prozesse([](char z, long pp, long) { return pp == getpid() && z == 'Z'; });
}
long long ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TEST(UserPrograms, PrefixesChooseTheMomentsInTheirOrder) {
    struct fall {
        const char* cm;
        bool hidden, start, end, every;
        const char* befehl;
    } const faelle[] = {
        {"run.sh", false, false, false, false, "run.sh"},
        {";run.sh", true, false, false, false, "run.sh"},
        {"!run.sh", false, true, false, false, "run.sh"},
        {"|run.sh", false, false, true, false, "run.sh"},
        {",run.sh", false, false, false, true, "run.sh"},
        {",!run.sh", false, true, false, true, "run.sh"},  // every connection and start
        {"!,run.sh", false, true, false, false, "run.sh"}, // start only
        {";!run.sh", true, true, false, false, "run.sh"},
        {"!;run.sh", false, true, false, false, "run.sh"},
        {"!|run.sh", false, true, false, false, "run.sh"}, // '!' and '|' do not combine
        {"|,;run.sh", true, false, true, true, "run.sh"},
        {";,!run.sh", true, true, false, true, "run.sh"},
        {",,,!run.sh", false, false, false, true, "run.sh"}, // a fourth prefix is too late
        {";!|,", true, true, false, false, ""},
        {"", false, false, false, false, ""},
        {nullptr, false, false, false, false, ""},
    };
    for (const auto& f : faelle) {
        const char* n = f.cm ? f.cm : "(null)";
        EXPECT_EQ(sp_ishidden(f.cm), f.hidden) << n;
        EXPECT_EQ(sp_atstart(f.cm), f.start) << n;
        EXPECT_EQ(sp_atend(f.cm), f.end) << n;
        EXPECT_EQ(sp_ateveryconnect(f.cm), f.every) << n;
        EXPECT_STREQ(sp_cstart(f.cm), f.befehl) << n;
    }
}

// A program that ignores SIGTERM, has a child in its group and writes 1 MB nobody reads:
// it got no descriptor of ours, its output did not stall it, and stopping takes the whole
// group down within the grace and leaves no zombie.
TEST(UserPrograms, StopEndsTheWholeGroupOfADeafProgramWithinTheGrace) {
    std::string d = ts_workdir();
    int geheim = open("geheim.txt", O_CREAT | O_WRONLY, 0600); // no O_CLOEXEC
    ASSERT_GE(geheim, 3);
    ts_writefile("deaf.sh", "trap '' TERM\nsleep 60 &\nls -l /proc/$$/fd > fds\n"
                            "head -c 1000000 /dev/zero\ncut -d' ' -f5 /proc/$$/stat > wrote\n"
                            "while :; do sleep 1; done\n");
    sp_start(1, (",sh " + d + "/deaf.sh").c_str());
    ASSERT_TRUE(ts_waitfor("wrote", "\n", 5000)) << "the output stalled the program";
    long g = std::stol(ts_readfile("wrote"));
    std::string fds = ts_readfile("fds");
    EXPECT_EQ(fds.find("geheim"), std::string::npos) << fds;
    EXPECT_NE(fds.find("0 -> /dev/null"), std::string::npos) << fds;
    EXPECT_GE(lebendeingruppe(g), 2);

    long long t0 = ms();
    EXPECT_TRUE(sp_stop(1));
    long long dauer = ms() - t0;
    EXPECT_GE(dauer, 2900);
    EXPECT_LT(dauer, 3800);
    EXPECT_EQ(lebendeingruppe(g), 0);
    EXPECT_EQ(eigenezombies(), 0);
    EXPECT_FALSE(sp_stop(1)) << "the slot is empty again";
    close(geheim);
}

// Call and SMS values reach the program as they are, never as shell text; the configured
// text keeps its shell meaning.
TEST(UserPrograms, ValuesArePassedLiterallyAndPlaceholdersExpandOnce) {
    ts_workdir();
    struct fall {
        const char* vorlage;
        std::vector<const char*> werte; // empty: sp_start without values
        const char* ausgabe;
    } const faelle[] = {
        {"printf %%s %0 > o", {"$(touch pwned);x", nullptr, nullptr, nullptr}, "$(touch pwned);x"},
        {"printf '[%%s]' %1%0 > o", {"a  *", "`id`", nullptr, nullptr}, "[`id`a  *]"},
        {"echo %%1 %1 %3 x%0 > o", {"v", nullptr, nullptr, "%0"}, "%1 %1 %0 xv\n"},
        {";,echo %0 %% $((1+2)) > o", {}, "%0 %% 3\n"},
        // a placeholder the template quotes itself still gets the value whole
        {"printf '%%s|' \"%0\" '%1' \"q\\\"%2\" > o",
         {"a  *", "b 'c", "$x", nullptr},
         "a  *|b 'c|q\"$x|"},
    };
    for (const auto& f : faelle) {
        unlink("o");
        if (f.werte.empty())
            sp_start(0, f.vorlage);
        else
            sp_startmit(0, f.vorlage, f.werte.data());
        EXPECT_TRUE(ts_waitfor("o", f.ausgabe, 3000)) << f.vorlage << ": " << ts_readfile("o");
        EXPECT_EQ(ts_readfile("o"), f.ausgabe) << f.vorlage;
        EXPECT_TRUE(sp_stop(0)) << f.vorlage;
    }
    EXPECT_NE(access("pwned", F_OK), 0);
    EXPECT_EQ(eigenezombies(), 0);
}

// An ".at" file sends its first line and leaves the slot alone; an end program runs
// detached; all held programs stop within one grace.
TEST(UserPrograms, AtFilesEndProgramsAndStoppingAllSlots) {
    ts_workdir();
    inidat.mod['P'] = 1;
    ts_writefile("Dial.AT", "AT+CFUN=1;+CGATT=1\r\nATH\r\n");
    ts_modemsim modem;
    ASSERT_TRUE(modem.start({"--type", "3", "--nopin"}));
    ASSERT_TRUE(cm_open(modem.port.c_str(), false));
    for (int i = 0; i < 2; i++)
        sp_start(i, "trap '' TERM; while :; do sleep 1; done");
    sp_start(0, "!Dial.AT");
    sp_start(0, "missing.at");
    for (const char* nichts : std::initializer_list<const char*>{"", ";,", nullptr})
        sp_start(2, nichts);
    sp_start(3, "sleep 30");
    sp_start(2, "|echo $$ > endpid; exec sleep 30");
    ASSERT_TRUE(ts_waitfor("endpid", "\n", 3000));
    std::string log = ts_readfile("servilog.txt");
    std::string gesendet = modem.transcript();
    EXPECT_NE(gesendet.find("< AT+CFUN=1;+CGATT=1\\r"), std::string::npos) << gesendet;
    EXPECT_EQ(gesendet.find("ATH"), std::string::npos) << gesendet;
    cm_close();

    long long t0 = ms();
    EXPECT_TRUE(sp_stopall());
    EXPECT_LT(ms() - t0, 4500) << "one grace for all slots";
    EXPECT_FALSE(sp_stopall());
    EXPECT_FALSE(sp_stop(2));
    EXPECT_FALSE(sp_stop(3));
    long endpid = std::stol(ts_readfile("endpid"));
    EXPECT_EQ(kill(endpid, 0), 0) << "the end program was stopped";
    kill(endpid, SIGKILL);
}

} // namespace
