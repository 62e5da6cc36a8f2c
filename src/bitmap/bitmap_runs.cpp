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

} // namespace vek::bitmap

void vek::bitmap::set_run(uint32_t size, uint32_t *bits, uint32_t count, uint32_t start) {
    vek::bitmap::apply_run<true>(size, bits, count, start);
}

void vek::bitmap::clear_run(uint32_t size, uint32_t *bits, uint32_t count, uint32_t start) {
    vek::bitmap::apply_run<false>(size, bits, count, start);
}

uint32_t vek::bitmap::free_run_length(uint32_t words_needed, const uint32_t *bits, uint32_t start, uint32_t want) {
    using vek::bitmap::find_next;
    const uint64_t end = uint64_t{words_needed} * 32u;
    if (bits == nullptr || start >= end) return 0;
    // A used bit in start's own word above start ends the run there: exact.
    const uint32_t off = start % 32u;
    if (off != 0u) {
        const uint32_t w = bits[start / 32u] >> off;
        if (w != 0u) return static_cast<uint32_t>(std::countr_zero(w));
    }
    // Otherwise the run is counted in whole words from start's word on: the
    // first count reached that holds `want` is the answer; a run that ends
    // before it is exact, cut at `want`.
    const uint64_t head = (off != 0u) ? 32u - off : 0u;
    const uint64_t enough = (want <= head) ? head : head + (uint64_t{want} - head + 31u) / 32u * 32u;
    const uint64_t length = find_next<true>(bits, words_needed, start + head, std::min(end, start + enough)) - start;
    if (length >= enough) return static_cast<uint32_t>(std::min<uint64_t>(enough, UINT32_MAX));
    return static_cast<uint32_t>(std::min<uint64_t>(length, want));
}

uint32_t vek::bitmap::next_free_after(vek_bitmap_t *map, uint32_t pos) {
    using namespace vek::bitmap;
    // The end of the free run at pos (pos itself when it is used), then
    // the next free identifier, wrapping once at the end.
    return free_from(map, bit_is_set(map, pos) ? pos : next_used(map, pos));
}
