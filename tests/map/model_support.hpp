// Helpers of the map tests: a fixture owning one map, byte-stream
// builders, callback writers/readers over std::vector, and a structural
// comparison of two map trees.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vektest.hpp"

namespace maptest {

using Bytes = std::vector<uint8_t>;

// Fixture: a fresh map in map_, destroyed at TearDown before the leak check.
class MapTest : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ASSERT_EQ(vek_map_create(&map_), VEK_ST_SUCCESS);
    }
    void TearDown() override {
        if (map_ != nullptr) {
            EXPECT_EQ(vek_map_destroy(map_), VEK_ST_SUCCESS);
        }
        map_ = nullptr;
        LeakCheckedTest::TearDown();
    }
    vek_map_t *map_ = nullptr;
};

// Stream builder: big-endian words and raw bytes.
class Stream {
public:
    Stream &u32(uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) bytes_.push_back(static_cast<uint8_t>(v >> s));
        return *this;
    }
    Stream &u64(uint64_t v) {
        for (int s = 56; s >= 0; s -= 8) bytes_.push_back(static_cast<uint8_t>(v >> s));
        return *this;
    }
    Stream &raw(const std::string &s) {
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        return *this;
    }
    Stream &raw(const Bytes &b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    // Key length and key bytes, then the type code.
    Stream &key(const std::string &k, int32_t type) {
        return u32(static_cast<uint32_t>(k.size())).raw(k).u32(static_cast<uint32_t>(type));
    }
    const Bytes &bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

// Writer callback appending to a Bytes; fails (−1) from call number
// fail_at on (0: never).
struct VecWriter {
    Bytes out;
    uint32_t calls = 0;
    uint32_t fail_at = 0;
    std::vector<uint32_t> sizes;

    static int32_t fn(void *arg, const void *data, uint32_t len) {
        auto *w = static_cast<VecWriter *>(arg);
        ++w->calls;
        if (w->fail_at != 0 && w->calls >= w->fail_at) return -1;
        w->sizes.push_back(len);
        const auto *p = static_cast<const uint8_t *>(data);
        w->out.insert(w->out.end(), p, p + len);
        return static_cast<int32_t>(len);
    }
};

// Reader callback over a Bytes; returns −1 when too few bytes remain, or
// the chosen result `rc_at_call` on call number `special_call`.
struct VecReader {
    Bytes in;
    size_t pos = 0;
    uint32_t calls = 0;
    uint32_t special_call = 0;
    int32_t special_rc = -1;
    std::vector<uint32_t> sizes;

    static int32_t fn(void *arg, void *data, uint32_t len) {
        auto *r = static_cast<VecReader *>(arg);
        ++r->calls;
        r->sizes.push_back(len);
        if (r->special_call != 0 && r->calls == r->special_call) return r->special_rc;
        if (len > r->in.size() - r->pos) return -1;
        if (len != 0) std::memcpy(data, r->in.data() + r->pos, len);
        r->pos += len;
        return static_cast<int32_t>(len);
    }
};

// Encodes with vek_map_encode; the buffer is released here.
inline Bytes encode(vek_map_t *map, vek_st_t *st_out = nullptr) {
    void *buf = nullptr;
    int32_t len = -1;
    const vek_st_t st = vek_map_encode(map, &buf, &len);
    if (st_out != nullptr) *st_out = st;
    Bytes out;
    if (buf != nullptr && len > 0) out.assign(static_cast<uint8_t *>(buf), static_cast<uint8_t *>(buf) + len);
    vek_map_free(buf);
    return out;
}

inline vek_st_t decode(vek_map_t *map, const Bytes &b) {
    return vek_map_decode(map, b.data(), static_cast<int32_t>(b.size()));
}

// A heap text owned by the map layer (for the set operations that take over).
inline char *text(const char *s) { return vek_map_strdup(s); }

// Structural equality of two trees: keys (exactly), order, types, values.
// Describes the first difference in *why. Iterative on an explicit stack.
inline bool same_tree(const vek_map_t *a, const vek_map_t *b, std::string *why) {
    std::vector<std::pair<const vek_map_t *, const vek_map_t *>> todo{{a, b}};
    while (!todo.empty()) {
        auto [x, y] = todo.back();
        todo.pop_back();
        if (x->count != y->count) {
            *why = "count " + std::to_string(x->count) + " vs " + std::to_string(y->count);
            return false;
        }
        for (int32_t i = 0; i < x->count; ++i) {
            const std::string where = std::string("key ") + x->keys[i];
            if (std::strcmp(x->keys[i], y->keys[i]) != 0) {
                *why = where + " vs " + y->keys[i];
                return false;
            }
            const vek_map_value_t *u = x->values[i];
            const vek_map_value_t *v = y->values[i];
            const int32_t tu = u ? u->type : VEK_MAP_TYPE_NONE;
            const int32_t tv = v ? v->type : VEK_MAP_TYPE_NONE;
            if (tu != tv) {
                *why = where + ": type " + std::to_string(tu) + " vs " + std::to_string(tv);
                return false;
            }
            if (u == nullptr || v == nullptr) continue;
            bool same = true;
            switch (tu) {
            case VEK_MAP_TYPE_STR: {
                const char *s = u->payload.str ? u->payload.str : "";
                const char *t = v->payload.str ? v->payload.str : "";
                same = std::strcmp(s, t) == 0;
                break;
            }
            case VEK_MAP_TYPE_BIN:
                same = u->payload.bin.len == v->payload.bin.len &&
                       (u->payload.bin.len == 0 ||
                        std::memcmp(u->payload.bin.data, v->payload.bin.data, u->payload.bin.len) == 0);
                break;
            case VEK_MAP_TYPE_I32:
            case VEK_MAP_TYPE_U32: same = u->payload.u32 == v->payload.u32; break;
            case VEK_MAP_TYPE_FLOAT: same = std::memcmp(&u->payload.f32, &v->payload.f32, sizeof(float)) == 0; break;
            case VEK_MAP_TYPE_BOOL: same = (u->payload.boolean != 0) == (v->payload.boolean != 0); break;
            case VEK_MAP_TYPE_I64:
            case VEK_MAP_TYPE_U64:
            case VEK_MAP_TYPE_DOUBLE: same = u->payload.u64 == v->payload.u64; break;
            case VEK_MAP_TYPE_MAP: todo.emplace_back(u->payload.map, v->payload.map); break;
            default: break;
            }
            if (!same) {
                *why = where + ": values differ";
                return false;
            }
        }
    }
    return true;
}

} // namespace maptest
