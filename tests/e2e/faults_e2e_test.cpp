// The real binary under faults that must cost no data: killed with SIGKILL at random
// moments while connected and counting, and an ini file that turns read-only or into a
// directory while the program runs. The counters in the file parse after every fault, are
// never set back, lag at most one of the program's write intervals, and what could not be
// written is written at the next chance.
#include "modem/modemsimulator.h"
#include "tandorrun.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

long long jetztms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// 123 kB and 43 minutes from earlier runs, no date yet.
const std::string KOPF = "01 0AA000000123-0000000000001-0000043" + std::string(16, '0');

struct FaultRun : ModemRun {
    void TearDown() override {
        ModemRun::TearDown();
        usleep(300000);
    }
    void ini(const std::string& zeilen) {
        ts_writefile(dir + "/tandor.ini", KOPF +
                                              "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB0;NONE\n"
                                              "CON=\nAPN=internet.t-mobile\n" +
                                              zeilen);
    }
    // tandor with the simulator as ttyUSB0, the stand-in pppd and ppp0 in a private network,
    // and private System V IPC; the pid is tandor's own.
    void starte(int instanz, std::vector<std::string> weitere = {}) {
        pid = ts_spawn(ts_netzstart(dir, modem.port, ctl, instanz, weitere), dir + "/stdout.txt");
    }
    // Kernel byte counters of ppp0 (rx + tx), -1 when gone.
    long kernelbytes() {
        long rx, tx;
        std::string s =
            ts_output(ts_helper("helper_netns") + " " + std::to_string(pid) + " counters");
        return sscanf(s.c_str(), "%ld %ld", &rx, &tx) == 2 ? rx + tx : -1;
    }
};

// The header as the program writes it: counters parse, nothing else has changed.
struct Kopf {
    bool gueltig = false;
    long kb = -1, minuten = -1;
    std::string rest; // the file after the header's 37 characters
};
Kopf lieskopf(const std::string& datei) {
    Kopf k;
    std::string s = ts_readfile(datei);
    static const std::regex form("01 [0-9][A-Z][A-Z][0-9]{9}-[0-9]{13}-[0-9]{7}");
    if (s.size() < 37 || !std::regex_match(s.substr(0, 37), form)) return k;
    k.gueltig = true;
    k.kb = atol(s.substr(6, 9).c_str());
    k.minuten = atol(s.substr(31, 6).c_str());
    k.rest = s.substr(37);
    return k;
}

