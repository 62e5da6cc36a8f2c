// String-list builder with a caller's comparison: the list is the one the
// insertion walk from the first node makes, and the comparison is called
// exactly as the walk calls it (item in the list first, new item second;
// each new item from the first node up to the first result that is zero
// or positive), for comparisons that are no consistent order as well as
// for those that are; failures after some walking release everything.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "vektest.hpp"

namespace {

using Items = std::vector<std::string>;
using Call = std::pair<std::string, std::string>; // (item in the list, new item)
using Calls = std::vector<Call>;

// Every call of a recording comparison, in order, with the texts of its
// two items; and, for the custom-value tests, every call of the conversion.
Calls g_calls;
std::vector<std::string> g_events;

// ---- rules, on numbers and on texts ---------------------------------------

int sign(int64_t d) { return (d > 0) - (d < 0); }

int ascending(int64_t a, int64_t b) { return sign(a - b); }
int descending(int64_t a, int64_t b) { return sign(b - a); }
// Numbers within 1 of each other are equal: 1 = 2 and 2 = 3, but 1 < 3.
int within_one(int64_t a, int64_t b) { return a - b > 1 || b - a > 1 ? sign(a - b) : 0; }
int always_after(int64_t, int64_t) { return 1; }
int always_before(int64_t, int64_t) { return -1; }
int always_equal(int64_t, int64_t) { return 0; }
// Rock, paper, scissors by value modulo 3: 0 < 1 < 2 < 0.
int cyclic(int64_t a, int64_t b) {
    const int64_t d = ((b - a) % 3 + 3) % 3;
    return d == 0 ? 0 : (d == 1 ? -1 : 1);
}
int last_digit(int64_t a, int64_t b) { return sign(a % 10 - b % 10); }

int text_order(const char *a, const char *b) { return sign(std::strcmp(a, b)); }
int by_length(const char *a, const char *b) {
    return sign(static_cast<int64_t>(std::strlen(a)) - static_cast<int64_t>(std::strlen(b)));
}
// Texts sharing a letter are equal, the others are in byte order.
int shared_letter(const char *a, const char *b) { return std::strpbrk(a, b) != nullptr ? 0 : text_order(a, b); }

// ---- recording comparisons, one per item representation -------------------

template <int (*Rule)(int64_t, int64_t)>
int rec_i32(const void *listItem, const void *newItem) {
    const int32_t a = *static_cast<const int32_t *>(listItem);
    const int32_t b = *static_cast<const int32_t *>(newItem);
    g_calls.emplace_back(std::to_string(a), std::to_string(b));
    return Rule(a, b);
}

template <int (*Rule)(int64_t, int64_t)>
int rec_i64(const void *listItem, const void *newItem) {
    const int64_t a = *static_cast<const int64_t *>(listItem);
    const int64_t b = *static_cast<const int64_t *>(newItem);
    g_calls.emplace_back(std::to_string(a), std::to_string(b));
    return Rule(a, b);
}

template <int (*Rule)(const char *, const char *)>
int rec_str(const void *listItem, const void *newItem) {
    const char *a = static_cast<const char *>(listItem);
    const char *b = static_cast<const char *>(newItem);
    g_calls.emplace_back(a, b);
    return Rule(a, b);
}

// Custom values are heap copies of the item's text (null shown as "(null)"
// and compared as the empty text); the comparison gets their words.
const char *cus_text(const void *word) { return reinterpret_cast<const char *>(*static_cast<const uintptr_t *>(word)); }
std::string shown(const char *s) { return s != nullptr ? s : "(null)"; }

template <int (*Rule)(const char *, const char *)>
int rec_cus(const void *listItem, const void *newItem) {
    const char *a = cus_text(listItem);
    const char *b = cus_text(newItem);
    g_calls.emplace_back(shown(a), shown(b));
    g_events.push_back("cmp " + shown(a) + " " + shown(b));
    return Rule(a != nullptr ? a : "", b != nullptr ? b : "");
}

uintptr_t conv_copy(const char *text) {
    g_events.push_back(std::string("conv ") + text);
    return reinterpret_cast<uintptr_t>(vek_strlist_strdup(text));
}

// ---- lists as texts, and the walk as documented ---------------------------

std::string text_of(vek_strlist_type_t type, const vek_strlist_payload_t &p) {
    switch (type) {
    case VEK_STRLIST_STRING: return p.str;
    case VEK_STRLIST_INT32: return std::to_string(p.i32);
    case VEK_STRLIST_INT64: return std::to_string(p.i64);
    case VEK_STRLIST_CUSVAL: return shown(reinterpret_cast<const char *>(p.cusval));
    default: return "?";
    }
}

Items items_of(vek_strlist_node_t *list) {
    Items out;
    for (vek_strlist_node_t *n = list; n != nullptr; n = n->next)
        out.push_back(text_of(n->value->type, n->value->payload));
    return out;
}

// The items of `input` (texts, "(null)" for a null custom value) as the
// payloads the builder makes; string payloads point into `input`.
std::vector<vek_strlist_payload_t> payloads(vek_strlist_type_t type, const Items &input) {
    std::vector<vek_strlist_payload_t> out;
    for (const std::string &t : input) {
        vek_strlist_payload_t p{};
        if (type == VEK_STRLIST_STRING) p.str = const_cast<char *>(t.c_str());
        if (type == VEK_STRLIST_INT32) p.i32 = static_cast<int32_t>(std::strtol(t.c_str(), nullptr, 10));
        if (type == VEK_STRLIST_INT64) p.i64 = std::strtol(t.c_str(), nullptr, 10);
        if (type == VEK_STRLIST_CUSVAL && t != "(null)") p.cusval = reinterpret_cast<uintptr_t>(t.c_str());
        out.push_back(p);
    }
    return out;
}

// The walk: each new item goes before the first item for which
// cmp(item in the list, new item) is zero or positive, else at the end.
// Returns the list; the calls land in g_calls.
Items reference_walk(vek_strlist_type_t type, const Items &input, vek_strlist_cmp_fn cmp) {
    std::vector<vek_strlist_payload_t> list;
    const auto key = [type](const vek_strlist_payload_t &p) -> const void * {
        return type == VEK_STRLIST_STRING ? static_cast<const void *>(p.str) : static_cast<const void *>(&p);
    };
    for (const vek_strlist_payload_t &p : payloads(type, input)) {
        size_t at = 0;
        while (at < list.size() && cmp(key(list[at]), key(p)) < 0) ++at;
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), p);
    }
    Items out;
    for (const vek_strlist_payload_t &p : list) out.push_back(text_of(type, p));
    return out;
}

