// The ini file as a whole: reading with the header, arguments as lines, the rewrite that
// never leaves a broken file, the lock between processes, and files that cannot be read.
#include "config/header.h"
#include "config/inifile.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct IniFile : ::testing::Test {
    std::string dir = ts_scratchdir();
    std::vector<std::string> args;
    std::vector<char*> argv;
    void SetUp() override {
        ASSERT_EQ(chdir(dir.c_str()), 0);
        setenv("TZ", "UTC", 1);
        tzset();
        sy_setclock(SY_CLOCK_AUTO, 1350633909);
        ps_hooks = {};
        inidat.funktion = 0;
        strcpy(inidatei, "tandor.ini");
        strcpy(connlogdatei, "connlog.txt");
        start({"CONN"});
    }
    void start(std::vector<std::string> a) {
        args = a;
        argv.clear();
        for (auto& s : args)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        _argc = (int)args.size();
        _argv = argv.data();
        inidat.funktion = 0;
    }
    std::string ini() { return ts_readfile(dir + "/tandor.ini"); }
};

const char* kopf = "01 9AA000001234-0010002019109-0000077000000000000000000\n";

TEST_F(IniFile, HandWrittenFileIsReadAndNormalised) {
    ts_writefile("tandor.ini", std::string(kopf) + "apn = internet.example\r\n"
                                                   "MOD=PM\n"
                                                   "DAY=01;01\n"
                                                   "pin=1234\n");
    EXPECT_EQ(iv_iniparse(), 0);
    EXPECT_EQ(inidat.funktion, 9);
    EXPECT_STREQ(inidat.apn, "internet.example");
    EXPECT_STREQ(inidat.pin, "1234");
    EXPECT_EQ(inidat.headerv, 1234);
    EXPECT_EQ(inidat.headert, 77);
    EXPECT_TRUE(MODUS('P'));
    std::string neu = ini();
    EXPECT_EQ(neu.compare(0, 6, "01 9AA"), 0) << neu.substr(0, 60);
    EXPECT_NE(neu.find("\n13 APN=internet.example\n"), std::string::npos);
    EXPECT_EQ(neu.find("1234\n"), std::string::npos) << "PIN written in clear";
    // Read again: same record, no further rewrite.
    struct stat a, b;
    stat("tandor.ini", &a);
    start({"CONN"});
    EXPECT_EQ(iv_iniparse(), 0);
    stat("tandor.ini", &b);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_STREQ(inidat.pin, "1234");
    EXPECT_EQ(ini(), neu);
}

TEST_F(IniFile, LongestSecretsSurviveARewrite) {
    ts_writefile("tandor.ini", std::string(kopf));
    ASSERT_EQ(iv_iniparse(), 0);
    std::string name(299, 'n'), pass(299, 'p');
    strMcpy(inidat.conname, name.c_str());
    strMcpy(inidat.conpass, pass.c_str());
    ASSERT_TRUE(iv_iniwrite());
    EXPECT_EQ(ini().find(pass), std::string::npos);
    start({"CONN"});
    ASSERT_EQ(iv_iniparse(), 0);
    EXPECT_EQ(std::string(inidat.conname), name);
    EXPECT_EQ(std::string(inidat.conpass), pass);
    // A line longer than any written one is dropped, not cut into another value.
    ts_writefile("tandor.ini",
                 std::string(kopf) + "APN=" + std::string(2000, 'a') + "\nAPN=kurz\n");
    start({"CONN"});
    ASSERT_EQ(iv_iniparse(), 0);
    EXPECT_STREQ(inidat.apn, "kurz");
}

// Found by fuzzing: a NUL byte inside a line made it look too long, and the line after it
// was skipped as its "rest" (here the PIN). Such a line is read up to the NUL now. The rest
// of an overlong line 01 is no key line either.
TEST_F(IniFile, NulByteInALineDoesNotSwallowTheNextLine) {
    std::string nul = std::string("REM=vorher") + '\0' + "nachher\n";
    ts_writefile("tandor.ini", std::string(kopf) + nul + "PIN=1234\nAPN=web\n");
    ASSERT_EQ(iv_iniparse(), 0);
    EXPECT_STREQ(inidat.rem, "vorher");
    EXPECT_STREQ(inidat.pin, "1234");
    EXPECT_STREQ(inidat.apn, "web");

    // Line 01 of 1299 characters fills the reader's buffer; what follows on that line
    // used to be read as a key line of its own.
    std::string langerkopf = std::string(kopf).substr(0, 53) + std::string(1299 - 53, '0');
    ts_writefile("tandor.ini", langerkopf + "APN=teil\nDAY=01\n");
    start({"CONN"});
    ASSERT_EQ(iv_iniparse(), 0);
    EXPECT_EQ(inidat.headerv, 1234);
    EXPECT_STREQ(inidat.apn, "");
}

