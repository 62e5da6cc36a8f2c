// Map model: life cycle, typed set/get, ownership, delete, clear, entries
// without a node, trace lines, and allocation failures of set and delete.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "model_support.hpp"
#include "trace_support.hpp"

using maptest::MapTest;
using vektest::format;
using vektest::ptr;

namespace {

using ModelTest = MapTest;

std::vector<std::string> keys_of(const vek_map_t *m) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < m->count; ++i) out.emplace_back(m->keys[i]);
    return out;
}

TEST_F(ModelTest, CreateGivesAnEmptyValidMap) {
    EXPECT_EQ(map_->magic, VEK_MAP_MAGIC);
    EXPECT_EQ(map_->count, 0);
    EXPECT_EQ(map_->keys, nullptr);
    EXPECT_EQ(map_->values, nullptr);
}

TEST_F(ModelTest, CreateFailureLeavesTheOutVariableAlone) {
    vek_map_t *m = reinterpret_cast<vek_map_t *>(0x1234);
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vek_map_create(&m), VEK_ST_NO_MEMORY);
    EXPECT_EQ(m, reinterpret_cast<vek_map_t *>(0x1234));
}

TEST_F(ModelTest, InvalidMapIsRefusedByEveryOperation) {
    vek_map_t bad{};
    bad.magic = 0x1234;
    int32_t i32 = 7;
    vek_map_value_t *node = nullptr;
    void *bin = nullptr;
    uint32_t len = 0;
    for (vek_map_t *m : {static_cast<vek_map_t *>(nullptr), &bad}) {
        EXPECT_EQ(vek_map_destroy(m), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_clear(m), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_delete(m, "a"), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_set_i32_ll(m, "a", 1, 1), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_set_value_ll(m, "a", nullptr, 1), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_set_bin_ll(m, "a", nullptr, 0, 1), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_i32(m, "a", &i32), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_value(m, "a", &node), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_bin(m, "a", &bin, &len), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_get_type(m, "a", &i32), VEK_ST_MAP_INVALID_MAP);
    }
    EXPECT_EQ(i32, 7);
    EXPECT_EQ(bad.magic, 0x1234u);
}

// Every setter stores its type; every getter accepts exactly its types.
TEST_F(ModelTest, GettersAcceptExactlyTheirTypes) {
    ASSERT_EQ(vek_map_set_str_ll(map_, "str", maptest::text("hi"), 1), 0u);
    vek_map_t *child = nullptr;
    ASSERT_EQ(vek_map_create(&child), 0u);
    ASSERT_EQ(vek_map_set_map_ll(map_, "map", child, 1), 0u);
    void *bytes = vek_map_malloc(3);
    ASSERT_EQ(vek_map_set_bin_ll(map_, "bin", bytes, 3, 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "i32", -1, 1), 0u);
    ASSERT_EQ(vek_map_set_i64_ll(map_, "i64", -2, 1), 0u);
    ASSERT_EQ(vek_map_set_float_ll(map_, "float", 1.5f, 1), 0u);
    ASSERT_EQ(vek_map_set_bool_ll(map_, "bool", 9, 1), 0u);
    ASSERT_EQ(vek_map_set_u32_ll(map_, "u32", 0xFFFFFFF0u, 1), 0u);
    ASSERT_EQ(vek_map_set_double_ll(map_, "double", -2.25, 1), 0u);
    ASSERT_EQ(vek_map_set_u64_ll(map_, "u64", 0x8000000000000001ull, 1), 0u);
    const std::vector<std::string> keys{"str", "map", "bin", "i32", "i64", "float", "bool", "u32", "double", "u64"};
    EXPECT_EQ(keys_of(map_), keys);
    for (size_t i = 0; i < keys.size(); ++i) {
        int32_t type = 0;
        EXPECT_EQ(vek_map_get_type(map_, keys[i].c_str(), &type), 0u);
        EXPECT_EQ(type, static_cast<int32_t>(i + 1)) << keys[i];
    }

    struct Getter {
        const char *name;
        std::function<vek_st_t(const char *)> get;
        std::vector<std::string> accepts;
    };
    int32_t i32 = 0;
    uint32_t u32 = 0;
    int64_t i64 = 0;
    uint64_t u64 = 0;
    float f = 0;
    double d = 0;
    uint8_t b = 0;
    char *s = nullptr;
    vek_map_t *m = nullptr;
    void *bin = nullptr;
    uint32_t len = 0;
    const std::vector<Getter> getters{
        {"i32", [&](const char *k) { return vek_map_get_i32(map_, k, &i32); }, {"i32"}},
        {"u32", [&](const char *k) { return vek_map_get_u32(map_, k, &u32); }, {"u32", "i32"}},
        {"i64", [&](const char *k) { return vek_map_get_i64(map_, k, &i64); }, {"i64"}},
        {"u64", [&](const char *k) { return vek_map_get_u64(map_, k, &u64); }, {"u64", "i64"}},
        {"float", [&](const char *k) { return vek_map_get_float(map_, k, &f); }, {"float"}},
        {"double", [&](const char *k) { return vek_map_get_double(map_, k, &d); }, {"double"}},
        {"bool", [&](const char *k) { return vek_map_get_bool(map_, k, &b); }, {"bool"}},
        {"str", [&](const char *k) { return vek_map_get_str(map_, k, &s); }, {"str"}},
        {"map", [&](const char *k) { return vek_map_get_map(map_, k, &m); }, {"map"}},
        {"bin", [&](const char *k) { return vek_map_get_bin(map_, k, &bin, &len); }, {"bin"}},
    };
    for (const Getter &g : getters) {
        for (const std::string &k : keys) {
            const bool ok = std::find(g.accepts.begin(), g.accepts.end(), k) != g.accepts.end();
            EXPECT_EQ(g.get(k.c_str()), ok ? VEK_ST_SUCCESS : VEK_ST_MAP_INVALID_TYPE) << g.name << " of " << k;
        }
    }
    // The values read by the accepted getters (the last accepted key wins).
    EXPECT_EQ(i32, -1);
    EXPECT_EQ(u32, 0xFFFFFFF0u);
    EXPECT_EQ(i64, -2);
    EXPECT_EQ(u64, 0x8000000000000001ull);
    EXPECT_EQ(f, 1.5f);
    EXPECT_EQ(d, -2.25);
    EXPECT_EQ(b, 9); // the byte unchanged
    EXPECT_STREQ(s, "hi");
    EXPECT_EQ(m, child);
    EXPECT_EQ(bin, bytes);
    EXPECT_EQ(len, 3u);
    // The signed types read through the unsigned getters keep their bits.
    EXPECT_EQ(vek_map_get_u32(map_, "i32", &u32), 0u);
    EXPECT_EQ(u32, 0xFFFFFFFFu);
    EXPECT_EQ(vek_map_get_u64(map_, "i64", &u64), 0u);
    EXPECT_EQ(u64, 0xFFFFFFFFFFFFFFFEull);
}

