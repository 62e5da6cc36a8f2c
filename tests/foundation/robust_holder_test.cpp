// Robust blocks are written straight into the field that keeps them and
// released through that field: the platform sees the holder's own address,
// never a temporary. And a zero-byte robust request answered with a null
// block and status 0 is an empty array, not a failure.
#include <vector>

#include "vektest.hpp"

namespace {

struct Seen {
    int call;
    const void *holder;
    const void *block;
};

class RobustHolderTest : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        vek_saltest_holder_hook(&RobustHolderTest::record, &seen_);
    }
    void TearDown() override {
        vek_saltest_holder_hook(nullptr, nullptr);
        LeakCheckedTest::TearDown();
    }

    static void record(int call, void *const *holder, const void *block, void *ctx) {
        static_cast<std::vector<Seen> *>(ctx)->push_back({call, holder, block});
    }

    // The holder the platform was given for `block` by the last call of
    // kind `call` that saw it, or null when none did.
    const void *holder_of(int call, const void *block) const {
        const void *h = nullptr;
        for (const Seen &s : seen_) {
            if (s.call == call && s.block == block) h = s.holder;
        }
        return h;
    }

    std::vector<Seen> seen_;
};

TEST_F(RobustHolderTest, BitmapWordArrayLivesInBits) {
    vek_bitmap_t *m = vek_bitmap_create(100);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_MALLOC, m->bits), &m->bits);
    vek_bitmap_t *c = vek_bitmap_copy(m);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_MALLOC, c->bits), &c->bits);

    for (vek_bitmap_t *b : {m, c}) {
        const void *bits = b->bits;
        const void *field = &b->bits;
        vek_bitmap_delete(b);
        EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_FREE, bits), field);
    }
}

TEST_F(RobustHolderTest, SortedSetNodeArrayLivesInItsField) {
    vek_sorted_set_t *s = vek_sorted_set_create(1024, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_MALLOC, s->sortedSet), &s->sortedSet);
    const void *nodes = s->sortedSet;
    const void *field = &s->sortedSet;
    vek_sorted_set_delete_nodes_and_set(s, nullptr);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_FREE, nodes), field);
}

TEST_F(RobustHolderTest, ResourceNameAndBitmapLiveInTheRecord) {
    vek_hdl_t hdl{VEK_HDL_MAGIC, nullptr};
    ASSERT_EQ(vek_rsrc_init(&hdl), VEK_ST_SUCCESS);
    vek_rsrc_t *rec = nullptr;
    ASSERT_EQ(vek_rsrc_create(&hdl, 1, "ports", 64, 0, &rec), VEK_ST_SUCCESS);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_MALLOC, rec->name), &rec->name);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_MALLOC, rec->bitmap->bits), &rec->bitmap->bits);

    const void *name = rec->name;
    const void *name_field = &rec->name;
    const void *bits = rec->bitmap->bits;
    const void *bits_field = &rec->bitmap->bits;
    EXPECT_EQ(vek_rsrc_destroy(&hdl, rec), VEK_ST_SUCCESS);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_FREE, name), name_field);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_FREE, bits), bits_field);

    // The same through the release of the whole registry.
    ASSERT_EQ(vek_rsrc_create(&hdl, 2, "queues", 8, 0, &rec), VEK_ST_SUCCESS);
    name = rec->name;
    name_field = &rec->name;
    EXPECT_EQ(vek_rsrc_release(&hdl), VEK_ST_SUCCESS);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_FREE, name), name_field);
}

TEST_F(RobustHolderTest, HashBucketsLiveInBuckets) {
    vek_hash_t *ht = vek_hash_create_table(16);
    ASSERT_NE(ht, nullptr);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_MALLOC, ht->buckets), &ht->buckets);
    const void *buckets = ht->buckets;
    const void *field = &ht->buckets;
    vek_hash_delete_table(ht);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_FREE, buckets), field);
}

