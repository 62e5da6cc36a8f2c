// First-fit reservation and search from the hint, fixed reservation and
// release of runs.
#include "bitmap/bitmap_check.hpp"
#include "bitmap/bitmap_internal.hpp"
#include "foundation/trace.hpp"

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
        pos = vek::bitmap::next_free_after(map, pos);
        if (pos == map->size) return false;
    }
    *start = pos;
    return true;
}

// Outcome of a search or reservation: the small integer result and the
// status its trace line prints.
struct Result {
    int32_t rc;
    vek_st_t st;
};

constexpr Result kFound{0, VEK_ST_SUCCESS};
constexpr Result kNoRun{-1, VEK_ST_ERROR};

// First fit from the hint `from`; `found` holds the run's start on success.
Result search(vek_bitmap_t *map, uint64_t from, uint32_t want, uint32_t *found) {
    uint32_t start = 0;
    if (from >= map->size || !start_from(map, static_cast<uint32_t>(from), &start) ||
        !first_fit(map, start, want, found)) {
        return kNoRun;
    }
    return kFound;
}

// rc -2 with st 0 stands for a full bitmap whose hint is at the end.
Result reserve(vek_bitmap_t *map, uint32_t size, uint32_t *base) {
    if (map == nullptr) return {-1, VEK_ST_INVALID_VALUE};
    if (size > map->size) return {-2, VEK_ST_INVALID_VALUE};
    if (map->firstFree >= map->size) return {-2, VEK_ST_SUCCESS};
    uint32_t candidate = 0;
    const Result r = search(map, map->firstFree, size, &candidate);
    if (r.rc != 0) return r;
    vek::bitmap::set_run(map->size, map->bits, size, candidate);
    vek::bitmap::after_reserve(map, candidate, vek::bitmap::WhenFull::AtZero);
    store(base, candidate);
    return kFound;
}

Result find_from(vek_bitmap_t *map, uint32_t begin, uint32_t size, uint32_t *base) {
    if (map == nullptr) return {-1, VEK_ST_INVALID_VALUE};
    // begin 0 means the hint; otherwise the search starts after begin.
    const uint64_t from = (begin != 0u) ? uint64_t{begin} + 1u : map->firstFree;
    uint32_t candidate = 0;
    const Result r = search(map, from, size, &candidate);
    if (r.rc == 0) store(base, candidate);
    return r;
}

int32_t reserve_fixed(vek_bitmap_t *map, uint32_t size, uint32_t base) {
    if (map == nullptr) return -1;
    if (base >= map->size || vek::bitmap::free_run(map, base, size) < size) return -2; // in use, or past the end
    vek::bitmap::set_run(map->size, map->bits, size, base);
    vek::bitmap::after_reserve(map, base);
    return 0;
}

void unreserve(vek_bitmap_t *map, uint32_t size, uint32_t base) {
    if (map == nullptr || base >= map->size) return;
    vek::bitmap::clear_run(map->size, map->bits, size, base);
    if (base < map->firstFree) map->firstFree = base;
}

} // namespace

extern "C" VEK_API int32_t vek_bitmap_reserve(vek_bitmap_t *map, uint32_t size, uint32_t *base) {
    const vek::trace::Call call(__func__, {{"map", map}, {"size", size}, {"base", base}});
    const Result r = reserve(map, size, base);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(map));
    // A full bitmap with its hint at the end answers -2 without an exit line.
    if (!(r.rc == -2 && r.st == VEK_ST_SUCCESS)) call.exit({{"vekStatus", r.st}, {"base", out_value(base)}});
    return r.rc;
}

extern "C" VEK_API int32_t vek_bitmap_reserve_test(vek_bitmap_t *map, uint32_t size, uint32_t *base) {
    const vek::trace::Call call(__func__, {{"map", map}, {"size", size}, {"base", base}});
    uint32_t candidate = 0;
    const Result r =
        (map == nullptr) ? Result{-1, VEK_ST_INVALID_VALUE} : search(map, map->firstFree, size, &candidate);
    if (r.rc == 0) store(base, candidate);
    call.exit({{"vekStatus", r.st}});
    return r.rc;
}

extern "C" VEK_API int32_t vek_bitmap_find_from(vek_bitmap_t *map, uint32_t begin, uint32_t size, uint32_t *base) {
    const vek::trace::Call call(__func__, {{"map", map}, {"begin", begin}, {"size", size}, {"base", base}});
    const Result r = find_from(map, begin, size, base);
    call.exit({{"vekStatus", r.st}, {"base", out_value(base)}});
    return r.rc;
}

// Its own entry line, then those of vek_bitmap_find_from, which does the work.
extern "C" VEK_API int32_t vek_bitmap_find(vek_bitmap_t *map, uint32_t size, uint32_t *base) {
    const vek::trace::Call call(__func__, {{"map", map}, {"size", size}, {"base", base}});
    return vek_bitmap_find_from(map, 0, size, base);
}

extern "C" VEK_API int32_t vek_bitmap_reserve_fixed(vek_bitmap_t *map, uint32_t size, uint32_t base) {
    const vek::trace::Call call(__func__, {{"map", map}, {"size", size}, {"base", base}});
    const int32_t rc = reserve_fixed(map, size, base);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(map));
    call.exit({{"status", rc}});
    return rc;
}

extern "C" VEK_API int32_t vek_bitmap_unreserve(vek_bitmap_t *map, uint32_t size, uint32_t base) {
    const vek::trace::Call call(__func__, {{"map", map}, {"size", size}, {"base", base}});
    unreserve(map, size, base);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(map));
    call.exit({{"return", 0}});
    return 0;
}
