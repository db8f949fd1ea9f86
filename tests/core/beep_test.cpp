// The beep measured at a private PulseAudio server whose pipe sink writes into a fifo.
#include "core/helpers.h"
#include "core/programstate.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int rate = 20000;    // the sink's rate: s16le mono
constexpr int schwelle = 2000; // above any silence, far below the tone's 16384 peak

struct ton_t {
    long laenge = 0;     // samples from the first to the last loud one
    double frequenz = 0; // from the rising zero crossings
};

// Finds the loud span and measures its frequency over whole periods.
ton_t be_messen(const std::vector<int16_t>& s) {
    ton_t t;
    long first = -1, last = -1, rises = 0, rise0 = -1, rise1 = -1;
    int sign = 0;
    for (long i = 0; i < (long)s.size(); ++i) {
        if (s[i] > schwelle || s[i] < -schwelle) {
            if (first < 0) first = i;
            last = i;
        }
        if (s[i] > schwelle && sign < 0) {
            if (rise0 < 0) rise0 = i;
            rise1 = i;
            ++rises;
        }
        if (s[i] > schwelle)
            sign = 1;
        else if (s[i] < -schwelle)
            sign = -1;
    }
    if (first >= 0) t.laenge = last - first + 1;
    if (rises > 1) t.frequenz = (double)rate * (rises - 1) / (rise1 - rise0);
    return t;
}

class Beep : public ::testing::Test {
  protected:
    std::string dir;
    pid_t daemon = -1;
    std::thread leser;
    std::atomic<bool> stop{false};
    std::mutex mtx;
    std::vector<int16_t> samples;

    void SetUp() override {
        dir = ts_scratchdir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + dir + "/native").c_str(), 1);
        tonlos = false;
    }

    void TearDown() override {
        stop = true;
        if (leser.joinable()) leser.join();
        if (daemon > 0) {
            kill(daemon, SIGTERM);
            if (ts_waitpid(daemon, 5000) == -1) {
                kill(daemon, SIGKILL);
                ts_waitpid(daemon, 5000);
            }
        }
        tonlos = false;
    }

    // Starts the server and the fifo reader; fails the test when the server does not come up.
    void starten() {
        std::string fifo = dir + "/sink.fifo", sock = dir + "/native";
        daemon = ts_spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                           "--disallow-exit", "--log-target=stderr", "-L",
                           "module-native-protocol-unix auth-anonymous=1 socket=" + sock, "-L",
                           "module-pipe-sink sink_name=pipe file=" + fifo +
                               " format=s16le rate=20000 channels=1"
                               " use_system_clock_for_timing=yes"},
                          dir + "/pulse.log");
        ASSERT_GT(daemon, 0);
        struct stat st;
        for (int i = 0; i < 200 && (stat(sock.c_str(), &st) != 0 || stat(fifo.c_str(), &st) != 0);
             ++i) {
            ASSERT_EQ(waitpid(daemon, nullptr, WNOHANG), 0) << "pulseaudio ended at start:\n"
                                                            << ts_readfile(dir + "/pulse.log");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_EQ(stat(sock.c_str(), &st), 0) << "pulseaudio did not open its socket:\n"
                                              << ts_readfile(dir + "/pulse.log");
        int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        leser = std::thread([this, fd] {
            char buf[8192];
            size_t rest = 0; // an odd byte left over from the previous read
            while (!stop) {
                pollfd p = {fd, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0) continue;
                ssize_t n = read(fd, buf + rest, sizeof buf - rest);
                if (n <= 0) break;
                size_t have = rest + n, whole = have / 2 * 2;
                {
                    std::lock_guard<std::mutex> g(mtx);
                    for (size_t i = 0; i < whole; i += 2)
                        samples.push_back((int16_t)((uint8_t)buf[i] | (uint8_t)buf[i + 1] << 8));
                }
                rest = have - whole;
                if (rest) buf[0] = buf[whole];
            }
            close(fd);
        });
    }

    size_t marke() {
        std::lock_guard<std::mutex> g(mtx);
        return samples.size();
    }

    // What the sink played since the mark, after letting the fifo catch up.
    std::vector<int16_t> seit(size_t m) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        std::lock_guard<std::mutex> g(mtx);
        return std::vector<int16_t>(samples.begin() + m, samples.end());
    }
};

TEST_F(Beep, ToneHasItsFrequencyAndLength) {
    ASSERT_NO_FATAL_FAILURE(starten());
    struct {
        int fq, dur;
        double wantfq, wantms;
    } cases[] = {{1000, 500, 1000, 500},
                 {440, 1200, 440, 1200},
                 {1000, 300, 1000, 300},
                 {50, 10, 100, 50},
                 {9000, 200, 5000, 200}};
    for (auto& c : cases) {
        size_t m = marke();
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_TRUE(beep(c.fq, c.dur)) << ts_readfile(dir + "/pulse.log");
        // The stream is drained before beep returns: it blocks for about the tone.
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
        EXPECT_GE(ms, c.wantms * 0.6) << c.fq;
        ton_t t = be_messen(seit(m));
        EXPECT_NEAR(t.frequenz, c.wantfq, c.wantfq * 0.01) << c.fq << " Hz " << c.dur << " ms";
        EXPECT_NEAR(t.laenge * 1000.0 / rate, c.wantms, c.wantms * 0.1)
            << c.fq << " Hz " << c.dur << " ms";
    }
}

TEST_F(Beep, ConcurrentBeepsEachKeepTheirTone) {
    ASSERT_NO_FATAL_FAILURE(starten());
    size_t m = marke();
    std::atomic<bool> ok1{false}, ok2{false};
    std::thread a([&] { ok1 = beep(800, 400); });
    std::thread b([&] { ok2 = beep(2000, 400); });
    a.join();
    b.join();
    EXPECT_TRUE(ok1 && ok2);
    // The beeps play one after the other: split at the longest quiet gap.
    auto s = seit(m);
    long gapstart = 0, gapbest = 0, gapend = 0, lastloud = -1, first = -1;
    for (long i = 0; i < (long)s.size(); ++i)
        if (s[i] > schwelle || s[i] < -schwelle) {
            if (first < 0) first = i;
            if (lastloud >= 0 && i - lastloud > gapbest) {
                gapbest = i - lastloud;
                gapstart = lastloud;
                gapend = i;
            }
            lastloud = i;
        }
    ASSERT_GT(gapbest, 0);
    ton_t t1 = be_messen(std::vector<int16_t>(s.begin(), s.begin() + gapstart + 1));
    ton_t t2 = be_messen(std::vector<int16_t>(s.begin() + gapend, s.end()));
    double lo = std::min(t1.frequenz, t2.frequenz), hi = std::max(t1.frequenz, t2.frequenz);
    EXPECT_NEAR(lo, 800, 8);
    EXPECT_NEAR(hi, 2000, 20);
    EXPECT_NEAR(t1.laenge / 20.0, 400, 40);
    EXPECT_NEAR(t2.laenge / 20.0, 400, 40);
}

TEST_F(Beep, SilentWhenSoundIsOff) {
    ASSERT_NO_FATAL_FAILURE(starten());
    tonlos = true;
    size_t m = marke();
    EXPECT_FALSE(beep(1000, 500));
    ton_t t = be_messen(seit(m));
    EXPECT_EQ(t.laenge, 0);
}

TEST_F(Beep, FailsWithoutAServer) {
    // No server is started: the socket does not exist.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(beep(1000, 100));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("tandor: pa_simple_new(): "), std::string::npos) << err;
}

} // namespace