TEST_F(ModelTest, FailedGetLeavesOutParametersUnchanged) {
    ASSERT_EQ(vek_map_set_u32_ll(map_, "u", 5, 1), 0u);
    int32_t v = 77;
    EXPECT_EQ(vek_map_get_i32(map_, "u", &v), VEK_ST_MAP_INVALID_TYPE);
    EXPECT_EQ(vek_map_get_i32(map_, "missing", &v), VEK_ST_MAP_KEY_NOT_EXIST);
    EXPECT_EQ(v, 77);
    void *bin = &v;
    uint32_t len = 3;
    EXPECT_EQ(vek_map_get_bin(map_, "u", &bin, &len), VEK_ST_MAP_INVALID_TYPE);
    EXPECT_EQ(bin, &v);
    EXPECT_EQ(len, 3u);
}

TEST_F(ModelTest, ReplacingWithCheckForKeyKeepsPositionAndReleasesOldStorage) {
    ASSERT_EQ(vek_map_set_str_ll(map_, "a", maptest::text("old"), 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "b", 1, 1), 0u);
    char *fresh = maptest::text("new");
    ASSERT_EQ(vek_map_set_str_ll(map_, "A", fresh, 1), 0u);
    EXPECT_EQ(keys_of(map_), (std::vector<std::string>{"a", "b"}));
    char *got = nullptr;
    ASSERT_EQ(vek_map_get_str(map_, "a", &got), 0u);
    EXPECT_EQ(got, fresh); // taken over, not copied
    // A map value replaced by a number releases the whole child tree.
    ASSERT_EQ(vek_map_set_i32_ll(map_, "b.c.d", 1, 1), 0u);
    ASSERT_EQ(vek_map_set_u64_ll(map_, "b", 2, 1), 0u);
    int32_t type = 0;
    ASSERT_EQ(vek_map_get_type(map_, "b", &type), 0u);
    EXPECT_EQ(type, VEK_MAP_TYPE_U64);
    // Setting the same node again keeps it.
    vek_map_value_t *node = nullptr;
    ASSERT_EQ(vek_map_get_value(map_, "b", &node), 0u);
    ASSERT_EQ(vek_map_set_value_ll(map_, "b", node, 1), 0u);
    EXPECT_EQ(map_->values[1], node);
}

