// String-list builder: the byte walk, separators, ranges, limits, ordering,
// argument checks and release of partial lists on every failure.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "strlist_orders.hpp"
#include "vektest.hpp"

namespace {

using Items = std::vector<std::string>;

// Each item of a list as text: strings as they are, integers in decimal.
Items items_of(vek_strlist_node_t *list) {
    Items out;
    for (vek_strlist_node_t *n = list; n != nullptr; n = n->next) {
        vek_strlist_type_t type = 0;
        EXPECT_EQ(vek_strlist_node_val_getType(n, &type), VEK_ST_SUCCESS);
        if (type == VEK_STRLIST_STRING) {
            const char *s = nullptr;
            EXPECT_EQ(vek_strlist_node_val_getString(n, &s), VEK_ST_SUCCESS);
            out.emplace_back(s);
        } else if (type == VEK_STRLIST_INT32) {
            int32_t v = 0;
            EXPECT_EQ(vek_strlist_node_val_getInt32(n, &v), VEK_ST_SUCCESS);
            out.push_back(std::to_string(v));
        } else if (type == VEK_STRLIST_INT64) {
            int64_t v = 0;
            EXPECT_EQ(vek_strlist_node_val_getInt64(n, &v), VEK_ST_SUCCESS);
            out.push_back(std::to_string(v));
        } else {
            out.push_back("?");
        }
    }
    return out;
}

// A non-null pointer that no build may leave in its out-parameter.
vek_strlist_node_t *sentinel() {
    static vek_strlist_node_t node{};
    return &node;
}

class StrlistBuild : public vektest::LeakCheckedTest {
protected:
    // Builds, records the result, and keeps the list for release at TearDown.
    vek_st_t build(const char *text, vek_strlist_type_t type, char sep = ',', char mark = '-',
                   vek_strlist_conv_fn conv = nullptr, vek_strlist_cmp_fn cmp = nullptr) {
        list_ = sentinel();
        const vek_st_t st = vek_strlist_list_build(text, type, sep, mark, conv, cmp, &list_);
        if (list_ != sentinel()) lists_.push_back(list_);
        return st;
    }
    void TearDown() override {
        for (vek_strlist_node_t *l : lists_) EXPECT_EQ(vek_strlist_list_free(l), VEK_ST_SUCCESS);
        vektest::LeakCheckedTest::TearDown();
    }

