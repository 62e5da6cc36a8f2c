// Typed set and get operations and delete.
//
// The ten value types are described once, in a table of small traits (the
// payload member, the type code, the codes a getter accepts); one template
// does the work of every set and one that of every get, and a macro writes
// out each exported pair with its trace fields.
//
// A set that fails leaves the map as it was and does not take over a text,
// byte block, map or node handed to it: the caller still owns it.
// A null key or out-parameter is refused with VEK_ST_INVALID_PARAMETER
// after the map check.
#include <type_traits>

#include "foundation/check.hpp"
#include "foundation/memory.hpp"
#include "foundation/trace.hpp"
#include "map/map_internal.hpp"

using vek::map::is_valid;

namespace {

// One value type: C type T stored in payload member Field under type code
// Code; a getter also accepts code Also (the signed type of the same width).
template <typename T, T vek_map_payload_t::*Field, int32_t Code, int32_t Also>
struct Kind {
    using type = T;
    static constexpr int32_t code = Code;
    static bool accepts(int32_t t) { return t == Code || t == Also; }
    static void store(vek_map_payload_t &p, T v) { p.*Field = v; }
    // Same-width signed and unsigned members share their bytes.
    static void load(const vek_map_payload_t &p, T *out) { *out = p.*Field; }
};

using P = vek_map_payload_t;
using KI32 = Kind<int32_t, &P::i32, VEK_MAP_TYPE_I32, VEK_MAP_TYPE_I32>;
using KU32 = Kind<uint32_t, &P::u32, VEK_MAP_TYPE_U32, VEK_MAP_TYPE_I32>;
using KI64 = Kind<int64_t, &P::i64, VEK_MAP_TYPE_I64, VEK_MAP_TYPE_I64>;
using KU64 = Kind<uint64_t, &P::u64, VEK_MAP_TYPE_U64, VEK_MAP_TYPE_I64>;
using KFloat = Kind<float, &P::f32, VEK_MAP_TYPE_FLOAT, VEK_MAP_TYPE_FLOAT>;
using KDouble = Kind<double, &P::f64, VEK_MAP_TYPE_DOUBLE, VEK_MAP_TYPE_DOUBLE>;
using KBool = Kind<uint8_t, &P::boolean, VEK_MAP_TYPE_BOOL, VEK_MAP_TYPE_BOOL>;
using KStr = Kind<char *, &P::str, VEK_MAP_TYPE_STR, VEK_MAP_TYPE_STR>;
using KMap = Kind<vek_map_t *, &P::map, VEK_MAP_TYPE_MAP, VEK_MAP_TYPE_MAP>;

// The BIN type: a pointer and a length, passed as two arguments (and two
// out-parameters).
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

// The node of any type, for vek_map_get_value.
struct KNode {
    static bool accepts(int32_t) { return true; }
};

// Set worker of every type; the tree is checked when it is done.
template <class K>
vek_st_t set_typed(vek_map_t *map, const char *key, typename K::type value, uint8_t checkForKey) {
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    vek_st_t st = VEK_ST_INVALID_PARAMETER;
    if (key != nullptr) {
        vek_map_payload_t payload{};
        K::store(payload, value);
        st = vek::map::set_value(map, key, checkForKey, K::code, payload);
    }
    VEK_CHECK_STRUCTURE(vek::map::verify(map));
    return st;
}

vek_st_t set_node(vek_map_t *map, const char *key, vek_map_value_t *value, uint8_t checkForKey) {
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    const vek_st_t st = key != nullptr ? vek::map::place_node(map, key, checkForKey, value) : VEK_ST_INVALID_PARAMETER;
    VEK_CHECK_STRUCTURE(vek::map::verify(map));
    return st;
}

// Resolves `key` in a valid map and hands the node of an accepted type to
// `load`. Returns false when the operation must return *st without an exit
// line (the path could not be resolved).
template <class K, typename Load>
bool look_up(vek_map_t *map, const char *key, bool have_out, vek_st_t *st, Load load) {
    if (key == nullptr || !have_out) {
        *st = VEK_ST_INVALID_PARAMETER;
        return true;
    }
    vek_map_value_t **slot = nullptr;
    *st = vek::map::find_slot(map, key, 1, 0, &slot);
    if (*st != VEK_ST_SUCCESS) return false;
    const vek_map_value_t *node = *slot;
    if constexpr (std::is_same_v<K, KNode>) {
        load(node);
    } else if (node != nullptr && K::accepts(node->type)) {
        load(node);
    } else {
        *st = VEK_ST_MAP_INVALID_TYPE;
    }
    return true;
}

// Get worker of every type (look_up on a valid map, then the tree check).
template <class K, typename Load>
bool get_typed(vek_map_t *map, const char *key, bool have_out, vek_st_t *st, Load load) {
    if (!is_valid(map)) {
        *st = VEK_ST_MAP_INVALID_MAP;
        return true;
    }
    const bool exit_line = look_up<K>(map, key, have_out, st, load);
    VEK_CHECK_STRUCTURE(vek::map::verify(map));
    return exit_line;
}

template <class K>
bool get_scalar(vek_map_t *map, const char *key, typename K::type *out, vek_st_t *st) {
    return get_typed<K>(map, key, out != nullptr, st,
                        [out](const vek_map_value_t *node) { K::load(node->payload, out); });
}

} // namespace