TEST_F(ModelTest, DuplicateKeysWithoutCheckAndDeleteOfTheFirst) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "x", 1, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "x", 2, 0), 0u);
    EXPECT_EQ(map_->count, 2);
    int32_t v = 0;
    ASSERT_EQ(vek_map_get_i32(map_, "x", &v), 0u);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(vek_map_delete(map_, "X"), 0u);
    ASSERT_EQ(vek_map_get_i32(map_, "x", &v), 0u);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(map_->count, 1);
}

TEST_F(ModelTest, DeleteMovesTheLastEntryIntoTheGap) {
    for (const char *k : {"e0", "e1", "e2"}) ASSERT_EQ(vek_map_set_bool_ll(map_, k, 1, 1), 0u);
    char **keys_before = map_->keys;
    ASSERT_EQ(vek_map_delete(map_, "e0"), 0u);
    EXPECT_EQ(keys_of(map_), (std::vector<std::string>{"e2", "e1"}));
    EXPECT_EQ(map_->keys, keys_before); // arrays keep their size
    ASSERT_EQ(vek_map_delete(map_, "e1"), 0u);
    ASSERT_EQ(vek_map_delete(map_, "e2"), 0u);
    EXPECT_EQ(map_->count, 0);
    EXPECT_NE(map_->keys, nullptr);
    ASSERT_EQ(vek_map_clear(map_), 0u);
    EXPECT_EQ(map_->count, 0);
    EXPECT_EQ(map_->keys, nullptr);
    EXPECT_EQ(map_->values, nullptr);
}

TEST_F(ModelTest, DeleteStatuses) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.b", 1, 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port.id", 3, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port.id", 4, 0), 0u);
    EXPECT_EQ(vek_map_delete(map_, "a.b"), VEK_ST_MAP_KEY_NOT_EXIST);
    EXPECT_EQ(vek_map_delete(map_, "port[id4]"), VEK_ST_MAP_INVALID_SEARCH);
    EXPECT_EQ(vek_map_delete(map_, "port[id=9]"), VEK_ST_MAP_KEY_NOT_EXIST);
    EXPECT_EQ(vek_map_delete(map_, "a[id=1]"), VEK_ST_MAP_KEY_NOT_EXIST); // a's map has no id
    ASSERT_EQ(vek_map_set_i32_ll(map_, "n", 1, 1), 0u);
    EXPECT_EQ(vek_map_delete(map_, "n[id=1]"), VEK_ST_MAP_INVALID_MAP); // n is no map
    ASSERT_EQ(vek_map_delete(map_, "port[id=4]"), 0u);
    int32_t id = 0;
    ASSERT_EQ(vek_map_get_i32(map_, "port.id", &id), 0u);
    EXPECT_EQ(id, 3);
}

// The key of a delete is not split at '.', and the text after a selector's
// ']' is ignored: a dot there does not stop the match.
TEST_F(ModelTest, DeleteIgnoresTextAfterTheSelector) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port.id", 3, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port.id", 4, 0), 0u);
    EXPECT_EQ(vek_map_delete(map_, "port.id"), VEK_ST_MAP_KEY_NOT_EXIST);
    ASSERT_EQ(vek_map_delete(map_, "port[id=4].speed"), 0u);
    EXPECT_EQ(map_->count, 1);
    int32_t id = 0;
    ASSERT_EQ(vek_map_get_i32(map_, "port.id", &id), 0u);
    EXPECT_EQ(id, 3);
}

TEST_F(ModelTest, FreeValueStatuses) {
    EXPECT_EQ(vek_map_free_value(nullptr), VEK_ST_ERROR);
    auto *node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    node->type = VEK_MAP_TYPE_MAP;
    node->payload.map = nullptr;
    EXPECT_EQ(vek_map_free_value(node), VEK_ST_MAP_INVALID_MAP); // released all the same
    node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    node->type = VEK_MAP_TYPE_BIN;
    node->payload.bin.data = vek_map_malloc(10);
    node->payload.bin.len = 10;
    EXPECT_EQ(vek_map_free_value(node), VEK_ST_SUCCESS);
}

TEST_F(ModelTest, MemoryWrappers) {
    void *p = vek_map_malloc(16);
    ASSERT_NE(p, nullptr);
    p = vek_map_realloc(p, 4096);
    ASSERT_NE(p, nullptr);
    vek_map_free(p);
    vek_map_free(nullptr);
    EXPECT_EQ(vek_map_strdup(nullptr), nullptr);
    char *s = vek_map_strdup("abc");
    EXPECT_STREQ(s, "abc");
    vek_map_free(s);
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vek_map_strdup("abc"), nullptr);
}

