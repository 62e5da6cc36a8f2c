// Bitmap objects: creation, copy, deletion, and single identifiers.
#include <cstring>

#include "bitmap/bitmap_internal.hpp"
#include "foundation/memory.hpp"
#include "foundation/status_merge.hpp"
#include "foundation/trace.hpp"

using vek::trace::line;

namespace {

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

} // namespace

extern "C" VEK_API vek_bitmap_t *vek_bitmap_create(uint32_t size) {
    line("vek_bitmap_create", {{"size", size}});
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
    line("vek_bitmap_create", {{"vekStatus", VEK_ST_SUCCESS},
                               {"size", map->size},
                               {"words_needed", map->words_needed},
                               {"bits", map->bits},
                               {"firstFree", map->firstFree}});
    return map;
}

extern "C" VEK_API int32_t vek_bitmap_delete(vek_bitmap_t *map) {
    line("vek_bitmap_delete", {{"map", map}});
    vek_st_t st = VEK_ST_SUCCESS;
    if (map != nullptr) {
        if (map->bits != nullptr) st = vek::robust_free(&map->bits);
        vek::merge_status(st, vek::robust_free(&map));
    }
    line("vek_bitmap_delete", {{"vekStatus", st}});
    return 0;
}

extern "C" VEK_API vek_bitmap_t *vek_bitmap_copy(vek_bitmap_t *bits) {
    line("vek_bitmap_copy", {{"bits", bits}});
    if (bits == nullptr) {
        line("vek_bitmap_copy", {{"vekStatus", VEK_ST_INVALID_VALUE}});
        return nullptr;
    }
    vek_st_t st = VEK_ST_SUCCESS;
    vek_bitmap_t *copy = alloc_bitmap(bits->words_needed, &st);
    if (copy == nullptr) {
        line("vek_bitmap_copy", {{"vekStatus", st}});
        return nullptr;
    }
    copy->size = bits->size;
    copy->words_needed = bits->words_needed;
    copy->firstFree = bits->firstFree;
    if (bits->words_needed != 0u) {
        std::memcpy(copy->bits, bits->bits, static_cast<std::size_t>(bits->words_needed) * sizeof(uint32_t));
    }
    line("vek_bitmap_copy", {{"vekStatus", VEK_ST_SUCCESS}, {"new_bits", copy}});
    return copy;
}

extern "C" VEK_API uint32_t vek_bitmap_get_size(vek_bitmap_t *map) {
    line("vek_bitmap_get_size", {{"map", map}});
    const uint32_t size = (map != nullptr) ? map->size : 0u;
    line("vek_bitmap_get_size", {{"_map->size", size}});
    return size;
}

extern "C" VEK_API int32_t vek_bitmap_set(vek_bitmap_t *map, uint32_t id) {
    line("vek_bitmap_set", {{"map", map}, {"id", id}});
    vek_st_t st = VEK_ST_SUCCESS;
    int32_t rc = 0;
    if (map == nullptr) {
        st = VEK_ST_INVALID_VALUE;
        rc = -1;
    } else if (id >= map->size || vek::bitmap::bit_is_set(map, id)) {
        st = VEK_ST_ERROR;
        rc = -1;
    } else {
        map->bits[id / 32u] |= 1u << (id % 32u);
        vek::bitmap::after_reserve(map, id);
    }
    line("vek_bitmap_set", {{"vekStatus", st}});
    return rc;
}

extern "C" VEK_API int32_t vek_bitmap_clr(vek_bitmap_t *map, uint32_t id) {
    line("vek_bitmap_clr", {{"map", map}, {"id", id}});
    vek_st_t st = VEK_ST_SUCCESS;
    if (map == nullptr || id >= map->size) {
        st = VEK_ST_INVALID_VALUE;
    } else {
        _vek_bitmap_clear_run(map->size, map->bits, 1, id);
        if (id < map->firstFree) map->firstFree = id;
    }
    line("vek_bitmap_clr", {{"vekStatus", st}});
    return 0;
}

extern "C" VEK_API int32_t vek_bitmap_isset(vek_bitmap_t *map, uint32_t id) {
    line("vek_bitmap_isset", {{"map", map}, {"id", id}});
    vek_st_t st = VEK_ST_SUCCESS;
    int32_t rc = 0;
    if (map == nullptr) {
        st = VEK_ST_INVALID_VALUE;
    } else if (id >= map->size) {
        st = VEK_ST_ERROR;
    } else {
        rc = vek::bitmap::bit_is_set(map, id) ? 1 : 0;
    }
    line("vek_bitmap_isset", {{"vekStatus", st}});
    return rc;
}

extern "C" VEK_API int32_t vek_bitmap_count(vek_bitmap_t *map, uint8_t value) {
    line("vek_bitmap_count", {{"map", map}, {"value", value}});
    if (map == nullptr) {
        line("vek_bitmap_count", {{"vekStatus", VEK_ST_INVALID_VALUE}, {"count", 0}});
        return -1;
    }
    // Each identifier goes through vek_bitmap_isset, with its trace lines.
    uint32_t count = 0;
    for (uint32_t id = 0; id < map->size; ++id) {
        if (vek_bitmap_isset(map, id) == static_cast<int32_t>(value)) ++count;
    }
    line("vek_bitmap_count", {{"vekStatus", VEK_ST_SUCCESS}, {"count", count}});
    return static_cast<int32_t>(count);
}
