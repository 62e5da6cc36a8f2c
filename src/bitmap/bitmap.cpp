// Bitmap objects: creation, copy, deletion, and single identifiers.
#include <algorithm>
#include <cstring>

#include "bitmap/bitmap_check.hpp"
#include "bitmap/bitmap_internal.hpp"
#include "foundation/memory.hpp"
#include "foundation/status_merge.hpp"
#include "foundation/trace.hpp"

namespace {

// The test of one identifier, as the exported test names it.
constexpr const char *kTestOp = "vek_bitmap_isset"; // printed in trace lines

// Allocates a header and a word array of `words` words. On failure nothing
// stays allocated and *st holds the failing status (an owner-dead release
// status replacing it).
vek_bitmap_t *alloc_bitmap(uint32_t words, vek_st_t *st) {
    vek_bitmap_t *map = nullptr;
    *st = vek::robust_alloc(&map, VEK_NVM_NO_FILL);
    if (*st != VEK_ST_SUCCESS) return nullptr;
    map->bits = nullptr;
    *st = vek::robust_alloc_array(words, &map->bits, VEK_NVM_NO_FILL);
    if (*st != VEK_ST_SUCCESS) {
        map->bits = nullptr;
        vek::merge_status(*st, vek::robust_free(&map));
        return nullptr;
    }
    return map;
}

// A new bitmap of `size` identifiers, all free; null when size is 0 or
// memory is short.
vek_bitmap_t *create_bitmap(uint32_t size) {
    if (size == 0u) return nullptr;
    const uint32_t words = vek::bitmap::words_for(size);
    vek_st_t st = VEK_ST_SUCCESS;
    vek_bitmap_t *map = alloc_bitmap(words, &st);
    if (map == nullptr) return nullptr;
    map->size = size;
    map->words_needed = words;
    map->firstFree = 0;
    std::memset(map->bits, 0, static_cast<std::size_t>(words) * sizeof(uint32_t));
    if (size % 32u != 0u) map->bits[words - 1u] = ~0u << (size % 32u);
    return map;
}

vek_st_t delete_bitmap(vek_bitmap_t *map) {
    vek_st_t st = VEK_ST_SUCCESS;
    if (map == nullptr) return st;
    if (map->bits != nullptr) st = vek::robust_free(&map->bits);
    vek::merge_status(st, vek::robust_free(&map));
    return st;
}

vek_bitmap_t *copy_bitmap(const vek_bitmap_t *bits, vek_st_t *st) {
    if (bits == nullptr) {
        *st = VEK_ST_INVALID_VALUE;
        return nullptr;
    }
    vek_bitmap_t *copy = alloc_bitmap(bits->words_needed, st);
    if (copy == nullptr) return nullptr;
    copy->size = bits->size;
    copy->words_needed = bits->words_needed;
    copy->firstFree = bits->firstFree;
    if (bits->words_needed != 0u) {
        std::memcpy(copy->bits, bits->bits, static_cast<std::size_t>(bits->words_needed) * sizeof(uint32_t));
    }
    return copy;
}

int32_t set_id(vek_bitmap_t *map, uint32_t id, vek_st_t *st) {
    if (map == nullptr) {
        *st = VEK_ST_INVALID_VALUE;
        return -1;
    }
    if (id >= map->size || vek::bitmap::bit_is_set(map, id)) {
        *st = VEK_ST_ERROR;
        return -1;
    }
    map->bits[id / 32u] |= 1u << (id % 32u);
    vek::bitmap::after_reserve(map, id);
    return 0;
}

vek_st_t clear_id(vek_bitmap_t *map, uint32_t id) {
    if (map == nullptr || id >= map->size) return VEK_ST_INVALID_VALUE;
    vek::bitmap::clear_run(map->size, map->bits, 1, id);
    if (id < map->firstFree) map->firstFree = id;
    return VEK_ST_SUCCESS;
}

int32_t test_id(vek_bitmap_t *map, uint32_t id, vek_st_t *st) {
    if (map == nullptr) {
        *st = VEK_ST_INVALID_VALUE;
        return 0;
    }
    if (id >= map->size) {
        *st = VEK_ST_ERROR;
        return 0;
    }
    return vek::bitmap::bit_is_set(map, id) ? 1 : 0;
}

// Identifiers whose state is `value` (0 free, 1 in use; none for another
// value), counted a word at a time. Each identifier shows the lines of its
// test, as vek_bitmap_isset prints them.
uint32_t count_ids(vek_bitmap_t *map, uint8_t value) {
    const uint32_t free = vek::bitmap::count_free(*map, map->size);
    if (vek::trace::on()) {
        for (uint32_t id = 0; id < map->size; ++id) vek::bitmap::trace_test(map, id, VEK_ST_SUCCESS);
    }
    switch (value) {
    case 0: return free;
    case 1: return map->size - free;
    default: return 0;
    }
}

} // namespace

