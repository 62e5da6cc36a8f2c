// Trace lines of the exported calls that map operations make as steps of
// their work, nested inside the caller's lines: key copies (vek_map_strdup),
// node releases (vek_map_free_value), and the destroy and clear of child
// maps that a release is made of; in the decoder also vek_map_create, the
// destroy of a failed child and the clears after a failure; in the copy the
// encode and decode.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model_support.hpp"
#include "trace_support.hpp"

using maptest::MapTest;
using maptest::Stream;
using maptest::strdup_lines;
using maptest::trace_matches;
using maptest::VecReader;
using vektest::format;
using vektest::ptr;

namespace {

using NestedTraceTest = MapTest;

std::string traced(const std::function<void()> &fn) {
    vektest::TraceLevel level(4);
    return vektest::capture_stdout(fn);
}

vek_map_t *child_of(const vek_map_t *m, int i) { return m->values[i]->payload.map; }

// Expected lines of the calls a release is made of.
std::string free_value(const void *node, const std::string &inner, vek_st_t st) {
    return format("vek_map_free_value v=%llx\n", ptr(node)) + inner + format("vek_map_free_value vekStatus=%x\n", st);
}
std::string free_leaf(const void *node) { return free_value(node, "", VEK_ST_SUCCESS); }
std::string clear(const vek_map_t *m, const std::string &inner) {
    return format("vek_map_clear vek_map=%llx\n", ptr(m)) + inner + "vek_map_clear vekStatus=0\n";
}
std::string destroy(const vek_map_t *m, const std::string &inner) {
    return format("vek_map_destroy vek_map=%llx\n", ptr(m)) + clear(m, inner) + "vek_map_destroy vekStatus=0\n";
}
// vek_map_free_value of a node holding a valid child map.
std::string free_map_node(const vek_map_value_t *node, const std::string &inner) {
    return free_value(node, destroy(node->payload.map, inner), VEK_ST_SUCCESS);
}

// The matcher used below: exact text, "{}" any hex value, "{X}" the same
// hex value everywhere.
TEST(NestedTraceMatcher, MatchesOnlyWhatItShould) {
    EXPECT_TRUE(trace_matches("a v=1f w=1f x=0\n", "a v={V} w={V} x={}\n"));
    EXPECT_FALSE(trace_matches("a v=1f w=2f\n", "a v={V} w={V}\n"));
    EXPECT_FALSE(trace_matches("a v=\n", "a v={}\n"));
    EXPECT_FALSE(trace_matches("a v=1\nmore\n", "a v={}\n"));
    EXPECT_FALSE(trace_matches("a v=1\n", "a v={}\nmore\n"));
    EXPECT_FALSE(trace_matches("b v=1\n", "a v={}\n"));
    EXPECT_FALSE(trace_matches("a v=1F\n", "a v={}\n"));
}

// ---- set ----

TEST_F(NestedTraceTest, SetThatAppendsCopiesEachNewKey) {
    const auto m = ptr(map_);
    // A new path: one key copy per level, outermost first. The new
    // intermediate map and the fresh nodes print nothing.
    std::string out = traced([&] { EXPECT_EQ(vek_map_set_i32_ll(map_, "a.b", 1, 1), 0u); });
    vek_map_t *a = child_of(map_, 0);
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_i32_ll vek_map=%llx value=1 checkForKey=1\n", m) +
                                       strdup_lines(ptr(map_->keys[0])) + strdup_lines(ptr(a->keys[0])) +
                                       "vek_map_set_i32_ll vekStatus=0\n"));
    // With the key check the existing "a" is reused: only "c" is copied.
    out = traced([&] { EXPECT_EQ(vek_map_set_u32_ll(map_, "A.c", 2, 1), 0u); });
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_u32_ll vek_map=%llx value=2 checkForKey=1\n", m) +
                                       strdup_lines(ptr(a->keys[1])) + "vek_map_set_u32_ll vekStatus=0\n"));
    // Without it every level is appended.
    out = traced([&] { EXPECT_EQ(vek_map_set_i32_ll(map_, "a.d", 3, 0), 0u); });
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_i32_ll vek_map=%llx value=3 checkForKey=0\n", m) +
                                       strdup_lines(ptr(map_->keys[1])) +
                                       strdup_lines(ptr(child_of(map_, 1)->keys[0])) +
                                       "vek_map_set_i32_ll vekStatus=0\n"));
    // A selector that matches nothing: the bare name is copied.
    out = traced([&] { EXPECT_EQ(vek_map_set_i32_ll(map_, "port[id=9].speed", 4, 1), 0u); });
    ASSERT_STREQ(map_->keys[2], "port");
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_i32_ll vek_map=%llx value=4 checkForKey=1\n", m) +
                                       strdup_lines(ptr(map_->keys[2])) +
                                       strdup_lines(ptr(child_of(map_, 2)->keys[0])) +
                                       "vek_map_set_i32_ll vekStatus=0\n"));
    // Replacing a leaf in place appends nothing and copies no key.
    vek_map_value_t *old = a->values[0];
    out = traced([&] { EXPECT_EQ(vek_map_set_i32_ll(map_, "a.b", 5, 1), 0u); });
    EXPECT_EQ(out, format("vek_map_set_i32_ll vek_map=%llx value=5 checkForKey=1\n", m) + free_leaf(old) +
                       "vek_map_set_i32_ll vekStatus=0\n");
}