// A non-null pointer that no build may leave in its out-parameter.
vek_strlist_node_t *sentinel() {
    static vek_strlist_node_t node{};
    return &node;
}

class StrlistCompare : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        vektest::LeakCheckedTest::SetUp();
        g_calls.clear();
        g_events.clear();
    }
    // Builds with ',' and ':', records the result, and keeps the list for
    // release at TearDown.
    vek_st_t build(const char *text, vek_strlist_type_t type, vek_strlist_cmp_fn cmp) {
        list_ = sentinel();
        const vek_st_t st =
            vek_strlist_list_build(text, type, ',', ':', type == VEK_STRLIST_CUSVAL ? conv_copy : nullptr, cmp, &list_);
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

// ---- the examples ---------------------------------------------------------

// With numbers within 1 of each other equal, every new item of a run of
// neighbours is equal to the first item and goes before it: one call each.
// The one-pass merge sort that the built-in comparisons use would give
// 8 7 10 9 and 2 1 4 3 here.
TEST_F(StrlistCompare, NeighboursCalledEqualComeOutNewestFirst) {
    ASSERT_EQ(build("7,8,9,10", VEK_STRLIST_INT32, rec_i32<within_one>), VEK_ST_SUCCESS);
    EXPECT_EQ(items_of(list_), (Items{"10", "9", "8", "7"}));
    EXPECT_EQ(g_calls, (Calls{{"7", "8"}, {"8", "9"}, {"9", "10"}}));

    g_calls.clear();
    ASSERT_EQ(build("1:4", VEK_STRLIST_INT32, rec_i32<within_one>), VEK_ST_SUCCESS);
    EXPECT_EQ(items_of(list_), (Items{"4", "3", "2", "1"}));
    EXPECT_EQ(g_calls, (Calls{{"1", "2"}, {"2", "3"}, {"3", "4"}}));
}

// "3,1,2": 3 is the first node without a call; 1 is compared with 3 (3 > 1:
// 1 goes first); 2 is compared with 1 (1 < 2: walk on), then with 3 (3 > 2:
// 2 goes before 3).
TEST_F(StrlistCompare, WalkStartsAtTheFirstNodeWithTheListItemFirst) {
    ASSERT_EQ(build("3,1,2", VEK_STRLIST_INT32, rec_i32<ascending>), VEK_ST_SUCCESS);
    EXPECT_EQ(items_of(list_), (Items{"1", "2", "3"}));
    EXPECT_EQ(g_calls, (Calls{{"3", "1"}, {"1", "2"}, {"3", "2"}}));
}

// ---- a table of cases -----------------------------------------------------

struct WalkCase {
    const char *what;
    vek_strlist_type_t type;
    const char *text; // ',' separates, ':' marks a range
    vek_strlist_cmp_fn cmp;
    Items input; // the items in input order
    Items list;  // the list built
    Calls calls; // every call of the comparison, in order
};

TEST_F(StrlistCompare, TableOfConsistentAndInconsistentComparisons) {
    const std::vector<WalkCase> cases = {
        // no consistent order
        {"within one",
         2,
         "7,8,9,10",
         rec_i32<within_one>,
         {"7", "8", "9", "10"},
         {"10", "9", "8", "7"},
         {{"7", "8"}, {"8", "9"}, {"9", "10"}}},
        {"within one, range",
         2,
         "1:4",
         rec_i32<within_one>,
         {"1", "2", "3", "4"},
         {"4", "3", "2", "1"},
         {{"1", "2"}, {"2", "3"}, {"3", "4"}}},
        {"within one, 2 = 1 < 3",
         2,
         "3,1,2",
         rec_i32<within_one>,
         {"3", "1", "2"},
         {"2", "1", "3"},
         {{"3", "1"}, {"1", "2"}}},
        {"within one, 64 bits",
         3,
         "10,1,5:6,2",
         rec_i64<within_one>,
         {"10", "1", "5", "6", "2"},
         {"2", "1", "6", "5", "10"},
         {{"10", "1"}, {"1", "5"}, {"10", "5"}, {"1", "6"}, {"5", "6"}, {"1", "2"}}},
        {"always after", 2, "1,2,3", rec_i32<always_after>, {"1", "2", "3"}, {"3", "2", "1"}, {{"1", "2"}, {"2", "3"}}},
        {"always before",
         2,
         "3,1,2",
         rec_i32<always_before>,
         {"3", "1", "2"},
         {"3", "1", "2"},
         {{"3", "1"}, {"3", "2"}, {"1", "2"}}},
        {"cyclic", 2, "0,1,2", rec_i32<cyclic>, {"0", "1", "2"}, {"2", "0", "1"}, {{"0", "1"}, {"0", "2"}}},
        {"cyclic, range",
         3,
         "0:5",
         rec_i64<cyclic>,
         {"0", "1", "2", "3", "4", "5"},
         {"4", "5", "2", "3", "0", "1"},
         {{"0", "1"}, {"0", "2"}, {"2", "3"}, {"0", "3"}, {"2", "4"}, {"4", "5"}, {"2", "5"}}},
        {"shared letter",
         1,
         "ab,cd,bc",
         rec_str<shared_letter>,
         {"ab", "cd", "bc"},
         {"bc", "ab", "cd"},
         {{"ab", "cd"}, {"ab", "bc"}}},
        {"custom, shared letter",
         4,
         "ab,cd,bc",
         rec_cus<shared_letter>,
         {"ab", "cd", "bc"},
         {"bc", "ab", "cd"},
         {{"ab", "cd"}, {"ab", "bc"}}},
        // consistent orders
        {"ascending",
         2,
         "3,1,2",
         rec_i32<ascending>,
         {"3", "1", "2"},
         {"1", "2", "3"},
         {{"3", "1"}, {"1", "2"}, {"3", "2"}}},
        {"always equal",
         2,
         "1:3,0",
         rec_i32<always_equal>,
         {"1", "2", "3", "0"},
         {"0", "3", "2", "1"},
         {{"1", "2"}, {"2", "3"}, {"3", "0"}}},
        {"descending",
         2,
         "2,5:7,1",
         rec_i32<descending>,
         {"2", "5", "6", "7", "1"},
         {"7", "6", "5", "2", "1"},
         {{"2", "5"}, {"5", "6"}, {"6", "7"}, {"7", "1"}, {"6", "1"}, {"5", "1"}, {"2", "1"}}},
        {"last digit",
         2,
         "21,11,12,1",
         rec_i32<last_digit>,
         {"21", "11", "12", "1"},
         {"1", "11", "21", "12"},
         {{"21", "11"}, {"11", "12"}, {"21", "12"}, {"11", "1"}}},
        {"text order",
         1,
         "b,a,c",
         rec_str<text_order>,
         {"b", "a", "c"},
         {"a", "b", "c"},
         {{"b", "a"}, {"a", "c"}, {"b", "c"}}},
        {"by length",
         1,
         "ccc,a,bb",
         rec_str<by_length>,
         {"ccc", "a", "bb"},
         {"a", "bb", "ccc"},
         {{"ccc", "a"}, {"a", "bb"}, {"ccc", "bb"}}},
        {"custom, text order",
         4,
         "m,c,x",
         rec_cus<text_order>,
         {"m", "c", "x"},
         {"c", "m", "x"},
         {{"m", "c"}, {"c", "x"}, {"m", "x"}}},
        // no call at all: one item, or a type without ordering
        {"one item", 2, "5", rec_i32<within_one>, {"5"}, {"5"}, {}},
        {"one item of a range", 2, "5:5", rec_i32<within_one>, {"5"}, {"5"}, {}},
        {"other type", 9, "3,1,2", rec_i32<ascending>, {"?", "?", "?"}, {"?", "?", "?"}, {}},
    };
    for (const WalkCase &c : cases) {
        SCOPED_TRACE(vektest::format("%s: type %u text \"%s\"", c.what, c.type, c.text));
        g_calls.clear();
        ASSERT_EQ(build(c.text, c.type, c.cmp), VEK_ST_SUCCESS);
        EXPECT_EQ(items_of(list_), c.list);
        EXPECT_EQ(g_calls, c.calls);
        if (c.type <= VEK_STRLIST_CUSVAL) { // the table agrees with the walk as written
            g_calls.clear();
            EXPECT_EQ(reference_walk(c.type, c.input, c.cmp), c.list);
            EXPECT_EQ(g_calls, c.calls);
        }
    }
}

// A custom value is made (conversion) and then inserted (comparisons)
// before the next item's text is converted.
TEST_F(StrlistCompare, ConversionAndComparisonCallsInterleaveItemByItem) {
    ASSERT_EQ(build("m,c,x", VEK_STRLIST_CUSVAL, rec_cus<text_order>), VEK_ST_SUCCESS);
    EXPECT_EQ(g_events, (std::vector<std::string>{"conv m", "conv c", "cmp m c", "conv x", "cmp c x", "cmp m x"}));
}

// ---- random texts against the walk ----------------------------------------

TEST_F(StrlistCompare, RandomTextsMatchTheWalkCallForCall) {
    struct Rule {
        const char *name;
        vek_strlist_cmp_fn i32;
        vek_strlist_cmp_fn i64;
    };
    const Rule rules[] = {
        {"within one", rec_i32<within_one>, rec_i64<within_one>},
        {"cyclic", rec_i32<cyclic>, rec_i64<cyclic>},
        {"always after", rec_i32<always_after>, rec_i64<always_after>},
        {"always before", rec_i32<always_before>, rec_i64<always_before>},
        {"always equal", rec_i32<always_equal>, rec_i64<always_equal>},
        {"last digit", rec_i32<last_digit>, rec_i64<last_digit>},
        {"descending", rec_i32<descending>, rec_i64<descending>},
    };
    std::mt19937 rng(4242);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        Items input;
        const int parts = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < parts; ++i) {
            const int32_t a = static_cast<int32_t>(rng() % 40) - 10;
            if (rng() % 2 != 0) {
                const int32_t b = a + static_cast<int32_t>(rng() % 12);
                text += std::to_string(a) + ":" + std::to_string(b) + ",";
                for (int32_t v = a; v <= b; ++v) input.push_back(std::to_string(v));
            } else {
                text += std::to_string(a) + ",";
                input.push_back(std::to_string(a));
            }
        }
        const Rule &rule = rules[rng() % (sizeof rules / sizeof rules[0])];
        const vek_strlist_type_t type = rng() % 2 != 0 ? VEK_STRLIST_INT32 : VEK_STRLIST_INT64;
        const vek_strlist_cmp_fn cmp = type == VEK_STRLIST_INT32 ? rule.i32 : rule.i64;
        SCOPED_TRACE(vektest::format("%s, type %u, text \"%s\"", rule.name, type, text.c_str()));
        g_calls.clear();
        const Items expected = reference_walk(type, input, cmp);
        const Calls expected_calls = g_calls;
        g_calls.clear();
        ASSERT_EQ(build(text.c_str(), type, cmp), VEK_ST_SUCCESS);
        ASSERT_EQ(items_of(list_), expected);
        ASSERT_EQ(g_calls, expected_calls);
    }

    // texts from a small alphabet, so that many share letters
    for (int round = 0; round < 200; ++round) {
        std::string text;
        Items input;
        const int words = 1 + static_cast<int>(rng() % 9);
        for (int i = 0; i < words; ++i) {
            std::string w;
            const int len = 1 + static_cast<int>(rng() % 3);
            for (int k = 0; k < len; ++k) w += static_cast<char>('a' + rng() % 6);
            text += w + ",";
            input.push_back(w);
        }
        for (vek_strlist_type_t type : {VEK_STRLIST_STRING, VEK_STRLIST_CUSVAL}) {
            SCOPED_TRACE(vektest::format("type %u, text \"%s\"", type, text.c_str()));
            const vek_strlist_cmp_fn cmp = type == VEK_STRLIST_STRING ? rec_str<shared_letter> : rec_cus<shared_letter>;
            g_calls.clear();
            const Items expected = reference_walk(type, input, cmp);
            const Calls expected_calls = g_calls;
            g_calls.clear();
            ASSERT_EQ(build(text.c_str(), type, cmp), VEK_ST_SUCCESS);
            ASSERT_EQ(items_of(list_), expected);
            ASSERT_EQ(g_calls, expected_calls);
        }
    }
}

