// The stand-in platform library's shared robust memory, on which the
// multi-process registry tests rely: blocks come from the shared mapping
// while it is on, keep their contents across a resize, are reused after
// release, are visible to forked children, and the arena only goes away
// when no block is left.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

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
    EXPECT_EQ(vek_saltest_shared_robust_begin(64 * 1024), -1);  // one at a time
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

    EXPECT_EQ(vek_saltest_shared_robust_end(), -1);  // blocks still live: kept
    EXPECT_EQ(vek_saltest_shared_robust_contains(grown), 1);
    void *after = robust(16);  // no longer served from the arena
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

} // namespace