TEST_F(NestedTraceTest, KeyCopyThatRunsOutOfMemory) {
    // Allocations of this set: the head copy, the keys array, the key copy.
    vek_saltest_reset();
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 3, 1);
    const std::string out = traced([&] { EXPECT_EQ(vek_map_set_i32_ll(map_, "z", 1, 0), VEK_ST_NO_MEMORY); });
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
    EXPECT_EQ(vek_saltest_faults_fired(), 1u);
    EXPECT_TRUE(trace_matches(out, format("vek_map_set_i32_ll vek_map=%llx value=1 checkForKey=0\n"
                                          "vek_map_strdup str={}\nvek_map_strdup dstr=0\n"
                                          "vek_map_set_i32_ll vekStatus=2\n",
                                          ptr(map_))));
    EXPECT_EQ(map_->count, 0);
}

TEST_F(NestedTraceTest, SetThatReplacesATextAndAMap) {
    const auto m = ptr(map_);
    ASSERT_EQ(vek_map_set_str_ll(map_, "s", maptest::text("old"), 1), 0u);
    vek_map_value_t *s_node = map_->values[0];
    char *fresh = maptest::text("new");
    std::string out = traced([&] { EXPECT_EQ(vek_map_set_str_ll(map_, "s", fresh, 1), 0u); });
    EXPECT_EQ(out, format("vek_map_set_str_ll vek_map=%llx value=%llx checkForKey=1\n", m, ptr(fresh)) +
                       free_leaf(s_node) + "vek_map_set_str_ll vekStatus=0\n");

    // "m" holds x, y and a map "sub" holding z: replacing "m" frees its node,
    // which destroys the child, which clears it, which frees each entry.
    ASSERT_EQ(vek_map_set_i32_ll(map_, "m.x", 1, 1), 0u);
    ASSERT_EQ(vek_map_set_str_ll(map_, "m.y", maptest::text("t"), 1), 0u);
    ASSERT_EQ(vek_map_set_u64_ll(map_, "m.sub.z", 2, 1), 0u);
    vek_map_value_t *m_node = map_->values[1];
    const vek_map_t *mm = m_node->payload.map;
    const vek_map_t *sub = child_of(mm, 2);
    const std::string expected = format("vek_map_set_i32_ll vek_map=%llx value=5 checkForKey=1\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_destroy vek_map=%llx\n"
                                        "vek_map_clear vek_map=%llx\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_destroy vek_map=%llx\n"
                                        "vek_map_clear vek_map=%llx\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_clear vekStatus=0\n"
                                        "vek_map_destroy vekStatus=0\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_clear vekStatus=0\n"
                                        "vek_map_destroy vekStatus=0\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_set_i32_ll vekStatus=0\n",
                                        m, ptr(m_node), ptr(mm), ptr(mm), ptr(mm->values[0]), ptr(mm->values[1]),
                                        ptr(mm->values[2]), ptr(sub), ptr(sub), ptr(sub->values[0]));
    out = traced([&] { EXPECT_EQ(vek_map_set_i32_ll(map_, "m", 5, 1), 0u); });
    EXPECT_EQ(out, expected);
    int32_t v = 0;
    EXPECT_EQ(vek_map_get_i32(map_, "m", &v), 0u);
    EXPECT_EQ(v, 5);

    // A map node without a valid map: its destroy answers 103, which the
    // release passes on; the set still succeeds.
    ASSERT_EQ(vek_map_set_map_ll(map_, "bad", nullptr, 1), 0u);
    vek_map_value_t *bad = map_->values[2];
    out = traced([&] { EXPECT_EQ(vek_map_set_value_ll(map_, "bad", nullptr, 1), 0u); });
    EXPECT_EQ(out, format("vek_map_set_value_ll vek_map=%llx value=0 checkForKey=1\n"
                          "vek_map_free_value v=%llx\n"
                          "vek_map_destroy vek_map=0\n"
                          "vek_map_destroy vekStatus=67\n"
                          "vek_map_free_value vekStatus=67\n"
                          "vek_map_set_value_ll vekStatus=0\n",
                          m, ptr(bad)));
}