    vek_strlist_node_t *list_ = nullptr;
    std::vector<vek_strlist_node_t *> lists_;
};

struct BuildCase {
    vek_strlist_type_t type;
    char sep;
    char mark;
    const char *text;
    vek_st_t status;
    Items items; // on failure: none, and the list is null
};

TEST_F(StrlistBuild, TableOfTexts) {
    const std::vector<BuildCase> cases = {
        {2, ',', '-', "", 0, {}},
        {2, ',', '-', " ,  ,\t,\n, ", 0, {}},
        {2, ',', '-', "3, 1, 2", 0, {"1", "2", "3"}},
        {2, ',', '-', "1-3,2", 0, {"1", "2", "2", "3"}},
        {2, ',', '-', "4,1 0", 0, {"4", "10"}},
        {2, ',', '-', "-5", VEK_ST_STRLIST_INV_RANGE, {}},
        {2, ',', ':', "-5", 0, {"-5"}},
        {2, ',', ':', "-3:-1", 0, {"-3", "-2", "-1"}},
        {2, ',', '-', "1-", VEK_ST_STRLIST_INV_RANGE, {}},
        {2, ',', '-', "1-,2", VEK_ST_STRLIST_INV_RANGE, {}},
        {2, ',', '-', "1-2-3", VEK_ST_STRLIST_INV_RANGE, {}},
        {2, ',', '-', "12abc", 0, {"12"}},
        {2, ',', '-', "abc", 0, {"0"}},
        {2, ',', '-', "0x10", 0, {"0"}},
        {2, ',', '-', "2147483646-2147483647", 0, {"2147483646", "2147483647"}},
        {3, ',', '-', "5000000000", 0, {"2147483647"}},
        {1, ',', '-', "b,a, c d", 0, {"a", "b", "cd"}},
        {1, ',', '-', "a-b", 0, {"a-b"}},
        // separators at the ends and doubled make no item
        {2, ',', '-', ",,7,,1,,", 0, {"1", "7"}},
        // blanks are dropped before any test, also around the range mark
        {2, ',', '-', " 1 - 3 ", 0, {"1", "2", "3"}},
        {2, ' ', '-', "1 2", 0, {"12"}},
        {2, '\t', '-', "1\t2\t3", 0, {"123"}},
        // a range mark that is also the separator separates
        {2, ',', ',', "2,1", 0, {"1", "2"}},
        {2, ',', '-', "5-5", 0, {"5"}},
        {2, ',', '-', "+7,-", VEK_ST_STRLIST_INV_RANGE, {}},
        {2, ',', ':', "+7,-", 0, {"0", "7"}},
        {2, ',', ':', "-2147483649,2147483648", 0, {"-2147483648", "2147483647"}},
        {3, ',', ':', "-5000000000", 0, {"-2147483648"}},
        {3, ',', '-', "2-4,1", 0, {"1", "2", "3", "4"}},
        {2, ';', '-', "3;1,2", 0, {"1", "3"}},
        {2, ',', '-', "1-3,", 0, {"1", "2", "3"}},
        {2, ',', '-', "1-,", VEK_ST_STRLIST_INV_RANGE, {}},
        {2, ',', '-', "1,-3", VEK_ST_STRLIST_INV_RANGE, {}},
        // a range whose end is below its start
        {2, ',', '-', "5-3", VEK_ST_STRLIST_INV_RANGE, {}},
        {2, ',', '-', "1,2,5-3", VEK_ST_STRLIST_INV_RANGE, {}},
        {3, ',', ':', "0:-1", VEK_ST_STRLIST_INV_RANGE, {}},
        // ranges that would make more items than a build may hold
        {2, ',', ':', "-2147483648:2147483647", VEK_ST_STRLIST_ITEM_EXCEED, {}},
        {2, ',', '-', "0-16777216", VEK_ST_STRLIST_ITEM_EXCEED, {}},
        {2, ',', '-', "1,2,0-16777214", VEK_ST_STRLIST_ITEM_EXCEED, {}},
        {1, ',', '-', "", 0, {}},
        {1, ',', '-', "x,,x", 0, {"x", "x"}},
    };
    for (const BuildCase &c : cases) {
        SCOPED_TRACE(vektest::format("type %u sep '%c' mark '%c' text \"%s\"", c.type, c.sep, c.mark, c.text));
        EXPECT_EQ(build(c.text, c.type, c.sep, c.mark), c.status);
        if (c.status != VEK_ST_SUCCESS) {
            EXPECT_EQ(list_, nullptr);
        } else {
            EXPECT_EQ(items_of(list_), c.items);
        }
    }
}

TEST_F(StrlistBuild, ItemsCarryTheirTypeInEveryRecord) {
    ASSERT_EQ(build("3,1-2", VEK_STRLIST_INT64), VEK_ST_SUCCESS);
    for (vek_strlist_node_t *n = list_; n != nullptr; n = n->next) {
        ASSERT_NE(n->value, nullptr);
        EXPECT_EQ(n->value->type, VEK_STRLIST_INT64);
    }
    ASSERT_EQ(build("1", VEK_STRLIST_INT32), VEK_ST_SUCCESS);
    EXPECT_EQ(list_->value->payload.i32, 1);
}

TEST_F(StrlistBuild, ItemOf255CharactersIsAcceptedAnd256Is408) {
    const std::string max(VEK_STRLIST_MAX_ITEM_LEN, 'n');
    ASSERT_EQ(build(max.c_str(), VEK_STRLIST_STRING), VEK_ST_SUCCESS);
    EXPECT_EQ(items_of(list_), Items{max});

    // white space does not count (built by appends: gcc 12 at -O3 warns
    // falsely about " " + std::string, its bug 105329)
    const std::string spaced = std::string(" ").append(max, 0, 100).append(" \t ").append(max, 100).append("\n");
    ASSERT_EQ(build(spaced.c_str(), VEK_STRLIST_STRING), VEK_ST_SUCCESS);
    EXPECT_EQ(items_of(list_), Items{max});

    const std::string over = max + "n";
    EXPECT_EQ(build(over.c_str(), VEK_STRLIST_STRING), VEK_ST_STRLIST_ITEM_EXCEED);
    EXPECT_EQ(list_, nullptr);

    // items already made are released; the limit holds for range ends too
    const std::string later = "a,b," + over + ",c";
    EXPECT_EQ(build(later.c_str(), VEK_STRLIST_STRING), VEK_ST_STRLIST_ITEM_EXCEED);
    EXPECT_EQ(list_, nullptr);
    const std::string range_end = "1,2,3-" + std::string(256, '4');
    EXPECT_EQ(build(range_end.c_str(), VEK_STRLIST_INT32), VEK_ST_STRLIST_ITEM_EXCEED);
    EXPECT_EQ(list_, nullptr);
}

TEST_F(StrlistBuild, RangeBeyondTheItemLimitAllocatesNothing) {
    vek_saltest_reset();
    EXPECT_EQ(build("-2147483648:2147483647", VEK_STRLIST_INT64, ',', ':'), VEK_ST_STRLIST_ITEM_EXCEED);
    EXPECT_EQ(list_, nullptr);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), 0u);
}

