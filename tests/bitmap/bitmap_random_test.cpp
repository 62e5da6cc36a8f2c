// Bitmap operations on random arguments, seeded and bounded: random
// sequences of every reserving, releasing, searching and single-identifier
// operation, with extreme arguments (0, size - 1, size, 0xFFFFFFFF), on
// bitmaps of small sizes around the word boundaries. After every step the
// words are compared with a plain model of which identifiers are in use:
// a success changes exactly what it reports, a failure changes nothing,
// the tail bits stay set and the hint stays within the bitmap.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bitmap_fixture.hpp"

namespace {

constexpr uint32_t kUnset = 0xA5A5A5A5u;

class BitmapRandom : public bitmaptest::BitmapTest {
protected:
    std::mt19937 rng_{424242u};
    vek_bitmap_t *map_ = nullptr;
    std::vector<bool> used_; // the model
    std::string step_;

    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }

    uint32_t size() const { return static_cast<uint32_t>(used_.size()); }

    // An argument that is usually meaningful, sometimes extreme.
    uint32_t arg(uint32_t typical) {
        switch (below(12)) {
        case 0: return 0;
        case 1: return size() - 1;
        case 2: return size();
        case 3: return size() + 1;
        case 4: return 0xFFFFFFFFu;
        case 5: return 0x80000000u;
        case 6: return 0xFFFFFFFFu - below(40);
        default: return below(typical + 1);
        }
    }

    uint32_t small_count() { return below(4) == 0 ? arg(size()) : 1 + below(8); }

    bool free_run(uint64_t b, uint64_t n) const {
        if (b + n > size()) return false;
        for (uint64_t i = b; i < b + n; ++i) {
            if (used_[static_cast<size_t>(i)]) return false;
        }
        return true;
    }

    uint32_t lowest_free() const {
        for (uint32_t i = 0; i < size(); ++i) {
            if (!used_[i]) return i;
        }
        return size();
    }

    // Lowest start of a free run of n identifiers, or size when none.
    uint32_t first_fit(uint32_t n) const {
        for (uint32_t b = 0; b < size(); ++b) {
            if (free_run(b, n)) return b;
        }
        return size();
    }

    void mark(uint64_t b, uint64_t n, bool v) {
        for (uint64_t i = b; i < b + n && i < size(); ++i) used_[static_cast<size_t>(i)] = v;
    }

    // Run of free identifiers from p (0 when p is used or past the end).
    uint32_t run_at(uint32_t p) const {
        uint32_t n = 0;
        while (p + n < size() && !used_[p + n]) ++n;
        return n;
    }

    // The next free position after p as the scans use it; returns a value
    // <= p when the scan would wrap to the lowest free identifier.
    uint32_t next_free(uint32_t p) const {
        uint32_t q = p;
        if (p < size() && !used_[p]) q = p + run_at(p);
        else ++q;
        if (p < size() && !used_[p] && q >= size()) return lowest_free();
        while (q < size() && used_[q]) ++q;
        return std::min(q, size());
    }

    // Windowed reservation as documented: the first candidate at or after
    // start whose free run holds n decides. Returns the start or -1.
    int64_t ranged_model(uint32_t n, uint32_t start, uint32_t end, bool test) const {
        if (start > size() || end > size()) return -1;
        uint32_t cand = start;
        if (start < end) {
            for (;;) {
                if (cand < size() && run_at(cand) >= n) break;
                if (cand < size() && n == 0) break;
                const uint32_t next = next_free(cand);
                if (next <= cand) return -1;
                cand = next;
                if (cand >= end) break;
            }
        }
        const uint64_t stop = static_cast<uint64_t>(cand) + n;
        if (test ? stop < end : stop <= end) return cand;
        return -1;
    }

    void check(const char *what) {
        SCOPED_TRACE(step_ + " " + what);
        ASSERT_EQ(map_->size, size());
        ASSERT_EQ(map_->words_needed, (size() + 31) / 32);
        for (uint32_t i = 0; i < size(); ++i) {
            ASSERT_EQ((map_->bits[i / 32] >> (i % 32)) & 1u, used_[i] ? 1u : 0u) << "identifier " << i;
        }
        if (size() % 32 != 0) { // tail bits stay in use
            EXPECT_EQ(map_->bits[size() / 32] >> (size() % 32), 0xFFFFFFFFu >> (size() % 32)) << "tail";
        }
        EXPECT_LE(map_->firstFree, size());
        const int32_t used = static_cast<int32_t>(std::count(used_.begin(), used_.end(), true));
        EXPECT_EQ(vek_bitmap_count(map_, 1), used);
        EXPECT_EQ(vek_bitmap_count(map_, 0), static_cast<int32_t>(size()) - used);
    }

