// Internals of the bitmap family (core, reservation, ranged and aligned
// reservation, span walk, nice identifiers): the word scan every search is
// built on, run operations on the word array and the firstFree update.
//
// Identifier i is bit (i % 32) of word i / 32; a set bit is in use. The
// tail bits of the last word (from size % 32 up) are set at creation and
// stay set, so every run measurement stops at the bitmap's size.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

#include <vek/vek_bitmap.h>
#include <vek/vek_status.h>

namespace vek::bitmap {

// Sets `count` bits from `start`; the count is cut at `size`.
void set_run(uint32_t size, uint32_t *bits, uint32_t count, uint32_t start);

// Clears `count` bits from `start`; the count is cut at `size`.
void clear_run(uint32_t size, uint32_t *bits, uint32_t count, uint32_t start);

// Length of the run of free bits that begins at `start`, measured until it
// is known to reach `want`: exact below `want`, some value >= `want`
// otherwise. A set bit or the end of the word array ends the run.
uint32_t free_run_length(uint32_t words_needed, const uint32_t *bits, uint32_t start, uint32_t want);

// Start of the next free run after the one at `pos` (or the first free
// identifier after a used `pos`); the lowest free identifier when the run
// at `pos` reaches the end; `size` when nothing is free there.
uint32_t next_free_after(vek_bitmap_t *map, uint32_t pos);

// The word scan: the first position at or above `from`, below `limit`,
// whose bit is set (Set) or clear (!Set) in the word array `bits` of
// `words` words; `limit` (at most words * 32) when there is none. The
// first word is masked below `from`; then two words are read at a time, so
// a run is skipped 64 positions per step. Every search of the family goes
// through it.
template <bool Set>
inline uint64_t find_next(const uint32_t *bits, uint64_t words, uint64_t from, uint64_t limit) {
    if (from >= limit) return limit;
    constexpr uint32_t flip = Set ? 0u : ~0u;
    uint64_t wi = from / 32u;
    const uint32_t first = (bits[wi] ^ flip) & (~0u << (from % 32u));
    if (first != 0u) return std::min<uint64_t>(limit, wi * 32u + static_cast<uint32_t>(std::countr_zero(first)));
    const uint64_t last = (limit + 31u) / 32u; // words that hold positions below limit
    for (++wi; wi + 1u < last; wi += 2u) {
        const uint64_t pair = (static_cast<uint64_t>(bits[wi + 1u] ^ flip) << 32u) | (bits[wi] ^ flip);
        if (pair != 0u) return std::min<uint64_t>(limit, wi * 32u + static_cast<uint32_t>(std::countr_zero(pair)));
    }
    if (wi < last && wi < words) {
        const uint32_t w = bits[wi] ^ flip;
        if (w != 0u) return std::min<uint64_t>(limit, wi * 32u + static_cast<uint32_t>(std::countr_zero(w)));
    }
    return limit;
}

// Next used / free position at or above `from` in a bitmap's words (tail
// bits read as used), or words_needed * 32.
inline uint64_t next_used(const vek_bitmap_t *map, uint64_t from) {
    return find_next<true>(map->bits, map->words_needed, from, uint64_t{map->words_needed} * 32u);
}
inline uint64_t next_free(const vek_bitmap_t *map, uint64_t from) {
    return find_next<false>(map->bits, map->words_needed, from, uint64_t{map->words_needed} * 32u);
}

// Number of 32-bit words that hold `size` identifiers, without wrapping.
constexpr uint32_t words_for(uint32_t size) { return static_cast<uint32_t>((static_cast<uint64_t>(size) + 31u) / 32u); }

// True when identifier `id` of the word array is in use. Positions beyond
// the word array read as in use.
inline bool bit_is_set(const vek_bitmap_t *map, uint64_t id) {
    if (id >= static_cast<uint64_t>(map->words_needed) * 32u) return true;
    return ((map->bits[id / 32u] >> (id % 32u)) & 1u) != 0u;
}

// Free run length at `start` measured against the bitmap's own words.
inline uint32_t free_run(const vek_bitmap_t *map, uint32_t start, uint32_t want) {
    return free_run_length(map->words_needed, map->bits, start, want);
}

// The lowest free identifier at or above `from`, wrapping once to the
// lowest free identifier of the bitmap when `from` is at or past the size;
// `size` when nothing is free there.
inline uint32_t free_from(const vek_bitmap_t *map, uint64_t from) {
    const uint64_t found = next_free(map, from >= map->size ? 0u : from);
    return found < map->size ? static_cast<uint32_t>(found) : map->size;
}

// What firstFree becomes when nothing is free after a reservation.
enum class WhenFull { AtSize, AtZero };

// The firstFree update after reserving a run at `base`: only a run that
// starts at the hint moves it, to the next free identifier.
inline void after_reserve(vek_bitmap_t *map, uint32_t base, WhenFull full = WhenFull::AtSize) {
    if (base != map->firstFree) return;
    const uint32_t next = next_free_after(map, base);
    map->firstFree = (next == map->size && full == WhenFull::AtZero) ? 0u : next;
}

// The lines of one identifier's test, as vek_bitmap_isset prints them
// (nothing with tracing off). Every test of identifiers made from the words
// shows them, one identifier after the other.
void trace_test(const vek_bitmap_t *map, uint32_t id, vek_st_t st);

// True when every identifier of start .. start + count - 1 lies inside the
// bitmap and is in use, read a word at a time. The trace shows the test of
// each identifier up to the first that is not in use.
bool run_all_set(const vek_bitmap_t &map, uint32_t start, uint32_t count);

} // namespace vek::bitmap