// Exactly VEK_STRLIST_MAX_ITEMS items pass the limit: the first allocation
// of the range is reached (and made to fail, so the test stays small).
TEST_F(StrlistBuild, ExactlyTheItemLimitIsAccepted) {
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(build("0-16777215", VEK_STRLIST_INT32), VEK_ST_NO_MEMORY);
    EXPECT_EQ(list_, nullptr);
    vek_saltest_reset();
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 3, 1); // the range's first node, after item 5
    EXPECT_EQ(build("5,0-16777214", VEK_STRLIST_INT32), VEK_ST_NO_MEMORY);
    EXPECT_EQ(list_, nullptr);
    vek_saltest_reset();
}

TEST_F(StrlistBuild, ChecksArgumentsInOrderWithoutTouchingTheOutParameter) {
    const auto conv = [](const char *) -> uintptr_t { return 0; };
    struct Case {
        const char *text;
        vek_strlist_type_t type;
        vek_strlist_conv_fn conv;
        bool out;
        vek_st_t status;
    };
    const std::vector<Case> cases = {
        {nullptr, 2, nullptr, true, VEK_ST_STRLIST_INV_VALUE}, {nullptr, 4, nullptr, false, VEK_ST_STRLIST_INV_VALUE},
        {"1", 2, nullptr, false, VEK_ST_STRLIST_INV_LIST},     {"1", 2, conv, false, VEK_ST_STRLIST_INV_LIST},
        {"1", 4, nullptr, true, VEK_ST_STRLIST_INV_CONV},      {"1", 2, conv, true, VEK_ST_STRLIST_INV_CONV},
        {"1", 1, conv, true, VEK_ST_STRLIST_INV_CONV},         {"1", 7, conv, true, VEK_ST_STRLIST_INV_CONV},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(vektest::format("text %s type %u", c.text ? c.text : "(null)", c.type));
        vek_strlist_node_t *out = sentinel();
        EXPECT_EQ(vek_strlist_list_build(c.text, c.type, ',', '-', c.conv, nullptr, c.out ? &out : nullptr), c.status);
        EXPECT_EQ(out, sentinel());
    }
    vek_saltest_reset();
}

