// The crash soak: worker processes allocate, free, allocate at fixed
// positions, create and destroy resources on one registry in shared robust
// memory, while the parent kills them with SIGKILL at random instants and
// starts new ones. After every round, with no worker alive, the parent
// checks that every structure is whole, that no identifier was ever held by
// two live workers (a table of owners in shared memory, marked with
// compare-and-swap), and that once the identifiers of the dead are freed the
// whole resource can be allocated. It reports the kills, the violations and
// the blocks that dead workers allocated but never linked anywhere.
//
// VEK_SOAK_SECONDS sets its length (default 45 s; 3 s under valgrind).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "process_support.hpp"
#include "rsrc/rsrc_internal.hpp"
#include "vektest.hpp"

namespace {

using vek::rsrc::verify_record;
using vek::rsrc::verify_registry;

constexpr vek_st_t kDead = VEK_ST_PTHREAD_MUTEX_OWNER_DEAD;
constexpr int kWorkers = 4;
constexpr int kKillsPerRound = 40;

// One shared resource: its record and a table of which process holds each
// identifier (0: nobody).
struct Pool {
    const char *name;
    uint32_t size;
    uint32_t base;
};
constexpr Pool kPools[] = {{"pool", 256, 1000}, {"small", 64, 0}};
constexpr int kNumPools = 2;

struct Soak {
    vek_hdl_t hdl;
    vek_rsrc_t *rec[kNumPools];
    uint32_t owner_pool[256];
    uint32_t owner_small[64];
    uint32_t violations;
    char first_violation[160];
};

uint32_t *owners(Soak &s, int p) { return p == 0 ? s.owner_pool : s.owner_small; }

// Counts a violation; the first one's description, its parts streamed
// one after the other, is kept.
template <typename... Parts>
void violation(Soak &s, const Parts &...parts) {
    if (__atomic_fetch_add(&s.violations, 1u, __ATOMIC_SEQ_CST) == 0u) {
        std::ostringstream what;
        (what << ... << parts);
        std::snprintf(s.first_violation, sizeof s.first_violation, "%s", what.str().c_str());
    }
}

using proctest::Rng;

bool held_status(vek_st_t st) { return st == VEK_ST_SUCCESS || st == kDead; }

// A worker: runs until it is killed.
[[noreturn]] void work(Soak &s, int slot) {
    const uint32_t me = static_cast<uint32_t>(getpid());
    Rng rng{(uint64_t{me} << 20) ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    struct Run {
        int pool;
        uint32_t start, n;
    };
    std::vector<Run> held;
    const std::string own = std::string("w").append(std::to_string(slot));

    auto take = [&](int p, uint32_t start, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t expected = 0;
            uint32_t *o = &owners(s, p)[start - kPools[p].base + i];
            if (!__atomic_compare_exchange_n(o, &expected, me, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
                violation(s, "identifier ", start + i, " of ", kPools[p].name, " given to ", me, " while ", expected,
                          " holds it");
            }
        }
        held.push_back({p, start, n});
    };
    auto give_back = [&](size_t k) {
        const Run r = held[k];
        held.erase(held.begin() + static_cast<long>(k));
        for (uint32_t i = 0; i < r.n; ++i) {
            uint32_t expected = me;
            uint32_t *o = &owners(s, r.pool)[r.start - kPools[r.pool].base + i];
            if (!__atomic_compare_exchange_n(o, &expected, 0u, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
                violation(s, "identifier ", r.start + i, " held by ", me, " marked ", expected);
            }
        }
        const vek_st_t st = vek_rsrc_free(s.rec[r.pool], r.start, r.n);
        if (!held_status(st)) violation(s, "free of a held run: status ", st);
    };

    for (;;) {
        const uint32_t r = rng.next(100);
        const int p = static_cast<int>(rng.next(kNumPools));
        vek_rsrc_t *rec = s.rec[p];
        if (r < 40) {
            const uint32_t n = 1 + rng.next(5);
            // An 8000 does not tell whether the allocation happened: the
            // out-parameter does (it is written only then).
            uint32_t start = UINT32_MAX;
            const vek_st_t st = vek_rsrc_allocate(rec, n, &start);
            if (held_status(st)) {
                if (start != UINT32_MAX) take(p, start, n);
            } else if (st != VEK_ST_RSRC_INSUFF_IDS_AVAIL && st != VEK_ST_INVALID_PARAMETER &&
                       st != VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE) {
                violation(s, "allocate: status ", st);
            }
        } else if (r < 50) {
            const uint32_t n = 1 + rng.next(3);
            const uint32_t start = kPools[p].base + rng.next(kPools[p].size - n + 1);
            const vek_st_t st = vek_rsrc_allocate_fixed(rec, n, start);
            if (st == VEK_ST_SUCCESS) {
                take(p, start, n);
            } else if (st == kDead) {
                // Taken or not: nothing tells, so the run is left to the
                // reconciliation after the round, as a dead worker's.
            } else if (st != VEK_ST_RSRC_INSUFF_IDS_AVAIL && st != VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE) {
                violation(s, "allocate_fixed: status ", st);
            }
        } else if (r < 85) {
            if (!held.empty()) give_back(rng.next(static_cast<uint32_t>(held.size())));
        } else if (r < 92) {
            // A resource of its own, maybe left by the worker of this slot that died.
            vek_rsrc_t *mine = nullptr;
            vek_st_t st = vek_rsrc_create(&s.hdl, 2, own.c_str(), 16, 0, &mine);
            // It exists already: found instead (a dead owner's 8000 hides the
            // create's 4, so the record pointer tells).
            if (mine == nullptr && (st == VEK_ST_INVALID_VALUE || st == kDead)) {
                st = vek_rsrc_find(&s.hdl, 2, own.c_str(), &mine);
            }
            if (!held_status(st)) {
                violation(s, "create or find of ", own, ": status ", st);
                continue;
            }
            uint32_t id = 0;
            const vek_st_t a = vek_rsrc_allocate(mine, 1, &id);
            if (!held_status(a) && a != VEK_ST_RSRC_INSUFF_IDS_AVAIL) violation(s, "allocate on ", own, ": status ", a);
            st = vek_rsrc_destroy(&s.hdl, mine);
            if (!held_status(st)) violation(s, "destroy of ", own, ": status ", st);
        } else {
            vek_rsrc_t *found = nullptr;
            const vek_st_t st = vek_rsrc_find(&s.hdl, 1, kPools[p].name, &found);
            if (!held_status(st) || found != rec) violation(s, "find of ", kPools[p].name);
        }
        if (held.size() > 8) give_back(0);
    }
}

class CrashSoak : public ::testing::Test {
protected:
    void SetUp() override {
        if (!proctest::robust_mutexes_work())
            GTEST_SKIP() << "robust mutexes do not report a dead owner on this system";
        vek_saltest_reset();
        vek_trace_level = 0;
        ASSERT_EQ(vek_saltest_shared_robust_begin(4u << 20), 0);
        ASSERT_EQ(vek_nvm_robust_malloc(sizeof(Soak), reinterpret_cast<void **>(&s_), VEK_NVM_ZERO_FILL),
                  VEK_ST_SUCCESS);
        s_->hdl.magic = VEK_HDL_MAGIC;
        ASSERT_EQ(vek_rsrc_init(&s_->hdl), VEK_ST_SUCCESS);
        for (int p = 0; p < kNumPools; ++p) {
            ASSERT_EQ(vek_rsrc_create(&s_->hdl, 1, kPools[p].name, kPools[p].size, kPools[p].base, &s_->rec[p]),
                      VEK_ST_SUCCESS);
        }
    }
    void TearDown() override {
        if (s_ == nullptr) return;
        EXPECT_EQ(vek_rsrc_release(&s_->hdl), VEK_ST_SUCCESS);
        vek_nvm_robust_free(reinterpret_cast<void **>(&s_));
        vek_saltest_shared_robust_abandon();
    }

    pid_t start(int slot) {
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            // Workers spin; the killer must get the processor when its pause ends.
            [[maybe_unused]] const int niceness = nice(10);
            work(*s_, slot);
        }
        return pid;
    }

    void kill_and_reap(pid_t pid) {
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) {
            violation(*s_, "a worker ended by itself: ", status);
        }
        ++kills_;
    }

    // Frees what a dead worker marked as its own (the guide's reconciliation):
    // those identifiers are still allocated.
    void reclaim(uint32_t dead) {
        for (int p = 0; p < kNumPools; ++p) {
            for (uint32_t i = 0; i < kPools[p].size; ++i) {
                uint32_t expected = dead;
                if (__atomic_compare_exchange_n(&owners(*s_, p)[i], &expected, 0u, false, __ATOMIC_SEQ_CST,
                                                __ATOMIC_SEQ_CST)) {
                    const vek_st_t st = vek_rsrc_free(s_->rec[p], kPools[p].base + i, 1);
                    if (!held_status(st)) violation(*s_, "free of a dead worker's identifier: ", st);
                }
            }
        }
    }

    // With no worker alive: every structure whole, the dead's identifiers
    // freed, the whole resource allocatable, the registry working.
    void check_round() {
        if (const char *broken = vek_saltest_shared_robust_check()) violation(*s_, broken);
        vek_rsrc_t *found = nullptr;
        if (!held_status(vek_rsrc_find(&s_->hdl, 1, "pool", &found)) || found != s_->rec[0]) {
            violation(*s_, "find of pool after the round");
        }
        if (const char *broken = verify_registry(&s_->hdl)) violation(*s_, broken);
        std::vector<vek_rsrc_t *> leftovers;
        for (vek_rsrc_t *rec = s_->hdl.rsrcRegistry->rsrcHead; rec != nullptr; rec = rec->next) {
            vek_rsrc_info_t info{};
            if (!held_status(vek_rsrc_query(rec, &info))) violation(*s_, "query after the round");
            if (const char *broken = verify_record(rec)) violation(*s_, rec->name, ": ", broken);
            if (rec != s_->rec[0] && rec != s_->rec[1]) leftovers.push_back(rec);
        }
        for (vek_rsrc_t *rec : leftovers) {
            if (vek_rsrc_destroy(&s_->hdl, rec) != VEK_ST_SUCCESS)
                violation(*s_, "destroy of a dead worker's resource");
        }
        for (int p = 0; p < kNumPools; ++p) {
            vek_rsrc_t *rec = s_->rec[p];
            std::memset(owners(*s_, p), 0, kPools[p].size * sizeof(uint32_t));
            for (uint32_t i = 0; i < kPools[p].size; ++i) {
                if (vek_rsrc_isset(rec, kPools[p].base + i) == 1 &&
                    vek_rsrc_free(rec, kPools[p].base + i, 1) != VEK_ST_SUCCESS) {
                    violation(*s_, "free after the round");
                }
            }
            uint32_t first = 0;
            if (rec->numElemsFree != rec->numElems || vek_rsrc_allocate(rec, rec->numElems, &first) != VEK_ST_SUCCESS ||
                first != kPools[p].base || vek_rsrc_free(rec, first, rec->numElems) != VEK_ST_SUCCESS) {
                violation(*s_, "whole-resource allocation of ", kPools[p].name);
            }
        }
        vek_rsrc_t *probe = nullptr;
        if (vek_rsrc_create(&s_->hdl, 7, "probe", 8, 0, &probe) != VEK_ST_SUCCESS ||
            vek_rsrc_destroy(&s_->hdl, probe) != VEK_ST_SUCCESS) {
            violation(*s_, "create and destroy after the round");
        }
        ++rounds_;
    }

    Soak *s_ = nullptr;
    long kills_ = 0;
    long rounds_ = 0;
};

TEST_F(CrashSoak, WorkersKilledAtRandomInstants) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(vektest::soak_seconds(45));
    Rng rng{static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull + 1};
    const auto began = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline && s_->violations == 0) {
        pid_t pids[kWorkers];
        for (int w = 0; w < kWorkers; ++w) pids[w] = start(w);
        for (int k = 0; k < kKillsPerRound && std::chrono::steady_clock::now() < deadline; ++k) {
            const timespec pause{0, static_cast<long>(rng.next(3000)) * 1000};
            nanosleep(&pause, nullptr);
            const int w = static_cast<int>(rng.next(kWorkers));
            kill_and_reap(pids[w]);
            reclaim(static_cast<uint32_t>(pids[w]));
            pids[w] = start(w);
        }
        for (pid_t pid : pids) kill_and_reap(pid);
        check_round();
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    // Blocks besides the shared state, the registry and its two records
    // (record, name, bitmap header, words each): allocated by workers that
    // died before linking them anywhere.
    const long left = vek_saltest_shared_robust_live() - (1 + 1 + kNumPools * 4);
    std::printf("crash soak: %d workers, %ld kills in %ld rounds, %u violations, %ld blocks left by the dead, %.1f s\n",
                kWorkers, kills_, rounds_, s_->violations, left, took);
    EXPECT_EQ(s_->violations, 0u) << s_->first_violation;
    EXPECT_GT(kills_, 0);
}

} // namespace
