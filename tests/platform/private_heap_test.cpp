// The private robust heap: blocks of every size from its areas, resizing
// that keeps contents, areas added as they fill and very large blocks with
// areas of their own, refusal of what is no block in use, and many threads
// allocating and releasing one another's blocks.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "private_heap.hpp"

namespace ph = vek_sal::private_heap;

namespace {

void fill(void *p, std::size_t n, unsigned tag) {
    auto *c = static_cast<unsigned char *>(p);
    for (std::size_t i = 0; i < n; ++i) c[i] = static_cast<unsigned char>(tag + i * 7);
}
bool intact(const void *p, std::size_t n, unsigned tag) {
    const auto *c = static_cast<const unsigned char *>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (c[i] != static_cast<unsigned char>(tag + i * 7)) return false;
    return true;
}

TEST(PrivateHeapTest, BlocksOfEverySizeAreAlignedOwnedAndReleasedOnce) {
    const std::size_t sizes[] = {0, 1, 16, 17, 100, 2048, 2049, 4096, 100000, 3 << 20, 20 << 20};
    for (const std::size_t size : sizes) {
        SCOPED_TRACE(size);
        void *p = ph::areas::alloc(size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
        EXPECT_TRUE(ph::areas::owns(p));
        EXPECT_GE(ph::areas::block_size(p), size == 0 ? 1 : size);
        fill(p, size, 3);
        EXPECT_TRUE(intact(p, size, 3));
        EXPECT_TRUE(ph::areas::release(p));
        EXPECT_FALSE(ph::areas::release(p)); // twice: refused
    }
}

TEST(PrivateHeapTest, WhatIsNoBlockInUseIsRefused) {
    int on_stack = 0;
    EXPECT_FALSE(ph::areas::owns(&on_stack));
    EXPECT_FALSE(ph::areas::release(&on_stack));
    EXPECT_FALSE(ph::areas::release(nullptr));
    EXPECT_EQ(ph::areas::block_size(&on_stack), 0u);
    auto *small = static_cast<unsigned char *>(ph::areas::alloc(64));
    auto *large = static_cast<unsigned char *>(ph::areas::alloc(50000));
    EXPECT_FALSE(ph::areas::release(small + 16));
    EXPECT_FALSE(ph::areas::release(large + 16));
    EXPECT_FALSE(ph::areas::release(large + 4096));
    EXPECT_EQ(ph::areas::resize(large + 16, 10), nullptr);
    EXPECT_TRUE(ph::areas::release(small));
    EXPECT_TRUE(ph::areas::release(large));
}

TEST(PrivateHeapTest, ResizeKeepsTheContents) {
    struct Case {
        std::size_t from, to;
    };
    const Case cases[] = {{10, 20},      {20, 10},         {100, 3000},      {3000, 100}, {5000, 90000},
                          {90000, 5000}, {1000, 30 << 20}, {30 << 20, 1000}, {64, 64}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        void *p = ph::areas::alloc(c.from);
        ASSERT_NE(p, nullptr);
        fill(p, c.from, 9);
        void *q = ph::areas::resize(p, c.to);
        ASSERT_NE(q, nullptr);
        EXPECT_GE(ph::areas::block_size(q), c.to);
        EXPECT_TRUE(intact(q, c.from < c.to ? c.from : c.to, 9));
        EXPECT_TRUE(ph::areas::release(q));
    }
}

TEST(PrivateHeapTest, AreasAreAddedWithoutALimitAndVeryLargeBlocksGoWithTheirArea) {
    std::vector<void *> held;
    for (int i = 0; i < 200; ++i) { // 200 MiB: several areas
        void *p = ph::areas::alloc(1 << 20);
        ASSERT_NE(p, nullptr) << i;
        static_cast<unsigned char *>(p)[0] = static_cast<unsigned char>(i);
        held.push_back(p);
    }
    for (std::size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(static_cast<unsigned char *>(held[i])[0], static_cast<unsigned char>(i));
        EXPECT_TRUE(ph::areas::release(held[i]));
    }
    auto *huge = static_cast<unsigned char *>(ph::areas::alloc(std::size_t{100} << 20));
    ASSERT_NE(huge, nullptr);
    huge[0] = 1;
    huge[(std::size_t{100} << 20) - 1] = 2;
    EXPECT_TRUE(ph::areas::owns(huge + (std::size_t{99} << 20)));
    EXPECT_TRUE(ph::areas::release(huge));
    EXPECT_FALSE(ph::areas::owns(huge));
    EXPECT_EQ(ph::areas::alloc(SIZE_MAX / 2), nullptr);
}

// Threads allocate, check and release blocks, and hand every other block
// to the next thread to release, so that blocks go back through caches
// other than the ones they came from.
TEST(PrivateHeapConcurrencyTest, ThreadsShareTheHeapAndOneAnothersBlocks) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    struct Mailbox {
        std::atomic<void *> slot[64] = {};
    };
    std::vector<Mailbox> boxes(kThreads);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(static_cast<unsigned>(t) + 1);
            std::vector<std::pair<void *, std::size_t>> mine;
            for (int r = 0; r < kRounds; ++r) {
                const std::size_t size = rng() % 16 == 0 ? 2049 + rng() % 30000 : 1 + rng() % 600;
                void *p = ph::areas::alloc(size);
                if (p == nullptr) {
                    ++bad;
                    continue;
                }
                std::memset(p, t + 1, size < 64 ? size : 64);
                if (r % 2 == 0) {
                    // Hand the block to the next thread (it releases what it finds).
                    void *old = boxes[(t + 1) % kThreads].slot[r % 64].exchange(p);
                    if (old != nullptr && !ph::areas::release(old)) ++bad;
                } else {
                    mine.emplace_back(p, size);
                }
                Mailbox &in = boxes[t];
                void *got = in.slot[rng() % 64].exchange(nullptr);
                if (got != nullptr && !ph::areas::release(got)) ++bad;
                if (mine.size() > 100) {
                    for (auto &[q, n] : mine) {
                        const auto *c = static_cast<const unsigned char *>(q);
                        for (std::size_t i = 0; i < (n < 64 ? n : 64); ++i)
                            if (c[i] != t + 1) ++bad;
                        if (!ph::areas::release(q)) ++bad;
                    }
                    mine.clear();
                }
            }
            for (auto &[q, n] : mine)
                if (!ph::areas::release(q)) ++bad;
        });
    }
    for (std::thread &th : threads) th.join();
    for (Mailbox &b : boxes)
        for (auto &s : b.slot) {
            void *p = s.exchange(nullptr);
            if (p != nullptr && !ph::areas::release(p)) ++bad;
        }
    EXPECT_EQ(bad.load(), 0);
}

TEST(PrivateHeapDeathTest, ADoubleReleaseEndsTheProcessWithAMessage) {
    if (ph::system_heap()) GTEST_SKIP() << "blocks come from the C library's heap";
    // A threadsafe death test runs the program again, which a program under
    // qemu-user cannot do by itself; the other tests' threads are gone here.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_DEATH(
        {
            void *p = ph::alloc(40);
            ph::release(p);
            ph::release(p);
        },
        "libVekSalIf: robust block 0x[0-9a-f]+: no block in use \\(released twice\\?\\)");
    int on_stack = 0;
    EXPECT_DEATH(ph::release(&on_stack), "libVekSalIf: robust block 0x[0-9a-f]+: not a robust block");
}

} // namespace
