// Sorted set internals: the exact sequence of comparison calls of the
// binary search, and the removal of a node by position.
#include <string>
#include <utility>
#include <vector>

#include "sorted_set/sorted_set_internal.hpp"
#include "vektest.hpp"

namespace {

using vektest::format;
using vektest::ptr;

std::vector<std::pair<uintptr_t, uintptr_t>> g_calls;
int32_t g_forced = -1; // when >= 0, every call returns it

int32_t recording(uintptr_t a, uintptr_t b) {
    g_calls.emplace_back(a, b);
    if (g_forced >= 0) return g_forced;
    return a < b ? 1 : (a > b ? 2 : 0);
}

struct Set {
    explicit Set(std::vector<uintptr_t> keys) {
        for (uintptr_t k : keys) nodes.push_back({k, k * 10});
        set = {static_cast<uint32_t>(nodes.size()), static_cast<uint32_t>(nodes.size()), 1024, nodes.data()};
    }
    std::vector<vek_sorted_set_node_t> nodes;
    vek_sorted_set_t set{};
};

TEST(SortedSetSearch, ComparisonCallSequence) {
    using Calls = std::vector<std::pair<uintptr_t, uintptr_t>>;
    struct Case {
        std::vector<uintptr_t> keys;
        uintptr_t key;
        uint32_t pos;
        uint8_t found;
        Calls calls;
    };
    const std::vector<uintptr_t> seven = {10, 20, 30, 40, 50, 60, 70};
    const std::vector<Case> cases = {
        {seven, 40, 3, 1, {{40, 40}}},
        {seven, 35, 3, 0, {{35, 40}, {35, 20}, {35, 30}}},
        {seven, 5, 0, 0, {{5, 40}, {5, 20}, {5, 10}}}, // stops at mid 0
        {seven, 75, 7, 0, {{75, 40}, {75, 60}, {75, 70}}},
        {seven, 60, 5, 1, {{60, 40}, {60, 60}}},
        {seven, 10, 0, 1, {{10, 40}, {10, 20}, {10, 10}}},
        {seven, 45, 4, 0, {{45, 40}, {45, 60}, {45, 50}}},
        {{10, 20}, 15, 1, 0, {{15, 10}, {15, 20}}},
        {{10, 20}, 25, 2, 0, {{25, 10}, {25, 20}}},
        {{10}, 5, 0, 0, {{5, 10}}},
        {{10}, 15, 1, 0, {{15, 10}}},
        {{10, 20, 30, 40}, 25, 2, 0, {{25, 20}, {25, 30}}},
        {{10, 20, 30, 40}, 45, 4, 0, {{45, 20}, {45, 30}, {45, 40}}},
        {{}, 5, 0, 0, {}}, // empty: no call
    };
    for (const Case &c : cases) {
        Set s(c.keys);
        g_calls.clear();
        uint8_t found = 7;
        EXPECT_EQ(vek::sorted_set::search(&s.set, c.key, recording, &found), c.pos) << c.key;
        EXPECT_EQ(found, c.found) << c.key;
        EXPECT_EQ(g_calls, c.calls) << c.key;
    }
}

TEST(SortedSetSearch, NullComparisonCallsNothing) {
    Set s({1, 2, 3});
    uint8_t found = 7;
    EXPECT_EQ(vek::sorted_set::search(&s.set, 2, nullptr, &found), 0u);
    EXPECT_EQ(found, 0);
}

TEST(SortedSetSearch, PositionIsTheFirstNodeAfterTheKey) {
    std::vector<uintptr_t> keys;
    for (uintptr_t k = 1; k <= 100; ++k) keys.push_back(k * 3);
    for (std::size_t n = 0; n <= keys.size(); ++n) {
        Set s(std::vector<uintptr_t>(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n)));
        for (uintptr_t key = 0; key <= 305; ++key) {
            g_calls.clear();
            uint8_t found = 7;
            const uint32_t pos = vek::sorted_set::search(&s.set, key, recording, &found);
            uint32_t want = 0;
            while (want < n && keys[want] < key) ++want;
            EXPECT_EQ(pos, want);
            EXPECT_EQ(found, want < n && keys[want] == key ? 1 : 0);
            uint32_t bound = 1;
            while ((1u << (bound - 1)) <= n) ++bound;
            EXPECT_LE(g_calls.size(), bound);
        }
    }
}

TEST(SortedSetSearch, ResultsOutsideTheContractStayInTheArray) {
    for (int32_t forced : {3, 7, 1000}) {
        g_forced = forced;
        Set s({10, 20, 30, 40, 50});
        g_calls.clear();
        uint8_t found = 7;
        EXPECT_LE(vek::sorted_set::search(&s.set, 25, recording, &found), 5u);
        EXPECT_EQ(found, 0);
        EXPECT_LE(g_calls.size(), 5u);
    }
    g_forced = -1;
}

TEST(SortedSetRemoveNode, MovesTheTailDownAndTraces) {
    Set s({1, 2, 3, 4});
    vek_sorted_set_node_t out{};
    vektest::TraceLevel trace(4);
    std::string lines = vektest::capture_stdout([&] { EXPECT_EQ(vek::sorted_set::remove_node_n(&s.set, 1, &out), 0); });
    EXPECT_EQ(out.key, 2u);
    EXPECT_EQ(out.value, 20u);
    EXPECT_EQ(s.set.curSortedSetSize, 3u);
    EXPECT_EQ(s.nodes[1].key, 3u);
    EXPECT_EQ(s.nodes[2].key, 4u);
    EXPECT_EQ(lines, format("_vek_sorted_set_remove_node_n sorted_set=%llx n=1 outNode=%llx\n"
                            "_vek_sorted_set_remove_node_n sorted_set=%llx n=1 curSortedSetSize=3 outNode=%llx "
                            "result=0\n",
                            ptr(&s.set), ptr(&out), ptr(&s.set), ptr(&out)));
    out = {};
    lines = vektest::capture_stdout([&] { EXPECT_EQ(vek::sorted_set::remove_node_n(&s.set, 3, &out), -1); });
    EXPECT_EQ(out.key, 0u);
    EXPECT_EQ(s.set.curSortedSetSize, 3u);
    EXPECT_EQ(lines, format("_vek_sorted_set_remove_node_n sorted_set=%llx n=3 outNode=%llx\n"
                            "_vek_sorted_set_remove_node_n sorted_set=%llx n=3 curSortedSetSize=3 outNode=%llx "
                            "result=ffffffffffffffff\n",
                            ptr(&s.set), ptr(&out), ptr(&s.set), ptr(&out)));
}

} // namespace
