// Key paths: finding one component in one map, resolving a dotted path
// level by level (in a loop, never one stack frame per component), and the
// slot filling shared by the set operations and the decoder.
//
// A set that fails (memory exhausted, or a path through a map entry whose
// child is absent or invalid) leaves the tree as it was: the resolver keeps
// a note of the topmost change it made (an entry appended to some map, or a
// non-map entry turned into a map) and undoes it. Everything a set adds
// below that point hangs off it, so one undo removes it all. The storage of
// a value that a set replaces is released only once the set cannot fail
// any more.
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/memory.hpp"
#include "map/map_internal.hpp"

using vek::map::child_map;
using vek::map::is_valid;
using vek::map::keys_equal;

namespace {

// The topmost change of one resolution.
struct Undo {
    vek_map_t *appended_to = nullptr;       // map whose last entry was added
    char **old_keys = nullptr;              // its arrays before the append, when it
    vek_map_value_t **old_values = nullptr; //   grew them (released on commit)
    bool grew = false;
    vek_map_value_t **converted = nullptr; // slot whose node became a map node
    bool node_was_null = false;            // the slot held no node before
    int32_t old_type = VEK_MAP_TYPE_NONE;  // the converted node's former value
    vek_map_payload_t old_payload{};

    bool empty() const { return appended_to == nullptr && converted == nullptr; }

    // Takes the change back; the tree is as it was before the resolution,
    // the appended-to map with the very arrays it had.
    void rollback() {
        if (appended_to != nullptr) {
            vek_map_t *map = appended_to;
            const int32_t i = map->count - 1;
            vek_map_free(map->keys[i]);
            vek::map::release_node(map->values[i]);
            map->keys[i] = nullptr;
            map->values[i] = nullptr;
            map->count = i;
            if (grew) {
                vek_map_free(map->keys);
                vek_map_free(map->values);
                map->keys = old_keys;
                map->values = old_values;
            }
        } else if (converted != nullptr) {
            vek_map_value_t *node = *converted;
            vek::map::destroy_tree(node->payload.map);
            if (node_was_null) {
                vek_map_free(node);
                *converted = nullptr;
            } else {
                node->type = old_type;
                node->payload = old_payload;
            }
        }
        *this = Undo{};
    }

