// Releasing map trees without recursion.
//
// A tree is released by pointer reversal: the walk always works on the last
// entry of the current map. A leaf entry is released at once; for an entry
// whose node holds a valid child map, the node's map pointer is turned round
// to point at the map above the current one, and the walk moves down into
// the child. When a map has no entries left its arrays and object are
// released, and the walk climbs back through the turned-round pointer of the
// node that led into it, which is then released with its key. The walk uses
// constant stack and allocates nothing, whatever the depth of the tree.
#include <cstddef>

#include "map/map_internal.hpp"

namespace vek::map {

namespace {

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

// Releases the key and node of the last entry of `map` (the node must not
// lead into a valid child any more).
void drop_last_entry(vek_map_t *map) {
    const int32_t i = map->count - 1;
    vek_map_free(map->keys[i]);
    if (vek_map_value_t *node = map->values[i]; node != nullptr) {
        release_flat_payload(node);
        vek_map_free(node);
    }
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

} // namespace

void clear_entries(vek_map_t *root) {
    vek_map_t *cur = root;
    vek_map_t *above = nullptr; // the map whose last node leads into cur
    for (;;) {
        if (cur->count > 0) {
            vek_map_value_t *node = cur->values[cur->count - 1];
            if (vek_map_t *child = child_map(node); child != nullptr) {
                node->payload.map = above; // the way back
                above = cur;
                cur = child;
            } else {
                drop_last_entry(cur);
            }
            continue;
        }
        release_arrays(cur);
        if (cur == root) return;
        vek_map_t *done = cur;
        cur = above;
        vek_map_value_t *node = cur->values[cur->count - 1];
        above = node->payload.map;
        node->type = VEK_MAP_TYPE_NONE;
        node->payload.map = nullptr;
        done->magic = 0;
        vek_map_free(done);
        drop_last_entry(cur);
    }
}

void destroy_tree(vek_map_t *map) {
    clear_entries(map);
    map->magic = 0;
    vek_map_free(map);
}

vek_st_t release_payload(vek_map_value_t *node) {
    if (vek_map_t *child = child_map(node); child != nullptr) {
        destroy_tree(child);
        node->type = VEK_MAP_TYPE_NONE;
        node->payload.map = nullptr;
        return VEK_ST_SUCCESS;
    }
    return release_flat_payload(node);
}

vek_st_t release_node(vek_map_value_t *node) {
    if (node == nullptr) return VEK_ST_SUCCESS;
    const vek_st_t st = release_payload(node);
    vek_map_free(node);
    return st;
}

vek_map_t *new_map() {
    auto *map = static_cast<vek_map_t *>(vek_map_malloc(sizeof(vek_map_t)));
    if (map == nullptr) return nullptr;
    map->magic = VEK_MAP_MAGIC;
    map->count = 0;
    map->keys = nullptr;
    map->values = nullptr;
    return map;
}

} // namespace vek::map
