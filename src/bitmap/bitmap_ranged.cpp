// Reservation under a placement constraint: inside a window, inside a
// window repeated at every multiple of an alignment, or at a multiple of an
// alignment.
#include "bitmap/bitmap_check.hpp"
#include "bitmap/bitmap_internal.hpp"
#include "foundation/trace.hpp"

namespace {

enum class Mode { Reserve, Test };

// Windowed reservation and its test form. The first candidate at or above
// startRange whose free run is long enough decides; the scan never goes
// back below startRange. The test form accepts only runs that end strictly
// before endRange.
template <Mode M>
vek_st_t ranged(vek_bitmap_t *map, uint32_t size, uint32_t *base, uint32_t startRange, uint32_t endRange) {
    if (map == nullptr || endRange > map->size || startRange > map->size) return VEK_ST_INVALID_VALUE;
    uint32_t candidate = startRange;
    if (startRange < endRange) {
        for (uint32_t run = 0; (run = vek::bitmap::free_run(map, candidate, size)) < size;) {
            // A short run is measured exactly: the next candidate follows its end.
            const uint32_t next = vek::bitmap::free_from(map, uint64_t{candidate} + run);
            if (next <= candidate) return VEK_ST_ERROR; // would wrap below startRange
            candidate = next;
            if (candidate >= endRange) break;
        }
    }
    // The run's end in 64 bits: a request that wraps 32 bits never fits.
    const uint64_t end = static_cast<uint64_t>(candidate) + size;
    const bool fits = (M == Mode::Reserve) ? end <= endRange : end < endRange;
    if (!fits) return VEK_ST_ERROR;
    if constexpr (M == Mode::Reserve) {
        vek::bitmap::set_run(map->size, map->bits, size, candidate);
        vek::bitmap::after_reserve(map, candidate);
    }
    if (base != nullptr) *base = candidate;
    return VEK_ST_SUCCESS;
}

// Repeated windows [k * align + startOff, k * align + endOff) for k = 0 up to
// the number of alignment blocks in the bitmap; the first success ends it.
// Windows that lie beyond 32-bit identifiers hold nothing and are not tried.
// Each window is tried through the exported windowed operation, with its
// trace lines.
template <Mode M>
vek_st_t aligned_offsets(vek_bitmap_t *map, uint32_t size, uint32_t *base, uint32_t align, uint32_t startOff,
                         uint32_t endOff) {
    if (map == nullptr || align == 0u) return VEK_ST_INVALID_VALUE;
    const uint32_t blocks = map->size / align + ((map->size % align != 0u) ? 1u : 0u);
    const uint32_t width = endOff - startOff;
    for (uint32_t k = 0; k < blocks; ++k) {
        const uint64_t s = static_cast<uint64_t>(startOff) + static_cast<uint64_t>(k) * align;
        if (s + width > UINT32_MAX) break;
        const auto start = static_cast<uint32_t>(s);
        const int32_t rc = (M == Mode::Reserve) ? vek_bitmap_reserve_ranged(map, size, base, start, start + width)
                                                : vek_bitmap_reserve_ranged_test(map, size, base, start, start + width);
        if (rc == 0) return VEK_ST_SUCCESS;
    }
    return VEK_ST_ERROR;
}

// The lowest multiple of align at or above the hint whose free run holds
// size; positions below the hint are not tried.
vek_st_t reserve_aligned(vek_bitmap_t *map, uint32_t size, uint32_t align, uint32_t *base, uint32_t *found) {
    if (map == nullptr || align == 0u) return VEK_ST_INVALID_VALUE;
    const uint32_t first = map->firstFree;
    uint64_t candidate = first;
    if (first % align != 0u) candidate += align - first % align;
    while (candidate < map->size) {
        const auto c = static_cast<uint32_t>(candidate);
        if (!vek::bitmap::bit_is_set(map, c) && vek::bitmap::free_run(map, c, size) >= size) break;
        candidate += align;
    }
    if (candidate >= map->size) return VEK_ST_ERROR;
    const auto c = static_cast<uint32_t>(candidate);
    if (base != nullptr) *base = c;
    vek::bitmap::set_run(map->size, map->bits, size, c);
    vek::bitmap::after_reserve(map, c);
    *found = c;
    return VEK_ST_SUCCESS;
}

int32_t result_of(vek_st_t st) { return st == VEK_ST_SUCCESS ? 0 : -1; }

} // namespace

extern "C" VEK_API int32_t vek_bitmap_reserve_ranged(vek_bitmap_t *map, uint32_t size, uint32_t *base,
                                                     uint32_t startRange, uint32_t endRange) {
    const vek::trace::Call call(
        __func__, {{"map", map}, {"size", size}, {"base", base}, {"startRange", startRange}, {"endRange", endRange}});
    const vek_st_t st = ranged<Mode::Reserve>(map, size, base, startRange, endRange);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(map));
    call.exit({{"vekStatus", st}});
    return result_of(st);
}

extern "C" VEK_API int32_t vek_bitmap_reserve_ranged_test(vek_bitmap_t *map, uint32_t size, uint32_t *base,
                                                          uint32_t startRange, uint32_t endRange) {
    const vek::trace::Call call(
        __func__, {{"map", map}, {"size", size}, {"base", base}, {"startRange", startRange}, {"endRange", endRange}});
    const vek_st_t st = ranged<Mode::Test>(map, size, base, startRange, endRange);
    call.exit({{"vekStatus", st}});
    return result_of(st);
}

extern "C" VEK_API int32_t vek_bitmap_reserve_aligned_offsets(vek_bitmap_t *map, uint32_t size, uint32_t *base,
                                                              uint32_t align, uint32_t startOff, uint32_t endOff) {
    const vek::trace::Call call(
        __func__,
        {{"map", map}, {"size", size}, {"base", base}, {"align", align}, {"startOff", startOff}, {"endOff", endOff}});
    const vek_st_t st = aligned_offsets<Mode::Reserve>(map, size, base, align, startOff, endOff);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(map));
    call.exit({{"vekStatus", st}});
    return result_of(st);
}

extern "C" VEK_API int32_t vek_bitmap_reserve_aligned_offsets_test(vek_bitmap_t *map, uint32_t size, uint32_t *base,
                                                                   uint32_t align, uint32_t startOff, uint32_t endOff) {
    const vek::trace::Call call(
        __func__,
        {{"map", map}, {"size", size}, {"base", base}, {"align", align}, {"startOff", startOff}, {"endOff", endOff}});
    const vek_st_t st = aligned_offsets<Mode::Test>(map, size, base, align, startOff, endOff);
    call.exit({{"vekStatus", st}});
    return result_of(st);
}

extern "C" VEK_API int32_t vek_bitmap_reserve_aligned(vek_bitmap_t *map, uint32_t size, uint32_t align,
                                                      uint32_t *base) {
    const vek::trace::Call call(__func__, {{"map", map}, {"size", size}, {"align", align}, {"base", base}});
    uint32_t found = 0;
    const vek_st_t st = reserve_aligned(map, size, align, base, &found);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(map));
    if (st == VEK_ST_SUCCESS) {
        call.exit({{"vekStatus", st}, {"base", found}});
    } else {
        call.exit({{"vekStatus", st}});
    }
    return result_of(st);
}