TEST_F(FaultRun, SigkillWhileCountingNeverCorruptsNorSetsBackTheCounters) {
    // Volume and time periods both on: the program keeps its counters in the header.
    ini("CONA=SE\nDAY=1;1\n");
    unsigned saat = (unsigned)time(nullptr);
    std::mt19937 zufall(saat);
    Kopf vorher = lieskopf(dir + "/tandor.ini");
    ASSERT_TRUE(vorher.gueltig);
    std::string rest;
    for (int runde = 1; runde <= 3; runde++) {
        SCOPED_TRACE("round " + std::to_string(runde) + ", seed " + std::to_string(saat));
        starte(5);
        ASSERT_TRUE(wartelog("Connection established.", runde, 90000)) << protokolle();
        long long verbunden = jetztms();
        // 12 MB make one header write due, so every round stores something.
        int geschrieben = ts_count(servilog(), "Header in INI-file has been rewritten.");
        ts_writefile(ctl + "/traffic", "rx 12000 1000\n");
        ASSERT_TRUE(wartelog("Header in INI-file has been rewritten.", geschrieben + 1, 30000))
            << protokolle();
        // Then 3 MB arrive in bursts at random moments; the kill comes at a random moment too,
        // often right after a burst and during the header writes it causes.
        std::vector<long long> buendelzeiten;
        long buendel = 0;
        int schritte = 2 + (int)(zufall() % 6);
        for (int i = 0; i < schritte; i++) {
            ts_writefile(ctl + "/traffic", "rx 3000 1000\n");
            buendelzeiten.push_back(jetztms());
            buendel++;
            usleep(200000 + zufall() % 1800000);
        }
        long kernel = kernelbytes();
        ASSERT_GT(kernel, 0) << protokolle();
        kill(pid, SIGKILL);
        ASSERT_NE(ts_waitpid(pid, 10000), -1);
        pid = -1;
        long long online = jetztms() - verbunden;
        ts_pppdweg(ctl);
        usleep(300000);

        Kopf k = lieskopf(dir + "/tandor.ini");
        ASSERT_TRUE(k.gueltig) << ts_readfile(dir + "/tandor.ini");
        if (runde == 1) rest = k.rest;
        EXPECT_EQ(k.rest, rest) << "the lines after the header changed";
        // Never set back, never more than was counted (each fold rounds its remainder up
        // to a whole kB).
        EXPECT_GE(k.kb, vorher.kb);
        EXPECT_LE(k.kb, vorher.kb + kernel / 1000 + 10);
        // At most one write interval behind: 10 MB pending, plus what came in after the
        // last statistics pass and during the write that was under way (every burst of the
        // last 5 s may not be counted yet).
        long offen = 0;
        for (long long t : buendelzeiten)
            if (jetztms() - t < 5000) offen += 3000;
        EXPECT_GE(k.kb, vorher.kb + kernel / 1000 - 10000 - offen)
            << "kernel " << kernel << " bytes in " << buendel << " bursts";
        EXPECT_GE(k.minuten, vorher.minuten);
        EXPECT_LE(k.minuten, vorher.minuten + online / 60000 + 2);
        vorher = k;
    }
    EXPECT_GT(vorher.kb, 123) << "nothing was ever written";
    // The program takes the file as it is and ends in order with the counters on.
    starte(5);
    ASSERT_TRUE(wartelog("Connection established.", 4, 90000)) << protokolle();
    sleep(5); // two statistics passes: the started minute is counted
    kill(pid, SIGTERM);
    endetsauber(30000);
    Kopf k = lieskopf(dir + "/tandor.ini");
    EXPECT_GE(k.kb, vorher.kb);
    EXPECT_GE(k.minuten, vorher.minuten + 1);
}

TEST_F(FaultRun, IniFileReadOnlyOrADirectoryWhileConnectedLosesNoCounters) {
    ini("CONA=SE\nDAY=1;1\n");
    starte(6);
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    std::string datei = dir + "/tandor.ini";
    const std::string fehler = "Could not open INI file with access \"r+t\"";
    const std::string geschrieben = "Header in INI-file has been rewritten.";
    // Root writes through file modes: a read-only bind mount over the file, in tandor's
    // own mount namespace.
    std::string ns = "nsenter -t " + std::to_string(pid) + " -m ";
    ASSERT_EQ(system((ns + "sh -c 'mount --bind " + datei + " " + datei + " && mount -o " +
                      "remount,bind,ro " + datei + " " + datei + "'")
                         .c_str()),
              0);
    std::string ganz = ts_readfile(datei);
    // 12 MB make a header write due; it fails.
    ts_writefile(ctl + "/traffic", "rx 12000 1000\n");
    ASSERT_TRUE(wartelog(fehler, 1, 30000)) << protokolle();
    EXPECT_EQ(ts_readfile(datei), ganz);
    ASSERT_EQ(system((ns + "umount " + datei).c_str()), 0);
    // Writable again: the next write carries everything counted meanwhile.
    int vorher = ts_count(servilog(), geschrieben);
    ts_writefile(ctl + "/traffic", "rx 12000 1000\n");
    ASSERT_TRUE(wartelog(geschrieben, vorher + 1, 30000)) << protokolle();
    long kernel = kernelbytes();
    Kopf k = lieskopf(datei);
    ASSERT_TRUE(k.gueltig) << ts_readfile(datei);
    EXPECT_GE(k.kb, 123 + kernel / 1000 - 10000) << "kernel " << kernel;
    EXPECT_EQ(k.rest, ganz.substr(37));

    // The file replaced by a directory for a while: the write fails, nothing crashes.
    ASSERT_EQ(rename(datei.c_str(), (dir + "/aside.ini").c_str()), 0);
    ASSERT_EQ(mkdir(datei.c_str(), 0755), 0);
    int fehlschlaege = ts_count(servilog(), fehler);
    ts_writefile(ctl + "/traffic", "rx 12000 1000\n");
    ASSERT_TRUE(wartelog(fehler, fehlschlaege + 1, 30000)) << protokolle();
    ASSERT_EQ(rmdir(datei.c_str()), 0);
    ASSERT_EQ(rename((dir + "/aside.ini").c_str(), datei.c_str()), 0);
    ASSERT_EQ(ts_waitpid(pid, 0), -1) << protokolle();
    // The end writes all that is counted.
    kernel = kernelbytes();
    ASSERT_GT(kernel, 36000000);
    kill(pid, SIGTERM);
    endetsauber(40000);
    k = lieskopf(datei);
    ASSERT_TRUE(k.gueltig) << ts_readfile(datei);
    EXPECT_GE(k.kb, 123 + kernel / 1000) << "kernel " << kernel;
    EXPECT_LE(k.kb, 123 + kernel / 1000 + 10) << "kernel " << kernel;
    EXPECT_GE(k.minuten, 44);
    EXPECT_EQ(k.rest, ganz.substr(37));
}

