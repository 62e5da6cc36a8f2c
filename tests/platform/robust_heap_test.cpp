// The robust-memory allocator on one area: blocks, their sizes and
// alignment, release of what is no block, exhaustion, coalescing, the
// area's check and its mending of broken bookkeeping.
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "robust_heap.hpp"

namespace heap = vek_sal::heap;

namespace {

// A 16-byte aligned buffer formatted as an area.
class Area {
public:
    explicit Area(std::size_t bytes) : buf_(bytes / 16 + 1), bytes_(bytes) { EXPECT_TRUE(heap::format(mem(), bytes_)); }
    void *mem() { return buf_.data(); }
    unsigned char *bytes_at(std::size_t off) { return reinterpret_cast<unsigned char *>(buf_.data()) + off; }
    std::size_t size() const { return bytes_; }
    const char *check() { return heap::check(mem(), bytes_); }

private:
    struct alignas(16) Chunk {
        unsigned char b[16];
    };
    std::vector<Chunk> buf_;
    std::size_t bytes_;
};

// Fills a block with a pattern derived from its address and tag.
void fill(void *p, std::size_t n, unsigned tag) {
    auto *c = static_cast<unsigned char *>(p);
    for (std::size_t i = 0; i < n; ++i) c[i] = static_cast<unsigned char>(tag * 31 + i);
}
bool intact(const void *p, std::size_t n, unsigned tag) {
    const auto *c = static_cast<const unsigned char *>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (c[i] != static_cast<unsigned char>(tag * 31 + i)) return false;
    return true;
}

bool same(const heap::Stats &a, const heap::Stats &b) {
    return a.used_bytes == b.used_bytes && a.free_bytes == b.free_bytes && a.blocks == b.blocks;
}

TEST(RobustHeapTest, FormatNeedsTheMinimumAndLeavesAWholeEmptyArea) {
    std::vector<std::uint64_t> buf(heap::min_area_bytes() / 8 + 2);
    EXPECT_FALSE(heap::format(buf.data(), heap::min_area_bytes() - 16));
    EXPECT_FALSE(heap::format(nullptr, 1 << 20));
    EXPECT_STREQ(heap::check(buf.data(), heap::min_area_bytes()), "heap area not formatted");
    ASSERT_TRUE(heap::format(buf.data(), heap::min_area_bytes()));
    EXPECT_EQ(heap::check(buf.data(), heap::min_area_bytes()), nullptr);
    const heap::Stats s = heap::stats(buf.data());
    EXPECT_EQ(s.blocks, 0u);
    EXPECT_EQ(s.used_bytes, 0u);
    EXPECT_GT(s.free_bytes, 0u);
    // The smallest area still serves a block of every small size.
    void *p = heap::alloc(buf.data(), 2048);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(heap::block_size(buf.data(), p), 2048u);
    EXPECT_EQ(heap::check(buf.data(), heap::min_area_bytes()), nullptr);
    EXPECT_TRUE(heap::release(buf.data(), p));
    EXPECT_EQ(heap::check(buf.data(), heap::min_area_bytes()), nullptr);
}

TEST(RobustHeapTest, BlocksOfEverySizeAreAlignedSizedOwnedAndReleasedOnce) {
    Area a(1 << 20);
    const heap::Stats empty = heap::stats(a.mem());
    const std::size_t sizes[] = {0,   1,    15,   16,   17,   48,   100,  128,  129,
                                 500, 1024, 1500, 2047, 2048, 2049, 4096, 5000, 65536};
    for (const std::size_t size : sizes) {
        SCOPED_TRACE(size);
        void *p = heap::alloc(a.mem(), size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
        EXPECT_GE(heap::block_size(a.mem(), p), size == 0 ? 1 : size);
        EXPECT_TRUE(heap::owns(a.mem(), a.size(), p));
        EXPECT_EQ(heap::slot_size(a.mem(), a.size(), p), size <= 2048 ? heap::block_size(a.mem(), p) : 0);
        fill(p, heap::block_size(a.mem(), p), 7);
        EXPECT_EQ(a.check(), nullptr);
        EXPECT_EQ(heap::stats(a.mem()).blocks, 1u);
        EXPECT_TRUE(heap::release(a.mem(), p));
        EXPECT_FALSE(heap::release(a.mem(), p)); // twice: refused
        EXPECT_EQ(heap::block_size(a.mem(), p), 0u);
        EXPECT_EQ(a.check(), nullptr);
        EXPECT_EQ(heap::stats(a.mem()).blocks, 0u);
        EXPECT_EQ(heap::stats(a.mem()).used_bytes, 0u);
    }
    EXPECT_EQ(heap::alloc(a.mem(), empty.free_bytes + 1), nullptr);
}

TEST(RobustHeapTest, WhatIsNoBlockInUseIsRefusedAndChangesNothing) {
    Area a(256 << 10);
    void *small = heap::alloc(a.mem(), 64);
    void *large = heap::alloc(a.mem(), 10000);
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    const heap::Stats before = heap::stats(a.mem());
    unsigned char outside[32];
    void *const bad[] = {
        nullptr,
        outside,
        static_cast<unsigned char *>(small) + 16,   // inside a block
        static_cast<unsigned char *>(small) + 1,    // misaligned
        static_cast<unsigned char *>(large) + 4096, // a page inside a large block
        static_cast<unsigned char *>(large) + 16,
        a.mem(),                   // the bookkeeping
        a.bytes_at(a.size() - 16), // past the last page
    };
    for (void *p : bad) {
        SCOPED_TRACE(p);
        EXPECT_FALSE(heap::release(a.mem(), p));
        EXPECT_EQ(heap::block_size(a.mem(), p), 0u);
        EXPECT_EQ(heap::slot_size(a.mem(), a.size(), p), 0u);
        EXPECT_TRUE(same(heap::stats(a.mem()), before));
        EXPECT_EQ(a.check(), nullptr);
    }
    EXPECT_FALSE(heap::owns(a.mem(), a.size(), outside));
    EXPECT_FALSE(heap::owns(a.mem(), a.size(), a.mem()));
    EXPECT_TRUE(heap::release(a.mem(), small));
    EXPECT_TRUE(heap::release(a.mem(), large));
}

TEST(RobustHeapTest, ExhaustionFailsWithoutChangeAndReleaseCoalescesEverything) {
    for (const std::size_t size : {std::size_t{16}, std::size_t{700}, std::size_t{2048}, std::size_t{9000}}) {
        SCOPED_TRACE(size);
        Area a(128 << 10);
        const heap::Stats empty = heap::stats(a.mem());
        std::vector<void *> held;
        for (;;) {
            void *p = heap::alloc(a.mem(), size);
            if (p == nullptr) break;
            fill(p, size, static_cast<unsigned>(held.size()));
            held.push_back(p);
        }
        ASSERT_FALSE(held.empty());
        const heap::Stats full = heap::stats(a.mem());
        EXPECT_EQ(heap::alloc(a.mem(), size), nullptr);
        EXPECT_EQ(heap::alloc(a.mem(), 1 << 30), nullptr);
        EXPECT_TRUE(same(heap::stats(a.mem()), full));
        EXPECT_EQ(a.check(), nullptr);
        // Released from the middle outwards, so that runs merge on both sides.
        for (std::size_t i = 0; i < held.size(); ++i) {
            const std::size_t k = i % 2 == 0 ? held.size() / 2 + i / 2 : held.size() / 2 - 1 - i / 2;
            if (k >= held.size()) continue;
            EXPECT_TRUE(intact(held[k], size, static_cast<unsigned>(k)));
            EXPECT_TRUE(heap::release(a.mem(), held[k]));
            held[k] = nullptr;
            ASSERT_EQ(a.check(), nullptr);
        }
        for (std::size_t k = 0; k < held.size(); ++k)
            if (held[k] != nullptr) {
                EXPECT_TRUE(heap::release(a.mem(), held[k]));
            }
        EXPECT_EQ(a.check(), nullptr);
        EXPECT_EQ(heap::stats(a.mem()).blocks, 0u);
        // check() has found no two free runs side by side; all pages are
        // free but for the one slab a class keeps (at most 8 pages).
        EXPECT_GE(heap::stats(a.mem()).free_bytes, empty.free_bytes - 8 * 4096);
        if (size > 2048) {
            void *all = heap::alloc(a.mem(), empty.free_bytes);
            ASSERT_NE(all, nullptr);
            EXPECT_TRUE(heap::release(a.mem(), all));
        }
    }
}

TEST(RobustHeapTest, RandomWorkKeepsBlocksApartAndIntact) {
    Area a(2 << 20);
    std::mt19937 rng(12345);
    std::map<std::uintptr_t, std::pair<std::size_t, unsigned>> live; // start -> size, tag
    for (unsigned round = 0; round < 20000; ++round) {
        if (live.empty() || rng() % 5 < 3) {
            const std::size_t size = rng() % 8 == 0 ? 2049 + rng() % 20000 : 1 + rng() % 2048;
            void *p = heap::alloc(a.mem(), size);
            if (p == nullptr) continue;
            const auto at = reinterpret_cast<std::uintptr_t>(p);
            auto next = live.lower_bound(at);
            if (next != live.end()) {
                ASSERT_LE(at + size, next->first) << "overlaps the next block";
            }
            if (next != live.begin()) {
                const auto prev = std::prev(next);
                ASSERT_LE(prev->first + prev->second.first, at) << "overlaps the block before";
            }
            fill(p, size, round);
            live[at] = {size, round};
        } else {
            auto it = live.begin();
            std::advance(it, static_cast<long>(rng() % live.size()));
            void *p = reinterpret_cast<void *>(it->first);
            ASSERT_TRUE(intact(p, it->second.first, it->second.second));
            ASSERT_TRUE(heap::release(a.mem(), p));
            live.erase(it);
        }
        if (round % 500 == 0) {
            ASSERT_EQ(a.check(), nullptr) << round;
        }
        ASSERT_EQ(heap::stats(a.mem()).blocks, live.size());
    }
    for (const auto &[at, what] : live) {
        EXPECT_TRUE(intact(reinterpret_cast<void *>(at), what.first, what.second));
        EXPECT_TRUE(heap::release(a.mem(), reinterpret_cast<void *>(at)));
    }
    EXPECT_EQ(a.check(), nullptr);
    EXPECT_EQ(heap::stats(a.mem()).used_bytes, 0u);
}

TEST(RobustHeapTest, SmallBlocksAtOnceAreDistinctBlocksOfTheirClass) {
    Area a(64 << 10);
    struct Case {
        std::size_t size, n;
    };
    for (const Case c : {Case{16, 300}, Case{100, 50}, Case{2048, 20}, Case{4000, 5}, Case{64, 100000}}) {
        SCOPED_TRACE(c.size);
        std::vector<void *> out(c.n);
        const std::size_t got = heap::alloc_small_blocks(a.mem(), c.size, out.data(), c.n);
        if (c.size > 2048) {
            EXPECT_EQ(got, 0u);
            continue;
        }
        EXPECT_GT(got, 0u);
        EXPECT_LE(got, c.n);
        EXPECT_EQ(a.check(), nullptr);
        EXPECT_EQ(heap::stats(a.mem()).blocks, got);
        std::map<std::uintptr_t, int> seen;
        for (std::size_t i = 0; i < got; ++i) {
            EXPECT_EQ(heap::block_size(a.mem(), out[i]), heap::slot_size(a.mem(), a.size(), out[i]));
            EXPECT_GE(heap::block_size(a.mem(), out[i]), c.size);
            EXPECT_EQ(seen[reinterpret_cast<std::uintptr_t>(out[i])]++, 0);
        }
        for (std::size_t i = 0; i < got; ++i) EXPECT_TRUE(heap::release(a.mem(), out[i]));
        EXPECT_EQ(a.check(), nullptr);
        EXPECT_EQ(heap::stats(a.mem()).blocks, 0u);
    }
}

TEST(RobustHeapTest, CheckNamesTheMappingMismatch) {
    Area a(64 << 10);
    EXPECT_STREQ(heap::check(a.mem(), a.size() - 16), "heap area size differs from its mapping");
    EXPECT_STREQ(heap::check(a.mem(), 100), "heap area smaller than its bookkeeping");
    EXPECT_STREQ(heap::check(nullptr, a.size()), "heap area smaller than its bookkeeping");
    heap::mend(a.mem(), a.size() - 16); // not this area's size: left alone
    EXPECT_EQ(a.check(), nullptr);
}

// Bookkeeping overwritten word by word: check() names a broken property
// (or none), mend() never fails on it, and afterwards the area is whole,
// keeps the blocks it can prove in use and serves new ones apart from them.
TEST(RobustHeapTest, MendMakesWholeWhateverTheBookkeepingHolds) {
    constexpr std::size_t kBytes = 96 << 10;
    Area model(kBytes);
    std::vector<void *> held;
    for (const std::size_t size : {24, 300, 3000, 64, 2048, 9000, 16}) held.push_back(heap::alloc(model.mem(), size));
    ASSERT_TRUE(heap::release(model.mem(), held[1]));
    ASSERT_TRUE(heap::release(model.mem(), held[5]));
    ASSERT_EQ(model.check(), nullptr);
    // The bookkeeping: header, descriptors, and the first words of the pages.
    const std::size_t words = 1024;
    const std::uint64_t values[] = {0, 1, 2, 3, 4, 0xFFFFFFFFu, 0xFFFFFFFFFFFFFFFFull, 0x100000001ull, 7, 200};
    unsigned broken_seen = 0;
    for (std::size_t w = 0; w < words; w += 3) {
        for (const std::uint64_t v : values) {
            Area a(kBytes);
            std::memcpy(a.mem(), model.mem(), kBytes);
            std::memcpy(a.bytes_at(w * 8), &v, 8);
            if (a.check() != nullptr) ++broken_seen;
            heap::mend(a.mem(), a.size());
            const char *after = a.check();
            if (w < 2) continue; // the format's mark or its size: no area to mend
            ASSERT_EQ(after, nullptr) << "word " << w << " value " << v;
            void *p = heap::alloc(a.mem(), 100);
            if (p != nullptr) {
                EXPECT_TRUE(heap::owns(a.mem(), a.size(), p));
                EXPECT_TRUE(heap::release(a.mem(), p));
            }
            ASSERT_EQ(a.check(), nullptr);
        }
    }
    EXPECT_GT(broken_seen, 0u);
}

} // namespace