// An entry holding no node: NONE for the type, 105 for typed getters, not a
// map on the way through a path.
TEST_F(ModelTest, EntryWithoutNode) {
    ASSERT_EQ(vek_map_set_value_ll(map_, "n", nullptr, 1), 0u);
    vek_map_value_t *node = reinterpret_cast<vek_map_value_t *>(0x10);
    ASSERT_EQ(vek_map_get_value(map_, "n", &node), 0u);
    EXPECT_EQ(node, nullptr);
    int32_t type = 0;
    ASSERT_EQ(vek_map_get_type(map_, "n", &type), 0u);
    EXPECT_EQ(type, VEK_MAP_TYPE_NONE);
    int32_t v = 5;
    EXPECT_EQ(vek_map_get_i32(map_, "n", &v), VEK_ST_MAP_INVALID_TYPE);
    vek_map_t *m = nullptr;
    EXPECT_EQ(vek_map_get_map(map_, "n", &m), VEK_ST_MAP_INVALID_TYPE);
    EXPECT_EQ(vek_map_get_i32(map_, "n.x", &v), VEK_ST_MAP_INTERNAL_ERROR);
    EXPECT_EQ(vek_map_delete(map_, "n[id=1]"), VEK_ST_MAP_INVALID_MAP);
    // A set through it turns it into a map.
    ASSERT_EQ(vek_map_set_i32_ll(map_, "n.x", 4, 1), 0u);
    ASSERT_EQ(vek_map_get_i32(map_, "n.x", &v), 0u);
    EXPECT_EQ(v, 4);
    EXPECT_EQ(map_->count, 1);
    // Clear and delete cope with such entries.
    ASSERT_EQ(vek_map_set_value_ll(map_, "z", nullptr, 0), 0u);
    ASSERT_EQ(vek_map_delete(map_, "z"), 0u);
    ASSERT_EQ(vek_map_set_value_ll(map_, "z", nullptr, 0), 0u);
    ASSERT_EQ(vek_map_clear(map_), 0u);
}

TEST_F(ModelTest, SetThroughMapEntryWithoutValidChildFails) {
    ASSERT_EQ(vek_map_set_map_ll(map_, "m", nullptr, 1), 0u);
    vek_map_t foreign{};
    ASSERT_EQ(vek_map_set_map_ll(map_, "f", &foreign, 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "keep", 1, 1), 0u);
    EXPECT_EQ(vek_map_set_i32_ll(map_, "m.x", 1, 1), VEK_ST_MAP_INVALID_MAP);
    EXPECT_EQ(vek_map_set_i32_ll(map_, "f.x", 1, 1), VEK_ST_MAP_INVALID_MAP);
    int32_t v = 0;
    EXPECT_EQ(vek_map_get_i32(map_, "m.x", &v), VEK_ST_MAP_INVALID_MAP);
    EXPECT_EQ(keys_of(map_), (std::vector<std::string>{"m", "f", "keep"}));
    // The foreign object is not ours: drop that entry's node by hand.
    vek_map_value_t *node = map_->values[1];
    map_->values[1] = nullptr;
    vek_map_free(node);
}

// Trees of any depth are released without recursion.
TEST_F(ModelTest, DeepTreesAreReleasedIteratively) {
    constexpr int kDepth = 200000;
    vek_map_t *leaf = nullptr;
    ASSERT_EQ(vek_map_create(&leaf), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(leaf, "v", 1, 0), 0u);
    for (int i = 0; i < kDepth; ++i) {
        vek_map_t *up = nullptr;
        ASSERT_EQ(vek_map_create(&up), 0u);
        ASSERT_EQ(vek_map_set_map_ll(up, "m", leaf, 0), 0u);
        if (i % 1000 == 0) {
            ASSERT_EQ(vek_map_set_str_ll(up, "after", maptest::text("t"), 0), 0u);
        }
        leaf = up;
    }
    ASSERT_EQ(vek_map_set_map_ll(map_, "deep", leaf, 0), 0u);
    ASSERT_EQ(vek_map_clear(map_), 0u);
    EXPECT_EQ(map_->count, 0);
}

TEST_F(ModelTest, LongDottedPathsUseConstantStack) {
    std::string path = "k";
    for (int i = 0; i < 20000; ++i) path += ".k";
    ASSERT_EQ(vek_map_set_i32_ll(map_, path.c_str(), 42, 1), 0u);
    int32_t v = 0;
    ASSERT_EQ(vek_map_get_i32(map_, path.c_str(), &v), 0u);
    EXPECT_EQ(v, 42);
    ASSERT_EQ(vek_map_set_i32_ll(map_, path.c_str(), 43, 1), 0u);
    ASSERT_EQ(vek_map_get_i32(map_, path.c_str(), &v), 0u);
    EXPECT_EQ(v, 43);
    EXPECT_EQ(map_->count, 1);
    ASSERT_EQ(vek_map_destroy(map_), 0u);
    map_ = nullptr;
}

