// String-list iterator, node accessors, list release and memory wrappers.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vektest.hpp"

namespace {

class StrlistIter : public vektest::LeakCheckedTest {
protected:
    void TearDown() override {
        vek_strlist_list_free(list_);
        vektest::LeakCheckedTest::TearDown();
    }
    void build(const char *text, vek_strlist_type_t type) {
        ASSERT_EQ(vek_strlist_list_build(text, type, ',', '-', nullptr, nullptr, &list_), VEK_ST_SUCCESS);
    }
    vek_strlist_node_t *list_ = nullptr;
};

TEST_F(StrlistIter, WalksEveryNodeInOrder) {
    build("3,1,2", VEK_STRLIST_INT32);
    vek_strlist_iter_t *iter = nullptr;
    ASSERT_EQ(vek_strlist_iter_fetch(list_, &iter), VEK_ST_SUCCESS);
    ASSERT_NE(iter, nullptr);
    EXPECT_EQ(iter->first, list_);
    EXPECT_EQ(iter->current, list_);
    std::vector<int32_t> seen;
    while (vek_strlist_iter_hasNext(iter) == 1) {
        vek_strlist_node_t *node = vek_strlist_iter_getNext(iter);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(iter->current, node->next);
        int32_t v = 0;
        EXPECT_EQ(vek_strlist_node_val_getInt32(node, &v), VEK_ST_SUCCESS);
        seen.push_back(v);
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(vek_strlist_iter_hasNext(iter), 0);
    EXPECT_EQ(vek_strlist_iter_getNext(iter), nullptr);
    EXPECT_EQ(vek_strlist_iter_getNext(iter), nullptr);
    EXPECT_EQ(iter->first, list_);
    vek_strlist_iter_free(iter);
}

TEST_F(StrlistIter, FetchChecksListThenOutParameter) {
    build("1", VEK_STRLIST_INT32);
    auto *untouched = reinterpret_cast<vek_strlist_iter_t *>(&list_);
    vek_strlist_iter_t *iter = untouched;
    EXPECT_EQ(vek_strlist_iter_fetch(nullptr, &iter), VEK_ST_STRLIST_INV_LIST);
    EXPECT_EQ(iter, untouched);
    EXPECT_EQ(vek_strlist_iter_fetch(nullptr, nullptr), VEK_ST_STRLIST_INV_LIST);
    EXPECT_EQ(vek_strlist_iter_fetch(list_, nullptr), VEK_ST_STRLIST_INV_ITER);
}

TEST_F(StrlistIter, NullIteratorIsHarmless) {
    EXPECT_EQ(vek_strlist_iter_hasNext(nullptr), 0);
    EXPECT_EQ(vek_strlist_iter_getNext(nullptr), nullptr);
    vek_strlist_iter_free(nullptr);
}

TEST_F(StrlistIter, FetchAllocationFailureGivesNullIterator) {
    build("1,2", VEK_STRLIST_INT32);
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t) {
        vek_strlist_iter_t *iter = reinterpret_cast<vek_strlist_iter_t *>(&list_);
        const vek_st_t st = vek_strlist_iter_fetch(list_, &iter);
        if (vek_saltest_faults_fired() != 0) {
            EXPECT_EQ(st, VEK_ST_NO_MEMORY);
            EXPECT_EQ(iter, nullptr);
        } else {
            EXPECT_EQ(st, VEK_ST_SUCCESS);
            vek_strlist_iter_free(iter);
        }
    });
    EXPECT_EQ(points, 1u);
}

TEST_F(StrlistIter, ReleasingTheIteratorLeavesTheListAlone) {
    build("a,b", VEK_STRLIST_STRING);
    vek_strlist_iter_t *iter = nullptr;
    ASSERT_EQ(vek_strlist_iter_fetch(list_, &iter), VEK_ST_SUCCESS);
    vek_strlist_iter_getNext(iter);
    const long live = vek_saltest_heap_live();
    vek_strlist_iter_free(iter);
    EXPECT_EQ(vek_saltest_heap_live(), live - 1);
    const char *s = nullptr;
    EXPECT_EQ(vek_strlist_node_val_getString(list_->next, &s), VEK_ST_SUCCESS);
    EXPECT_STREQ(s, "b");
}

