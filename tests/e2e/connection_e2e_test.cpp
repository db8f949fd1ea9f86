// The whole road of a connection with the real binary: modem start-up with PIN against the
// simulator, connect permission, a connection through the stand-in pppd and the real chat
// on the single port (default data port, empty CON=), traffic through ppp0 in a private
// network namespace, a disconnect picked in the window's menu, an end on SIGTERM, and the
// counters kept for the next start.
#include "modem/modemsimulator.h"
#include "tandorrun.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Connection-log lines without their time stamp (the text after the first blank that
// follows the date and time) and without CR.
std::vector<std::string> logzeilen(const std::string& pfad) {
    std::vector<std::string> r;
    for (std::string z : ts_readlines(pfad)) {
        if (!z.empty() && z.back() == '\r') z.pop_back();
        // "dd.mm.yyyy hh:mm:ss text"
        size_t p = z.find(' ');
        p = p == std::string::npos ? p : z.find(' ', p + 1);
        r.push_back(p == std::string::npos ? z : z.substr(p + 1));
    }
    return r;
}

std::string header(const std::string& ini) {
    return ini.substr(0, ini.find('\n'));
}

struct ConnectionRoad : TandorRun {
    std::string ctl = dir + "/pppd";
    std::string shots = TANDOR_BINARY_DIR "/screenshots";
    ts_modemsim modem;

    void SetUp() override {
        TandorRun::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(modem.start({"--type", "3", "--pin", "1234", "--signal", "15"}));
        mkdir(ctl.c_str(), 0755);
        mkdir(shots.c_str(), 0755);
    }
    // tandor in a private /dev (ttyUSB0 is the simulator) and a private network with the
    // stand-in pppd first on PATH. No pid namespace: the pid is tandor's own.
    int starte(const std::string& port = "") {
        return ts_spawn(ts_netzstart(dir, port.empty() ? modem.port : port, ctl, 3),
                        dir + "/stdout.txt");
    }
    std::string netns(const std::string& args) {
        return ts_output(ts_helper("helper_netns") + " " + std::to_string(pid) + " " + args);
    }
    bool zaehler(long* rx, long* tx) {
        return sscanf(netns("counters").c_str(), "%ld %ld", rx, tx) == 2;
    }
    // Sends 20 datagrams of 1,000 bytes in and 15 of 500 bytes out through ppp0 and waits
    // until the kernel's counters have them and stand still.
    void verkehr(long* rx, long* tx) {
        ts_writefile(ctl + "/traffic", "rx 20 1000\n");
        ASSERT_EQ(netns("send 15 500"), "");
        long rxalt = -1, txalt = -1;
        for (int i = 0;
             i < 50 && (*rx != rxalt || *tx != txalt || *rx < 20 * 1028 || *tx < 15 * 528); i++) {
            rxalt = *rx;
            txalt = *tx;
            usleep(200000);
            ASSERT_TRUE(zaehler(rx, tx)) << "ppp0 gone";
        }
    }
    void bild(const std::string& name) {
        system(("import -window root " + shots + "/" + name + ".png 2>/dev/null").c_str());
    }
    // The main window (not the tray icons) of the process.
    std::string fenster() {
        std::string id = ts_output("xdotool search --onlyvisible --pid " + std::to_string(pid) +
                                   " --name '^tandor' 2>/dev/null | head -1");
        while (!id.empty() && id.back() == '\n')
            id.pop_back();
        return id;
    }
    void ende() {
        kill(pid, SIGTERM);
        endetsauber(30000);
    }
};

