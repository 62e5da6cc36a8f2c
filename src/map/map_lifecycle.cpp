// Map life cycle (create, clear, destroy, free of a value node) and the
// heap wrappers through which all map memory is obtained and released.
// Clear, destroy and free of a node walk the tree in map_release.cpp.
#include <cstddef>
#include <cstdint>

#include "foundation/check.hpp"
#include "foundation/memory.hpp"
#include "foundation/trace.hpp"
#include "map/map_internal.hpp"

extern "C" VEK_API void *vek_map_malloc(size_t size) { return vek_malloc(size); }

extern "C" VEK_API void *vek_map_realloc(void *ptr, size_t size) { return vek_realloc(ptr, size); }

extern "C" VEK_API void vek_map_free(void *ptr) {
    if (ptr != nullptr) vek_free(ptr);
}

extern "C" VEK_API char *vek_map_strdup(const char *str) {
    const vek::trace::Call call(__func__, {{"str", str}});
    char *copy = str != nullptr ? vek::heap_copy_text(str) : nullptr;
    call.exit({{"dstr", copy}}); // the copy instead of a status
    return copy;
}

namespace {

// A null out-variable is refused: the map could not be handed out.
vek_st_t create_map(vek_map_t **map) {
    if (map == nullptr) return VEK_ST_INVALID_PARAMETER;
    vek_map_t *made = vek::map::new_map();
    if (made == nullptr) return VEK_ST_NO_MEMORY;
    *map = made;
    return VEK_ST_SUCCESS;
}

} // namespace

extern "C" VEK_API vek_st_t vek_map_create(vek_map_t **map) {
    const vek::trace::Call call(__func__, {{"map", map}});
    const vek_st_t st = create_map(map);
    call.exit({{"vekStatus", st}});
    VEK_CHECK_STRUCTURE(st == VEK_ST_SUCCESS ? vek::map::verify(*map) : nullptr);
    return st;
}

extern "C" VEK_API vek_st_t vek_map_clear(vek_map_t *map) {
    const vek::trace::Call call(__func__, {{"vek_map", map}});
    const vek_st_t st = vek::map::clear_map(map, vek::trace::on());
    call.exit({{"vekStatus", st}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

extern "C" VEK_API vek_st_t vek_map_destroy(vek_map_t *map) {
    const vek::trace::Call call(__func__, {{"vek_map", map}});
    const vek_st_t st = vek::map::destroy_map(map, vek::trace::on());
    call.exit({{"vekStatus", st}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_free_value(vek_map_value_t *value) {
    const vek::trace::Call call(__func__, {{"v", value}});
    const vek_st_t st = vek::map::free_node(value, vek::trace::on());
    call.exit({{"vekStatus", st}});
    return st;
}
