// The stand-in platform library: heap and robust memory, mutexes (including
// a lock that finds its owner dead), strings, byte order, the trace level,
// and the test controls that every other test relies on.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "vektest.hpp"

namespace {

// Read before any test runs (and before any fixture resets it).
const uint32_t g_initial_trace_level = vek_trace_level;

using SalTest = vektest::LeakCheckedTest;

// ---- ordinary heap ---------------------------------------------------------

TEST_F(SalTest, MallocAndFreeAreCounted) {
    const long live = vek_saltest_heap_live();
    void *p = vek_malloc(32);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x5A, 32);
    EXPECT_EQ(vek_saltest_heap_live(), live + 1);
    vek_free(p);
    EXPECT_EQ(vek_saltest_heap_live(), live);
    vek_free(nullptr); // accepted, counts nothing
    EXPECT_EQ(vek_saltest_heap_live(), live);
}

// The counters are kept per thread: blocks taken by threads that are still
// running, by threads that ended holding them and by threads released
// elsewhere all show in the totals, also with more threads at once than
// the counters have per-thread places (256; not under valgrind, whose
// serialised threads take a minute for that many).
TEST_F(SalTest, BlocksOfManyThreadsAreCountedWhileTheyRunAndAfterTheyEnd) {
    const int kThreads = vektest::under_valgrind() ? 24 : 300;
    std::vector<void *> heap(kThreads), robust(kThreads);
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    bool go = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            heap[t] = vek_malloc(16);
            vek_nvm_robust_malloc(16, &robust[t], VEK_NVM_NO_FILL);
            std::unique_lock<std::mutex> lock(m);
            ++arrived;
            cv.notify_all();
            cv.wait(lock, [&] { return go; });
            lock.unlock();
            // The even threads give their blocks back; the odd ones end
            // holding them.
            if (t % 2 == 0) {
                vek_free(heap[t]);
                vek_nvm_robust_free(&robust[t]);
            }
        });
    }
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return arrived == kThreads; });
        EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_ + kThreads);
        EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_ + kThreads);
        go = true;
        cv.notify_all();
    }
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_ + kThreads / 2);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_ + kThreads / 2);
    for (int t = 1; t < kThreads; t += 2) {
        vek_free(heap[t]);
        vek_nvm_robust_free(&robust[t]);
    }
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_);
}

TEST_F(SalTest, ReallocKeepsContents) {
    auto *p = static_cast<unsigned char *>(vek_malloc(16));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 16; ++i) p[i] = static_cast<unsigned char>(i + 1);
    auto *q = static_cast<unsigned char *>(vek_realloc(p, 4096));
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(q[i], i + 1) << i;
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_ + 1);
    q = static_cast<unsigned char *>(vek_realloc(q, 8)); // shrink keeps the head
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(q[i], i + 1) << i;
    vek_free(q);
}

TEST_F(SalTest, ReallocOfNullAllocates) {
    void *p = vek_realloc(nullptr, 24);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_ + 1);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), 1u);
    vek_free(p);
}

TEST_F(SalTest, FailedReallocLeavesTheOldBlockIntact) {
    auto *p = static_cast<char *>(vek_malloc(8));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcdefg", 8);
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vek_realloc(p, 1 << 16), nullptr);
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
    EXPECT_STREQ(p, "abcdefg");
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_ + 1);
    vek_free(p);
}

TEST_F(SalTest, StrdupCopiesOnTheHeap) {
    const char text[] = "Hello, platform";
    char *copy = vek_strdup(text);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, text);
    EXPECT_STREQ(copy, text);
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_ + 1);
    vek_free(copy);

    char *empty = vek_strdup("");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    vek_free(empty);

    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vek_strdup(text), nullptr);
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_);
}

// ---- robust memory ---------------------------------------------------------

TEST_F(SalTest, RobustMallocWritesTheBlockAndCountsIt) {
    void *p = nullptr;
    ASSERT_EQ(vek_nvm_robust_malloc(64, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xA5, 64);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_ + 1);
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_); // robust blocks are counted apart
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_);
}