// A stick with a command port beside its data port: the command port goes silent, then
// answers late, while the link holds the data port.
TEST_F(FaultRun, ACommandPortSilentOrLateWhileConnectedRestsReconnectsAndKeepsTheWindow) {
    ts_modemsim befehl;
    ASSERT_TRUE(befehl.start({"--type", "3", "--nopin", "--signal", "15"}));
    ts_writefile(dir + "/tandor.ini", KOPF + "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB1\n"
                                             "CON=/dev/ttyUSB0\nCONA=SE\nAPN=internet.t-mobile\n"
                                             "DAY=15;15\nRND=1;1\n");
    starte(7, {"ttyUSB1", befehl.port});
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    ts_writefile(ctl + "/traffic", "rx 20 1000\n");
    sleep(6);

    // Late answers make single exchanges fail; the program goes on.
    befehl.control("fault late 3");
    sleep(8);
    EXPECT_EQ(ts_waitpid(pid, 0), -1) << "ended on late answers\n" << protokolle();

    // Silence long enough for the read-error score (a point per second waited, two reads of
    // 5 s): a rest, a new start, a new link.
    befehl.control("fault silence 3");
    ASSERT_TRUE(wartelog("tandor paused. Standby.", 1, 120000)) << protokolle();
    ASSERT_TRUE(wartelog("Connection established.", 2, 120000)) << protokolle();

    // The window still answers: closing it asks the end question within a second.
    std::string w = ts_output("xdotool search --onlyvisible --pid " + std::to_string(pid) +
                              " --name '^tandor' 2>/dev/null | head -1");
    ASSERT_FALSE(w.empty()) << "no window";
    w.pop_back();
    long long t0 = jetztms();
    system(("wmctrl -i -c " + w).c_str());
    bool frage = false;
    while (!frage && jetztms() - t0 < 1000)
        frage = system(("xdotool search --pid " + std::to_string(pid) +
                        " --name 'tandor   End' >/dev/null 2>&1")
                           .c_str()) == 0;
    EXPECT_TRUE(frage) << "the window did not answer within a second";
    kill(pid, SIGTERM);
    endetsauber(30000);
    std::string kopf = ts_readfile(dir + "/tandor.ini").substr(0, 53);
    EXPECT_GE(std::stol(kopf.substr(6, 9)), 123 + 20) << kopf;
}

