// Key-path operation sequences over a small tree: every set type, the
// getters, delete, count, copy and clear, with allocation failures at
// input-chosen points. After every step the tree passes the library's
// structure check and the target's own, encodes,
// decodes and encodes again to the same stream, and a set with the key
// check on reads back through its own path.
//
// Input: a sequence of operations, each an operation byte followed by the
// bytes it reads (path, value, flags).
#include <cmath>
#include <string>

#include "map_check.hpp"

namespace {

const char *const kNames[] = {"a", "A", "b", "port", "id", "name", "x", ""};
const char *const kSelectors[] = {"[id=1]", "[id=0x2]", "[name=eth0]",  "[ID=01]",
                                  "[id1]",  "[id=2",    "[name=ETH0]x", "[id=-1]"};

// A path of one to four components; selectors only when allowed.
std::string path(fuzz::Input &in, bool selectors, bool *has_selector) {
    const uint8_t shape = in.u8();
    const int parts = 1 + (shape & 3);
    std::string p;
    for (int i = 0; i < parts; ++i) {
        const uint8_t c = in.u8();
        if (i != 0) p += '.';
        p += kNames[c & 7];
        if (selectors && (c & 0x80) != 0) {
            p += kSelectors[(c >> 3) & 7];
            *has_selector = true;
        }
    }
    return p;
}

// A child map for vek_map_set_map_ll: an id and a name, as the selectors look for.
vek_map_t *small_map(fuzz::Input &in) {
    vek_map_t *m = nullptr;
    if (vek_map_create(&m) != VEK_ST_SUCCESS) return nullptr;
    const uint8_t what = in.u8();
    if ((what & 1) != 0) vek_map_set_i32_ll(m, "id", static_cast<int8_t>(in.u8()), 1);
    if ((what & 2) != 0) vek_map_set_u32_ll(m, "ID", in.u8(), 0);
    if ((what & 4) != 0) vek_map_set_str_ll(m, "name", vek_map_strdup((what & 8) != 0 ? "eth0" : "ETH1"), 1);
    FUZZ_WHOLE(vek::map::verify(m));
    return m;
}

// Stream round trip: decoding the encoding gives a tree that encodes the
// same. A tree that holds an entry without a node encodes that entry as a
// type the decoder skips, so it only has to be stable from the second round.
void round_trip(vek_map_t *map, bool null_nodes) {
    const fuzz::Bytes first = fuzz::encode(map);
    vek_map_t *copy = nullptr;
    FUZZ_CHECK(vek_map_create(&copy) == VEK_ST_SUCCESS);
    FUZZ_CHECK(vek_map_decode(copy, first.data(), static_cast<int32_t>(first.size())) == VEK_ST_SUCCESS);
    FUZZ_WHOLE(vek::map::verify(copy));
    const fuzz::Bytes second = fuzz::encode(copy);
    if (!null_nodes) {
        FUZZ_CHECK(second == first);
    } else {
        vek_map_t *third = nullptr;
        FUZZ_CHECK(vek_map_create(&third) == VEK_ST_SUCCESS);
        FUZZ_CHECK(vek_map_decode(third, second.data(), static_cast<int32_t>(second.size())) == VEK_ST_SUCCESS);
        FUZZ_WHOLE(vek::map::verify(third));
        FUZZ_CHECK(fuzz::encode(third) == second);
        FUZZ_CHECK(vek_map_destroy(third) == VEK_ST_SUCCESS);
    }
    FUZZ_CHECK(vek_map_destroy(copy) == VEK_ST_SUCCESS);
}

bool get_status_ok(vek_st_t st) {
    return st == VEK_ST_SUCCESS || st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_KEY_NOT_EXIST ||
           st == VEK_ST_MAP_INTERNAL_ERROR || st == VEK_ST_MAP_INVALID_MAP || st == VEK_ST_MAP_INVALID_SEARCH ||
           st == VEK_ST_MAP_INVALID_TYPE;
}

// A float or double that the stream carries unchanged: finite, and not -0.
float plain_float(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    if (!std::isfinite(f) || (f == 0.0f && std::signbit(f))) f = 1.5f;
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input in(data, size);
    const fuzz::LeakCheck leaks;
    vek_map_t *map = nullptr;
    FUZZ_CHECK(vek_map_create(&map) == VEK_ST_SUCCESS);
    bool null_nodes = false;
    uint32_t fail_next = 0;

    for (int step = 0; step < 48 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        const uint8_t check = (op & 0x80) != 0 ? 1 : 0;
        bool has_selector = false;
        const std::string key = path(in, true, &has_selector);
        const char *k = key.c_str();
        const int32_t count_before = map->count;

        vek_saltest_reset();
        const bool armed = fail_next != 0;
        const uint32_t fail_at = fail_next;
        fail_next = 0;
        const fuzz::Bytes stream_before = fuzz::encode_unfailing(map);

        if (armed) vek_saltest_fail_alloc(VEK_SALTEST_HEAP, fail_at, 1);
        vek_st_t st = VEK_ST_SUCCESS;
        bool is_set = true;
        vek_map_value_t *set_node = nullptr;
        int32_t set_type = VEK_MAP_TYPE_NONE;
        vek_map_payload_t set_value{};
        switch (op & 0x1F) {
        case 0:
            set_type = VEK_MAP_TYPE_I32;
            set_value.i32 = static_cast<int32_t>(in.u32());
            st = vek_map_set_i32_ll(map, k, set_value.i32, check);
            break;
        case 1:
            set_type = VEK_MAP_TYPE_U32;
            set_value.u32 = in.u32();
            st = vek_map_set_u32_ll(map, k, set_value.u32, check);
            break;
        case 2:
            set_type = VEK_MAP_TYPE_I64;
            set_value.i64 = static_cast<int64_t>(in.u64());
            st = vek_map_set_i64_ll(map, k, set_value.i64, check);
            break;
        case 3:
            set_type = VEK_MAP_TYPE_U64;
            set_value.u64 = in.u64();
            st = vek_map_set_u64_ll(map, k, set_value.u64, check);
            break;
        case 4:
            set_type = VEK_MAP_TYPE_FLOAT;
            set_value.f32 = plain_float(in.u32());
            st = vek_map_set_float_ll(map, k, set_value.f32, check);
            break;
        case 5: {
            set_type = VEK_MAP_TYPE_DOUBLE;
            const uint64_t bits = in.u64();
            std::memcpy(&set_value.f64, &bits, sizeof bits);
            st = vek_map_set_double_ll(map, k, set_value.f64, check);
            break;
        }
        case 6:
            set_type = VEK_MAP_TYPE_BOOL;
            set_value.boolean = (in.u8() & 1);
            st = vek_map_set_bool_ll(map, k, set_value.boolean, check);
            break;
        case 7: {
            const uint8_t which = in.u8();
            const char *texts[] = {"eth0", "ETH0", "1", "0x2", "", "some text"};
            set_type = VEK_MAP_TYPE_STR;
            vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
            set_value.str = vek_map_strdup(texts[which % 6]);
            if (armed) vek_saltest_fail_alloc(VEK_SALTEST_HEAP, fail_at, 1);
            st = vek_map_set_str_ll(map, k, set_value.str, check);
            break;
        }
        case 8: {
            const uint32_t n = in.u8() & 15;
            set_type = VEK_MAP_TYPE_BIN;
            vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
            void *bytes = n != 0 ? vek_map_malloc(n) : nullptr;
            if (bytes != nullptr) std::memset(bytes, 0xA5, n);
            if (armed) vek_saltest_fail_alloc(VEK_SALTEST_HEAP, fail_at, 1);
            set_value.bin.data = bytes;
            set_value.bin.len = n;
            st = vek_map_set_bin_ll(map, k, bytes, n, check);
            break;
        }
        case 9: {
            set_type = VEK_MAP_TYPE_MAP;
            vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
            set_value.map = small_map(in);
            FUZZ_CHECK(set_value.map != nullptr);
            if (armed) vek_saltest_fail_alloc(VEK_SALTEST_HEAP, fail_at, 1);
            st = vek_map_set_map_ll(map, k, set_value.map, check);
            break;
        }
        case 10: {
            const uint8_t what = in.u8();
            vek_map_value_t *node = nullptr;
            if ((what & 7) != 0) {
                vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
                node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof *node));
                FUZZ_CHECK(node != nullptr);
                std::memset(node, 0, sizeof *node);
                node->type = VEK_MAP_TYPE_U32;
                node->payload.u32 = what;
                if (armed) vek_saltest_fail_alloc(VEK_SALTEST_HEAP, fail_at, 1);
                set_type = VEK_MAP_TYPE_U32;
                set_value.u32 = what;
            }
            set_node = node;
            st = vek_map_set_value_ll(map, k, node, check);
            if (node == nullptr && st == VEK_ST_SUCCESS) null_nodes = true;
            break;
        }
        case 11:
        case 12:
        case 13: {
            is_set = false;
            int32_t i32 = 0;
            uint32_t u32 = 0;
            int64_t i64 = 0;
            uint64_t u64 = 0;
            float f = 0;
            double d = 0;
            uint8_t b = 0;
            char *s = nullptr;
            vek_map_t *m = nullptr;
            void *bin = nullptr;
            uint32_t len = 0;
            vek_map_value_t *v = nullptr;
            int32_t t = 0;
            switch (in.u8() % 12) {
            case 0: st = vek_map_get_i32(map, k, &i32); break;
            case 1: st = vek_map_get_u32(map, k, &u32); break;
            case 2: st = vek_map_get_i64(map, k, &i64); break;
            case 3: st = vek_map_get_u64(map, k, &u64); break;
            case 4: st = vek_map_get_float(map, k, &f); break;
            case 5: st = vek_map_get_double(map, k, &d); break;
            case 6: st = vek_map_get_bool(map, k, &b); break;
            case 7: st = vek_map_get_str(map, k, &s); break;
            case 8:
                st = vek_map_get_map(map, k, &m);
                if (st == VEK_ST_SUCCESS && m != nullptr) fuzz::check_tree(m, true);
                break;
            case 9: st = vek_map_get_bin(map, k, &bin, &len); break;
            case 10: st = vek_map_get_value(map, k, &v); break;
            default: st = vek_map_get_type(map, k, &t); break;
            }
            FUZZ_CHECK(get_status_ok(st));
            if (!armed) FUZZ_CHECK(st != VEK_ST_NO_MEMORY);
            break;
        }
        case 14:
        case 15: {
            is_set = false;
            // Delete works on this map's level only: the first component.
            const std::string top = key.substr(0, key.find('.'));
            const bool dotted = top.size() != key.size();
            st = vek_map_delete(map, (dotted && (op & 0x40) != 0) ? k : top.c_str());
            FUZZ_CHECK(st == VEK_ST_SUCCESS || st == VEK_ST_MAP_KEY_NOT_EXIST || st == VEK_ST_MAP_INVALID_SEARCH ||
                       st == VEK_ST_MAP_INVALID_MAP || st == VEK_ST_NO_MEMORY);
            // The key is not split at '.', so a dotted key names no entry,
            // except through a selector in front of the dot (the text after
            // its ']' is ignored, and its value text may hold the dot).
            if (dotted && (op & 0x40) != 0 && !armed && top.find('[') == std::string::npos) {
                FUZZ_CHECK(st != VEK_ST_SUCCESS);
            }
            if (st == VEK_ST_SUCCESS) FUZZ_CHECK(map->count == count_before - 1);
            else FUZZ_CHECK(map->count == count_before);
            break;
        }
        case 16: {
            is_set = false;
            uint32_t n = 0;
            const std::string top = key.substr(0, key.find('.'));
            FUZZ_CHECK(vek_map_count_keys(map, top.c_str(), &n) == VEK_ST_SUCCESS);
            uint32_t expect = 0;
            for (int32_t i = 0; i < map->count; ++i) expect += strcasecmp(map->keys[i], top.c_str()) == 0;
            FUZZ_CHECK(n == expect);
            break;
        }
        case 17: {
            is_set = false;
            vek_map_t *copy = nullptr;
            vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
            FUZZ_CHECK(vek_map_create(&copy) == VEK_ST_SUCCESS);
            if (armed) vek_saltest_fail_alloc(VEK_SALTEST_HEAP, fail_at, 1);
            st = vek_map_copy(map, copy);
            vek_saltest_reset();
            FUZZ_CHECK(st == VEK_ST_SUCCESS || (armed && (st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_CALLBACK_ERROR)));
            FUZZ_WHOLE(vek::map::verify(copy));
            fuzz::check_tree(copy, false);
            if (st == VEK_ST_SUCCESS && !null_nodes) FUZZ_CHECK(fuzz::encode(copy) == fuzz::encode(map));
            FUZZ_CHECK(vek_map_destroy(copy) == VEK_ST_SUCCESS);
            break;
        }
        case 18: {
            is_set = false;
            if ((op & 0x60) == 0x60) {
                FUZZ_CHECK(vek_map_clear(map) == VEK_ST_SUCCESS);
                FUZZ_CHECK(map->count == 0 && map->keys == nullptr && map->values == nullptr);
                null_nodes = false;
            }
            break;
        }
        case 19:
        case 20: {
            // The next operation runs with one heap allocation failing.
            is_set = false;
            fail_next = 1 + (in.u8() & 15);
            break;
        }
        default: {
            is_set = false;
            vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0); // the queries' lookups may allocate
            fuzz::check_queries(map);
            break;
        }
        }
        const bool fired = vek_saltest_faults_fired() != 0;
        vek_saltest_reset();

        if (is_set) {
            FUZZ_CHECK(st == VEK_ST_SUCCESS || (fired && st == VEK_ST_NO_MEMORY));
            // A failed set leaves the map as it was and the value with the caller.
            if (st != VEK_ST_SUCCESS) {
                FUZZ_CHECK(map->count == count_before);
                FUZZ_CHECK(fuzz::encode(map) == stream_before);
                switch (set_type) {
                case VEK_MAP_TYPE_STR: vek_map_free(set_value.str); break;
                case VEK_MAP_TYPE_BIN: vek_map_free(set_value.bin.data); break;
                case VEK_MAP_TYPE_MAP: FUZZ_CHECK(vek_map_destroy(set_value.map) == VEK_ST_SUCCESS); break;
                default: vek_map_free(set_node); break;
                }
            }
            if (st == VEK_ST_SUCCESS && check != 0 && !has_selector && !null_nodes && set_type != VEK_MAP_TYPE_NONE) {
                vek_map_value_t *v = nullptr;
                FUZZ_CHECK(vek_map_get_value(map, k, &v) == VEK_ST_SUCCESS && v != nullptr);
                FUZZ_CHECK(v->type == set_type);
                switch (set_type) {
                case VEK_MAP_TYPE_I64:
                case VEK_MAP_TYPE_U64: FUZZ_CHECK(v->payload.u64 == set_value.u64); break;
                case VEK_MAP_TYPE_DOUBLE:
                    FUZZ_CHECK(std::memcmp(&v->payload.f64, &set_value.f64, sizeof(double)) == 0);
                    break;
                case VEK_MAP_TYPE_FLOAT:
                    FUZZ_CHECK(std::memcmp(&v->payload.f32, &set_value.f32, sizeof(float)) == 0);
                    break;
                case VEK_MAP_TYPE_BOOL: FUZZ_CHECK(v->payload.boolean == set_value.boolean); break;
                case VEK_MAP_TYPE_STR: FUZZ_CHECK(v->payload.str == set_value.str); break;
                case VEK_MAP_TYPE_MAP: FUZZ_CHECK(v->payload.map == set_value.map); break;
                case VEK_MAP_TYPE_BIN:
                    FUZZ_CHECK(v->payload.bin.data == set_value.bin.data && v->payload.bin.len == set_value.bin.len);
                    break;
                default: FUZZ_CHECK(v->payload.u32 == set_value.u32); break;
                }
            }
        }
        FUZZ_WHOLE(vek::map::verify(map));
        fuzz::check_tree(map, null_nodes);
        round_trip(map, null_nodes);
    }
    fuzz::check_queries(map);
    fuzz::dump_all(map);
    FUZZ_WHOLE(vek::map::verify(map));
    FUZZ_CHECK(vek_map_destroy(map) == VEK_ST_SUCCESS);
    FUZZ_NO_LEAK(leaks);
    return 0;
}