TEST_F(SalTest, RobustMallocZeroFills) {
    // Dirty a block first so that a reused chunk would show stale bytes.
    for (int round = 0; round < 2; ++round) {
        void *dirty = nullptr;
        ASSERT_EQ(vek_nvm_robust_malloc(200, &dirty, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
        std::memset(dirty, 0xFF, 200);
        ASSERT_EQ(vek_nvm_robust_free(&dirty), VEK_ST_SUCCESS);

        void *p = nullptr;
        ASSERT_EQ(vek_nvm_robust_malloc(200, &p, VEK_NVM_ZERO_FILL), VEK_ST_SUCCESS);
        const std::vector<unsigned char> zeros(200, 0);
        EXPECT_EQ(std::memcmp(p, zeros.data(), zeros.size()), 0);
        ASSERT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
    }
}

TEST_F(SalTest, RobustMallocOfSizeZeroGivesAValidBlock) {
    void *p = nullptr;
    ASSERT_EQ(vek_nvm_robust_malloc(0, &p, VEK_NVM_ZERO_FILL), VEK_ST_SUCCESS);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_ + 1);
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
}

TEST_F(SalTest, FailedRobustMallocLeavesThePointerUnwritten) {
    int sentinel = 0;
    void *p = &sentinel;
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
    EXPECT_EQ(vek_nvm_robust_malloc(16, &p, VEK_NVM_ZERO_FILL), VEK_ST_NO_MEMORY);
    EXPECT_EQ(p, &sentinel);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_);
}

TEST_F(SalTest, RobustReallocKeepsContents) {
    void *p = nullptr;
    ASSERT_EQ(vek_nvm_robust_malloc(8, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
    std::memcpy(p, "robust!", 8);
    void *q = nullptr;
    ASSERT_EQ(vek_nvm_robust_realloc(p, 4096, &q), VEK_ST_SUCCESS);
    ASSERT_NE(q, nullptr);
    EXPECT_STREQ(static_cast<char *>(q), "robust!");
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_ + 1);
    EXPECT_EQ(vek_nvm_robust_free(&q), VEK_ST_SUCCESS);
}

TEST_F(SalTest, RobustReallocOfNullAllocates) {
    void *q = nullptr;
    ASSERT_EQ(vek_nvm_robust_realloc(nullptr, 32, &q), VEK_ST_SUCCESS);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_ + 1);
    EXPECT_EQ(vek_nvm_robust_free(&q), VEK_ST_SUCCESS);

    // A failing allocation through a NULL block: status and NULL out.
    int sentinel = 0;
    q = &sentinel;
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
    EXPECT_EQ(vek_nvm_robust_realloc(nullptr, 32, &q), VEK_ST_NO_MEMORY);
    EXPECT_EQ(q, nullptr);
}

TEST_F(SalTest, FailedRobustReallocNullsTheOutputAndKeepsTheOldBlock) {
    void *p = nullptr;
    ASSERT_EQ(vek_nvm_robust_malloc(8, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
    std::memcpy(p, "intact!", 8);
    int sentinel = 0;
    void *q = &sentinel;
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
    EXPECT_EQ(vek_nvm_robust_realloc(p, 1 << 16, &q), VEK_ST_NO_MEMORY);
    EXPECT_EQ(q, nullptr);
    EXPECT_STREQ(static_cast<char *>(p), "intact!");
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_ + 1);
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
}

TEST_F(SalTest, RobustFreeAcceptsANullHolder) {
    void *p = nullptr;
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_);
}

TEST_F(SalTest, RobustFreeWithAChosenStatusStillReleases) {
    for (vek_st_t st : {VEK_ST_PTHREAD_MUTEX_OWNER_DEAD, VEK_ST_NVM_ERROR}) {
        void *p = nullptr;
        ASSERT_EQ(vek_nvm_robust_malloc(16, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
        vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, 1, 1, st);
        EXPECT_EQ(vek_nvm_robust_free(&p), st);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_);
    }
}

// ---- allocation fault controls ---------------------------------------------

// Outcome of one heap allocation: true when it succeeded (the block is freed).
bool heap_call_succeeds() {
    void *p = vek_malloc(8);
    vek_free(p);
    return p != nullptr;
}

bool robust_call_succeeds() {
    void *p = nullptr;
    if (vek_nvm_robust_malloc(8, &p, VEK_NVM_NO_FILL) != VEK_ST_SUCCESS) return false;
    vek_nvm_robust_free(&p);
    return true;
}

std::vector<bool> heap_outcomes(int calls) {
    std::vector<bool> out;
    for (int i = 0; i < calls; ++i) out.push_back(heap_call_succeeds());
    return out;
}

struct AllocFaultCase {
    uint32_t nth;
    uint32_t count;
    std::vector<bool> outcomes; // of the next calls
    uint32_t fired;
};

