// Structure check of the map tree: whole trees pass (including entries
// without a node, caller type codes and foreign children, which every
// operation leaves alone), and each property broken by hand is named, at
// the top and in nested maps, down to the walk's depth limit.
#include <functional>
#include <string>
#include <vector>

#include "foundation/check.hpp"
#include "map/map_internal.hpp"
#include "pokes.hpp"
#include "vektest.hpp"

namespace {

using vektest::Pokes;

// root: a (i32), b (str), c (map: x (u32), y (map: z (bool))), n (no node).
class MapVerify : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ASSERT_EQ(vek_map_create(&root_), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_i32_ll(root_, "a", -1, 1), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_str_ll(root_, "b", vek_map_strdup("text"), 1), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_u32_ll(root_, "c.x", 7, 1), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_bool_ll(root_, "c.y.z", 1, 1), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_value_ll(root_, "n", nullptr, 1), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_get_map(root_, "c", &c_), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_get_map(root_, "c.y", &y_), VEK_ST_SUCCESS);
        ASSERT_EQ(root_->count, 4);
    }
    void TearDown() override {
        EXPECT_EQ(vek_map_destroy(root_), VEK_ST_SUCCESS);
        LeakCheckedTest::TearDown();
    }

    vek_map_t *root_ = nullptr;
    vek_map_t *c_ = nullptr;
    vek_map_t *y_ = nullptr;
};

