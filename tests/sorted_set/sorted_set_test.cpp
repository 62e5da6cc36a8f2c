// Sorted set: ordering, replacement, growth by a fixed step, removal,
// callbacks, trace lines and allocation failures.
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "vektest.hpp"

namespace {

using vektest::format;
using vektest::ptr;

int32_t ascending(uintptr_t a, uintptr_t b) { return a < b ? 1 : (a > b ? 2 : 0); }
int32_t descending(uintptr_t a, uintptr_t b) { return a > b ? 1 : (a < b ? 2 : 0); }
// Keys that agree in their low byte compare equal.
int32_t low_byte(uintptr_t a, uintptr_t b) { return ascending(a & 0xFF, b & 0xFF); }

int g_cmp_calls = 0;
int32_t counting(uintptr_t a, uintptr_t b) {
    ++g_cmp_calls;
    return ascending(a, b);
}

class SortedSet : public vektest::LeakCheckedTest {
protected:
    void TearDown() override {
        vektest::TraceLevel quiet(0);
        for (vek_sorted_set_t *s : sets_) vek_sorted_set_delete_nodes_and_set(s, nullptr);
        sets_.clear();
        vektest::LeakCheckedTest::TearDown();
    }

    vek_sorted_set_t *make(uint32_t msize, uint32_t nodes) {
        vektest::TraceLevel quiet(0);
        vek_sorted_set_t *s = vek_sorted_set_create(msize, nodes);
        EXPECT_NE(s, nullptr);
        if (s != nullptr) sets_.push_back(s);
        return s;
    }

    // Keys from position 0 up.
    static std::vector<uintptr_t> keys(const vek_sorted_set_t *s) {
        std::vector<uintptr_t> k;
        for (uint32_t i = 0; i < s->curSortedSetSize; ++i) k.push_back(s->sortedSet[i].key);
        return k;
    }

    std::vector<vek_sorted_set_t *> sets_;
};

TEST_F(SortedSet, CreateChecksTheGrowthStep) {
    EXPECT_EQ(vek_sorted_set_create(12, 4), nullptr);
    EXPECT_EQ(vek_sorted_set_create(1, 4), nullptr);
    vek_sorted_set_t *s = make(1024, 10);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->maxSortedSetSize, 10u);
    EXPECT_EQ(s->curSortedSetSize, 0u);
    EXPECT_EQ(s->mallocSizeBytes, 1024u);
    for (uint32_t i = 0; i < 10; ++i) {
        EXPECT_EQ(s->sortedSet[i].key, 0u); // zero-filled
        EXPECT_EQ(s->sortedSet[i].value, 0u);
    }
    EXPECT_NE(make(0, 0), nullptr);
}

TEST_F(SortedSet, CreateTraceLines) {
    vektest::TraceLevel trace(4);
    vek_sorted_set_t *s = nullptr;
    std::string out = vektest::capture_stdout([&] { s = vek_sorted_set_create(1024, 10); });
    ASSERT_NE(s, nullptr);
    sets_.push_back(s);
    EXPECT_EQ(out, "_vek_sorted_set_create msize=400 numInitialNodes=a\n"
                   "_vek_sorted_set_create vekStatus=0 Sorted_set: maxSortedSetSize=a curSortedSetSize=0 "
                   "mallocSizeBytes=400 sortedSet->key=0 sortedSet->value=0\n");
    // A step that is not a multiple of 8: the entry line only.
    out = vektest::capture_stdout([&] { EXPECT_EQ(vek_sorted_set_create(12, 3), nullptr); });
    EXPECT_EQ(out, "_vek_sorted_set_create msize=c numInitialNodes=3\n");
}

TEST_F(SortedSet, CreateAllocationFailuresLeaveNothing) {
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_ROBUST, [](uint32_t nth) {
        vektest::TraceLevel trace(4);
        vek_sorted_set_t *s = nullptr;
        const std::string out = vektest::capture_stdout([&] { s = vek_sorted_set_create(64, 4); });
        if (vek_saltest_faults_fired() != 0) {
            // The header, or the node array (then the header is released).
            EXPECT_EQ(s, nullptr) << nth;
            EXPECT_EQ(out, "_vek_sorted_set_create msize=40 numInitialNodes=4\n"
                           "_vek_sorted_set_create vekStatus=2 Sorted_set: maxSortedSetSize=0 curSortedSetSize=0 "
                           "mallocSizeBytes=0 sortedSet->key=0 sortedSet->value=0\n");
        }
        vektest::capture_stdout([&] { vek_sorted_set_delete_nodes_and_set(s, nullptr); });
    });
    EXPECT_EQ(points, 2u);
}

