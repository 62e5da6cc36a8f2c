// Structure check of the hash table: a whole table passes, and each
// property broken by hand is named.
#include <functional>
#include <string>
#include <vector>

#include "containers/verify.hpp"
#include "foundation/check.hpp"
#include "pokes.hpp"
#include "vektest.hpp"

namespace {

using vektest::Pokes;

vek_hash_node_t *next_of(vek_hash_node_t *n) { return reinterpret_cast<vek_hash_node_t *>(n->link.next); }

// Four buckets: keys 1, 5 and 9 chained in bucket 1, key 2 alone in bucket
// 2, bucket 3 empty, and three nodes in the pool (keys 3, 7 and 11 stored
// and removed again).
class HashVerify : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ht_ = vek_hash_create_table(4);
        ASSERT_NE(ht_, nullptr);
        for (uint32_t k : {1u, 5u, 9u, 2u, 3u, 7u, 11u}) vek_hash_put(ht_, k, 100 + k);
        for (uint32_t k : {3u, 7u, 11u}) ASSERT_EQ(vek_hash_rem(ht_, k), 100 + k);
        n1_ = ht_->buckets[1];
        n5_ = next_of(n1_);
        n9_ = next_of(n5_);
        n2_ = ht_->buckets[2];
        pool_ = ht_->freeNodes;
        ASSERT_EQ(n9_->key, 9u);
        ASSERT_EQ(ht_->numFreeNodes, 3u);
    }
    void TearDown() override {
        vek_hash_delete_table(ht_);
        LeakCheckedTest::TearDown();
    }

    vek_hash_t *ht_ = nullptr;
    vek_hash_node_t *n1_ = nullptr, *n5_ = nullptr, *n9_ = nullptr, *n2_ = nullptr, *pool_ = nullptr;
};

TEST_F(HashVerify, WholeTablePasses) {
    EXPECT_EQ(vek::hash::verify(ht_), nullptr);

    vek_hash_t *empty = vek_hash_create_table(1);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(vek::hash::verify(empty), nullptr);
    vek_hash_delete_table(empty);
}

TEST_F(HashVerify, EachBrokenPropertyIsNamed) {
    struct Case {
        const char *name;
        std::function<void(Pokes &)> corrupt;
        const char *broken;
    };
    vek_hash_node_t *pool_last = next_of(next_of(pool_));
    const std::vector<Case> cases = {
        {"no buckets", [&](Pokes &p) { p.set(ht_->ht_size, 0u); }, "bucket count is zero"},
        {"no bucket array", [&](Pokes &p) { p.set(ht_->buckets, static_cast<vek_hash_node_t **>(nullptr)); },
         "bucket array is absent"},
#ifdef __SIZEOF_INT128__
        {"reciprocal",
         [&](Pokes &p) {
             const uint64_t wrong = 12345;
             p.set_bytes(ht_->buckets + ht_->ht_size, &wrong, sizeof wrong);
         },
         "bucket reciprocal differs from the bucket count"},
        {"bucket count changed", [&](Pokes &p) { p.set(ht_->ht_size, 3u); },
         "bucket reciprocal differs from the bucket count"},
#endif
        {"head with a previous link", [&](Pokes &p) { p.set(n1_->link.prev, &n2_->link); },
         "chain head has a previous link"},
        {"key moved to another bucket", [&](Pokes &p) { p.set(n5_->key, 6u); }, "node in the wrong bucket of its key"},
        {"node in two buckets", [&](Pokes &p) { p.set(ht_->buckets[2], n1_); }, "node in the wrong bucket of its key"},
        {"successor pointing elsewhere", [&](Pokes &p) { p.set(n9_->link.prev, &n1_->link); },
         "chain link does not point back"},
        {"successor without its back link",
         [&](Pokes &p) { p.set(n9_->link.prev, static_cast<vek_llist_t *>(nullptr)); },
         "chain link does not point back"},
        // A chain closed into a ring ends the walk instead of looping.
        {"chain closed into a ring", [&](Pokes &p) { p.set(n9_->link.next, &n1_->link); },
         "chain link does not point back"},
        {"chain looping on its tail", [&](Pokes &p) { p.set(n9_->link.next, &n9_->link); },
         "chain link does not point back"},
        {"key twice", [&](Pokes &p) { p.set(n9_->key, 1u); }, "key twice in a chain"},
        {"pool count too high", [&](Pokes &p) { p.set(ht_->numFreeNodes, 4u); },
         "free-node pool shorter than its count"},
        {"pool count too low", [&](Pokes &p) { p.set(ht_->numFreeNodes, 2u); }, "free-node pool longer than its count"},
        {"pool count above the limit", [&](Pokes &p) { p.set(ht_->numFreeNodes, VEK_HASH_MAX_FREE_NODES + 1); },
         "free-node count above the pool limit"},
        {"pool closed into a ring", [&](Pokes &p) { p.set(pool_last->link.next, &pool_->link); },
         "free-node pool longer than its count"},
        {"pooled node with a previous link", [&](Pokes &p) { p.set(pool_->link.prev, &n1_->link); },
         "pooled node has a previous link"},
        {"pooled node still a chain head", [&](Pokes &p) { p.set(ht_->buckets[pool_->key % 4], pool_); },
         "pooled node is a chain head"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            Pokes p;
            c.corrupt(p);
            EXPECT_STREQ(vek::hash::verify(ht_), c.broken);
        }
        EXPECT_EQ(vek::hash::verify(ht_), nullptr);
    }
}

TEST_F(HashVerify, OperationsStopOnABrokenTable) {
    if (!vek::kStructureChecks) GTEST_SKIP() << "built without VEK_STRUCTURE_CHECKS: operations run no check";
    Pokes p;
    p.set(n5_->key, 6u);
    EXPECT_DEATH(vek_hash_get(ht_, 1), "structure check failed: node in the wrong bucket of its key");
    EXPECT_DEATH(vek_hash_put(ht_, 13, 1), "structure check failed: node in the wrong bucket of its key");
}

} // namespace
