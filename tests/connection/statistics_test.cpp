// Traffic statistics against a kernel interface table written by the test and the
// virtual clock: the table reader, rates and volume, the plausibility of a pass, online
// minutes, rounding, periods and their log lines, the header writes, the error monitor
// and the automatic connection.
#include "config/header.h"
#include "config/inifile.h"
#include "connection/reachability.h"
#include "connection/statistics.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "testsupport.h"
#include "ui/mainwindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <cinttypes>
#include <cstring>
#include <string>

namespace {

constexpr time_t montag = 1706608800; // 2024-01-30 10:00:00 UTC
const std::string kopf = "01 1AA000000000-0000000000000-0000000";
const std::string rest = "0000000000000000\n02 COM=/dev/ttyUSB0\n";

std::string ifname;
int starts, stops, stopmodus;
std::string status;
std::string proben; // hosts the traffic probe asked

// One interface line as the kernel prints it (name right-aligned in six columns, the
// numbers in their minimum widths, wider numbers pushing the line to the right).
std::string ifzeile(const std::string& name, uint64_t rx, uint64_t tx,
                    const uint64_t f[6] = nullptr) {
    static const uint64_t null[6] = {};
    if (!f) f = null; // rx errs, drop, fifo, frame; tx errs, colls
    char z[400];
    snprintf(z, sizeof z,
             "%6s:%8" PRIu64 " %7u %4" PRIu64 " %4" PRIu64 " %4" PRIu64 " %5" PRIu64
             " %10u %9u %8" PRIu64 " %7u %4" PRIu64 " %4u %4u %5" PRIu64 " %7u %10u\n",
             name.c_str(), rx, 10u, f[0], f[1], f[2], f[3], 0u, 0u, tx, 10u, f[4], 0u, 0u, f[5], 0u,
             0u);
    return z;
}
void netdev(const std::string& zeilen) {
    ts_writefile("net_dev",
                 "Inter-|   Receive                                                |  Transmit\n"
                 " face |bytes    packets errs drop fifo frame compressed multicast|bytes    "
                 "packets errs drop fifo colls carrier compressed\n" +
                     ifzeile("lo", 5000, 5000) + zeilen);
}
void ppp(uint64_t rx, uint64_t tx) {
    netdev(ifzeile("ppp0", rx, tx));
}

struct Pass {
    long up, down, kb;
    bool start;
};
Pass pass(long ms) {
    sy_advance(ms);
    Pass p;
    p.start = cn_statistics(&p.up, &p.down, &p.kb);
    return p;
}
int kopfschreiben() {
    return ts_count(ts_readfile("servilog.txt"), "Header in INI-file has been rewritten.");
}

class Statistik : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ts_workdir().empty());
        ps_resetinidat();
        inidat.funktion = 1;
        inidat.mod['P'] = 1;
        strcpy(inidatei, "tandor.ini");
        strcpy(connlogdatei, "connlog.txt");
        ts_writefile("tandor.ini", kopf + rest);
        hd_read(kopf.c_str());
        inidat.headerday = 30;
        inidat.headermon = 1;
        _de = false;
        verbindenverboten = programmende_gewuenscht = linksys = false;
        onlinezeit = offlinezeit = offlinezeita = inaktivzeit = 0;
        onlinezeit_vorher = -1;
        sy_setpath(SY_NETDEV, "net_dev");
        sy_setclock(SY_CLOCK_AUTO, montag);
        ti_htime(); // the time base starts here
        cn_statistikini();
        cn_statistikhooks = {};
        ifname = "ppp0";
        starts = stops = 0;
        stopmodus = -1;
        cn_statistikhooks.ifname = [] { return ifname.c_str(); };
        cn_statistikhooks.start = [] {
            starts++;
            cn_statistikreset();
        };
        cn_statistikhooks.stop = [](int m) {
            stops++;
            stopmodus = m;
        };
        ps_hooks.statustext = [](const char* t, const char*) { status = t; };
    }
    void TearDown() override {
        sy_setclock(SY_CLOCK_REAL);
        sy_setpath(SY_NETDEV, nullptr);
        ps_hooks = {};
        cn_statistikhooks = {};
    }
    // A connection just made over a fresh interface, as dial-up leaves it.
    void verbunden() {
        ppp(0, 0);
        cn_statistikreset();
        onlinezeit = 1;
    }
};