TEST_F(ModelTest, FailedSetLeavesTakenOverStorageWithTheCaller) {
    char *text = maptest::text("mine");
    EXPECT_EQ(vek_map_set_str_ll(nullptr, "k", text, 1), VEK_ST_MAP_INVALID_MAP);
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vek_map_set_str_ll(map_, "k", text, 1), VEK_ST_NO_MEMORY);
    EXPECT_EQ(map_->count, 0);
    vek_map_free(text);
}

TEST_F(ModelTest, NullKeysAndOutParametersAreRefused) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "k", 1, 0), 0u);
    EXPECT_EQ(vek_map_set_i32_ll(map_, nullptr, 1, 0), VEK_ST_INVALID_PARAMETER);
    int32_t v = 0;
    EXPECT_EQ(vek_map_get_i32(map_, nullptr, &v), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_i32(map_, "k", nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_bin(map_, "k", nullptr, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_value(map_, "k", nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_type(map_, "k", nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_delete(map_, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(map_->count, 1);
}

// The null checks come right after the map check, before the key path is
// resolved, and the operation prints its exit line.
TEST_F(ModelTest, NullOutParametersAreRefusedBeforeResolution) {
    EXPECT_EQ(vek_map_get_i32(map_, "missing", nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_str(map_, "a[x", nullptr), VEK_ST_INVALID_PARAMETER);
    void *data = nullptr;
    EXPECT_EQ(vek_map_get_bin(map_, "missing", &data, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_value(map_, "missing", nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_type(map_, "missing", nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_get_i32(nullptr, "missing", nullptr), VEK_ST_MAP_INVALID_MAP);
    vektest::TraceLevel level(4);
    EXPECT_EQ(vektest::capture_stdout([&] { vek_map_get_double(map_, "missing", nullptr); }),
              format("vek_map_get_double vek_map=%llx\nvek_map_get_double vekStatus=7\n", ptr(map_)));
}

TEST_F(ModelTest, CreateRefusesANullOutParameter) {
    EXPECT_EQ(vek_map_create(nullptr), VEK_ST_INVALID_PARAMETER);
    vektest::TraceLevel level(4);
    EXPECT_EQ(vektest::capture_stdout([] { vek_map_create(nullptr); }),
              "vek_map_create map=0\nvek_map_create vekStatus=7\n");
}

// ---- trace lines ----

std::string traced(const std::function<void()> &fn) {
    vektest::TraceLevel level(4);
    return vektest::capture_stdout(fn);
}

TEST_F(ModelTest, TraceLinesOfLifeCycle) {
    vek_map_t *m = nullptr;
    std::string out = traced([&] { vek_map_create(&m); });
    EXPECT_EQ(out, format("vek_map_create map=%llx\nvek_map_create vekStatus=0\n", ptr(&m)));
    out = traced([&] { vek_map_clear(m); });
    EXPECT_EQ(out, format("vek_map_clear vek_map=%llx\nvek_map_clear vekStatus=0\n", ptr(m)));
    out = traced([&] { vek_map_delete(m, "x"); });
    EXPECT_EQ(out, format("vek_map_delete vek_map=%llx\nvek_map_delete vekStatus=68\n", ptr(m)));
    // Destroy clears first: the clear's lines sit inside the destroy's.
    out = traced([&] { vek_map_destroy(m); });
    EXPECT_EQ(out, format("vek_map_destroy vek_map=%llx\nvek_map_clear vek_map=%llx\nvek_map_clear vekStatus=0\n"
                          "vek_map_destroy vekStatus=0\n",
                          ptr(m), ptr(m)));
    out = traced([&] { vek_map_free_value(nullptr); });
    EXPECT_EQ(out, "vek_map_free_value v=0\nvek_map_free_value vekStatus=1\n");
    char *copy = nullptr;
    const char *src = "abc";
    out = traced([&] { copy = vek_map_strdup(src); });
    EXPECT_EQ(out, format("vek_map_strdup str=%llx\nvek_map_strdup dstr=%llx\n", ptr(src), ptr(copy)));
    vek_map_free(copy);
    EXPECT_EQ(traced([] { vek_map_free(vek_map_malloc(4)); }), ""); // wrappers do not trace
}

// Each set appends a new entry here: the key copy is made with
// vek_map_strdup, whose lines sit between the set's.
TEST_F(ModelTest, TraceLinesOfSet) {
    const unsigned long long m = ptr(map_);
    using maptest::strdup_lines;
    using maptest::trace_matches;
    auto key = [&](int i) { return ptr(map_->keys[i]); };
    std::string out = traced([&] { vek_map_set_i32_ll(map_, "a", -2, 1); });
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_i32_ll vek_map=%llx value=fffffffffffffffe checkForKey=1\n", m) +
                                       strdup_lines(key(0)) + "vek_map_set_i32_ll vekStatus=0\n"));
    out = traced([&] { vek_map_set_u64_ll(map_, "b", 0xABCDEF0123ull, 0); });
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_u64_ll vek_map=%llx value=abcdef0123 checkForKey=0\n", m) +
                                       strdup_lines(key(1)) + "vek_map_set_u64_ll vekStatus=0\n"));
    out = traced([&] { vek_map_set_bool_ll(map_, "c", 0x80, 7); });
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_bool_ll vek_map=%llx value=80 checkForKey=7\n", m) +
                                       strdup_lines(key(2)) + "vek_map_set_bool_ll vekStatus=0\n"));
    out = traced([&] { vek_map_set_float_ll(map_, "d", 1.0f, 1); });
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_float_ll vek_map=%llx checkForKey=1\n", m) +
                                       strdup_lines(key(3)) + "vek_map_set_float_ll vekStatus=0\n"));
    EXPECT_EQ(traced([&] { vek_map_set_double_ll(nullptr, "d", 1.0, 1); }),
              "vek_map_set_double_ll vek_map=0 checkForKey=1\nvek_map_set_double_ll vekStatus=67\n");
    void *bytes = vek_map_malloc(2);
    out = traced([&] { vek_map_set_bin_ll(map_, "e", bytes, 2, 1); });
    EXPECT_TRUE(
        trace_matches(out, format("vek_map_set_bin_ll vek_map=%llx value=%llx len=2 checkForKey=1\n", m, ptr(bytes)) +
                               strdup_lines(key(4)) + "vek_map_set_bin_ll vekStatus=0\n"));
    char *s = maptest::text("s");
    out = traced([&] { vek_map_set_str_ll(map_, "f", s, 1); });
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_str_ll vek_map=%llx value=%llx checkForKey=1\n", m, ptr(s)) +
                                       strdup_lines(key(5)) + "vek_map_set_str_ll vekStatus=0\n"));
    out = traced([&] { vek_map_set_value_ll(map_, "g", nullptr, 1); });
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_value_ll vek_map=%llx value=0 checkForKey=1\n", m) +
                                       strdup_lines(key(6)) + "vek_map_set_value_ll vekStatus=0\n"));
}

