// Indented (console, stream) and full-path dumps of a map tree.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <vek/vekcommon.h>

#include "vektest.hpp"

namespace {

using vektest::format;
using vektest::ptr;

// A stream whose text can be read back; its memory is not the library's.
class MemStream {
public:
    MemStream() : file_(open_memstream(&buf_, &size_)) {}
    ~MemStream() {
        if (file_ != nullptr) std::fclose(file_);
        std::free(buf_);
    }
    std::FILE *file() const { return file_; }
    // Text made visible by the last flush (no flush of our own).
    std::string flushed() const { return std::string(buf_ != nullptr ? buf_ : "", size_); }
    std::string text() {
        std::fflush(file_);
        return flushed();
    }

private:
    char *buf_ = nullptr;
    std::size_t size_ = 0;
    std::FILE *file_;
};

// A node made by hand, for types and payloads the set operations do not make.
vek_map_value_t *make_node(int32_t type) {
    auto *node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    std::memset(node, 0, sizeof *node);
    node->type = type;
    return node;
}

class DumpTest : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ASSERT_EQ(vek_map_create(&map_), VEK_ST_SUCCESS);
    }
    void TearDown() override {
        vek_map_destroy(map_);
        LeakCheckedTest::TearDown();
    }

    // The three dumps of map_ (console, stream, full path), statuses checked.
    std::string console(vek_st_t expect = VEK_ST_SUCCESS) {
        vek_st_t st = 0;
        const std::string out = vektest::capture_stdout([&] { st = vek_map_dump_to_console(map_); });
        EXPECT_EQ(st, expect);
        return out;
    }
    std::string stream() {
        MemStream s;
        EXPECT_EQ(vek_map_dump_to_stream(map_, s.file()), VEK_ST_SUCCESS);
        return s.flushed(); // the dump flushed it
    }
    std::string full() {
        MemStream s;
        EXPECT_EQ(vek_map_dump_full_map(map_, s.file()), VEK_ST_SUCCESS);
        return s.flushed();
    }
    void expect_indented(const std::string &text) {
        EXPECT_EQ(console(), text);
        EXPECT_EQ(stream(), text);
    }

    // The example tree: mtu = 1500, port = {id = 3, name = eth0}.
    void build_example() {
        ASSERT_EQ(vek_map_set_i32_ll(map_, "mtu", 1500, 1), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_i32_ll(map_, "port.id", 3, 1), VEK_ST_SUCCESS);
        ASSERT_EQ(vek_map_set_str_ll(map_, "port.name", vek_map_strdup("eth0"), 1), VEK_ST_SUCCESS);
    }

    vek_map_t *map_ = nullptr;
};

TEST_F(DumpTest, ExampleIndented) {
    build_example();
    expect_indented("    mtu = (i32) 1500\n"
                    "    port[id=3] = (map) \n"
                    "        id = (i32) 3\n"
                    "        name = (str) eth0\n");
}

TEST_F(DumpTest, ExampleFullPath) {
    build_example();
    EXPECT_EQ(full(), "mtu = (i32) 1500\n"
                      "port[id=3] = (map) \n"
                      "port[id=3].id = (i32) 3\n"
                      "port[id=3].name = (str) eth0\n");
}

TEST_F(DumpTest, EmptyMapPrintsNothingButFlushes) {
    EXPECT_EQ(console(), "");
    EXPECT_EQ(full(), "");
    for (auto dump : {vek_map_dump_to_stream, vek_map_dump_full_map}) {
        MemStream s;
        std::fputs("pending", s.file()); // buffered, not yet flushed
        EXPECT_EQ(dump(map_, s.file()), VEK_ST_SUCCESS);
        EXPECT_EQ(s.flushed(), "pending");
    }
}

// ---- value texts -----------------------------------------------------------

struct ValueCase {
    const char *name;
    std::function<void(vek_map_t *)> set; // sets key "k"
    const char *text;                     // value text after "k = "
};

