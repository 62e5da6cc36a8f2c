// First-fit reservation and search from the hint, fixed reservation and
// release of runs.
#include "bitmap/bitmap_internal.hpp"
#include "foundation/trace.hpp"

using vek::trace::line;
using vek::trace::out_value;

namespace {

void store(uint32_t *base, uint32_t value) {
    if (base != nullptr) *base = value;
}

// First fit from the free identifier `start`: the candidates are start and
// the starts of the following free runs; after one wrap they go on from the
// lowest free identifier and must stay below start. True with the first
// candidate whose free run holds `want` identifiers. A run too short is
// measured exactly, so the next candidate is the first free identifier
// after its end.
bool first_fit(vek_bitmap_t *map, uint32_t start, uint32_t want, uint32_t *found) {
    uint32_t candidate = start;
    bool wrapped = false;
    uint32_t wrap_pos = 0;
    for (;;) {
        const uint32_t run = vek::bitmap::free_run(map, candidate, want);
        if (run >= want) {
            *found = candidate;
            return true;
        }
        const uint32_t next = vek::bitmap::free_from(map, uint64_t{candidate} + run);
        if (next == map->size) return false;
        if (wrapped && !(wrap_pos < next && next < start)) return false;
        if (!wrapped && next <= start) {
            wrapped = true;
            wrap_pos = next;
        }
        candidate = next;
    }
}

// The search start from the hint: firstFree, or the first free identifier
// after it when it is in use. False when nothing is free there.
bool start_from(vek_bitmap_t *map, uint32_t pos, uint32_t *start) {
    if (vek::bitmap::bit_is_set(map, pos)) {
        pos = _vek_bitmap_next_free(map, pos);
        if (pos == map->size) return false;
    }
    *start = pos;
    return true;
}

} // namespace

extern "C" VEK_API int32_t vek_bitmap_reserve(vek_bitmap_t *map, uint32_t size, uint32_t *base) {
    line("vek_bitmap_reserve", {{"map", map}, {"size", size}, {"base", base}});
    vek_st_t st = VEK_ST_SUCCESS;
    int32_t rc = 0;
    uint32_t start = 0;
    uint32_t candidate = 0;
    if (map == nullptr) {
        st = VEK_ST_INVALID_VALUE;
        rc = -1;
    } else if (size > map->size) {
        st = VEK_ST_INVALID_VALUE;
        rc = -2;
    } else if (map->firstFree >= map->size) {
        return -2; // full, with the hint left at the end: no exit line
    } else if (!start_from(map, map->firstFree, &start) || !first_fit(map, start, size, &candidate)) {
        st = VEK_ST_ERROR;
        rc = -1;
    } else {
        _vek_bitmap_set_run(map->size, map->bits, size, candidate);
        vek::bitmap::after_reserve(map, candidate, vek::bitmap::WhenFull::AtZero);
        store(base, candidate);
    }
    line("vek_bitmap_reserve", {{"vekStatus", st}, {"base", out_value(base)}});
    return rc;
}

extern "C" VEK_API int32_t vek_bitmap_reserve_test(vek_bitmap_t *map, uint32_t size, uint32_t *base) {
    line("vek_bitmap_reserve_test", {{"map", map}, {"size", size}, {"base", base}});
    vek_st_t st = VEK_ST_SUCCESS;
    int32_t rc = 0;
    uint32_t start = 0;
    uint32_t candidate = 0;
    if (map == nullptr) {
        st = VEK_ST_INVALID_VALUE;
        rc = -1;
    } else if (map->firstFree >= map->size || !start_from(map, map->firstFree, &start) ||
               !first_fit(map, start, size, &candidate)) {
        st = VEK_ST_ERROR;
        rc = -1;
    } else {
        store(base, candidate);
    }
    line("vek_bitmap_reserve_test", {{"vekStatus", st}});
    return rc;
}

extern "C" VEK_API int32_t vek_bitmap_find_from(vek_bitmap_t *map, uint32_t begin, uint32_t size, uint32_t *base) {
    line("vek_bitmap_find_from", {{"map", map}, {"begin", begin}, {"size", size}, {"base", base}});
    vek_st_t st = VEK_ST_SUCCESS;
    int32_t rc = 0;
    if (map == nullptr) {
        st = VEK_ST_INVALID_VALUE;
        rc = -1;
    } else {
        // begin 0 means the hint; otherwise the search starts after begin.
        const uint64_t from = (begin != 0u) ? static_cast<uint64_t>(begin) + 1u : map->firstFree;
        uint32_t start = 0;
        uint32_t candidate = 0;
        if (from >= map->size || !start_from(map, static_cast<uint32_t>(from), &start) ||
            !first_fit(map, start, size, &candidate)) {
            st = VEK_ST_ERROR;
            rc = -1;
        } else {
            store(base, candidate);
        }
    }
    line("vek_bitmap_find_from", {{"vekStatus", st}, {"base", out_value(base)}});
    return rc;
}

extern "C" VEK_API int32_t vek_bitmap_find(vek_bitmap_t *map, uint32_t size, uint32_t *base) {
    line("vek_bitmap_find", {{"map", map}, {"size", size}, {"base", base}});
    return vek_bitmap_find_from(map, 0, size, base);
}

extern "C" VEK_API int32_t vek_bitmap_reserve_fixed(vek_bitmap_t *map, uint32_t size, uint32_t base) {
    line("vek_bitmap_reserve_fixed", {{"map", map}, {"size", size}, {"base", base}});
    int32_t rc = 0;
    if (map == nullptr) {
        rc = -1;
    } else if (base >= map->size || vek::bitmap::free_run(map, base, size) < size) {
        rc = -2; // in use, or past the end
    } else {
        _vek_bitmap_set_run(map->size, map->bits, size, base);
        vek::bitmap::after_reserve(map, base);
    }
    line("vek_bitmap_reserve_fixed", {{"status", rc}});
    return rc;
}

extern "C" VEK_API int32_t vek_bitmap_unreserve(vek_bitmap_t *map, uint32_t size, uint32_t base) {
    line("vek_bitmap_unreserve", {{"map", map}, {"size", size}, {"base", base}});
    if (map != nullptr && base < map->size) {
        _vek_bitmap_clear_run(map->size, map->bits, size, base);
        if (base < map->firstFree) map->firstFree = base;
    }
    line("vek_bitmap_unreserve", {{"return", 0}});
    return 0;
}
