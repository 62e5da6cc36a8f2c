// String-list order internals: the insertion walk and its calls, and the
// merge sort used with the built-in comparisons, which must give the walk's
// list for consistent comparisons within n log n comparisons.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "text/strlist_order.hpp"
#include "strlist_orders.hpp"
#include "vektest.hpp"

namespace {

using vek::text::insert_by_walk;
using vek::text::sort_as_walk;

// Integer items on the test's own memory, linked in input order.
class Items {
public:
    explicit Items(const std::vector<int32_t> &values) : nodes_(values.size()), vals_(values.size()) {
        for (size_t i = 0; i < values.size(); ++i) {
            vals_[i].type = VEK_STRLIST_INT32;
            vals_[i].payload.i32 = values[i];
            nodes_[i].value = &vals_[i];
            nodes_[i].next = i + 1 < values.size() ? &nodes_[i + 1] : nullptr;
        }
    }
    vek_strlist_node_t *input_order() { return nodes_.empty() ? nullptr : &nodes_[0]; }
    vek_strlist_node_t *node(size_t i) { return &nodes_[i]; }
    size_t size() const { return nodes_.size(); }

private:
    std::vector<vek_strlist_node_t> nodes_;
    std::vector<vek_strlist_val_t> vals_;
};

// The list as node indexes (which of equal items stands where shows).
std::vector<size_t> positions(Items &items, const vek_strlist_node_t *list) {
    std::vector<size_t> out;
    for (const vek_strlist_node_t *n = list; n != nullptr; n = n->next) {
        out.push_back(static_cast<size_t>(n - items.node(0)));
    }
    return out;
}

// The walk, one node after the other in input order.
std::vector<size_t> walked(Items &items, vek_strlist_cmp_fn cmp) {
    vek_strlist_node_t *list = nullptr;
    for (size_t i = 0; i < items.size(); ++i) insert_by_walk(&list, items.node(i), cmp);
    return positions(items, list);
}

std::vector<size_t> sorted(Items &items, vek_strlist_cmp_fn cmp) {
    return positions(items, sort_as_walk(items.input_order(), cmp));
}

int32_t value(const void *p) { return *static_cast<const int32_t *>(p); }

int g_compares = 0;
std::vector<std::pair<int32_t, int32_t>> g_calls;

int ascending(const void *a, const void *b) {
    ++g_compares;
    return (value(a) > value(b)) - (value(a) < value(b));
}
int descending(const void *a, const void *b) { return ascending(b, a); }
// Equal classes by the last decimal digit: many ties.
int last_digit(const void *a, const void *b) {
    ++g_compares;
    const int32_t x = value(a) % 10;
    const int32_t y = value(b) % 10;
    return (x > y) - (x < y);
}
int recording(const void *a, const void *b) {
    g_calls.emplace_back(value(a), value(b));
    return ascending(a, b);
}

TEST(StrlistWalk, CallsTheComparisonWithTheListItemFirstUntilOneIsNotBefore) {
    Items items({3, 1, 2, 2});
    g_calls.clear();
    vek_strlist_node_t *list = nullptr;
    insert_by_walk(&list, items.node(0), recording); // the empty list: no call
    EXPECT_TRUE(g_calls.empty());
    insert_by_walk(&list, items.node(1), recording);
    insert_by_walk(&list, items.node(2), recording);
    insert_by_walk(&list, items.node(3), recording); // before the equal item
    using Calls = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(g_calls, (Calls{{3, 1}, {1, 2}, {3, 2}, {1, 2}, {2, 2}}));
    EXPECT_EQ(positions(items, list), (std::vector<size_t>{1, 3, 2, 0}));

    // appended at the end when every item sorts before it
    Items tail({1, 2, 9});
    g_calls.clear();
    EXPECT_EQ(walked(tail, recording), (std::vector<size_t>{0, 1, 2}));
    EXPECT_EQ(g_calls, (Calls{{1, 2}, {1, 9}, {2, 9}}));
}

TEST(StrlistSort, EmptyAndSingleItemListsAreLeftAsTheyAre) {
    g_compares = 0;
    EXPECT_EQ(sort_as_walk(nullptr, ascending), nullptr);
    Items one({5});
    EXPECT_EQ(sort_as_walk(one.input_order(), ascending), one.node(0));
    EXPECT_EQ(one.node(0)->next, nullptr);
    EXPECT_EQ(g_compares, 0);
}

// An ascending input is one run: one comparison per item.
TEST(StrlistSort, AscendingRangeCostsConstantComparisonsPerItem) {
    std::vector<int32_t> range(20000);
    for (int32_t i = 0; i < 20000; ++i) range[i] = i;
    Items plain(range);
    g_compares = 0;
    EXPECT_EQ(sorted(plain, ascending).size(), 20000u);
    EXPECT_LE(g_compares, 2 * 20000);

    // items before the range are passed once over the whole range
    std::vector<int32_t> mixed = {30000, 10000};
    mixed.insert(mixed.end(), range.begin(), range.end());
    Items items(mixed);
    g_compares = 0;
    const std::vector<size_t> order = sorted(items, ascending);
    EXPECT_LE(g_compares, 3 * 20000);
    ASSERT_EQ(order.size(), 20002u);
    EXPECT_EQ(order[10000], 2u + 10000); // the 10000 of the range, the later one,
    EXPECT_EQ(order[10001], 1u);         // goes before the earlier one
    EXPECT_EQ(order.back(), 0u);
}

// Every order of a small multiset, with ties whose order shows, comes out
// as the walk makes it.
TEST(StrlistSort, EveryInputOrderMatchesTheWalk) {
    struct Set {
        std::vector<int32_t> values; // sorted, for next_permutation
        vek_strlist_cmp_fn cmp;
    };
    const Set sets[] = {
        {{0, 1, 1, 2, 3, 3, 3}, ascending},
        {{0, 1, 2, 10, 11, 20, 35}, last_digit},
        {{4, 14, 24, 34, 44, 54}, last_digit}, // all equal
        {{0, 3, 7, 7, 100000}, descending},
    };
    for (const Set &set : sets) {
        std::vector<int32_t> order = set.values;
        do {
            Items a(order);
            Items b(order);
            ASSERT_EQ(sorted(a, set.cmp), walked(b, set.cmp)) << ::testing::PrintToString(order);
        } while (std::next_permutation(order.begin(), order.end()));
    }
}

// Orders of thousands of items, each against the walk, within n log n
// comparisons.
TEST(StrlistSort, LargeInputOrdersMatchTheWalkWithinNLogNComparisons) {
    constexpr int32_t n = 1500;
    const auto orders = strlisttest::large_orders(n);

    for (const auto &[name, order] : orders) {
        SCOPED_TRACE(name);
        for (vek_strlist_cmp_fn cmp : {ascending, last_digit}) {
            Items a(order);
            Items b(order);
            g_compares = 0;
            const std::vector<size_t> got = sorted(a, cmp);
            EXPECT_LE(g_compares, n * 11 + n); // log2(1500) < 11
            EXPECT_EQ(got, walked(b, cmp));
        }
    }
}

} // namespace
