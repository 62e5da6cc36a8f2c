// Map life cycle: making maps and value nodes and releasing them again
// (create, clear, destroy, free of a value node), and the heap wrappers
// through which all map memory is obtained and released.
//
// Trees are released without recursion, with the trace lines of the calls
// a release is made of.
//
// Clearing a map releases each entry's node with vek_map_free_value, in
// index order; freeing a map node destroys its child with vek_map_destroy,
// and destroying a map clears it first. A release is therefore a nest of
// calls as deep as the tree, and when tracing is on each of them prints its
// entry line on the way down and its exit line on the way up.
//
// The nest is walked iteratively by pointer reversal: a map's entries are
// put in reverse order when the walk enters it, so that the walk can always
// work on the last entry and still release them in index order. A leaf
// entry is released at once; for an entry whose node holds a valid child
// map, the node's map pointer is turned round to point at the map above the
// current one, and the walk moves down into the child. When a map has no
// entries left its arrays and object are released, and the walk climbs back
// through the turned-round pointer of the node that led into it, which is
// then released with its key. The walk uses constant stack and allocates
// nothing, whatever the depth of the tree.
#include <cstddef>
#include <cstdint>
#include <utility>

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

namespace vek::map {

vek_map_t *new_map() {
    auto *map = static_cast<vek_map_t *>(vek_map_malloc(sizeof(vek_map_t)));
    if (map == nullptr) return nullptr;
    map->magic = VEK_MAP_MAGIC;
    map->count = 0;
    map->keys = nullptr;
    map->values = nullptr;
    return map;
}

vek_map_value_t *new_node() {
    auto *node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    if (node == nullptr) return nullptr;
    node->type = VEK_MAP_TYPE_NONE;
    node->payload = vek_map_payload_t{};
    return node;
}

namespace {

constexpr const char *kFreeValue = "vek_map_free_value"; // printed in trace lines
constexpr const char *kDestroy = "vek_map_destroy";      // printed in trace lines
constexpr const char *kClear = "vek_map_clear";          // printed in trace lines

// Entry and exit lines of the release calls; printed only when `on`.
void enter(bool on, const char *op, const char *field, const void *arg) {
    if (on) trace::line(op, {{field, arg}});
}
void leave(bool on, const char *op, vek_st_t st) {
    if (on) trace::line(op, {{"vekStatus", st}});
}

// Releases the storage of a node that does not lead into a valid child
// map. A map node whose child is absent or invalid leaves the child alone.
vek_st_t release_flat_payload(vek_map_value_t *node) {
    vek_st_t st = VEK_ST_SUCCESS;
    switch (node->type) {
    case VEK_MAP_TYPE_STR: vek_map_free(node->payload.str); break;
    case VEK_MAP_TYPE_BIN: vek_map_free(node->payload.bin.data); break;
    case VEK_MAP_TYPE_MAP: st = VEK_ST_MAP_INVALID_MAP; break;
    default: break;
    }
    node->type = VEK_MAP_TYPE_NONE;
    node->payload.str = nullptr;
    return st;
}

// Releases the key and the node of the last entry of `map`; the node's
// payload is released already.
void drop_last_entry(vek_map_t *map) {
    const int32_t i = map->count - 1;
    vek_map_free(map->keys[i]);
    vek_map_free(map->values[i]);
    map->keys[i] = nullptr;
    map->values[i] = nullptr;
    map->count = i;
}

void release_arrays(vek_map_t *map) {
    vek_map_free(map->keys);
    vek_map_free(map->values);
    map->keys = nullptr;
    map->values = nullptr;
    map->count = 0;
}

// Puts the entries of a map that is being cleared in reverse order.
void reverse_entries(vek_map_t *map) {
    for (int32_t i = 0, j = map->count - 1; i < j; ++i, --j) {
        std::swap(map->keys[i], map->keys[j]);
        std::swap(map->values[i], map->values[j]);
    }
}

// Releases every entry of the valid map `root`, in index order, and both
// arrays, printing the lines of the vek_map_free_value call made for each
// entry and of the calls nested in it.
void release_entries(vek_map_t *root, bool lines) {
    reverse_entries(root);
    vek_map_t *cur = root;
    vek_map_t *above = nullptr; // the map whose last node leads into cur
    for (;;) {
        if (cur->count > 0) {
            vek_map_value_t *node = cur->values[cur->count - 1];
            enter(lines, kFreeValue, "v", node);
            if (node == nullptr) {
                leave(lines, kFreeValue, VEK_ST_ERROR);
                drop_last_entry(cur);
                continue;
            }
            if (node->type == VEK_MAP_TYPE_MAP) {
                vek_map_t *child = node->payload.map;
                enter(lines, kDestroy, "vek_map", child);
                if (is_valid(child)) {
                    enter(lines, kClear, "vek_map", child);
                    reverse_entries(child);
                    node->payload.map = above; // the way back
                    above = cur;
                    cur = child;
                    continue;
                }
                leave(lines, kDestroy, VEK_ST_MAP_INVALID_MAP);
            }
            leave(lines, kFreeValue, release_flat_payload(node));
            drop_last_entry(cur);
            continue;
        }
        release_arrays(cur);
        if (cur == root) return;
        leave(lines, kClear, VEK_ST_SUCCESS);
        vek_map_t *done = cur;
        cur = above;
        vek_map_value_t *node = cur->values[cur->count - 1];
        above = node->payload.map;
        node->type = VEK_MAP_TYPE_NONE;
        node->payload.map = nullptr;
        done->magic = 0;
        vek_map_free(done);
        leave(lines, kDestroy, VEK_ST_SUCCESS);
        leave(lines, kFreeValue, VEK_ST_SUCCESS);
        drop_last_entry(cur);
    }
}

} // namespace

vek_st_t clear_map(vek_map_t *map, bool lines) {
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    release_entries(map, lines);
    return VEK_ST_SUCCESS;
}

vek_st_t destroy_map(vek_map_t *map, bool lines) {
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    enter(lines, kClear, "vek_map", map);
    release_entries(map, lines);
    leave(lines, kClear, VEK_ST_SUCCESS);
    map->magic = 0;
    vek_map_free(map);
    return VEK_ST_SUCCESS;
}

vek_st_t free_node(vek_map_value_t *node, bool lines) {
    if (node == nullptr) return VEK_ST_ERROR;
    vek_st_t st = VEK_ST_SUCCESS;
    if (node->type == VEK_MAP_TYPE_MAP) {
        enter(lines, kDestroy, "vek_map", node->payload.map);
        st = destroy_map(node->payload.map, lines);
        leave(lines, kDestroy, st);
        node->type = VEK_MAP_TYPE_NONE;
        node->payload.map = nullptr;
    } else {
        st = release_flat_payload(node);
    }
    vek_map_free(node);
    return st;
}

void clear_entries(vek_map_t *map) { release_entries(map, false); }

void destroy_tree(vek_map_t *map) { destroy_map(map, false); }

vek_st_t release_payload(vek_map_value_t *node) {
    if (node->type == VEK_MAP_TYPE_MAP && is_valid(node->payload.map)) {
        destroy_map(node->payload.map, false);
        node->type = VEK_MAP_TYPE_NONE;
        node->payload.map = nullptr;
        return VEK_ST_SUCCESS;
    }
    return release_flat_payload(node);
}

vek_st_t release_node(vek_map_value_t *node) { return node != nullptr ? free_node(node, false) : VEK_ST_SUCCESS; }
} // namespace vek::map

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
