// Key paths on random input, seeded and bounded: random paths made of
// names, dots, brackets, '=' signs, digits, letters and empty components,
// over random maps. Set, get, get_type, delete and count_keys must answer
// with a documented status, leave out-parameters alone on failure, keep the
// tree valid, and a get after a set of a selector-free path with the key
// check must return the value set.
#include <cstring>
#include <random>
#include <string>
#include <strings.h>
#include <vector>

#include "model_support.hpp"

namespace {

bool one_of(vek_st_t st, std::initializer_list<vek_st_t> set) {
    for (vek_st_t s : set) {
        if (st == s) return true;
    }
    return false;
}

class PathRandom : public maptest::MapTest {
protected:
    std::mt19937 rng_{777u};
    bool holes_ = false; // also make entries without a node or without a map

    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }

    std::string component() {
        static const char alphabet[] = "aAbB01=[]x";
        std::string c;
        switch (below(6)) {
        case 0: return c; // empty component
        case 1:           // a well-formed selector
            c.assign(1, below(2) != 0 ? 'a' : 'b');
            c += below(2) ? "[k=" : "[s=";
            c += std::to_string(below(3));
            c += "]";
            return c;
        default: {
            const uint32_t n = 1 + below(3);
            for (uint32_t i = 0; i < n; ++i) c += alphabet[below(sizeof alphabet - 1)];
            return c;
        }
        }
    }

    std::string path() {
        std::string p = component();
        const uint32_t more = below(4);
        for (uint32_t i = 0; i < more; ++i) {
            p += '.';
            p += component();
        }
        return p;
    }

    // Walks the whole tree: valid maps, keys without '.', known types.
    void check_tree(const vek_map_t *m, int depth, const std::string &what) {
        ASSERT_LT(depth, 64) << what;
        ASSERT_EQ(m->magic, VEK_MAP_MAGIC) << what;
        ASSERT_GE(m->count, 0) << what;
        if (m->count == 0) return;
        ASSERT_NE(m->keys, nullptr) << what;
        ASSERT_NE(m->values, nullptr) << what;
        for (int32_t i = 0; i < m->count; ++i) {
            ASSERT_NE(m->keys[i], nullptr) << what;
            EXPECT_EQ(std::strchr(m->keys[i], '.'), nullptr) << what << " key " << m->keys[i];
            const vek_map_value_t *v = m->values[i];
            if (v == nullptr) continue;
            ASSERT_GE(v->type, VEK_MAP_TYPE_STR) << what;
            ASSERT_LE(v->type, VEK_MAP_TYPE_U64) << what;
            if (v->type == VEK_MAP_TYPE_MAP) {
                if (holes_ && v->payload.map == nullptr) continue;
                ASSERT_NE(v->payload.map, nullptr) << what;
                check_tree(v->payload.map, depth + 1, what);
            }
        }
    }

    void run_rounds(int rounds);

    // Sets a random value at p; returns the status, and the i32 stored in
    // *stored when that was the kind set.
    vek_st_t random_set(const std::string &p, uint8_t check, bool *is_i32, int32_t *stored) {
        *is_i32 = false;
        if (holes_ && below(6) == 0) {
            // An entry without a node, or a map entry without a map.
            return below(2) ? vek_map_set_value_ll(map_, p.c_str(), nullptr, check)
                            : vek_map_set_map_ll(map_, p.c_str(), nullptr, check);
        }
        switch (below(5)) {
        case 0: return vek_map_set_str_ll(map_, p.c_str(), maptest::text(std::to_string(below(3)).c_str()), check);
        case 1: {
            vek_map_t *child = nullptr;
            EXPECT_EQ(vek_map_create(&child), 0u);
            EXPECT_EQ(vek_map_set_i32_ll(child, "k", static_cast<int32_t>(below(3)), 0), 0u);
            return vek_map_set_map_ll(map_, p.c_str(), child, check);
        }
        case 2: return vek_map_set_u32_ll(map_, p.c_str(), below(3), check);
        default:
            *is_i32 = true;
            *stored = static_cast<int32_t>(rng_());
            return vek_map_set_i32_ll(map_, p.c_str(), *stored, check);
        }
    }
};

