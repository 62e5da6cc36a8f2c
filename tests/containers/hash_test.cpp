// Hash table: chains, move-to-front, the pool of released nodes, the dump,
// trace lines, allocation failures and a randomised check against a map.
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "vektest.hpp"

namespace {

using vektest::format;
using vektest::ptr;

vek_hash_node_t *next_of(const vek_hash_node_t *n) { return reinterpret_cast<vek_hash_node_t *>(n->link.next); }

// Keys of bucket b from head to tail.
std::vector<uint32_t> chain(const vek_hash_t *ht, uint32_t b) {
    std::vector<uint32_t> keys;
    for (const vek_hash_node_t *n = ht->buckets[b]; n != nullptr && keys.size() < 1000; n = next_of(n)) {
        keys.push_back(n->key);
    }
    return keys;
}

// Checks the chain links, bucket placement, key uniqueness and the pool,
// and returns the table's content.
std::map<uint32_t, uintptr_t> check_table(const vek_hash_t *ht) {
    std::map<uint32_t, uintptr_t> content;
    for (uint32_t b = 0; b < ht->ht_size; ++b) {
        const vek_llist_t *prev = nullptr;
        for (const vek_hash_node_t *n = ht->buckets[b]; n != nullptr; n = next_of(n)) {
            EXPECT_EQ(n->link.prev, prev) << "bucket " << b;
            EXPECT_EQ(n->key % ht->ht_size, b);
            EXPECT_TRUE(content.emplace(n->key, n->value).second) << "key twice: " << n->key;
            prev = &n->link;
        }
    }
    uint32_t pooled = 0;
    for (const vek_hash_node_t *n = ht->freeNodes; n != nullptr && pooled <= 64; n = next_of(n)) ++pooled;
    EXPECT_EQ(pooled, ht->numFreeNodes);
    EXPECT_LE(ht->numFreeNodes, VEK_HASH_MAX_FREE_NODES);
    return content;
}

class Hash : public vektest::LeakCheckedTest {
protected:
    void TearDown() override {
        vek_hash_delete_table(ht_);
        ht_ = nullptr;
        LeakCheckedTest::TearDown();
    }
    vek_hash_t *make(uint32_t n) {
        ht_ = vek_hash_create_table(n);
        return ht_;
    }
    vek_hash_t *ht_ = nullptr;
};

TEST_F(Hash, CreateStartsEmpty) {
    const long before = vek_saltest_robust_live();
    vek_hash_t *ht = make(7);
    ASSERT_NE(ht, nullptr);
    EXPECT_EQ(ht->ht_size, 7u);
    EXPECT_EQ(ht->freeNodes, nullptr);
    EXPECT_EQ(ht->numFreeNodes, 0u);
    for (uint32_t b = 0; b < 7; ++b) EXPECT_EQ(ht->buckets[b], nullptr);
    EXPECT_EQ(vek_saltest_robust_live(), before + 2); // header and bucket array
    EXPECT_EQ(vek_hash_get(ht, 3), 0u);
}

TEST_F(Hash, ZeroBucketsIsRefused) {
    vektest::TraceLevel level(4);
    const std::string out = vektest::capture_stdout([&] { EXPECT_EQ(make(0), nullptr); });
    EXPECT_EQ(out, "vek_hash_create_table ht_size=0\nvek_hash_create_table vekStatus=4 hash=0\n");
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ANY), 0u);
}

TEST_F(Hash, CreateTraces) {
    vektest::TraceLevel level(8);
    vek_hash_t *ht = nullptr;
    const std::string out = vektest::capture_stdout([&] { ht = make(16); });
    ASSERT_NE(ht, nullptr);
    EXPECT_EQ(out, format("vek_hash_create_table ht_size=10\nvek_hash_create_table vekStatus=0 hash=%llx\n", ptr(ht)));
}