// ---- failures after walking -----------------------------------------------

// Every allocation failure point of a build with a caller's comparison:
// VEK_ST_NO_MEMORY, a null list, nothing left allocated, and the calls
// made are those the walk made for the items finished before the failure.
// A failed copy inside the conversion function is a null custom value and
// no failure: that build succeeds with the null value walked in its place.
void sweep_walk(vek_strlist_type_t type, const char *text, vek_strlist_cmp_fn cmp, const Items &input) {
    SCOPED_TRACE(vektest::format("type %u text \"%s\"", type, text));
    const uint32_t per_item = type == VEK_STRLIST_INT32 || type == VEK_STRLIST_INT64 ? 2 : 3;
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t nth) {
        g_calls.clear();
        vek_strlist_node_t *list = sentinel();
        const vek_st_t st =
            vek_strlist_list_build(text, type, ',', ':', type == VEK_STRLIST_CUSVAL ? conv_copy : nullptr, cmp, &list);
        const Calls calls = g_calls;
        const bool fired = vek_saltest_faults_fired() != 0;
        const size_t item = (nth - 1) / per_item; // the item whose allocation fails
        Items walked(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(std::min(item, input.size())));
        if (fired && type == VEK_STRLIST_CUSVAL && nth % per_item == 0) {
            ASSERT_EQ(st, VEK_ST_SUCCESS); // the conversion's copy
            Items with_null = input;
            with_null[item] = "(null)";
            g_calls.clear();
            EXPECT_EQ(items_of(list), reference_walk(type, with_null, cmp));
            EXPECT_EQ(calls, g_calls);
            vek_strlist_list_free(list);
            return;
        }
        if (!fired) {
            ASSERT_EQ(st, VEK_ST_SUCCESS);
            g_calls.clear();
            EXPECT_EQ(items_of(list), reference_walk(type, input, cmp));
            EXPECT_EQ(calls, g_calls);
            vek_strlist_list_free(list);
            return;
        }
        EXPECT_EQ(st, VEK_ST_NO_MEMORY);
        EXPECT_EQ(list, nullptr);
        g_calls.clear();
        reference_walk(type, walked, cmp);
        EXPECT_EQ(calls, g_calls);
    });
    EXPECT_EQ(points, per_item * input.size());
}