TEST_F(RobustHolderTest, PagedTableDirectoryAndPageValuesLiveInTheirFields) {
    vek_dpt_t *dpt = vek_dpt_create_table(64, 8);
    ASSERT_NE(dpt, nullptr);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_MALLOC, dpt->pageDir), &dpt->pageDir);

    ASSERT_EQ(vek_dpt_put(dpt, 3, 33, nullptr), 0);
    vek_dpt_page_t *page = dpt->pageDir[0];
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_MALLOC, page->values), &page->values);
    // The last value of the page goes, and the page with it.
    const void *values = page->values;
    const void *values_field = &page->values;
    EXPECT_EQ(vek_dpt_rem(dpt, 3), 33u);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_FREE, values), values_field);

    // Released with the table.
    ASSERT_EQ(vek_dpt_put(dpt, 20, 7, nullptr), 0);
    page = dpt->pageDir[2];
    ASSERT_NE(page, nullptr);
    values = page->values;
    values_field = &page->values;
    const void *dir = dpt->pageDir;
    const void *dir_field = &dpt->pageDir;
    vek_dpt_delete_nodes_and_table(dpt, nullptr);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_FREE, values), values_field);
    EXPECT_EQ(holder_of(VEK_SALTEST_HOLDER_FREE, dir), dir_field);
}

// ---- zero-byte robust requests answered with a null block -----------------

using ZeroByteRobustTest = vektest::LeakCheckedTest;

TEST_F(ZeroByteRobustTest, TheStandInAnswersNullWithStatusZero) {
    vek_saltest_zero_robust_null(1);
    void *p = &p;
    EXPECT_EQ(vek_nvm_robust_malloc(0, &p, VEK_NVM_ZERO_FILL), VEK_ST_SUCCESS);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ROBUST), 1u);
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS); // a null block is accepted

    // Still an allocation that can be made to fail.
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
    EXPECT_EQ(vek_nvm_robust_malloc(0, &p, VEK_NVM_NO_FILL), VEK_ST_NO_MEMORY);

    // Off again: a distinct block, and reset turns the answer off too.
    vek_saltest_zero_robust_null(0);
    EXPECT_EQ(vek_nvm_robust_malloc(0, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
    vek_saltest_zero_robust_null(1);
    vek_saltest_reset();
    EXPECT_EQ(vek_nvm_robust_malloc(0, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
}

int32_t ascending(uintptr_t a, uintptr_t b) { return a < b ? 1 : (a > b ? 2 : 0); }

TEST_F(ZeroByteRobustTest, AnEmptySortedSetGrowsOnItsFirstPut) {
    vek_saltest_zero_robust_null(1);
    vek_sorted_set_t *s = vek_sorted_set_create(1024, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->maxSortedSetSize, 0u);
    EXPECT_EQ(s->curSortedSetSize, 0u);
    EXPECT_EQ(s->sortedSet, nullptr);
    EXPECT_EQ(vek_sorted_set_get_n(s, 0), 0u);

    for (uintptr_t k : {5u, 1u, 3u}) EXPECT_EQ(vek_sorted_set_put(s, k, ascending, k * 10u), 0u);
    EXPECT_EQ(s->maxSortedSetSize, 128u);
    EXPECT_EQ(vek_sorted_set_size(s), 3u);
    EXPECT_EQ(vek_sorted_set_get_n(s, 0), 10u);
    EXPECT_EQ(vek_sorted_set_get_n(s, 2), 50u);
    vek_sorted_set_delete_nodes_and_set(s, nullptr);

    // Empty sets that never grew are released as well.
    s = vek_sorted_set_create(8, 0);
    ASSERT_NE(s, nullptr);
    vek_sorted_set_delete_nodes_and_set(s, nullptr);
}

TEST_F(ZeroByteRobustTest, PickersWorkOnAOneIdentifierBitmap) {
    vek_saltest_zero_robust_null(1);
    vek_bitmap_t *m = vek_bitmap_create(1);
    ASSERT_NE(m, nullptr);
    // The same picks as when every request gets a block of its own, with
    // the identifier free and in use.
    for (const bool used : {false, true}) {
        SCOPED_TRACE(used);
        if (used) {
            ASSERT_EQ(vek_bitmap_set(m, 0), 0);
        }
        vek_saltest_zero_robust_null(0);
        const uint32_t want = vek_pick_a_nice_id_from_bitmap(m);
        const uint32_t want1 = vek_pick_a_nice_id_from_bitmap1(m);
        vek_saltest_zero_robust_null(1);
        EXPECT_EQ(vek_pick_a_nice_id_from_bitmap(m), want);
        EXPECT_EQ(vek_pick_a_nice_id_from_bitmap1(m), want1);
        EXPECT_EQ(want, 0u);
        EXPECT_EQ(want1, 0u);
    }
    vek_bitmap_delete(m);
}

} // namespace