TEST_F(SalTest, AllocFaultPicksTheNthCallAndTheCount) {
    const AllocFaultCase cases[] = {
        {1, 1, {false, true, true, true, true, true}, 1},
        {3, 1, {true, true, false, true, true, true}, 1},
        {2, 3, {true, false, false, false, true, true}, 3},
        {4, 0, {true, true, true, false, false, false}, 3}, // 0: every call from the nth on
        {1, 0, {false, false, false, false, false, false}, 6},
        {0, 1, {true, true, true, true, true, true}, 0}, // nth 0: disarmed
    };
    for (const AllocFaultCase &c : cases) {
        SCOPED_TRACE(vektest::format("nth %u count %u", c.nth, c.count));
        vek_saltest_reset();
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, c.nth, c.count);
        EXPECT_EQ(heap_outcomes(static_cast<int>(c.outcomes.size())), c.outcomes);
        EXPECT_EQ(vek_saltest_faults_fired(), c.fired);
        EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), c.outcomes.size());
    }
}

TEST_F(SalTest, AllocFaultCountsFromTheMomentItIsArmed) {
    EXPECT_TRUE(heap_call_succeeds());
    EXPECT_TRUE(heap_call_succeeds());
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 2, 1);
    EXPECT_EQ(heap_outcomes(3), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), 5u);
}

TEST_F(SalTest, AllocFaultIsDisarmedByNthZero) {
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 0);
    EXPECT_FALSE(heap_call_succeeds());
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
    EXPECT_EQ(heap_outcomes(3), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
}

TEST_F(SalTest, AllocKindsAreCountedApartAndAnyCountsBoth) {
    // A heap fault leaves robust allocations alone, and the other way round.
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 0);
    EXPECT_TRUE(robust_call_succeeds());
    EXPECT_FALSE(heap_call_succeeds());
    vek_saltest_reset();
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 0);
    EXPECT_TRUE(heap_call_succeeds());
    EXPECT_FALSE(robust_call_succeeds());
    vek_saltest_reset();

    // ANY counts heap and robust calls together: here the 3rd call of either kind.
    vek_saltest_fail_alloc(VEK_SALTEST_ANY, 3, 1);
    EXPECT_TRUE(heap_call_succeeds());
    EXPECT_TRUE(robust_call_succeeds());
    EXPECT_FALSE(robust_call_succeeds());
    EXPECT_TRUE(heap_call_succeeds());
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), 2u);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ROBUST), 2u);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ANY), 4u);
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
}

TEST_F(SalTest, EveryAllocatingCallIsCounted) {
    void *h = vek_malloc(4);
    h = vek_realloc(h, 8);
    char *s = vek_strdup("x");
    void *r = nullptr;
    ASSERT_EQ(vek_nvm_robust_malloc(4, &r, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
    void *r2 = nullptr;
    ASSERT_EQ(vek_nvm_robust_realloc(r, 8, &r2), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), 3u);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ROBUST), 2u);
    // Releases are not allocation calls.
    vek_free(h);
    vek_free(s);
    EXPECT_EQ(vek_nvm_robust_free(&r2), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), 3u);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ROBUST), 2u);
}

TEST_F(SalTest, ResetDisarmsAndZeroesCountersButKeepsLiveCounts) {
    void *p = vek_malloc(4);
    ASSERT_NE(p, nullptr);
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 0);
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 0, VEK_ST_MUTEX_WAIT_ERROR);
    EXPECT_FALSE(heap_call_succeeds());
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
    vek_saltest_reset();
    EXPECT_EQ(vek_saltest_faults_fired(), 0u);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), 0u);
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_LOCK), 0u);
    EXPECT_EQ(vek_saltest_heap_live(), heap_at_start_ + 1);
    EXPECT_TRUE(heap_call_succeeds());
    vek_free(p);
}

TEST_F(SalTest, ControlsIgnoreUnknownKindsAndCalls) {
    vek_saltest_fail_alloc(-1, 1, 0);
    vek_saltest_fail_alloc(VEK_SALTEST_ANY + 1, 1, 0);
    vek_saltest_fail_call(-1, 1, 0, VEK_ST_ERROR);
    vek_saltest_fail_call(VEK_SALTEST_NUM_CALLS, 1, 0, VEK_ST_ERROR);
    EXPECT_TRUE(heap_call_succeeds());
    EXPECT_TRUE(robust_call_succeeds());
    EXPECT_EQ(vek_saltest_alloc_calls(-1), 0u);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ANY + 1), 0u);
    EXPECT_EQ(vek_saltest_calls(-1), 0u);
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_NUM_CALLS), 0u);
    EXPECT_EQ(vek_saltest_faults_fired(), 0u);
}