// ---- delete, clear, destroy, free_value ----

TEST_F(NestedTraceTest, DeleteReleasesTheNodeWithFreeValue) {
    const auto m = ptr(map_);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "k.inner.v", 1, 1), 0u);
    ASSERT_EQ(vek_map_set_value_ll(map_, "n", nullptr, 1), 0u);
    ASSERT_EQ(vek_map_set_str_ll(map_, "t", maptest::text("x"), 1), 0u);
    const vek_map_value_t *k = map_->values[0];
    const vek_map_value_t *inner = k->payload.map->values[0];
    const std::string nested = free_map_node(k, free_map_node(inner, free_leaf(inner->payload.map->values[0])));
    std::string out = traced([&] { EXPECT_EQ(vek_map_delete(map_, "k"), 0u); });
    EXPECT_EQ(out, format("vek_map_delete vek_map=%llx\n", m) + nested + "vek_map_delete vekStatus=0\n");
    // "t" moved into index 0; "n" holds no node: its release answers 1, and
    // the delete succeeds all the same.
    out = traced([&] { EXPECT_EQ(vek_map_delete(map_, "n"), 0u); });
    EXPECT_EQ(out, format("vek_map_delete vek_map=%llx\n", m) + free_value(nullptr, "", VEK_ST_ERROR) +
                       "vek_map_delete vekStatus=0\n");
    // Nothing found: nothing released.
    out = traced([&] { EXPECT_EQ(vek_map_delete(map_, "zz"), VEK_ST_MAP_KEY_NOT_EXIST); });
    EXPECT_EQ(out, format("vek_map_delete vek_map=%llx\nvek_map_delete vekStatus=68\n", m));
    EXPECT_EQ(map_->count, 1);
}

