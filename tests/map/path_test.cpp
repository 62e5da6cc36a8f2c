// Key paths: grammar, case-insensitive names, selectors, lookup and create
// modes, through the typed set and get operations.
#include <string>
#include <vector>

#include "model_support.hpp"

namespace {

class PathTest : public maptest::MapTest {
protected:
    void SetUp() override {
        MapTest::SetUp();
        // port {id=3 (i32), name=eth0, speed=100}
        ASSERT_EQ(vek_map_set_i32_ll(map_, "port.id", 3, 0), 0u);
        vek_map_t *p0 = last_child();
        ASSERT_EQ(vek_map_set_str_ll(p0, "name", maptest::text("eth0"), 0), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(p0, "speed", 100, 0), 0u);
        // port {id=5 (u32), name=ETH1, speed=1000}
        ASSERT_EQ(vek_map_set_u32_ll(map_, "port.id", 5, 0), 0u);
        vek_map_t *p1 = last_child();
        ASSERT_EQ(vek_map_set_str_ll(p1, "name", maptest::text("ETH1"), 0), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(p1, "speed", 1000, 0), 0u);
        // port {id="7" (str), speed=7}
        ASSERT_EQ(vek_map_set_str_ll(map_, "port.id", maptest::text("7"), 0), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(last_child(), "speed", 7, 0), 0u);
        // port {id=10, id=11, speed=11}: only the first id is examined
        ASSERT_EQ(vek_map_set_i32_ll(map_, "port.id", 10, 0), 0u);
        vek_map_t *p3 = last_child();
        ASSERT_EQ(vek_map_set_i32_ll(p3, "id", 11, 0), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(p3, "speed", 11, 0), 0u);
        // port {name="a=b", speed=12}
        ASSERT_EQ(vek_map_set_str_ll(map_, "port.name", maptest::text("a=b"), 0), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(last_child(), "speed", 12, 0), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(map_, "mtu", 1500, 1), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(map_, "a.b.c", 1, 1), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(map_, "n", 2, 1), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(map_, "e..x", 9, 1), 0u);
    }

    vek_map_t *last_child() { return map_->values[map_->count - 1]->payload.map; }

    std::vector<std::string> keys(const vek_map_t *m) const {
        std::vector<std::string> out;
        for (int32_t i = 0; i < m->count; ++i) out.emplace_back(m->keys[i]);
        return out;
    }
};

struct GetCase {
    const char *path;
    vek_st_t status;
    int32_t value;
};

TEST_F(PathTest, GetResolution) {
    const std::vector<GetCase> cases{
        {"mtu", 0, 1500},
        {"MTU", 0, 1500},
        {"a.b.c", 0, 1},
        {"A.b.C", 0, 1},
        {"e..x", 0, 9},
        {"port.speed", 0, 100},
        {"port[id=3].speed", 0, 100},
        {"port[id=0x3].speed", 0, 100},
        {"port[id=03].speed", 0, 100},
        {"port[id=3 ].speed", 0, 100}, // conversion stops at the first unusable character
        {"PORT[ID=3].SPEED", 0, 100},
        {"port[id=3]ignored.speed", 0, 100},
        {"port[id=5].speed", 0, 1000},
        {"port[name=ETH0].speed", 0, 100},
        {"port[name=eth1].speed", 0, 1000},
        {"port[id=7].speed", 0, 7},
        {"port[id=10].speed", 0, 11},
        {"port[name=a=b].speed", 0, 12},
        {"port[id=11].speed", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"port[id=9].speed", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"port[name= eth0].speed", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"port[speed=abc].speed", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"port[id3].speed", VEK_ST_MAP_INVALID_SEARCH, 0},
        {"port[id=3.speed", VEK_ST_MAP_INVALID_SEARCH, 0},
        {"port[=3]", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"nothing[id=3]", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"n[id=1]", VEK_ST_MAP_INVALID_MAP, 0},
        {"mtu.x", VEK_ST_MAP_INTERNAL_ERROR, 0},
        {"a.b.c.", VEK_ST_MAP_INTERNAL_ERROR, 0},
        {"a.", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"a..c", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {".", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"missing", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"a.b", VEK_ST_MAP_INVALID_TYPE, 0},
        {" mtu", VEK_ST_MAP_KEY_NOT_EXIST, 0},
    };
    for (const GetCase &c : cases) {
        int32_t v = -77;
        EXPECT_EQ(vek_map_get_i32(map_, c.path, &v), c.status) << c.path;
        EXPECT_EQ(v, c.status == 0 ? c.value : -77) << c.path;
    }
}

// Selector values convert as with a 32-bit long on every platform: strtol
// saturates at the 32-bit limits, strtoul negates a magnitude that fits 32
// bits and saturates at 0xFFFFFFFF otherwise.
TEST_F(PathTest, SelectorValuesConvertWithThirtyTwoBitLimits) {
    vek_map_t *m = nullptr;
    ASSERT_EQ(vek_map_create(&m), 0u);
    ASSERT_EQ(vek_map_set_u32_ll(m, "p.id", 0xFFFFFFFFu, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m->values[0]->payload.map, "v", 1, 0), 0u);
    ASSERT_EQ(vek_map_set_u32_ll(m, "p.id", 1u, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m->values[1]->payload.map, "v", 2, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "p.id", INT32_MAX, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m->values[2]->payload.map, "v", 3, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "p.id", INT32_MIN, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m->values[3]->payload.map, "v", 4, 0), 0u);
    ASSERT_EQ(vek_map_set_u32_ll(m, "p.id", 5u, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m->values[4]->payload.map, "v", 5, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "p.id", 6, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m->values[5]->payload.map, "v", 6, 0), 0u);
    const std::vector<GetCase> cases{
        {"p[id=-1].v", 0, 1},
        {"p[id=0xFFFFFFFF].v", 0, 1},
        {"p[id=4294967296].v", 0, 1},
        {"p[id=0x100000005].v", 0, 1},
        {"p[id=-4294967295].v", 0, 2},
        {"p[id= +1].v", 0, 2},
        {"p[id=2147483647].v", 0, 3},
        {"p[id=2147483648].v", 0, 3},
        {"p[id=99999999999999999999].v", 0, 1},
        {"p[id=-2147483648].v", 0, 4},
        {"p[id=-2147483649].v", 0, 4},
        {"p[id=5].v", 0, 5},
        {"p[id=6].v", 0, 6},
        {"p[id=-4294967290].v", 0, 4},
        {"p[id=--1].v", VEK_ST_MAP_KEY_NOT_EXIST, 0},
        {"p[id=- 1].v", VEK_ST_MAP_KEY_NOT_EXIST, 0},
    };
    for (const GetCase &c : cases) {
        int32_t v = -77;
        EXPECT_EQ(vek_map_get_i32(m, c.path, &v), c.status) << c.path;
        EXPECT_EQ(v, c.status == 0 ? c.value : -77) << c.path;
    }
    vek_map_destroy(m);
}

TEST_F(PathTest, SetWithoutCheckAppendsAtEveryLevel) {
    vek_map_t *m = nullptr;
    ASSERT_EQ(vek_map_create(&m), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "a.b", 1, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "a.c", 2, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "port[id=3]", 3, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "x[y=1].z", 4, 0), 0u);
    EXPECT_EQ(keys(m), (std::vector<std::string>{"a", "a", "port[id=3]", "x[y=1]"}));
    EXPECT_EQ(keys(m->values[0]->payload.map), std::vector<std::string>{"b"});
    EXPECT_EQ(keys(m->values[1]->payload.map), std::vector<std::string>{"c"});
    EXPECT_EQ(keys(m->values[3]->payload.map), std::vector<std::string>{"z"});
    // Lookup still finds the first a; a.c lives in the second one.
    int32_t v = 0;
    EXPECT_EQ(vek_map_get_i32(m, "a.c", &v), VEK_ST_MAP_KEY_NOT_EXIST);
    vek_map_destroy(m);
}

TEST_F(PathTest, SetWithCheckReusesEntriesAlongThePath) {
    vek_map_t *m = nullptr;
    ASSERT_EQ(vek_map_create(&m), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "a.b", 1, 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "A.c", 2, 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "a.B", 3, 1), 0u);
    EXPECT_EQ(keys(m), std::vector<std::string>{"a"});
    EXPECT_EQ(keys(m->values[0]->payload.map), (std::vector<std::string>{"b", "c"}));
    int32_t v = 0;
    ASSERT_EQ(vek_map_get_i32(m, "a.b", &v), 0u);
    EXPECT_EQ(v, 3);
    vek_map_destroy(m);
}

