// Structure check of the sorted set: a whole set passes, and each property
// broken by hand is named.
#include <functional>
#include <vector>

#include "foundation/check.hpp"
#include "pokes.hpp"
#include "sorted_set/sorted_set_internal.hpp"
#include "vektest.hpp"

namespace {

using vektest::Pokes;

int32_t ascending(uintptr_t a, uintptr_t b) { return a == b ? 0 : (a < b ? 1 : 2); }

// Capacity 4 with three nodes: one spare node.
class SortedSetVerify : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        s_ = vek_sorted_set_create(16, 4);
        ASSERT_NE(s_, nullptr);
        for (uintptr_t k : {30u, 10u, 20u}) vek_sorted_set_put(s_, k, ascending, k + 1);
    }
    void TearDown() override {
        vek_sorted_set_delete_nodes_and_set(s_, nullptr);
        LeakCheckedTest::TearDown();
    }

    vek_sorted_set_t *s_ = nullptr;
};

TEST_F(SortedSetVerify, WholeSetsPass) {
    EXPECT_EQ(vek::sorted_set::verify(s_), nullptr);
    for (uintptr_t k : {40u, 50u}) vek_sorted_set_put(s_, k, ascending, k); // grown by two nodes
    EXPECT_EQ(s_->maxSortedSetSize, 6u);
    EXPECT_EQ(vek::sorted_set::verify(s_), nullptr);
    vek_sorted_set_t *none = vek_sorted_set_create(8, 0); // no capacity
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(vek::sorted_set::verify(none), nullptr);
    vek_sorted_set_delete_nodes_and_set(none, nullptr);
}

TEST_F(SortedSetVerify, EachBrokenPropertyIsNamed) {
    struct Case {
        const char *name;
        std::function<void(Pokes &)> corrupt;
        const char *broken;
    };
    const std::vector<Case> cases = {
        {"count above capacity", [&](Pokes &p) { p.set(s_->curSortedSetSize, 5u); }, "node count above the capacity"},
        {"growth step", [&](Pokes &p) { p.set(s_->mallocSizeBytes, 12u); }, "growth step not a whole number of nodes"},
        {"no node array", [&](Pokes &p) { p.set(s_->sortedSet, static_cast<vek_sorted_set_node_t *>(nullptr)); },
         "node array is absent"},
        {"spare key", [&](Pokes &p) { p.set(s_->sortedSet[3].key, uintptr_t{9}); }, "spare node not zero"},
        {"spare value", [&](Pokes &p) { p.set(s_->sortedSet[3].value, uintptr_t{9}); }, "spare node not zero"},
        {"count too low", [&](Pokes &p) { p.set(s_->curSortedSetSize, 2u); }, "spare node not zero"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            Pokes p;
            c.corrupt(p);
            EXPECT_STREQ(vek::sorted_set::verify(s_), c.broken);
        }
        EXPECT_EQ(vek::sorted_set::verify(s_), nullptr);
    }
}

TEST_F(SortedSetVerify, OperationsStopOnABrokenSet) {
    if (!vek::kStructureChecks) GTEST_SKIP() << "built without VEK_STRUCTURE_CHECKS: operations run no check";
    Pokes p;
    p.set(s_->sortedSet[3].key, uintptr_t{9});
    EXPECT_DEATH(vek_sorted_set_size(s_), "structure check failed: spare node not zero");
    EXPECT_DEATH(vek_sorted_set_get(s_, 10, ascending), "structure check failed: spare node not zero");
}

} // namespace