TEST_F(ConnectionRoad, ConnectTrafficMenuDisconnectEndAndKeptCounters) {
    // 123 kB and 43 minutes from earlier runs; volume rounded to 10 kB, time to 5 minutes,
    // both periods end on the 15th. The header never held a date, so no period closes.
    const std::string kopf = "01 0AA000000123-0000000000001-0000043" + std::string(16, '0');
    ts_writefile(dir + "/tandor.ini", kopf + "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB0;NONE\n"
                                             "CONA=SE\nCON=\nPIN=1234\nAPN=internet.t-mobile\n"
                                             "DAY=15;15\nRND=10;5\n");
    pid = starte();
    ASSERT_TRUE(ts_waitfor(dir + "/servilog.txt", "Connection established.", 90000))
        << servilog() << ts_readfile(dir + "/stdout.txt");
    std::string log = servilog();
    EXPECT_NE(log.find("Connecting via /dev/ttyUSB0"), std::string::npos) << "default data port";
    EXPECT_LT(log.find("Permitted to connect."), log.find("Connecting via")) << log;
    EXPECT_EQ(ts_readfile(ctl + "/args").find("/dev/ttyUSB0\nuser\na\npassword\na\n"), 0u)
        << ts_readfile(ctl + "/args");

    // The single port belongs to the link: from the dial on, no AT byte reaches the modem
    // until the link has ended.
    // chat writes its command a byte at a time; the simulator's CONNECT marks the dial.
    const std::string dial = "CONNECT 7200000";
    std::string t0 = modem.transcript();
    ASSERT_NE(t0.find(dial), std::string::npos) << t0;

    // Traffic both ways: 20 datagrams of 1,000 bytes in, 15 of 500 bytes out.
    long rx = 0, tx = 0;
    verkehr(&rx, &tx);
    if (HasFatalFailure()) return;
    EXPECT_GE(rx, 20 * 1028);
    EXPECT_GE(tx, 15 * 528);
    // Some cycles so that the window shows the rates and the volume of the link.
    sleep(8);
    bild("connection_connected");
    std::string t1 = modem.transcript();
    EXPECT_EQ(t1.find("< AT", t1.find(dial)), std::string::npos)
        << "AT command sent while the link holds the line:\n"
        << t1;

    // The menu of the main window: from below, Exit, Configuration, Mini window, Mute,
    // Reconnect, Disconnect.
    std::string w = fenster();
    ASSERT_FALSE(w.empty()) << "no main window";
    ASSERT_EQ(system(("xdotool mousemove --window " + w + " 80 20 click 3").c_str()), 0);
    usleep(700000);
    ASSERT_EQ(system("xdotool key Up Up Up Up Up Up"), 0);
    usleep(300000);
    bild("connection_menu");
    ASSERT_TRUE(zaehler(&rx, &tx));
    long kernel = rx + tx;
    ASSERT_EQ(system("xdotool key Return"), 0);
    ASSERT_TRUE(ts_waitfor(dir + "/connlog.txt", "Subtotal: 0000:", 30000))
        << ts_readfile(dir + "/connlog.txt");
    ASSERT_TRUE(ts_waitfor(dir + "/servilog.txt", "Reopening command port.", 10000));

    // Volume: 999 bytes pending from the start plus the kernel's bytes, rounded up to
    // 10 kB; time: 43 minutes rounded to 45 at the connection, one started minute, then
    // rounded to 50 at its end.
    long offset = (999 + kernel + 9999) / 10000 * 10000;
    long kb = 123 + offset / 1000;
    // The life of the connection in the connection log, from its name to the summary.
    std::vector<std::string> z = logzeilen(dir + "/connlog.txt");
    auto ab = std::find(z.begin(), z.end(), "Connection name: ppp0");
    ASSERT_NE(ab, z.end()) << ts_readfile(dir + "/connlog.txt");
    std::vector<std::string> leben(ab, z.end());
    std::vector<std::string> erwartet = {"Connection name: ppp0",
                                         "Connection established.",
                                         "Mode of operation: UMTS.",
                                         "Signalstaerke: 50% -83dBm",
                                         "Connection interrupted by user.",
                                         "Subtotal: " + std::to_string(kb) + " kB",
                                         "Subtotal: 0000:50"};
    EXPECT_EQ(leben, erwartet) << ts_readfile(dir + "/connlog.txt");

    // Offline again, automatic connection off: no new dial, the port is the modem's again.
    sleep(6);
    EXPECT_EQ(ts_count(servilog(), "Connection established."), 1) << "dialled again";
    std::string t2 = modem.transcript();
    EXPECT_NE(t2.find("< AT", t2.find(dial)), std::string::npos) << "port not reopened";
    bild("connection_offline");

    // The end writes the header once, with the remainder of the bytes folded in.
    int schreiben = ts_count(servilog(), "Header in INI-file has been rewritten.");
    ende();
    std::string ini = ts_readfile(dir + "/tandor.ini");
    char k[24];
    snprintf(k, sizeof k, "%09ld", kb);
    EXPECT_EQ(header(ini).substr(6, 9), k) << header(ini);
    EXPECT_EQ(header(ini).substr(31, 6), "000050") << header(ini);
    EXPECT_EQ(ts_count(servilog(), "Header in INI-file has been rewritten."), schreiben + 1);

    // The next start finds the counters and keeps them through a run without a link.
    std::string neu = ini;
    neu.replace(neu.find("CONA=SE"), 7, "CONA=E");
    ts_writefile(dir + "/tandor.ini", neu);
    pid = starte();
    for (int i = 0; i < 900 && ts_count(servilog(), "Permitted to connect.") < 2; i++)
        usleep(100000);
    ASSERT_EQ(ts_count(servilog(), "Permitted to connect."), 2) << servilog();
    sleep(10);
    bild("connection_secondstart");
    ende();
    std::string ini2 = ts_readfile(dir + "/tandor.ini");
    EXPECT_EQ(header(ini2).substr(6, 9), k) << header(ini2);
    EXPECT_EQ(header(ini2).substr(31, 6), "000050") << header(ini2);
}

