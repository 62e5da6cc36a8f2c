// The robust-memory allocator killed between any two of its stores: a
// forked child works on an area shared with its parent under a robust
// process-shared mutex and dies at ordered step n = 1, 2, ... of one
// allocation or release, until it finishes. Each time the parent takes
// the lock from the dead owner, mends the area, finds it whole, its own
// blocks intact, and new blocks apart from them.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <pthread.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../rsrc/process_support.hpp"
#include "robust_heap.hpp"
#include "vek_saltest.h"

namespace heap = vek_sal::heap;

namespace {

constexpr std::size_t kBytes = 512 << 10;
constexpr int kDied = 42;

struct Shared {
    pthread_mutex_t lock;
};

struct Held {
    unsigned char *p;
    std::size_t size;
};

// What the parent sets up, and the one operation the child dies in.
struct Scenario {
    const char *name;
    std::vector<std::size_t> allocs; // blocks the parent allocates
    std::vector<std::size_t> frees;  // of them, released again before the child runs
    long op_release;                 // the child releases this one of them, or -1
    std::size_t op_alloc;            // or allocates a block of this size
    std::size_t op_blocks = 0;       // (this many at once, when not 0)
};

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

std::vector<std::size_t> times(std::size_t n, std::size_t size) { return std::vector<std::size_t>(n, size); }

const Scenario kScenarios[] = {
    {"small alloc carves a slab", {}, {}, -1, 48},
    {"small alloc from a slab with room", {48, 48}, {}, -1, 48},
    {"small alloc fills its slab", times(14, 2048), {}, -1, 2048},
    {"small release from a full slab", times(15, 2048), {}, 3, 0},
    {"small release empties a second slab", times(64, 64), {0}, 63, 0},
    {"small blocks at once from two slabs", times(10, 2048), {}, -1, 2048, 12},
    {"small blocks at once from two bitmap words", {}, {}, -1, 16, 70},
    {"large alloc splits a free run", {}, {}, -1, 10000},
    {"large alloc takes a free run whole", {8192, 8192}, {0}, -1, 8192},
    {"large release beside blocks in use", {8192, 8192, 8192}, {}, 1, 0},
    {"large release merges the run after", {8192, 8192}, {}, 1, 0},
    {"large release merges the run before", {8192, 8192, 8192}, {0}, 1, 0},
    {"large release merges both neighbours", {8192, 8192, 8192, 8192}, {0, 2}, 1, 0},
};

void fill(unsigned char *p, std::size_t n, std::size_t tag) {
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(tag * 13 + i);
}
bool intact(const unsigned char *p, std::size_t n, std::size_t tag) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != static_cast<unsigned char>(tag * 13 + i)) return false;
    return true;
}

bool overlap(const unsigned char *a, std::size_t an, const unsigned char *b, std::size_t bn) {
    return a < b + bn && b < a + an;
}

class RobustHeapDeathTest : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        void *m = mmap(nullptr, kBytes + 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(m, MAP_FAILED);
        shared_ = static_cast<Shared *>(m);
        area_ = static_cast<unsigned char *>(m) + 4096;
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        ASSERT_EQ(pthread_mutex_init(&shared_->lock, &attr), 0);
        pthread_mutexattr_destroy(&attr);
    }
    void TearDown() override {
        pthread_mutex_destroy(&shared_->lock);
        munmap(shared_, kBytes + 4096);
    }

    Shared *shared_ = nullptr;
    unsigned char *area_ = nullptr;
};

