// Enumeration of one map level by entry index, and searches for entries by
// key (whole key or prefix, case ignored).
//
// Keys are compared with the keys of the given map only: these operations
// never resolve dotted paths or selectors. The searches are built on the
// index operations and call the exported entries vek_map_length,
// vek_map_get_ith_key and vek_map_get_ith_value, so with tracing on their
// lines appear nested inside the caller's entry and exit lines: each search
// takes the length once, reads the key of every entry it examines, and (for
// the collecting and indexed searches) reads each node it hands back.
//     vek_map_count_keys map=...
//     vek_map_length vek_map=... length=...
//     vek_map_length vekStatus=0 length=2
//     vek_map_get_ith_key map=... i=0
//     vek_map_get_ith_key vekStatus=0
//     ...
//     vek_map_count_keys vekStatus=0 nKeysFound=1
//
// Out-parameters are written only on success. A null out-parameter (other
// than the optional ones of vek_map_count_keys and vek_map_get_all_values)
// is refused with VEK_ST_INVALID_PARAMETER after the map check; exit lines
// then print 0 for it.
#include <cstdint>

#include <vek/vek_map.h>
#include <vek/vek_sal.h>
#include <vek/vek_status.h>

#include "foundation/check.hpp"
#include "foundation/invariant.hpp"
#include "foundation/trace.hpp"
#include "map/map_internal.hpp"

namespace {

using vek::map::is_valid;

bool in_range(const vek_map_t *map, int32_t i) { return i >= 0 && i < map->count; }

// Common checks of the index operations: the map, then the out-parameter,
// then the index.
template <typename T>
vek_st_t check_indexed(const vek_map_t *map, int32_t i, const T *out) {
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    if (out == nullptr) return VEK_ST_INVALID_PARAMETER;
    if (!in_range(map, i)) return VEK_ST_MAP_INVALID_INDEX;
    return VEK_ST_SUCCESS;
}

// Does the key of entry i equal `key` (whole key when keyLength is 0, else
// its first keyLength characters)? The key is read through
// vek_map_get_ith_key; its status is passed back.
vek_st_t key_matches(vek_map_t *map, int32_t i, const char *key, uint32_t keyLength, bool *match) {
    char *entryKey = nullptr;
    const vek_st_t st = vek_map_get_ith_key(map, i, &entryKey);
    if (st != VEK_ST_SUCCESS) return st;
    if (VEK_NEVER(entryKey == nullptr)) { // every entry has its key copy
        *match = false;
    } else if (keyLength == 0u) {
        *match = vek_stricmp(entryKey, key) == 0;
    } else {
        *match = vek_strincmp(entryKey, key, keyLength) == 0;
    }
    return VEK_ST_SUCCESS;
}

} // namespace

namespace {

vek_st_t length_of(const vek_map_t *map, int32_t *length) {
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    if (length == nullptr) return VEK_ST_INVALID_PARAMETER;
    *length = map->count;
    return VEK_ST_SUCCESS;
}

// Counts the entries whose key equals `key`; a null key matches no entry.
vek_st_t count_keys(vek_map_t *map, const char *key, uint32_t *found) {
    int32_t length = 0;
    vek_st_t st = vek_map_length(map, &length);
    for (int32_t i = 0; st == VEK_ST_SUCCESS && key != nullptr && i < length; ++i) {
        bool match = false;
        st = key_matches(map, i, key, 0u, &match);
        if (match) ++*found;
    }
    return st;
}

// Collects the nodes of the entries whose key matches, in entry order, up to
// maxValues of them; with a null array only counts. A null key matches no
// entry.
vek_st_t collect_values(vek_map_t *map, const char *key, vek_map_value_t **value, uint32_t maxValues,
                        uint32_t keyLength, uint32_t *found) {
    int32_t length = 0;
    vek_st_t st = vek_map_length(map, &length);
    if (st != VEK_ST_SUCCESS || key == nullptr) return st;
    for (int32_t i = 0; i < length && *found < maxValues; ++i) {
        bool match = false;
        st = key_matches(map, i, key, keyLength, &match);
        if (st == VEK_ST_SUCCESS && match && value != nullptr) st = vek_map_get_ith_value(map, i, &value[*found]);
        if (st != VEK_ST_SUCCESS) break;
        if (match) ++*found;
    }
    return st;
}

// The node of the idx-th entry whose key equals a non-empty `key`.
vek_st_t ith_match(vek_map_t *map, int32_t idx, const char *key, vek_map_value_t **value) {
    int32_t length = 0;
    vek_st_t st = vek_map_length(map, &length);
    if (st != VEK_ST_SUCCESS) return st;
    if (value == nullptr) return VEK_ST_INVALID_PARAMETER;
    int32_t seen = 0;
    // A negative idx never matches; the walk still reads every key.
    for (int32_t i = 0; i < length; ++i) {
        bool match = false;
        st = key_matches(map, i, key, 0u, &match);
        if (st != VEK_ST_SUCCESS) return st;
        if (!match) continue;
        if (seen == idx) return vek_map_get_ith_value(map, i, value);
        ++seen;
    }
    return VEK_ST_MAP_INVALID_INDEX;
}

} // namespace

