#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "supervisor/programstart.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct WorkDir : ::testing::Test {
    std::string w = ts_scratchdir();
    std::string home = w + "/home";
    std::string share = w + "/share";
    void SetUp() override {
        mkdir(home.c_str(), 0700);
        mkdir(share.c_str(), 0700);
        sy_setpath(SY_SHAREDIR, share.c_str());
        sy_setpath(SY_USRBIN, (w + "/usrbin").c_str());
        ubuntusysdir = false;
    }
    std::string choose(const std::string& argv0) {
        char dir[300];
        st_workdir(argv0.c_str(), home.c_str(), dir, sizeof dir);
        return dir;
    }
};

TEST_F(WorkDir, ProgramDirectoryIsUsedOutsideTheSystemDirectories) {
    EXPECT_EQ(choose("/opt/umts/tandor"), "/opt/umts");
    EXPECT_FALSE(ubuntusysdir);
    EXPECT_EQ(choose("./tandor"), ".");
}

TEST_F(WorkDir, SearchPathStartLeavesTheInheritedDirectory) {
    EXPECT_EQ(choose("tandor"), "");
}

TEST_F(WorkDir, SystemDirectoryWithoutSharedIniUsesHomeAndCreatesIt) {
    EXPECT_EQ(choose("/usr/bin/tandor"), home + "/tandor");
    EXPECT_TRUE(ubuntusysdir);
    struct stat st;
    ASSERT_EQ(stat((home + "/tandor").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0700, 0700u);
}

TEST_F(WorkDir, SharedIniDecidesBetweenSharedAndHome) {
    ts_writefile(share + "/tandor.ini", "*disabled\n");
    EXPECT_EQ(choose("/usr/local/bin/tandor"), home + "/tandor");
    ts_writefile(share + "/tandor.ini", "0123 header\n");
    EXPECT_EQ(choose("/sbin/tandor"), share + "/tandor");
    EXPECT_EQ(access((share + "/tandor").c_str(), W_OK), 0);
    // The configured system program directory counts too.
    EXPECT_EQ(choose(w + "/usrbin/tandor"), share + "/tandor");
}

TEST(Keywords, AnyCaseAndTheInstanceDigit) {
    unsigned long a0 = aktivsignal, t0 = tdriok;
    char p[] = "tandor", k1[] = "nosplash", k2[] = "Mute", k3[] = "instance=3",
         k4[] = "STARTTOGGLE";
    char* argv[] = {p, k1, k2, k3, k4, nullptr};
    cs_nosplash = false;
    tonlos = false;
    EXPECT_EQ(st_keywords(5, argv), 3);
    EXPECT_TRUE(cs_nosplash);
    EXPECT_TRUE(tonlos);
    EXPECT_EQ(_starttoggle, 1);
    EXPECT_EQ(aktivsignal, a0 + 3);
    EXPECT_EQ(tdriok, t0 + 3);
    EXPECT_EQ(aktivsignal & 0xFFFFFF00ul, 0x51525600ul);
}

TEST(Keywords, InstanceForms) {
    char p[] = "tandor", a[] = "INSTANCE x", b[] = "INSTANCE=12", c[] = "INSTANCE";
    char* argv1[] = {p, a, nullptr};
    char* argv2[] = {p, b, nullptr};
    char* argv3[] = {p, c, nullptr};
    EXPECT_EQ(st_keywords(2, argv1), 0);
    EXPECT_EQ(st_keywords(2, argv2), 1);
    EXPECT_EQ(st_keywords(2, argv3), 0);
}

TEST(Funktion, FromProgramNameAndFirstArgument) {
    struct {
        const char* name;
        const char* arg1;
        int funktion;
    } faelle[] = {
        {"/usr/bin/tandor", "", 0},
        {"/x/controlpanel", "", 40},
        {"CONTROL", "", 40},
        {"tandor", "control", 40},
        {"/x/Profile2", "", 60},
        {"tandor", "PROFILE", 60},
        {"tandor_debian_remove", "", 90},
        {"tandor", "TANDOR_DEBIAN_REMOVE", 90},
        {"contro", "", 0},
        {"tandor", "CONTROLX", 0},
    };
    for (auto& f : faelle) {
        char* argv[] = {const_cast<char*>(f.name), const_cast<char*>(f.arg1), nullptr};
        EXPECT_EQ(st_funktion(f.arg1[0] ? 2 : 1, argv), f.funktion) << f.name << " " << f.arg1;
    }
}

TEST(Signal, HandlerOnlyFlagsAndANormalThreadWritesTheLine) {
    std::string w = ts_scratchdir();
    ASSERT_EQ(chdir(w.c_str()), 0);
    inidat.funktion = 0;
    inidat.mod['P'] = 1;
    shutdownerlaubt = true;
    programmende_gewuenscht = false;
    struct sigaction sa = {};
    sa.sa_sigaction = endall;
    sa.sa_flags = SA_SIGINFO;
    sigaction(SIGTERM, &sa, nullptr);
    EXPECT_FALSE(st_signallog());
    kill(getpid(), SIGTERM);
    EXPECT_TRUE(programmende_gewuenscht);
    EXPECT_FALSE(shutdownerlaubt);
    // Nothing is written inside the handler.
    EXPECT_EQ(ts_readfile("servilog.txt"), "");
    EXPECT_TRUE(st_signallog());
    std::string log = ts_readfile("servilog.txt");
    std::string erwartet =
        "Received: signal 15, code 0 from process " + std::to_string(getpid()) + ".\n";
    EXPECT_NE(log.find(erwartet), std::string::npos) << log;
    EXPECT_FALSE(st_signallog());
    programmende_gewuenscht = false;
}

} // namespace