const ValueCase kValueCases[] = {
    {"i32", [](vek_map_t *m) { vek_map_set_i32_ll(m, "k", -5, 1); }, "(i32) -5\n"},
    {"i32 min", [](vek_map_t *m) { vek_map_set_i32_ll(m, "k", INT32_MIN, 1); }, "(i32) -2147483648\n"},
    {"u32 max", [](vek_map_t *m) { vek_map_set_u32_ll(m, "k", 4294967295u, 1); }, "(u32) 4294967295\n"},
    {"i64 min", [](vek_map_t *m) { vek_map_set_i64_ll(m, "k", INT64_MIN, 1); }, "(i64) -9223372036854775808\n"},
    {"u64 max", [](vek_map_t *m) { vek_map_set_u64_ll(m, "k", UINT64_MAX, 1); }, "(u64) 18446744073709551615\n"},
    {"float", [](vek_map_t *m) { vek_map_set_float_ll(m, "k", 1.5f, 1); }, "(float) 1.500000\n"},
    {"float small", [](vek_map_t *m) { vek_map_set_float_ll(m, "k", -0.25f, 1); }, "(float) -0.250000\n"},
    {"double", [](vek_map_t *m) { vek_map_set_double_ll(m, "k", 1.5, 1); }, "(double) 1.500000e+00\n"},
    {"double large", [](vek_map_t *m) { vek_map_set_double_ll(m, "k", -12345678.9, 1); }, "(double) -1.234568e+07\n"},
    {"str", [](vek_map_t *m) { vek_map_set_str_ll(m, "k", vek_map_strdup("a b=c"), 1); }, "(str) a b=c\n"},
    {"str empty", [](vek_map_t *m) { vek_map_set_str_ll(m, "k", vek_map_strdup(""), 1); }, "(str) \n"},
    {"str without storage", [](vek_map_t *m) { vek_map_set_value_ll(m, "k", make_node(VEK_MAP_TYPE_STR), 1); },
     "(str) \n"},
    {"bin",
     [](vek_map_t *m) {
         void *bytes = vek_map_malloc(3);
         std::memcpy(bytes, "\x01\x02\x03", 3);
         vek_map_set_bin_ll(m, "k", bytes, 3, 1);
     },
     "(bin) (3 bytes)\n"},
    {"bin empty", [](vek_map_t *m) { vek_map_set_value_ll(m, "k", make_node(VEK_MAP_TYPE_BIN), 1); },
     "(bin) (0 bytes)\n"},
    {"bool false", [](vek_map_t *m) { vek_map_set_bool_ll(m, "k", 0, 1); }, "(bool) FALSE\n"},
    {"bool true", [](vek_map_t *m) { vek_map_set_bool_ll(m, "k", 1, 1); }, "(bool) TRUE\n"},
    {"bool other byte", [](vek_map_t *m) { vek_map_set_bool_ll(m, "k", 0xFE, 1); }, "(bool) TRUE\n"},
    // No text: the line stays open.
    {"unknown type", [](vek_map_t *m) { vek_map_set_value_ll(m, "k", make_node(42), 1); }, ""},
    {"type none", [](vek_map_t *m) { vek_map_set_value_ll(m, "k", make_node(VEK_MAP_TYPE_NONE), 1); }, ""},
    {"no node", [](vek_map_t *m) { vek_map_set_value_ll(m, "k", nullptr, 1); }, ""},
};

TEST_F(DumpTest, EveryValueTypesText) {
    for (const ValueCase &c : kValueCases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(vek_map_clear(map_), VEK_ST_SUCCESS);
        c.set(map_);
        ASSERT_EQ(map_->count, 1);
        expect_indented(std::string("    k = ") + c.text);
        EXPECT_EQ(full(), std::string("k = ") + c.text);
    }
}