// A frontend of its own in the program's IPC namespace: it reads the record, sends commands
// through it while the link holds the data port and readings go on over the command port,
// and sees the program's end.
struct PeerRun : FaultRun {
    static constexpr int INSTANZ = 6;
    std::string key = std::to_string(0x515256F0 + INSTANZ);
    int halter = -1; // a process that holds an IPC namespace for the program to enter
    void TearDown() override {
        FaultRun::TearDown();
        if (halter > 0) {
            kill(halter, SIGKILL);
            ts_waitpid(halter, 5000);
        }
    }
    std::string peer(const std::string& was, long ziel = -1) {
        return ts_output(ts_helper("helper_frontendpeer") + " " +
                         std::to_string(ziel < 0 ? pid : ziel) + " " + was + " 2>&1");
    }
    // One field of "read".
    std::string feld(const std::string& name) {
        std::string r = peer("read " + key);
        size_t a = r.find("\n" + name + "=");
        if (a == std::string::npos) return "?";
        a += name.size() + 2;
        return r.substr(a, r.find('\n', a) - a);
    }
};

TEST_F(PeerRun, APeerReadsTheRecordAndItsCommandsAreTakenOrCleared) {
    ts_modemsim befehl;
    ASSERT_TRUE(befehl.start(
        {"--type", "3", "--nopin", "--signal", "15", "--network", "Peer Net", "26299"}));
    ts_writefile(dir + "/tandor.ini", KOPF + "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB1\n"
                                             "CON=/dev/ttyUSB0\nCONA=SE\nAPN=internet.t-mobile\n"
                                             "DAY=15;15\nRND=1;1\n");
    starte(INSTANZ, {"ttyUSB1", befehl.port});
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    for (int i = 0; i < 50 && (feld("plmn") != "26299" || feld("online_time") == "0"); i++)
        usleep(200000);
    std::string r = peer("read " + key);
    EXPECT_NE(r.find("len=1064\nstructure_version=3\nprogram_version=5\n"), std::string::npos) << r;
    EXPECT_NE(r.find("\nnetwork_name=Peer Net\nplmn=26299\n"), std::string::npos) << r;
    EXPECT_NE(r.find("\nsignal_raw=15\nsignal_percent=50\nsignal_dbm=-83\n"), std::string::npos)
        << r;
    EXPECT_GE(std::stol(feld("volume")), 123) << r;
    EXPECT_GT(std::stol(feld("process_counter")), 0) << r;
    EXPECT_GT(std::stol(feld("online_time")), 0) << r;

    // The program's path as started; any case of the word.
    EXPECT_EQ(peer("command " + key + " tAnDoR_pAtH 8000").rfind("cleared", 0), 0u);
    EXPECT_EQ(feld("answer"), TANDOR_BINARY);
    int st = 0;
    // Garbage, also without a NUL, is cleared while the program goes on.
    EXPECT_EQ(peer("raw100 " + key + " 10000").rfind("cleared", 0), 0u) << protokolle();
    EXPECT_EQ(peer("command " + key + " bogus 10000").rfind("cleared", 0), 0u);
    EXPECT_EQ(ts_waitpid(pid, 0), -1) << protokolle();

    // A command in the record ends the main loop's pause: it is taken within a cycle's
    // readings, not after the pause as well.
    std::string t = peer("command " + key + " tandor_DISCONNECT 8000");
    ASSERT_EQ(t.rfind("cleared", 0), 0u) << t;
    EXPECT_LT(std::stol(t.substr(8)), 6000) << t;
    ASSERT_TRUE(wartelog("Connection deactivated by command.", 1, 5000)) << protokolle();
    bool weg = false;
    for (int i = 0; i < 50 && !weg; i++) {
        weg = kernelbytes() < 0;
        usleep(100000);
    }
    EXPECT_TRUE(weg) << "ppp0 still there\n" << protokolle();
    EXPECT_NE(connlog().find("Connection deactivated by command."), std::string::npos);

    // A control copy in the same namespace ends and leaves the running copy's record.
    int kontrolle =
        ts_spawn({"nsenter", "-i", "-t", std::to_string(pid), TANDOR_BINARY, "CONTROL",
                  "DIR=" + dir, "INSTANCE=" + std::to_string(INSTANZ), "NOSPLASH", "MUTE"},
                 dir + "/control.txt");
    sleep(3);
    kill(kontrolle, SIGTERM);
    st = ts_waitpid(kontrolle, 20000);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st << ts_readfile(dir + "/control.txt");
    r = peer("read " + key);
    EXPECT_NE(r.find("len=1064\n"), std::string::npos) << r;
    EXPECT_GT(std::stol(feld("process_counter")), 0) << r;

    // At the end the attached peer sees the counter 0 and the key gone.
    int warten =
        ts_spawn({ts_helper("helper_frontendpeer"), std::to_string(pid), "waitend", key, "30000"},
                 dir + "/waitend.txt");
    usleep(300000);
    kill(pid, SIGTERM);
    endetsauber(30000);
    st = ts_waitpid(warten, 10000);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << ts_readfile(dir + "/waitend.txt");
    EXPECT_EQ(ts_readfile(dir + "/waitend.txt"), "process_counter=0 keygone=1\n");
}