TEST_F(ModelTest, TraceLinesOfGet) {
    const unsigned long long m = ptr(map_);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a", -2, 1), 0u);
    int32_t v = 0;
    EXPECT_EQ(traced([&] { vek_map_get_i32(map_, "a", &v); }),
              format("vek_map_get_i32 vek_map=%llx value=%llx\nvek_map_get_i32 vekStatus=0 value=fffffffffffffffe\n", m,
                     ptr(&v)));
    // An unresolved key prints no exit line; a type mismatch does.
    EXPECT_EQ(traced([&] { vek_map_get_i32(map_, "zz", &v); }),
              format("vek_map_get_i32 vek_map=%llx value=%llx\n", m, ptr(&v)));
    uint8_t b = 3;
    EXPECT_EQ(traced([&] { vek_map_get_bool(map_, "a", &b); }),
              format("vek_map_get_bool vek_map=%llx value=%llx\nvek_map_get_bool vekStatus=69 value=3\n", m, ptr(&b)));
    float f = 0;
    EXPECT_EQ(traced([&] { vek_map_get_float(map_, "a", &f); }),
              format("vek_map_get_float vek_map=%llx\nvek_map_get_float vekStatus=69\n", m));
    void *data = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(traced([&] { vek_map_get_bin(map_, "a", &data, &len); }),
              format("vek_map_get_bin vek_map=%llx value=%llx len=%llx\nvek_map_get_bin vekStatus=69 value=0 len=0\n",
                     m, ptr(&data), ptr(&len)));
    vek_map_value_t *node = nullptr;
    EXPECT_EQ(traced([&] { vek_map_get_value(map_, "a", &node); }),
              format("vek_map_get_value vek_map=%llx\nvek_map_get_value vekStatus=0 value=%llx\n", m,
                     ptr(map_->values[0])));
    int32_t type = 0;
    EXPECT_EQ(traced([&] { vek_map_get_type(map_, "a", &type); }),
              format("vek_map_get_type vek_map=%llx type=%llx\nvek_map_get_type vekStatus=0 type=4\n", m, ptr(&type)));
}

