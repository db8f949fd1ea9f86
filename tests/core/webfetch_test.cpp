#include "core/programstate.h"
#include "core/webfetch.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

namespace {

long jetztms() {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::atomic<int> splash21{0};
void zaehlesplash(int code) {
    if (code == 21) splash21++;
}

int offenedeskriptoren() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') n++;
    closedir(d);
    return n;
}

// A private network and mount namespace of this test process, in which privatenet.sh sets
// loopback up, points the host names at it and starts httpsim (which ends with the
// command privatenet.sh runs, here a sleep that TearDown kills).
struct WebFetch : ::testing::Test {
    std::string dir, ctl;
    int netz = -1;

    void SetUp() override {
        ASSERT_EQ(geteuid(), 0u) << "a private network and mounts need root";
        dir = ts_workdir();
        ASSERT_FALSE(dir.empty());
        inidat.mod['P'] = 1;
        ASSERT_EQ(unshare(CLONE_NEWNET | CLONE_NEWNS), 0) << strerror(errno);
        // The mounts of privatenet.sh must not reach the host's namespace.
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        ctl = dir + "/ctl";
        mkdir(ctl.c_str(), 0755);
        std::string pages = dir + "/pages";
        mkdir(pages.c_str(), 0755);
        ts_writefile(pages + "/index.html", "<html>" + std::string(2000, 'i') + "</html>");
        setenv("HTTPSIM_PAGES", pages.c_str(), 1);
        netz = ts_spawn({"/bin/sh", TANDOR_SOURCE_DIR "/scripts/privatenet.sh",
                         TANDOR_BINARY_DIR "/tools/bin", ctl, "--", "sleep", "600"},
                        dir + "/privatenet.out");
        ASSERT_TRUE(ts_waitfor(ctl + "/httpsim.pid", "\n", 15000))
            << ts_readfile(dir + "/privatenet.out");
        ps_hooks.splash = zaehlesplash;
    }
    void TearDown() override {
        ps_hooks.splash = nullptr;
        programmende_gewuenscht = false;
        if (netz > 0) {
            kill(netz, SIGKILL);
            ts_waitpid(netz, 5000);
        }
    }
    std::string simlog() { return ts_readfile(ctl + "/httpsim.log"); }
    std::string servilog() { return ts_readfile(dir + "/servilog.txt"); }
};

const std::string langerhost = "http://" + std::string(300, 'a') + "/";

struct iz_fall {
    const char* name;
    const char* url;
    const char *user, *pass;
    int timeout, frame;
    bool meld;
    bool da;              // a response comes back
    const char* enthaelt; // text of the response
    const char* fehlt;    // text the response must not hold
    long minlaenge, maxlaenge;
    long minms, maxms;    // the call returns within this span
    const char* simlog;   // httpsim saw this
    const char* servilog; // the service log got this
};

// Times are generous for a loaded machine but far below what the faults they catch cost
// (a lost "Connection: close" adds 2 s, a missing overall bound lets the drip run on).
const iz_fall iz_faelle[] = {
    {"page by name, stops at the end of the stream", "http://www.tandor.example/index.html",
     nullptr, nullptr, 1, 0, true, true, "<html>iiii", nullptr, 2000, 2500, 0, 1200,
     "GET /index.html HTTP/1.1\n  Host: www.tandor.example\n  Connection: close\n",
     "HTTP GET URL: http://www.tandor.example/index.html"},
    {"address literal", "127.0.0.1/index.html", nullptr, nullptr, 2000, 0, false, true, "200 OK",
     nullptr, 2000, 2500, 0, 1200, "Host: 127.0.0.1", nullptr},
    {"name known only to the name server", "http://dns.tandor.example/framed.html", nullptr,
     nullptr, 2, 0, false, true, "framed page", nullptr, 0, 1000, 0, 2500,
     "dns dns.tandor.example type 1 127.0.0.1", nullptr},
    {"frame followed", "http://www.tandor.example/frameset.html", nullptr, nullptr, 1, 1, false,
     true, "framed page", "<frameset", 0, 1000, 0, 2500, "GET /framed.html HTTP/1.1", nullptr},
    {"frame not asked for", "http://www.tandor.example/frameset.html", nullptr, nullptr, 1, 0,
     false, true, "<frame src=\"http://www.tandor.example/framed.html\"", nullptr, 0, 1000, 0, 1200,
     nullptr, nullptr},
    {"Basic authentication", "http://wiki.tandor.example/auth", "user", "pass", 1, 0, false, true,
     "authorized", nullptr, 0, 1000, 0, 1200, "  Authorization: Basic dXNlcjpwYXNz\n",
     "HTTP Authorization: Basic (hidden)"},
    {"wrong password", "http://wiki.tandor.example/auth", "user", "nope", 1, 0, false, true,
     "401 Unauthorized", nullptr, 0, 1000, 0, 1200, nullptr, nullptr},
    {"blanks and line breaks in the path stay in the request line",
     "http://www.tandor.example/echo?a b\r\nX-Evil: 1", nullptr, nullptr, 1, 0, false, true,
     "GET /echo?a%20b%0D%0AX-Evil:%201 HTTP/1.1", "\r\nX-Evil", 0, 1000, 0, 1200, nullptr, nullptr},
    {"5 MB page, 300,000 bytes kept", "http://www.tandor.example/big5m", nullptr, nullptr, 1, 0,
     false, true, "HTTP/1.1 200 OK", nullptr, 300000, 300000, 0, 5000, nullptr, nullptr},
    {"keep-alive server that ignores the close: 2 s of silence end it",
     "http://www.tandor.example/keepalive", nullptr, nullptr, 1, 0, false, true, "kept alive",
     nullptr, 0, 1000, 1800, 3800, nullptr, nullptr},
    {"server that never answers", "http://www.tandor.example/silent", nullptr, nullptr, 1, 0, false,
     false, nullptr, nullptr, 0, 0, 1800, 3500, "GET /silent", "HTTP GET URL: timeout"},
    {"connection refused", "http://127.0.0.2/index.html", nullptr, nullptr, 2, 0, true, false,
     nullptr, nullptr, 0, 0, 0, 1500, nullptr, "HTTP GET URL: connect failed"},
    {"unresolvable name", "http://nowhere.tandor.example/", nullptr, nullptr, 2, 0, false, false,
     nullptr, nullptr, 0, 0, 0, 5000, "dns nowhere.tandor.example type 1 NXDOMAIN",
     "HTTP GET URL: cannot resolve nowhere.tandor.example"},
    {"reset after the request", "http://www.tandor.example/reset", nullptr, nullptr, 1, 0, false,
     false, nullptr, nullptr, 0, 0, 0, 1500, "GET /reset", "HTTP GET URL: nothing received"},
    {"timeout 0 sends the whole request and reads nothing", "http://www.tandor.example/echo?zero",
     "user", "pass", 0, 0, false, false, nullptr, nullptr, 0, 0, 0, 2500,
     "GET /echo?zero HTTP/1.1\n  Host: www.tandor.example\n  Connection: close\n"
     "  Authorization: Basic dXNlcjpwYXNz\n",
     nullptr},
    {"negative timeout", "http://www.tandor.example/echo?negative", nullptr, nullptr, -1, 0, false,
     false, nullptr, nullptr, 0, 0, 0, 100, nullptr, nullptr},
    {"over-long host", langerhost.c_str(), nullptr, nullptr, 1, 0, false, false, nullptr, nullptr,
     0, 0, 0, 100, nullptr, "HTTP GET URL: no usable host"},
    {"a drip is cut at ten times the timeout", "http://www.tandor.example/drip", nullptr, nullptr,
     1, 0, false, true, "HTTP/1.1 200 OK\r\n", nullptr, 0, 1000, 19000, 23000, nullptr, nullptr},
};

TEST_F(WebFetch, AnswersOfTheWebStandIn) {
    for (const iz_fall& f : iz_faelle) {
        SCOPED_TRACE(f.name);
        splash21 = 0;
        long t0 = jetztms();
        char* r = iz_httpget(f.url, f.user, f.pass, f.timeout, f.frame, f.meld);
        long ms = jetztms() - t0;
        std::string antwort = r ? r : "";
        EXPECT_EQ(r != nullptr, f.da) << antwort.substr(0, 300);
        free(r);
        EXPECT_GE(ms, f.minms);
        EXPECT_LE(ms, f.maxms);
        if (f.enthaelt) {
            EXPECT_NE(antwort.find(f.enthaelt), std::string::npos) << antwort;
        }
        if (f.fehlt) {
            EXPECT_EQ(antwort.find(f.fehlt), std::string::npos) << antwort;
        }
        if (f.da) {
            EXPECT_GE((long)antwort.size(), f.minlaenge);
            EXPECT_LE((long)antwort.size(), f.maxlaenge);
        }
        EXPECT_EQ(splash21.load(), f.meld && f.da ? 1 : 0);
        if (f.simlog) {
            EXPECT_TRUE(ts_waitfor(ctl + "/httpsim.log", f.simlog, 3000)) << simlog();
        }
        if (f.servilog) {
            EXPECT_NE(servilog().find(f.servilog), std::string::npos) << servilog();
        }
    }
    EXPECT_EQ(simlog().find("negative"), std::string::npos);
    // The credentials reach the server only: the log shows that they were sent, not them.
    EXPECT_EQ(servilog().find("dXNlcjpwYXNz"), std::string::npos);
}

TEST_F(WebFetch, AThousandFetchesLeaveNoDescriptorBehind) {
    const char* urls[] = {"http://www.tandor.example/index.html", "127.0.0.2/index.html",
                          "127.0.0.1/reset", "127.0.0.1/missing.html"};
    for (const char* u : urls)
        free(iz_httpget(u, nullptr, nullptr, 1, 0, false));
    int vorher = offenedeskriptoren();
    int seiten = 0;
    for (int i = 0; i < 1000; i++) {
        char* r = iz_httpget(urls[i % 4], nullptr, nullptr, 1, 0, false);
        if (r && strstr(r, "iiii")) seiten++;
        free(r);
    }
    EXPECT_EQ(seiten, 250);
    EXPECT_EQ(offenedeskriptoren(), vorher);
}

TEST_F(WebFetch, AProgramEndCutsAFetchShort) {
    std::thread ende([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        programmende_gewuenscht = true;
    });
    long t0 = jetztms();
    char* r = iz_httpget("http://www.tandor.example/drip", nullptr, nullptr, 2, 0, false);
    long ms = jetztms() - t0;
    ende.join();
    free(r);
    EXPECT_LT(ms, 1200);
}

// A name server that takes the query and never answers: the resolver would wait for
// seconds; the fetch gives up at its timeout.
TEST_F(WebFetch, AHangingNameServerCostsNoMoreThanTheTimeout) {
    int stumm = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(53);
    inet_pton(AF_INET, "127.0.0.3", &sa.sin_addr);
    ASSERT_EQ(bind(stumm, (sockaddr*)&sa, sizeof sa), 0) << strerror(errno);
    ts_writefile(dir + "/resolv.conf", "nameserver 127.0.0.3\noptions timeout:5 attempts:3\n");
    ASSERT_EQ(mount((dir + "/resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr),
              0);
    long t0 = jetztms();
    char* r = iz_httpget("http://nowhere.tandor.example/", nullptr, nullptr, 1, 0, false);
    long ms = jetztms() - t0;
    EXPECT_EQ(r, nullptr);
    free(r);
    EXPECT_GE(ms, 1900);
    EXPECT_LT(ms, 3000);
    EXPECT_NE(servilog().find("resolving nowhere.tandor.example timed out"), std::string::npos)
        << servilog();
    close(stumm);
}

TEST(WebFetchBase64, Rfc4648Vectors) {
    const struct {
        const char* klar;
        const char* kodiert;
    } faelle[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xff\xfe\xfd\x80", "//79gA=="},
        {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
    };
    for (const auto& f : faelle) {
        SCOPED_TRACE(f.klar);
        // Exactly the room the result needs, so that a write beyond it shows under ASan.
        size_t platz = 4 * ((strlen(f.klar) + 2) / 3) + 1;
        char* t = (char*)malloc(platz);
        memcpy(t, f.klar, strlen(f.klar) + 1);
        iz__base64(t);
        EXPECT_STREQ(t, f.kodiert);
        free(t);
    }
}

// A recording xdg-open first on PATH: it writes its arguments and descriptors, then keeps
// running for a while, as a browser does.
struct WebFetchBrowser : ::testing::Test {
    std::string dir = ts_workdir();
    std::string pfad = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        inidat.mod['P'] = 1;
        mkdir((dir + "/bin").c_str(), 0755);
        ts_writefile(dir + "/bin/xdg-open",
                     "#!/bin/sh\n"
                     "{ echo \"argc $#\"; for a; do printf 'arg %s\\n' \"$a\"; done;\n"
                     "  echo \"fds $(ls /proc/$$/fd | tr '\\n' ' ')\"; } >\"" +
                         dir +
                         "/rec.tmp\"\n"
                         "mv \"" +
                         dir + "/rec.tmp\" \"" + dir +
                         "/rec\"\n"
                         "sleep 2\n");
        chmod((dir + "/bin/xdg-open").c_str(), 0755);
        setenv("PATH", (dir + "/bin:" + pfad).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", pfad.c_str(), 1); }
};

TEST_F(WebFetchBrowser, TheUrlIsOneArgumentThatNoShellSees) {
    const char* url = "http://tandor.example/a b;$(touch pwned)`touch pwned2`&c=1|d'e\"f";
    // A descriptor without close-on-exec must not reach the browser.
    int offen = open("/dev/null", O_RDONLY);
    ASSERT_EQ(dup2(offen, 77), 77);
    close(offen);
    long t0 = jetztms();
    EXPECT_TRUE(iz_httpbrowse(url));
    EXPECT_LT(jetztms() - t0, 1000) << "the browser runs detached";
    ASSERT_TRUE(ts_waitfor(dir + "/rec", "fds", 5000));
    std::vector<std::string> rec = ts_readlines(dir + "/rec");
    ASSERT_EQ(rec.size(), 3u);
    EXPECT_EQ(rec[0], "argc 1");
    EXPECT_EQ(rec[1], std::string("arg ") + url);
    EXPECT_EQ((" " + rec[2] + " ").find(" 77 "), std::string::npos) << rec[2];
    EXPECT_NE(access((dir + "/pwned").c_str(), F_OK), 0);
    EXPECT_NE(access((dir + "/pwned2").c_str(), F_OK), 0);
    // Nothing left for us to reap: the browser is not our child.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    close(77);
}

TEST_F(WebFetchBrowser, RefusedOrMissingBrowserIsReported) {
    EXPECT_FALSE(iz_httpbrowse("--help"));
    EXPECT_FALSE(iz_httpbrowse(""));
    usleep(300000);
    EXPECT_NE(access((dir + "/rec").c_str(), F_OK), 0) << "no browser for a refused URL";
    setenv("PATH", (dir + "/leer").c_str(), 1);
    EXPECT_FALSE(iz_httpbrowse("http://tandor.example/"));
    EXPECT_NE(ts_readfile(dir + "/servilog.txt").find("xdg-open could not be started"),
              std::string::npos);
}

} // namespace
