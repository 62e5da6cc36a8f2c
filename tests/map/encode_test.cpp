// Map encoding: golden byte streams for every type, the writer protocol,
// write failures, depth limit, the memory writer and trace lines.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "model_support.hpp"

using maptest::Bytes;
using maptest::Stream;
using maptest::VecWriter;
using vektest::format;
using vektest::ptr;

namespace {

using EncodeTest = maptest::MapTest;

Bytes encode_cb(vek_map_t *m, vek_st_t expect = VEK_ST_SUCCESS) {
    VecWriter w;
    EXPECT_EQ(vek_map_encode_to(m, VecWriter::fn, &w), expect);
    return w.out;
}

TEST_F(EncodeTest, EmptyMapIsFourZeroBytes) {
    EXPECT_EQ(encode_cb(map_), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(maptest::encode(map_), (Bytes{0, 0, 0, 0}));
}

TEST_F(EncodeTest, SingleI32Entry) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "k", -2, 1), 0u);
    const Bytes expect{0, 0, 0, 1, 0, 0, 0, 1, 0x6B, 0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0xFE};
    EXPECT_EQ(encode_cb(map_), expect);
    EXPECT_EQ(maptest::encode(map_), expect);
}

TEST_F(EncodeTest, GoldenStreamOfEveryType) {
    ASSERT_EQ(vek_map_set_str_ll(map_, "s", maptest::text("ab"), 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "m.x", 7, 0), 0u);
    auto *bytes = static_cast<uint8_t *>(vek_map_malloc(3));
    bytes[0] = 1;
    bytes[1] = 2;
    bytes[2] = 0xFF;
    ASSERT_EQ(vek_map_set_bin_ll(map_, "b", bytes, 3, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "i", INT32_MIN, 0), 0u);
    ASSERT_EQ(vek_map_set_i64_ll(map_, "I", -2, 0), 0u);
    ASSERT_EQ(vek_map_set_float_ll(map_, "f", 1.5f, 0), 0u);
    ASSERT_EQ(vek_map_set_bool_ll(map_, "t", 0x40, 0), 0u);
    ASSERT_EQ(vek_map_set_bool_ll(map_, "F", 0, 0), 0u);
    ASSERT_EQ(vek_map_set_u32_ll(map_, "u", 0x01020304u, 0), 0u);
    ASSERT_EQ(vek_map_set_double_ll(map_, "d", 1.5, 0), 0u);
    ASSERT_EQ(vek_map_set_u64_ll(map_, "U", 0x0102030405060708ull, 0), 0u);
    ASSERT_EQ(vek_map_set_str_ll(map_, "null", nullptr, 0), 0u);
    ASSERT_EQ(vek_map_set_str_ll(map_, "empty", maptest::text(""), 0), 0u);
    ASSERT_EQ(vek_map_set_value_ll(map_, "none", nullptr, 0), 0u);
    auto *odd = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    odd->type = 42;
    odd->payload.u64 = 0;
    ASSERT_EQ(vek_map_set_value_ll(map_, "odd", odd, 0), 0u);
    ASSERT_EQ(vek_map_set_bin_ll(map_, "nobytes", nullptr, 5, 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "", 1, 0), 0u);

    Stream s;
    s.u32(17);
    s.key("s", 1).u32(2).raw("ab");
    s.key("m", 2).u32(0).u32(1).key("x", 4).u32(7);
    s.key("b", 3).u32(3).raw(Bytes{1, 2, 0xFF});
    s.key("i", 4).u32(0x80000000u);
    s.key("I", 5).u64(0xFFFFFFFFFFFFFFFEull);
    s.key("f", 6).u32(0x3FC00000u);
    s.key("t", 7).u32(1);
    s.key("F", 7).u32(0);
    s.key("u", 8).u32(0x01020304u);
    s.key("d", 9).u64(0x3FF8000000000000ull);
    s.key("U", 10).u64(0x0102030405060708ull);
    s.key("null", 1).u32(0);
    s.key("empty", 1).u32(0);
    s.key("none", VEK_MAP_TYPE_NONE);
    s.key("odd", 42);
    s.key("nobytes", 3).u32(0); // bytes without storage are written as length 0
    s.key("", 4).u32(1);
    EXPECT_EQ(encode_cb(map_), s.bytes());
    EXPECT_EQ(maptest::encode(map_), s.bytes());
}