// ---- mutexes ---------------------------------------------------------------

// True when another thread cannot take the mutex right now.
bool held_elsewhere(vek_mutex_t *m) {
    int rc = -1;
    std::thread([&] {
        rc = pthread_mutex_trylock(&m->pmutex);
        if (rc == 0) pthread_mutex_unlock(&m->pmutex);
    }).join();
    return rc == EBUSY;
}

using SalMutexTest = SalTest;

TEST_F(SalMutexTest, InitLockUnlockDestroy) {
    vek_mutex_t m;
    ASSERT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
    EXPECT_FALSE(held_elsewhere(&m));
    ASSERT_EQ(vek_mutex_lock(&m), VEK_ST_SUCCESS);
    EXPECT_TRUE(held_elsewhere(&m));
    EXPECT_EQ(vek_mutex_unlock(&m), VEK_ST_SUCCESS);
    EXPECT_FALSE(held_elsewhere(&m));
    EXPECT_EQ(vek_mutex_destroy(&m), VEK_ST_SUCCESS);
    for (int call :
         {VEK_SALTEST_MUTEX_INIT, VEK_SALTEST_MUTEX_LOCK, VEK_SALTEST_MUTEX_UNLOCK, VEK_SALTEST_MUTEX_DESTROY}) {
        EXPECT_EQ(vek_saltest_calls(call), 1u) << call;
    }
}

TEST_F(SalMutexTest, LockSerialisesThreads) {
    vek_mutex_t m;
    ASSERT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            ASSERT_EQ(vek_mutex_lock(&m), VEK_ST_SUCCESS);
            counter = counter + 1;
            ASSERT_EQ(vek_mutex_unlock(&m), VEK_ST_SUCCESS);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 4000);
    EXPECT_EQ(vek_mutex_destroy(&m), VEK_ST_SUCCESS);
}

TEST_F(SalMutexTest, InjectedOwnerDeadOnLockHoldsTheLock) {
    vek_mutex_t m;
    ASSERT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 1, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_EQ(vek_mutex_lock(&m), VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_TRUE(held_elsewhere(&m));
    EXPECT_EQ(vek_mutex_unlock(&m), VEK_ST_SUCCESS);
    EXPECT_FALSE(held_elsewhere(&m));
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
    EXPECT_EQ(vek_mutex_destroy(&m), VEK_ST_SUCCESS);
}

TEST_F(SalMutexTest, InjectedLockFailureDoesNotLock) {
    vek_mutex_t m;
    ASSERT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 2, 1, VEK_ST_MUTEX_WAIT_ERROR);
    EXPECT_EQ(vek_mutex_lock(&m), VEK_ST_SUCCESS); // 1st call: real lock
    EXPECT_EQ(vek_mutex_unlock(&m), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_mutex_lock(&m), VEK_ST_MUTEX_WAIT_ERROR); // 2nd call fails
    EXPECT_FALSE(held_elsewhere(&m));
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_LOCK), 2u);
    EXPECT_EQ(vek_mutex_destroy(&m), VEK_ST_SUCCESS);
}

TEST_F(SalMutexTest, InjectedUnlockAndDestroyStatusesStillAct) {
    vek_mutex_t m;
    ASSERT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_mutex_lock(&m), VEK_ST_SUCCESS);
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_UNLOCK, 1, 1, VEK_ST_MUTEX_POST_ERROR);
    EXPECT_EQ(vek_mutex_unlock(&m), VEK_ST_MUTEX_POST_ERROR);
    EXPECT_FALSE(held_elsewhere(&m)); // unlocked all the same
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_DESTROY, 1, 1, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_EQ(vek_mutex_destroy(&m), VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    // Destroyed all the same: the memory can be initialised afresh.
    ASSERT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_mutex_destroy(&m), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_faults_fired(), 2u);
}

TEST_F(SalMutexTest, InjectedInitFailureReturnsTheStatus) {
    vek_mutex_t m;
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_INIT, 1, 1, VEK_ST_MUTEX_INIT_ERROR);
    EXPECT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_MUTEX_INIT_ERROR);
    ASSERT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS); // the next call is real
    EXPECT_EQ(vek_mutex_destroy(&m), VEK_ST_SUCCESS);
}