// ---- allocation failures ----

// Builds the same starting tree every time.
void build_base(vek_map_t *m) {
    ASSERT_EQ(vek_map_set_i32_ll(m, "n", 5, 1), 0u);
    ASSERT_EQ(vek_map_set_str_ll(m, "port.name", maptest::text("eth0"), 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(m, "port.id", 3, 0), 0u);
    ASSERT_EQ(vek_map_set_u32_ll(m, "port.id", 4, 0), 0u);
    ASSERT_EQ(vek_map_set_value_ll(m, "none", nullptr, 1), 0u);
}

struct SetCase {
    const char *what;
    std::function<vek_st_t(vek_map_t *)> set;
};

TEST_F(ModelTest, SetUnderAllocationFailureChangesNothing) {
    vek_map_t *reference = nullptr;
    ASSERT_EQ(vek_map_create(&reference), 0u);
    build_base(reference);
    const std::vector<SetCase> cases{
        {"new deep path, check", [](vek_map_t *m) { return vek_map_set_i32_ll(m, "a.b.c", 1, 1); }},
        {"new deep path, no check", [](vek_map_t *m) { return vek_map_set_u64_ll(m, "n.b.c", 1, 0); }},
        {"replace leaf", [](vek_map_t *m) { return vek_map_set_double_ll(m, "n", 2.0, 1); }},
        {"convert i32 into map", [](vek_map_t *m) { return vek_map_set_i32_ll(m, "n.x.y", 1, 1); }},
        {"convert null node", [](vek_map_t *m) { return vek_map_set_bool_ll(m, "none.x", 1, 1); }},
        {"selector, existing", [](vek_map_t *m) { return vek_map_set_i32_ll(m, "port[id=4].speed", 10, 1); }},
        {"selector, missing", [](vek_map_t *m) { return vek_map_set_i32_ll(m, "port[id=9].speed", 10, 1); }},
        {"into existing child", [](vek_map_t *m) { return vek_map_set_float_ll(m, "port.x.y", 1.0f, 1); }},
    };
    for (const SetCase &c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t nth) {
            // Build without faults, then make the nth allocation of the set fail.
            vek_saltest_reset();
            vek_map_t *m = nullptr;
            ASSERT_EQ(vek_map_create(&m), 0u);
            build_base(m);
            vek_saltest_fail_alloc(VEK_SALTEST_HEAP, nth, 1);
            const vek_st_t st = c.set(m);
            vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
            std::string why;
            if (st != VEK_ST_SUCCESS) {
                EXPECT_EQ(st, VEK_ST_NO_MEMORY);
                EXPECT_TRUE(maptest::same_tree(m, reference, &why)) << why;
            }
            vek_map_destroy(m);
        });
        EXPECT_GT(points, 0u);
    }
    vek_map_destroy(reference);
}

// Appending to a map of every size from empty (the arrays absent) up, with
// each heap allocation of the set failing in turn: a failed append leaves
// both arrays (the blocks themselves, not only their contents) and the
// count as they were, and both arrays stay absent on a map that never
// held an entry.
TEST_F(ModelTest, FailedAppendKeepsTheArrays) {
    for (int before = 0; before <= 9; ++before) {
        for (uint8_t check : {uint8_t{0}, uint8_t{1}}) {
            SCOPED_TRACE(::testing::Message() << before << " entries, checkForKey " << int{check});
            const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t nth) {
                vek_saltest_reset();
                vek_map_t *m = nullptr;
                ASSERT_EQ(vek_map_create(&m), 0u);
                for (int i = 0; i < before; ++i) {
                    const std::string name = format("e%d", i);
                    ASSERT_EQ(vek_map_set_i32_ll(m, name.c_str(), i, 0), 0u);
                }
                char **keys = m->keys;
                vek_map_value_t **values = m->values;
                const std::vector<std::string> names = keys_of(m);
                const std::vector<vek_map_value_t *> nodes(values, values + before);
                vek_saltest_fail_alloc(VEK_SALTEST_HEAP, nth, 1);
                const vek_st_t st = vek_map_set_i32_ll(m, "k", 1, check);
                vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
                if (st == VEK_ST_SUCCESS) {
                    EXPECT_EQ(m->count, before + 1);
                    int32_t v = 0;
                    EXPECT_EQ(vek_map_get_i32(m, "k", &v), 0u);
                    EXPECT_EQ(v, 1);
                } else {
                    EXPECT_EQ(st, VEK_ST_NO_MEMORY);
                    EXPECT_EQ(m->count, before);
                    EXPECT_EQ(m->keys, keys);
                    EXPECT_EQ(m->values, values);
                    EXPECT_EQ(keys_of(m), names);
                    EXPECT_EQ(std::vector<vek_map_value_t *>(m->values, m->values + before), nodes);
                }
                vek_map_destroy(m);
            });
            EXPECT_GT(points, 0u);
        }
    }
}