TEST_F(NestedTraceTest, ClearOfATwoLevelTree) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a", 1, 0), 0u);
    ASSERT_EQ(vek_map_set_str_ll(map_, "m.x", maptest::text("t"), 1), 0u);
    void *bytes = vek_map_malloc(3);
    ASSERT_EQ(vek_map_set_bin_ll(map_, "m.n.z", bytes, 3, 1), 0u);
    ASSERT_EQ(vek_map_set_value_ll(map_, "none", nullptr, 1), 0u);
    ASSERT_EQ(vek_map_set_bool_ll(map_, "b", 1, 1), 0u);
    const vek_map_value_t *a = map_->values[0];
    const vek_map_value_t *mn = map_->values[1];
    const vek_map_t *mm = mn->payload.map;
    const vek_map_t *nn = child_of(mm, 1);
    const vek_map_value_t *b = map_->values[3];
    // Entries in index order; each map node's lines enclose its child's.
    const std::string expected = format("vek_map_clear vek_map=%llx\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_destroy vek_map=%llx\n"
                                        "vek_map_clear vek_map=%llx\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_destroy vek_map=%llx\n"
                                        "vek_map_clear vek_map=%llx\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_clear vekStatus=0\n"
                                        "vek_map_destroy vekStatus=0\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_clear vekStatus=0\n"
                                        "vek_map_destroy vekStatus=0\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_free_value v=0\n"
                                        "vek_map_free_value vekStatus=1\n"
                                        "vek_map_free_value v=%llx\n"
                                        "vek_map_free_value vekStatus=0\n"
                                        "vek_map_clear vekStatus=0\n",
                                        ptr(map_), ptr(a), ptr(mn), ptr(mm), ptr(mm), ptr(mm->values[0]),
                                        ptr(mm->values[1]), ptr(nn), ptr(nn), ptr(nn->values[0]), ptr(b));
    const std::string out = traced([&] { EXPECT_EQ(vek_map_clear(map_), 0u); });
    EXPECT_EQ(out, expected);
    EXPECT_EQ(map_->count, 0);
    EXPECT_EQ(map_->keys, nullptr);
}

TEST_F(NestedTraceTest, DestroyAndFreeValueCalledByTheUser) {
    vek_map_t *t = nullptr;
    ASSERT_EQ(vek_map_create(&t), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(t, "c.d", 1, 1), 0u);
    ASSERT_EQ(vek_map_set_u32_ll(t, "e", 2, 1), 0u);
    const vek_map_value_t *c = t->values[0];
    const std::string expected =
        format("vek_map_destroy vek_map=%llx\n", ptr(t)) +
        clear(t, free_map_node(c, free_leaf(c->payload.map->values[0])) + free_leaf(t->values[1])) +
        "vek_map_destroy vekStatus=0\n";
    EXPECT_EQ(traced([&] { EXPECT_EQ(vek_map_destroy(t), 0u); }), expected);

    // A node holding a map, released by the user.
    ASSERT_EQ(vek_map_set_i32_ll(map_, "p.q", 1, 1), 0u);
    vek_map_value_t *p = map_->values[0];
    map_->values[0] = nullptr; // the entry gives the node up
    const std::string want = free_map_node(p, free_leaf(p->payload.map->values[0]));
    EXPECT_EQ(traced([&] { EXPECT_EQ(vek_map_free_value(p), 0u); }), want);
    // A map node without a map: the destroy's 103 is the result.
    auto *node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    node->type = VEK_MAP_TYPE_MAP;
    node->payload.map = nullptr;
    EXPECT_EQ(traced([&] { EXPECT_EQ(vek_map_free_value(node), VEK_ST_MAP_INVALID_MAP); }),
              format("vek_map_free_value v=%llx\nvek_map_destroy vek_map=0\nvek_map_destroy vekStatus=67\n"
                     "vek_map_free_value vekStatus=67\n",
                     ptr(node)));
}