TEST_F(SalMutexTest, CallFaultPicksTheNthCallAndTheCount) {
    vek_mutex_t m;
    ASSERT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
    struct Case {
        uint32_t nth, count;
        std::vector<vek_st_t> statuses;
    };
    const vek_st_t e = VEK_ST_MUTEX_POST_ERROR;
    const Case cases[] = {
        {2, 2, {0, e, e, 0, 0}},
        {3, 0, {0, 0, e, e, e}},
        {0, 0, {0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        vek_saltest_reset();
        vek_saltest_fail_call(VEK_SALTEST_MUTEX_UNLOCK, c.nth, c.count, e);
        std::vector<vek_st_t> got;
        for (std::size_t i = 0; i < c.statuses.size(); ++i) {
            ASSERT_EQ(vek_mutex_lock(&m), VEK_ST_SUCCESS);
            got.push_back(vek_mutex_unlock(&m));
        }
        EXPECT_EQ(got, c.statuses) << "nth " << c.nth << " count " << c.count;
        EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_UNLOCK), c.statuses.size());
    }
    vek_saltest_reset();
    // Disarming an armed call fault.
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 0, VEK_ST_MUTEX_WAIT_ERROR);
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 0, 0, VEK_ST_MUTEX_WAIT_ERROR);
    EXPECT_EQ(vek_mutex_lock(&m), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_mutex_unlock(&m), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_faults_fired(), 0u);
    EXPECT_EQ(vek_mutex_destroy(&m), VEK_ST_SUCCESS);
}