// The first append to a fresh map: the heap allocations after the head
// copy (arrays, key copy, node) fail one by one; the map keeps no array.
TEST_F(ModelTest, FailedFirstAppendLeavesBothArraysAbsent) {
    for (uint32_t nth = 2; nth <= 5; ++nth) {
        vek_saltest_reset();
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, nth, 1);
        EXPECT_EQ(vek_map_set_i32_ll(map_, "k", 1, 0), VEK_ST_NO_MEMORY) << nth;
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
        EXPECT_EQ(vek_saltest_faults_fired(), 1u) << nth;
        EXPECT_EQ(map_->count, 0) << nth;
        EXPECT_EQ(map_->keys, nullptr) << nth;
        EXPECT_EQ(map_->values, nullptr) << nth;
    }
}

// Storing a slot's own text, byte block or child map back into it through
// a typed setter keeps the storage (nothing is released, nothing dangles),
// with or without a change of the byte block's length.
TEST_F(ModelTest, StoringASlotsOwnStorageBackKeepsIt) {
    ASSERT_EQ(vek_map_set_str_ll(map_, "s", maptest::text("text"), 1), 0u);
    void *bytes = vek_map_malloc(4);
    std::memcpy(bytes, "abcd", 4);
    ASSERT_EQ(vek_map_set_bin_ll(map_, "b", bytes, 4, 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "m.x", 7, 1), 0u);
    char *s = nullptr;
    vek_map_t *child = nullptr;
    ASSERT_EQ(vek_map_get_str(map_, "s", &s), 0u);
    ASSERT_EQ(vek_map_get_map(map_, "m", &child), 0u);
    const long live = vek_saltest_heap_live();
    const unsigned long long m = ptr(map_);
    EXPECT_EQ(traced([&] { EXPECT_EQ(vek_map_set_str_ll(map_, "s", s, 1), 0u); }),
              format("vek_map_set_str_ll vek_map=%llx value=%llx checkForKey=1\n"
                     "vek_map_set_str_ll vekStatus=0\n",
                     m, ptr(s)));
    EXPECT_EQ(vek_map_set_bin_ll(map_, "B", bytes, 3, 1), 0u);
    EXPECT_EQ(vek_map_set_map_ll(map_, "m", child, 1), 0u);
    EXPECT_EQ(vek_saltest_heap_live(), live);
    EXPECT_EQ(map_->count, 3);

    char *s2 = nullptr;
    void *b2 = nullptr;
    uint32_t len = 0;
    int32_t x = 0;
    ASSERT_EQ(vek_map_get_str(map_, "s", &s2), 0u);
    EXPECT_EQ(s2, s);
    EXPECT_STREQ(s2, "text");
    ASSERT_EQ(vek_map_get_bin(map_, "b", &b2, &len), 0u);
    EXPECT_EQ(b2, bytes);
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(std::memcmp(b2, "abc", 3), 0);
    ASSERT_EQ(vek_map_get_i32(map_, "m.x", &x), 0u);
    EXPECT_EQ(x, 7);
    // Another value still replaces the storage as usual.
    ASSERT_EQ(vek_map_set_str_ll(map_, "s", maptest::text("new"), 1), 0u);
    ASSERT_EQ(vek_map_get_str(map_, "s", &s2), 0u);
    EXPECT_STREQ(s2, "new");
}

TEST_F(ModelTest, DeleteUnderAllocationFailure) {
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t nth) {
        vek_saltest_reset();
        vek_map_t *m = nullptr;
        ASSERT_EQ(vek_map_create(&m), 0u);
        build_base(m);
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, nth, 1);
        const vek_st_t st = vek_map_delete(m, "port[id=4]");
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
        if (st == VEK_ST_SUCCESS) {
            EXPECT_EQ(keys_of(m), (std::vector<std::string>{"n", "port", "port", "none"}));
        } else {
            EXPECT_EQ(st, VEK_ST_NO_MEMORY);
            EXPECT_EQ(m->count, 5);
        }
        vek_map_destroy(m);
    });
    EXPECT_EQ(points, 2u); // the copies of the key and of its selector
}

} // namespace