// A segment with the key that belongs to someone else stays theirs; the program runs
// without a record, and a command file still ends it.
TEST_F(PeerRun, AForeignSegmentIsLeftAloneAndTheProgramRunsWithoutARecord) {
    halter = ts_spawn({"unshare", "-i", "sleep", "600"});
    // Only once the holder has its own namespace: before, it stands in this one.
    auto ns = [](const std::string& p) {
        char b[64] = "";
        ssize_t n = readlink(("/proc/" + p + "/ns/ipc").c_str(), b, sizeof b - 1);
        return std::string(b, n > 0 ? static_cast<size_t>(n) : 0);
    };
    for (int i = 0; i < 100 && ns(std::to_string(halter)) == ns("self"); i++)
        usleep(50000);
    ASSERT_NE(ns(std::to_string(halter)), ns("self"));
    std::string r = peer("create-foreign " + key, halter);
    ASSERT_NE(r.find_first_of("0123456789"), std::string::npos) << r;
    ini("CONA=\n");
    std::vector<std::string> a = ts_netzstart(dir, modem.port, ctl, INSTANZ);
    ASSERT_EQ(a[3], "-i");
    a.erase(a.begin() + 3);
    a.insert(a.begin(), {"nsenter", "-i", "-t", std::to_string(halter)});
    pid = ts_spawn(a, dir + "/stdout.txt");
    ASSERT_TRUE(wartelog("Could not create shared memory.", 1, 30000)) << protokolle();
    EXPECT_TRUE(wartelog("belongs to another user", 1, 1000)) << protokolle();
    ASSERT_TRUE(wartelog("Permitted to connect.", 1, 60000)) << protokolle();
    EXPECT_EQ(peer("check-foreign " + key, halter).rfind("untouched", 0), 0u)
        << peer("check-foreign " + key, halter);
    ts_writefile(dir + "/tandor_END", "");
    endetsauber(40000);
    EXPECT_EQ(ts_count(servilog(), "Could not create shared memory."), 1);
    EXPECT_NE(servilog().find("Program terminated by command."), std::string::npos);
    EXPECT_EQ(access((dir + "/tandor_END").c_str(), F_OK), -1);
    EXPECT_EQ(peer("check-foreign " + key, halter).rfind("untouched", 0), 0u);
}

// 990 kB of a period that never closes, with a hard limit of 1000 kB.
const std::string KOPF990 = "01 0AA000000990-0000000000000-0000000" + std::string(16, '0');

// A stick with a command port beside its data port, so that readings go on during the link.
struct LimitRun : FaultRun {
    ts_modemsim befehl;
    void startebeide(int instanz, const std::string& zeilen) {
        ASSERT_TRUE(befehl.start({"--type", "3", "--nopin", "--signal", "15"}));
        ts_writefile(dir + "/tandor.ini", KOPF990 +
                                              "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB1\n"
                                              "CON=/dev/ttyUSB0\nAPN=internet.t-mobile\n" +
                                              zeilen);
        starte(instanz, {"ttyUSB1", befehl.port});
    }
    // Waits until the simulator has given an answer with text after the control line.
    bool gesendet(const std::string& text, long ms) {
        int vorher = ts_count(befehl.transcript(), text);
        for (long t = 0; t < ms; t += 200, usleep(200000))
            if (ts_count(befehl.transcript(), text) > vorher) return true;
        return false;
    }
};