// Custom values: heap blocks holding the item's text.
uintptr_t conv_copy(const char *text) { return reinterpret_cast<uintptr_t>(vek_strlist_strdup(text)); }

std::vector<std::string> cusval_texts(vek_strlist_node_t *list) {
    std::vector<std::string> out;
    for (vek_strlist_node_t *n = list; n != nullptr; n = n->next) {
        uintptr_t v = 0;
        EXPECT_EQ(vek_strlist_node_val_getCusval(n, &v), VEK_ST_SUCCESS);
        out.emplace_back(v == 0 ? "(null)" : reinterpret_cast<const char *>(v));
    }
    return out;
}

TEST_F(StrlistBuild, CustomValuesKeepInputOrderWithoutComparison) {
    ASSERT_EQ(build("c, b a,a-1,c", VEK_STRLIST_CUSVAL, ',', '-', conv_copy), VEK_ST_SUCCESS);
    EXPECT_EQ(cusval_texts(list_), (Items{"c", "ba", "a-1", "c"}));
}

TEST_F(StrlistBuild, NullCustomValueIsStoredAndIsNoFailure) {
    const auto conv_null = [](const char *) -> uintptr_t { return 0; };
    ASSERT_EQ(build("x,y", VEK_STRLIST_CUSVAL, ',', '-', conv_null), VEK_ST_SUCCESS);
    EXPECT_EQ(cusval_texts(list_), (Items{"(null)", "(null)"}));
}

// Orders custom values by their text (a null value as the empty text);
// called with pointers to the words.
const char *cusval_text(const void *word) {
    const char *s = reinterpret_cast<const char *>(*static_cast<const uintptr_t *>(word));
    return s != nullptr ? s : "";
}
int cmp_cusval_text(const void *listItem, const void *newItem) {
    return std::strcmp(cusval_text(listItem), cusval_text(newItem));
}

TEST_F(StrlistBuild, CustomValuesAreOrderedByTheComparisonOfTheirWords) {
    ASSERT_EQ(build("m,c,x,a,c", VEK_STRLIST_CUSVAL, ',', '-', conv_copy, cmp_cusval_text), VEK_ST_SUCCESS);
    EXPECT_EQ(cusval_texts(list_), (Items{"a", "c", "c", "m", "x"}));

    // the two arguments are the addresses of the payload words of the list's records
    static std::vector<std::pair<const void *, const void *>> seen;
    seen.clear();
    const auto record = [](const void *a, const void *b) -> int {
        seen.emplace_back(a, b);
        return 1;
    };
    ASSERT_EQ(build("p,q", VEK_STRLIST_CUSVAL, ',', '-', conv_copy, record), VEK_ST_SUCCESS);
    ASSERT_FALSE(seen.empty());
    const vek_strlist_node_t *q = list_; // 1 > 0: q went before p
    const vek_strlist_node_t *p = list_->next;
    EXPECT_EQ(cusval_texts(list_), (Items{"q", "p"}));
    for (const auto &[a, b] : seen) {
        EXPECT_EQ(a, &p->value->payload.cusval);
        EXPECT_EQ(b, &q->value->payload.cusval);
    }
}

// Compares strings by their first character only, so items can be equal.
int cmp_first_char(const void *a, const void *b) {
    return static_cast<const char *>(a)[0] - static_cast<const char *>(b)[0];
}

TEST_F(StrlistBuild, NewItemGoesBeforeEqualItems) {
    ASSERT_EQ(build("ax,b,ay,az", VEK_STRLIST_STRING, ',', '-', nullptr, cmp_first_char), VEK_ST_SUCCESS);
    EXPECT_EQ(items_of(list_), (Items{"az", "ay", "ax", "b"}));
}

int cmp_descending_i32(const void *a, const void *b) {
    const int32_t x = *static_cast<const int32_t *>(a);
    const int32_t y = *static_cast<const int32_t *>(b);
    return (x < y) - (x > y);
}

