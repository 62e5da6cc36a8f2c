// Private interface of the typed map: the path-resolution primitives shared
// by the model, the encoder/decoder, the queries and the dumps, and small
// helpers over the map object and its value nodes.
//
// Stack use. No map operation nests one stack frame per tree level without
// a bound:
//   - path resolution (vek::map::find_slot) walks a dotted path in a loop, so
//     a get or set of a path of any length uses constant stack;
//   - releasing a tree (clear, destroy, free of a map node, replacing or
//     deleting a map entry) walks the tree iteratively by pointer reversal
//     (the node that leads into a child map keeps the way back while the
//     child is released), so trees of any depth are released with constant
//     stack and without allocating;
//   - encoding and decoding walk the tree with an explicit stack of fixed
//     size held in the caller's frame; they accept maps down to
//     VEK_MAP_DECODE_MAX_DEPTH levels below the map handed in and answer
//     VEK_ST_MAP_INTERNAL_ERROR for a deeper map.
//
// Trace lines. Each exported operation prints its own entry and exit lines,
// and a call that the library makes to another exported operation as one of
// the steps of its work prints that operation's lines where the step is
// made, nested in the caller's: the key copy of a new entry
// (vek_map_strdup), the release of a replaced or deleted node
// (vek_map_free_value), the destroy of a node's child map and the clear it
// begins with, the release of each entry by a clear, and in the decoder the
// creation of child maps (vek_map_create), the destroy of a child that
// failed and the clear of a map after a failure that empties it. The
// encoder and decoder print the lines of a nested vek_map_encode_to /
// vek_map_decode_from call for each nested map, and the memory variants and
// the copy those of the calls they make. The rest that an operation makes
// on its way (head copies, new intermediate maps along a path, fresh
// nodes, and whatever it undoes after a failure) prints nothing.
#pragma once

#include <cstdint>

#include <vek/vek_map.h>
#include <vek/vek_sal.h>
#include <vek/vek_status.h>

namespace vek::map {

// Finds one path component (a name, or a name with a "[field=value]"
// selector) among the entries of `map` (no path). Cuts `component` at its
// first '[' when it has a selector. On success *slot is the address of the
// matching values[i]; on failure *slot is null and the status is 104, 107,
// 103 or 2.
vek_st_t find_component(vek_map_t *map, char *component, vek_map_value_t ***slot);

// Resolves a dotted key path. lookup: search existing entries at each
// level; create: append missing entries (intermediate maps) and return the
// slot of the leaf. A slot returned in create mode may hold a node or null.
// In create mode a failure (2, 103) undoes whatever this call added.
vek_st_t find_slot(vek_map_t *map, const char *path, uint8_t lookup, uint8_t create, vek_map_value_t ***slot);

// Set steps shared by the typed set operations and the decoder: resolves
// `key` in create mode, releases the node the slot held, and places a new
// node of type VEK_MAP_TYPE_NONE with a zeroed payload, handed out through
// *node for the caller to fill. Nothing changes on failure.
vek_st_t alloc_value(vek_map_t *map, const char *key, uint8_t checkForKey, vek_map_value_t **node);

// Appends an entry to `map` itself (no path, no lookup) that takes over the
// heap block `key` and `node`; on failure both stay the caller's and the map
// is unchanged.
vek_st_t append_owned(vek_map_t *map, char *key, vek_map_value_t *node);

// Map levels below the map handed in that the encoder, the decoder and the
// dumps walk; a deeper map is refused (VEK_ST_MAP_INTERNAL_ERROR) or, in a
// dump, not printed.
inline constexpr int kMaxDepth = VEK_MAP_DECODE_MAX_DEPTH;

// True for a non-null map carrying VEK_MAP_MAGIC.
inline bool is_valid(const vek_map_t *map) { return map != nullptr && map->magic == VEK_MAP_MAGIC; }

// Key comparison used everywhere in the map: case-insensitive equality.
inline bool keys_equal(const char *a, const char *b) { return vek_stricmp(a, b) == 0; }

// Type code of a node; VEK_MAP_TYPE_NONE for an entry that holds no node.
inline int32_t node_type(const vek_map_value_t *node) { return node != nullptr ? node->type : VEK_MAP_TYPE_NONE; }

// The valid child map of a map node, or null (not a map node, no node,
// absent or invalid child).
inline vek_map_t *child_map(const vek_map_value_t *node) {
    if (node == nullptr || node->type != VEK_MAP_TYPE_MAP) return nullptr;
    return is_valid(node->payload.map) ? node->payload.map : nullptr;
}

// The work of the release operations, without their own entry and exit
// lines. With `lines` they print the lines of every call nested in them
// (see above), in the order a recursive release would print them; without,
// nothing. All of them are iterative (map_lifecycle.cpp).
//   clear_map:   vek_map_clear (0 or VEK_ST_MAP_INVALID_MAP)
//   destroy_map: vek_map_destroy (0 or VEK_ST_MAP_INVALID_MAP)
//   free_node:   vek_map_free_value (0, VEK_ST_ERROR for a null node, or
//                the destroy status of a map node's child)
vek_st_t clear_map(vek_map_t *map, bool lines);
vek_st_t destroy_map(vek_map_t *map, bool lines);
vek_st_t free_node(vek_map_value_t *node, bool lines);

// Releases every entry of a valid map (keys, nodes, whole subtrees) and
// both arrays; the map stays valid and empty. No trace lines.
void clear_entries(vek_map_t *map);

// Clears a valid map and releases the object. No trace lines.
void destroy_tree(vek_map_t *map);

// Releases the payload storage of a node (text, bytes, or the whole child
// map tree) without releasing the node. Returns VEK_ST_MAP_INVALID_MAP for a
// map node whose child is absent or invalid (the child is left alone), else
// success. No trace lines.
vek_st_t release_payload(vek_map_value_t *node);

// Releases a node and its payload storage; a null node is ignored.
// Returns release_payload's status. No trace lines.
vek_st_t release_node(vek_map_value_t *node);

// release_node as the deleter of an owning pointer (vek::HeapPtr).
inline void release_node_block(void *node) { release_node(static_cast<vek_map_value_t *>(node)); }

// Creates an empty map (no trace lines); null when memory is exhausted.
vek_map_t *new_map();

// A fresh value node: type VEK_MAP_TYPE_NONE, payload zeroed; null when
// memory is exhausted.
vek_map_value_t *new_node();

// A typed set after its map check: set steps 2 to 5 with the value of
// `type` in `payload` (a text, byte block or map taken over on success).
// Storing a slot's own text, byte block or map back into it keeps the node
// and releases nothing. Nothing changes on failure.
vek_st_t set_value(vek_map_t *map, const char *key, uint8_t checkForKey, int32_t type,
                   const vek_map_payload_t &payload);

// Set steps 2 and 3 followed by placing `node` (may be null, taken over on
// success) in the slot of `key`: what vek_map_set_value_ll does after its
// map check. Nothing changes on failure; the node stays the caller's.
vek_st_t place_node(vek_map_t *map, const char *key, uint8_t checkForKey, vek_map_value_t *node);

// Structure check of the tree of a map (map_verify.cpp): nullptr when it
// is whole, else a short text naming the first broken property.
const char *verify(const vek_map_t *map);

// The check that ends an exported operation on `map`: the tree of a valid
// map; nothing for a pointer the operation refused as no map.
inline const char *verify_if_map(const vek_map_t *map) { return is_valid(map) ? verify(map) : nullptr; }

} // namespace vek::map
