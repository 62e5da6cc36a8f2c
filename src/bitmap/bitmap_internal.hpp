// Run operations on a bitmap's word array, shared by the bitmap family
// (core, ranged and aligned reservation, span search) and by the paged
// table and the resource registry that build on bitmaps.
//
// Identifier i is bit (i % 32) of word i / 32; a set bit is in use. The
// tail bits of the last word (from size % 32 up) are set at creation and
// stay set, so every run measurement stops at the bitmap's size.
#pragma once

#include <bit>
#include <cstdint>

#include <vek/vek_bitmap.h>

extern "C" {

// Sets `count` bits from `start`; the count is cut at `size`.
void _vek_bitmap_set_run(uint32_t size, uint32_t *bits, uint32_t count, uint32_t start);

// Clears `count` bits from `start`; the count is cut at `size`.
void _vek_bitmap_clear_run(uint32_t size, uint32_t *bits, uint32_t count, uint32_t start);

// Length of the run of free bits that begins at `start`, measured until it
// is known to reach `want`: exact below `want`, some value >= `want`
// otherwise. A set bit or the end of the word array ends the run.
uint32_t _vek_bitmap_free_run_length(uint32_t words_needed, const uint32_t *bits, uint32_t start,
                                     uint32_t want);

// Start of the next free run after the one at `pos` (or the first free
// identifier after a used `pos`); the lowest free identifier when the run
// at `pos` reaches the end; `size` when nothing is free there.
uint32_t _vek_bitmap_next_free(vek_bitmap_t *map, uint32_t pos);

} // extern "C"

namespace vek::bitmap {

// Number of 32-bit words that hold `size` identifiers, without wrapping.
constexpr uint32_t words_for(uint32_t size) {
    return static_cast<uint32_t>((static_cast<uint64_t>(size) + 31u) / 32u);
}

// True when identifier `id` of the word array is in use. Positions beyond
// the word array read as in use.
inline bool bit_is_set(const vek_bitmap_t *map, uint64_t id) {
    if (id >= static_cast<uint64_t>(map->words_needed) * 32u) return true;
    return ((map->bits[id / 32u] >> (id % 32u)) & 1u) != 0u;
}

// Free run length at `start` measured against the bitmap's own words.
inline uint32_t free_run(const vek_bitmap_t *map, uint32_t start, uint32_t want) {
    return _vek_bitmap_free_run_length(map->words_needed, map->bits, start, want);
}

// Lowest free position at or above `from` (skipping all-ones words), or
// words_needed * 32 when there is none.
uint64_t first_free_at_or_after(const vek_bitmap_t *map, uint64_t from);

} // namespace vek::bitmap