    // Makes the change final: releases what it replaced.
    void commit() {
        if (converted != nullptr && !node_was_null) {
            vek_map_value_t old{old_type, old_payload};
            vek::map::release_payload(&old);
        }
        if (grew) {
            vek_map_free(old_keys);
            vek_map_free(old_values);
        }
        *this = Undo{};
    }
};

// Selector value texts convert as strtol and strtoul (base 0) do with a
// 32-bit long, whatever the width of long here: a signed value saturates at
// the 32-bit limits; an unsigned one whose magnitude fits 32 bits is negated
// modulo 2^32 after a '-', and saturates at 0xFFFFFFFF otherwise.
int32_t text_to_i32(const char *text) {
    const long long v = std::strtoll(text, nullptr, 0);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

uint32_t text_to_u32(const char *text) {
    const char *p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // Every number, prefixed or not, starts with a digit; anything else
    // (a second sign, a blank) is no conversion at all.
    if (!std::isdigit(static_cast<unsigned char>(*p))) return 0;
    const unsigned long long magnitude = std::strtoull(p, nullptr, 0);
    if (magnitude > UINT32_MAX) return UINT32_MAX;
    const auto v = static_cast<uint32_t>(magnitude);
    return negative ? 0u - v : v;
}

// Compares a selector value text with the field entry of a candidate map.
bool field_matches(const vek_map_value_t *node, const char *text) {
    if (node == nullptr) return false;
    switch (node->type) {
    case VEK_MAP_TYPE_I32: return text_to_i32(text) == node->payload.i32;
    case VEK_MAP_TYPE_U32: return text_to_u32(text) == node->payload.u32;
    case VEK_MAP_TYPE_STR: return keys_equal(node->payload.str != nullptr ? node->payload.str : "", text);
    default: return false;
    }
}

// True when the first entry of `child` named `field` matches `text`.
bool selector_matches(const vek_map_t *child, const char *field, const char *text) {
    for (int32_t j = 0; j < child->count; ++j) {
        if (keys_equal(child->keys[j], field)) return field_matches(child->values[j], text);
    }
    return false;
}

// Room of a map's entry arrays for `count` entries. The arrays grow
// geometrically, so that n insertions cost O(n) copying in all: 4 slots for
// the first entries, then the next power of two. The room follows from the
// count alone (deleting does not shrink the arrays, so they may be larger
// than the count says, never smaller): an insertion into a map of n entries
// grows both arrays exactly when n equals capacity_for(n).
size_t capacity_for(size_t count) {
    if (count == 0) return 0;
    if (count <= 4) return 4;
    return std::bit_ceil(count);
}

// A map node holding a new empty map, or null when memory is exhausted.
vek_map_value_t *new_map_node() {
    vek_map_value_t *node = vek::map::new_node();
    if (node == nullptr) return nullptr;
    node->payload.map = vek::map::new_map();
    if (node->payload.map == nullptr) {
        vek_map_free(node);
        return nullptr;
    }
    node->type = VEK_MAP_TYPE_MAP;
    return node;
}

// A heap array of `count` pointers of the map's allocator, or null.
template <typename T>
T *new_array(size_t count) {
    size_t bytes = 0;
    if (!vek::array_bytes(count, sizeof(T), &bytes)) return nullptr;
    return static_cast<T *>(vek_map_malloc(bytes));
}

// Appends an entry named `key`; with `with_map` its value is a new map node
// holding a new empty map, else null. All or nothing: when the arrays must
// grow, both new arrays and the key copy are made before the map is
// touched, so a failure leaves the arrays, their contents and the count as
// they were. The key copy is made with vek_map_strdup, whose lines it prints;
// an `owned` key block is stored instead of a copy (on success only).
vek_st_t append_entry(vek_map_t *map, const char *key, bool with_map, vek_map_value_t ***slot, Undo *undo,
                      char *owned = nullptr) {
    const auto n = static_cast<size_t>(map->count);
    if (n >= static_cast<size_t>(INT32_MAX)) return VEK_ST_NO_MEMORY;
    vek::HeapPtr<vek_map_value_t, vek::map::release_node_block> node(with_map ? new_map_node() : nullptr);
    if (with_map && !node) return VEK_ST_NO_MEMORY;
    const bool grow = n == capacity_for(n);
    const size_t cap = capacity_for(n + 1);
    vek::HeapPtr<char *, vek_map_free> keys(grow ? new_array<char *>(cap) : nullptr);
    if (grow && !keys) return VEK_ST_NO_MEMORY;
    vek::HeapPtr<char, vek_map_free> copy(owned == nullptr ? vek_map_strdup(key) : nullptr);
    if (owned == nullptr && !copy) return VEK_ST_NO_MEMORY;
    vek::HeapPtr<vek_map_value_t *, vek_map_free> values(grow ? new_array<vek_map_value_t *>(cap) : nullptr);
    if (grow && !values) return VEK_ST_NO_MEMORY;
    const bool first_change = undo->empty();
    if (first_change) undo->appended_to = map;
    if (grow) {
        if (n != 0) {
            std::memcpy(keys.get(), map->keys, n * sizeof(char *));
            std::memcpy(values.get(), map->values, n * sizeof(vek_map_value_t *));
        }
        // The first change keeps the old arrays until it is committed, so
        // that a rollback can give them back.
        if (first_change) {
            undo->grew = true;
            undo->old_keys = map->keys;
            undo->old_values = map->values;
        } else {
            vek_map_free(map->keys);
            vek_map_free(map->values);
        }
        map->keys = keys.take();
        map->values = values.take();
    }
    map->keys[n] = owned != nullptr ? owned : copy.take();
    map->values[n] = node.take();
    map->count = static_cast<int32_t>(n + 1);
    *slot = &map->values[n];
    return VEK_ST_SUCCESS;
}

// Turns the node in `slot` (null or not a map node) into a map node holding
// a new empty map.
vek_st_t convert_to_map(vek_map_value_t **slot, Undo *undo) {
    vek_map_t *child = vek::map::new_map();
    if (child == nullptr) return VEK_ST_NO_MEMORY;
    vek_map_value_t *node = *slot;
    const bool was_null = node == nullptr;
    if (was_null) {
        node = vek::map::new_node();
        if (node == nullptr) {
            vek::map::destroy_tree(child);
            return VEK_ST_NO_MEMORY;
        }
        *slot = node;
    }
    if (undo->empty()) {
        undo->converted = slot;
        undo->node_was_null = was_null;
        undo->old_type = node->type;
        undo->old_payload = node->payload;
    } else if (!was_null) {
        vek::map::release_payload(node);
    }
    node->payload = vek_map_payload_t{};
    node->payload.map = child;
    node->type = VEK_MAP_TYPE_MAP;
    return VEK_ST_SUCCESS;
}

// Path resolution. On failure in create mode the change noted in `undo` is
// taken back; on success it is left for the caller to commit or roll back.
vek_st_t resolve(vek_map_t *map, const char *path, bool lookup, bool create, vek_map_value_t ***slot, Undo *undo) {
    *slot = nullptr;
    vek_map_t *cur = map;
    const char *part = path;
    auto fail = [&](vek_st_t st) {
        undo->rollback();
        return st;
    };
    for (;;) {
        if (!is_valid(cur)) return fail(VEK_ST_MAP_INVALID_MAP);
        const char *dot = std::strchr(part, '.');
        const size_t n = dot != nullptr ? static_cast<size_t>(dot - part) : vek_strlen(part);
        char *head = static_cast<char *>(vek_map_malloc(n + 1));
        if (head == nullptr) return fail(VEK_ST_NO_MEMORY);
        std::memcpy(head, part, n);
        head[n] = '\0';

        vek_st_t st = VEK_ST_SUCCESS;
        vek_map_value_t **found = nullptr;
        if (lookup) st = vek::map::find_component(cur, head, &found);
        if (create && found == nullptr) {
            // Memory exhaustion is never hidden by create mode.
            if (st != VEK_ST_NO_MEMORY) st = append_entry(cur, head, dot != nullptr, &found, undo);
        }
        vek_map_free(head);
        if (found == nullptr) return fail(st);
        if (dot == nullptr) {
            *slot = found;
            return VEK_ST_SUCCESS;
        }
        vek_map_value_t *node = *found;
        if (node == nullptr || node->type != VEK_MAP_TYPE_MAP) {
            if (!create) return fail(VEK_ST_MAP_INTERNAL_ERROR);
            if (const vek_st_t cst = convert_to_map(found, undo); cst != VEK_ST_SUCCESS) return fail(cst);
            node = *found;
        }
        if (!is_valid(node->payload.map)) return fail(VEK_ST_MAP_INVALID_MAP);
        cur = node->payload.map;
        part = dot + 1;
    }
}

// Resolves `key` for a set and hands out the slot with the change pending.
vek_st_t resolve_for_set(vek_map_t *map, const char *key, uint8_t checkForKey, vek_map_value_t ***slot, Undo *undo) {
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    return resolve(map, key, checkForKey != 0, true, slot, undo);
}

// Places `node` in `slot`; the node it held, if any, is released with
// vek_map_free_value (whose lines it prints).
void replace_node(vek_map_value_t **slot, vek_map_value_t *node) {
    vek_map_value_t *old = *slot;
    *slot = node;
    if (old != nullptr) vek_map_free_value(old);
}

} // namespace

vek_st_t vek::map::find_component(vek_map_t *map, char *component, vek_map_value_t ***slot) {
    *slot = nullptr;
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    char *bracket = std::strchr(component, '[');
    if (bracket == nullptr) {
        for (int32_t i = 0; i < map->count; ++i) {
            if (keys_equal(map->keys[i], component)) {
                *slot = &map->values[i];
                return VEK_ST_SUCCESS;
            }
        }
        return VEK_ST_MAP_KEY_NOT_EXIST;
    }
    *bracket = '\0';
    const vek::HeapPtr<char> copy(vek_strdup(bracket + 1));
    if (!copy) return VEK_ST_NO_MEMORY;
    char *selector = copy.get();
    vek_st_t st = VEK_ST_MAP_KEY_NOT_EXIST;
    char *close = std::strchr(selector, ']');
    if (close != nullptr) *close = '\0';
    char *eq = close != nullptr ? std::strchr(selector, '=') : nullptr;
    if (eq == nullptr) {
        st = VEK_ST_MAP_INVALID_SEARCH;
    } else {
        *eq = '\0';
        const char *field = selector;
        const char *text = eq + 1;
        for (int32_t i = 0; i < map->count; ++i) {
            if (!keys_equal(map->keys[i], component)) continue;
            const vek_map_t *child = child_map(map->values[i]);
            if (child == nullptr) {
                st = VEK_ST_MAP_INVALID_MAP;
                break;
            }
            if (selector_matches(child, field, text)) {
                *slot = &map->values[i];
                st = VEK_ST_SUCCESS;
                break;
            }
        }
    }
    return st;
}

vek_st_t vek::map::find_slot(vek_map_t *map, const char *path, uint8_t lookup, uint8_t create,
                             vek_map_value_t ***slot) {
    Undo undo;
    const vek_st_t st = resolve(map, path, lookup != 0, create != 0, slot, &undo);
    if (st == VEK_ST_SUCCESS) undo.commit();
    return st;
}

namespace {

// The storage a node owns (text, bytes or child map) and the kind of
// release it takes; null for a node that owns nothing.
struct Owned {
    const void *block;
    bool is_map;
};
Owned owned_by(int32_t type, const vek_map_payload_t &p) {
    switch (type) {
    case VEK_MAP_TYPE_STR: return {p.str, false};
    case VEK_MAP_TYPE_BIN: return {p.bin.data, false};
    case VEK_MAP_TYPE_MAP: return {p.map, true};
    default: return {nullptr, false};
    }
}

// True when releasing `old` would release the storage a new value of
// `type` and `payload` hands over (the slot's own text, bytes or map
// stored back into it).
bool holds_same_storage(const vek_map_value_t *old, int32_t type, const vek_map_payload_t &payload) {
    if (old == nullptr) return false;
    const Owned was = owned_by(old->type, old->payload);
    const Owned now = owned_by(type, payload);
    return was.block != nullptr && was.block == now.block && was.is_map == now.is_map;
}

// Set steps 2 to 4: resolves `key` for a set and places a fresh node in its
// slot, releasing the node it held. With a value (`type` not NONE) a slot
// whose node already owns the value's storage keeps its node, which takes
// the value in place: nothing is released. Nothing changes on failure.
vek_st_t fill_slot(vek_map_t *map, const char *key, uint8_t checkForKey, int32_t type, const vek_map_payload_t &payload,
                   vek_map_value_t **node) {
    Undo undo;
    vek_map_value_t **slot = nullptr;
    const vek_st_t st = resolve_for_set(map, key, checkForKey, &slot, &undo);
    if (st != VEK_ST_SUCCESS) return st;
    if (type != VEK_MAP_TYPE_NONE && holds_same_storage(*slot, type, payload)) {
        undo.commit();
        *node = *slot;
        return VEK_ST_SUCCESS;
    }
    vek_map_value_t *fresh = vek::map::new_node();
    if (fresh == nullptr) {
        undo.rollback();
        return VEK_ST_NO_MEMORY;
    }
    undo.commit();
    replace_node(slot, fresh);
    *node = fresh;
    return VEK_ST_SUCCESS;
}

} // namespace

namespace vek::map {

vek_st_t alloc_value(vek_map_t *map, const char *key, uint8_t checkForKey, vek_map_value_t **node) {
    return fill_slot(map, key, checkForKey, VEK_MAP_TYPE_NONE, vek_map_payload_t{}, node);
}

vek_st_t set_value(vek_map_t *map, const char *key, uint8_t checkForKey, int32_t type,
                   const vek_map_payload_t &payload) {
    vek_map_value_t *node = nullptr;
    const vek_st_t st = fill_slot(map, key, checkForKey, type, payload, &node);
    if (st != VEK_ST_SUCCESS) return st;
    node->payload = payload;
    node->type = type;
    return VEK_ST_SUCCESS;
}

vek_st_t append_owned(vek_map_t *map, char *key, vek_map_value_t *node) {
    Undo undo;
    vek_map_value_t **slot = nullptr;
    const vek_st_t st = append_entry(map, key, false, &slot, &undo, key);
    if (st != VEK_ST_SUCCESS) return st;
    *slot = node;
    undo.commit();
    return VEK_ST_SUCCESS;
}

vek_st_t place_node(vek_map_t *map, const char *key, uint8_t checkForKey, vek_map_value_t *node) {
    Undo undo;
    vek_map_value_t **slot = nullptr;
    const vek_st_t st = resolve_for_set(map, key, checkForKey, &slot, &undo);
    if (st != VEK_ST_SUCCESS) return st;
    undo.commit();
    if (*slot != node) replace_node(slot, node);
    return VEK_ST_SUCCESS;
}

} // namespace vek::map