TEST_F(StrlistCompare, EveryAllocationFailureReleasesEverythingAfterWalking) {
    sweep_walk(VEK_STRLIST_INT32, "7,8,9,10", rec_i32<within_one>, {"7", "8", "9", "10"});
    sweep_walk(VEK_STRLIST_INT32, "1:4", rec_i32<within_one>, {"1", "2", "3", "4"});
    sweep_walk(VEK_STRLIST_INT32, "3,1,2", rec_i32<ascending>, {"3", "1", "2"});
    sweep_walk(VEK_STRLIST_INT64, "4,0:5,2", rec_i64<cyclic>, {"4", "0", "1", "2", "3", "4", "5", "2"});
    sweep_walk(VEK_STRLIST_INT32, "5,2:3,9", rec_i32<always_after>, {"5", "2", "3", "9"});
    sweep_walk(VEK_STRLIST_STRING, "ab,cd,bc,x", rec_str<shared_letter>, {"ab", "cd", "bc", "x"});
    sweep_walk(VEK_STRLIST_STRING, "b,a,c", rec_str<text_order>, {"b", "a", "c"});
    sweep_walk(VEK_STRLIST_CUSVAL, "ab,cd,bc", rec_cus<shared_letter>, {"ab", "cd", "bc"});
    sweep_walk(VEK_STRLIST_CUSVAL, "m,c,x", rec_cus<text_order>, {"m", "c", "x"});
}