// A deep tree prints the same nest as a shallow one: every level's lines
// on the way down, its exit lines and the lines of the entries after it on
// the way up. Level 0 holds "m" (level 1) and "t"; level L of 1 to kDepth-1
// holds "s", "m" (level L+1) and "t"; level kDepth holds "s".
TEST_F(NestedTraceTest, DeepTreeNestsEveryLevel) {
    constexpr int kDepth = 2000;
    std::vector<const vek_map_value_t *> s_nodes(kDepth + 1), m_nodes(kDepth), t_nodes(kDepth);
    std::vector<const vek_map_t *> maps(kDepth + 1);
    vek_map_t *level = map_;
    for (int i = 0; i < kDepth; ++i) {
        ASSERT_EQ(vek_map_set_i32_ll(level, "m.s", i, 1), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(level, "t", i, 0), 0u);
        const int m_at = i == 0 ? 0 : 1;
        m_nodes[i] = level->values[m_at];
        t_nodes[i] = level->values[m_at + 1];
        level = child_of(level, m_at);
        maps[i + 1] = level;
        s_nodes[i + 1] = level->values[0];
    }
    std::string expected = format("vek_map_clear vek_map=%llx\n", ptr(map_));
    for (int i = 0; i < kDepth; ++i) {
        if (i > 0) expected += free_leaf(s_nodes[i]);
        expected += format("vek_map_free_value v=%llx\nvek_map_destroy vek_map=%llx\nvek_map_clear vek_map=%llx\n",
                           ptr(m_nodes[i]), ptr(maps[i + 1]), ptr(maps[i + 1]));
    }
    expected += free_leaf(s_nodes[kDepth]);
    for (int i = kDepth - 1; i >= 0; --i) {
        expected += "vek_map_clear vekStatus=0\nvek_map_destroy vekStatus=0\nvek_map_free_value vekStatus=0\n";
        expected += free_leaf(t_nodes[i]);
    }
    expected += "vek_map_clear vekStatus=0\n";
    const std::string out = traced([&] { EXPECT_EQ(vek_map_clear(map_), 0u); });
    EXPECT_TRUE(out == expected) << "output of " << out.size() << " bytes differs from the expected " << expected.size()
                                 << " bytes";
    EXPECT_EQ(map_->count, 0);
}

// Tracing off: the same releases print nothing.
TEST_F(NestedTraceTest, NothingPrintedWithTracingOff) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.b.c", 1, 1), 0u);
    vektest::TraceLevel level(3);
    EXPECT_EQ(vektest::capture_stdout([&] {
                  vek_map_set_i32_ll(map_, "a", 2, 1);
                  vek_map_set_i32_ll(map_, "x.y", 2, 0);
                  vek_map_delete(map_, "x");
                  vek_map_clear(map_);
              }),
              "");
}

// ---- decoder ----

// A reader that runs a probe just before its call number `at`.
struct ProbeReader {
    VecReader r;
    uint32_t at = 0;
    std::function<void()> probe;

    static int32_t fn(void *arg, void *data, uint32_t len) {
        auto *p = static_cast<ProbeReader *>(arg);
        if (p->r.calls + 1 == p->at && p->probe) p->probe();
        return VecReader::fn(&p->r, data, len);
    }
};

std::string decode_from_entry(const vek_map_t *m, const void *arg) {
    return format("vek_map_decode_from vek_map=%llx rdfn=%llx arg=%llx\n", ptr(m),
                  ptr(reinterpret_cast<void *>(&ProbeReader::fn)), ptr(arg));
}

TEST_F(NestedTraceTest, DecodeOfANestedStream) {
    ProbeReader pr;
    pr.r.in = Stream()
                  .u32(3)
                  .key("k", VEK_MAP_TYPE_I32)
                  .u32(7)
                  .key("m", VEK_MAP_TYPE_MAP)
                  .u32(0)
                  .u32(2)
                  .key("x.y", VEK_MAP_TYPE_U32)
                  .u32(1)
                  .key("s", VEK_MAP_TYPE_STR)
                  .u32(2)
                  .raw("hi")
                  .key("q", 99) // skipped: no insert, no lines
                  .bytes();
    const std::string out = traced([&] { EXPECT_EQ(vek_map_decode_from(map_, ProbeReader::fn, &pr), 0u); });
    ASSERT_EQ(map_->count, 2);
    const vek_map_t *c = child_of(map_, 1);
    ASSERT_EQ(c->count, 2);
    const vek_map_t *x = child_of(c, 0);
    EXPECT_TRUE(trace_matches(out, decode_from_entry(map_, &pr) + strdup_lines(ptr(map_->keys[0])) +
                                       "vek_map_create map={}\nvek_map_create vekStatus=0\n" +
                                       decode_from_entry(c, &pr) + strdup_lines(ptr(c->keys[0])) +
                                       strdup_lines(ptr(x->keys[0])) + strdup_lines(ptr(c->keys[1])) +
                                       "vek_map_decode_from vekStatus=0\n" + strdup_lines(ptr(map_->keys[1])) +
                                       "vek_map_decode_from vekStatus=0\n"));
}