// An open line is continued by the next entry's text.
TEST_F(DumpTest, OpenLineContinuesWithTheNextEntry) {
    ASSERT_EQ(vek_map_set_value_ll(map_, "odd", make_node(77), 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_value_ll(map_, "none", nullptr, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "sub.x", 1, 0), VEK_ST_SUCCESS);
    expect_indented("    odd =     none =     sub = (map) \n        x = (i32) 1\n");
    EXPECT_EQ(full(), "odd = none = sub = (map) \nsub.x = (i32) 1\n");
}

// ---- identifier annotation ---------------------------------------------------

TEST_F(DumpTest, AnnotationListsEveryI32IdInEntryOrder) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "port.ID", 5, 0), VEK_ST_SUCCESS);
    vek_map_t *child = map_->values[0]->payload.map;
    ASSERT_EQ(vek_map_set_u32_ll(child, "id", 7, 0), VEK_ST_SUCCESS);                   // u32: nothing
    ASSERT_EQ(vek_map_set_str_ll(child, "Id", vek_map_strdup("8"), 0), VEK_ST_SUCCESS); // str: nothing
    ASSERT_EQ(vek_map_set_value_ll(child, "id", nullptr, 0), VEK_ST_SUCCESS);           // no node: nothing
    ASSERT_EQ(vek_map_set_i32_ll(child, "id", 6, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(child, "ids", 9, 0), VEK_ST_SUCCESS); // other key: nothing
    expect_indented("    port[ID=5][id=6] = (map) \n"
                    "        ID = (i32) 5\n"
                    "        id = (u32) 7\n"
                    "        Id = (str) 8\n"
                    "        id =         id = (i32) 6\n"
                    "        ids = (i32) 9\n");
    EXPECT_EQ(full(), "port[ID=5][id=6] = (map) \n"
                      "port[ID=5][id=6].ID = (i32) 5\n"
                      "port[ID=5][id=6].id = (u32) 7\n"
                      "port[ID=5][id=6].Id = (str) 8\n"
                      "port[ID=5][id=6].id = port[ID=5][id=6].id = (i32) 6\n"
                      "port[ID=5][id=6].ids = (i32) 9\n");
}

TEST_F(DumpTest, AnnotationOfNestedLevels) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.id", -1, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.b.id", 2, 1), VEK_ST_SUCCESS);
    expect_indented("    a[id=-1] = (map) \n"
                    "        id = (i32) -1\n"
                    "        b[id=2] = (map) \n"
                    "            id = (i32) 2\n");
    EXPECT_EQ(full(), "a[id=-1] = (map) \n"
                      "a[id=-1].id = (i32) -1\n"
                      "a[id=-1].b[id=2] = (map) \n"
                      "a[id=-1].b[id=2].id = (i32) 2\n");
}

// ---- null and invalid children ---------------------------------------------

TEST_F(DumpTest, NullChildPrintsItsLineOnly) {
    ASSERT_EQ(vek_map_set_map_ll(map_, "gone", nullptr, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "after", 1, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "sub.x", 2, 0), VEK_ST_SUCCESS);
    expect_indented("    gone = (map) \n    after = (i32) 1\n    sub = (map) \n        x = (i32) 2\n");
    EXPECT_EQ(full(), "gone = (map) \nafter = (i32) 1\nsub = (map) \nsub.x = (i32) 2\n");
}

TEST_F(DumpTest, NullChildInsideANestedMapKeepsThePrefix) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.x", 1, 1), VEK_ST_SUCCESS);
    vek_map_t *a = map_->values[0]->payload.map;
    ASSERT_EQ(vek_map_set_map_ll(a, "gone", nullptr, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(a, "y", 2, 0), VEK_ST_SUCCESS);
    EXPECT_EQ(full(), "a = (map) \na.x = (i32) 1\na.gone = (map) \na.y = (i32) 2\n");
}