TEST_F(Statistik, InterfaceTableAsTheKernelPrintsIt) {
    const uint64_t fehler[6] = {3, 12, 1, 2, 7, 4}; // errs, drop, fifo, frame; errs, colls
    netdev(ifzeile("wwp0s20f0u6i12", 1, 2) + ifzeile("ppp01", 7, 7) +
           ifzeile("ppp0", 6000000000ULL, 2147483648ULL, fehler));
    int64_t up = 0, down = 0;
    int err[8] = {};
    EXPECT_EQ(cn_ifstatistics(&up, &down, err), 1);
    EXPECT_EQ(down, 6000000000LL); // beyond 2^32, joined to the colon
    EXPECT_EQ(up, 2147483648LL);
    // Each field capped at 10; errors count a fifth, rounded up.
    const int erwartet[8] = {0, 0, 1 + 2, 4, 1, 2, 10, 0};
    EXPECT_TRUE(std::equal(err, err + 8, erwartet));
    ifname = "wwp0s20f0u6i12";
    EXPECT_EQ(cn_ifstatistics(&up, nullptr, nullptr), 1);
    EXPECT_EQ(up, 2);
    ifname = "ppp1";
    EXPECT_EQ(cn_ifstatistics(nullptr, nullptr, nullptr), 0);
    sy_setpath(SY_NETDEV, "fehlt");
    EXPECT_EQ(cn_ifstatistics(nullptr, nullptr, nullptr), -1);
    EXPECT_NE(ts_readfile("servilog.txt").find("ifconfig error 3."), std::string::npos);
}