// A process-shared mutex in a shared mapping, unmapped at scope end.
class SharedMutex {
public:
    SharedMutex() {
        void *p = mmap(nullptr, sizeof(vek_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) m_ = static_cast<vek_mutex_t *>(p);
    }
    ~SharedMutex() {
        if (m_ != nullptr) munmap(m_, sizeof(vek_mutex_t));
    }
    SharedMutex(const SharedMutex &) = delete;
    SharedMutex &operator=(const SharedMutex &) = delete;
    vek_mutex_t *get() const { return m_; }

private:
    vek_mutex_t *m_ = nullptr;
};

// Locks the mutex in a forked child that then exits without unlocking.
// Returns the child's exit status (0: it locked).
int lock_in_dying_child(vek_mutex_t *m) {
    const pid_t pid = fork();
    if (pid == 0) _exit(vek_mutex_lock(m) == VEK_ST_SUCCESS ? 0 : 1);
    if (pid < 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Whether the system reports a dead owner of a robust mutex (qemu-user does
// not implement the robust futex list, so a dead owner's lock is never
// released there). Probed with plain pthread calls and a non-blocking try.
bool owner_death_is_reported() {
    static const bool reported = [] {
        SharedMutex probe;
        if (probe.get() == nullptr) return false;
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        const int init = pthread_mutex_init(&probe.get()->pmutex, &attr);
        pthread_mutexattr_destroy(&attr);
        if (init != 0) return false;
        const pid_t pid = fork();
        if (pid == 0) _exit(pthread_mutex_lock(&probe.get()->pmutex) == 0 ? 0 : 1);
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
        const int rc = pthread_mutex_trylock(&probe.get()->pmutex);
        if (rc == EOWNERDEAD) {
            pthread_mutex_consistent(&probe.get()->pmutex);
            pthread_mutex_unlock(&probe.get()->pmutex);
        } else if (rc == 0) {
            pthread_mutex_unlock(&probe.get()->pmutex);
        }
        if (rc != EBUSY) pthread_mutex_destroy(&probe.get()->pmutex);
        return rc == EOWNERDEAD;
    }();
    return reported;
}

TEST_F(SalMutexTest, LockAfterTheOwnerProcessDiedHoldsTheLockAndReportsIt) {
    if (!owner_death_is_reported()) {
        GTEST_SKIP() << "this system (e.g. qemu-user) does not release robust mutexes of dead owners";
    }
    SharedMutex shared;
    vek_mutex_t *m = shared.get();
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(vek_mutex_init(m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
    ASSERT_EQ(lock_in_dying_child(m), 0);

    EXPECT_EQ(vek_mutex_lock(m), VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_TRUE(held_elsewhere(m));
    EXPECT_EQ(vek_mutex_unlock(m), VEK_ST_SUCCESS);
    EXPECT_FALSE(held_elsewhere(m));

    // Made consistent: the mutex goes on working, across processes too.
    EXPECT_EQ(vek_mutex_lock(m), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_mutex_unlock(m), VEK_ST_SUCCESS);
    const pid_t pid = fork();
    if (pid == 0) {
        const bool ok = vek_mutex_lock(m) == VEK_ST_SUCCESS && vek_mutex_unlock(m) == VEK_ST_SUCCESS;
        _exit(ok ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(vek_mutex_destroy(m), VEK_ST_SUCCESS);
}

TEST_F(SalMutexTest, LockAfterTheOwnerThreadExitedHoldsTheLockAndReportsIt) {
    if (!owner_death_is_reported()) {
        GTEST_SKIP() << "this system (e.g. qemu-user) does not release robust mutexes of dead owners";
    }
    vek_mutex_t m;
    ASSERT_EQ(vek_mutex_init(&m, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
    vek_st_t in_thread = VEK_ST_ERROR;
    std::thread([&] { in_thread = vek_mutex_lock(&m); }).join(); // exits holding it
    ASSERT_EQ(in_thread, VEK_ST_SUCCESS);
    EXPECT_EQ(vek_mutex_lock(&m), VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_TRUE(held_elsewhere(&m));
    EXPECT_EQ(vek_mutex_unlock(&m), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_mutex_lock(&m), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_mutex_unlock(&m), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_mutex_destroy(&m), VEK_ST_SUCCESS);
}

// ---- strings ---------------------------------------------------------------

TEST(SalStrings, CaseInsensitiveCompare) {
    EXPECT_EQ(vek_stricmp("Hello World", "hELLO wORLD"), 0);
    EXPECT_EQ(vek_stricmp("", ""), 0);
    EXPECT_LT(vek_stricmp("abc", "ABD"), 0);
    EXPECT_GT(vek_stricmp("abd", "ABC"), 0);
    EXPECT_LT(vek_stricmp("ab", "ABC"), 0); // a prefix sorts first
    EXPECT_NE(vek_stricmp("a_b", "a-b"), 0);

    EXPECT_EQ(vek_strincmp("HelloX", "helloY", 5), 0);
    EXPECT_NE(vek_strincmp("HelloX", "helloY", 6), 0);
    EXPECT_EQ(vek_strincmp("abc", "xyz", 0), 0);
    EXPECT_EQ(vek_strincmp("Ab", "aB", 100), 0); // stops at the terminator
    EXPECT_LT(vek_strincmp("ab", "abc", 3), 0);
}

TEST(SalStrings, LengthAndCopy) {
    EXPECT_EQ(vek_strlen(""), 0u);
    EXPECT_EQ(vek_strlen("twelve chars"), 12u);
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(vek_strcpy(buf, "copy"), buf);
    EXPECT_STREQ(buf, "copy");
    EXPECT_EQ(buf[5], 'x'); // nothing written past the terminator
}

// ---- byte order ------------------------------------------------------------

TEST(SalByteOrder, HostToNetworkIsBigEndianInMemory) {
    const uint64_t v64 = vek_htonll(0x0102030405060708ull);
    unsigned char b64[8];
    std::memcpy(b64, &v64, sizeof b64);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(b64[i], i + 1) << i;

    const uint32_t v32 = vek_htonl(0x0A0B0C0Du);
    unsigned char b32[4];
    std::memcpy(b32, &v32, sizeof b32);
    const unsigned char want32[4] = {0x0A, 0x0B, 0x0C, 0x0D};
    EXPECT_EQ(std::memcmp(b32, want32, 4), 0);
}

TEST(SalByteOrder, NetworkToHostReversesIt) {
    for (uint64_t v : {0ull, 1ull, 0x0102030405060708ull, 0x8000000000000001ull, ~0ull}) {
        EXPECT_EQ(vek_ntohll(vek_htonll(v)), v);
        unsigned char big[8];
        for (int i = 0; i < 8; ++i) big[i] = static_cast<unsigned char>(v >> (56 - 8 * i));
        uint64_t wire = 0;
        std::memcpy(&wire, big, sizeof wire);
        EXPECT_EQ(vek_ntohll(wire), v);
    }
    for (uint32_t v : {0u, 1u, 0x0A0B0C0Du, 0xFFFFFFFFu}) EXPECT_EQ(vek_ntohl(vek_htonl(v)), v);
}

// ---- trace level -----------------------------------------------------------

TEST(SalTraceLevel, StartsAtZero) { EXPECT_EQ(g_initial_trace_level, 0u); }

} // namespace