TEST_F(StrlistBuild, CallersComparisonReplacesTheDefault) {
    ASSERT_EQ(build("2,5-7,1", VEK_STRLIST_INT32, ',', '-', nullptr, cmp_descending_i32), VEK_ST_SUCCESS);
    EXPECT_EQ(items_of(list_), (Items{"7", "6", "5", "2", "1"}));
    const auto by_length = [](const void *a, const void *b) -> int {
        return static_cast<int>(std::strlen(static_cast<const char *>(a))) -
               static_cast<int>(std::strlen(static_cast<const char *>(b)));
    };
    ASSERT_EQ(build("ccc,a,bb", VEK_STRLIST_STRING, ',', '-', nullptr, by_length), VEK_ST_SUCCESS);
    EXPECT_EQ(items_of(list_), (Items{"a", "bb", "ccc"}));
}

TEST_F(StrlistBuild, OtherTypesKeepInputOrderWithZeroPayloadAndNoRanges) {
    for (vek_strlist_type_t type : {0u, 5u, 99u}) {
        ASSERT_EQ(build("9, 2-1 ,,3", type), VEK_ST_SUCCESS);
        size_t n = 0;
        for (vek_strlist_node_t *node = list_; node != nullptr; node = node->next, ++n) {
            vek_strlist_type_t t = 0;
            EXPECT_EQ(vek_strlist_node_val_getType(node, &t), VEK_ST_SUCCESS);
            EXPECT_EQ(t, type);
            EXPECT_EQ(node->value->payload.i64, 0);
        }
        EXPECT_EQ(n, 3u);
    }
}

// The list must come out exactly as if every item had been inserted by a
// walk from the first node (before the first item not sorting before it).
Items reference_order(const std::vector<int32_t> &input, int (*cmp)(const void *, const void *)) {
    std::vector<int32_t> list;
    for (int32_t v : input) {
        auto it = list.begin();
        while (it != list.end() && cmp(&*it, &v) < 0) ++it;
        list.insert(it, v);
    }
    Items out;
    for (int32_t v : list) out.push_back(std::to_string(v));
    return out;
}

int cmp_default_i32(const void *a, const void *b) {
    const int32_t x = *static_cast<const int32_t *>(a);
    const int32_t y = *static_cast<const int32_t *>(b);
    return (x > y) - (x < y);
}

// Equal classes by the last decimal digit: many ties.
int cmp_last_digit(const void *a, const void *b) {
    const int32_t x = *static_cast<const int32_t *>(a) % 10;
    const int32_t y = *static_cast<const int32_t *>(b) % 10;
    return (x > y) - (x < y);
}

TEST_F(StrlistBuild, OrderMatchesInsertionFromTheFirstNodeOnRandomTexts) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        std::string text;
        std::vector<int32_t> input;
        const int parts = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < parts; ++i) {
            const int32_t a = static_cast<int32_t>(rng() % 40);
            if (rng() % 2 != 0) {
                const int32_t b = a + static_cast<int32_t>(rng() % 12);
                text += std::to_string(a) + "-" + std::to_string(b) + ",";
                for (int32_t v = a; v <= b; ++v) input.push_back(v);
            } else {
                text += std::to_string(a) + ",";
                input.push_back(a);
            }
        }
        SCOPED_TRACE(text);
        ASSERT_EQ(build(text.c_str(), VEK_STRLIST_INT32), VEK_ST_SUCCESS);
        EXPECT_EQ(items_of(list_), reference_order(input, cmp_default_i32));
        ASSERT_EQ(build(text.c_str(), VEK_STRLIST_INT32, ',', '-', nullptr, cmp_last_digit), VEK_ST_SUCCESS);
        EXPECT_EQ(items_of(list_), reference_order(input, cmp_last_digit));
    }
}

