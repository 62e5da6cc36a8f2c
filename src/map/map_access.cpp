// Typed set and get operations and delete.
//
// The ten value types are described once, in a table of small traits (the
// payload member, the type code, the codes a getter accepts, whether trace
// lines carry the value); one template makes every set and one every get.
//
// A set that fails leaves the map as it was and does not take over a text,
// byte block, map or node handed to it: the caller still owns it.
// A null key or out-parameter is refused with VEK_ST_INVALID_PARAMETER
// after the map check.
#include "foundation/trace.hpp"
#include "map/map_internal.hpp"

using vek::map::is_valid;

namespace {

// One value type: C type T stored in payload member Field under type code
// Code; a getter also accepts code Also (the signed type of the same width).
template <typename T, T vek_map_payload_t::*Field, int32_t Code, int32_t Also, bool TracesValue>
struct Kind {
    using type = T;
    static constexpr int32_t code = Code;
    static constexpr bool traces_value = TracesValue;
    static bool accepts(int32_t t) { return t == Code || t == Also; }
    static void store(vek_map_payload_t &p, T v) { p.*Field = v; }
    // Same-width signed and unsigned members share their bytes.
    static T load(const vek_map_payload_t &p) { return p.*Field; }
};

using P = vek_map_payload_t;
using KI32 = Kind<int32_t, &P::i32, VEK_MAP_TYPE_I32, VEK_MAP_TYPE_I32, true>;
using KU32 = Kind<uint32_t, &P::u32, VEK_MAP_TYPE_U32, VEK_MAP_TYPE_I32, true>;
using KI64 = Kind<int64_t, &P::i64, VEK_MAP_TYPE_I64, VEK_MAP_TYPE_I64, true>;
using KU64 = Kind<uint64_t, &P::u64, VEK_MAP_TYPE_U64, VEK_MAP_TYPE_I64, true>;
using KFloat = Kind<float, &P::f32, VEK_MAP_TYPE_FLOAT, VEK_MAP_TYPE_FLOAT, false>;
using KDouble = Kind<double, &P::f64, VEK_MAP_TYPE_DOUBLE, VEK_MAP_TYPE_DOUBLE, false>;
using KBool = Kind<uint8_t, &P::boolean, VEK_MAP_TYPE_BOOL, VEK_MAP_TYPE_BOOL, true>;
using KStr = Kind<char *, &P::str, VEK_MAP_TYPE_STR, VEK_MAP_TYPE_STR, true>;
using KMap = Kind<vek_map_t *, &P::map, VEK_MAP_TYPE_MAP, VEK_MAP_TYPE_MAP, true>;

// The BIN type: a pointer and a length, passed as two arguments.
struct Bin {
    void *data;
    uint32_t len;
};
struct KBin {
    using type = Bin;
    static constexpr int32_t code = VEK_MAP_TYPE_BIN;
    static bool accepts(int32_t t) { return t == code; }
    static void store(vek_map_payload_t &p, Bin v) {
        p.bin.data = v.data;
        p.bin.len = v.len;
    }
};

template <class K>
vek_st_t set_typed(const char *op, vek_map_t *map, const char *key, typename K::type value, uint8_t checkForKey) {
    vek_st_t st = VEK_ST_MAP_INVALID_MAP;
    if (is_valid(map)) {
        vek_map_payload_t payload{};
        K::store(payload, value);
        st = key == nullptr ? VEK_ST_INVALID_PARAMETER : vek::map::set_value(map, key, checkForKey, K::code, payload);
    }
    vek::trace::line(op, {{"vekStatus", st}});
    return st;
}

template <class K>
vek_st_t set_op(const char *op, vek_map_t *map, const char *key, typename K::type value, uint8_t checkForKey) {
    if constexpr (K::traces_value) {
        vek::trace::line(op, {{"vek_map", map}, {"value", value}, {"checkForKey", checkForKey}});
    } else {
        vek::trace::line(op, {{"vek_map", map}, {"checkForKey", checkForKey}});
    }
    return set_typed<K>(op, map, key, value, checkForKey);
}

// Resolves `key` for a get; `have_out` tells whether the out-parameters
// are all present. Returns false when the operation must return `*st`
// without an exit line (the path could not be resolved).
bool find_for_get(vek_map_t *map, const char *key, bool have_out, vek_st_t *st, vek_map_value_t **node) {
    *node = nullptr;
    if (!is_valid(map)) {
        *st = VEK_ST_MAP_INVALID_MAP;
        return true;
    }
    if (key == nullptr || !have_out) {
        *st = VEK_ST_INVALID_PARAMETER;
        return true;
    }
    vek_map_value_t **slot = nullptr;
    *st = vek_map_find_slot(map, key, 1, 0, &slot);
    if (*st != VEK_ST_SUCCESS) return false;
    *node = *slot;
    return true;
}

template <class K>
vek_st_t get_op(const char *op, vek_map_t *map, const char *key, typename K::type *out) {
    if constexpr (K::traces_value) {
        vek::trace::line(op, {{"vek_map", map}, {"value", out}});
    } else {
        vek::trace::line(op, {{"vek_map", map}});
    }
    vek_st_t st = VEK_ST_SUCCESS;
    vek_map_value_t *node = nullptr;
    if (!find_for_get(map, key, out != nullptr, &st, &node)) return st;
    if (st == VEK_ST_SUCCESS) {
        if (node != nullptr && K::accepts(node->type)) {
            *out = K::load(node->payload);
        } else {
            st = VEK_ST_MAP_INVALID_TYPE;
        }
    }
    if constexpr (K::traces_value) {
        vek::trace::line(op, {{"vekStatus", st}, {"value", vek::trace::out_value(out)}});
    } else {
        vek::trace::line(op, {{"vekStatus", st}});
    }
    return st;
}

} // namespace