// Processes of group g that still run, or zombie children of parent p, as ps counts them.
int zaehle(const std::string& spalte, long wert, const std::string& zustand) {
    return std::stoi("0" + ts_output("ps -eo " + spalte + "=,stat= | awk '$1==" +
                                     std::to_string(wert) + " && $2 " + zustand + "' | wc -l"));
}

// User programs on the road: one for the program start runs from start to end, one for
// every connection runs once per connection and is stopped in between, even when it
// ignores SIGTERM, has a child and floods an output nobody reads; one for the end runs
// on after the program has ended.
TEST_F(ConnectionRoad, UserProgramsAtStartEveryConnectionAndEnd) {
    ts_writefile(dir + "/conn.sh", "trap '' TERM\ng=$(cut -d' ' -f5 /proc/$$/stat)\n"
                                   "sleep 600 &\nhead -c 1000000 /dev/zero\necho $g >> " +
                                       dir + "/conn.txt\nwhile :; do sleep 1; done\n");
    for (const char* s : {"start", "end"})
        ts_writefile(dir + "/" + s + ".sh",
                     "echo $$ >> " + dir + "/" + s + ".txt\nexec sleep 600\n");
    for (const char* s : {"conn", "start", "end"})
        chmod((dir + "/" + s + ".sh").c_str(), 0755);
    const std::string kopf = "01 0AA000000123-0000000000001-0000043" + std::string(16, '0');
    ts_writefile(dir + "/tandor.ini", kopf +
                                          "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB0;NONE\nCONA=SE\n"
                                          "CON=\nPIN=1234\nAPN=internet.t-mobile\nCMD1=," +
                                          dir + "/conn.sh\nCMD2=|" + dir + "/end.sh\nCMD3=!" + dir +
                                          "/start.sh\n");
    pid = starte();
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    ASSERT_TRUE(ts_waitfor(dir + "/conn.txt", "\n", 5000)) << "conn.sh stalled\n" << protokolle();
    long erste = std::stol(ts_readfile(dir + "/conn.txt"));

    // The line drops (pppd killed): the program is stopped with the link, and the next
    // connection starts it afresh.
    int pppd = std::stoi("0" + ts_output("pgrep -P " + std::to_string(pid) + " -x pppd"));
    ASSERT_GT(pppd, 0) << protokolle();
    kill(pppd, SIGKILL);
    ASSERT_TRUE(wartelog("Connection established.", 2, 60000)) << protokolle();
    for (int i = 0; i < 50 && ts_readlines(dir + "/conn.txt").size() < 2; i++)
        usleep(100000);
    ASSERT_EQ(ts_readlines(dir + "/conn.txt").size(), 2u) << ts_readfile(dir + "/conn.txt");
    long zweite = std::stol(ts_readlines(dir + "/conn.txt")[1]);
    EXPECT_EQ(zaehle("pgid", erste, "!~ /^Z/"), 0);

    // Disconnect from the menu: the deaf program holds the link's end up by its grace only.
    std::string w = fenster();
    ASSERT_FALSE(w.empty()) << "no main window";
    ASSERT_EQ(system(("xdotool mousemove --window " + w + " 80 20 click 3").c_str()), 0);
    usleep(700000);
    ASSERT_EQ(system("xdotool key Up Up Up Up Up Up Return"), 0);
    EXPECT_TRUE(ts_waitfor(dir + "/connlog.txt", "Connection interrupted by user.", 5000))
        << protokolle();
    ASSERT_TRUE(wartelog("User program of slot 0 ended.", 2, 5000)) << protokolle();
    EXPECT_EQ(zaehle("pgid", zweite, "!~ /^Z/"), 0);
    // A child that just ended is reaped by the program's next wait; one that stays a
    // zombie is a fault.
    int zombies = zaehle("ppid", pid, "~ /^Z/");
    for (int i = 0; i < 20 && zombies > 0; i++) {
        usleep(100000);
        zombies = zaehle("ppid", pid, "~ /^Z/");
    }
    EXPECT_EQ(zombies, 0) << "zombie children";

    ASSERT_EQ(ts_readlines(dir + "/start.txt").size(), 1u);
    long start = std::stol(ts_readfile(dir + "/start.txt"));
    EXPECT_EQ(kill(start, 0), 0) << "start.sh did not run until the end";
    ende();
    EXPECT_NE(kill(start, 0), 0) << "start.sh outlived the program";
    ASSERT_EQ(ts_readlines(dir + "/end.txt").size(), 1u) << protokolle();
    long end = std::stol(ts_readfile(dir + "/end.txt"));
    EXPECT_EQ(kill(end, 0), 0) << "end.sh did not outlive the program";
    kill(end, SIGKILL);
    EXPECT_EQ(ts_readlines(dir + "/conn.txt").size(), 2u);
}