// The set and get of one value type, written out by the two macros below:
// most types trace their value, float and double do not. A get whose key
// cannot be resolved returns without its exit line.
#define VEK_MAP_FIELDS(...) __VA_ARGS__
#define VEK_MAP_TYPED_OPS(name, K, SET_ENTRY, GET_ENTRY, GET_EXIT)                                      \
    extern "C" VEK_API vek_st_t vek_map_set_##name##_ll(vek_map_t *map, const char *key, K::type value, \
                                                        uint8_t checkForKey) {                          \
        const vek::trace::Call call(__func__, {VEK_MAP_FIELDS SET_ENTRY});                              \
        const vek_st_t st = set_typed<K>(map, key, value, checkForKey);                                 \
        call.exit({{"vekStatus", st}});                                                                 \
        return st;                                                                                      \
    }                                                                                                   \
    extern "C" VEK_API vek_st_t vek_map_get_##name(vek_map_t *map, const char *key, K::type *value) {   \
        const vek::trace::Call call(__func__, {VEK_MAP_FIELDS GET_ENTRY});                              \
        vek_st_t st = VEK_ST_SUCCESS;                                                                   \
        if (!get_scalar<K>(map, key, value, &st)) return st;                                            \
        call.exit({{"vekStatus", st} VEK_MAP_FIELDS GET_EXIT});                                         \
        return st;                                                                                      \
    }
#define VEK_MAP_VALUE_OPS(name, K)                                                                 \
    VEK_MAP_TYPED_OPS(name, K, ({"vek_map", map}, {"value", value}, {"checkForKey", checkForKey}), \
                      ({"vek_map", map}, {"value", value}), (, {"value", vek::trace::out_value(value)}))
#define VEK_MAP_QUIET_OPS(name, K) \
    VEK_MAP_TYPED_OPS(name, K, ({"vek_map", map}, {"checkForKey", checkForKey}), ({"vek_map", map}), ())

VEK_MAP_VALUE_OPS(i32, KI32)
VEK_MAP_VALUE_OPS(u32, KU32)
VEK_MAP_VALUE_OPS(i64, KI64)
VEK_MAP_VALUE_OPS(u64, KU64)
VEK_MAP_QUIET_OPS(float, KFloat)
VEK_MAP_QUIET_OPS(double, KDouble)
VEK_MAP_VALUE_OPS(bool, KBool)
VEK_MAP_VALUE_OPS(str, KStr)
VEK_MAP_VALUE_OPS(map, KMap)