int g_compares = 0;
int counting_cmp(const void *a, const void *b) {
    ++g_compares;
    return cmp_default_i32(a, b);
}

// The built-in comparison orders a range and the items before it; a
// caller's comparison gets the walk's calls: each new item of an ascending
// range passes every item before it.
TEST_F(StrlistBuild, RangesAfterOtherItemsWithEitherComparison) {
    ASSERT_EQ(build("30000,10000,0-19999", VEK_STRLIST_INT32), VEK_ST_SUCCESS);
    Items items = items_of(list_);
    ASSERT_EQ(items.size(), 20002u);
    EXPECT_EQ(items[10000], "10000");
    EXPECT_EQ(items[10001], "10000");
    EXPECT_EQ(items.back(), "30000");

    g_compares = 0;
    ASSERT_EQ(build("0-1999", VEK_STRLIST_INT32, ',', '-', nullptr, counting_cmp), VEK_ST_SUCCESS);
    EXPECT_EQ(g_compares, 2000 * 1999 / 2);
    g_compares = 0;
    ASSERT_EQ(build("3000,1000,0-1999", VEK_STRLIST_INT32, ',', '-', nullptr, counting_cmp), VEK_ST_SUCCESS);
    // 1000 passes nothing and stops at 3000; v of the range passes 0 to
    // v - 1, and 1000 when v > 1000, and stops at the next item.
    EXPECT_EQ(g_compares, 1 + 2000 * 1999 / 2 + 999 + 2000);
    items = items_of(list_);
    ASSERT_EQ(items.size(), 2002u);
    EXPECT_EQ(items[1000], "1000");
    EXPECT_EQ(items[1001], "1000");
    EXPECT_EQ(items.back(), "3000");
}

std::string join(const std::vector<int32_t> &values) {
    std::string text;
    for (int32_t v : values) {
        if (!text.empty()) text += ',';
        text += std::to_string(v);
    }
    return text;
}

// Every order of a small multiset, with the default comparison (equal
// items are equal values) and with one of ties (equal classes of distinct
// values, so the order among equals shows), comes out as the walk makes it.
TEST_F(StrlistBuild, EveryInputOrderMatchesTheReferenceWalk) {
    struct Set {
        std::vector<int32_t> values; // sorted, for next_permutation
        int (*cmp)(const void *, const void *);
    };
    const Set sets[] = {
        {{0, 1, 1, 2, 3, 3, 3}, cmp_default_i32},
        {{0, 1, 2, 10, 11, 20, 35}, cmp_last_digit},
        {{4, 14, 24, 34, 44, 54}, cmp_last_digit}, // all equal
        {{0, 3, 7, 7, 100000}, cmp_descending_i32},
    };
    for (const Set &set : sets) {
        std::vector<int32_t> order = set.values;
        int orders = 0;
        do {
            const std::string text = join(order);
            ASSERT_EQ(build(text.c_str(), VEK_STRLIST_INT32, ',', '-', nullptr, set.cmp), VEK_ST_SUCCESS) << text;
            ASSERT_EQ(items_of(list_), reference_order(order, set.cmp)) << text;
            vek_strlist_list_free(list_);
            lists_.pop_back();
            ++orders;
        } while (std::next_permutation(order.begin(), order.end()));
        EXPECT_GT(orders, 1);
    }
}