namespace vek::bitmap {

void trace_test(const vek_bitmap_t *map, uint32_t id, vek_st_t st) {
    if (!trace::on()) return;
    trace::write_line(kTestOp, {{"map", map}, {"id", id}});
    trace::write_line(kTestOp, {{"vekStatus", st}});
}

bool run_all_set(const vek_bitmap_t &map, uint32_t start, uint32_t count) {
    const uint64_t end = uint64_t{start} + count;
    const uint64_t inside = std::min<uint64_t>(end, map.size);
    // The first identifier of the run that is not in use: a free one, or
    // the first one past the size.
    const uint64_t stop = start < inside ? find_next<false>(map.bits, map.words_needed, start, inside) : start;
    const bool all_set = stop >= end;
    if (trace::on()) {
        const uint64_t last = all_set ? end : stop + 1u;
        for (uint64_t id = start; id < last; ++id) {
            trace_test(&map, static_cast<uint32_t>(id), id < map.size ? VEK_ST_SUCCESS : VEK_ST_ERROR);
        }
    }
    return all_set;
}

} // namespace vek::bitmap

extern "C" VEK_API vek_bitmap_t *vek_bitmap_create(uint32_t size) {
    const vek::trace::Call call(__func__, {{"size", size}});
    vek_bitmap_t *map = create_bitmap(size);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(map));
    // A bitmap that could not be made has no exit line.
    if (map != nullptr) {
        call.exit({{"vekStatus", VEK_ST_SUCCESS},
                   {"size", map->size},
                   {"words_needed", map->words_needed},
                   {"bits", map->bits},
                   {"firstFree", map->firstFree}});
    }
    return map;
}

extern "C" VEK_API int32_t vek_bitmap_delete(vek_bitmap_t *map) {
    const vek::trace::Call call(__func__, {{"map", map}});
    const vek_st_t st = delete_bitmap(map);
    call.exit({{"vekStatus", st}});
    return 0;
}

extern "C" VEK_API vek_bitmap_t *vek_bitmap_copy(vek_bitmap_t *bits) {
    const vek::trace::Call call(__func__, {{"bits", bits}});
    vek_st_t st = VEK_ST_SUCCESS;
    vek_bitmap_t *copy = copy_bitmap(bits, &st);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(copy));
    if (copy != nullptr) {
        call.exit({{"vekStatus", st}, {"new_bits", copy}});
    } else {
        call.exit({{"vekStatus", st}});
    }
    return copy;
}

extern "C" VEK_API uint32_t vek_bitmap_get_size(vek_bitmap_t *map) {
    const vek::trace::Call call(__func__, {{"map", map}});
    const uint32_t size = (map != nullptr) ? map->size : 0u;
    call.exit({{"_map->size", size}});
    return size;
}

extern "C" VEK_API int32_t vek_bitmap_set(vek_bitmap_t *map, uint32_t id) {
    const vek::trace::Call call(__func__, {{"map", map}, {"id", id}});
    vek_st_t st = VEK_ST_SUCCESS;
    const int32_t rc = set_id(map, id, &st);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(map));
    call.exit({{"vekStatus", st}});
    return rc;
}

extern "C" VEK_API int32_t vek_bitmap_clr(vek_bitmap_t *map, uint32_t id) {
    const vek::trace::Call call(__func__, {{"map", map}, {"id", id}});
    const vek_st_t st = clear_id(map, id);
    VEK_CHECK_STRUCTURE(vek::bitmap::verify_given(map));
    call.exit({{"vekStatus", st}});
    return 0;
}

// Its lines come from vek::bitmap::trace_test, as do those of every test of
// identifiers the library makes from the words (a count, a registry free).
extern "C" VEK_API int32_t vek_bitmap_isset(vek_bitmap_t *map, uint32_t id) {
    vek_st_t st = VEK_ST_SUCCESS;
    const int32_t rc = test_id(map, id, &st);
    vek::bitmap::trace_test(map, id, st);
    return rc;
}

extern "C" VEK_API int32_t vek_bitmap_count(vek_bitmap_t *map, uint8_t value) {
    const vek::trace::Call call(__func__, {{"map", map}, {"value", value}});
    const vek_st_t st = (map != nullptr) ? VEK_ST_SUCCESS : VEK_ST_INVALID_VALUE;
    const uint32_t count = (map != nullptr) ? count_ids(map, value) : 0u;
    call.exit({{"vekStatus", st}, {"count", count}});
    return (map != nullptr) ? static_cast<int32_t>(count) : -1;
}