TEST_F(EncodeTest, NestedMapsAreInline) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.b.c", 1, 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.d", 2, 1), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "e", 3, 1), 0u);
    Stream s;
    s.u32(2);
    s.key("a", 2).u32(0).u32(2);
    s.key("b", 2).u32(0).u32(1).key("c", 4).u32(1);
    s.key("d", 4).u32(2);
    s.key("e", 4).u32(3);
    EXPECT_EQ(encode_cb(map_), s.bytes());
}

TEST_F(EncodeTest, OneWriterCallPerField) {
    ASSERT_EQ(vek_map_set_str_ll(map_, "key", maptest::text("text"), 0), 0u);
    ASSERT_EQ(vek_map_set_u64_ll(map_, "n.v", 1, 0), 0u);
    VecWriter w;
    ASSERT_EQ(vek_map_encode_to(map_, VecWriter::fn, &w), 0u);
    // count; key len, key, type, text len, text; key len, key, type, filler,
    // child count, key len, key, type, u64
    EXPECT_EQ(w.sizes, (std::vector<uint32_t>{4, 4, 3, 4, 4, 4, 4, 1, 4, 4, 4, 4, 1, 4, 8}));
}

TEST_F(EncodeTest, NullWriterWritesNothing) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "k", 1, 0), 0u);
    EXPECT_EQ(vek_map_encode_to(map_, nullptr, nullptr), 0u);
    EXPECT_EQ(vek_map_encode_to(nullptr, nullptr, nullptr), VEK_ST_MAP_INVALID_MAP);
}

TEST_F(EncodeTest, WriteFailureAtEveryCallIsCallbackError) {
    ASSERT_EQ(vek_map_set_str_ll(map_, "a.b", maptest::text("x"), 0), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(map_, "c", 1, 0), 0u);
    VecWriter full;
    ASSERT_EQ(vek_map_encode_to(map_, VecWriter::fn, &full), 0u);
    for (uint32_t n = 1; n <= full.calls; ++n) {
        VecWriter w;
        w.fail_at = n;
        EXPECT_EQ(vek_map_encode_to(map_, VecWriter::fn, &w), VEK_ST_MAP_CALLBACK_ERROR) << n;
        EXPECT_EQ(w.calls, n); // stops at the failed write
        // What was written stays written: a prefix of the full stream.
        EXPECT_TRUE(std::equal(w.out.begin(), w.out.end(), full.out.begin())) << n;
    }
}

TEST_F(EncodeTest, InvalidNestedMapIsRefused) {
    vek_map_t foreign{};
    ASSERT_EQ(vek_map_set_i32_ll(map_, "x", 1, 0), 0u);
    ASSERT_EQ(vek_map_set_map_ll(map_, "m", &foreign, 0), 0u);
    encode_cb(map_, VEK_ST_MAP_INVALID_MAP);
    ASSERT_EQ(vek_map_set_map_ll(map_, "m", nullptr, 1), 0u); // replaces the foreign one (left alone)
    encode_cb(map_, VEK_ST_MAP_INVALID_MAP);
}

// Builds a chain of maps `levels` deep below m: m.l.l.l... holding "v" at the end.
void chain(vek_map_t *m, int levels) {
    std::string path;
    for (int i = 0; i < levels; ++i) path += "l.";
    path += "v";
    ASSERT_EQ(vek_map_set_i32_ll(m, path.c_str(), 1, 1), 0u);
}

