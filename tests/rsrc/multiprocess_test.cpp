// Registries shared by processes: the handle, the registry and its records
// live in robust memory served from a shared mapping (the stand-in
// platform library's shared arena), forked processes allocate from the
// same resource without ever sharing an identifier, and a process killed
// while it holds a mutex leaves the next locker with 8000 and a consistent
// registry.
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "process_support.hpp"
#include "rsrc_fixture.hpp"

namespace {

using proctest::robust_mutexes_work;
using proctest::spawn;
using proctest::wait_for;

constexpr vek_st_t kDead = VEK_ST_PTHREAD_MUTEX_OWNER_DEAD;
constexpr uint32_t kIds = 256;
constexpr uint32_t kBase = 0x100;
// A handle, its registry and a resource of 256 identifiers, all in shared
// robust memory, and a shared table of which process holds each identifier.
class SharedRegistryTest : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ASSERT_EQ(vek_saltest_shared_robust_begin(1u << 20), 0);
        ASSERT_EQ(vek_nvm_robust_malloc(sizeof(vek_hdl_t), reinterpret_cast<void **>(&hdl_), VEK_NVM_ZERO_FILL),
                  VEK_ST_SUCCESS);
        hdl_->magic = VEK_HDL_MAGIC;
        ASSERT_EQ(vek_rsrc_init(hdl_), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_rsrc_create(hdl_, 1, "shared", kIds, kBase, &rec_), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_nvm_robust_malloc(kIds * sizeof(uint32_t), reinterpret_cast<void **>(&owner_), VEK_NVM_ZERO_FILL),
                  VEK_ST_SUCCESS);
        ASSERT_EQ(vek_saltest_shared_robust_contains(hdl_->rsrcRegistry), 1);
        ASSERT_EQ(vek_saltest_shared_robust_contains(rec_->bitmap->bits), 1);
    }
    void TearDown() override {
        if (hdl_ != nullptr) {
            EXPECT_EQ(vek_rsrc_release(hdl_), VEK_ST_SUCCESS);
            vek_nvm_robust_free(reinterpret_cast<void **>(&hdl_));
        }
        vek_nvm_robust_free(reinterpret_cast<void **>(&owner_));
        EXPECT_EQ(vek_saltest_shared_robust_live(), 0);
        EXPECT_EQ(vek_saltest_shared_robust_end(), 0);
        LeakCheckedTest::TearDown();
    }

    // numElemsFree agrees with the bitmap, the list with numRsrcs.
    void expect_consistent(uint32_t in_use) {
        EXPECT_EQ(rec_->numElemsFree, kIds - in_use);
        EXPECT_EQ(vek_bitmap_count(rec_->bitmap, 1), static_cast<int32_t>(in_use));
        uint32_t n = 0;
        for (vek_rsrc_t *r = hdl_->rsrcRegistry->rsrcHead; r != nullptr; r = r->next) ++n;
        EXPECT_EQ(n, hdl_->rsrcRegistry->numRsrcs);
        EXPECT_TRUE(rsrctest::mutex_free(&rec_->mutex));
        EXPECT_TRUE(rsrctest::mutex_free(&hdl_->rsrcRegistry->mutex));
    }

    // A child that takes the mutex and is killed while it holds it.
    void kill_while_holding(vek_mutex_t *m) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = spawn([&] {
            close(fds[0]);
            if (vek_mutex_lock(m) != VEK_ST_SUCCESS) return 1;
            const char c = 'L';
            if (write(fds[1], &c, 1) != 1) return 2;
            for (;;) pause();
        });
        ASSERT_GT(pid, 0);
        close(fds[1]);
        char c = 0;
        EXPECT_EQ(read(fds[0], &c, 1), 1);
        close(fds[0]);
        kill(pid, SIGKILL);
        EXPECT_EQ(wait_for(pid), "signal " + std::to_string(SIGKILL));
    }

    vek_hdl_t *hdl_ = nullptr;
    vek_rsrc_t *rec_ = nullptr;
    uint32_t *owner_ = nullptr;
};

// Child body: allocate and free runs, marking each identifier held in the
// shared table. Exit 0 when all went well; 3 for an identifier found held
// by another process, 4 for an unexpected status.
int churn(vek_hdl_t *hdl, vek_rsrc_t *rec, uint32_t *owner, uint32_t who) {
    const std::string name = "child" + std::to_string(who);
    vek_rsrc_t *own = nullptr;
    if (vek_rsrc_create(hdl, 2, name.c_str(), 64, 0, &own) != VEK_ST_SUCCESS) return 4;
    struct Run {
        uint32_t start, n;
    };
    std::vector<Run> held;
    uint32_t s = who * 2654435761u;
    auto next = [&s](uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) % n;
    };
    int result = 0;
    auto give_back = [&] {
        const Run r = held.front();
        held.erase(held.begin());
        for (uint32_t i = 0; i < r.n; ++i) {
            uint32_t expected = who;
            if (!__atomic_compare_exchange_n(&owner[r.start - kBase + i], &expected, 0u, false, __ATOMIC_SEQ_CST,
                                             __ATOMIC_SEQ_CST))
                result = 3;
        }
        if (vek_rsrc_free(rec, r.start, r.n) != VEK_ST_SUCCESS) result = 4;
    };
    for (int round = 0; round < 400 && result == 0; ++round) {
        const uint32_t n = 1 + next(5);
        uint32_t start = 0;
        const vek_st_t st = vek_rsrc_allocate(rec, n, &start);
        if (st == VEK_ST_SUCCESS) {
            for (uint32_t i = 0; i < n; ++i) {
                uint32_t expected = 0;
                if (!__atomic_compare_exchange_n(&owner[start - kBase + i], &expected, who, false, __ATOMIC_SEQ_CST,
                                                 __ATOMIC_SEQ_CST))
                    result = 3;
            }
            held.push_back({start, n});
        } else if (st != VEK_ST_INVALID_PARAMETER && st != VEK_ST_RSRC_INSUFF_IDS_AVAIL) {
            result = 4;
        }
        if (held.size() > 6 || (!held.empty() && next(3) == 0)) give_back();
    }
    while (!held.empty()) give_back();
    uint32_t id = 0;
    if (vek_rsrc_allocate(own, 8, &id) != VEK_ST_SUCCESS || vek_rsrc_destroy(hdl, own) != VEK_ST_SUCCESS) result = 4;
    return result;
}