TEST_F(DumpTest, InvalidChildIsSkipped) {
    vek_map_t foreign{}; // magic 0; the map leaves it alone when released
    foreign.magic = 0x1234u;
    ASSERT_EQ(vek_map_set_map_ll(map_, "bad", &foreign, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "after", 1, 0), VEK_ST_SUCCESS);
    expect_indented("    bad = (map) \n    after = (i32) 1\n");
    EXPECT_EQ(full(), "bad = (map) \nafter = (i32) 1\n");
    // The foreign record lives on this stack frame: release the map now,
    // while it is still alive.
    EXPECT_EQ(vek_map_clear(map_), VEK_ST_SUCCESS);
}

// ---- nesting ---------------------------------------------------------------

TEST_F(DumpTest, ThreeLevelsIndentBy4_8_12) {
    ASSERT_EQ(vek_map_set_u32_ll(map_, "a.b.c", 1, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_u32_ll(map_, "a.d", 2, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_u32_ll(map_, "e", 3, 1), VEK_ST_SUCCESS);
    expect_indented("    a = (map) \n"
                    "        b = (map) \n"
                    "            c = (u32) 1\n"
                    "        d = (u32) 2\n"
                    "    e = (u32) 3\n");
    EXPECT_EQ(full(), "a = (map) \na.b = (map) \na.b.c = (u32) 1\na.d = (u32) 2\ne = (u32) 3\n");
}

// Maps print down to 64 levels below the dumped map; a deeper map prints its
// own line only, and the dump goes on.
TEST_F(DumpTest, DeepTreeStopsBelow64Levels) {
    constexpr int kLevels = 70; // maps below the top
    std::string path;
    for (int i = 0; i < kLevels; ++i) path += "m.";
    ASSERT_EQ(vek_map_set_i32_ll(map_, (path + "leaf").c_str(), 1, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "after", 2, 0), VEK_ST_SUCCESS);

    std::string indented, full_text, prefix;
    for (int depth = 0; depth <= 64; ++depth) { // the lines of the maps at depth 0..64
        indented += std::string(4 + 4 * depth, ' ') + "m = (map) \n";
        full_text += prefix + "m = (map) \n";
        prefix += "m.";
    }
    indented += "    after = (i32) 2\n";
    full_text += "after = (i32) 2\n";
    expect_indented(indented);
    EXPECT_EQ(full(), full_text);
}

TEST_F(DumpTest, DeepTreeTraceShowsTheMapTooDeep) {
    std::string path;
    for (int i = 0; i < 65; ++i) path += "m.";
    ASSERT_EQ(vek_map_set_i32_ll(map_, (path + "leaf").c_str(), 1, 1), VEK_ST_SUCCESS);
    vek_map_t *m = map_;
    for (int i = 0; i < 65; ++i) m = m->values[0]->payload.map; // the map at depth 65
    vektest::TraceLevel trace(4);
    MemStream s;
    const std::string out = vektest::capture_stdout([&] { vek_map_dump_to_stream(map_, s.file()); });
    const std::string deep = format("dump_to_stream vek_map=%llx stream=%llx indentBy=%x\n"
                                    "dump_to_stream vekStatus=66\n",
                                    ptr(m), ptr(s.file()), 4 + 4 * 65);
    EXPECT_NE(out.find(deep), std::string::npos);
    EXPECT_EQ(s.flushed().find("leaf"), std::string::npos);
}

// ---- full-path buffer limit ------------------------------------------------

// A path longer than the 1024-byte buffer is cut at 1023 characters; deeper
// levels still print, each line starting with the cut path.
TEST_F(DumpTest, FullPathLongerThanTheBufferIsCut) {
    const std::string a(600, 'A'), b(600, 'B');
    ASSERT_EQ(vek_map_set_i32_ll(map_, (a + "." + b + ".c").c_str(), 1, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, (a + "." + b + ".id").c_str(), 4, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "z", 2, 1), VEK_ST_SUCCESS);
    const std::string cut = (a + "." + b + "[id=4]").substr(0, 1023);
    EXPECT_EQ(full(), a + " = (map) \n" +          //
                          cut + " = (map) \n" +    //
                          cut + "c = (i32) 1\n" +  //
                          cut + "id = (i32) 4\n" + //
                          "z = (i32) 2\n");
}

TEST_F(DumpTest, FullPathExactlyFillingTheBuffer) {
    // A 1022-character key: the child's prefix is the key and '.', 1023
    // characters, the most the buffer holds.
    const std::string k(1022, 'k');
    ASSERT_EQ(vek_map_set_i32_ll(map_, (k + ".x").c_str(), 1, 1), VEK_ST_SUCCESS);
    EXPECT_EQ(full(), k + " = (map) \n" + k + ".x = (i32) 1\n");
    ASSERT_EQ(vek_map_clear(map_), VEK_ST_SUCCESS);
    const std::string k2(1023, 'k'); // the '.' no longer fits
    ASSERT_EQ(vek_map_set_i32_ll(map_, (k2 + ".x").c_str(), 1, 1), VEK_ST_SUCCESS);
    EXPECT_EQ(full(), k2 + " = (map) \n" + k2 + "x = (i32) 1\n");
}

// ---- failures ----------------------------------------------------------------

TEST_F(DumpTest, InvalidOrMissingArguments) {
    vek_map_t foreign{};
    MemStream s;
    for (vek_map_t *bad : {static_cast<vek_map_t *>(nullptr), &foreign}) {
        EXPECT_EQ(vektest::capture_stdout([&] { EXPECT_EQ(vek_map_dump_to_console(bad), VEK_ST_MAP_INVALID_MAP); }),
                  "");
        EXPECT_EQ(vek_map_dump_to_stream(bad, s.file()), VEK_ST_MAP_INVALID_MAP);
        EXPECT_EQ(vek_map_dump_full_map(bad, s.file()), VEK_ST_MAP_INVALID_MAP);
    }
    EXPECT_EQ(s.text(), "");
    build_example();
    EXPECT_EQ(vek_map_dump_to_stream(map_, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_dump_full_map(map_, nullptr), VEK_ST_INVALID_PARAMETER);
}

// Every buffer of the full-path dump can fail: the prefix and the top level's
// buffer end the dump with VEK_ST_NO_MEMORY before anything is printed; a
// nested level's buffer only drops that level's entries.
TEST_F(DumpTest, FullPathAllocationFailures) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.x", 1, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.b.y", 2, 1), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "z", 3, 1), VEK_ST_SUCCESS);
    const std::string expected[] = {
        "", // the zeroed prefix
        "", // the top level's buffer
        "a = (map) \nz = (i32) 3\n",
        "a = (map) \na.x = (i32) 1\na.b = (map) \nz = (i32) 3\n",
        "a = (map) \na.x = (i32) 1\na.b = (map) \na.b.y = (i32) 2\nz = (i32) 3\n",
    };
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t nth) {
        MemStream s;
        const vek_st_t st = vek_map_dump_full_map(map_, s.file());
        EXPECT_EQ(st, nth <= 2 ? VEK_ST_NO_MEMORY : VEK_ST_SUCCESS);
        EXPECT_EQ(s.text(), expected[std::min<uint32_t>(nth, 5) - 1]);
    });
    EXPECT_EQ(points, 4u);
}