    void one_step() {
        uint32_t b = kUnset;
        const uint32_t n = small_count();
        const bool hint_exact = map_->firstFree == lowest_free() && lowest_free() < size();
        switch (below(13)) {
        case 0: { // reserve
            step_ = "reserve " + std::to_string(n);
            const uint32_t ff = map_->firstFree;
            const int32_t r = vek_bitmap_reserve(map_, n, &b);
            if (n > size() || ff >= size()) {
                EXPECT_EQ(r, -2) << step_;
            } else if (hint_exact && n > 0) {
                const uint32_t fit = first_fit(n);
                EXPECT_EQ(r, fit < size() ? 0 : -1) << step_;
                if (r == 0) {
                    EXPECT_EQ(b, fit) << step_;
                }
            }
            if (r == 0) {
                ASSERT_TRUE(free_run(b, n)) << step_ << " at " << b;
                mark(b, n, true);
            } else {
                EXPECT_TRUE(r == -1 || r == -2) << step_;
                EXPECT_EQ(b, kUnset) << step_;
            }
            break;
        }
        case 1: { // reserve_test: nothing changes
            step_ = "reserve_test " + std::to_string(n);
            const int32_t r = vek_bitmap_reserve_test(map_, n, &b);
            EXPECT_TRUE(r == 0 || r == -1) << step_;
            if (r == 0) {
                EXPECT_TRUE(free_run(b, n)) << step_ << " at " << b;
            }
            if (hint_exact && n > 0 && n <= size()) {
                EXPECT_EQ(r == 0, first_fit(n) < size()) << step_;
            }
            break;
        }
        case 2: { // reserve_fixed
            const uint32_t base = arg(size());
            step_ = "reserve_fixed " + std::to_string(n) + " at " + std::to_string(base);
            const int32_t r = vek_bitmap_reserve_fixed(map_, n, base);
            const bool fits = free_run(base, n);
            if (base < size() || n > 0) {
                EXPECT_EQ(r, fits ? 0 : -2) << step_;
            }
            if (r == 0) {
                mark(base, n, true);
            } else {
                EXPECT_EQ(r, -2) << step_;
            }
            break;
        }
        case 3: { // unreserve: frees the part inside the bitmap
            const uint32_t base = arg(size());
            step_ = "unreserve " + std::to_string(n) + " at " + std::to_string(base);
            const uint32_t ff = map_->firstFree;
            EXPECT_EQ(vek_bitmap_unreserve(map_, n, base), 0) << step_;
            if (base < size()) {
                mark(base, n, false);
                if (base < ff) {
                    EXPECT_EQ(map_->firstFree, base) << step_;
                }
            }
            break;
        }
        case 4: { // find / find_from: nothing changes
            const bool from = below(2) == 1;
            const uint32_t begin = from ? arg(size()) : 0;
            step_ = "find_from " + std::to_string(begin) + " " + std::to_string(n);
            const int32_t r = from ? vek_bitmap_find_from(map_, begin, n, &b) : vek_bitmap_find(map_, n, &b);
            EXPECT_TRUE(r == 0 || r == -1) << step_;
            if (r == 0) {
                EXPECT_TRUE(free_run(b, n)) << step_ << " at " << b;
            } else {
                EXPECT_EQ(b, kUnset) << step_;
            }
            if (!from && hint_exact && n > 0) {
                const uint32_t fit = first_fit(n);
                EXPECT_EQ(r, fit < size() ? 0 : -1) << step_;
                if (r == 0) {
                    EXPECT_EQ(b, fit) << step_;
                }
            }
            break;
        }
        case 5: { // set
            const uint32_t id = arg(size());
            step_ = "set " + std::to_string(id);
            const bool ok = id < size() && !used_[id];
            EXPECT_EQ(vek_bitmap_set(map_, id), ok ? 0 : -1) << step_;
            if (ok) used_[id] = true;
            break;
        }
        case 6: { // clr
            const uint32_t id = arg(size());
            step_ = "clr " + std::to_string(id);
            EXPECT_EQ(vek_bitmap_clr(map_, id), 0) << step_;
            if (id < size()) used_[id] = false;
            break;
        }
        case 7: { // isset
            const uint32_t id = arg(size());
            step_ = "isset " + std::to_string(id);
            EXPECT_EQ(vek_bitmap_isset(map_, id), id < size() && used_[id] ? 1 : 0) << step_;
            break;
        }
        case 8:
        case 9: { // ranged and its test
            const bool test = below(2) == 1;
            const uint32_t start = arg(size());
            const uint32_t end = below(2) ? start + below(24) : arg(size());
            step_ = std::string(test ? "reserve_ranged_test " : "reserve_ranged ") + std::to_string(n) + " [" +
                    std::to_string(start) + ", " + std::to_string(end) + ")";
            const int32_t r = test ? vek_bitmap_reserve_ranged_test(map_, n, &b, start, end)
                                   : vek_bitmap_reserve_ranged(map_, n, &b, start, end);
            const int64_t want = ranged_model(n, start, end, test);
            EXPECT_EQ(r, want >= 0 ? 0 : -1) << step_;
            if (r == 0) {
                EXPECT_EQ(b, static_cast<uint32_t>(want)) << step_;
                ASSERT_TRUE(free_run(b, n)) << step_ << " at " << b;
                if (!test) mark(b, n, true);
            } else {
                EXPECT_EQ(b, kUnset) << step_;
            }
            break;
        }
        case 10:
        case 11: { // aligned offsets and its test
            const bool test = below(2) == 1;
            const uint32_t align = below(3) == 0 ? arg(size()) : 1 + below(40);
            const uint32_t so = below(3) == 0 ? arg(size()) : below(align + 1);
            const uint32_t eo = below(3) == 0 ? arg(size()) : so + below(align + 1);
            step_ = std::string(test ? "aligned_offsets_test " : "aligned_offsets ") + std::to_string(n) + " align " +
                    std::to_string(align) + " [" + std::to_string(so) + ", " + std::to_string(eo) + ")";
            const int32_t r = test ? vek_bitmap_reserve_aligned_offsets_test(map_, n, &b, align, so, eo)
                                   : vek_bitmap_reserve_aligned_offsets(map_, n, &b, align, so, eo);
            int64_t want = -1;
            if (align != 0) {
                const uint32_t blocks = size() / align + (size() % align != 0 ? 1 : 0);
                // Windows are computed in 32 bits; the library stops at the
                // first window whose end would wrap past 2^32 (such windows
                // have no meaning) instead of trying a wrapped one.
                const uint32_t width = eo - so;
                for (uint32_t k = 0; k < blocks && want < 0; ++k) {
                    const uint64_t s = static_cast<uint64_t>(so) + static_cast<uint64_t>(k) * align;
                    if (s + width > UINT32_MAX) break;
                    want = ranged_model(n, static_cast<uint32_t>(s), static_cast<uint32_t>(s + width), test);
                }
            }
            EXPECT_EQ(r, want >= 0 ? 0 : -1) << step_;
            if (r == 0) {
                EXPECT_EQ(b, static_cast<uint32_t>(want)) << step_;
                ASSERT_TRUE(free_run(b, n)) << step_ << " at " << b;
                if (!test) mark(b, n, true);
            } else {
                EXPECT_EQ(b, kUnset) << step_;
            }
            break;
        }
        default: { // aligned
            const uint32_t align = below(3) == 0 ? arg(size()) : 1 + below(40);
            step_ = "aligned " + std::to_string(n) + " align " + std::to_string(align);
            const uint32_t ff = map_->firstFree;
            const int32_t r = vek_bitmap_reserve_aligned(map_, n, align, &b);
            int64_t want = -1;
            if (align != 0) {
                uint64_t cand = ff % align == 0 ? ff : static_cast<uint64_t>(ff) + (align - ff % align);
                for (; cand < size(); cand += align) {
                    if (!used_[static_cast<size_t>(cand)] && run_at(static_cast<uint32_t>(cand)) >= n) {
                        want = static_cast<int64_t>(cand);
                        break;
                    }
                }
            }
            EXPECT_EQ(r, want >= 0 ? 0 : -1) << step_;
            if (r == 0) {
                EXPECT_EQ(b, static_cast<uint32_t>(want)) << step_;
                ASSERT_TRUE(free_run(b, n)) << step_ << " at " << b;
                mark(b, n, true);
            } else {
                EXPECT_EQ(b, kUnset) << step_;
            }
            break;
        }
        }
    }
};