#define VEK_MAP_SCALAR_OPS(name, K)                                                                            \
    extern "C" VEK_API vek_st_t vek_map_set_##name##_ll(vek_map_t *map, const char *key, K::type value,         \
                                                        uint8_t checkForKey) {                                  \
        return set_op<K>("vek_map_set_" #name "_ll", map, key, value, checkForKey);                              \
    }                                                                                                           \
    extern "C" VEK_API vek_st_t vek_map_get_##name(vek_map_t *map, const char *key, K::type *value) {           \
        return get_op<K>("vek_map_get_" #name, map, key, value);                                                 \
    }

VEK_MAP_SCALAR_OPS(i32, KI32)
VEK_MAP_SCALAR_OPS(u32, KU32)
VEK_MAP_SCALAR_OPS(i64, KI64)
VEK_MAP_SCALAR_OPS(u64, KU64)
VEK_MAP_SCALAR_OPS(float, KFloat)
VEK_MAP_SCALAR_OPS(double, KDouble)
VEK_MAP_SCALAR_OPS(bool, KBool)
VEK_MAP_SCALAR_OPS(str, KStr)
VEK_MAP_SCALAR_OPS(map, KMap)

#undef VEK_MAP_SCALAR_OPS

extern "C" VEK_API vek_st_t vek_map_set_bin_ll(vek_map_t *map, const char *key, void *value, uint32_t len,
                                               uint8_t checkForKey) {
    static constexpr const char *op = "vek_map_set_bin_ll";
    vek::trace::line(op, {{"vek_map", map}, {"value", value}, {"len", len}, {"checkForKey", checkForKey}});
    return set_typed<KBin>(op, map, key, Bin{value, len}, checkForKey);
}

extern "C" VEK_API vek_st_t vek_map_set_value_ll(vek_map_t *map, const char *key, vek_map_value_t *value,
                                                 uint8_t checkForKey) {
    static constexpr const char *op = "vek_map_set_value_ll";
    vek::trace::line(op, {{"vek_map", map}, {"value", value}, {"checkForKey", checkForKey}});
    vek_st_t st = VEK_ST_MAP_INVALID_MAP;
    if (is_valid(map)) {
        st = key == nullptr ? VEK_ST_INVALID_PARAMETER : vek::map::place_node(map, key, checkForKey, value);
    }
    vek::trace::line(op, {{"vekStatus", st}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_get_bin(vek_map_t *map, const char *key, void **value, uint32_t *len) {
    static constexpr const char *op = "vek_map_get_bin";
    vek::trace::line(op, {{"vek_map", map}, {"value", value}, {"len", len}});
    vek_st_t st = VEK_ST_SUCCESS;
    vek_map_value_t *node = nullptr;
    if (!find_for_get(map, key, value != nullptr && len != nullptr, &st, &node)) return st;
    if (st == VEK_ST_SUCCESS) {
        if (node != nullptr && KBin::accepts(node->type)) {
            *value = node->payload.bin.data;
            *len = node->payload.bin.len;
        } else {
            st = VEK_ST_MAP_INVALID_TYPE;
        }
    }
    vek::trace::line(op, {{"vekStatus", st},
                          {"value", vek::trace::out_value(value)},
                          {"len", vek::trace::out_value(len)}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_get_value(vek_map_t *map, const char *key, vek_map_value_t **value) {
    static constexpr const char *op = "vek_map_get_value";
    vek::trace::line(op, {{"vek_map", map}});
    vek_st_t st = VEK_ST_SUCCESS;
    vek_map_value_t *node = nullptr;
    if (!find_for_get(map, key, value != nullptr, &st, &node)) return st;
    if (st == VEK_ST_SUCCESS) *value = node;
    vek::trace::line(op, {{"vekStatus", st}, {"value", vek::trace::out_value(value)}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_get_type(vek_map_t *map, const char *key, int32_t *type) {
    static constexpr const char *op = "vek_map_get_type";
    vek::trace::line(op, {{"vek_map", map}, {"type", type}});
    vek_st_t st = VEK_ST_SUCCESS;
    vek_map_value_t *node = nullptr;
    if (!find_for_get(map, key, type != nullptr, &st, &node)) return st;
    if (st == VEK_ST_SUCCESS) *type = vek::map::node_type(node);
    vek::trace::line(op, {{"vekStatus", st}, {"type", vek::trace::out_value(type)}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_delete(vek_map_t *map, const char *key) {
    static constexpr const char *op = "vek_map_delete";
    vek::trace::line(op, {{"vek_map", map}});
    vek_st_t st = VEK_ST_MAP_INVALID_MAP;
    if (is_valid(map)) st = key == nullptr ? VEK_ST_INVALID_PARAMETER : VEK_ST_SUCCESS;
    char *copy = nullptr;
    if (st == VEK_ST_SUCCESS) {
        copy = vek_strdup(key);
        if (copy == nullptr) st = VEK_ST_NO_MEMORY;
    }
    vek_map_value_t **slot = nullptr;
    if (st == VEK_ST_SUCCESS) st = vek_map_find_component(map, copy, &slot);
    vek_map_free(copy);
    if (st == VEK_ST_SUCCESS) {
        const auto i = static_cast<int32_t>(slot - map->values);
        const int32_t last = map->count - 1;
        vek_map_free(map->keys[i]);
        vek_map_free_value(map->values[i]); // its status does not matter here
        map->keys[i] = map->keys[last];
        map->values[i] = map->values[last];
        map->keys[last] = nullptr;
        map->values[last] = nullptr;
        map->count = last;
    }
    vek::trace::line(op, {{"vekStatus", st}});
    return st;
}