// The same road against a modem that behaves like a real stick: answers in two pieces,
// seconds for the PIN and the network commands, a busy SIM after power-up and PIN, and
// unsolicited lines at any moment. It connects, counts and ends as against a prompt one.
void realistisch(ConnectionRoad& r, const char* typ) {
    ts_modemsim stick;
    ASSERT_TRUE(stick.start({"--type", typ, "--pin", "1234", "--signal", "15", "--realistic"}));
    const std::string kopf = "01 0AA000000123-0000000000001-0000043" + std::string(16, '0');
    ts_writefile(r.dir + "/tandor.ini", kopf + "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB0;NONE\n"
                                               "CONA=SE\nCON=\nPIN=1234\nAPN=internet.t-mobile\n"
                                               "DAY=15;15\nRND=10;5\n");
    r.pid = r.starte(stick.port);
    ASSERT_TRUE(ts_waitfor(r.dir + "/servilog.txt", "Connection established.", 90000))
        << r.protokolle() << stick.transcript();
    long rx = 0, tx = 0;
    r.verkehr(&rx, &tx);
    if (r.HasFatalFailure()) return;
    ASSERT_GE(rx, 20 * 1028);
    ASSERT_GE(tx, 15 * 528);
    sleep(10); // statistics passes, so the started online minute is counted
    ASSERT_TRUE(r.zaehler(&rx, &tx));
    r.ende();
    if (r.HasFatalFailure()) return;
    long kb = 123 + (999 + rx + tx + 9999) / 10000 * 10;
    std::vector<std::string> z = logzeilen(r.dir + "/connlog.txt");
    auto ab = std::find(z.begin(), z.end(), "Connection name: ppp0");
    ASSERT_NE(ab, z.end()) << r.connlog();
    EXPECT_EQ(ab[1], "Connection established.") << r.connlog();
    EXPECT_EQ(std::count(z.begin(), z.end(), "Subtotal: " + std::to_string(kb) + " kB"), 1)
        << r.connlog();
    EXPECT_EQ(std::count(z.begin(), z.end(), "Subtotal: 0000:50"), 1) << r.connlog();
    std::string ini = ts_readfile(r.dir + "/tandor.ini");
    char k[24];
    snprintf(k, sizeof k, "%09ld", kb);
    EXPECT_EQ(header(ini).substr(6, 9), k) << header(ini);
    EXPECT_EQ(header(ini).substr(31, 6), "000050") << header(ini);
    EXPECT_EQ(r.servilog().find("1234"), std::string::npos) << "the PIN reached the log";
    // The modem did behave like a real one: answers came in pieces, and a Huawei stick's
    // own lines were taken out of the answers they fell into.
    std::string tr = stick.transcript();
    EXPECT_NE(tr.find("> \\r\\n\n"), std::string::npos) << tr;
    if (std::string(typ) == "3") {
        EXPECT_NE(r.servilog().find(" u:  ^"), std::string::npos) << r.servilog();
    }
}