#undef VEK_MAP_QUIET_OPS
#undef VEK_MAP_VALUE_OPS
#undef VEK_MAP_TYPED_OPS
#undef VEK_MAP_FIELDS

extern "C" VEK_API vek_st_t vek_map_set_bin_ll(vek_map_t *map, const char *key, void *value, uint32_t len,
                                               uint8_t checkForKey) {
    const vek::trace::Call call(__func__,
                                {{"vek_map", map}, {"value", value}, {"len", len}, {"checkForKey", checkForKey}});
    const vek_st_t st = set_typed<KBin>(map, key, Bin{value, len}, checkForKey);
    call.exit({{"vekStatus", st}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_set_value_ll(vek_map_t *map, const char *key, vek_map_value_t *value,
                                                 uint8_t checkForKey) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"value", value}, {"checkForKey", checkForKey}});
    const vek_st_t st = set_node(map, key, value, checkForKey);
    call.exit({{"vekStatus", st}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_get_bin(vek_map_t *map, const char *key, void **value, uint32_t *len) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"value", value}, {"len", len}});
    vek_st_t st = VEK_ST_SUCCESS;
    if (!get_typed<KBin>(map, key, value != nullptr && len != nullptr, &st, [&](const vek_map_value_t *node) {
            *value = node->payload.bin.data;
            *len = node->payload.bin.len;
        })) {
        return st;
    }
    call.exit({{"vekStatus", st}, {"value", vek::trace::out_value(value)}, {"len", vek::trace::out_value(len)}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_get_value(vek_map_t *map, const char *key, vek_map_value_t **value) {
    const vek::trace::Call call(__func__, {{"vek_map", map}});
    vek_st_t st = VEK_ST_SUCCESS;
    if (!get_typed<KNode>(map, key, value != nullptr, &st,
                          [value](const vek_map_value_t *node) { *value = const_cast<vek_map_value_t *>(node); })) {
        return st;
    }
    call.exit({{"vekStatus", st}, {"value", vek::trace::out_value(value)}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_get_type(vek_map_t *map, const char *key, int32_t *type) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"type", type}});
    vek_st_t st = VEK_ST_SUCCESS;
    if (!get_typed<KNode>(map, key, type != nullptr, &st,
                          [type](const vek_map_value_t *node) { *type = vek::map::node_type(node); })) {
        return st;
    }
    call.exit({{"vekStatus", st}, {"type", vek::trace::out_value(type)}});
    return st;
}

namespace {

// Removes the first entry of this map that `key` (a name, or a name with a
// selector; no path) finds; the last entry moves into its place.
vek_st_t delete_entry(vek_map_t *map, const char *key) {
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    if (key == nullptr) return VEK_ST_INVALID_PARAMETER;
    const vek::HeapPtr<char> copy(vek_strdup(key));
    if (!copy) return VEK_ST_NO_MEMORY;
    vek_map_value_t **slot = nullptr;
    const vek_st_t st = vek::map::find_component(map, copy.get(), &slot);
    if (st != VEK_ST_SUCCESS) return st;
    const auto i = static_cast<int32_t>(slot - map->values);
    const int32_t last = map->count - 1;
    vek_map_free(map->keys[i]);
    vek_map_free_value(map->values[i]); // its status does not matter here
    map->keys[i] = map->keys[last];
    map->values[i] = map->values[last];
    map->keys[last] = nullptr;
    map->values[last] = nullptr;
    map->count = last;
    return VEK_ST_SUCCESS;
}

} // namespace

extern "C" VEK_API vek_st_t vek_map_delete(vek_map_t *map, const char *key) {
    const vek::trace::Call call(__func__, {{"vek_map", map}});
    const vek_st_t st = delete_entry(map, key);
    call.exit({{"vekStatus", st}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}