TEST_F(Hash, CreateFailsAtEveryAllocation) {
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_ROBUST, [](uint32_t) {
        vektest::TraceLevel level(4);
        vek_hash_t *ht = nullptr;
        const std::string out = vektest::capture_stdout([&] { ht = vek_hash_create_table(5); });
        if (vek_saltest_faults_fired() != 0) {
            EXPECT_EQ(ht, nullptr);
            EXPECT_EQ(out, "vek_hash_create_table ht_size=5\nvek_hash_create_table vekStatus=2 hash=0\n");
        } else {
            ASSERT_NE(ht, nullptr);
        }
        vek_hash_delete_table(ht);
    });
    EXPECT_EQ(points, 2u);
}

TEST_F(Hash, CreateReportsOwnerDeadFromTheRelease) {
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 2, 1); // the bucket array
    vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, 1, 1, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    vektest::TraceLevel level(4);
    const std::string out = vektest::capture_stdout([&] { EXPECT_EQ(make(5), nullptr); });
    EXPECT_EQ(out, "vek_hash_create_table ht_size=5\nvek_hash_create_table vekStatus=1f40 hash=0\n");
}

TEST_F(Hash, CollidingKeysChainInInsertionOrderAndMoveToFrontOnGet) {
    vek_hash_t *ht = make(4);
    ASSERT_NE(ht, nullptr);
    EXPECT_EQ(vek_hash_put(ht, 1, 0x10), 0u);
    EXPECT_EQ(vek_hash_put(ht, 5, 0x50), 0u);
    EXPECT_EQ(vek_hash_put(ht, 9, 0x90), 0u);
    EXPECT_EQ(chain(ht, 1), (std::vector<uint32_t>{1, 5, 9}));

    const std::string before = vektest::capture_stdout([&] { vek_hash_print(ht); });
    EXPECT_EQ(before, "Dumping the hash table\n"
                      "Values at 0    \n"
                      "Values at 1    1, 5, 9, \n"
                      "Values at 2    \n"
                      "Values at 3    \n");

    EXPECT_EQ(vek_hash_get(ht, 9), 0x90u);
    EXPECT_EQ(chain(ht, 1), (std::vector<uint32_t>{9, 1, 5}));
    EXPECT_EQ(vek_hash_get(ht, 9), 0x90u); // at the head: nothing moves
    EXPECT_EQ(chain(ht, 1), (std::vector<uint32_t>{9, 1, 5}));
    EXPECT_EQ(vek_hash_get(ht, 1), 0x10u); // from the middle
    EXPECT_EQ(chain(ht, 1), (std::vector<uint32_t>{1, 9, 5}));
    EXPECT_EQ(vek_hash_get(ht, 13), 0u); // same bucket, absent
    EXPECT_EQ(chain(ht, 1), (std::vector<uint32_t>{1, 9, 5}));
    check_table(ht);
}

TEST_F(Hash, PutOfAnExistingKeyReplacesInPlace) {
    vek_hash_t *ht = make(4);
    ASSERT_NE(ht, nullptr);
    vek_hash_put(ht, 2, 0x20);
    vek_hash_put(ht, 6, 0x60);
    vek_hash_put(ht, 10, 0xa0);
    const uint32_t allocs = vek_saltest_alloc_calls(VEK_SALTEST_ROBUST);
    EXPECT_EQ(vek_hash_put(ht, 6, 0x61), 0x60u);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ROBUST), allocs);
    EXPECT_EQ(chain(ht, 2), (std::vector<uint32_t>{2, 6, 10}));
    EXPECT_EQ(vek_hash_get(ht, 6), 0x61u);
}

