// Checks shared by the map targets: structure of a tree, the round trip
// through the encoding, the queries and the three dumps.
#pragma once

#include <strings.h>

#include <cstring>
#include <vector>

#include "fuzz_support.hpp"
#include "map/map_internal.hpp"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Checks the structure of a tree and returns its depth in map levels below
// `map` (0 for a map without child maps). Null nodes are allowed only when
// `null_nodes` says so.
inline int check_tree(const vek_map_t *map, bool null_nodes) {
    FUZZ_CHECK(map != nullptr && map->magic == VEK_MAP_MAGIC);
    FUZZ_CHECK(map->count >= 0);
    if (map->count == 0) return 0;
    FUZZ_CHECK(map->keys != nullptr && map->values != nullptr);
    int depth = 0;
    for (int32_t i = 0; i < map->count; ++i) {
        FUZZ_CHECK(map->keys[i] != nullptr);
        FUZZ_CHECK(std::strchr(map->keys[i], '.') == nullptr);
        const vek_map_value_t *v = map->values[i];
        if (v == nullptr) {
            FUZZ_CHECK(null_nodes);
            continue;
        }
        FUZZ_CHECK(v->type >= VEK_MAP_TYPE_STR && v->type <= VEK_MAP_TYPE_U64);
        if (v->type == VEK_MAP_TYPE_MAP) {
            const int d = 1 + check_tree(v->payload.map, null_nodes);
            if (d > depth) depth = d;
        }
    }
    return depth;
}

inline Bytes encode(vek_map_t *map) {
    void *buf = nullptr;
    int32_t len = -1;
    const vek_st_t st = vek_map_encode(map, &buf, &len);
    FUZZ_CHECK(st == VEK_ST_SUCCESS);
    FUZZ_CHECK(buf != nullptr && len >= 4);
    Bytes out(static_cast<uint8_t *>(buf), static_cast<uint8_t *>(buf) + len);
    vek_map_free(buf);
    return out;
}

// The encoding with allocation faults held off for the call.
inline Bytes encode_unfailing(vek_map_t *map) {
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
    return encode(map);
}

// The three dumps succeed on a valid tree.
inline void dump_all(vek_map_t *map) {
    FUZZ_CHECK(vek_map_dump_to_console(map) == VEK_ST_SUCCESS);
    FUZZ_CHECK(vek_map_dump_to_stream(map, null_stream()) == VEK_ST_SUCCESS);
    FUZZ_CHECK(vek_map_dump_full_map(map, null_stream()) == VEK_ST_SUCCESS);
}

// A key a path lookup resolves to the first entry of that name: no '.' and no '['.
inline bool plain_key(const char *key) { return std::strpbrk(key, ".[") == nullptr; }

// Reads a node through the typed getter of its type and compares.
inline void check_typed_get(vek_map_t *map, const char *key, const vek_map_value_t *v) {
    switch (v->type) {
    case VEK_MAP_TYPE_I32: {
        int32_t x = 0;
        FUZZ_CHECK(vek_map_get_i32(map, key, &x) == VEK_ST_SUCCESS && x == v->payload.i32);
        uint32_t u = 0;
        FUZZ_CHECK(vek_map_get_u32(map, key, &u) == VEK_ST_SUCCESS && u == static_cast<uint32_t>(v->payload.i32));
        int64_t w = 7;
        FUZZ_CHECK(vek_map_get_i64(map, key, &w) == VEK_ST_MAP_INVALID_TYPE && w == 7);
        break;
    }
    case VEK_MAP_TYPE_U32: {
        uint32_t x = 0;
        FUZZ_CHECK(vek_map_get_u32(map, key, &x) == VEK_ST_SUCCESS && x == v->payload.u32);
        int32_t i = 7;
        FUZZ_CHECK(vek_map_get_i32(map, key, &i) == VEK_ST_MAP_INVALID_TYPE && i == 7);
        break;
    }
    case VEK_MAP_TYPE_I64: {
        int64_t x = 0;
        FUZZ_CHECK(vek_map_get_i64(map, key, &x) == VEK_ST_SUCCESS && x == v->payload.i64);
        uint64_t u = 0;
        FUZZ_CHECK(vek_map_get_u64(map, key, &u) == VEK_ST_SUCCESS && u == static_cast<uint64_t>(v->payload.i64));
        break;
    }
    case VEK_MAP_TYPE_U64: {
        uint64_t x = 0;
        FUZZ_CHECK(vek_map_get_u64(map, key, &x) == VEK_ST_SUCCESS && x == v->payload.u64);
        break;
    }
    case VEK_MAP_TYPE_FLOAT: {
        float x = 0;
        FUZZ_CHECK(vek_map_get_float(map, key, &x) == VEK_ST_SUCCESS);
        FUZZ_CHECK(std::memcmp(&x, &v->payload.f32, sizeof x) == 0);
        break;
    }
    case VEK_MAP_TYPE_DOUBLE: {
        double x = 0;
        FUZZ_CHECK(vek_map_get_double(map, key, &x) == VEK_ST_SUCCESS);
        FUZZ_CHECK(std::memcmp(&x, &v->payload.f64, sizeof x) == 0);
        break;
    }
    case VEK_MAP_TYPE_BOOL: {
        uint8_t x = 0;
        FUZZ_CHECK(vek_map_get_bool(map, key, &x) == VEK_ST_SUCCESS && x == v->payload.boolean);
        break;
    }
    case VEK_MAP_TYPE_STR: {
        char *x = nullptr;
        FUZZ_CHECK(vek_map_get_str(map, key, &x) == VEK_ST_SUCCESS && x == v->payload.str);
        break;
    }
    case VEK_MAP_TYPE_MAP: {
        vek_map_t *x = nullptr;
        FUZZ_CHECK(vek_map_get_map(map, key, &x) == VEK_ST_SUCCESS && x == v->payload.map);
        break;
    }
    case VEK_MAP_TYPE_BIN: {
        void *x = nullptr;
        uint32_t len = 0;
        FUZZ_CHECK(vek_map_get_bin(map, key, &x, &len) == VEK_ST_SUCCESS);
        FUZZ_CHECK(x == v->payload.bin.data && len == v->payload.bin.len);
        break;
    }
    default: break;
    }
}

