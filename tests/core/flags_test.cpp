// Cross-process flags: owner liveness, stale cleanup, the two-value pid, and query-and-set
// racing between real processes (helper_flags).
#include "core/flags.h"
#include "core/system.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <random>
#include <string>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

union semun_t {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

class Flags : public ::testing::Test {
  protected:
    std::string dir;
    unsigned long key = 0;
    void SetUp() override {
        dir = ts_scratchdir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
        std::random_device rd;
        key = 0x7A000000UL + (rd() & 0xFFFFFF);
    }
    // A case that points SY_PROC elsewhere leaves it so: the path copy is kept for the
    // life of the process, and every case runs in a process of its own.
    void TearDown() override { fl_clear(key); }
    bool exists() { return semget((key_t)key, 2, 0) >= 0; }
    void values(unsigned short v[2]) {
        int id = semget((key_t)key, 2, 0);
        ASSERT_GE(id, 0);
        semun_t a;
        a.array = v;
        ASSERT_EQ(semctl(id, 0, GETALL, a), 0);
    }
    // A set holding the given values, as a copy that stored them would leave it.
    void store(unsigned short v0, unsigned short v1) {
        int id = semget((key_t)key, 2, IPC_CREAT | 0666);
        ASSERT_GE(id, 0);
        struct sembuf ops[2] = {{0, (short)v0, IPC_NOWAIT}, {1, (short)v1, IPC_NOWAIT}};
        ASSERT_EQ(semop(id, ops, 2), 0);
    }
    std::string helper(std::vector<std::string> args, const std::string& out) {
        args.insert(args.begin(), ts_helper("helper_flags"));
        int pid = ts_spawn(args, out);
        int st = ts_waitpid(pid, 10000);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
        return ts_readfile(out);
    }
    std::string k() { return std::to_string(key); }
};

TEST_F(Flags, OwnFlagSetQueriedAndCleared) {
    EXPECT_FALSE(fl_query(key));
    EXPECT_FALSE(exists()); // a query creates nothing
    EXPECT_TRUE(fl_set(key));
    EXPECT_TRUE(fl_query(key));
    unsigned short v[2];
    values(v);
    EXPECT_EQ(v[0] + v[1] * 32768L, (long)getpid());
    EXPECT_TRUE(fl_queryset(key)); // the owner finds its own flag set
    EXPECT_EQ(helper({"query", k()}, dir + "/q"), "held\n");
    fl_clear(key);
    EXPECT_FALSE(exists());
    EXPECT_FALSE(fl_queryset(key));
    EXPECT_TRUE(fl_query(key));
}

TEST_F(Flags, DeadOwnerReadsFreeAndIsRemoved) {
    helper({"set", k()}, dir + "/out");
    ASSERT_TRUE(exists());
    EXPECT_FALSE(fl_query(key));
    EXPECT_FALSE(exists());
}

TEST_F(Flags, LivingOwnerHoldsUntilKilled) {
    std::string out = dir + "/hold";
    int pid = ts_spawn({ts_helper("helper_flags"), "hold", k(), "30"}, out);
    for (int i = 0; i < 500 && ts_readfile(out) != "ready\n"; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(ts_readfile(out), "ready\n");
    EXPECT_TRUE(fl_query(key));
    EXPECT_EQ(helper({"query", k()}, dir + "/q"), "held\n");
    kill(pid, SIGKILL);
    ts_waitpid(pid, 5000);
    EXPECT_FALSE(fl_query(key));
    EXPECT_FALSE(exists());
}

// Twenty copies started together: exactly one finds the flag free.
TEST_F(Flags, QuerySetHasExactlyOneWinner) {
    constexpr int N = 20;
    std::string go = dir + "/go", done = dir + "/done";
    std::vector<int> pids;
    for (int i = 0; i < N; i++)
        pids.push_back(ts_spawn({ts_helper("helper_flags"), "queryset", k(), go, done},
                                dir + "/out" + std::to_string(i)));
    ts_writefile(go, "");
    int fertig = 0;
    for (int t = 0; t < 3000 && fertig < N; t++) {
        fertig = 0;
        for (int i = 0; i < N; i++)
            fertig += !ts_readfile(dir + "/out" + std::to_string(i)).empty();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ts_writefile(done, "");
    for (int p : pids)
        ts_waitpid(p, 10000);
    int frei = 0, belegt = 0;
    for (int i = 0; i < N; i++) {
        std::string r = ts_readfile(dir + "/out" + std::to_string(i));
        frei += r == "free\n";
        belegt += r == "held\n";
    }
    EXPECT_EQ(frei, 1);
    EXPECT_EQ(belegt, N - 1);
}

TEST_F(Flags, PidAbove32767RoundTrips) {
    // A pid of 98765 is stored as 461 + 3 * 32768; its owner lives in a stand-in /proc.
    std::string proc = dir + "/proc";
    ASSERT_EQ(mkdir(proc.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((proc + "/98765").c_str(), 0755), 0);
    sy_setpath(SY_PROC, proc.c_str());
    store(461, 3);
    EXPECT_TRUE(fl_query(key));
    rmdir((proc + "/98765").c_str());
    EXPECT_FALSE(fl_query(key));
    EXPECT_FALSE(exists());
    // And the own pid, whatever its size, is found under the stand-in /proc.
    ASSERT_EQ(mkdir((proc + "/" + std::to_string(getpid())).c_str(), 0755), 0);
    EXPECT_TRUE(fl_set(key));
    EXPECT_TRUE(fl_query(key));
}

TEST_F(Flags, SetBeingCreatedIsNotRemoved) {
    // Created, not yet written by its creator: free, but left alone.
    ASSERT_GE(semget((key_t)key, 2, IPC_CREAT | 0666), 0);
    EXPECT_FALSE(fl_query(key));
    EXPECT_TRUE(exists());
    EXPECT_FALSE(fl_queryset(key)); // free: taken over
    EXPECT_TRUE(fl_query(key));
    fl_clear(key);
    // Zero values after an operation are stale and go.
    store(0, 0);
    EXPECT_FALSE(fl_query(key));
    EXPECT_FALSE(exists());
}

// An owner hidden from /proc (another user's process under hidepid) still counts as alive.
TEST_F(Flags, OwnerOfAnotherUserIsAlive) {
    std::string proc = dir + "/emptyproc";
    ASSERT_EQ(mkdir(proc.c_str(), 0755), 0);
    store(1, 0); // pid 1: never ours to signal once we are not root
    pid_t c = fork();
    if (c == 0) {
        if (getuid() == 0 && setuid(65534) != 0) _exit(3);
        sy_setpath(SY_PROC, proc.c_str());
        _exit(fl_query(key) ? 0 : 1);
    }
    int st = ts_waitpid(c, 5000);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_TRUE(exists());
    // The same pid that we may signal and that is missing from /proc is dead.
    if (getuid() == 0) {
        sy_setpath(SY_PROC, proc.c_str());
        EXPECT_FALSE(fl_query(key));
        EXPECT_FALSE(exists());
    }
}

TEST_F(Flags, LivingOwnerOfAnotherUserIsNotTakenOver) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    store(1, 0); // pid 1 belongs to root
    pid_t c = fork();
    if (c == 0) {
        if (setuid(65534) != 0) _exit(3);
        if (!fl_foreign(key)) _exit(4);
        if (!fl_queryset(key)) _exit(5); // found held ...
        if (fl_set(key)) _exit(6);       // ... and not taken over
        _exit(0);
    }
    int st = ts_waitpid(c, 5000);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_TRUE(fl_query(key));
    EXPECT_FALSE(fl_foreign(key)); // for root, pid 1 is its own
}

} // namespace
