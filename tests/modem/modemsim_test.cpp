// The modem simulator as a child process: its answers per device type, the SIM
// counters, echo, the control channel with its faults, and the transcript.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "modemsimulator.h"
#include "testsupport.h"

namespace {

// The simulator with its ports opened raw, as a client of the modem sees them.
struct Sim : ts_modemsim {
    int fd = -1;
    int zfd = -1;

    bool start(const std::vector<std::string>& args) {
        if (!ts_modemsim::start(args)) return false;
        fd = roh(port);
        if (!zweit.empty()) zfd = roh(zweit);
        return fd >= 0 && (zweit.empty() || zfd >= 0);
    }
    static int roh(const std::string& pfad) {
        int f = open(pfad.c_str(), O_RDWR | O_NOCTTY);
        if (f < 0) return -1;
        termios t{};
        tcgetattr(f, &t);
        cfmakeraw(&t);
        tcsetattr(f, TCSANOW, &t);
        return f;
    }
    ~Sim() {
        if (fd >= 0) close(fd);
        if (zfd >= 0) close(zfd);
    }
    void send(const std::string& s) { ASSERT_EQ(write(fd, s.data(), s.size()), (ssize_t)s.size()); }
    // Reads until the text holds one of the final results or ms pass.
    std::string read(long ms, const char* ende = nullptr, int von = -1) {
        std::string r;
        for (long waited = 0; waited < ms;) {
            pollfd p{von >= 0 ? von : fd, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                char buf[512];
                ssize_t n = ::read(p.fd, buf, sizeof buf);
                if (n <= 0) break;
                r.append(buf, static_cast<size_t>(n));
                if (ende ? r.find(ende) != std::string::npos
                         : (r.find("OK\r\n") != std::string::npos ||
                            r.find("ERROR") != std::string::npos ||
                            r.find("CONNECT") != std::string::npos))
                    break;
            } else {
                waited += 20;
            }
        }
        return r;
    }
    std::string cmd(const std::string& c, long ms = 2000) {
        send(c + "\r");
        return read(ms);
    }
};

bool has(const std::string& s, const std::string& t) {
    return s.find(t) != std::string::npos;
}

TEST(ModemSim, IdentificationPerDeviceType) {
    struct Fall {
        int typ;
        const char* ati;   // what the identification answer holds after upper-casing
        const char* radio; // a radio mode command this type takes
    };
    const Fall faelle[] = {
        {1, "GLOBETROTTER", "AT_OPSYS=1,2"},
        {2, "NOVATEL", "AT$NWRAT=1,2"},
        {3, "HUAWEI", "AT^SYSCFG=14,2,3FFFFFFF,1,1"},
        {4, "APP3", "AT!SELRAT=01"},
        {5, "F3507", "AT+CFUN=6"},
        {6, "QUALCOMM INCORPORATED", "AT_OPSYS=0,2"},
        {7, "SAMSUNG ELECTRONICS", "AT_OPSYS=0,2"},
        {8, "ZTE INCORPORATED", "AT+ZSNT=1,0,0"},
        {11, "SONY", "AT+CSQ"},
        {12, "LG ELECTRONICS", "AT+CSQ"},
    };
    for (const auto& f : faelle) {
        SCOPED_TRACE(f.typ);
        Sim s;
        ASSERT_TRUE(s.start({"--type", std::to_string(f.typ), "--nopin"}));
        std::string a = s.cmd("ATI");
        for (char& c : a)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(has(a, f.ati)) << a;
        EXPECT_TRUE(has(a, "\r\nOK\r\n"));
        EXPECT_TRUE(has(s.cmd(f.radio), "\r\nOK\r\n"));
    }
    Sim h;
    ASSERT_TRUE(h.start({"--type", "3", "--nopin"}));
    EXPECT_TRUE(has(h.cmd("AT+CGMI"), "\r\nhuawei\r\n"));
    EXPECT_TRUE(has(h.cmd("AT^SYSCFG=13,1,3FFFFFFF,1,2"), "OK"));
    EXPECT_TRUE(has(h.cmd("AT^SYSCFG?"), "^SYSCFG:13,1,3FFFFFFF,1,2"));
    EXPECT_TRUE(has(h.cmd("AT+ZSNT=1,0,0"), "ERROR")); // another vendor's command
}

TEST(ModemSim, EchoByteWiseAndAte0) {
    Sim s;
    ASSERT_TRUE(s.start({"--nopin"}));
    for (char c : std::string("AT+CSQ\r"))
        s.send(std::string(1, c)), usleep(2000);
    std::string a = s.read(2000);
    EXPECT_EQ(a, "AT+CSQ\r\r\n+CSQ: 18,99\r\n\r\nOK\r\n");
    EXPECT_EQ(s.cmd("ATE0"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(s.cmd("AT\n"), "\r\nOK\r\n"); // LF ignored
    EXPECT_EQ(s.cmd("AT+BOGUS"), "\r\nERROR\r\n");
    EXPECT_EQ(s.cmd("ATE1"), "\r\nOK\r\n");
    EXPECT_EQ(s.cmd("AT"), "AT\r\r\nOK\r\n");
}

TEST(ModemSim, PinAndPukCounters) {
    Sim s;
    ASSERT_TRUE(s.start({"--pin", "4321", "--puk", "87654321"}));
    s.cmd("ATE0");
    EXPECT_TRUE(has(s.cmd("AT+CPIN?"), "+CPIN: SIM PIN"));
    EXPECT_TRUE(has(s.cmd("AT+CREG?"), "ERROR"));
    s.cmd("AT+CMEE=2");
    EXPECT_TRUE(has(s.cmd("AT+CGREG?"), "SIM PIN required"));
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(has(s.cmd("AT+CPIN=\"0000\""), "+CME ERROR: incorrect password"));
    EXPECT_TRUE(has(s.cmd("AT+CPIN?"), "+CPIN: SIM PUK"));
    EXPECT_TRUE(has(s.cmd("AT+CPIN=\"4321\""), "ERROR")); // the PIN no longer helps
    EXPECT_TRUE(has(s.cmd("AT+CPIN=\"11111111\",\"1111\""), "incorrect password"));
    EXPECT_TRUE(has(s.cmd("AT+CPINR?"), "+CPINR: 0,9"));
    EXPECT_TRUE(has(s.cmd("AT+CPIN=\"87654321\",\"2468\""), "\r\nOK\r\n"));
    EXPECT_TRUE(has(s.cmd("AT+CPIN?"), "+CPIN: READY"));
    s.control("sim pin");
    EXPECT_TRUE(has(s.cmd("AT+CPIN=\"2468\""), "\r\nOK\r\n")); // the new PIN holds
    s.control("sim puk");
    for (int i = 0; i < 10; i++)
        s.cmd("AT+CPIN=\"00000000\",\"1111\"");
    EXPECT_TRUE(has(s.cmd("AT+CPIN=\"87654321\",\"1111\""), "ERROR"));
    EXPECT_TRUE(has(s.cmd("AT+CPIN?"), "+CME ERROR: 13"));

    Sim n;
    ASSERT_TRUE(n.start({"--nosim"}));
    EXPECT_TRUE(has(n.cmd("AT+CPIN?"), "\r\n+CME ERROR: 10\r\n"));
}

TEST(ModemSim, NetworkAndDataMode) {
    Sim s;
    ASSERT_TRUE(s.start({"--nopin", "--network", "E-Plus", "26203", "--cell", "1F2E", "ABCD"}));
    s.cmd("ATE0");
    EXPECT_TRUE(has(s.cmd("AT+CREG?"), "+CREG: 0,1\r\n"));
    s.cmd("AT+CGREG=2");
    EXPECT_TRUE(has(s.cmd("AT+CGREG?"), "+CGREG: 2,1,\"1F2E\",\"ABCD\""));
    EXPECT_TRUE(has(s.cmd("AT+COPS?"), "+COPS: 0,0,\"E-Plus\",2"));
    s.cmd("AT+COPS=3,2");
    EXPECT_TRUE(has(s.cmd("AT+COPS?"), "+COPS: 0,2,\"26203\",2"));
    s.cmd("AT+COPS=3,0");
    EXPECT_TRUE(has(s.cmd("AT+COPS=?"), "(2,\"E-Plus\""));
    EXPECT_TRUE(has(s.cmd("AT+CGDCONT=1,\"IP\",\"web\""), "OK"));
    EXPECT_TRUE(has(s.cmd("AT+CGDCONT?"), "1,\"IP\",\"web\""));
    EXPECT_TRUE(has(s.cmd("AT+CBC"), "+CBC: 0,80"));
    EXPECT_EQ(s.cmd("ATD*99#"), "\r\nCONNECT 7200000\r\n");
    s.send("AT+CSQ\r"); // data, not a command
    EXPECT_EQ(s.read(300), "");
    s.send("+++");
    EXPECT_EQ(s.read(2000), "\r\nOK\r\n");

    Sim u;
    ASSERT_TRUE(u.start({"--nopin", "--unquoted", "--type", "8"}));
    u.cmd("AT+CREG=2");
    EXPECT_TRUE(has(u.cmd("AT+CREG?"), "+CREG: 2,1,0A1B,00C3F2A1"));
    EXPECT_TRUE(has(u.cmd("AT+ZPAS?"), "+ZPAS: \"UMTS\""));
    // the access technology on demand
    u.control("rat 3");
    EXPECT_TRUE(has(u.cmd("AT+ZPAS?"), "+ZPAS: \"EDGE\""));
    EXPECT_TRUE(has(u.cmd("AT+COPS?"), "\",3\r\n"));
}

TEST(ModemSim, ControlChannelAndTranscript) {
    Sim s;
    ASSERT_TRUE(s.start({"--nopin", "--type", "5"}));
    s.cmd("ATE0");
    s.control("signal 27");
    EXPECT_TRUE(has(s.cmd("AT+CSQ"), "+CSQ: 27,99"));
    EXPECT_TRUE(has(s.cmd("AT+CIND?"), "+CIND: 5,5,"));
    s.control("network Vodafone.de 26202");
    s.control("cell 00FF 1234ABCD");
    s.cmd("AT+CGREG=2");
    EXPECT_TRUE(has(s.cmd("AT+COPS?"), "\"Vodafone.de\""));
    EXPECT_TRUE(has(s.cmd("AT+CGREG?"), "\"00FF\",\"1234ABCD\""));
    s.control("register 5");
    EXPECT_TRUE(has(s.cmd("AT+CGREG?"), "+CGREG: 2,5,\"00FF\""));
    s.control("register 2");
    EXPECT_TRUE(has(s.cmd("AT+CGREG?"), "+CGREG: 2,2\r\n"));
    s.control("ring");
    EXPECT_EQ(s.read(1000, "145\r\n"), "\r\nRING\r\n\r\n+CLIP: \"+491701234567\",145\r\n");
    s.control("sim missing");
    EXPECT_TRUE(has(s.cmd("AT+CPIN?"), "+CME ERROR: 10"));
    std::vector<std::string> z = ts_readlines(s.dir + "/transcript");
    ASSERT_GE(z.size(), 4u);
    EXPECT_TRUE(has(z[0], " < ATE0\\r")) << z[0];
    EXPECT_TRUE(has(z[1], " > ATE0\\r")) << z[1]; // the echo
    EXPECT_TRUE(has(ts_readfile(s.dir + "/transcript"), " > \\r\\nRING\\r\\n"));
    EXPECT_EQ(z[0][2], ':');
}

// What the call and USSD runs rely on: the caller's number and its type, a ring without
// one, the OK at once and the +CUSD line only after the delay in each coding, hex codes
// unpacked exactly in the transcript, a menu session that blocks until AT+CUSD=2, and a
// silent network.
TEST(ModemSim, CallsAndUssdAnswers) {
    Sim s;
    ASSERT_TRUE(s.start({"--nopin"}));
    s.cmd("ATE0");
    s.control("ring 0301234");
    EXPECT_EQ(s.read(1000, "129\r\n"), "\r\nRING\r\n\r\n+CLIP: \"0301234\",129\r\n");
    s.control("ring noclip");
    EXPECT_EQ(s.read(500, "never"), "\r\nRING\r\n");

    s.control("ussddelay 400");
    s.control("ussd Grüße €");
    struct Fall {
        const char* kodierung;
        std::string zeile;
    } faelle[] = {
        {"plain", "\r\n+CUSD: 0,\"Gr\xFC\xDF"
                  "e ?\",15\r\n"},
        {"gsm7", "\r\n+CUSD: 0,\"47B9DF53066DCA\",15\r\n"},
        {"ucs2", "\r\n+CUSD: 0,\"0047007200FC00DF0065002020AC\",72\r\n"},
    };
    for (const Fall& f : faelle) {
        s.control(std::string("ussdcoding ") + f.kodierung);
        EXPECT_EQ(s.cmd("AT+CUSD=1,\"*100#\",15", 300), "\r\nOK\r\n") << f.kodierung;
        EXPECT_EQ(s.read(250, "never"), "") << "before the delay";
        EXPECT_EQ(s.read(1000, f.zeile.c_str()), f.zeile);
    }

    s.control("ussdmode hexonly");
    EXPECT_EQ(s.cmd("AT+CUSD=1,\"*100#\",15"), "\r\nERROR\r\n");
    s.cmd("AT+CUSD=1,\"AA182CA68A8D1A\",15"); // *101*1# with CR as the fill septet
    s.cmd("AT+CUSD=1,\"AA182CA68A8D00\",15"); // zero padding
    s.read(1000, "never"); // their answers
    s.control("ussdmode menu");
    s.control("ussdcoding plain");
    s.control("ussd 1 Saldo");
    EXPECT_EQ(s.cmd("AT+CUSD=1,\"*100#\",15"), "\r\nOK\r\n");
    EXPECT_EQ(s.read(1000, "\r\n+CUSD: 1,\"1 Saldo\",15\r\n"), "\r\n+CUSD: 1,\"1 Saldo\",15\r\n");
    EXPECT_EQ(s.cmd("AT+CUSD=1,\"*100#\",15"), "\r\nERROR\r\n");
    EXPECT_EQ(s.cmd("AT+CUSD=2"), "\r\nOK\r\n");
    EXPECT_EQ(s.cmd("AT+CUSD=1,\"*100#\",15"), "\r\nOK\r\n");
    s.control("ussdmode silent");
    s.read(1000, "never");
    EXPECT_EQ(s.cmd("AT+CUSD=1,\"*101#\",15"), "\r\nOK\r\n");
    EXPECT_EQ(s.read(1000, "never"), "");
    std::string t = s.transcript();
    EXPECT_TRUE(has(t, "= USSD code: *101*1#\n")) << t;
    EXPECT_TRUE(has(t, "= USSD code: *101*1#@\n")) << t;
    EXPECT_TRUE(has(t, "= USSD code: *101#\n")) << t;
}

TEST(ModemSim, Faults) {
    Sim s;
    ASSERT_TRUE(s.start({"--nopin"}));
    s.cmd("ATE0");
    auto dauer = [](auto f) {
        timespec a{}, b{};
        clock_gettime(CLOCK_MONOTONIC, &a);
        f();
        clock_gettime(CLOCK_MONOTONIC, &b);
        return (b.tv_sec - a.tv_sec) * 1000 + (b.tv_nsec - a.tv_nsec) / 1000000;
    };
    s.control("fault late");
    s.send("AT\r");
    EXPECT_EQ(s.read(1000), "");
    EXPECT_EQ(s.read(2000), "\r\nOK\r\n");

    s.control("fault firstbyte");
    s.send("AT\r");
    EXPECT_EQ(s.read(150, "\r\nOK"), "\r");
    EXPECT_EQ(s.read(1000), "\nOK\r\n");

    s.control("fault split");
    s.send("AT+CSQ\r");
    std::string teil = s.read(100, "never");
    EXPECT_FALSE(teil.empty());
    EXPECT_FALSE(has(teil, "OK"));
    EXPECT_EQ(teil + s.read(1000), "\r\n+CSQ: 18,99\r\n\r\nOK\r\n");

    s.control("fault silence");
    EXPECT_EQ(s.cmd("AT", 500), "");
    EXPECT_EQ(s.cmd("AT"), "\r\nOK\r\n"); // only the one answer is lost
    s.control("fault silence 3");         // a modem that stays mute for a while
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(s.cmd("AT", 300), "") << i;
    EXPECT_EQ(s.cmd("AT"), "\r\nOK\r\n");

    s.control("fault garbage");
    std::string g = s.read(0);
    s.send("AT\r");
    g = s.read(500, "never");
    EXPECT_FALSE(g.empty());
    EXPECT_FALSE(has(g, "OK"));

    long ms = dauer([&] { s.control("fault hangup"); });
    EXPECT_LT(ms, 1000);
    int st = ts_waitpid(s.pid, 3000);
    ASSERT_NE(st, -1);
    EXPECT_TRUE(WIFEXITED(st));
    s.pid = -1;
    pollfd p{s.fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 1000), 1); // the line is gone: the reader learns it at once
    char c;
    EXPECT_LE(read(s.fd, &c, 1), 0);
}

// A frame of the Novatel diagnostic port with the check bytes the device expects.
std::string rahmen(unsigned char art, const std::string& text, unsigned char c1, unsigned char c2) {
    std::string r(651, '\0');
    r[0] = 0x4B;
    r[1] = 0x32;
    r[2] = static_cast<char>(art);
    r.replace(4, text.size(), text);
    r[644] = static_cast<char>(text.size());
    r[648] = static_cast<char>(c1);
    r[649] = static_cast<char>(c2);
    r[650] = 0x7E;
    return r;
}

TEST(ModemSim, NovatelSecondaryPortFrames) {
    Sim s;
    ASSERT_TRUE(s.start({"--type", "2", "--nopin", "--secondary", "--signal", "21"}));
    ASSERT_GE(s.zfd, 0);
    auto schreibe = [&](const std::string& d) {
        ASSERT_EQ(write(s.zfd, d.data(), d.size()), (ssize_t)d.size());
    };
    // the probe stays unanswered, as on a U740
    schreibe(std::string("\x30\x00\x01\xEB\x51\x7E", 6));
    EXPECT_EQ(s.read(300, "never", s.zfd), "");
    // a frame with a wrong check is dropped
    schreibe(rahmen(0x03, "AT+CSQ\r", 0x00, 0x00));
    EXPECT_EQ(s.read(300, "never", s.zfd), "");
    schreibe(rahmen(0x03, "AT+CSQ\r", 0x03, 0x03));
    std::string ack = s.read(2000, "never", s.zfd).substr(0, 651);
    ASSERT_EQ(ack.size(), 651u);
    EXPECT_EQ(ack[0], 'K');
    EXPECT_EQ(ack[644], 0);
    schreibe(rahmen(0x04, "", 0x34, 0x25));
    std::string a;
    for (int i = 0; i < 50 && a.size() < 651; i++)
        a += s.read(100, "never", s.zfd);
    ASSERT_EQ(a.size(), 651u);
    std::string text = "\r\n+CSQ: 21,99\r\n\r\nOK\r\n";
    EXPECT_EQ(a.substr(4, text.size()), text);
    EXPECT_EQ(static_cast<unsigned char>(a[644]), text.size());
    EXPECT_EQ(static_cast<unsigned char>(a[650]), 0x7E);
    // plain text commands on the same port get plain answers
    schreibe("AT$NWRAT?\r");
    EXPECT_TRUE(has(s.read(2000, "OK\r\n", s.zfd), "$NWRAT: 0,2,2"));
    // on demand, the next command frame gets the device's binary end status
    s.control("statusframe");
    schreibe(rahmen(0x03, "AT+CSQ\r", 0x03, 0x03));
    EXPECT_EQ(s.read(500, "never", s.zfd).substr(0, 2), std::string("\x7E\x03", 2));
}

TEST(ModemSim, PublishesStableName) {
    std::string byid = ts_scratchdir();
    const std::string name = "usb-HUAWEI_Technologies_HUAWEI_Mobile-if00-port0";
    {
        Sim s;
        ASSERT_TRUE(s.start({"--nopin", "--byid", byid, "--name", name}));
        char ziel[256] = "";
        ASSERT_GT(readlink((byid + "/" + name).c_str(), ziel, sizeof ziel - 1), 0);
        EXPECT_EQ(std::string(ziel), s.port);
    }
    EXPECT_NE(access((byid + "/" + name).c_str(), F_OK), 0); // removed on exit
}

} // namespace