TEST_F(BitmapRandom, RandomOperationSequencesFollowTheModel) {
    static const uint32_t kEdgeSizes[] = {1, 2, 31, 32, 33, 63, 64, 65, 95, 96, 97, 127, 128, 129, 200};
    for (int round = 0; round < 150; ++round) {
        const uint32_t sz = below(2) ? kEdgeSizes[below(sizeof kEdgeSizes / sizeof kEdgeSizes[0])] : 1 + below(200);
        map_ = make(sz);
        ASSERT_NE(map_, nullptr);
        used_.assign(sz, false);
        step_ = "create " + std::to_string(sz);
        check("create");
        for (int step = 0; step < 80; ++step) {
            one_step();
            check(("size " + std::to_string(sz) + " round " + std::to_string(round)).c_str());
            if (HasFatalFailure() || HasFailure()) return;
        }
        // A copy is equal and independent.
        vek_bitmap_t *copy = vek_bitmap_copy(map_);
        ASSERT_NE(copy, nullptr);
        for (uint32_t w = 0; w < map_->words_needed; ++w) EXPECT_EQ(copy->bits[w], map_->bits[w]);
        EXPECT_EQ(copy->firstFree, map_->firstFree);
        EXPECT_EQ(vek_bitmap_delete(copy), 0);
    }
}

} // namespace