TEST_F(Hash, RemovalFromEveryPlaceInAChain) {
    struct Case {
        uint32_t key;
        std::vector<uint32_t> left;
    };
    const Case cases[] = {{3, {7, 11}}, {7, {3, 11}}, {11, {3, 7}}, {15, {3, 7, 11}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        vek_hash_t *ht = vek_hash_create_table(4);
        ASSERT_NE(ht, nullptr);
        for (uint32_t k : {3u, 7u, 11u}) vek_hash_put(ht, k, k + 0x100);
        EXPECT_EQ(vek_hash_rem(ht, c.key), c.key == 15 ? 0u : c.key + 0x100);
        EXPECT_EQ(chain(ht, 3), c.left);
        check_table(ht);
        EXPECT_EQ(vek_hash_get(ht, c.key), 0u);
        vek_hash_delete_table(ht);
    }
}

TEST_F(Hash, PoolKeeps32NodesAndReusesTheNewestFirst) {
    vek_hash_t *ht = make(8);
    ASSERT_NE(ht, nullptr);
    for (uint32_t k = 0; k < 33; ++k) vek_hash_put(ht, k, k + 1);
    const long full = vek_saltest_robust_live();
    for (uint32_t k = 0; k < 33; ++k) EXPECT_EQ(vek_hash_rem(ht, k), k + 1);
    EXPECT_EQ(ht->numFreeNodes, 32u);
    EXPECT_EQ(vek_saltest_robust_live(), full - 1); // the 33rd removal released its node
    EXPECT_TRUE(check_table(ht).empty());

    vek_hash_node_t *newest = ht->freeNodes;
    vek_hash_node_t *second = next_of(newest);
    EXPECT_EQ(newest->key, 31u); // key 32's node was released, key 31's pooled last
    const uint32_t allocs = vek_saltest_alloc_calls(VEK_SALTEST_ROBUST);
    vek_hash_put(ht, 100, 0x1000);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ROBUST), allocs);
    EXPECT_EQ(ht->buckets[100 % 8], newest);
    EXPECT_EQ(ht->freeNodes, second);
    EXPECT_EQ(ht->numFreeNodes, 31u);
    EXPECT_EQ(newest->key, 100u);
    EXPECT_EQ(newest->value, 0x1000u);
    EXPECT_EQ(newest->link.next, nullptr);
    EXPECT_EQ(newest->link.prev, nullptr);
}

TEST_F(Hash, FirstEntryScansBucketsFromZero) {
    vek_hash_t *ht = make(5);
    ASSERT_NE(ht, nullptr);
    uint32_t key = 0xdead;
    EXPECT_EQ(vek_hash_first_entry(ht, &key), 0u);
    EXPECT_EQ(key, 0xdeadu);
    vek_hash_put(ht, 8, 0x88); // bucket 3
    EXPECT_EQ(vek_hash_first_entry(ht, &key), 0x88u);
    EXPECT_EQ(key, 8u);
    vek_hash_put(ht, 13, 0xdd); // bucket 3, behind 8
    vek_hash_put(ht, 4, 0x44);  // bucket 4
    EXPECT_EQ(vek_hash_first_entry(ht, &key), 0x88u);
    vek_hash_get(ht, 13);
    EXPECT_EQ(vek_hash_first_entry(ht, &key), 0xddu);
    EXPECT_EQ(key, 13u);
    vek_hash_put(ht, 1, 0x11);
    EXPECT_EQ(vek_hash_first_entry(ht, &key), 0x11u);
    EXPECT_EQ(key, 1u);
}

int32_t count_calls(uintptr_t value);
std::multiset<uintptr_t> g_deleted;
int32_t count_calls(uintptr_t value) {
    g_deleted.insert(value);
    return 1;
}

TEST_F(Hash, DeleteHandsChainValuesToTheDeleteFunction) {
    vek_hash_t *ht = vek_hash_create_table(3);
    ASSERT_NE(ht, nullptr);
    for (uint32_t k = 0; k < 10; ++k) vek_hash_put(ht, k, 0x100 + k);
    vek_hash_rem(ht, 4);
    vek_hash_rem(ht, 5); // pooled nodes are released without a call
    g_deleted.clear();
    vek_hash_delete_nodes_and_table(ht, count_calls);
    EXPECT_EQ(g_deleted, (std::multiset<uintptr_t>{0x100, 0x101, 0x102, 0x103, 0x106, 0x107, 0x108, 0x109}));
}