TEST_F(DumpTest, IndentedDumpsDoNotAllocate) {
    build_example();
    vek_saltest_reset();
    (void)console();
    (void)stream();
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ANY), 0u);
}

// ---- trace lines -------------------------------------------------------------

// One entry and one exit line per map printed, with its indentation; the
// console dump's text and the trace lines share standard output.
TEST_F(DumpTest, ConsoleTraceNestsPerMap) {
    build_example();
    vek_map_t *port = map_->values[1]->payload.map;
    vektest::TraceLevel trace(8);
    EXPECT_EQ(console(), format("dump_to_console vek_map=%llx indentBy=4\n"
                                "    mtu = (i32) 1500\n"
                                "    port[id=3] = (map) \n"
                                "dump_to_console vek_map=%llx indentBy=8\n"
                                "        id = (i32) 3\n"
                                "        name = (str) eth0\n"
                                "dump_to_console vekStatus=0\n"
                                "dump_to_console vekStatus=0\n",
                                ptr(map_), ptr(port)));
}

TEST_F(DumpTest, StreamTraceNestsPerMapIncludingInvalidChildren) {
    vek_map_t foreign{};
    ASSERT_EQ(vek_map_set_map_ll(map_, "bad", &foreign, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_map_ll(map_, "gone", nullptr, 0), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "sub.x", 1, 0), VEK_ST_SUCCESS);
    vek_map_t *sub = map_->values[2]->payload.map;
    vektest::TraceLevel trace(4);
    MemStream s;
    const std::string out = vektest::capture_stdout([&] { vek_map_dump_to_stream(map_, s.file()); });
    const unsigned long long f = ptr(s.file());
    EXPECT_EQ(out, format("dump_to_stream vek_map=%llx stream=%llx indentBy=4\n"
                          "dump_to_stream vek_map=%llx stream=%llx indentBy=8\n"
                          "dump_to_stream vekStatus=67\n"
                          "dump_to_stream vek_map=%llx stream=%llx indentBy=8\n"
                          "dump_to_stream vekStatus=0\n"
                          "dump_to_stream vekStatus=0\n",
                          ptr(map_), f, ptr(&foreign), f, ptr(sub), f));
    EXPECT_EQ(s.flushed(), "    bad = (map) \n    gone = (map) \n    sub = (map) \n        x = (i32) 1\n");
    // The foreign map lives in this frame: release its entry while it exists.
    vek_trace_level = 0;
    EXPECT_EQ(vek_map_delete(map_, "bad"), VEK_ST_SUCCESS);
}