TEST_F(SortedSet, KeepsTheComparisonOrder) {
    vek_sorted_set_t *s = make(1024, 4);
    for (uintptr_t k : {5u, 1u, 3u}) EXPECT_EQ(vek_sorted_set_put(s, k, ascending, k * 10), 0u);
    EXPECT_EQ(keys(s), (std::vector<uintptr_t>{1, 3, 5}));
    EXPECT_EQ(vek_sorted_set_get_n(s, 0), 10u);
    EXPECT_EQ(vek_sorted_set_get_n(s, 2), 50u);
    EXPECT_EQ(vek_sorted_set_get_n(s, 3), 0u);
    EXPECT_EQ(vek_sorted_set_get(s, 3, ascending), 30u);
    EXPECT_EQ(vek_sorted_set_get(s, 4, ascending), 0u);
    EXPECT_EQ(vek_sorted_set_size(s), 3u);

    vek_sorted_set_t *d = make(1024, 4);
    for (uintptr_t k : {5u, 1u, 3u, 9u}) vek_sorted_set_put(d, k, descending, k);
    EXPECT_EQ(keys(d), (std::vector<uintptr_t>{9, 5, 3, 1}));
}

TEST_F(SortedSet, PutOfAnEqualKeyReplacesKeyAndValue) {
    vek_sorted_set_t *s = make(1024, 4);
    vek_sorted_set_put(s, 0x101, low_byte, 7);
    vek_sorted_set_put(s, 0x102, low_byte, 8);
    EXPECT_EQ(vek_sorted_set_put(s, 0x201, low_byte, 9), 7u);
    EXPECT_EQ(vek_sorted_set_size(s), 2u);
    EXPECT_EQ(s->sortedSet[0].key, 0x201u);
    EXPECT_EQ(s->sortedSet[0].value, 9u);
}

TEST_F(SortedSet, GrowsByTheFixedStep) {
    vek_sorted_set_t *s = make(1024, 0);
    EXPECT_EQ(vek_sorted_set_put(s, 1, ascending, 1), 0u);
    EXPECT_EQ(s->maxSortedSetSize, 128u); // 1024 / 8 nodes, whatever the pointer width
    for (uint32_t i = 1; i < 128; ++i) EXPECT_EQ(s->sortedSet[i].key | s->sortedSet[i].value, 0u) << i;
    for (uintptr_t k = 2; k <= 128; ++k) vek_sorted_set_put(s, k, ascending, k);
    EXPECT_EQ(s->maxSortedSetSize, 128u);
    vek_sorted_set_put(s, 1000, ascending, 1);
    EXPECT_EQ(s->maxSortedSetSize, 256u);
    EXPECT_EQ(s->curSortedSetSize, 129u);
    for (uint32_t i = 129; i < 256; ++i) EXPECT_EQ(s->sortedSet[i].key | s->sortedSet[i].value, 0u) << i;
    for (uint32_t i = 0; i < 129; ++i) EXPECT_EQ(s->sortedSet[i].key, i < 128 ? i + 1 : 1000u);

    vek_sorted_set_t *small = make(16, 1);
    vek_sorted_set_put(small, 1, ascending, 1);
    vek_sorted_set_put(small, 2, ascending, 2);
    EXPECT_EQ(small->maxSortedSetSize, 3u);
}

TEST_F(SortedSet, FailedGrowthLeavesTheSetAsItWas) {
    vek_sorted_set_t *s = make(1024, 2);
    vek_sorted_set_put(s, 2, ascending, 20);
    vek_sorted_set_put(s, 4, ascending, 40);
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
    const vek_sorted_set_node_t *array = s->sortedSet;
    EXPECT_EQ(vek_sorted_set_put(s, 3, ascending, 30), 0u);
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
    EXPECT_EQ(s->sortedSet, array);
    EXPECT_EQ(s->maxSortedSetSize, 2u);
    EXPECT_EQ(keys(s), (std::vector<uintptr_t>{2, 4}));
    EXPECT_EQ(vek_sorted_set_get(s, 4, ascending), 40u);
}