TEST_F(SharedRegistryTest, ProcessesNeverShareAnIdentifier) {
    constexpr uint32_t kProcs = 4;
    std::vector<pid_t> pids;
    for (uint32_t p = 1; p <= kProcs; ++p) {
        const pid_t pid = spawn([&] { return churn(hdl_, rec_, owner_, p); });
        ASSERT_GT(pid, 0);
        pids.push_back(pid);
    }
    for (pid_t pid : pids) EXPECT_EQ(wait_for(pid), "exit 0");
    for (uint32_t i = 0; i < kIds; ++i) EXPECT_EQ(owner_[i], 0u) << i;
    EXPECT_EQ(hdl_->rsrcRegistry->numRsrcs, 1u);
    expect_consistent(0);
    // The children's records went back into the shared arena: the handle,
    // registry, record, name, bitmap header and words, and the owner table.
    EXPECT_EQ(vek_saltest_shared_robust_live(), 7);
}

TEST_F(SharedRegistryTest, DeadOwnerOfARecordMutex) {
    if (!robust_mutexes_work()) GTEST_SKIP() << "robust mutexes do not report a dead owner on this system";
    uint32_t id = 0;
    ASSERT_EQ(vek_rsrc_allocate(rec_, 3, &id), VEK_ST_SUCCESS);

    kill_while_holding(&rec_->mutex);
    // The next locker gets 8000, with the lock held and the work done.
    EXPECT_EQ(vek_rsrc_allocate(rec_, 2, &id), kDead);
    EXPECT_EQ(id, kBase + 3);
    expect_consistent(5);
    // The mutex was made consistent: the next operation is plain.
    EXPECT_EQ(vek_rsrc_allocate(rec_, 1, &id), VEK_ST_SUCCESS);
    EXPECT_EQ(id, kBase + 5);
    expect_consistent(6);

    // Every record operation reports it the same way.
    kill_while_holding(&rec_->mutex);
    EXPECT_EQ(vek_rsrc_free(rec_, kBase, 3), kDead);
    expect_consistent(3);
    kill_while_holding(&rec_->mutex);
    vek_rsrc_info_t info{};
    EXPECT_EQ(vek_rsrc_query(rec_, &info), kDead);
    EXPECT_EQ(info.numElemsFree, kIds - 3);
    kill_while_holding(&rec_->mutex);
    uint8_t res = 0xAA;
    EXPECT_EQ(vek_rsrc_issetv2(rec_, kBase + 3, &res), kDead);
    EXPECT_EQ(res, 0);
    expect_consistent(3);
}

TEST_F(SharedRegistryTest, DeadOwnerOfTheRegistryMutex) {
    if (!robust_mutexes_work()) GTEST_SKIP() << "robust mutexes do not report a dead owner on this system";
    kill_while_holding(&hdl_->rsrcRegistry->mutex);
    vek_rsrc_t *found = nullptr;
    EXPECT_EQ(vek_rsrc_find(hdl_, 1, "shared", &found), kDead);
    EXPECT_EQ(found, rec_);
    expect_consistent(0);

    kill_while_holding(&hdl_->rsrcRegistry->mutex);
    vek_rsrc_t *other = nullptr;
    EXPECT_EQ(vek_rsrc_create(hdl_, 1, "other", 8, 0, &other), kDead);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(hdl_->rsrcRegistry->numRsrcs, 2u);
    expect_consistent(0);

    // Destroy with both mutexes left by dead owners: each is unlocked before
    // it is destroyed, and the list stays whole.
    kill_while_holding(&hdl_->rsrcRegistry->mutex);
    kill_while_holding(&other->mutex);
    const uint32_t unlocks = vek_saltest_calls(VEK_SALTEST_MUTEX_UNLOCK);
    EXPECT_EQ(vek_rsrc_destroy(hdl_, other), kDead);
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_UNLOCK), unlocks + 2);
    EXPECT_EQ(hdl_->rsrcRegistry->rsrcHead, rec_);
    expect_consistent(0);

    // Release of a registry whose mutex was left locked.
    kill_while_holding(&hdl_->rsrcRegistry->mutex);
    EXPECT_EQ(vek_rsrc_release(hdl_), kDead);
    EXPECT_EQ(hdl_->rsrcRegistry, nullptr);
    EXPECT_EQ(vek_rsrc_init(hdl_), VEK_ST_SUCCESS);
}

} // namespace