TEST_P(RobustHeapDeathTest, EveryStepLeavesAnAreaTheNextLockerMends) {
    if (!proctest::robust_mutexes_work()) GTEST_SKIP() << "robust mutexes do not report a dead owner on this system";
    const Scenario &s = GetParam();
    ASSERT_TRUE(heap::format(area_, kBytes));
    std::vector<Held> all;
    for (std::size_t i = 0; i < s.allocs.size(); ++i) {
        auto *p = static_cast<unsigned char *>(heap::alloc(area_, s.allocs[i]));
        ASSERT_NE(p, nullptr);
        fill(p, s.allocs[i], i);
        all.push_back({p, s.allocs[i]});
    }
    for (const std::size_t i : s.frees) ASSERT_TRUE(heap::release(area_, all[i].p));
    ASSERT_EQ(heap::check(area_, kBytes), nullptr);
    // The blocks the parent goes on holding: neither released above nor by the child.
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < all.size(); ++i) {
        bool gone = static_cast<long>(i) == s.op_release;
        for (const std::size_t f : s.frees) gone = gone || f == i;
        if (!gone) kept.push_back(i);
    }
    const std::vector<unsigned char> before(area_, area_ + kBytes);

    std::uint32_t deaths = 0;
    for (std::uint32_t n = 1;; ++n) {
        ASSERT_LT(n, 1000u) << "the operation never finished";
        std::memcpy(area_, before.data(), kBytes);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (pthread_mutex_lock(&shared_->lock) != 0) _exit(3);
            vek_saltest_heap_die_at(n, kDied);
            void *out[128];
            const bool done = s.op_release >= 0 ? heap::release(area_, all[static_cast<std::size_t>(s.op_release)].p)
                              : s.op_blocks != 0
                                  ? heap::alloc_small_blocks(area_, s.op_alloc, out, s.op_blocks) == s.op_blocks
                                  : heap::alloc(area_, s.op_alloc) != nullptr;
            vek_saltest_heap_die_at(0, 0);
            pthread_mutex_unlock(&shared_->lock);
            _exit(done ? 0 : 4);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        const int code = WEXITSTATUS(status);
        ASSERT_TRUE(code == 0 || code == kDied) << "child exit " << code << " at step " << n;
        const int rc = pthread_mutex_lock(&shared_->lock);
        if (code == kDied) {
            ASSERT_EQ(rc, EOWNERDEAD) << "step " << n;
            heap::mend(area_, kBytes);
            ASSERT_EQ(pthread_mutex_consistent(&shared_->lock), 0);
            ++deaths;
        } else {
            ASSERT_EQ(rc, 0);
        }
        ASSERT_EQ(heap::check(area_, kBytes), nullptr) << s.name << ", death at step " << n;
        for (const std::size_t i : kept) {
            ASSERT_TRUE(intact(all[i].p, all[i].size, i)) << "block " << i << ", step " << n;
            ASSERT_GE(heap::block_size(area_, all[i].p), all[i].size);
        }
        // New blocks lie apart from the kept ones and from one another.
        std::vector<Held> fresh;
        for (std::size_t k = 0; k < 60; ++k) {
            const std::size_t size = std::size_t{16} << (k % 10);
            auto *p = static_cast<unsigned char *>(heap::alloc(area_, size));
            if (p == nullptr) break;
            for (const std::size_t i : kept) ASSERT_FALSE(overlap(p, size, all[i].p, all[i].size)) << "step " << n;
            for (const Held &f : fresh) ASSERT_FALSE(overlap(p, size, f.p, f.size)) << "step " << n;
            std::memset(p, 0xEE, size);
            fresh.push_back({p, size});
        }
        ASSERT_GE(fresh.size(), 10u);
        for (const std::size_t i : kept) ASSERT_TRUE(intact(all[i].p, all[i].size, i));
        for (const Held &f : fresh) ASSERT_TRUE(heap::release(area_, f.p));
        ASSERT_EQ(heap::check(area_, kBytes), nullptr);
        pthread_mutex_unlock(&shared_->lock);
        if (code == 0) break;
    }
    EXPECT_GT(deaths, 2u) << s.name;
}

INSTANTIATE_TEST_SUITE_P(Operations, RobustHeapDeathTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario> &info) {
                             std::string name;
                             for (const char *c = info.param.name; *c != '\0'; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

TEST(RobustHeapDeathControlTest, StepsCountAndADisarmedPointNeverFires) {
    std::vector<std::uint64_t> buf(64 << 10);
    ASSERT_TRUE(heap::format(buf.data(), buf.size() * 8));
    const std::uint32_t s0 = vek_saltest_heap_steps();
    void *p = heap::alloc(buf.data(), 100);
    const std::uint32_t s1 = vek_saltest_heap_steps();
    EXPECT_GT(s1, s0);
    vek_saltest_heap_die_at(1, 9);
    vek_saltest_heap_die_at(0, 9);
    EXPECT_TRUE(heap::release(buf.data(), p));
    EXPECT_GT(vek_saltest_heap_steps(), s1);
    vek_saltest_heap_die_at(1, 9);
    vek_saltest_reset(); // disarms it too
    p = heap::alloc(buf.data(), 100);
    EXPECT_TRUE(heap::release(buf.data(), p));
}

} // namespace