// A negative key length inside a child (102): the child clears itself before
// its exit line, the level above destroys it and then clears itself.
TEST_F(NestedTraceTest, DecodeFailureThatClears) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "before", 1, 0), 0u);
    ProbeReader pr;
    pr.r.in = Stream()
                  .u32(2)
                  .key("k", VEK_MAP_TYPE_I32)
                  .u32(1)
                  .key("m", VEK_MAP_TYPE_MAP)
                  .u32(0)
                  .u32(2)
                  .key("x", VEK_MAP_TYPE_I32)
                  .u32(5)
                  .bytes();
    // Reads: 1 count, 2-5 entry k, 6-9 entry m and filler, 10 child count,
    // 11-14 entry x, 15 the next key length.
    pr.r.special_call = 15;
    pr.r.special_rc = -5;
    pr.at = 15;
    std::string k_key;
    std::string before_node;
    std::string k_node;
    pr.probe = [&] {
        ASSERT_EQ(map_->count, 2);
        k_key = strdup_lines(ptr(map_->keys[1]));
        before_node = free_leaf(map_->values[0]);
        k_node = free_leaf(map_->values[1]);
    };
    const std::string out =
        traced([&] { EXPECT_EQ(vek_map_decode_from(map_, ProbeReader::fn, &pr), VEK_ST_MAP_INTERNAL_ERROR); });
    ASSERT_FALSE(k_key.empty());
    const std::string rest = format("rdfn=%llx arg=%llx\n", ptr(reinterpret_cast<void *>(&ProbeReader::fn)), ptr(&pr));
    EXPECT_TRUE(trace_matches(out, decode_from_entry(map_, &pr) + k_key +
                                       "vek_map_create map={}\nvek_map_create vekStatus=0\n"
                                       "vek_map_decode_from vek_map={C} " +
                                       rest +
                                       "vek_map_strdup str={}\nvek_map_strdup dstr={}\n"
                                       "vek_map_clear vek_map={C}\n"
                                       "vek_map_free_value v={}\nvek_map_free_value vekStatus=0\n"
                                       "vek_map_clear vekStatus=0\n"
                                       "vek_map_decode_from vekStatus=66\n"
                                       "vek_map_destroy vek_map={C}\n"
                                       "vek_map_clear vek_map={C}\nvek_map_clear vekStatus=0\n"
                                       "vek_map_destroy vekStatus=0\n" +
                                       clear(map_, before_node + k_node) + "vek_map_decode_from vekStatus=66\n"));
    EXPECT_EQ(map_->count, 0);
}

// Memory exhausted (2): the key buffer at the top level, or the child map.
TEST_F(NestedTraceTest, DecodeOutOfMemoryClears) {
    struct Case {
        const char *what;
        uint32_t nth; // heap allocation that fails
        Stream stream;
        bool child_create_lines;
    };
    const Case cases[] = {
        {"key buffer", 1, Stream().u32(1).key("k", VEK_MAP_TYPE_I32).u32(1), false},
        {"child map", 2, Stream().u32(1).key("m", VEK_MAP_TYPE_MAP).u32(0).u32(0), true},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(vek_map_set_i32_ll(map_, "before", 1, 0), 0u);
        const std::string before = free_leaf(map_->values[0]);
        ProbeReader pr;
        pr.r.in = c.stream.bytes();
        vek_saltest_reset();
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, c.nth, 1);
        const std::string out =
            traced([&] { EXPECT_EQ(vek_map_decode_from(map_, ProbeReader::fn, &pr), VEK_ST_NO_MEMORY) << c.what; });
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
        EXPECT_EQ(vek_saltest_faults_fired(), 1u) << c.what;
        const std::string create = c.child_create_lines ? "vek_map_create map={}\nvek_map_create vekStatus=2\n" : "";
        EXPECT_TRUE(trace_matches(out, decode_from_entry(map_, &pr) + create + clear(map_, before) +
                                           "vek_map_decode_from vekStatus=2\n"))
            << c.what;
        EXPECT_EQ(map_->count, 0) << c.what;
    }
}