TEST_F(EncodeTest, DepthLimit) {
    chain(map_, VEK_MAP_DECODE_MAX_DEPTH);
    const Bytes ok = encode_cb(map_);
    EXPECT_EQ(ok.size(), 4u + 64u * 17u + 13u); // count, 64 map entries (with their counts), one i32
    vek_map_t *deeper = nullptr;
    ASSERT_EQ(vek_map_create(&deeper), 0u);
    chain(deeper, VEK_MAP_DECODE_MAX_DEPTH + 1);
    encode_cb(deeper, VEK_ST_MAP_INTERNAL_ERROR);
    vek_st_t st = 0;
    maptest::encode(deeper, &st);
    EXPECT_EQ(st, VEK_ST_MAP_INTERNAL_ERROR);
    vek_map_destroy(deeper);
}

TEST_F(EncodeTest, MemoryWriterGrowsPastItsFirstBlock) {
    std::vector<uint8_t> block(10000);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    void *data = vek_map_malloc(block.size());
    std::memcpy(data, block.data(), block.size());
    ASSERT_EQ(vek_map_set_bin_ll(map_, "blob", data, 10000, 0), 0u);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(vek_map_set_i32_ll(map_, "n", i, 0), 0u);
    Stream s;
    s.u32(301).key("blob", 3).u32(10000).raw(block);
    for (int i = 0; i < 300; ++i) s.key("n", 4).u32(static_cast<uint32_t>(i));
    EXPECT_EQ(maptest::encode(map_), s.bytes());
}

TEST_F(EncodeTest, MemoryEncodeUnderAllocationFailure) {
    void *blob = vek_map_malloc(3000);
    ASSERT_NE(blob, nullptr);
    std::memset(blob, 0x5A, 3000);
    ASSERT_EQ(vek_map_set_bin_ll(map_, "blob", blob, 3000, 0), 0u);
    const Bytes full = maptest::encode(map_);
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t nth) {
        void *buf = reinterpret_cast<void *>(0x10);
        int32_t len = 77;
        const vek_st_t st = vek_map_encode(map_, &buf, &len);
        if (nth <= 2 && st != VEK_ST_SUCCESS) {
            // The record or the first block: nothing handed out.
            EXPECT_EQ(st, VEK_ST_NO_MEMORY);
            EXPECT_EQ(buf, reinterpret_cast<void *>(0x10));
            EXPECT_EQ(len, 77);
        } else if (st != VEK_ST_SUCCESS) {
            // A growth: the old block is released and a null buffer handed out.
            EXPECT_EQ(st, VEK_ST_MAP_CALLBACK_ERROR);
            EXPECT_EQ(buf, nullptr);
            EXPECT_LT(len, static_cast<int32_t>(full.size()));
        } else {
            EXPECT_EQ(Bytes(static_cast<uint8_t *>(buf), static_cast<uint8_t *>(buf) + len), full);
            vek_map_free(buf);
        }
    });
    EXPECT_EQ(points, 3u);
}

// A stream that would not fit the writer's signed 32-bit counters fails
// like a failed growth: callback error, null buffer, nothing leaked. The
// block is never read, so a small buffer stands in for a huge length.
TEST_F(EncodeTest, MemoryWriterCountersNeverOverflow) {
    static uint8_t small[16];
    auto *node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
    node->type = VEK_MAP_TYPE_BIN;
    node->payload.bin.data = small;
    node->payload.bin.len = 0xFFFFFFF0u;
    ASSERT_EQ(vek_map_set_value_ll(map_, "huge", node, 0), 0u);
    void *buf = reinterpret_cast<void *>(0x10);
    int32_t len = -1;
    EXPECT_EQ(vek_map_encode(map_, &buf, &len), VEK_ST_MAP_CALLBACK_ERROR);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(len, 4 + 4 + 4 + 4 + 4);   // count, key length, key, type, block length
    node->payload.bin.len = 0x7FFFFC00u; // just past the largest capacity
    EXPECT_EQ(vek_map_encode(map_, &buf, &len), VEK_ST_MAP_CALLBACK_ERROR);
    EXPECT_EQ(buf, nullptr);
    map_->values[0] = nullptr; // the stand-in block is not the map's to release
    vek_map_free(node);
}