// The queries of one level of a valid tree, checked against its arrays.
inline void check_queries(vek_map_t *map) {
    int32_t length = -1;
    FUZZ_CHECK(vek_map_length(map, &length) == VEK_ST_SUCCESS && length == map->count);
    char *key = nullptr;
    vek_map_value_t *node = nullptr;
    int32_t type = 0;
    FUZZ_CHECK(vek_map_get_ith_key(map, -1, &key) == VEK_ST_MAP_INVALID_INDEX);
    FUZZ_CHECK(vek_map_get_ith_key(map, length, &key) == VEK_ST_MAP_INVALID_INDEX);
    FUZZ_CHECK(vek_map_get_ith_value(map, length, &node) == VEK_ST_MAP_INVALID_INDEX);
    FUZZ_CHECK(vek_map_get_ith_type(map, length, &type) == VEK_ST_MAP_INVALID_INDEX);
    for (int32_t i = 0; i < length; ++i) {
        FUZZ_CHECK(vek_map_get_ith_key(map, i, &key) == VEK_ST_SUCCESS && key == map->keys[i]);
        FUZZ_CHECK(vek_map_get_ith_value(map, i, &node) == VEK_ST_SUCCESS && node == map->values[i]);
        FUZZ_CHECK(vek_map_get_ith_type(map, i, &type) == VEK_ST_SUCCESS);
        if (node != nullptr) FUZZ_CHECK(type == node->type);

        // Entries with the same key, ignoring case, and the position of this one among them.
        uint32_t same = 0;
        int32_t first = -1;
        int32_t rank = 0;
        for (int32_t j = 0; j < length; ++j) {
            if (strcasecmp(map->keys[j], key) != 0) continue;
            if (first < 0) first = j;
            if (j < i) ++rank;
            ++same;
        }
        uint32_t n = 0;
        FUZZ_CHECK(vek_map_count_keys(map, key, &n) == VEK_ST_SUCCESS && n == same);
        vek_map_value_t *found = nullptr;
        if (key[0] != '\0') {
            FUZZ_CHECK(vek_map_get_ith_key_value(map, rank, key, &found) == VEK_ST_SUCCESS && found == node);
            FUZZ_CHECK(vek_map_get_ith_key_value(map, static_cast<int32_t>(same), key, &found) ==
                       VEK_ST_MAP_INVALID_INDEX);
        }
        std::vector<vek_map_value_t *> all(same + 1, nullptr);
        n = 99;
        FUZZ_CHECK(vek_map_get_all_values(map, key, all.data(), same, &n, 0) == VEK_ST_SUCCESS && n == same);
        FUZZ_CHECK(all[static_cast<size_t>(rank)] == node && all[same] == nullptr);

        // Path lookups reach the first entry of a plain key.
        if (i == first && plain_key(key)) {
            int32_t t = 0;
            vek_map_value_t *v = nullptr;
            FUZZ_CHECK_EQ(vek_map_get_value(map, key, &v), VEK_ST_SUCCESS);
            FUZZ_CHECK(v == node);
            if (node != nullptr) {
                FUZZ_CHECK(vek_map_get_type(map, key, &t) == VEK_ST_SUCCESS && t == node->type);
                check_typed_get(map, key, node);
            }
        }
    }
    // A prefix search over the first key's first character counts what a walk counts.
    if (length > 0 && map->keys[0][0] != '\0') {
        uint32_t expect = 0;
        for (int32_t j = 0; j < length; ++j) expect += strncasecmp(map->keys[j], map->keys[0], 1) == 0;
        uint32_t n = 0;
        FUZZ_CHECK(vek_map_get_all_values(map, map->keys[0], nullptr, 0xFFFFFFFFu, &n, 1) == VEK_ST_SUCCESS);
        FUZZ_CHECK(n == expect);
    }
    // And every child map the same way.
    for (int32_t i = 0; i < length; ++i) {
        const vek_map_value_t *v = map->values[i];
        if (v != nullptr && v->type == VEK_MAP_TYPE_MAP) check_queries(v->payload.map);
    }
}

} // namespace fuzz