TEST_F(Statistik, WithoutInterfaceNameTheDataPortDecides) {
    cn_statistikhooks.ifname = nullptr;
    cn_statistikhooks.setifname = nullptr;
    ppp(100, 100);
    struct {
        const char* con;
        int erwartet;
    } faelle[] = {{"", 0}, {"/dev/ttyUSB2,/dev/ttyUSB3", 0}, {"internet", -1}};
    for (auto& f : faelle) {
        strcpy(inidat.con, f.con);
        EXPECT_EQ(cn_ifstatistics(nullptr, nullptr, nullptr), f.erwartet) << f.con;
    }
    strcpy(inidat.con, "ppp0"); // names the interface itself
    EXPECT_EQ(cn_ifstatistics(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(cn_ifstatistics(nullptr, nullptr, nullptr), 1);
}

TEST_F(Statistik, RoundingToTheTariffUnits) {
    struct {
        int round, roundt;
        long offset, minuten, offsetneu, minutenneu;
        int vorher;
    } faelle[] = {
        {100, 15, 150000, 16, 200000, 30, -1},
        {100, 15, 1000, 15, 1000, 15, -1},
        {1, 1, 150001, 16, 150001, 16, 7},
        {2, 0, 2001, 0, 4000, 0, 7},
    };
    for (auto& f : faelle) {
        inidat.round = f.round;
        inidat.roundt = f.roundt;
        inidat.headervoffset = f.offset;
        inidat.headert = f.minuten;
        onlinezeit_vorher = 7;
        volzeitrunden();
        EXPECT_EQ(inidat.headervoffset, f.offsetneu);
        EXPECT_EQ(inidat.headert, f.minutenneu);
        EXPECT_EQ(onlinezeit_vorher, f.vorher);
    }
}

TEST_F(Statistik, RatesVolumeAndInactivity) {
    verbunden();
    ppp(200, 0); // 100 bytes/s over 2 s: no rate shown, but the bytes count
    Pass p = pass(2000);
    EXPECT_EQ(p.down, 0);
    EXPECT_EQ(p.up, 0);
    EXPECT_EQ(inidat.headervoffset, 999 + 200);
    EXPECT_EQ(p.kb, 1);
    EXPECT_EQ(inaktivzeit, 200u);
    // 3 MB/s down: far above the old display ceiling, still a rate and traffic.
    ppp(200 + 6000000, 2000);
    p = pass(2000);
    EXPECT_EQ(p.down, 3000000);
    EXPECT_EQ(p.up, 1000);
    EXPECT_EQ(inaktivzeit, 0u);
    EXPECT_EQ(onlinezeit, 2u + 200);
}

TEST_F(Statistik, APassKeepsWhatItMeasured) {
    verbunden();
    pass(2000);
    long v = inidat.headervoffset;
    // A slow pass of two minutes with 80 MB: more than the old per-pass ceiling.
    ppp(80000000, 0);
    pass(120000);
    long kb = inidat.headerv + inidat.headervoffset / 1000;
    EXPECT_EQ(kb, (v + 80000000) / 1000);
    // A pass too short to count keeps its bytes for the next one.
    ppp(80005000, 0);
    Pass p = pass(300);
    EXPECT_EQ(p.down, -1);
    EXPECT_EQ(inidat.headerv + inidat.headervoffset / 1000, kb);
    p = pass(1700);
    EXPECT_EQ(p.down, 2500);
    EXPECT_EQ(inidat.headerv + inidat.headervoffset / 1000, kb + 5);
    // More than 10 Gbit/s is no traffic of this link; the pass after counts again.
    ppp(80005000 + 3000000000LL, 0);
    p = pass(2000);
    EXPECT_EQ(p.down, -1);
    EXPECT_EQ(inidat.headerv + inidat.headervoffset / 1000, kb + 5);
    ppp(80005000 + 3000000000LL + 4000, 0);
    pass(2000);
    EXPECT_EQ(inidat.headerv + inidat.headervoffset / 1000, kb + 9);
}

TEST_F(Statistik, CountersAcrossTheirWidthsAndARecreatedInterface) {
    verbunden();
    struct {
        uint64_t rx, tx;
        long dazu; // bytes added to the pending volume
    } schritte[] = {
        {2147483000ULL, 4294967000ULL, 0},           // baselines of a link older than this run
        {2147484000ULL, 4294968296ULL, 1000 + 1296}, // across 2^31 and 2^32
        {300, 200, 500},                             // recreated: only its own traffic
        {800, 200, 500},
    };
    cn_statistikini(); // the link was up before: its old traffic is not this run's
    for (auto& s : schritte) {
        long vorher = inidat.headervoffset;
        ppp(s.rx, s.tx);
        pass(2000);
        EXPECT_EQ(inidat.headervoffset - vorher, s.dazu) << s.rx;
    }
}

TEST_F(Statistik, EveryStartedOnlineMinuteCounts) {
    verbunden();
    pass(1000);
    pass(1000); // a connection of two seconds counts its first minute
    EXPECT_EQ(inidat.headert, 1);
    for (int i = 0; i < 100; i++)
        pass(1800); // three minutes in regular passes
    EXPECT_EQ(inidat.headert, 4);
    for (int i = 0; i < 3; i++)
        pass(180000); // slow passes of three minutes each
    EXPECT_EQ(inidat.headert, 13);
    // Offline for twenty minutes: the next connection's first pass counts one minute.
    ifname = "";
    strcpy(inidat.con, "/dev/ttyUSB0");
    pass(1200000);
    ifname = "ppp0";
    verbunden();
    pass(1800);
    pass(1800);
    EXPECT_EQ(inidat.headert, 14);
}

TEST_F(Statistik, PeriodsCloseOnTheirCutOffDays) {
    struct {
        int day, dayt, altday, altmon;
        time_t jetzt;
        bool volumen, zeit;
    } faelle[] = {
        {1, 0, 31, 1, montag + 2 * 86400, true, false},     // 31.1. -> 1.2.
        {1, 1, 1, 2, montag + 3 * 86400, false, false},     // 1.2. -> 2.2.
        {32, 32, 29, 1, montag, true, true},                // daily
        {15, 0, 20, 1, 1710417600, true, false},            // 20.1. -> 14.3.: a month between
        {15, 15, 20, 1, montag + 86400 * 10, false, false}, // 20.1. -> 9.2.
        {15, 0, 0, 0, montag, false, false},                // no date known yet
    };
    for (auto& f : faelle) {
        SCOPED_TRACE(f.jetzt);
        sy_setclock(SY_CLOCK_AUTO, f.jetzt);
        inidat.day = f.day;
        inidat.dayt = f.dayt;
        inidat.headerday = f.altday;
        inidat.headermon = f.altmon;
        inidat.headerv = 500;
        inidat.headervoffset = 25400;
        inidat.headert = 70;
        ts_writefile("connlog.txt", "");
        cn_statistics(nullptr, nullptr, nullptr);
        std::string log = ts_readfile("connlog.txt");
        EXPECT_EQ(inidat.headerv == 0, f.volumen);
        EXPECT_EQ(ts_count(log, " Month total: 525 kB."), f.volumen ? 1 : 0);
        EXPECT_EQ(inidat.headert == 0, f.zeit);
        EXPECT_EQ(ts_count(log, " Month total: 0001:10"), f.zeit ? 1 : 0);
        if (f.volumen || f.zeit) {
            // The file holds the new period with today's date.
            struct tm t;
            sy_localtime(&t);
            char datum[16];
            snprintf(datum, sizeof datum, "%02d%02d", t.tm_mday, t.tm_mon + 1);
            EXPECT_EQ(ts_readfile("tandor.ini").substr(24, 4), datum);
        }
    }
}

TEST_F(Statistik, SubtotalAtMidnight) {
    sy_setclock(SY_CLOCK_AUTO, 1706745540); // 31.1. 23:59
    inidat.headerday = 31;
    verbunden();
    inidat.headerv = 40;
    inidat.headert = 59;
    pass(1000);
    pass(105000); // 00:00:46 on the 1st of February
    std::string log = ts_readfile("connlog.txt");
    EXPECT_NE(log.find(" Subtotal: 40 kB.\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" Subtotal: 0000:59\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Month total"), std::string::npos);
}

TEST_F(Statistik, HeaderWritesWhileConnected) {
    inidat.dayt = 1;
    verbunden();
    for (int i = 0; i < 5; i++)
        pass(1800);
    EXPECT_EQ(kopfschreiben(), 0); // not on every pass
    for (int i = 0; i < 8 * 34; i++)
        pass(1800); // eight minutes
    // At five minutes online, and once more when eleven minutes are unwritten.
    EXPECT_EQ(kopfschreiben(), 1);
    for (int i = 0; i < 3 * 34; i++)
        pass(1800);
    EXPECT_EQ(kopfschreiben(), 2);
    EXPECT_EQ(std::stol(ts_readfile("tandor.ini").substr(31, 6)), inidat.headert_alt);
    // 10 MB pending are written at once.
    ppp(12000000, 0);
    pass(1800);
    EXPECT_EQ(kopfschreiben(), 3);
    EXPECT_EQ(inidat.headerv, 12000);
}

TEST_F(Statistik, SaveAtTheEndKeepsWhatACounterPeriodKeeps) {
    verbunden();
    ppp(5400, 0);
    pass(2000);
    pass(1000); // the first minute
    ppp(9400, 0);
    inidat.day = 0;
    inidat.dayt = 0;
    cn_sichern(); // nothing persists without a period
    EXPECT_EQ(ts_readfile("tandor.ini"), kopf + rest);
    inidat.day = 1;
    cn_sichern(); // the last 4000 bytes too, written once
    EXPECT_EQ(inidat.headerv, 10);
    EXPECT_EQ(kopfschreiben(), 1);
    EXPECT_EQ(ts_readfile("tandor.ini").substr(0, 37), "01 1AA000000010-0000000030011-0000001");
}

TEST_F(Statistik, ErrorMonitorLevelsAndReconnect) {
    struct {
        int art, tol, zaehler, l;
        const char* feld;
    } faelle[] = {
        {ERR_CRC, 20, 0, 0, "0"},
        {ERR_BUF, 100, 10, 0, "+Error BUF 1"},
        {ERR_BUF, 100, 10, 2, "0"},
        {ERR_FRM, 10, 6, 0, "*Error FRM 6"},
        {ERR_CRC, 20, 21, 0, "*Error CRC 9"},
    };
    char feld[150];
    for (auto& f : faelle) {
        memset(inidat.err, 0, sizeof inidat.err);
        memset(cn_erro, 0, sizeof cn_erro);
        inidat.err[f.art] = f.tol;
        inidat.err[ERR_L] = f.l;
        cn_erro[f.art] = f.zaehler;
        cn_fehleranzeige(feld, sizeof feld, nullptr);
        EXPECT_STREQ(feld, f.feld);
    }
    // A counter at its tolerance ends the link and dials anew.
    verbunden();
    pass(2000);
    cn_erro[ERR_CRC] = 21;
    pass(2000);
    EXPECT_STREQ(cc_mtext[cc_mtextERR], "*Error CRC 9");
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(stopmodus, 1);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(status, " Reconnect.");
    EXPECT_NE(ts_readfile("connlog.txt").find(" Connection aborted. Error CRC"), std::string::npos);
    // Counters decay by a thirtieth and one per pass, CRC twice.
    pass(2000); // the pass after a reconnect clears them
    inidat.err[ERR_CRC] = 1000;
    inidat.err[ERR_BUF] = 100;
    cn_erro[ERR_BUF] = 60;
    cn_erro[ERR_CRC] = 60;
    cn_erro[ERR_TME] = 5; // no tolerance
    pass(2000);
    EXPECT_EQ(cn_erro[ERR_BUF], 57);
    EXPECT_EQ(cn_erro[ERR_CRC], 55);
    EXPECT_EQ(cn_erro[ERR_TME], 0);
}

TEST_F(Statistik, AutomaticConnectionWithTheDefaultPort) {
    ifname = "";
    inidat.con[0] = 0; // the default data port
    inidat.constart = false;
    Pass p = pass(2000);
    EXPECT_FALSE(p.start); // without automatic connection only offline time
    EXPECT_EQ(offlinezeit, 200u);
    inidat.constart = true;
    verbindenverboten = true;
    EXPECT_FALSE(pass(2000).start);
    verbindenverboten = false;
    verbindenhalten = true; // a warning question is open
    EXPECT_FALSE(pass(2000).start);
    verbindenhalten = false;
    p = pass(2000);
    EXPECT_TRUE(p.start);
    EXPECT_EQ(stopmodus, 0);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(status, " Connecting.");
}

} // namespace

TEST_F(Statistik, ProbeListCursorOnIdlePasses) {
    cn_statistikhooks.dnsecho = [](const char* host, bool) {
        proben += std::string(host) + " ";
        return true;
    };
    strcpy(inidat.ping, "8.8.8.8;999.5;9.9.9.9");
    inidat.pingp = nullptr;
    verbunden();
    for (int i = 0; i < 4; i++)
        pass(2000);
    cn_dnsbremse = true; // a pause entry holds the cursor
    pass(2000);
    cn_dnsbremse = false;
    ppp(100000, 0); // traffic: no probe
    pass(2000);
    EXPECT_EQ(proben, "8.8.8.8 999.5 9.9.9.9 8.8.8.8 999.5 ");
}

// The probe of an idle link with the real probe and a recording ping first on PATH: a pause
// entry "999.003.000.000" holds the cursor for three passes, an entry that could be taken
// for an option is never handed to ping, the address is pinged on the next pass.
TEST_F(Statistik, APauseEntryHoldsTheProbeAndAnOptionLikeHostIsNeverPinged) {
    std::string d = ts_scratchdir();
    ts_writefile(d + "/ping", "#!/bin/sh\necho \"$*\" >>" + d +
                                  "/argv\necho '1 packets transmitted, 1 received, 0% packet "
                                  "loss'\n");
    chmod((d + "/ping").c_str(), 0755);
    setenv("PATH", (d + ":" + getenv("PATH")).c_str(), 1);
    cn_statistikhooks.dnsecho = iz_dnsecho;
    strcpy(inidat.ping, "999.003.000.000;-c;127.000.000.001");
    inidat.pingp = nullptr;
    verbunden();
    for (int i = 0; i < 3; i++) {
        pass(2000);
        EXPECT_EQ(ts_readfile(d + "/argv"), "") << "pass " << i + 1;
    }
    pass(2000); // "-c": refused
    pass(2000);
    EXPECT_EQ(ts_readfile(d + "/argv"), "-q -c 1 -s 1 -W 1 -- 127.0.0.1\n");
}

TEST(Probe, EntriesAddressesAndWaits) {
    struct {
        const char* ip;
        int pseudo;
        const char* ziel; // null: never pinged
    } const faelle[] = {
        {"999.3", 3, "999.3"},
        {"999.003.000.000", 3, "999.003.000.000"},
        {"999.99", 99, "999.99"},
        {"999.111", 111, "999.111"},
        {"999.1", 1, "999.1"},
        {"999.0", 0, "999.0"},
        {"999.100", 0, "999.100"},
        {"999.", 0, "999."},
        {"127.000.000.001", -1, "127.0.0.1"},
        {"010.1.2.3", -1, "10.1.2.3"},
        {"host-1.example_2", -1, "host-1.example_2"},
        {"-c", -1, nullptr},
        {"a;reboot", -1, nullptr},
        {"$(id)", -1, nullptr},
        {"", -1, nullptr},
        {"1.2.3", -1, "1.2.3"},
    };
    for (const auto& f : faelle) {
        SCOPED_TRACE(f.ip);
        EXPECT_EQ(iz_pseudo(f.ip), f.pseudo);
        char z[100];
        bool ok = iz_pingziel(f.ip, z, sizeof z);
        EXPECT_EQ(ok, f.ziel != nullptr);
        if (ok && f.ziel) {
            EXPECT_STREQ(z, f.ziel);
        }
    }
    EXPECT_FALSE(iz_pingziel(std::string(100, 'a').c_str(), nullptr, 0));
    char z[100];
    EXPECT_FALSE(iz_pingziel(std::string(100, 'a').c_str(), z, sizeof z));
    EXPECT_TRUE(iz_pingziel(std::string(99, 'a').c_str(), z, sizeof z));
    EXPECT_EQ(iz_pingsekunden(600), 1);
    EXPECT_EQ(iz_pingsekunden(3000), 3);
    EXPECT_EQ(iz_pingsekunden(1000000), 99);
    EXPECT_TRUE(iz_ipok("999.5"));
    EXPECT_FALSE(iz_ipok("999.x"));
    EXPECT_FALSE(iz_ipok("127.0.0.1"));
}

// A ping that hangs is killed at its wait plus a second and leaves no zombie; the real
// ping answers from loopback.
TEST(Probe, AHangingPingIsKilledAndTheRealOneAnswers) {
    EXPECT_TRUE(iz_ping("127.000.000.001", 600));
    std::string d = ts_scratchdir();
    ts_writefile(d + "/ping", "#!/bin/sh\nexec sleep 60\n");
    chmod((d + "/ping").c_str(), 0755);
    setenv("PATH", (d + ":" + getenv("PATH")).c_str(), 1);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(iz_ping("127.0.0.1", 600));
    long ms = (long)std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - t0)
                  .count();
    EXPECT_GE(ms, 1900);
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child is left";
}

// The DNS echo counts an answer that the name does not exist, and fails within its wait
// when no name server answers; in a network and mount namespace of the test's own.
TEST(Probe, TheDnsEchoNeedsANameServerThatAnswers) {
    ASSERT_EQ(geteuid(), 0u) << "private namespaces need root";
    ASSERT_EQ(unshare(CLONE_NEWNET | CLONE_NEWNS), 0);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_EQ(system("ip link set lo up"), 0);
    std::string d = ts_scratchdir();
    ts_writefile(d + "/resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
    ASSERT_EQ(mount((d + "/resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr),
              0);
    int sim = ts_spawn(
        {TANDOR_BINARY_DIR "/tools/bin/httpsim", "--pidfile", d + "/pid", "--log", d + "/log"});
    for (int i = 0; i < 50 && ts_readfile(d + "/pid").empty(); i++)
        usleep(100000);
    EXPECT_TRUE(iz_dnsecho("999.111", false));
    EXPECT_NE(ts_readfile(d + "/log").find("NXDOMAIN"), std::string::npos)
        << ts_readfile(d + "/log");
    kill(sim, SIGTERM);
    ts_waitpid(sim, 3000);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(iz_dnsecho("999.111", false));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(3000));
}
