// Run operations of the word array: free run measurement, next free
// position, setting and clearing runs with the cut at the size.
#include <random>
#include <vector>

#include "bitmap/bitmap_internal.hpp"
#include "vektest.hpp"

namespace {

// A bitmap header over caller-owned words.
struct Words {
    explicit Words(uint32_t size, std::vector<uint32_t> w = {}) : words(std::move(w)) {
        if (words.empty()) words.assign(vek::bitmap::words_for(size), 0u);
        if (size % 32u != 0u) words.back() |= ~0u << (size % 32u);
        map = {size, static_cast<uint32_t>(words.size()), words.data(), 0};
    }
    void use(uint32_t from, uint32_t to) {
        for (uint32_t i = from; i <= to; ++i) words[i / 32] |= 1u << (i % 32);
    }
    bool used(uint64_t i) const { return i >= words.size() * 32u || ((words[i / 32] >> (i % 32)) & 1u); }
    std::vector<uint32_t> words;
    vek_bitmap_t map{};
};

TEST(BitmapRuns, WordCountDoesNotWrap) {
    EXPECT_EQ(vek::bitmap::words_for(1), 1u);
    EXPECT_EQ(vek::bitmap::words_for(32), 1u);
    EXPECT_EQ(vek::bitmap::words_for(33), 2u);
    EXPECT_EQ(vek::bitmap::words_for(0xFFFFFFE0u), 0x7FFFFFFu);
    EXPECT_EQ(vek::bitmap::words_for(0xFFFFFFE1u), 0x8000000u);
    EXPECT_EQ(vek::bitmap::words_for(0xFFFFFFFFu), 0x8000000u);
}

TEST(BitmapRuns, FreeRunLengthStopsOnceKnown) {
    struct Case {
        std::vector<uint32_t> words;
        uint32_t start, want, length;
    };
    const std::vector<Case> cases = {
        {{0, 0xFFFFFF00u}, 0, 5, 32},  // a whole free word already holds 5
        {{0, 0xFFFFFF00u}, 0, 0, 0},   // nothing wanted: known at once
        {{0, 0xFFFFFF00u}, 0, 40, 40}, // 32 + 8 free bits of the last word
        {{0, 0xFFFFFF00u}, 0, 39, 39}, // adding stops at want
        {{0, 0xFFFFFF00u}, 0, 41, 40}, // exact below want
        {{0x100u}, 3, 1, 5},           // within start's word: exact distance
        {{0x100u}, 8, 0, 0},           // start in use
        {{0x0u, 0x0u}, 0, 100, 64},    // the end of the array ends the run
        {{0x0u, 0x0u}, 33, 100, 31},   // unaligned start in the last word
        {{0x0u, 0x0u}, 64, 1, 0},      // start past the array
        {{0x0u, 0x0u}, 1000, 1, 0},
        {{0x80000000u, 0x0u}, 31, 1, 0},
        {{0x0u, 0x0u, 0x0u, 0x10u}, 40, 1, 24},   // 24 bits of word 1, then known
        {{0x0u, 0x0u, 0x0u, 0x10u}, 40, 50, 56},  // known at the last zero word
        {{0x0u, 0x0u, 0x0u, 0x10u}, 40, 200, 60}, // exact: 24 + 32 + 4
    };
    for (const Case &c : cases) {
        EXPECT_EQ(vek::bitmap::free_run_length(static_cast<uint32_t>(c.words.size()), c.words.data(), c.start, c.want),
                  c.length)
            << "start " << c.start << " want " << c.want;
    }
}

TEST(BitmapRuns, NextFreePosition) {
    struct Case {
        uint32_t size;
        std::vector<std::pair<uint32_t, uint32_t>> used;
        uint32_t pos, next;
    };
    const std::vector<Case> cases = {
        {40, {}, 0, 0},       // the run reaches the end: wraps to the lowest free
        {40, {{5, 5}}, 0, 6}, // next free run
        {40, {{5, 5}}, 5, 6}, // from a used position: first free after it
        {40, {{5, 5}}, 6, 0}, // wraps
        {40, {{0, 2}, {5, 5}}, 6, 3},
        {40, {{0, 39}}, 0, 40},          // nothing free
        {40, {{0, 2}, {4, 39}}, 10, 40}, // used position: no wrap even though 3 is free
        {40, {{0, 2}, {4, 39}}, 3, 40},  // the run at 3 ends before the end: no wrap
        {64, {{63, 63}}, 40, 64},
        {64, {{63, 63}}, 63, 64},
        {200, {{0, 6}, {8, 150}}, 8, 151}, // skips all-ones words
        {200, {{0, 6}, {8, 150}}, 7, 151},
        {200, {{0, 6}, {8, 150}}, 151, 7},
        {40, {}, 40, 0}, // a tail position reads as used, and wraps at the end
    };
    for (const Case &c : cases) {
        Words w(c.size);
        for (auto [a, b] : c.used) w.use(a, b);
        EXPECT_EQ(vek::bitmap::next_free_after(&w.map, c.pos), c.next) << "size " << c.size << " pos " << c.pos;
    }
}

TEST(BitmapRuns, SetAndClearRunsAreCutAtTheSize) {
    Words w(40);
    vek::bitmap::set_run(40, w.words.data(), 100, 35);
    EXPECT_EQ(w.words[0], 0u);
    EXPECT_EQ(w.words[1], 0xFFFFFFF8u);
    vek::bitmap::set_run(40, w.words.data(), 34, 1);
    EXPECT_EQ(w.words[0], 0xFFFFFFFEu);
    EXPECT_EQ(w.words[1], 0xFFFFFFFFu);
    vek::bitmap::clear_run(40, w.words.data(), 0xFFFFFFFFu, 30);
    EXPECT_EQ(w.words[0], 0x3FFFFFFEu);
    EXPECT_EQ(w.words[1], 0xFFFFFF00u);              // tail bits stay
    vek::bitmap::set_run(40, w.words.data(), 5, 40); // at the size: nothing
    vek::bitmap::clear_run(40, w.words.data(), 5, 0xFFFFFFFFu);
    vek::bitmap::set_run(40, w.words.data(), 0, 3);
    EXPECT_EQ(w.words[0], 0x3FFFFFFEu);
    EXPECT_EQ(w.words[1], 0xFFFFFF00u);
    Words big(200);
    vek::bitmap::set_run(200, big.words.data(), 100, 20); // whole words in the middle
    for (uint32_t i = 0; i < 200; ++i) EXPECT_EQ(big.used(i), i >= 20 && i < 120) << i;
}

// The word-at-a-time operations agree with a bit-by-bit reading of their
// definitions on random bitmaps.
TEST(BitmapRuns, AgreeWithBitByBitReference) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        const uint32_t size = 1 + rng() % 300;
        Words w(size);
        const int density = static_cast<int>(rng() % 4);
        for (uint32_t i = 0; i < size; ++i) {
            // Long runs of both kinds: a few flips.
            if (rng() % (8u << density) == 0) w.use(i, std::min(size - 1, i + static_cast<uint32_t>(rng() % 40)));
        }
        const uint64_t end = w.words.size() * 32u;
        for (int probe = 0; probe < 20; ++probe) {
            const uint32_t start = rng() % (size + 1);
            const uint32_t want = rng() % 80;
            uint32_t exact = 0;
            while (start + exact < end && !w.used(start + exact)) ++exact;
            const uint32_t got = vek::bitmap::free_run_length(w.map.words_needed, w.words.data(), start, want);
            if (exact < want) {
                EXPECT_EQ(got, exact) << size << " " << start << " " << want;
            } else {
                EXPECT_GE(got, want) << size << " " << start;
                EXPECT_LE(got, exact) << size << " " << start;
            }
            // Next free position from the definition.
            uint64_t p = start;
            if (!w.used(start)) p = start + exact;
            uint64_t want_next = size;
            for (uint64_t i = (p >= size ? 0 : p); i < size; ++i) {
                if (!w.used(i)) {
                    want_next = i;
                    break;
                }
            }
            EXPECT_EQ(vek::bitmap::next_free_after(&w.map, start), want_next) << size << " " << start;
        }
    }
}

} // namespace