TEST_F(MapVerify, WholeTreesPass) {
    EXPECT_EQ(vek::map::verify(root_), nullptr);
    vek_map_t *empty = nullptr;
    ASSERT_EQ(vek_map_create(&empty), VEK_ST_SUCCESS);
    EXPECT_EQ(vek::map::verify(empty), nullptr);
    ASSERT_EQ(vek_map_set_i32_ll(empty, "k", 1, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_delete(empty, "k"), VEK_ST_SUCCESS); // empty again, arrays kept
    EXPECT_EQ(vek::map::verify(empty), nullptr);
    EXPECT_EQ(vek_map_destroy(empty), VEK_ST_SUCCESS);
}

TEST_F(MapVerify, CallerNodesAndForeignChildrenAreLeftAlone) {
    auto *odd = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    ASSERT_NE(odd, nullptr);
    odd->type = 42;
    odd->payload.u64 = 0;
    ASSERT_EQ(vek_map_set_value_ll(root_, "odd", odd, 1), VEK_ST_SUCCESS);
    vek_map_t foreign{};
    foreign.magic = 0x1234;
    foreign.count = -5; // not a map: never read past its magic
    ASSERT_EQ(vek_map_set_map_ll(root_, "foreign", &foreign, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_map_ll(root_, "gone", nullptr, 1), VEK_ST_SUCCESS);
    EXPECT_EQ(vek::map::verify(root_), nullptr);
    ASSERT_EQ(vek_map_set_value_ll(root_, "foreign", nullptr, 1), VEK_ST_SUCCESS); // let go of it
}

TEST_F(MapVerify, EachBrokenPropertyIsNamed) {
    struct Case {
        const char *name;
        std::function<void(Pokes &)> corrupt;
        const char *broken;
    };
    static char dotted[] = "a.b";
    vek_map_value_t *c_node = root_->values[2];
    vek_map_value_t *y_node = c_->values[1];
    const std::vector<Case> cases = {
        {"magic", [&](Pokes &p) { p.set(root_->magic, 0u); }, "map without its magic"},
        {"negative count", [&](Pokes &p) { p.set(root_->count, -1); }, "entry count is negative"},
        {"key array alone", [&](Pokes &p) { p.set(root_->values, static_cast<vek_map_value_t **>(nullptr)); },
         "one entry array without the other"},
        {"value array alone", [&](Pokes &p) { p.set(root_->keys, static_cast<char **>(nullptr)); },
         "one entry array without the other"},
        {"entries without arrays",
         [&](Pokes &p) {
             p.set(root_->keys, static_cast<char **>(nullptr));
             p.set(root_->values, static_cast<vek_map_value_t **>(nullptr));
         },
         "entries without entry arrays"},
        {"missing key", [&](Pokes &p) { p.set(root_->keys[1], static_cast<char *>(nullptr)); }, "entry without a key"},
        {"dotted key", [&](Pokes &p) { p.set(root_->keys[0], static_cast<char *>(dotted)); }, "key holds a '.'"},
        {"child count", [&](Pokes &p) { p.set(c_->count, -2); }, "entry count is negative"},
        {"child arrays", [&](Pokes &p) { p.set(c_->keys, static_cast<char **>(nullptr)); },
         "one entry array without the other"},
        {"grandchild key", [&](Pokes &p) { p.set(y_->keys[0], static_cast<char *>(nullptr)); }, "entry without a key"},
        {"map holding itself", [&](Pokes &p) { p.set(y_node->payload.map, c_); }, "map holds itself or a map above it"},
        {"map holding the top", [&](Pokes &p) { p.set(y_node->payload.map, root_); },
         "map holds itself or a map above it"},
        {"top holding itself", [&](Pokes &p) { p.set(c_node->payload.map, root_); },
         "map holds itself or a map above it"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            Pokes p;
            c.corrupt(p);
            EXPECT_STREQ(vek::map::verify(root_), c.broken);
        }
        EXPECT_EQ(vek::map::verify(root_), nullptr);
    }
    EXPECT_STREQ(vek::map::verify(nullptr), "map is null");
}

// The walk reads the maps down to VEK_MAP_DECODE_MAX_DEPTH levels below the
// one handed in; the fields of the maps one level further are read, their
// entries are not.
TEST_F(MapVerify, WalkStopsAtTheDepthLimit) {
    std::string path = "l";
    for (int i = 0; i < VEK_MAP_DECODE_MAX_DEPTH + 2; ++i) path += ".l";
    ASSERT_EQ(vek_map_set_i32_ll(root_, path.c_str(), 1, 1), VEK_ST_SUCCESS);
    std::vector<vek_map_t *> levels{root_}; // levels[d]: the map d levels down
    while (levels.back()->count > 0 && levels.back()->values[levels.back()->count - 1]->type == VEK_MAP_TYPE_MAP) {
        vek_map_t *m = levels.back();
        levels.push_back(m->values[m->count - 1]->payload.map);
    }
    ASSERT_EQ(levels.size(), static_cast<size_t>(VEK_MAP_DECODE_MAX_DEPTH + 3));
    EXPECT_EQ(vek::map::verify(root_), nullptr);
    const int limit = VEK_MAP_DECODE_MAX_DEPTH;
    {
        Pokes p;
        p.set(levels[limit]->keys[0], static_cast<char *>(nullptr));
        EXPECT_STREQ(vek::map::verify(root_), "entry without a key");
    }
    {
        Pokes p;
        p.set(levels[limit + 1]->count, -1);
        EXPECT_STREQ(vek::map::verify(root_), "entry count is negative");
    }
    {
        Pokes p;
        p.set(levels[limit + 1]->keys[0], static_cast<char *>(nullptr));
        EXPECT_EQ(vek::map::verify(root_), nullptr);
        EXPECT_STREQ(vek::map::verify(levels[2]), "entry without a key"); // within the limit from there
    }
}

TEST_F(MapVerify, OperationsStopOnABrokenTree) {
    if (!vek::kStructureChecks) GTEST_SKIP() << "built without VEK_STRUCTURE_CHECKS: operations run no check";
    Pokes p;
    p.set(c_->count, -2);
    int32_t v = 0;
    EXPECT_DEATH(vek_map_get_i32(root_, "a", &v), "structure check failed: entry count is negative");
    EXPECT_DEATH(vek_map_set_i32_ll(root_, "a", 2, 1), "structure check failed: entry count is negative");
    int32_t len = 0;
    EXPECT_DEATH(vek_map_length(root_, &len), "structure check failed: entry count is negative");
}

} // namespace