TEST_F(ConnectionRoad, ARealisticHuaweiStickConnectsCountsAndEnds) {
    realistisch(*this, "3");
}

TEST_F(ConnectionRoad, ARealisticOptionStickConnectsCountsAndEnds) {
    realistisch(*this, "1");
}

TEST_F(ConnectionRoad, AModemHangingUpWhileConnectedIsRedialledOrTheProgramEndsWithItsCounters) {
    // The stick is published as a link in the scratch directory, so a new one can take its
    // place: /dev/ttyUSB0 -> dir/modem -> the simulator's pty.
    auto stick = std::make_unique<ts_modemsim>();
    ASSERT_TRUE(stick->start(
        {"--type", "3", "--pin", "1234", "--signal", "15", "--byid", dir, "--name", "modem"}));
    const std::string kopf = "01 0AA000000123-0000000000001-0000043" + std::string(16, '0');
    ts_writefile(dir + "/tandor.ini", kopf + "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB0;NONE\n"
                                             "CONA=SE\nCON=\nPIN=1234\nAPN=internet.t-mobile\n"
                                             "DAY=15;15\nRND=1;1\n");
    pid = starte(dir + "/modem");
    ASSERT_TRUE(ts_waitfor(dir + "/servilog.txt", "Connection established.", 90000)) << servilog();
    ts_writefile(ctl + "/traffic", "rx 50 1000\n");
    // Some statistics passes, so the started online minute is counted.
    sleep(10);

    // The line drops: pppd reports the hang-up, the link ends, and once the stick is back
    // the program dials again.
    stick->control("fault hangup");
    ASSERT_TRUE(ts_waitfor(dir + "/connlog.txt", "Connection interrupted.", 30000))
        << ts_readfile(dir + "/connlog.txt") << servilog();
    stick = std::make_unique<ts_modemsim>();
    ASSERT_TRUE(stick->start(
        {"--type", "3", "--pin", "1234", "--signal", "15", "--byid", dir, "--name", "modem"}));
    bool wieder = false;
    for (int i = 0; i < 1200 && !wieder && ts_waitpid(pid, 0) == -1; i++) {
        usleep(100000);
        wieder = ts_count(servilog(), "Connection established.") >= 2;
    }
    ASSERT_TRUE(wieder) << servilog();
    EXPECT_EQ(servilog().find("1234"), std::string::npos) << "the PIN reached the log";

    // It drops again and stays away: the program ends by itself, its counters written.
    std::string vorher = header(ts_readfile(dir + "/tandor.ini"));
    stick->control("fault hangup");
    endetsauber(240000);
    if (HasFatalFailure()) return;
    std::string nachher = header(ts_readfile(dir + "/tandor.ini"));
    long kb = std::stol(nachher.substr(6, 9)), min = std::stol(nachher.substr(31, 6));
    EXPECT_GE(kb, 123 + 50) << nachher << "\n" << servilog();
    EXPECT_GT(min, 43) << nachher;
    EXPECT_GE(kb, std::stol(vorher.substr(6, 9))) << "counters went back";
    EXPECT_NE(servilog().find("tandor terminated."), std::string::npos);
}

} // namespace