TEST_F(SortedSet, ZeroGrowthStepRefusesAFullPut) {
    vek_sorted_set_t *s = make(0, 2);
    EXPECT_EQ(vek_sorted_set_put(s, 2, ascending, 20), 0u);
    EXPECT_EQ(vek_sorted_set_put(s, 1, ascending, 10), 0u);
    EXPECT_EQ(vek_sorted_set_put(s, 3, ascending, 30), 0u);
    EXPECT_EQ(vek_sorted_set_put(s, 0, ascending, 5), 0u);
    EXPECT_EQ(s->maxSortedSetSize, 2u);
    EXPECT_EQ(keys(s), (std::vector<uintptr_t>{1, 2}));
    EXPECT_EQ(vek_sorted_set_put(s, 2, ascending, 21), 20u); // replacing still works
    vek_sorted_set_t *empty = make(0, 0);
    EXPECT_EQ(vek_sorted_set_put(empty, 1, ascending, 1), 0u);
    EXPECT_EQ(vek_sorted_set_size(empty), 0u);
}

TEST_F(SortedSet, RemoveAndPositionalAccess) {
    vek_sorted_set_t *s = make(1024, 4);
    vek_sorted_set_put(s, 7, ascending, 70);
    EXPECT_EQ(vek_sorted_set_remove(s, 8, ascending), 0u);
    EXPECT_EQ(vek_sorted_set_remove(s, 7, ascending), 70u);
    EXPECT_EQ(vek_sorted_set_size(s), 0u);
    EXPECT_EQ(s->maxSortedSetSize, 4u);
    EXPECT_EQ(vek_sorted_set_remove(s, 7, ascending), 0u);

    for (uintptr_t k : {1u, 2u, 3u, 4u, 5u}) vek_sorted_set_put(s, k, ascending, k * 10);
    EXPECT_EQ(vek_sorted_set_remove(s, 3, ascending), 30u);
    EXPECT_EQ(keys(s), (std::vector<uintptr_t>{1, 2, 4, 5}));
    EXPECT_EQ(vek_sorted_set_put_n(s, 1, 99), 20u);
    EXPECT_EQ(s->sortedSet[1].key, 2u);
    EXPECT_EQ(vek_sorted_set_get_n(s, 1), 99u);
    EXPECT_EQ(vek_sorted_set_put_n(s, 4, 99), 0u);
    EXPECT_EQ(vek_sorted_set_size(s), 4u);
}

// Spare nodes read as zero, also the one a removal vacates at the end.
TEST_F(SortedSet, RemovalLeavesTheVacatedNodeZero) {
    vek_sorted_set_t *s = make(1024, 4);
    for (uintptr_t k : {1u, 2u, 3u}) vek_sorted_set_put(s, k, ascending, k * 10);
    auto spares_zero = [s] {
        for (uint32_t i = s->curSortedSetSize; i < s->maxSortedSetSize; ++i) {
            if (s->sortedSet[i].key != 0u || s->sortedSet[i].value != 0u) return false;
        }
        return true;
    };
    EXPECT_EQ(vek_sorted_set_remove(s, 2, ascending), 20u); // from the middle
    EXPECT_EQ(keys(s), (std::vector<uintptr_t>{1, 3}));
    EXPECT_TRUE(spares_zero());
    EXPECT_EQ(vek_sorted_set_remove(s, 3, ascending), 30u); // the last one
    EXPECT_TRUE(spares_zero());
    EXPECT_EQ(vek_sorted_set_remove(s, 1, ascending), 10u);
    EXPECT_TRUE(spares_zero());
}

TEST_F(SortedSet, NullComparisonFunction) {
    vek_sorted_set_t *s = make(1024, 4);
    vek_sorted_set_put(s, 5, nullptr, 50);
    vek_sorted_set_put(s, 1, nullptr, 10);
    vek_sorted_set_put(s, 9, nullptr, 90);
    EXPECT_EQ(keys(s), (std::vector<uintptr_t>{9, 1, 5})); // each put at position 0
    EXPECT_EQ(vek_sorted_set_get(s, 9, nullptr), 0u);
    EXPECT_EQ(vek_sorted_set_remove(s, 9, nullptr), 0u);
    EXPECT_EQ(vek_sorted_set_size(s), 3u);
}