TEST_F(Hash, DeleteTableReleasesEveryNodeWithoutCalls) {
    vek_hash_t *ht = vek_hash_create_table(2);
    ASSERT_NE(ht, nullptr);
    for (uint32_t k = 0; k < 40; ++k) vek_hash_put(ht, k, k + 1);
    for (uint32_t k = 0; k < 35; ++k) vek_hash_rem(ht, k);
    g_deleted.clear();
    vektest::TraceLevel level(12);
    const std::string out = vektest::capture_stdout([&] { vek_hash_delete_table(ht); });
    EXPECT_EQ(out, ""); // the fixture checks that nothing is left
    EXPECT_TRUE(g_deleted.empty());
}

TEST_F(Hash, PrintShowsKeysAsSignedDecimal) {
    vek_hash_t *ht = make(3);
    ASSERT_NE(ht, nullptr);
    vek_hash_put(ht, 0xFFFFFFFFu, 1); // 4294967295 % 3 == 0
    vek_hash_put(ht, 3, 2);
    vek_hash_put(ht, 7, 3);
    vek_hash_put(ht, 0x80000000u, 4); // 2147483648 % 3 == 2
    const std::string out = vektest::capture_stdout([&] { vek_hash_print(ht); });
    EXPECT_EQ(out, "Dumping the hash table\n"
                   "Values at 0    -1, 3, \n"
                   "Values at 1    7, \n"
                   "Values at 2    -2147483648, \n");
}

TEST_F(Hash, PutAndRemTraceLines) {
    vek_hash_t *ht = make(4);
    ASSERT_NE(ht, nullptr);
    vektest::TraceLevel level(4);
    const std::string out = vektest::capture_stdout([&] {
        vek_hash_put(ht, 5, 0xabc);
        vek_hash_put(ht, 5, 0xdef);
        vek_hash_get(ht, 5);
        vek_hash_first_entry(ht, nullptr);
        vek_hash_rem(ht, 5);
        vek_hash_rem(ht, 5);
    });
    const unsigned long long h = ptr(ht);
    EXPECT_EQ(out, format("vek_hash_put ht=%llx key=5 value=abc\n"
                          "vek_hash_put old_value=0\n"
                          "vek_hash_put ht=%llx key=5 value=def\n"
                          "vek_hash_put old_value=abc\n"
                          "vek_hash_rem ht=%llx key=5\n"
                          "vek_hash_rem vekStatus=0 value=def\n"
                          "vek_hash_rem ht=%llx key=5\n"
                          "vek_hash_rem vekStatus=0 value=0\n",
                          h, h, h, h));
}

TEST_F(Hash, RemTracesTheStatusOfReleasingANode) {
    vek_hash_t *ht = make(4);
    ASSERT_NE(ht, nullptr);
    for (uint32_t k = 0; k < 34; ++k) vek_hash_put(ht, k, k + 1);
    for (uint32_t k = 0; k < 32; ++k) vek_hash_rem(ht, k);
    vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, 1, 1, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    vektest::TraceLevel level(4);
    const std::string out = vektest::capture_stdout([&] { EXPECT_EQ(vek_hash_rem(ht, 33), 34u); });
    EXPECT_EQ(out, format("vek_hash_rem ht=%llx key=21\nvek_hash_rem vekStatus=1f40 value=22\n", ptr(ht)));
    EXPECT_EQ(ht->numFreeNodes, 32u);
    EXPECT_EQ(check_table(ht), (std::map<uint32_t, uintptr_t>{{32, 33}}));
}

TEST_F(Hash, NodeAllocationFailureChangesNothing) {
    vek_hash_t *ht = make(4);
    ASSERT_NE(ht, nullptr);
    vek_hash_put(ht, 1, 0x11);
    vek_hash_put(ht, 5, 0x55);
    const long live = vek_saltest_robust_live();
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
    const std::string out = vektest::capture_stdout([&] {
        vektest::TraceLevel level(4);
        EXPECT_EQ(vek_hash_put(ht, 9, 0x99), 0u);
    });
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
    EXPECT_EQ(out, format("vek_hash_put ht=%llx key=9 value=99\nvek_hash_put old_value=0\n", ptr(ht)));
    EXPECT_EQ(vek_saltest_robust_live(), live);
    EXPECT_EQ(chain(ht, 1), (std::vector<uint32_t>{1, 5}));
    EXPECT_EQ(ht->numFreeNodes, 0u);
    EXPECT_EQ(vek_hash_get(ht, 9), 0u);

    // With a node in the pool a new key needs no allocation at all.
    vek_hash_rem(ht, 5);
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 0);
    EXPECT_EQ(vek_hash_put(ht, 9, 0x99), 0u);
    EXPECT_EQ(vek_hash_get(ht, 9), 0x99u);
    EXPECT_EQ(vek_saltest_faults_fired(), 1u); // only the first one
    EXPECT_EQ(check_table(ht), (std::map<uint32_t, uintptr_t>{{1, 0x11}, {9, 0x99}}));
}