// A read failure (108) inside a child: the child, with the entry read so
// far, is destroyed by the level above; nothing is cleared.
TEST_F(NestedTraceTest, DecodeFailureReleasesTheChild) {
    ProbeReader pr;
    pr.r.in = Stream().u32(1).key("m", VEK_MAP_TYPE_MAP).u32(0).u32(2).key("x", VEK_MAP_TYPE_I32).u32(5).bytes();
    const std::string out =
        traced([&] { EXPECT_EQ(vek_map_decode_from(map_, ProbeReader::fn, &pr), VEK_ST_MAP_CALLBACK_ERROR); });
    const std::string rest = format("rdfn=%llx arg=%llx\n", ptr(reinterpret_cast<void *>(&ProbeReader::fn)), ptr(&pr));
    EXPECT_TRUE(trace_matches(out, decode_from_entry(map_, &pr) +
                                       "vek_map_create map={}\nvek_map_create vekStatus=0\n"
                                       "vek_map_decode_from vek_map={C} " +
                                       rest +
                                       "vek_map_strdup str={}\nvek_map_strdup dstr={}\n"
                                       "vek_map_destroy vek_map={C}\n"
                                       "vek_map_clear vek_map={C}\n"
                                       "vek_map_free_value v={}\nvek_map_free_value vekStatus=0\n"
                                       "vek_map_clear vekStatus=0\n"
                                       "vek_map_destroy vekStatus=0\n"
                                       "vek_map_decode_from vekStatus=6c\n"));
    EXPECT_EQ(map_->count, 0);
}

// ---- copy ----

TEST_F(NestedTraceTest, CopyPrintsTheEncodeAndTheDecode) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "k", 1, 1), 0u);
    ASSERT_EQ(vek_map_set_str_ll(map_, "m.x", maptest::text("v"), 1), 0u);
    const size_t n = maptest::encode(map_).size();
    vek_map_t *dst = nullptr;
    ASSERT_EQ(vek_map_create(&dst), 0u);
    const std::string out = traced([&] { EXPECT_EQ(vek_map_copy(map_, dst), 0u); });
    ASSERT_EQ(dst->count, 2);
    const vek_map_t *dc = child_of(dst, 1);
    // The writer, the reader and their contexts are the library's own.
    EXPECT_TRUE(trace_matches(
        out, format("vek_map_copy vek_map=%llx vek_mapcopy=%llx\n"
                    "vek_map_encode vek_map=%llx buf={} len={}\n"
                    "vek_map_encode_to vek_map=%llx wrfn={W} arg={A}\n"
                    "vek_map_encode_to vek_map=%llx wrfn={W} arg={A}\n"
                    "vek_map_encode_to vekStatus=0\n"
                    "vek_map_encode_to vekStatus=0\n"
                    "vek_map_encode vekStatus=0 buf={} len=%zx\n"
                    "vek_map_decode vek_map=%llx len=%zx\n"
                    "vek_map_decode_from vek_map=%llx rdfn={F} arg={B}\n",
                    ptr(map_), ptr(dst), ptr(map_), ptr(map_), ptr(child_of(map_, 1)), n, ptr(dst), n, ptr(dst)) +
                 strdup_lines(ptr(dst->keys[0])) + "vek_map_create map={}\nvek_map_create vekStatus=0\n" +
                 format("vek_map_decode_from vek_map=%llx rdfn={F} arg={B}\n", ptr(dc)) +
                 strdup_lines(ptr(dc->keys[0])) + "vek_map_decode_from vekStatus=0\n" +
                 strdup_lines(ptr(dst->keys[1])) +
                 "vek_map_decode_from vekStatus=0\nvek_map_decode vekStatus=0\nvek_map_copy vekStatus=0\n"));
    std::string why;
    EXPECT_TRUE(maptest::same_tree(map_, dst, &why)) << why;
    vek_map_destroy(dst);
}

} // namespace