TEST_F(PathTest, SetWithSelectors) {
    const int32_t before = map_->count;
    // An existing selected port is reused.
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port[id=5].speed", 25000, 1), 0u);
    int32_t v = 0;
    ASSERT_EQ(vek_map_get_i32(map_, "port[name=eth1].speed", &v), 0u);
    EXPECT_EQ(v, 25000);
    EXPECT_EQ(map_->count, before);
    // No port with id 9: a new entry with the bare name.
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port[id=9].speed", 9, 1), 0u);
    ASSERT_EQ(map_->count, before + 1);
    EXPECT_STREQ(map_->keys[before], "port");
    EXPECT_EQ(keys(last_child()), std::vector<std::string>{"speed"});
    // A malformed selector or a non-map name in create mode appends too.
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port[id3].x", 1, 1), 0u);
    EXPECT_STREQ(map_->keys[before + 1], "port");
    ASSERT_EQ(vek_map_set_i32_ll(map_, "n[id=1].x", 1, 1), 0u);
    EXPECT_STREQ(map_->keys[before + 2], "n");
    // Without lookup the selector stays in the key.
    ASSERT_EQ(vek_map_set_bool_ll(map_, "port[id=3]", 1, 0), 0u);
    EXPECT_STREQ(map_->keys[before + 3], "port[id=3]");
}

TEST_F(PathTest, SetThroughALeafTurnsItIntoAMapInPlace) {
    int32_t v = 0;
    EXPECT_EQ(vek_map_get_i32(map_, "mtu.x", &v), VEK_ST_MAP_INTERNAL_ERROR);
    const int32_t before = map_->count;
    ASSERT_EQ(vek_map_set_i32_ll(map_, "mtu.x", 5, 1), 0u);
    EXPECT_EQ(map_->count, before);
    ASSERT_EQ(vek_map_get_i32(map_, "mtu.x", &v), 0u);
    EXPECT_EQ(v, 5);
    int32_t type = 0;
    ASSERT_EQ(vek_map_get_type(map_, "mtu", &type), 0u);
    EXPECT_EQ(type, VEK_MAP_TYPE_MAP);
    // A text leaf is released when it becomes a map.
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port.name.x", 5, 1), 0u);
    ASSERT_EQ(vek_map_get_i32(map_, "port.name.x", &v), 0u);
}

TEST_F(PathTest, EmptyComponentsAreNames) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "z..", 1, 1), 0u);
    int32_t v = 0;
    ASSERT_EQ(vek_map_get_i32(map_, "z..", &v), 0u);
    EXPECT_EQ(v, 1);
    vek_map_t *z = last_child();
    ASSERT_EQ(z->count, 1);
    EXPECT_STREQ(z->keys[0], "");
}

} // namespace