TEST_F(SortedSet, LookupsCostAboutLog2Comparisons) {
    vek_sorted_set_t *s = make(1024, 1024);
    for (uintptr_t k = 0; k < 1000; ++k) vek_sorted_set_put(s, k * 2, ascending, k + 1);
    for (uintptr_t k : {0u, 1u, 999u, 1000u, 1998u, 1999u, 5000u}) {
        g_cmp_calls = 0;
        EXPECT_EQ(vek_sorted_set_get(s, k, counting), k % 2 == 0 && k < 2000 ? k / 2 + 1 : 0u);
        EXPECT_LE(g_cmp_calls, 11) << k;
    }
}

// -------------------------------------------------------------- callbacks

struct Visit {
    std::vector<uint32_t> seen;
    int32_t stop_at = -1;
    int32_t result = 0;
    vek_sorted_set_t *grow = nullptr;
};

int32_t visit_fn(uint32_t n, uintptr_t key, uintptr_t value, uintptr_t args) {
    auto *v = reinterpret_cast<Visit *>(args);
    v->seen.push_back(n);
    EXPECT_EQ(value, key * 10);
    if (v->grow != nullptr && n == 0) vek_sorted_set_put(v->grow, 100, ascending, 1000);
    return static_cast<int32_t>(n) == v->stop_at ? v->result : 0;
}

TEST_F(SortedSet, IterateStopsAtTheFirstNonZeroResult) {
    vek_sorted_set_t *s = make(1024, 8);
    for (uintptr_t k : {1u, 2u, 3u, 4u, 5u}) vek_sorted_set_put(s, k, ascending, k * 10);
    Visit v{{}, 2, 7, nullptr};
    EXPECT_EQ(vek_sorted_set_iterate_through_set(s, visit_fn, reinterpret_cast<uintptr_t>(&v)), 7);
    EXPECT_EQ(v.seen, (std::vector<uint32_t>{0, 1, 2}));
    Visit all;
    EXPECT_EQ(vek_sorted_set_iterate_through_set(s, visit_fn, reinterpret_cast<uintptr_t>(&all)), 0);
    EXPECT_EQ(all.seen.size(), 5u);
    // The count is read again before every call.
    Visit growing;
    growing.grow = s;
    EXPECT_EQ(vek_sorted_set_iterate_through_set(s, visit_fn, reinterpret_cast<uintptr_t>(&growing)), 0);
    EXPECT_EQ(growing.seen.size(), 6u);
    vek_sorted_set_t *empty = make(1024, 0);
    Visit none;
    EXPECT_EQ(vek_sorted_set_iterate_through_set(empty, visit_fn, reinterpret_cast<uintptr_t>(&none)), 0);
    EXPECT_TRUE(none.seen.empty());
}

TEST_F(SortedSet, IterateTraceLines) {
    vek_sorted_set_t *s = make(1024, 8);
    for (uintptr_t k : {1u, 2u, 3u}) vek_sorted_set_put(s, k, ascending, k * 10);
    Visit v{{}, 1, -3, nullptr};
    const uintptr_t args = reinterpret_cast<uintptr_t>(&v);
    vektest::TraceLevel trace(4);
    const std::string out = vektest::capture_stdout([&] { vek_sorted_set_iterate_through_set(s, visit_fn, args); });
    const auto fn = reinterpret_cast<uintptr_t>(&visit_fn);
    EXPECT_EQ(out, format("vek_sorted_set_iterate_through_set sorted_set=%llx fn=%llx args=%llx\n"
                          "_vek_sorted_set_iterate_through_set sorted_set=%llx fn=%llx args=%llx\n"
                          "_vek_sorted_set_iterate_through_set rval=fffffffffffffffd\n",
                          ptr(s), (unsigned long long)fn, (unsigned long long)args, ptr(s), (unsigned long long)fn,
                          (unsigned long long)args));
}

std::vector<std::pair<uintptr_t, uintptr_t>> g_deleted;
int32_t g_delete_stop_at = -1;
int32_t delete_fn(uintptr_t key, uintptr_t value) {
    g_deleted.emplace_back(key, value);
    return static_cast<int32_t>(g_deleted.size()) - 1 == g_delete_stop_at ? 1 : 0;
}

TEST_F(SortedSet, DeleteHandsEveryNodeOverThenReleases) {
    vek_sorted_set_t *s = vek_sorted_set_create(1024, 4);
    ASSERT_NE(s, nullptr);
    for (uintptr_t k : {3u, 1u, 2u}) vek_sorted_set_put(s, k, ascending, k * 10);
    g_deleted.clear();
    g_delete_stop_at = -1;
    vek_sorted_set_delete_nodes_and_set(s, delete_fn);
    EXPECT_EQ(g_deleted, (std::vector<std::pair<uintptr_t, uintptr_t>>{{1, 10}, {2, 20}, {3, 30}}));
    // Released: the fixture's leak check confirms it.
}

