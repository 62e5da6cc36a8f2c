// The stand-in platform library's shared robust memory, on which the
// multi-process registry tests rely: blocks come from the shared mapping
// while it is on, keep their contents across a resize, are reused after
// release, are visible to forked children, and the arena only goes away
// when no block is left. A process killed inside the arena's allocator,
// holding its lock, leaves it usable.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "process_support.hpp"
#include "vektest.hpp"

namespace {

using SharedArenaTest = vektest::LeakCheckedTest;

void *robust(size_t size, uint32_t flag = VEK_NVM_NO_FILL) {
    void *p = nullptr;
    EXPECT_EQ(vek_nvm_robust_malloc(size, &p, flag), VEK_ST_SUCCESS);
    return p;
}

TEST_F(SharedArenaTest, ServesRobustBlocksWhileOn) {
    EXPECT_EQ(vek_saltest_shared_robust_live(), -1);
    void *before = robust(32);
    ASSERT_EQ(vek_saltest_shared_robust_begin(64 * 1024), 0);
    EXPECT_EQ(vek_saltest_shared_robust_begin(64 * 1024), -1); // one at a time
    EXPECT_EQ(vek_saltest_shared_robust_contains(before), 0);

    auto *zeroed = static_cast<unsigned char *>(robust(100, VEK_NVM_ZERO_FILL));
    EXPECT_EQ(vek_saltest_shared_robust_contains(zeroed), 1);
    EXPECT_EQ(std::vector<unsigned char>(zeroed, zeroed + 100), std::vector<unsigned char>(100, 0));
    void *empty = robust(0);
    EXPECT_NE(empty, nullptr);
    EXPECT_NE(empty, zeroed);
    EXPECT_EQ(vek_saltest_shared_robust_live(), 2);

    // A resize keeps the contents and stays in the arena.
    std::memset(zeroed, 0x5A, 100);
    void *grown = nullptr;
    ASSERT_EQ(vek_nvm_robust_realloc(zeroed, 4000, &grown), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_shared_robust_contains(grown), 1);
    const auto *bytes = static_cast<const unsigned char *>(grown);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 100), std::vector<unsigned char>(100, 0x5A));
    EXPECT_EQ(vek_saltest_shared_robust_live(), 2);

    // Blocks from before the arena are released to the heap as usual.
    EXPECT_EQ(vek_nvm_robust_free(&before), VEK_ST_SUCCESS);
    EXPECT_EQ(before, nullptr);

    EXPECT_EQ(vek_saltest_shared_robust_end(), -1); // blocks still live: kept
    EXPECT_EQ(vek_saltest_shared_robust_contains(grown), 1);
    void *after = robust(16); // no longer served from the arena
    EXPECT_EQ(vek_saltest_shared_robust_contains(after), 0);
    EXPECT_EQ(vek_nvm_robust_free(&after), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_nvm_robust_free(&grown), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_nvm_robust_free(&empty), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_shared_robust_live(), 0);
    EXPECT_EQ(vek_saltest_shared_robust_end(), 0);
    EXPECT_EQ(vek_saltest_shared_robust_live(), -1);
}

TEST_F(SharedArenaTest, ReusesReleasedSpaceAndReportsExhaustion) {
    ASSERT_EQ(vek_saltest_shared_robust_begin(8 * 1024), 0);
    // Fill the arena with small blocks, then release them all: the merged
    // space serves one large block.
    std::vector<void *> blocks;
    void *p = nullptr;
    while (vek_nvm_robust_malloc(48, &p, VEK_NVM_NO_FILL) == VEK_ST_SUCCESS) blocks.push_back(p);
    EXPECT_GT(blocks.size(), 50u);
    p = nullptr;
    EXPECT_EQ(vek_nvm_robust_malloc(1, &p, VEK_NVM_NO_FILL), VEK_ST_NO_MEMORY);
    EXPECT_EQ(p, nullptr);
    for (void *&b : blocks) EXPECT_EQ(vek_nvm_robust_free(&b), VEK_ST_SUCCESS);
    void *big = robust(6 * 1024);
    EXPECT_EQ(vek_saltest_shared_robust_contains(big), 1);
    void *too_big = nullptr;
    EXPECT_EQ(vek_nvm_robust_realloc(big, 64 * 1024, &too_big), VEK_ST_NO_MEMORY);
    EXPECT_EQ(too_big, nullptr);
    EXPECT_EQ(vek_nvm_robust_free(&big), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_shared_robust_end(), 0);
}

