// Enumeration of a map level by index, key counting and value collection.
#include <cstdint>
#include <functional>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include <vek/vekcommon.h>

#include "vektest.hpp"

namespace {

using vektest::format;
using vektest::ptr;

vek_map_value_t *const kSentinel = reinterpret_cast<vek_map_value_t *>(static_cast<uintptr_t>(0x5A5A5A5Au));

// A map holding rx = 1, tx = 2, RX = 3 (i32), in that order.
class QueryTest : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ASSERT_EQ(vek_map_create(&map_), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_i32_ll(map_, "rx", 1, 0), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_i32_ll(map_, "tx", 2, 0), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_i32_ll(map_, "RX", 3, 0), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_create(&empty_), VEK_ST_SUCCESS);
    }
    void TearDown() override {
        vek_map_destroy(map_);
        vek_map_destroy(empty_);
        LeakCheckedTest::TearDown();
    }

    vek_map_value_t *node(int32_t i) const { return map_->values[i]; }

    vek_map_t *map_ = nullptr;
    vek_map_t *empty_ = nullptr;
    vek_map_t foreign_{}; // magic 0: not a map
};

// ---- index operations ------------------------------------------------------

TEST_F(QueryTest, Length) {
    int32_t n = -7;
    EXPECT_EQ(vek_map_length(map_, &n), VEK_ST_SUCCESS);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(vek_map_length(empty_, &n), VEK_ST_SUCCESS);
    EXPECT_EQ(n, 0);
}