TEST_F(SortedSet, DeleteStopsAndKeepsEverythingWhenTheCallbackFails) {
    vek_sorted_set_t *s = make(1024, 4);
    for (uintptr_t k : {1u, 2u}) vek_sorted_set_put(s, k, ascending, k * 10);
    const long live = vek_saltest_robust_live();
    g_deleted.clear();
    g_delete_stop_at = 0;
    vek_sorted_set_delete_nodes_and_set(s, delete_fn);
    EXPECT_EQ(g_deleted.size(), 1u);
    EXPECT_EQ(vek_saltest_robust_live(), live);
    EXPECT_EQ(keys(s), (std::vector<uintptr_t>{1, 2}));
    g_delete_stop_at = -1;
}

TEST_F(SortedSet, DeleteTraceLines) {
    vek_sorted_set_t *s = vek_sorted_set_create(1024, 4);
    ASSERT_NE(s, nullptr);
    vektest::TraceLevel trace(8);
    const std::string out = vektest::capture_stdout([&] { vek_sorted_set_delete_nodes_and_set(s, nullptr); });
    EXPECT_EQ(out, format("vek_sorted_set_delete_nodes_and_set sorted_set=%llx delFn=0\n"
                          "_vek_sorted_set_delete_nodes_and_set sorted_set=%llx delFn=0\n"
                          "_vek_sorted_set_delete_nodes_and_set vekStatus=0\n",
                          ptr(s), ptr(s)));
}

TEST_F(SortedSet, LookupTraceLines) {
    vek_sorted_set_t *s = make(1024, 4);
    vek_sorted_set_put(s, 4, ascending, 0x40);
    const auto cmp = static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&ascending));
    const unsigned long long ps = ptr(s);
    vektest::TraceLevel trace(4);
    EXPECT_EQ(vektest::capture_stdout([&] { vek_sorted_set_get(s, 4, ascending); }),
              format("vek_sorted_set_get sorted_set=%llx key=4 compareFn=%llx\n"
                     "vek_sorted_set_get returnvalue=40\n",
                     ps, cmp));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_sorted_set_get_n(s, 1); }),
              format("vek_sorted_set_get_n sorted_set=%llx n=1\nvek_sorted_set_get_n returnvalue=0\n", ps));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_sorted_set_put_n(s, 0, 0x41); }),
              format("vek_sorted_set_put_n sorted_set=%llx n=0 value=41\nvek_sorted_set_put_n returnvalue=40\n", ps));
    // put, size and remove print nothing of their own.
    EXPECT_EQ(vektest::capture_stdout([&] {
                  vek_sorted_set_put(s, 5, ascending, 1);
                  vek_sorted_set_size(s);
                  vek_sorted_set_remove(s, 9, ascending);
              }),
              "");
    const std::string out = vektest::capture_stdout([&] { vek_sorted_set_remove(s, 5, ascending); });
    const std::regex lines(format("_vek_sorted_set_remove_node_n sorted_set=%llx n=1 outNode=([0-9a-f]+)\n"
                                  "_vek_sorted_set_remove_node_n sorted_set=%llx n=1 curSortedSetSize=1 "
                                  "outNode=([0-9a-f]+) result=0\n",
                                  ps, ps));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(out, m, lines)) << out;
    EXPECT_EQ(m[1], m[2]);
}

TEST_F(SortedSet, NullSetIsHarmless) {
    EXPECT_EQ(vek_sorted_set_put(nullptr, 1, ascending, 1), 0u);
    EXPECT_EQ(vek_sorted_set_get(nullptr, 1, ascending), 0u);
    EXPECT_EQ(vek_sorted_set_get_n(nullptr, 0), 0u);
    EXPECT_EQ(vek_sorted_set_put_n(nullptr, 0, 1), 0u);
    EXPECT_EQ(vek_sorted_set_size(nullptr), 0u);
    EXPECT_EQ(vek_sorted_set_remove(nullptr, 1, ascending), 0u);
    EXPECT_EQ(vek_sorted_set_iterate_through_set(nullptr, visit_fn, 0), 0);
    vek_sorted_set_delete_nodes_and_set(nullptr, delete_fn);
}

} // namespace