// Orders of thousands of items, each against the walk: with the built-in
// comparison, and with a caller's, which is called as often as the walk
// calls it.
TEST_F(StrlistBuild, LargeInputOrdersMatchTheWalk) {
    constexpr int32_t n = 1500;
    const auto orders = strlisttest::large_orders(n);

    for (const auto &[name, order] : orders) {
        SCOPED_TRACE(name);
        const std::string text = join(order);
        ASSERT_EQ(build(text.c_str(), VEK_STRLIST_INT32), VEK_ST_SUCCESS);
        const Items expected = reference_order(order, cmp_default_i32);
        EXPECT_EQ(items_of(list_), expected);
        g_compares = 0;
        EXPECT_EQ(reference_order(order, counting_cmp), expected);
        const int walk_compares = g_compares;
        g_compares = 0;
        ASSERT_EQ(build(text.c_str(), VEK_STRLIST_INT32, ',', '-', nullptr, counting_cmp), VEK_ST_SUCCESS);
        EXPECT_EQ(g_compares, walk_compares);
        EXPECT_EQ(items_of(list_), expected);
        ASSERT_EQ(build(text.c_str(), VEK_STRLIST_INT32, ',', '-', nullptr, cmp_last_digit), VEK_ST_SUCCESS);
        EXPECT_EQ(items_of(list_), reference_order(order, cmp_last_digit));
    }
}

// Strings in every order keep the walk's order among equal first letters.
TEST_F(StrlistBuild, StringOrdersMatchTheWalk) {
    std::vector<std::string> words = {"ab", "ac", "b", "ba", "c", "ca"};
    do {
        std::string text;
        for (const std::string &w : words) text += w + ",";
        ASSERT_EQ(build(text.c_str(), VEK_STRLIST_STRING, ',', '-', nullptr, cmp_first_char), VEK_ST_SUCCESS);
        Items expected;
        for (const std::string &w : words) {
            auto it = expected.begin();
            while (it != expected.end() && cmp_first_char(it->c_str(), w.c_str()) < 0) ++it;
            expected.insert(it, w);
        }
        ASSERT_EQ(items_of(list_), expected) << text;
        vek_strlist_list_free(list_);
        lists_.pop_back();
    } while (std::next_permutation(words.begin(), words.end()));
}

// Every allocation point of a build: a failure gives VEK_ST_NO_MEMORY, a
// null list and nothing left allocated.
void sweep_build(const char *text, vek_strlist_type_t type, vek_strlist_conv_fn conv, vek_strlist_cmp_fn cmp,
                 uint32_t min_points) {
    SCOPED_TRACE(text);
    Items full;
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t) {
        vek_strlist_node_t *list = sentinel();
        const vek_st_t st = vek_strlist_list_build(text, type, ',', '-', conv, cmp, &list);
        if (vek_saltest_faults_fired() != 0 && type != VEK_STRLIST_CUSVAL) {
            EXPECT_EQ(st, VEK_ST_NO_MEMORY);
        }
        if (st != VEK_ST_SUCCESS) {
            EXPECT_EQ(st, VEK_ST_NO_MEMORY);
            EXPECT_EQ(list, nullptr);
        } else {
            EXPECT_NE(list, nullptr);
            vek_strlist_list_free(list);
        }
    });
    EXPECT_GE(points, min_points);
}

TEST_F(StrlistBuild, EveryAllocationFailureReleasesThePartialList) {
    sweep_build("b,a,c", VEK_STRLIST_STRING, nullptr, nullptr, 9); // node, record, copy per item
    sweep_build("7,1-3", VEK_STRLIST_INT32, nullptr, nullptr, 8);  // node, record per item
    sweep_build("2-3,1", VEK_STRLIST_INT64, nullptr, nullptr, 6);
    sweep_build("x,y", VEK_STRLIST_CUSVAL, conv_copy, cmp_cusval_text, 6); // and the custom values
    sweep_build("x,y", 9, nullptr, nullptr, 4);
}

TEST_F(StrlistBuild, FailedCustomItemNeverCallsTheConversion) {
    static int calls = 0;
    calls = 0;
    const auto conv = [](const char *t) -> uintptr_t {
        ++calls;
        return conv_copy(t);
    };
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 2, 1); // the first item's record
    vek_strlist_node_t *out = sentinel();
    EXPECT_EQ(vek_strlist_list_build("x,y", VEK_STRLIST_CUSVAL, ',', '-', conv, nullptr, &out), VEK_ST_NO_MEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(calls, 0);
}

} // namespace