// A text that turns out bad after items were walked into the list: the
// documented status, a null list, nothing left allocated, and the calls
// of the items made before.
TEST_F(StrlistCompare, BadTextAfterWalkedItemsReleasesThePartialList) {
    const std::string long_item(VEK_STRLIST_MAX_ITEM_LEN + 1, '7');
    struct Case {
        vek_strlist_type_t type;
        std::string text;
        vek_strlist_cmp_fn cmp;
        vek_st_t status;
        Items made; // the items inserted before the failure
    };
    const std::vector<Case> cases = {
        {2, "7,8,9,5:3", rec_i32<within_one>, VEK_ST_STRLIST_INV_RANGE, {"7", "8", "9"}},
        {2, "1:3,4:", rec_i32<within_one>, VEK_ST_STRLIST_INV_RANGE, {"1", "2", "3"}},
        {3, "0:2,:1", rec_i64<cyclic>, VEK_ST_STRLIST_INV_RANGE, {"0", "1", "2"}},
        {2, "3,1,2," + long_item, rec_i32<ascending>, VEK_ST_STRLIST_ITEM_EXCEED, {"3", "1", "2"}},
        {2, "2,1,0:16777214", rec_i32<always_after>, VEK_ST_STRLIST_ITEM_EXCEED, {"2", "1"}},
        {1, "ab,cd,bc," + long_item, rec_str<shared_letter>, VEK_ST_STRLIST_ITEM_EXCEED, {"ab", "cd", "bc"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(vektest::format("type %u text \"%.40s\"", c.type, c.text.c_str()));
        g_calls.clear();
        EXPECT_EQ(build(c.text.c_str(), c.type, c.cmp), c.status);
        EXPECT_EQ(list_, nullptr);
        const Calls calls = g_calls;
        g_calls.clear();
        reference_walk(c.type, c.made, c.cmp);
        EXPECT_EQ(calls, g_calls);
        EXPECT_FALSE(calls.empty());
    }
}

} // namespace