TEST_F(DumpTest, InvalidTopMapPrintsOnlyTraceLines) {
    vektest::TraceLevel trace(12);
    MemStream s;
    EXPECT_EQ(vektest::capture_stdout([] { vek_map_dump_to_console(nullptr); }),
              "dump_to_console vek_map=0 indentBy=4\ndump_to_console vekStatus=67\n");
    EXPECT_EQ(vektest::capture_stdout([&] { vek_map_dump_to_stream(nullptr, s.file()); }),
              format("dump_to_stream vek_map=0 stream=%llx indentBy=4\ndump_to_stream vekStatus=67\n", ptr(s.file())));
    EXPECT_EQ(vektest::capture_stdout([&] { vek_map_dump_full_map(nullptr, s.file()); }),
              format("vek_map_dump_full_map vek_map=0 stream=%llx\nvek_map_dump_full_map vekStatus=67\n",
                     ptr(s.file())));
    EXPECT_EQ(s.text(), "");
}

// The full-path dump traces once, not per map.
TEST_F(DumpTest, FullPathTraceIsOneEntryAndExit) {
    build_example();
    vektest::TraceLevel trace(4);
    MemStream s;
    EXPECT_EQ(vektest::capture_stdout([&] { vek_map_dump_full_map(map_, s.file()); }),
              format("vek_map_dump_full_map vek_map=%llx stream=%llx\nvek_map_dump_full_map vekStatus=0\n", ptr(map_),
                     ptr(s.file())));
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vektest::capture_stdout([&] { vek_map_dump_full_map(map_, s.file()); }),
              format("vek_map_dump_full_map vek_map=%llx stream=%llx\nvek_map_dump_full_map vekStatus=2\n", ptr(map_),
                     ptr(s.file())));
}

} // namespace
