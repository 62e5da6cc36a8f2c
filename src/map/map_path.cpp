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
    bool arrays_were_null = false;          // that map had no arrays before
    vek_map_value_t **converted = nullptr;  // slot whose node became a map node
    bool node_was_null = false;             // the slot held no node before
    int32_t old_type = VEK_MAP_TYPE_NONE;   // the converted node's former value
    vek_map_payload_t old_payload{};

    bool empty() const { return appended_to == nullptr && converted == nullptr; }

    // Takes the change back; the tree is as it was before the resolution.
    void rollback() {
        if (appended_to != nullptr) {
            vek_map_t *map = appended_to;
            const int32_t i = map->count - 1;
            vek_map_free(map->keys[i]);
            vek::map::release_node(map->values[i]);
            map->keys[i] = nullptr;
            map->values[i] = nullptr;
            map->count = i;
            if (arrays_were_null && i == 0) {
                vek_map_free(map->keys);
                vek_map_free(map->values);
                map->keys = nullptr;
                map->values = nullptr;
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

    // Makes the change final: releases what a conversion replaced.
    void commit() {
        if (converted != nullptr && !node_was_null) {
            vek_map_value_t old{old_type, old_payload};
            vek::map::release_payload(&old);
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

// Appends an entry named `key`; with `with_map` its value is a new map node
// holding a new empty map, else null. All or nothing. The key copy is made
// with vek_map_strdup, whose lines it prints.
vek_st_t append_entry(vek_map_t *map, const char *key, bool with_map, vek_map_value_t ***slot, Undo *undo) {
    vek_map_value_t *node = nullptr;
    if (with_map) {
        node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
        if (node == nullptr) return VEK_ST_NO_MEMORY;
        node->payload = vek_map_payload_t{};
        node->payload.map = vek::map::new_map();
        if (node->payload.map == nullptr) {
            vek_map_free(node);
            return VEK_ST_NO_MEMORY;
        }
        node->type = VEK_MAP_TYPE_MAP;
    }
    const bool arrays_were_null = map->keys == nullptr && map->values == nullptr;
    const auto n = static_cast<size_t>(map->count);
    char *copy = nullptr;
    char **keys = vek::heap_realloc_array(map->keys, n + 1);
    if (keys != nullptr) {
        map->keys = keys;
        copy = vek_map_strdup(key);
    }
    vek_map_value_t **values = copy != nullptr ? vek::heap_realloc_array(map->values, n + 1) : nullptr;
    if (values == nullptr) {
        vek_map_free(copy);
        vek::map::release_node(node);
        return VEK_ST_NO_MEMORY;
    }
    map->values = values;
    keys[n] = copy;
    values[n] = node;
    map->count = static_cast<int32_t>(n + 1);
    if (undo->empty()) {
        undo->appended_to = map;
        undo->arrays_were_null = arrays_were_null;
    }
    *slot = &values[n];
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
        node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
        if (node == nullptr) {
            vek::map::destroy_tree(child);
            return VEK_ST_NO_MEMORY;
        }
        node->type = VEK_MAP_TYPE_NONE;
        node->payload = vek_map_payload_t{};
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
vek_st_t resolve(vek_map_t *map, const char *path, bool lookup, bool create, vek_map_value_t ***slot,
                 Undo *undo) {
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
        if (lookup) st = vek_map_find_component(cur, head, &found);
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
vek_st_t resolve_for_set(vek_map_t *map, const char *key, uint8_t checkForKey, vek_map_value_t ***slot,
                         Undo *undo) {
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

extern "C" vek_st_t vek_map_find_component(vek_map_t *map, char *component, vek_map_value_t ***slot) {
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
    char *selector = vek_strdup(bracket + 1);
    if (selector == nullptr) return VEK_ST_NO_MEMORY;
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
    vek_free(selector);
    return st;
}

extern "C" vek_st_t vek_map_find_slot(vek_map_t *map, const char *path, uint8_t lookup, uint8_t create,
                                      vek_map_value_t ***slot) {
    Undo undo;
    const vek_st_t st = resolve(map, path, lookup != 0, create != 0, slot, &undo);
    if (st == VEK_ST_SUCCESS) undo.commit();
    return st;
}

extern "C" vek_st_t vek_map_alloc_value(vek_map_t *map, const char *key, uint8_t checkForKey,
                                        vek_map_value_t **node) {
    Undo undo;
    vek_map_value_t **slot = nullptr;
    const vek_st_t st = resolve_for_set(map, key, checkForKey, &slot, &undo);
    if (st != VEK_ST_SUCCESS) return st;
    auto *fresh = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    if (fresh == nullptr) {
        undo.rollback();
        return VEK_ST_NO_MEMORY;
    }
    fresh->type = VEK_MAP_TYPE_NONE;
    fresh->payload = vek_map_payload_t{};
    undo.commit();
    replace_node(slot, fresh);
    *node = fresh;
    return VEK_ST_SUCCESS;
}

namespace vek::map {

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