TEST_F(IniFile, ArgumentsAreReadAsLinesAndIniWriteExitReturnsTwo) {
    ts_writefile("tandor.ini", std::string(kopf) + "APN=a\n");
    start({"tandor", "CONN", "NOSPLASH", "APN=b", "INIWRITEEXIT"});
    EXPECT_EQ(iv_iniparse(), 2);
    EXPECT_STREQ(inidat.apn, "b");
    EXPECT_NE(ini().find("\n13 APN=b\n"), std::string::npos);
}

TEST_F(IniFile, KeywordsAndIniLinesAreNoProgramName) {
    ts_writefile("tandor.ini", std::string(kopf));
    start({"/usr/bin/tandor", "NOSPLASH", "APN=x"});
    EXPECT_EQ(iv_iniparse(), 0);
    EXPECT_STREQ(inidat.programm, "tandor");
    EXPECT_EQ(inidat.funktion, 9);
    EXPECT_STREQ(inidat.apn, "x");
    start({"/x/tandor", "umtsgprs"});
    EXPECT_EQ(iv_iniparse(), 0);
    EXPECT_EQ(inidat.funktion, 4);
    start({"/x/Unknown"});
    EXPECT_EQ(iv_iniparse(), 1); // a name without a function is incomplete
}

TEST_F(IniFile, NewFileIsCreatedWithDefaults) {
    start({"GPRS"});
    EXPECT_EQ(iv_iniparse(), 0);
    EXPECT_EQ(inidat.funktion, 1);
    std::string neu = ini();
    ASSERT_GE(neu.size(), 54u);
    EXPECT_EQ(neu.compare(0, 6, "01 1AA"), 0);
    EXPECT_TRUE(hd_valid(neu.c_str()));
    EXPECT_TRUE(MODUS('O'));
    struct stat st;
    ASSERT_EQ(stat("tandor.ini", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniFile, UnreadableFileIsNeverOverwritten) {
    // A directory in place of the file cannot be read: the program ends, nothing is written.
    ASSERT_EQ(mkdir("tandor.ini", 0700), 0);
    EXPECT_EQ(iv_iniparse(), -1);
    struct stat st;
    ASSERT_EQ(stat("tandor.ini", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    rmdir("tandor.ini");

    // A file without permission, read by an ordinary user.
    ts_writefile("tandor.ini", std::string(kopf) + "APN=geheim\n");
    chmod("tandor.ini", 0);
    chmod(dir.c_str(), 0777);
    pid_t c = fork();
    if (c == 0) {
        if (getuid() == 0 && setuid(65534) != 0) _exit(3);
        _exit(iv_iniparse() == -1 ? 0 : 1);
    }
    int status = ts_waitpid(c, 10000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    chmod("tandor.ini", 0600);
    EXPECT_EQ(ini(), std::string(kopf) + "APN=geheim\n");
}

// Files not in the program's own form: written by hand without a header line, saved with
// a byte-order mark, or with a damaged line 01. Their settings are read, the file gets a
// complete header in one rewrite, and the original is kept beside it.
TEST_F(IniFile, ForeignFormsAreReadAsSettingsAndTheOriginalKept) {
    const std::string bom = "\xEF\xBB\xBF";
    struct {
        std::string inhalt;
        const char* apn;
        long v;
    } faelle[] = {
        {bom + kopf + "APN=bom\nDAY=01\n", "bom", 1234},
        {"APN=hand\r\npin=1234\nDAY=01\n", "hand", 0},
        {bom + "apn=bomhand\nDAY=01\n", "bomhand", 0},
        {" APN=blank\n", "blank", 0},
        {"01 APN=nummer\n02 DAY=01\n", "nummer", 0}, // numbered lines, no header
        {"# my settings\nAPN=kommentar\n", "kommentar", 0},
        {"01 9AA0000x1234-0010002019109-0000077000000000000000000\nAPN=kaputt\nDAY=01\n", "kaputt",
         0},
        {"01\nAPN=kurz\n", "kurz", 0},
    };
    for (auto& f : faelle) {
        unlink("tandor.ini.orig");
        ts_writefile("tandor.ini", f.inhalt);
        start({"CONN"});
        EXPECT_EQ(iv_iniparse(), 0) << f.inhalt;
        EXPECT_EQ(inidat.funktion, 9) << f.inhalt;
        EXPECT_STREQ(inidat.apn, f.apn);
        EXPECT_EQ(inidat.headerv, f.v) << f.inhalt;
        std::string neu = ini();
        EXPECT_TRUE(hd_valid(neu.c_str())) << neu.substr(0, 60);
        EXPECT_NE(neu.find(std::string("\n13 APN=") + f.apn + "\n"), std::string::npos);
        EXPECT_EQ(neu.find("=1234"), std::string::npos) << "PIN in clear";
        EXPECT_EQ(ts_readfile(dir + "/tandor.ini.orig"), f.inhalt);
        // The next start reads the rewritten file as it is.
        struct stat a, b;
        stat("tandor.ini", &a);
        start({"CONN"});
        EXPECT_EQ(iv_iniparse(), 0);
        stat("tandor.ini", &b);
        EXPECT_EQ(a.st_ino, b.st_ino) << "rewritten again: " << f.inhalt;
        EXPECT_STREQ(inidat.apn, f.apn);
        EXPECT_EQ(ts_readfile(dir + "/tandor.ini.orig"), f.inhalt);
    }
    // An earlier original is not replaced.
    ts_writefile("tandor.ini", "APN=zweite\n");
    start({"CONN"});
    EXPECT_EQ(iv_iniparse(), 0);
    EXPECT_STREQ(inidat.apn, "zweite");
    EXPECT_EQ(ts_readfile(dir + "/tandor.ini.orig"), faelle[7].inhalt);
    // An empty file, or one with only the mark, is a new installation: nothing to keep.
    for (const std::string& leer : {std::string(), bom}) {
        unlink("tandor.ini.orig");
        ts_writefile("tandor.ini", leer);
        start({"CONN"});
        EXPECT_EQ(iv_iniparse(), 0);
        EXPECT_TRUE(MODUS('O')) << "not taken as new";
        EXPECT_TRUE(hd_valid(ini().c_str()));
        EXPECT_NE(access("tandor.ini.orig", F_OK), 0);
    }
}

// PIN= and PASS= reach the service log masked, whether given as arguments or written in
// clear into the file; other keys and empty values are logged as they are.
TEST_F(IniFile, SecretsAreMaskedInTheServiceLog) {
    ts_writefile("tandor.ini",
                 std::string(kopf) + "MOD=P\n18 PASS=datei;dateigeheim\n11 PIN=5566\n");
    start({"CONN", "PIN=4711", "pass=nutzer;argumentgeheim", "PIN = 9876", "PING=10.0.0.1", "PASS",
           "APN=web"});
    EXPECT_EQ(iv_iniparse(), 0);
    EXPECT_STREQ(inidat.pin, "9876");
    EXPECT_STREQ(inidat.conpass, "argumentgeheim");
    std::string log = ts_readfile(dir + "/servilog.txt");
    for (const char* geheim : {"4711", "9876", "5566", "argumentgeheim", "dateigeheim"})
        EXPECT_EQ(log.find(geheim), std::string::npos) << geheim << " in\n" << log;
    for (const char* zeile : {"* Program parameter: PIN=xxxx\n", "* Program parameter: pass=xxxx\n",
                              "* Program parameter: PIN =xxxx\n", "--- 18 PASS=xxxx\n",
                              "--- 11 PIN=xxxx\n", "* Program parameter: PING=10.0.0.1\n",
                              "* Program parameter: PASS\n", "* Program parameter: APN=web\n"})
        EXPECT_NE(log.find(zeile), std::string::npos) << zeile << " not in\n" << log;
}

// profile.ini names the file before any test of it: no tandor.ini is made beside it, and
// the counters go into the named file. After a DIR= change the target's own profile counts.
TEST_F(IniFile, ProfileNamesTheFileBeforeItIsLookedFor) {
    ts_writefile("profile.ini", "INI=work.ini");
    ts_writefile("work.ini", std::string(kopf) + "APN=arbeit\nDAY=01;01\n");
    EXPECT_EQ(iv_iniparse(), 0);
    EXPECT_STREQ(inidatei, "work.ini");
    EXPECT_STREQ(connlogdatei, "connlog_work.txt");
    EXPECT_STREQ(inidat.apn, "arbeit");
    EXPECT_EQ(inidat.headerv, 1234);
    EXPECT_NE(access("tandor.ini", F_OK), 0) << "a stray default file";
    inidat.headerv = 1500;
    inidat.headert = 80;
    iv_iniheaderwrite(false);
    std::string w = ts_readfile(dir + "/work.ini");
    EXPECT_EQ(w.substr(6, 9), "000001500") << w.substr(0, 60);
    EXPECT_EQ(w.substr(31, 6), "000080");
    EXPECT_NE(w.find("\n13 APN=arbeit\n"), std::string::npos);

    // DIR= in work.ini leads to a directory whose profile.ini names its own file.
    ASSERT_EQ(mkdir("ziel", 0700), 0);
    ts_writefile("ziel/profile.ini", "INI=privat.ini");
    ts_writefile("ziel/privat.ini", std::string(kopf) + "APN=privat\n");
    ts_writefile("work.ini", std::string(kopf) + "02 DIR=" + dir + "/ziel\nAPN=arbeit\n");
    start({"CONN"});
    EXPECT_EQ(iv_iniparse(), 0);
    EXPECT_STREQ(inidatei, "privat.ini");
    EXPECT_STREQ(inidat.apn, "privat");
    EXPECT_NE(access((dir + "/ziel/work.ini").c_str(), F_OK), 0);
    EXPECT_NE(access((dir + "/ziel/tandor.ini").c_str(), F_OK), 0);

    // A target without a profile and without the file gets a copy of the current one.
    ts_writefile(dir + "/ziel/privat.ini",
                 std::string(kopf) + "02 DIR=" + dir + "/neu\nAPN=kopie\n");
    start({"CONN"});
    EXPECT_EQ(iv_iniparse(), 0);
    EXPECT_STREQ(inidatei, "privat.ini");
    EXPECT_STREQ(inidat.apn, "kopie");
    EXPECT_NE(ts_readfile(dir + "/neu/privat.ini").find("\n13 APN=kopie\n"), std::string::npos);
    EXPECT_NE(access((dir + "/neu/tandor.ini").c_str(), F_OK), 0);
}

TEST_F(IniFile, FailedRewriteLeavesTheOldFileWhole) {
    ts_writefile("tandor.ini", std::string(kopf) + "APN=alt\nINIWRITE\n");
    std::string alt = ini();
    pid_t c = fork();
    if (c == 0) {
        // The disk is "full" after 200 bytes.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit r = {200, 200};
        setrlimit(RLIMIT_FSIZE, &r);
        inidat.funktion = 0;
        iv_iniparse();
        _exit(0);
    }
    ts_waitpid(c, 10000);
    EXPECT_EQ(ini(), alt);
    // No temporary file is left behind.
    EXPECT_EQ(system(("ls " + dir + " | grep -q tmp").c_str()) == 0, false);
}

TEST_F(IniFile, WaitingHeaderWriteLandsInTheRewrittenFile) {
    start({"CONN"});
    ts_writefile("tandor.ini", std::string(kopf) + "DAY=01\n");
    ASSERT_EQ(iv_iniparse(), 0);
    ASSERT_TRUE(iv_iniopen("rt"));
    std::string go = dir + "/go";
    int pid = ts_spawn({ts_helper("helper_inifile"), "header", dir, "424242", go});
    ts_writefile(go, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // The helper waits for the lock while this process renames a new file into place.
    strMcpy(inidat.rem, "neu geschrieben");
    ASSERT_TRUE(iv_iniwrite());
    iv_iniclose();
    int status = ts_waitpid(pid, 30000);
    ASSERT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string neu = ini();
    EXPECT_EQ(neu.substr(6, 9), "000424242") << neu.substr(0, 60);
    EXPECT_NE(neu.find("\n43 REM=neu geschrieben\n"), std::string::npos);
}

TEST_F(IniFile, KilledWritersNeverBreakTheFileNorSetCountersBack) {
    ts_writefile("tandor.ini", std::string(kopf) + "DAY=01;01\n");
    ASSERT_EQ(iv_iniparse(), 0);
    ASSERT_TRUE(iv_iniwrite());
    int leser = ts_spawn({ts_helper("helper_inifile"), "reader", dir, "8"}, dir + "/reader.txt");
    std::mt19937 zufall(4711);
    auto ende = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    int kills = 0;
    while (std::chrono::steady_clock::now() < ende) {
        int schreiber = ts_spawn({ts_helper("helper_inifile"), "writer", dir}, "/dev/null");
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + zufall() % 180));
        kill(schreiber, SIGKILL);
        ts_waitpid(schreiber, 5000);
        kills++;
    }
    int status = ts_waitpid(leser, 20000);
    std::string bericht = ts_readfile(dir + "/reader.txt");
    ASSERT_TRUE(status != -1 && WIFEXITED(status)) << bericht;
    EXPECT_EQ(WEXITSTATUS(status), 0) << bericht;
    EXPECT_GT(kills, 10);
    // The counters moved on.
    EXPECT_GT(atol(ini().substr(6, 9).c_str()), 1234);
    start({"CONN"});
    EXPECT_EQ(iv_iniparse(), 0);
}

} // namespace
