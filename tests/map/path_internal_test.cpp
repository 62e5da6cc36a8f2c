// The path primitives themselves: the cut of a selector that the caller of
// vek::map::find_component sees, and the lookup/create modes of
// vek::map::find_slot.
#include <cstring>

#include "map/map_internal.hpp"
#include "model_support.hpp"

namespace {

using PathInternalTest = maptest::MapTest;

TEST_F(PathInternalTest, FindComponentCutsTheSelectorOff) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port.id", 3, 0), 0u);
    char component[] = "port[id=3]tail";
    vek_map_value_t **slot = nullptr;
    ASSERT_EQ(vek::map::find_component(map_, component, &slot), 0u);
    EXPECT_STREQ(component, "port");
    EXPECT_EQ(slot, &map_->values[0]);
    char bad[] = "port[id3]";
    EXPECT_EQ(vek::map::find_component(map_, bad, &slot), VEK_ST_MAP_INVALID_SEARCH);
    EXPECT_STREQ(bad, "port");
    EXPECT_EQ(slot, nullptr);
    char plain[] = "PORT";
    ASSERT_EQ(vek::map::find_component(map_, plain, &slot), 0u);
    EXPECT_STREQ(plain, "PORT");
}

TEST_F(PathInternalTest, SelectorCopyFailureIsNoMemory) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port.id", 3, 0), 0u);
    char component[] = "port[id=3]";
    vek_map_value_t **slot = nullptr;
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vek::map::find_component(map_, component, &slot), VEK_ST_NO_MEMORY);
    EXPECT_EQ(slot, nullptr);
}

TEST_F(PathInternalTest, FindSlotModes) {
    vek_map_value_t **slot = nullptr;
    // Neither lookup nor create: no search, status 0, no slot.
    EXPECT_EQ(vek::map::find_slot(map_, "a.b", 0, 0, &slot), 0u);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(map_->count, 0);
    // Lookup only.
    EXPECT_EQ(vek::map::find_slot(map_, "a.b", 1, 0, &slot), VEK_ST_MAP_KEY_NOT_EXIST);
    // Create: the leaf's slot is new and empty; the path's maps exist.
    ASSERT_EQ(vek::map::find_slot(map_, "a.b", 1, 1, &slot), 0u);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(*slot, nullptr);
    // Lookup finds the same slot again.
    vek_map_value_t **again = nullptr;
    ASSERT_EQ(vek::map::find_slot(map_, "A.B", 1, 0, &again), 0u);
    EXPECT_EQ(again, slot);
    // A null node on the way is not a map for a lookup.
    EXPECT_EQ(vek::map::find_slot(map_, "a.b.c", 1, 0, &again), VEK_ST_MAP_INTERNAL_ERROR);
}

TEST_F(PathInternalTest, AllocValueGivesAFreshNode) {
    vek_map_value_t *node = nullptr;
    ASSERT_EQ(vek::map::alloc_value(map_, "k", 1, &node), 0u);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->type, VEK_MAP_TYPE_NONE);
    vek_map_payload_t zero{};
    EXPECT_EQ(std::memcmp(&node->payload, &zero, sizeof zero), 0);
    EXPECT_EQ(map_->values[0], node);
    vek_map_value_t *second = nullptr;
    ASSERT_EQ(vek::map::alloc_value(map_, "k", 1, &second), 0u);
    EXPECT_EQ(map_->count, 1);
    EXPECT_EQ(map_->values[0], second);
    EXPECT_EQ(vek::map::alloc_value(nullptr, "k", 1, &second), VEK_ST_MAP_INVALID_MAP);
}

} // namespace
