// Map life cycle (create, clear, destroy, free of a value node) and the
// heap wrappers through which all map memory is obtained and released.
// Clear, destroy and free of a node walk the tree in map_release.cpp.
#include <cstddef>
#include <cstdint>

#include "foundation/memory.hpp"
#include "foundation/trace.hpp"
#include "map/map_internal.hpp"

extern "C" VEK_API void *vek_map_malloc(size_t size) { return vek_malloc(size); }

extern "C" VEK_API void *vek_map_realloc(void *ptr, size_t size) { return vek_realloc(ptr, size); }

extern "C" VEK_API void vek_map_free(void *ptr) {
    if (ptr != nullptr) vek_free(ptr);
}

extern "C" VEK_API char *vek_map_strdup(const char *str) {
    vek::trace::line("vek_map_strdup", {{"str", str}});
    char *copy = str != nullptr ? vek::heap_copy_text(str) : nullptr;
    vek::trace::raw("%s dstr=%llx\n", "vek_map_strdup", vek::trace::widen(copy));
    return copy;
}

extern "C" VEK_API vek_st_t vek_map_create(vek_map_t **map) {
    vek::trace::line("vek_map_create", {{"map", map}});
    vek_st_t st = VEK_ST_INVALID_PARAMETER; // no out-variable to hand the map out through
    if (map != nullptr) {
        vek_map_t *made = vek::map::new_map();
        st = made != nullptr ? VEK_ST_SUCCESS : VEK_ST_NO_MEMORY;
        if (made != nullptr) *map = made;
    }
    vek::trace::line("vek_map_create", {{"vekStatus", st}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_clear(vek_map_t *map) {
    return vek::map::clear_map(map, vek::trace::on());
}

extern "C" VEK_API vek_st_t vek_map_destroy(vek_map_t *map) {
    return vek::map::destroy_map(map, vek::trace::on());
}

extern "C" VEK_API vek_st_t vek_map_free_value(vek_map_value_t *value) {
    return vek::map::free_node(value, vek::trace::on());
}
