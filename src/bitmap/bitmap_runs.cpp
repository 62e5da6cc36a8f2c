// Run operations on the word array: set, clear, measure a free run, find
// the next free run. Whole words are handled at once; only the words at the
// ends of a run are looked at bit by bit.
#include "bitmap/bitmap_internal.hpp"

#include <algorithm>

namespace vek::bitmap {
namespace {

// Mask of `n` bits from bit `off` of one word (off + n <= 32, n >= 1).
constexpr uint32_t span_mask(uint32_t off, uint32_t n) {
    const uint32_t low = (n >= 32u) ? ~0u : ((1u << n) - 1u);
    return low << off;
}

template <bool Set>
void apply_run(uint32_t size, uint32_t *bits, uint32_t count, uint32_t start) {
    if (bits == nullptr || start >= size) return;
    uint64_t left = std::min<uint64_t>(count, static_cast<uint64_t>(size) - start);
    uint64_t pos = start;
    while (left > 0) {
        const uint32_t off = static_cast<uint32_t>(pos % 32u);
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, 32u - off));
        const uint32_t m = span_mask(off, n);
        uint32_t &w = bits[pos / 32u];
        if constexpr (Set) {
            w |= m;
        } else {
            w &= ~m;
        }
        pos += n;
        left -= n;
    }
}

} // namespace

uint64_t first_free_at_or_after(const vek_bitmap_t *map, uint64_t from) {
    const uint64_t end = static_cast<uint64_t>(map->words_needed) * 32u;
    if (from >= end) return end;
    uint64_t wi = from / 32u;
    // Free bits of the first word at or above `from`.
    uint32_t freebits = ~map->bits[wi] & (~0u << (from % 32u));
    while (freebits == 0u) {
        if (++wi >= map->words_needed) return end;
        freebits = ~map->bits[wi];
    }
    return wi * 32u + static_cast<uint32_t>(std::countr_zero(freebits));
}

} // namespace vek::bitmap

extern "C" void _vek_bitmap_set_run(uint32_t size, uint32_t *bits, uint32_t count, uint32_t start) {
    vek::bitmap::apply_run<true>(size, bits, count, start);
}

extern "C" void _vek_bitmap_clear_run(uint32_t size, uint32_t *bits, uint32_t count, uint32_t start) {
    vek::bitmap::apply_run<false>(size, bits, count, start);
}

extern "C" uint32_t _vek_bitmap_free_run_length(uint32_t words_needed, const uint32_t *bits, uint32_t start,
                                                uint32_t want) {
    uint64_t wi = start / 32u;
    if (bits == nullptr || wi >= words_needed) return 0;
    uint64_t len = 0;
    const uint32_t off = start % 32u;
    if (off != 0u) {
        // The bits of start's own word from start up.
        const uint32_t w = bits[wi] >> off;
        if (w != 0u) return static_cast<uint32_t>(std::countr_zero(w));
        len = 32u - off;
        ++wi;
    }
    // Whole free words.
    while (wi < words_needed && bits[wi] == 0u) {
        if (len >= want) return static_cast<uint32_t>(std::min<uint64_t>(len, UINT32_MAX));
        len += 32u;
        ++wi;
    }
    if (wi >= words_needed || len >= want) return static_cast<uint32_t>(std::min<uint64_t>(len, UINT32_MAX));
    // The free bits below the lowest set bit of the word that ends the run.
    const uint64_t total = len + static_cast<uint32_t>(std::countr_zero(bits[wi]));
    return static_cast<uint32_t>(std::min<uint64_t>(total, want));
}

extern "C" uint32_t _vek_bitmap_next_free(vek_bitmap_t *map, uint32_t pos) {
    using namespace vek::bitmap;
    const uint32_t size = map->size;
    uint64_t p = pos;
    if (!bit_is_set(map, pos)) p = static_cast<uint64_t>(pos) + free_run(map, pos, size - pos);
    // A run that reaches the end wraps to the lowest free identifier.
    const uint64_t found = first_free_at_or_after(map, p >= size ? 0u : p);
    return found < size ? static_cast<uint32_t>(found) : size;
}