extern "C" VEK_API vek_st_t vek_map_length(vek_map_t *map, int32_t *length) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"length", length}});
    const vek_st_t st = length_of(map, length);
    call.exit({{"vekStatus", st}, {"length", vek::trace::out_value(length)}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

extern "C" VEK_API vek_st_t vek_map_get_ith_key(vek_map_t *map, int32_t i, char **key) {
    const vek::trace::Call call(__func__, {{"map", map}, {"i", i}});
    const vek_st_t st = check_indexed(map, i, key);
    if (st == VEK_ST_SUCCESS) *key = map->keys[i];
    call.exit({{"vekStatus", st}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

extern "C" VEK_API vek_st_t vek_map_get_ith_value(vek_map_t *map, int32_t i, vek_map_value_t **value) {
    const vek::trace::Call call(__func__, {{"map", map}, {"i", i}, {"value", value}});
    const vek_st_t st = check_indexed(map, i, value);
    if (st == VEK_ST_SUCCESS) *value = map->values[i];
    call.exit({{"vekStatus", st}, {"value", vek::trace::out_value(value)}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

// An entry that holds no node reports VEK_MAP_TYPE_NONE with status 0.
extern "C" VEK_API vek_st_t vek_map_get_ith_type(vek_map_t *map, int32_t i, int32_t *type) {
    const vek::trace::Call call(__func__, {{"map", map}, {"i", i}, {"type", type}});
    const vek_st_t st = check_indexed(map, i, type);
    if (st == VEK_ST_SUCCESS) *type = vek::map::node_type(map->values[i]);
    call.exit({{"vekStatus", st}, {"type", vek::trace::out_value(type)}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

extern "C" VEK_API vek_st_t vek_map_count_keys(vek_map_t *map, const char *key, uint32_t *nKeysFound) {
    const vek::trace::Call call(__func__, {{"map", map}});
    uint32_t found = 0;
    const vek_st_t st = count_keys(map, key, &found);
    if (st == VEK_ST_SUCCESS && nKeysFound != nullptr) *nKeysFound = found;
    call.exit({{"vekStatus", st}, {"nKeysFound", found}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

extern "C" VEK_API vek_st_t vek_map_get_all_values(vek_map_t *map, const char *key, vek_map_value_t **value,
                                                   uint32_t maxValues, uint32_t *nKeysFound, uint32_t keyLength) {
    const vek::trace::Call call(__func__, {{"map", map},
                                           {"value", value},
                                           {"maxValues", maxValues},
                                           {"nKeysFound", nKeysFound},
                                           {"keyLength", keyLength}});
    uint32_t found = 0;
    const vek_st_t st = collect_values(map, key, value, maxValues, keyLength, &found);
    if (st == VEK_ST_SUCCESS && nKeysFound != nullptr) *nKeysFound = found;
    // The exit line has a comma after the value. The array holds maxValues
    // pointers: its first element exists only when maxValues is not 0.
    const vek_map_value_t *first = (value != nullptr && maxValues != 0u) ? value[0] : nullptr;
    vek::trace::raw("%s vekStatus=%llx value=%llx, nKeysFound=%llx\n", call.op(), vek::trace::widen(st),
                    vek::trace::widen(first), vek::trace::widen(found));
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

// A null or empty key hands over to vek_map_get_ith_value, which then
// prints the exit line.
extern "C" VEK_API vek_st_t vek_map_get_ith_key_value(vek_map_t *map, int32_t idx, const char *key,
                                                      vek_map_value_t **value) {
    const vek::trace::Call call(__func__, {{"map", map}, {"idx", idx}, {"value", value}});
    vek_st_t st = VEK_ST_SUCCESS;
    if (key == nullptr || key[0] == '\0') {
        st = vek_map_get_ith_value(map, idx, value);
    } else {
        st = ith_match(map, idx, key, value);
        call.exit({{"vekStatus", st}, {"value", vek::trace::out_value(value)}});
    }
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}