TEST_F(QueryTest, InvalidMapIsRefusedByEveryOperation) {
    for (vek_map_t *bad : {static_cast<vek_map_t *>(nullptr), &foreign_}) {
        int32_t n = -7, type = -7;
        char *key = reinterpret_cast<char *>(kSentinel);
        vek_map_value_t *value = kSentinel;
        vek_map_value_t *values[2] = {kSentinel, kSentinel};
        uint32_t found = 99;
        EXPECT_EQ(vek_map_length(bad, &n), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_ith_key(bad, 0, &key), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_ith_value(bad, 0, &value), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_ith_type(bad, 0, &type), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_count_keys(bad, "rx", &found), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_all_values(bad, "rx", values, 2, &found, 0), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_ith_key_value(bad, 0, "rx", &value), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_ith_key_value(bad, 0, "", &value), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(n, -7);
        EXPECT_EQ(type, -7);
        EXPECT_EQ(key, reinterpret_cast<char *>(kSentinel));
        EXPECT_EQ(value, kSentinel);
        EXPECT_EQ(values[0], kSentinel);
        EXPECT_EQ(found, 99u);
    }
}

TEST_F(QueryTest, IthKeyValueAndType) {
    for (int32_t i = 0; i < 3; ++i) {
        char *key = nullptr;
        vek_map_value_t *value = nullptr;
        int32_t type = 0;
        EXPECT_EQ(vek_map_get_ith_key(map_, i, &key), VEK_ST_SUCCESS);
        EXPECT_EQ(key, map_->keys[i]); // the map's own pointer
        EXPECT_EQ(vek_map_get_ith_value(map_, i, &value), VEK_ST_SUCCESS);
        EXPECT_EQ(value, node(i));
        EXPECT_EQ(value->payload.i32, i + 1);
        EXPECT_EQ(vek_map_get_ith_type(map_, i, &type), VEK_ST_SUCCESS);
        EXPECT_EQ(type, VEK_MAP_TYPE_I32);
    }
    char *last = nullptr;
    ASSERT_EQ(vek_map_get_ith_key(map_, 2, &last), VEK_ST_SUCCESS);
    EXPECT_STREQ(last, "RX");
}

TEST_F(QueryTest, IndexOutOfRangeWritesNothing) {
    for (int32_t i : {-1, 3, INT32_MIN, INT32_MAX}) {
        char *key = reinterpret_cast<char *>(kSentinel);
        vek_map_value_t *value = kSentinel;
        int32_t type = -7;
        EXPECT_EQ(vek_map_get_ith_key(map_, i, &key), VEK_ST_MAP_INVALID_INDEX) << i;
        EXPECT_EQ(vek_map_get_ith_value(map_, i, &value), VEK_ST_MAP_INVALID_INDEX) << i;
        EXPECT_EQ(vek_map_get_ith_type(map_, i, &type), VEK_ST_MAP_INVALID_INDEX) << i;
        EXPECT_EQ(key, reinterpret_cast<char *>(kSentinel));
        EXPECT_EQ(value, kSentinel);
        EXPECT_EQ(type, -7);
    }
    vek_map_value_t *value = kSentinel;
    EXPECT_EQ(vek_map_get_ith_value(empty_, 0, &value), VEK_ST_MAP_INVALID_INDEX);
    EXPECT_EQ(value, kSentinel);
}

TEST_F(QueryTest, NullOutParametersAreRefused) {
    EXPECT_EQ(vek_map_length(map_, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_ith_key(map_, 0, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_ith_value(map_, 0, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_ith_type(map_, 0, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_ith_key_value(map_, 0, "rx", nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_ith_key_value(map_, 0, "", nullptr), VEK_ST_INVALID_PARAMETER);
}

// An entry set with a null node: its node reads as null and its type as
// VEK_MAP_TYPE_NONE, both with status 0.
TEST_F(QueryTest, EntryWithoutNode) {
    ASSERT_EQ(vek_map_set_value_ll(map_, "none", nullptr, 0), VEK_ST_SUCCESS);
    vek_map_value_t *value = kSentinel;
    int32_t type = 0;
    EXPECT_EQ(vek_map_get_ith_value(map_, 3, &value), VEK_ST_SUCCESS);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(vek_map_get_ith_type(map_, 3, &type), VEK_ST_SUCCESS);
    EXPECT_EQ(type, VEK_MAP_TYPE_NONE);

    vek_map_value_t *values[2] = {kSentinel, kSentinel};
    uint32_t found = 0;
    EXPECT_EQ(vek_map_get_all_values(map_, "NONE", values, 2, &found, 0), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(values[0], nullptr);
    EXPECT_EQ(values[1], kSentinel);
    value = kSentinel;
    EXPECT_EQ(vek_map_get_ith_key_value(map_, 0, "none", &value), VEK_ST_SUCCESS);
    EXPECT_EQ(value, nullptr);
}

// ---- counting --------------------------------------------------------------

TEST_F(QueryTest, CountKeysIgnoresCase) {
    uint32_t found = 99;
    EXPECT_EQ(vek_map_count_keys(map_, "rx", &found), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 2u);
    EXPECT_EQ(vek_map_count_keys(map_, "TX", &found), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(vek_map_count_keys(map_, "r", &found), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 0u);
    found = 99;
    EXPECT_EQ(vek_map_count_keys(empty_, "rx", &found), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 0u);
    EXPECT_EQ(vek_map_count_keys(map_, "rx", nullptr), VEK_ST_SUCCESS);
}

TEST_F(QueryTest, CountKeysComparesThisLevelOnly) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.b", 1, 1), VEK_ST_SUCCESS);
    uint32_t found = 99;
    EXPECT_EQ(vek_map_count_keys(map_, "a.b", &found), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 0u);
    EXPECT_EQ(vek_map_count_keys(map_, "a", &found), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 1u);
}

TEST_F(QueryTest, NullKeyMatchesNothing) {
    uint32_t found = 99;
    EXPECT_EQ(vek_map_count_keys(map_, nullptr, &found), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 0u);
    vek_map_value_t *values[2] = {kSentinel, kSentinel};
    found = 99;
    EXPECT_EQ(vek_map_get_all_values(map_, nullptr, values, 2, &found, 0), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 0u);
    EXPECT_EQ(values[0], kSentinel);
    found = 99;
    EXPECT_EQ(vek_map_get_all_values(map_, nullptr, nullptr, 2, &found, 1), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 0u);
}

// ---- collecting ------------------------------------------------------------

struct CollectCase {
    const char *key;
    uint32_t keyLength;
    uint32_t maxValues;
    uint32_t found;
    int32_t entries[3]; // entry indexes of the nodes expected, in order
};

TEST_F(QueryTest, GetAllValues) {
    const CollectCase cases[] = {
        {"r", 1, 8, 2, {0, 2}},    // prefix search, entry order
        {"r", 0, 8, 0, {}},        // whole key: no match
        {"rx", 0, 8, 2, {0, 2}},   // whole key, case ignored
        {"rx", 0, 1, 1, {0}},      // stops at maxValues
        {"tx", 0, 8, 1, {1}},      //
        {"Rxyz", 2, 8, 2, {0, 2}}, // only the first keyLength characters count
        {"", 0, 8, 0, {}},         // an empty key matches no (non-empty) key
        {"x", 1, 8, 0, {}},        //
        {"rx", 0, 0, 0, {}},       // maxValues 0
        {"rx", 3, 8, 2, {0, 2}},   // keyLength beyond both texts: whole-text compare
    };
    for (const CollectCase &c : cases) {
        SCOPED_TRACE(format("key %s, keyLength %u, maxValues %u", c.key, c.keyLength, c.maxValues));
        vek_map_value_t *values[9];
        for (auto &v : values) v = kSentinel;
        uint32_t found = 99;
        EXPECT_EQ(vek_map_get_all_values(map_, c.key, values, c.maxValues, &found, c.keyLength), VEK_ST_SUCCESS);
        EXPECT_EQ(found, c.found);
        for (uint32_t k = 0; k < c.found; ++k) EXPECT_EQ(values[k], node(c.entries[k])) << k;
        for (uint32_t k = c.found; k < 9; ++k) EXPECT_EQ(values[k], kSentinel) << k;

        // Counting only (null array), and without nKeysFound.
        found = 99;
        EXPECT_EQ(vek_map_get_all_values(map_, c.key, nullptr, c.maxValues, &found, c.keyLength), VEK_ST_SUCCESS);
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(vek_map_get_all_values(map_, c.key, values, c.maxValues, nullptr, c.keyLength), VEK_ST_SUCCESS);
    }
}

TEST_F(QueryTest, GetAllValuesOnEmptyMap) {
    vek_map_value_t *values[1] = {kSentinel};
    uint32_t found = 99;
    EXPECT_EQ(vek_map_get_all_values(empty_, "rx", values, 1, &found, 0), VEK_ST_SUCCESS);
    EXPECT_EQ(found, 0u);
    EXPECT_EQ(values[0], kSentinel);
}

// ---- indexed match ---------------------------------------------------------

TEST_F(QueryTest, IthKeyValue) {
    struct Case {
        int32_t idx;
        const char *key;
        vek_st_t status;
        int32_t entry; // expected node's entry index
    };
    const Case cases[] = {
        {0, "rx", 0, 0},
        {1, "rx", 0, 2},
        {1, "RX", 0, 2},
        {2, "rx", VEK_ST_MAP_INVALID_INDEX, -1},
        {-1, "rx", VEK_ST_MAP_INVALID_INDEX, -1},
        {0, "tx", 0, 1},
        {0, "r", VEK_ST_MAP_INVALID_INDEX, -1},
        {0, "", 0, 0},
        {2, "", 0, 2},
        {0, nullptr, 0, 0},
        {1, nullptr, 0, 1},
        {3, "", VEK_ST_MAP_INVALID_INDEX, -1},
        {-1, nullptr, VEK_ST_MAP_INVALID_INDEX, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(format("idx %d, key %s", c.idx, c.key != nullptr ? c.key : "(null)"));
        vek_map_value_t *value = kSentinel;
        EXPECT_EQ(vek_map_get_ith_key_value(map_, c.idx, c.key, &value), c.status);
        EXPECT_EQ(value, c.entry >= 0 ? node(c.entry) : kSentinel);
    }
    vek_map_value_t *value = kSentinel;
    EXPECT_EQ(vek_map_get_ith_key_value(empty_, 0, "rx", &value), VEK_ST_MAP_INVALID_INDEX);
    EXPECT_EQ(value, kSentinel);
}

// ---- trace lines -----------------------------------------------------------

// The address of a search's local length variable is not known to the
// caller: it prints as ADDR in the expected texts.
std::string hide_length_address(const std::string &text) {
    static const std::regex re("(vek_map_length vek_map=[0-9a-f]+ length=)[0-9a-f]+\n");
    return std::regex_replace(text, re, "$1ADDR\n");
}

class QueryTraceTest : public QueryTest {
protected:
    std::string traced(const std::function<void()> &fn) {
        vektest::TraceLevel trace(12);
        return vektest::capture_stdout(fn);
    }
    std::string length_lines(const vek_map_t *m, const char *status_and_length) {
        return format("vek_map_length vek_map=%llx length=ADDR\nvek_map_length %s\n", ptr(m), status_and_length);
    }
    std::string key_lines(int32_t i, const char *status = "6a") {
        return format("vek_map_get_ith_key map=%llx i=%llx\nvek_map_get_ith_key vekStatus=%s\n", ptr(map_),
                      static_cast<unsigned long long>(static_cast<long long>(i)), i >= 0 && i < 3 ? "0" : status);
    }
};

TEST_F(QueryTraceTest, IndexOperations) {
    int32_t n = 0, type = 0;
    char *key = nullptr;
    vek_map_value_t *value = kSentinel;
    EXPECT_EQ(traced([&] { vek_map_length(map_, &n); }),
              format("vek_map_length vek_map=%llx length=%llx\nvek_map_length vekStatus=0 length=3\n", ptr(map_),
                     ptr(&n)));
    EXPECT_EQ(traced([&] { vek_map_get_ith_key(map_, -1, &key); }), key_lines(-1));
    EXPECT_EQ(traced([&] { vek_map_get_ith_value(map_, 1, &value); }),
              format("vek_map_get_ith_value map=%llx i=1 value=%llx\nvek_map_get_ith_value vekStatus=0 value=%llx\n",
                     ptr(map_), ptr(&value), ptr(node(1))));
    EXPECT_EQ(traced([&] { vek_map_get_ith_type(map_, 3, &type); }),
              format("vek_map_get_ith_type map=%llx i=3 type=%llx\nvek_map_get_ith_type vekStatus=6a type=0\n",
                     ptr(map_), ptr(&type)));
    type = -1;
    EXPECT_EQ(traced([&] { vek_map_get_ith_type(nullptr, 0, &type); }),
              format("vek_map_get_ith_type map=0 i=0 type=%llx\n"
                     "vek_map_get_ith_type vekStatus=67 type=ffffffffffffffff\n",
                     ptr(&type)));
}

TEST_F(QueryTraceTest, CountKeysNestsLengthAndKeyLines) {
    uint32_t found = 0;
    const std::string out = hide_length_address(traced([&] { vek_map_count_keys(map_, "rx", &found); }));
    EXPECT_EQ(out, format("vek_map_count_keys map=%llx\n", ptr(map_)) + length_lines(map_, "vekStatus=0 length=3") +
                       key_lines(0) + key_lines(1) + key_lines(2) + "vek_map_count_keys vekStatus=0 nKeysFound=2\n");
}

TEST_F(QueryTraceTest, CountKeysOfInvalidMap) {
    uint32_t found = 0;
    const std::string out = hide_length_address(traced([&] { vek_map_count_keys(&foreign_, "rx", &found); }));
    EXPECT_EQ(out, format("vek_map_count_keys map=%llx\n", ptr(&foreign_)) +
                       length_lines(&foreign_, "vekStatus=67 length=0") +
                       "vek_map_count_keys vekStatus=67 nKeysFound=0\n");
}

TEST_F(QueryTraceTest, GetAllValuesNestsIndexLines) {
    vek_map_value_t *values[2] = {kSentinel, kSentinel};
    uint32_t found = 0;
    const std::string out =
        hide_length_address(traced([&] { vek_map_get_all_values(map_, "r", values, 2, &found, 1); }));
    auto value_lines = [&](int32_t i, vek_map_value_t **slot) {
        return format("vek_map_get_ith_value map=%llx i=%d value=%llx\n"
                      "vek_map_get_ith_value vekStatus=0 value=%llx\n",
                      ptr(map_), i, ptr(slot), ptr(node(i)));
    };
    EXPECT_EQ(out, format("vek_map_get_all_values map=%llx value=%llx maxValues=2 nKeysFound=%llx keyLength=1\n",
                          ptr(map_), ptr(values), ptr(&found)) +
                       length_lines(map_, "vekStatus=0 length=3") + key_lines(0) + value_lines(0, &values[0]) +
                       key_lines(1) + key_lines(2) + value_lines(2, &values[1]) +
                       format("vek_map_get_all_values vekStatus=0 value=%llx, nKeysFound=2\n", ptr(node(0))));
}

TEST_F(QueryTraceTest, GetAllValuesCountingOnlyAndEarlyStop) {
    uint32_t found = 0;
    const std::string out =
        hide_length_address(traced([&] { vek_map_get_all_values(map_, "RX", nullptr, 1, &found, 0); }));
    EXPECT_EQ(out, format("vek_map_get_all_values map=%llx value=0 maxValues=1 nKeysFound=%llx keyLength=0\n",
                          ptr(map_), ptr(&found)) +
                       length_lines(map_, "vekStatus=0 length=3") + key_lines(0) +
                       "vek_map_get_all_values vekStatus=0 value=0, nKeysFound=1\n");
}

TEST_F(QueryTraceTest, IthKeyValueWithKey) {
    vek_map_value_t *value = kSentinel;
    const std::string out = hide_length_address(traced([&] { vek_map_get_ith_key_value(map_, 1, "rx", &value); }));
    EXPECT_EQ(out, format("vek_map_get_ith_key_value map=%llx idx=1 value=%llx\n", ptr(map_), ptr(&value)) +
                       length_lines(map_, "vekStatus=0 length=3") + key_lines(0) + key_lines(1) + key_lines(2) +
                       format("vek_map_get_ith_value map=%llx i=2 value=%llx\n"
                              "vek_map_get_ith_value vekStatus=0 value=%llx\n"
                              "vek_map_get_ith_key_value vekStatus=0 value=%llx\n",
                              ptr(map_), ptr(&value), ptr(node(2)), ptr(node(2))));
}

TEST_F(QueryTraceTest, IthKeyValueMatchAndMiss) {
    vek_map_value_t *value = nullptr;
    const std::string out = hide_length_address(traced([&] { vek_map_get_ith_key_value(map_, 0, "tx", &value); }));
    EXPECT_EQ(out, format("vek_map_get_ith_key_value map=%llx idx=0 value=%llx\n", ptr(map_), ptr(&value)) +
                       length_lines(map_, "vekStatus=0 length=3") + key_lines(0) + key_lines(1) +
                       format("vek_map_get_ith_value map=%llx i=1 value=%llx\n"
                              "vek_map_get_ith_value vekStatus=0 value=%llx\n"
                              "vek_map_get_ith_key_value vekStatus=0 value=%llx\n",
                              ptr(map_), ptr(&value), ptr(node(1)), ptr(node(1))));
    value = nullptr;
    const std::string miss = hide_length_address(traced([&] { vek_map_get_ith_key_value(map_, 1, "tx", &value); }));
    EXPECT_EQ(miss, format("vek_map_get_ith_key_value map=%llx idx=1 value=%llx\n", ptr(map_), ptr(&value)) +
                        length_lines(map_, "vekStatus=0 length=3") + key_lines(0) + key_lines(1) + key_lines(2) +
                        "vek_map_get_ith_key_value vekStatus=6a value=0\n");
}

// A negative index never matches, but the entries are still walked: every
// key is read before the operation answers VEK_ST_MAP_INVALID_INDEX.
TEST_F(QueryTraceTest, IthKeyValueNegativeIndexWalksEveryEntry) {
    vek_map_value_t *value = kSentinel;
    const std::string out = hide_length_address(
        traced([&] { EXPECT_EQ(vek_map_get_ith_key_value(map_, -1, "rx", &value), VEK_ST_MAP_INVALID_INDEX); }));
    EXPECT_EQ(out,
              format("vek_map_get_ith_key_value map=%llx idx=ffffffffffffffff value=%llx\n", ptr(map_), ptr(&value)) +
                  length_lines(map_, "vekStatus=0 length=3") + key_lines(0) + key_lines(1) + key_lines(2) +
                  format("vek_map_get_ith_key_value vekStatus=6a value=%llx\n", ptr(kSentinel)));
    EXPECT_EQ(value, kSentinel);
}

// With an empty key the operation hands over to vek_map_get_ith_value,
// which prints the only exit line.
TEST_F(QueryTraceTest, IthKeyValueHandsOverWithEmptyKey) {
    vek_map_value_t *value = nullptr;
    EXPECT_EQ(traced([&] { vek_map_get_ith_key_value(map_, 2, "", &value); }),
              format("vek_map_get_ith_key_value map=%llx idx=2 value=%llx\n"
                     "vek_map_get_ith_value map=%llx i=2 value=%llx\n"
                     "vek_map_get_ith_value vekStatus=0 value=%llx\n",
                     ptr(map_), ptr(&value), ptr(map_), ptr(&value), ptr(node(2))));
}

TEST_F(QueryTraceTest, SilentWhenTracingIsOff) {
    vektest::TraceLevel trace(3);
    uint32_t found = 0;
    EXPECT_EQ(vektest::capture_stdout([&] { vek_map_count_keys(map_, "rx", &found); }), "");
}

} // namespace