TEST_F(SharedArenaTest, ForkedChildrenShareTheBlocks) {
    ASSERT_EQ(vek_saltest_shared_robust_begin(16 * 1024), 0);
    struct Shared {
        uint32_t word;
        long live_seen_by_child;
    };
    auto *shared = static_cast<Shared *>(robust(sizeof(Shared), VEK_NVM_ZERO_FILL));
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        // The child writes through the shared block and allocates from the arena.
        shared->word = 0xC0FFEE;
        void *mine = nullptr;
        const bool ok = vek_nvm_robust_malloc(64, &mine, VEK_NVM_NO_FILL) == VEK_ST_SUCCESS &&
                        vek_saltest_shared_robust_contains(mine) == 1;
        shared->live_seen_by_child = vek_saltest_shared_robust_live();
        vek_nvm_robust_free(&mine);
        _exit(ok ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(shared->word, 0xC0FFEEu);
    EXPECT_EQ(shared->live_seen_by_child, 2);
    EXPECT_EQ(vek_saltest_shared_robust_live(), 1);
    void *p = shared;
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_shared_robust_end(), 0);
}

TEST_F(SharedArenaTest, CheckAndAbandon) {
    EXPECT_STREQ(vek_saltest_shared_robust_check(), "no arena");
    EXPECT_EQ(vek_saltest_shared_robust_abandon(), 0);
    ASSERT_EQ(vek_saltest_shared_robust_begin(16 * 1024), 0);
    EXPECT_EQ(vek_saltest_shared_robust_check(), nullptr);
    void *a = robust(40);
    void *b = robust(8);
    EXPECT_EQ(vek_nvm_robust_free(&a), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_shared_robust_check(), nullptr);
    EXPECT_EQ(vek_saltest_shared_robust_end(), -1); // b is live
    // Abandoning drops the arena with b in it; this process's own count
    // still holds b, which the leak check must not see.
    EXPECT_EQ(vek_saltest_shared_robust_abandon(), 1);
    EXPECT_EQ(vek_saltest_shared_robust_live(), -1);
    robust_at_start_ += 1;
    static_cast<void>(b);
}

// Children allocate, resize and free in the arena until they are killed at
// random instants, often inside the allocator with its lock held; after
// every kill the block list is whole, the live count is the blocks' and the
// arena serves and takes back blocks.
TEST_F(SharedArenaTest, SurvivesProcessesKilledInsideTheAllocator) {
    if (!proctest::robust_mutexes_work()) GTEST_SKIP() << "robust mutexes do not report a dead owner on this system";
    // Each dead child leaves up to 16 blocks of at most 1 KiB behind.
    ASSERT_EQ(vek_saltest_shared_robust_begin(8u << 20), 0);
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    for (int kill_no = 0; kill_no < 300; ++kill_no) {
        const pid_t pid = proctest::spawn([] {
            void *held[16] = {};
            for (uint32_t i = 0;; ++i) {
                void *&slot = held[(i * 7u) % 16u];
                if (slot == nullptr) {
                    vek_nvm_robust_malloc(16 + (i * 37u) % 700u, &slot, VEK_NVM_NO_FILL);
                } else if (i % 3u == 0u) {
                    void *bigger = nullptr;
                    if (vek_nvm_robust_realloc(slot, 32 + (i * 13u) % 900u, &bigger) == VEK_ST_SUCCESS) slot = bigger;
                } else {
                    vek_nvm_robust_free(&slot);
                }
            }
            return 0;
        });
        ASSERT_GT(pid, 0);
        const timespec pause{0, static_cast<long>(next(2000)) * 1000};
        nanosleep(&pause, nullptr);
        kill(pid, SIGKILL);
        ASSERT_EQ(proctest::wait_for(pid), "signal 9");
        ASSERT_EQ(vek_saltest_shared_robust_check(), nullptr) << "after kill " << kill_no;
        void *p = nullptr;
        ASSERT_EQ(vek_nvm_robust_malloc(100, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS) << "after kill " << kill_no;
        ASSERT_EQ(vek_saltest_shared_robust_contains(p), 1);
        ASSERT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
    }
    // What the children held is lost with them: the arena is abandoned.
    const long left = vek_saltest_shared_robust_abandon();
    EXPECT_GE(left, 0);
    std::printf("arena: 300 kills, %ld blocks left by the dead\n", left);
}

} // namespace