void PathRandom::run_rounds(int rounds) {
    int set_then_get = 0;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_EQ(vek_map_clear(map_), 0u);
        for (int step = 0; step < 60; ++step) {
            const std::string p = path();
            const std::string what =
                "round " + std::to_string(round) + " step " + std::to_string(step) + " path [" + p + "]";
            const bool simple = p.find('[') == std::string::npos;
            switch (below(6)) {
            case 0:
            case 1: { // set, then get back a selector-free path set with the key check
                const uint8_t check = static_cast<uint8_t>(below(2));
                bool is_i32 = false;
                int32_t stored = 0;
                const vek_st_t st = random_set(p, check, &is_i32, &stored);
                if (holes_) { // a path through a map entry without a map may be refused
                    EXPECT_TRUE(one_of(st, {0, VEK_ST_MAP_INVALID_MAP})) << what << " status " << st;
                } else {
                    EXPECT_EQ(st, 0u) << what;
                }
                if (st == 0 && check != 0 && simple) {
                    int32_t type = -5;
                    ASSERT_EQ(vek_map_get_type(map_, p.c_str(), &type), 0u) << what;
                    if (is_i32) {
                        EXPECT_EQ(type, VEK_MAP_TYPE_I32) << what;
                        int32_t v = 0;
                        EXPECT_EQ(vek_map_get_i32(map_, p.c_str(), &v), 0u) << what;
                        EXPECT_EQ(v, stored) << what;
                        ++set_then_get;
                    }
                }
                break;
            }
            case 2: { // typed get: a documented status, out-parameter untouched on failure
                int32_t v = -77;
                const vek_st_t st = vek_map_get_i32(map_, p.c_str(), &v);
                EXPECT_TRUE(one_of(st, {0, VEK_ST_MAP_KEY_NOT_EXIST, VEK_ST_MAP_INTERNAL_ERROR, VEK_ST_MAP_INVALID_MAP,
                                        VEK_ST_MAP_INVALID_SEARCH, VEK_ST_MAP_INVALID_TYPE}))
                    << what << " status " << st;
                if (st != 0) {
                    EXPECT_EQ(v, -77) << what;
                }
                char *s = reinterpret_cast<char *>(8);
                const vek_st_t ss = vek_map_get_str(map_, p.c_str(), &s);
                if (ss != 0) {
                    EXPECT_EQ(s, reinterpret_cast<char *>(8)) << what;
                }
                vek_map_t *sub = nullptr;
                if (vek_map_get_map(map_, p.c_str(), &sub) == 0) check_tree(sub, 0, what);
                break;
            }
            case 3: { // get_type
                int32_t type = -77;
                const vek_st_t st = vek_map_get_type(map_, p.c_str(), &type);
                EXPECT_TRUE(one_of(st, {0, VEK_ST_MAP_KEY_NOT_EXIST, VEK_ST_MAP_INTERNAL_ERROR, VEK_ST_MAP_INVALID_MAP,
                                        VEK_ST_MAP_INVALID_SEARCH, VEK_ST_MAP_INVALID_TYPE}))
                    << what << " status " << st;
                if (st == 0) {
                    // An entry without a node reports VEK_MAP_TYPE_NONE.
                    EXPECT_TRUE((type >= VEK_MAP_TYPE_STR && type <= VEK_MAP_TYPE_U64) ||
                                (holes_ && type == VEK_MAP_TYPE_NONE))
                        << what << " type " << type;
                } else {
                    EXPECT_EQ(type, -77) << what;
                }
                break;
            }
            case 4: { // delete: top level only
                const int32_t before = map_->count;
                const vek_st_t st = vek_map_delete(map_, p.c_str());
                EXPECT_TRUE(
                    one_of(st, {0, VEK_ST_MAP_KEY_NOT_EXIST, VEK_ST_MAP_INVALID_MAP, VEK_ST_MAP_INVALID_SEARCH}))
                    << what << " status " << st;
                EXPECT_EQ(map_->count, st == 0 ? before - 1 : before) << what;
                if (simple && p.find('.') != std::string::npos) { // keys never hold a dot
                    EXPECT_NE(st, 0u) << what;
                }
                break;
            }
            default: { // count_keys: this level only, ignoring case
                uint32_t found = 999;
                EXPECT_EQ(vek_map_count_keys(map_, p.c_str(), &found), 0u) << what;
                uint32_t want = 0;
                for (int32_t i = 0; i < map_->count; ++i) want += strcasecmp(map_->keys[i], p.c_str()) == 0 ? 1u : 0u;
                EXPECT_EQ(found, want) << what;
                break;
            }
            }
            check_tree(map_, 0, what);
            if (HasFailure()) return;
        }
        // The tree still encodes and copies (a map entry without a map is
        // an invalid nested map for the encoder).
        vek_st_t st = 1;
        const maptest::Bytes enc = maptest::encode(map_, &st);
        vek_map_t *copy = nullptr;
        ASSERT_EQ(vek_map_create(&copy), 0u);
        const vek_st_t cst = vek_map_copy(map_, copy);
        if (holes_) {
            EXPECT_TRUE(one_of(st, {0, VEK_ST_MAP_INVALID_MAP})) << st;
            EXPECT_EQ(cst, st);
        } else {
            EXPECT_EQ(st, 0u);
            EXPECT_EQ(cst, 0u);
        }
        if (!holes_) { // entries without a node are not carried by the encoding
            EXPECT_EQ(maptest::encode(copy), enc);
        } else {
            check_tree(copy, 0, "copy");
        }
        EXPECT_EQ(vek_map_destroy(copy), 0u);
    }
    EXPECT_GT(set_then_get, 50);
}

TEST_F(PathRandom, RandomPathsOverRandomMaps) { run_rounds(80); }

TEST_F(PathRandom, RandomPathsOverMapsWithEmptyEntries) {
    holes_ = true;
    run_rounds(80);
}

} // namespace