// The hard limit also in cycles without network service, which still count traffic: the
// link goes at once although the configuration keeps it at the program end, and a second
// start over the limit ends before connecting.
TEST_F(LimitRun, AHardVolumeLimitCutsTheLinkAtOnceEvenWithoutNetworkServiceAndBlocksTheNextStart) {
    startebeide(8, "CONA=S\nDAY=99\nMAXV=0;0;1000\n");
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    befehl.control("network Limited Service 0");
    ASSERT_TRUE(gesendet("Limited Service", 10000)) << protokolle();
    sleep(2); // one cycle that sees it
    ts_writefile(ctl + "/traffic", "rx 30 1000\n");
    const std::string text = "Data volume / online time exceeded.";
    ASSERT_TRUE(wartelog(text, 1, 15000)) << protokolle();
    long long t0 = jetztms();
    while (kernelbytes() >= 0 && jetztms() - t0 < 5000)
        usleep(100000);
    EXPECT_LT(kernelbytes(), 0) << "ppp0 still there 5 s after the limit\n" << protokolle();
    EXPECT_EQ(ts_count(servilog(), "tandor terminated."), 0) << "ppp0 outlived the program";
    endetsauber(30000);
    EXPECT_EQ(ts_count(connlog(), text), 1) << protokolle();
    EXPECT_EQ(ts_count(servilog(), "Connecting via"), 1) << protokolle();
    Kopf k = lieskopf(dir + "/tandor.ini");
    ASSERT_TRUE(k.gueltig) << ts_readfile(dir + "/tandor.ini");
    EXPECT_GE(k.kb, 1000);

    // Started again with the counters over the limit: the same end, no dial.
    starte(8, {"ttyUSB1", befehl.port});
    endetsauber(60000);
    EXPECT_EQ(ts_count(servilog(), text), 2) << protokolle();
    EXPECT_EQ(ts_count(servilog(), "Connecting via"), 1) << protokolle();
    EXPECT_EQ(ts_count(servilog(), "Permitted to connect."), 1) << protokolle();
}

// A network outside the allowed list while connected: the question appears; Escape drops
// the link for good.
TEST_F(LimitRun, AForeignNetworkQuestionAnsweredWithEscapeEndsTheLinkAndNoDialFollows) {
    startebeide(9, "CONA=SE\nNET=;T-Mobile D;26201\n");
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    befehl.control("network Vodafone.de 26202");
    std::string suche =
        "xdotool search --pid " + std::to_string(pid) + " --name 'tandor   Network warning'";
    std::string w;
    for (int i = 0; i < 100 && w.empty(); i++, usleep(200000))
        w = ts_output(suche + " 2>/dev/null | head -1");
    ASSERT_FALSE(w.empty()) << "no question\n" << protokolle();
    w.pop_back();
    // The link stays while the question is open.
    EXPECT_GE(kernelbytes(), 0);
    system(("xdotool windowactivate --sync " + w + " key --clearmodifiers Escape").c_str());
    ASSERT_TRUE(wartelog("Unwanted Network.", 1, 10000)) << protokolle();
    long long t0 = jetztms();
    while (kernelbytes() >= 0 && jetztms() - t0 < 10000)
        usleep(200000);
    EXPECT_LT(kernelbytes(), 0) << "the link is still up\n" << protokolle();
    sleep(20);
    EXPECT_EQ(ts_count(servilog(), "Connecting via"), 1) << protokolle();
    EXPECT_EQ(ts_waitpid(pid, 0), -1) << "the program ended\n" << protokolle();
    kill(pid, SIGTERM);
    endetsauber(30000);
}

} // namespace