TEST_F(Hash, NullTableIsHarmless) {
    uint32_t key = 7;
    EXPECT_EQ(vek_hash_put(nullptr, 1, 2), 0u);
    EXPECT_EQ(vek_hash_get(nullptr, 1), 0u);
    EXPECT_EQ(vek_hash_rem(nullptr, 1), 0u);
    EXPECT_EQ(vek_hash_first_entry(nullptr, &key), 0u);
    EXPECT_EQ(key, 7u);
    EXPECT_EQ(vektest::capture_stdout([] { vek_hash_print(nullptr); }), "");
    vek_hash_delete_table(nullptr);
    vek_hash_delete_nodes_and_table(nullptr, count_calls);
}

TEST_F(Hash, RandomisedAgainstAReferenceMap) {
    vek_hash_t *ht = make(13);
    ASSERT_NE(ht, nullptr);
    std::mt19937 rng(20261209u);
    std::map<uint32_t, uintptr_t> ref;
    for (int step = 0; step < 3000; ++step) {
        const uint32_t key = rng() % 97u * 0x01000001u; // spread across the 32-bit range
        const uintptr_t value = 1 + rng() % 1000u;
        switch (rng() % 4u) {
        case 0:
        case 1: {
            auto it = ref.find(key);
            EXPECT_EQ(vek_hash_put(ht, key, value), it == ref.end() ? 0u : it->second);
            ref[key] = value;
            break;
        }
        case 2: {
            auto it = ref.find(key);
            EXPECT_EQ(vek_hash_get(ht, key), it == ref.end() ? 0u : it->second);
            break;
        }
        default: {
            auto it = ref.find(key);
            EXPECT_EQ(vek_hash_rem(ht, key), it == ref.end() ? 0u : it->second);
            if (it != ref.end()) ref.erase(it);
            break;
        }
        }
        ASSERT_EQ(check_table(ht), ref) << "step " << step;
    }
}

} // namespace

namespace {

// Keys from all over the 32-bit range land in bucket key % ht_size for
// bucket counts of every shape (1, small primes, powers of two and their
// neighbours, odd large counts), and read back.
TEST_F(Hash, KeysLandInTheirRemainderBucket) {
    const uint32_t edge_keys[] = {0u, 1u, 2u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    for (const uint32_t size : {1u, 2u, 3u, 7u, 10u, 255u, 256u, 257u, 4095u, 4096u, 65521u, 65537u, 100003u}) {
        SCOPED_TRACE(size);
        vek_hash_t *ht = vek_hash_create_table(size);
        ASSERT_NE(ht, nullptr);
        std::mt19937 rng(size);
        std::vector<uint32_t> keys(std::begin(edge_keys), std::end(edge_keys));
        for (uint32_t m = 1; m <= 4; ++m) keys.push_back(size * m - 1);
        for (int i = 0; i < 200; ++i) keys.push_back(static_cast<uint32_t>(rng()));
        std::set<uint32_t> unique(keys.begin(), keys.end());
        for (const uint32_t k : unique) vek_hash_put(ht, k, uintptr_t{k} + 1);
        const auto content = check_table(ht); // checks n->key % ht_size == bucket
        EXPECT_EQ(content.size(), unique.size());
        for (const uint32_t k : unique) EXPECT_EQ(vek_hash_get(ht, k), uintptr_t{k} + 1) << k;
        vek_hash_delete_table(ht);
    }
}

} // namespace