// The accessors on hand-made nodes: the checks come in the order node,
// value record, type; a failed check leaves the out-parameter alone.
TEST(StrlistAccess, ChecksNodeThenRecordThenType) {
    char text[] = "txt";
    vek_strlist_val_t vals[5] = {};
    vals[1].type = VEK_STRLIST_STRING;
    vals[1].payload.str = text;
    vals[2].type = VEK_STRLIST_INT32;
    vals[2].payload.i32 = -7;
    vals[3].type = VEK_STRLIST_INT64;
    vals[3].payload.i64 = -8;
    vals[4].type = VEK_STRLIST_CUSVAL;
    vals[4].payload.cusval = 0x1234;
    vek_strlist_node_t nodes[5] = {};
    for (int t = 1; t <= 4; ++t) nodes[t].value = &vals[t];
    vek_strlist_node_t bare{}; // no value record

    for (int t = 1; t <= 4; ++t) {
        vek_strlist_node_t *node = &nodes[t];
        SCOPED_TRACE(t);
        const char *s = "keep";
        int32_t i32 = 5;
        int64_t i64 = 6;
        uintptr_t cv = 7;
        const auto want = [t](int type) { return t == type ? VEK_ST_SUCCESS : VEK_ST_STRLIST_INV_TYPE; };
        EXPECT_EQ(vek_strlist_node_val_getString(node, &s), want(1));
        EXPECT_EQ(vek_strlist_node_val_getInt32(node, &i32), want(2));
        EXPECT_EQ(vek_strlist_node_val_getInt64(node, &i64), want(3));
        EXPECT_EQ(vek_strlist_node_val_getCusval(node, &cv), want(4));
        EXPECT_EQ(s, t == 1 ? text : "keep");
        EXPECT_EQ(i32, t == 2 ? -7 : 5);
        EXPECT_EQ(i64, t == 3 ? -8 : 6);
        EXPECT_EQ(cv, t == 4 ? 0x1234u : 7u);
        vek_strlist_type_t type = 0;
        EXPECT_EQ(vek_strlist_node_val_getType(node, &type), VEK_ST_SUCCESS);
        EXPECT_EQ(type, static_cast<vek_strlist_type_t>(t));
    }

    const char *s = "keep";
    int32_t i32 = 5;
    int64_t i64 = 6;
    uintptr_t cv = 7;
    vek_strlist_type_t type = 9;
    EXPECT_EQ(vek_strlist_node_val_getString(nullptr, &s), VEK_ST_STRLIST_INV_NODE);
    EXPECT_EQ(vek_strlist_node_val_getInt32(nullptr, &i32), VEK_ST_STRLIST_INV_NODE);
    EXPECT_EQ(vek_strlist_node_val_getInt64(nullptr, &i64), VEK_ST_STRLIST_INV_NODE);
    EXPECT_EQ(vek_strlist_node_val_getCusval(nullptr, &cv), VEK_ST_STRLIST_INV_NODE);
    EXPECT_EQ(vek_strlist_node_val_getType(nullptr, &type), VEK_ST_STRLIST_INV_NODE);
    EXPECT_EQ(vek_strlist_node_val_getString(&bare, &s), VEK_ST_STRLIST_INV_VALUE);
    EXPECT_EQ(vek_strlist_node_val_getInt32(&bare, &i32), VEK_ST_STRLIST_INV_VALUE);
    EXPECT_EQ(vek_strlist_node_val_getInt64(&bare, &i64), VEK_ST_STRLIST_INV_VALUE);
    EXPECT_EQ(vek_strlist_node_val_getCusval(&bare, &cv), VEK_ST_STRLIST_INV_VALUE);
    EXPECT_EQ(vek_strlist_node_val_getType(&bare, &type), VEK_ST_STRLIST_INV_NODE);
    EXPECT_STREQ(s, "keep");
    EXPECT_EQ(i32, 5);
    EXPECT_EQ(i64, 6);
    EXPECT_EQ(cv, 7u);
    EXPECT_EQ(type, 9u);
}

TEST_F(StrlistIter, StringAccessorHandsOutTheListsOwnCopy) {
    const char text[] = "name";
    build(text, VEK_STRLIST_STRING);
    const char *s = nullptr;
    ASSERT_EQ(vek_strlist_node_val_getString(list_, &s), VEK_ST_SUCCESS);
    EXPECT_EQ(s, list_->value->payload.str);
    EXPECT_NE(s, text);
    EXPECT_STREQ(s, "name");
}

// A list made by hand with gaps: nodes without records, null payloads.
TEST_F(StrlistIter, ListFreeReleasesEveryBlockAndToleratesGaps) {
    EXPECT_EQ(vek_strlist_list_free(nullptr), VEK_ST_SUCCESS);
    const auto node = [](vek_strlist_node_t *next, vek_strlist_val_t *val) {
        auto *n = static_cast<vek_strlist_node_t *>(vek_strlist_malloc(sizeof(vek_strlist_node_t)));
        n->next = next;
        n->value = val;
        return n;
    };
    const auto record = [](vek_strlist_type_t type, uintptr_t word) {
        auto *v = static_cast<vek_strlist_val_t *>(vek_strlist_malloc(sizeof(vek_strlist_val_t)));
        v->type = type;
        v->payload.cusval = word;
        return v;
    };
    const long live = vek_saltest_heap_live();
    vek_strlist_node_t *list = node(nullptr, record(VEK_STRLIST_CUSVAL, 0));
    list = node(list, record(VEK_STRLIST_STRING, 0));
    list = node(list, nullptr);
    list = node(list, record(VEK_STRLIST_CUSVAL, reinterpret_cast<uintptr_t>(vek_strlist_malloc(16))));
    list = node(list, record(VEK_STRLIST_STRING, reinterpret_cast<uintptr_t>(vek_strlist_strdup("s"))));
    list = node(list, record(VEK_STRLIST_INT32, 5));
    EXPECT_EQ(vek_saltest_heap_live(), live + 13);
    EXPECT_EQ(vek_strlist_list_free(list), VEK_ST_SUCCESS);
}

TEST_F(StrlistIter, MemoryWrappersUseThePlatformHeap) {
    const long live = vek_saltest_heap_live();
    void *p = vek_strlist_malloc(8);
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "1234567", 8);
    p = vek_strlist_realloc(p, 4096);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(static_cast<char *>(p), "1234567");
    char *s = vek_strlist_strdup("copy me");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "copy me");
    EXPECT_EQ(vek_saltest_heap_live(), live + 2);
    vek_strlist_free(s);
    vek_strlist_free(p);
    EXPECT_EQ(vek_strlist_strdup(nullptr), nullptr);

    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vek_strlist_strdup("x"), nullptr);
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vek_strlist_malloc(1), nullptr);
}

} // namespace
