// Structure check of the map tree (see foundation/check.hpp).
//
// A map is whole when it carries its magic, its count is not negative,
// both entry arrays are present or absent together and present whenever
// there are entries, every entry has a key and no key holds a '.'. Nodes
// may be absent, and their type codes and payloads are the caller's (a node
// handed to vek_map_set_value_ll may hold any code); a map node's child is
// checked in turn when it is a valid map, and one that is null or foreign
// is left alone, as every operation leaves it. A child that is the map
// itself or one of the maps above it would make every walk of the tree
// endless, and is broken.
//
// The walk is iterative with a fixed stack, like the encoder's: it checks
// the map handed in and the maps down to VEK_MAP_DECODE_MAX_DEPTH levels
// below it, and does not look deeper.
#include <cstring>

#include "map/map_internal.hpp"

namespace vek::map {

namespace {

// The map's own fields, not its entries.
const char *verify_fields(const vek_map_t *map) {
    if (map->magic != VEK_MAP_MAGIC) return "map without its magic";
    if (map->count < 0) return "entry count is negative";
    if ((map->keys == nullptr) != (map->values == nullptr)) return "one entry array without the other";
    if (map->count > 0 && map->keys == nullptr) return "entries without entry arrays";
    return nullptr;
}

struct Level {
    const vek_map_t *map;
    int32_t next;
};

} // namespace

const char *verify(const vek_map_t *map) {
    if (map == nullptr) return "map is null";
    if (const char *broken = verify_fields(map)) return broken;
    Level stack[kMaxDepth + 1];
    int top = 0;
    stack[0] = {map, 0};
    while (top >= 0) {
        Level &level = stack[top];
        if (level.next >= level.map->count) {
            --top;
            continue;
        }
        const int32_t i = level.next++;
        const char *key = level.map->keys[i];
        if (key == nullptr) return "entry without a key";
        if (std::strchr(key, '.') != nullptr) return "key holds a '.'";
        const vek_map_t *child = child_map(level.map->values[i]);
        if (child == nullptr) continue;
        for (int up = 0; up <= top; ++up) {
            if (stack[up].map == child) return "map holds itself or a map above it";
        }
        if (const char *broken = verify_fields(child)) return broken;
        if (top < kMaxDepth) stack[++top] = {child, 0};
    }
    return nullptr;
}

} // namespace vek::map