// ---- trace lines ----

std::string traced(uint32_t level, const std::function<void()> &fn) {
    vektest::TraceLevel tl(level);
    return vektest::capture_stdout(fn);
}

TEST_F(EncodeTest, TraceLinesOfEncodeTo) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "a.b", 1, 0), 0u);
    vek_map_t *child = map_->values[0]->payload.map;
    VecWriter w;
    const auto fn = ptr(reinterpret_cast<void *>(&VecWriter::fn));
    std::string out = traced(8, [&] { vek_map_encode_to(map_, VecWriter::fn, &w); });
    EXPECT_EQ(out, format("vek_map_encode_to vek_map=%llx wrfn=%llx arg=%llx\n"
                          "vek_map_encode_to vek_map=%llx wrfn=%llx arg=%llx\n"
                          "vek_map_encode_to vekStatus=0\n"
                          "vek_map_encode_to vekStatus=0\n",
                          ptr(map_), fn, ptr(&w), ptr(child), fn, ptr(&w)));
    // A write failure prints no exit line.
    VecWriter failing;
    failing.fail_at = 1;
    out = traced(4, [&] { vek_map_encode_to(map_, VecWriter::fn, &failing); });
    EXPECT_EQ(out, format("vek_map_encode_to vek_map=%llx wrfn=%llx arg=%llx\n", ptr(map_), fn, ptr(&failing)));
    // An invalid nested map prints its own exit line only.
    ASSERT_EQ(vek_map_set_map_ll(map_, "a", nullptr, 1), 0u);
    VecWriter w2;
    out = traced(4, [&] { vek_map_encode_to(map_, VecWriter::fn, &w2); });
    EXPECT_EQ(out, format("vek_map_encode_to vek_map=%llx wrfn=%llx arg=%llx\n"
                          "vek_map_encode_to vek_map=0 wrfn=%llx arg=%llx\n"
                          "vek_map_encode_to vekStatus=67\n",
                          ptr(map_), fn, ptr(&w2), fn, ptr(&w2)));
    out = traced(4, [&] { vek_map_encode_to(nullptr, nullptr, nullptr); });
    EXPECT_EQ(out, "vek_map_encode_to vek_map=0 wrfn=0 arg=0\nvek_map_encode_to vekStatus=67\n");
    EXPECT_EQ(traced(3, [&] { vek_map_encode_to(nullptr, nullptr, nullptr); }), "");
}

TEST_F(EncodeTest, EncodeRefusesNullOutParameters) {
    void *buf = &buf;
    int32_t len = -5;
    EXPECT_EQ(vek_map_encode(map_, nullptr, &len), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_map_encode(map_, &buf, nullptr), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(buf, &buf);
    EXPECT_EQ(len, -5);
    const std::string out = traced(4, [&] { vek_map_encode(map_, nullptr, &len); });
    EXPECT_EQ(out, format("vek_map_encode vek_map=%llx buf=0 len=%llx\nvek_map_encode vekStatus=7 buf=0 len=0\n",
                          ptr(map_), ptr(&len)));
}

TEST_F(EncodeTest, TraceLinesOfEncode) {
    void *buf = nullptr;
    int32_t len = 0;
    const std::string out = traced(4, [&] { vek_map_encode(map_, &buf, &len); });
    const std::string inner_prefix = format("vek_map_encode_to vek_map=%llx wrfn=", ptr(map_));
    const std::string first =
        format("vek_map_encode vek_map=%llx buf=%llx len=%llx\n", ptr(map_), ptr(&buf), ptr(&len));
    const std::string last = format("vek_map_encode vekStatus=0 buf=%llx len=4\n", ptr(buf));
    ASSERT_EQ(out.rfind(first, 0), 0u) << out;
    EXPECT_NE(out.find(inner_prefix), std::string::npos) << out;
    EXPECT_NE(out.find("vek_map_encode_to vekStatus=0\n"), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - last.size()), last);
    vek_map_free(buf);
}

} // namespace
