// Structure check of the paged direct table: a whole table passes, and each
// property broken by hand is named.
#include <functional>
#include <vector>

#include "containers/verify.hpp"
#include "foundation/check.hpp"
#include "pokes.hpp"
#include "vektest.hpp"

namespace {

using vektest::Pokes;

// Ten keys in pages of four: page 0 full (keys 0 to 3), page 1 open (key
// 5), page 2 open (key 8; its slots 2 and 3 lie past the table).
class DptVerify : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        t_ = vek_dpt_create_table(10, 4);
        ASSERT_NE(t_, nullptr);
        for (uint32_t k : {0u, 1u, 2u, 3u, 5u, 8u}) ASSERT_EQ(vek_dpt_put(t_, k, 100 + k, nullptr), 0);
        full_ = t_->pageDir[0];
        open_ = t_->pageDir[1];
        last_ = t_->pageDir[2];
        ASSERT_TRUE(full_ != nullptr && open_ != nullptr && last_ != nullptr);
    }
    void TearDown() override {
        vek_dpt_delete_nodes_and_table(t_, nullptr);
        LeakCheckedTest::TearDown();
    }

    vek_dpt_t *t_ = nullptr;
    vek_dpt_page_t *full_ = nullptr, *open_ = nullptr, *last_ = nullptr;
};

void flip_bit(Pokes &p, vek_bitmap_t *map, uint32_t id) {
    p.set(map->bits[id / 32], map->bits[id / 32] ^ (1u << (id % 32)));
}

TEST_F(DptVerify, WholeTablePasses) {
    EXPECT_EQ(vek::dpt::verify(t_), nullptr);
    ASSERT_EQ(vek_dpt_rem(t_, 5), 105u); // page 1 released again
    EXPECT_EQ(vek::dpt::verify(t_), nullptr);
    open_ = nullptr;
}

TEST_F(DptVerify, EachBrokenPropertyIsNamed) {
    struct Case {
        const char *name;
        std::function<void(Pokes &)> corrupt;
        const char *broken;
    };
    const std::vector<Case> cases = {
        {"page size zero", [&](Pokes &p) { p.set(t_->pageSize, 0u); }, "page size is zero"},
        {"no keys", [&](Pokes &p) { p.set(t_->tableSize, 0u); }, "table has no keys"},
        {"page count", [&](Pokes &p) { p.set(t_->numPages, 4u); }, "page count differs from the table size"},
        {"table size", [&](Pokes &p) { p.set(t_->tableSize, 13u); }, "page count differs from the table size"},
        {"no directory", [&](Pokes &p) { p.set(t_->pageDir, static_cast<vek_dpt_page_t **>(nullptr)); },
         "page directory is absent"},
        {"no allocated-page bitmap", [&](Pokes &p) { p.set(t_->allocatedPages, static_cast<vek_bitmap_t *>(nullptr)); },
         "page bitmap size differs from the page count"},
        {"unavailable-page bitmap size", [&](Pokes &p) { p.set(t_->unavailablePages->size, 2u); },
         "page bitmap size differs from the page count"},
        {"unavailable-page bitmap words",
         [&](Pokes &p) { p.set(t_->unavailablePages->bits, static_cast<uint32_t *>(nullptr)); },
         "page bitmap size differs from the page count"},
        {"allocated bit of a page that exists", [&](Pokes &p) { flip_bit(p, t_->allocatedPages, 1); },
         "allocated-page bit differs from the directory"},
        {"page missing from the directory",
         [&](Pokes &p) { p.set(t_->pageDir[1], static_cast<vek_dpt_page_t *>(nullptr)); },
         "allocated-page bit differs from the directory"},
        {"unavailable bit of an open page", [&](Pokes &p) { flip_bit(p, t_->unavailablePages, 1); },
         "unavailable-page bit differs from the page"},
        {"unavailable bit of a full page", [&](Pokes &p) { flip_bit(p, t_->unavailablePages, 0); },
         "unavailable-page bit differs from the page"},
        {"no values", [&](Pokes &p) { p.set(open_->values, static_cast<uintptr_t *>(nullptr)); }, "page has no values"},
        {"no slot bitmap", [&](Pokes &p) { p.set(open_->usedSlots, static_cast<vek_bitmap_t *>(nullptr)); },
         "page has no slot bitmap"},
        {"slot bitmap size", [&](Pokes &p) { p.set(open_->usedSlots->size, 5u); },
         "slot bitmap size differs from the page size"},
        {"value without its bit", [&](Pokes &p) { p.set(open_->values[2], uintptr_t{7}); },
         "used-slot bit differs from the value"},
        {"bit without its value", [&](Pokes &p) { flip_bit(p, open_->usedSlots, 3); },
         "used-slot bit differs from the value"},
        {"value past the table",
         [&](Pokes &p) {
             p.set(last_->values[3], uintptr_t{7});
             flip_bit(p, last_->usedSlots, 3);
             p.set(last_->numUsed, 2u);
         },
         "value past the end of the table"},
        {"used count", [&](Pokes &p) { p.set(open_->numUsed, 2u); }, "used-slot count differs from the values"},
        {"full page counted open", [&](Pokes &p) { p.set(full_->numUsed, 3u); },
         "used-slot count differs from the values"},
        {"empty page kept",
         [&](Pokes &p) {
             p.set(open_->values[1], uintptr_t{0});
             flip_bit(p, open_->usedSlots, 1);
             p.set(open_->numUsed, 0u);
         },
         "empty page kept"},
        {"allocated page count", [&](Pokes &p) { p.set(t_->numAllocatedPages, 2u); },
         "allocated page count differs from the directory"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            Pokes p;
            c.corrupt(p);
            EXPECT_STREQ(vek::dpt::verify(t_), c.broken);
        }
        EXPECT_EQ(vek::dpt::verify(t_), nullptr);
    }
}

TEST_F(DptVerify, OperationsStopOnABrokenTable) {
    if (!vek::kStructureChecks) GTEST_SKIP() << "built without VEK_STRUCTURE_CHECKS: operations run no check";
    Pokes p;
    p.set(t_->numAllocatedPages, 2u);
    EXPECT_DEATH(vek_dpt_get(t_, 0), "structure check failed: allocated page count differs from the directory");
    EXPECT_DEATH(vek_dpt_pick_key(t_, nullptr), "structure check failed: allocated page count differs");
}

} // namespace
