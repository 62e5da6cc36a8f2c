// Map decoding: golden streams into maps, float rebuilding, untrusted and
// truncated input, the depth limit, error line, trace lines and
// allocation failures.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "model_support.hpp"
#include "trace_support.hpp"

using maptest::Bytes;
using maptest::Stream;
using maptest::VecReader;
using vektest::format;
using vektest::ptr;

namespace {

using DecodeTest = maptest::MapTest;

std::vector<std::string> keys_of(const vek_map_t *m) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < m->count; ++i) out.emplace_back(m->keys[i]);
    return out;
}

TEST_F(DecodeTest, SingleI32Entry) {
    const Bytes in{0, 0, 0, 1, 0, 0, 0, 1, 0x6B, 0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0xFE};
    ASSERT_EQ(maptest::decode(map_, in), 0u);
    int32_t v = 0;
    ASSERT_EQ(vek_map_get_i32(map_, "k", &v), 0u);
    EXPECT_EQ(v, -2);
}

TEST_F(DecodeTest, EveryTypeFromAGoldenStream) {
    Stream s;
    s.u32(12);
    s.key("s", 1).u32(2).raw("ab");
    s.key("m", 2).u32(0xDEADBEEF).u32(1).key("x", 4).u32(7); // the filler's value is ignored
    s.key("b", 3).u32(3).raw(Bytes{1, 2, 0xFF});
    s.key("i", 4).u32(0x80000000u);
    s.key("j", 5).u64(0xFFFFFFFFFFFFFFFEull);
    s.key("f", 6).u32(0x3FC00000u);
    s.key("yes", 7).u32(1);
    s.key("no", 7).u32(2); // only 1 is true
    s.key("u", 8).u32(0x01020304u);
    s.key("d", 9).u64(0x3FF8000000000000ull);
    s.key("w", 10).u64(0x0102030405060708ull);
    s.key("e", 1).u32(0);
    ASSERT_EQ(maptest::decode(map_, s.bytes()), 0u);
    EXPECT_EQ(keys_of(map_), (std::vector<std::string>{"s", "m", "b", "i", "j", "f", "yes", "no", "u", "d", "w", "e"}));
    char *str = nullptr;
    ASSERT_EQ(vek_map_get_str(map_, "s", &str), 0u);
    EXPECT_STREQ(str, "ab");
    int32_t i32 = 0;
    ASSERT_EQ(vek_map_get_i32(map_, "m.x", &i32), 0u);
    EXPECT_EQ(i32, 7);
    void *bin = nullptr;
    uint32_t len = 0;
    ASSERT_EQ(vek_map_get_bin(map_, "b", &bin, &len), 0u);
    ASSERT_EQ(len, 3u);
    EXPECT_EQ(Bytes(static_cast<uint8_t *>(bin), static_cast<uint8_t *>(bin) + 3), (Bytes{1, 2, 0xFF}));
    ASSERT_EQ(vek_map_get_i32(map_, "i", &i32), 0u);
    EXPECT_EQ(i32, INT32_MIN);
    int64_t i64 = 0;
    ASSERT_EQ(vek_map_get_i64(map_, "j", &i64), 0u);
    EXPECT_EQ(i64, -2);
    float f = 0;
    ASSERT_EQ(vek_map_get_float(map_, "f", &f), 0u);
    EXPECT_EQ(f, 1.5f);
    uint8_t b = 9;
    ASSERT_EQ(vek_map_get_bool(map_, "yes", &b), 0u);
    EXPECT_EQ(b, 1);
    ASSERT_EQ(vek_map_get_bool(map_, "no", &b), 0u);
    EXPECT_EQ(b, 0);
    uint32_t u32 = 0;
    ASSERT_EQ(vek_map_get_u32(map_, "u", &u32), 0u);
    EXPECT_EQ(u32, 0x01020304u);
    double d = 0;
    ASSERT_EQ(vek_map_get_double(map_, "d", &d), 0u);
    EXPECT_EQ(d, 1.5);
    uint64_t u64 = 0;
    ASSERT_EQ(vek_map_get_u64(map_, "w", &u64), 0u);
    EXPECT_EQ(u64, 0x0102030405060708ull);
    // An empty text has no storage and encodes again as length 0.
    str = reinterpret_cast<char *>(0x1);
    ASSERT_EQ(vek_map_get_str(map_, "e", &str), 0u);
    EXPECT_EQ(str, nullptr);
}

TEST_F(DecodeTest, ReencodingAGoldenStreamGivesItBack) {
    Stream s;
    s.u32(4).key("s", 1).u32(0).key("b", 3).u32(0).key("m", 2).u32(0).u32(0).key("d", 9).u64(1);
    ASSERT_EQ(maptest::decode(map_, s.bytes()), 0u);
    void *bin = reinterpret_cast<void *>(0x1);
    uint32_t len = 9;
    ASSERT_EQ(vek_map_get_bin(map_, "b", &bin, &len), 0u);
    EXPECT_EQ(bin, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(maptest::encode(map_), s.bytes());
}

float decode_float(uint32_t bits) {
    vek_map_t *m = nullptr;
    EXPECT_EQ(vek_map_create(&m), 0u);
    Stream s;
    s.u32(1).key("f", 6).u32(bits);
    EXPECT_EQ(maptest::decode(m, s.bytes()), 0u);
    float f = -123.0f;
    EXPECT_EQ(vek_map_get_float(m, "f", &f), 0u);
    vek_map_destroy(m);
    return f;
}

uint32_t bits_of(float f) {
    uint32_t b = 0;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

TEST_F(DecodeTest, FloatsAreRebuiltExactly) {
    const std::vector<float> values{1.5f,
                                    -1.5f,
                                    1.0f,
                                    0.1f,
                                    -3.25e-5f,
                                    1e30f,
                                    std::ldexp(1.0f, 100),
                                    std::numeric_limits<float>::max(),
                                    -std::numeric_limits<float>::max(),
                                    std::numeric_limits<float>::min(),
                                    std::numeric_limits<float>::denorm_min(),
                                    -std::numeric_limits<float>::denorm_min(),
                                    std::ldexp(1.0f, -140) * 3.0f,
                                    16777215.0f,
                                    0.0f};
    for (float v : values) EXPECT_EQ(bits_of(decode_float(bits_of(v))), bits_of(v)) << v;
    // Exponent 255 (infinity and NaN) gives an infinity of the pattern's sign.
    EXPECT_EQ(decode_float(0x7F800000u), std::numeric_limits<float>::infinity());
    EXPECT_EQ(decode_float(0xFF800000u), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(decode_float(0x7FC00001u), std::numeric_limits<float>::infinity());
    EXPECT_EQ(decode_float(0xFFFFFFFFu), -std::numeric_limits<float>::infinity());
    // The sign is applied as 0 - value: negative zero reads back as zero.
    EXPECT_EQ(bits_of(decode_float(0x80000000u)), 0u);
    // Every exponent with a sample of fractions.
    std::mt19937 rng(7);
    for (uint32_t e = 0; e < 255; ++e) {
        const uint32_t bits = (rng() & 0x80000000u) | (e << 23) | (rng() & 0x7FFFFFu);
        if (bits == 0x80000000u) continue;
        float expect = 0;
        std::memcpy(&expect, &bits, sizeof expect);
        EXPECT_EQ(bits_of(decode_float(bits)), bits) << std::hex << bits;
    }
}

// Doubles travel as their bit pattern, so every pattern comes back as it
// was; floats are written as their pattern too.
TEST_F(DecodeTest, DoubleAndFloatEdgePatterns) {
    const std::vector<uint64_t> doubles{0x0000000000000000ull, 0x8000000000000000ull, 0x0000000000000001ull,
                                        0x800FFFFFFFFFFFFFull, 0x7FEFFFFFFFFFFFFFull, 0x7FF0000000000000ull,
                                        0xFFF0000000000000ull, 0x7FF8000000000001ull, 0x3FF8000000000000ull,
                                        0xC0FE240C9FBE76C9ull};
    for (uint64_t bits : doubles) {
        const Bytes in = Stream().u32(1).key("d", 9).u64(bits).bytes();
        vek_map_t *m = nullptr;
        ASSERT_EQ(vek_map_create(&m), 0u);
        ASSERT_EQ(maptest::decode(m, in), 0u);
        double d = 0;
        ASSERT_EQ(vek_map_get_double(m, "d", &d), 0u);
        uint64_t back = 0;
        std::memcpy(&back, &d, sizeof back);
        EXPECT_EQ(back, bits) << std::hex << bits;
        EXPECT_EQ(maptest::encode(m), in) << std::hex << bits;
        vek_map_destroy(m);
    }
    for (uint32_t bits : {0x80000000u, 0x7F800000u, 0xFF800000u, 0x7FC00000u, 0x00000001u, 0x7F7FFFFFu}) {
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        ASSERT_EQ(vek_map_set_float_ll(map_, "f", f, 1), 0u);
        EXPECT_EQ(maptest::encode(map_), Stream().u32(1).key("f", 6).u32(bits).bytes()) << std::hex << bits;
    }
}

TEST_F(DecodeTest, UnknownTypesAreSkipped) {
    Stream s;
    s.u32(4).key("none", VEK_MAP_TYPE_NONE).key("odd", 42).key("zero", 0).key("after", 4).u32(5);
    ASSERT_EQ(maptest::decode(map_, s.bytes()), 0u);
    EXPECT_EQ(keys_of(map_), std::vector<std::string>{"after"});
}

TEST_F(DecodeTest, KeysArePathsExceptSelectors) {
    Stream s;
    s.u32(3).key("a.b", 4).u32(1).key("a.c", 4).u32(2).key("p[id=3]", 4).u32(3);
    ASSERT_EQ(maptest::decode(map_, s.bytes()), 0u);
    EXPECT_EQ(keys_of(map_), (std::vector<std::string>{"a", "a", "p[id=3]"}));
    EXPECT_EQ(keys_of(map_->values[0]->payload.map), std::vector<std::string>{"b"});
}

TEST_F(DecodeTest, CountsBelowOneAndRepeatedDecodes) {
    EXPECT_EQ(maptest::decode(map_, Stream().u32(0).bytes()), 0u);
    EXPECT_EQ(maptest::decode(map_, Stream().u32(0x80000000u).bytes()), 0u);
    EXPECT_EQ(map_->count, 0);
    const Bytes one = Stream().u32(1).key("k", 4).u32(1).bytes();
    ASSERT_EQ(maptest::decode(map_, one), 0u);
    ASSERT_EQ(maptest::decode(map_, one), 0u);
    EXPECT_EQ(keys_of(map_), (std::vector<std::string>{"k", "k"}));
    EXPECT_EQ(vek_map_decode(nullptr, one.data(), 17), VEK_ST_MAP_INVALID_MAP);
    EXPECT_EQ(vek_map_decode_from(map_, nullptr, nullptr), 0u);
    EXPECT_EQ(vek_map_decode(map_, nullptr, 100), VEK_ST_MAP_CALLBACK_ERROR);
    EXPECT_EQ(vek_map_decode(map_, one.data(), -5), VEK_ST_MAP_CALLBACK_ERROR);
}

TEST_F(DecodeTest, OneReaderCallPerField) {
    VecReader r;
    r.in = Stream().u32(2).key("key", 1).u32(4).raw("text").key("m", 2).u32(0).u32(1).key("x", 10).u64(1).bytes();
    ASSERT_EQ(vek_map_decode_from(map_, VecReader::fn, &r), 0u);
    EXPECT_EQ(r.sizes, (std::vector<uint32_t>{4, 4, 3, 4, 4, 4, 4, 1, 4, 4, 4, 4, 1, 4, 8}));
}

// A stream of top-level entries of every kind; `ends` receives the offset
// at which each entry ends.
Bytes rich_stream(std::vector<size_t> *ends) {
    Stream s;
    s.u32(7);
    auto mark = [&] { ends->push_back(s.bytes().size()); };
    s.key("s", 1).u32(3).raw("abc");
    mark();
    s.key("m", 2).u32(0).u32(2).key("x", 4).u32(7).key("y", 1).u32(1).raw("z");
    mark();
    s.key("b", 3).u32(2).raw(Bytes{9, 8});
    mark();
    s.key("d", 9).u64(0x3FF8000000000000ull);
    mark();
    s.key("n", VEK_MAP_TYPE_NONE);
    mark();
    s.key("a.b.c", 8).u32(1);
    mark();
    s.key("", 7).u32(1);
    mark();
    return s.bytes();
}

TEST_F(DecodeTest, TruncationAtEveryCutKeepsCompleteEntries) {
    std::vector<size_t> ends;
    const Bytes full = rich_stream(&ends);
    // Entries that add one top-level entry each (the NONE entry adds none).
    const std::vector<int> added{1, 1, 1, 1, 0, 1, 1};
    for (size_t cut = 0; cut < full.size(); ++cut) {
        vek_map_t *m = nullptr;
        ASSERT_EQ(vek_map_create(&m), 0u);
        const Bytes part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(maptest::decode(m, part), VEK_ST_MAP_CALLBACK_ERROR) << cut;
        int expect = 0;
        for (size_t e = 0; e < ends.size(); ++e) expect += ends[e] <= cut ? added[e] : 0;
        EXPECT_EQ(m->count, expect) << cut;
        // The same through a caller's reader.
        vek_map_t *m2 = nullptr;
        ASSERT_EQ(vek_map_create(&m2), 0u);
        VecReader r;
        r.in = part;
        EXPECT_EQ(vek_map_decode_from(m2, VecReader::fn, &r), VEK_ST_MAP_CALLBACK_ERROR) << cut;
        EXPECT_EQ(m2->count, expect) << cut;
        vek_map_destroy(m);
        vek_map_destroy(m2);
    }
    ASSERT_EQ(maptest::decode(map_, full), 0u);
    EXPECT_EQ(map_->count, 6);
}

TEST_F(DecodeTest, CorruptedStreamsNeverMisbehave) {
    std::vector<size_t> ends;
    const Bytes full = rich_stream(&ends);
    std::mt19937 rng(12345);
    for (size_t pos = 0; pos < full.size(); ++pos) {
        for (uint8_t v : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x7F}, static_cast<uint8_t>(rng())}) {
            Bytes bad = full;
            bad[pos] = v;
            vek_map_t *m = nullptr;
            ASSERT_EQ(vek_map_create(&m), 0u);
            const vek_st_t st = maptest::decode(m, bad);
            EXPECT_TRUE(st == 0 || st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_INTERNAL_ERROR ||
                        st == VEK_ST_MAP_CALLBACK_ERROR)
                << pos << " " << st;
            if (st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_INTERNAL_ERROR) {
                EXPECT_EQ(m->count, 0);
            }
            vek_map_destroy(m);
        }
    }
}

TEST_F(DecodeTest, UnallocatableLengthsAreNoMemoryAndStopReading) {
    struct Case {
        const char *what;
        Bytes stream;
    };
    const std::vector<Case> cases{
        {"key", Stream().u32(1).u32(0xFFFFFFFFu).bytes()},
        {"text", Stream().u32(1).key("k", 1).u32(0xFFFFFFFFu).bytes()},
        {"bytes", Stream().u32(1).key("k", 3).u32(0xFFFFFFFFu).bytes()},
        {"nested text", Stream().u32(1).key("m", 2).u32(0).u32(1).key("k", 1).u32(0xFFFFFFFFu).bytes()},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(vek_map_set_i32_ll(map_, "before", 1, 0), 0u);
        VecReader r;
        r.in = c.stream;
        EXPECT_EQ(vek_map_decode_from(map_, VecReader::fn, &r), VEK_ST_NO_MEMORY) << c.what;
        EXPECT_EQ(r.pos, c.stream.size()) << c.what; // nothing read after the length
        EXPECT_EQ(map_->count, 0) << c.what;         // the destination is cleared
        ASSERT_EQ(vek_map_set_i32_ll(map_, "before", 1, 0), 0u);
        EXPECT_EQ(maptest::decode(map_, c.stream), VEK_ST_NO_MEMORY) << c.what;
        EXPECT_EQ(map_->count, 0) << c.what;
    }
}

TEST_F(DecodeTest, MemoryDecodeRefusesLengthsPastTheEndWithoutAllocating) {
    for (const Bytes &in :
         {Stream().u32(1).u32(0x7FFFFFFFu).bytes(), Stream().u32(1).key("k", 1).u32(0x10000000u).raw("abc").bytes(),
          Stream().u32(1).key("k", 3).u32(5).raw("abcd").bytes()}) {
        ASSERT_EQ(vek_map_set_i32_ll(map_, "before", 1, 0), 0u);
        vek_saltest_reset();
        EXPECT_EQ(maptest::decode(map_, in), VEK_ST_MAP_CALLBACK_ERROR);
        EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), in.size() > 12 ? 2u : 1u); // context (and key)
        EXPECT_EQ(map_->count, 1); // entries before are kept with a callback error
        ASSERT_EQ(vek_map_clear(map_), 0u);
    }
}

// A stream of `levels` nested maps, each holding the next under key `key`,
// the innermost holding an i32.
Bytes nested_stream(int levels, const std::string &key = "l") {
    Stream s;
    s.u32(1);
    for (int i = 0; i < levels; ++i) s.key(key, 2).u32(0).u32(1);
    s.key("v", 4).u32(1);
    return s.bytes();
}

TEST_F(DecodeTest, DepthLimitCountsNestedMaps) {
    ASSERT_EQ(maptest::decode(map_, nested_stream(VEK_MAP_DECODE_MAX_DEPTH)), 0u);
    std::string path;
    for (int i = 0; i < VEK_MAP_DECODE_MAX_DEPTH; ++i) path += "l.";
    int32_t v = 0;
    ASSERT_EQ(vek_map_get_i32(map_, (path + "v").c_str(), &v), 0u);
    EXPECT_EQ(v, 1);
    // One more level: refused, destination cleared (also what it held before).
    EXPECT_EQ(maptest::decode(map_, nested_stream(VEK_MAP_DECODE_MAX_DEPTH + 1)), VEK_ST_MAP_INTERNAL_ERROR);
    EXPECT_EQ(map_->count, 0);
    // A very deep stream is refused the same way, with bounded work.
    EXPECT_EQ(maptest::decode(map_, nested_stream(100000)), VEK_ST_MAP_INTERNAL_ERROR);
}

TEST_F(DecodeTest, DepthLimitCountsDottedKeys) {
    std::string dots64(VEK_MAP_DECODE_MAX_DEPTH, '.');
    // 64 dots: maps at levels 1..64 and a leaf in the last: accepted.
    ASSERT_EQ(maptest::decode(map_, Stream().u32(1).key(dots64, 4).u32(1).bytes()), 0u);
    // 65 dots, or 64 dots holding a map: a map at level 65.
    EXPECT_EQ(maptest::decode(map_, Stream().u32(1).key(dots64 + ".", 4).u32(1).bytes()), VEK_ST_MAP_INTERNAL_ERROR);
    EXPECT_EQ(map_->count, 0);
    EXPECT_EQ(maptest::decode(map_, Stream().u32(1).key(dots64, 2).u32(0).u32(0).bytes()), VEK_ST_MAP_INTERNAL_ERROR);
    // Dots inside nested maps add to their level: 60 maps, then a key with 4 dots holding a leaf is fine,
    // with 5 dots it is not.
    for (int dots : {4, 5}) {
        Stream s;
        s.u32(1);
        for (int i = 0; i < 60; ++i) s.key("l", 2).u32(0).u32(1);
        s.key(std::string(static_cast<size_t>(dots), '.'), 4).u32(1);
        EXPECT_EQ(maptest::decode(map_, s.bytes()), dots == 4 ? 0u : VEK_ST_MAP_INTERNAL_ERROR) << dots;
    }
    // Unknown types create nothing, so their dots do not count.
    EXPECT_EQ(maptest::decode(map_, Stream().u32(1).key(dots64 + "....", 99).bytes()), 0u);
}

TEST_F(DecodeTest, NestedFailuresReleaseTheChild) {
    ASSERT_EQ(vek_map_set_i32_ll(map_, "before", 1, 0), 0u);
    // A nested map cut short: callback error, the child is dropped, earlier entries stay.
    Bytes in = Stream().u32(3).key("k", 4).u32(1).key("m", 2).u32(0).u32(2).key("x", 4).u32(1).bytes();
    EXPECT_EQ(maptest::decode(map_, in), VEK_ST_MAP_CALLBACK_ERROR);
    EXPECT_EQ(keys_of(map_), (std::vector<std::string>{"before", "k"}));
}

TEST_F(DecodeTest, OtherNegativeReadResultsAreInternalErrorsWithErrorLine) {
    const Bytes in = Stream().u32(2).key("a", 4).u32(1).key("b", 4).u32(2).bytes();
    struct Case {
        uint32_t call;
        int32_t rc;
        vek_st_t status;
        bool line;
    };
    // Call 1 reads the count, 2 and 6 the key lengths; other reads know only -1 as failure.
    const std::vector<Case> cases{{1, -2, VEK_ST_MAP_INTERNAL_ERROR, true},
                                  {2, -5, VEK_ST_MAP_INTERNAL_ERROR, true},
                                  {6, INT32_MIN, VEK_ST_MAP_INTERNAL_ERROR, true},
                                  {3, -1, VEK_ST_MAP_CALLBACK_ERROR, false}};
    for (const Case &c : cases) {
        ASSERT_EQ(vek_map_set_i32_ll(map_, "before", 1, 0), 0u);
        VecReader r;
        r.in = in;
        r.special_call = c.call;
        r.special_rc = c.rc;
        vek_st_t st = 0;
        const std::string out = [&] {
            vektest::TraceLevel tl(1);
            return vektest::capture_stdout([&] { st = vek_map_decode_from(map_, VecReader::fn, &r); });
        }();
        EXPECT_EQ(st, c.status) << c.call;
        if (c.line) {
            EXPECT_EQ(out, format("vek_map_decode_from vek_map=%llx rdfn=%llx arg=%llx rc=%llx errno=%llx\n", ptr(map_),
                                  ptr(reinterpret_cast<void *>(&VecReader::fn)), ptr(&r),
                                  static_cast<unsigned long long>(static_cast<long long>(c.rc)),
                                  static_cast<unsigned long long>(static_cast<long long>(errno))))
                << c.call;
            EXPECT_EQ(map_->count, 0);
        } else {
            EXPECT_EQ(out, "");
        }
        ASSERT_EQ(vek_map_clear(map_), 0u);
    }
    // Without trace bit 0 there is no line.
    VecReader r;
    r.in = in;
    r.special_call = 1;
    r.special_rc = -2;
    vektest::TraceLevel tl(0);
    EXPECT_EQ(vektest::capture_stdout([&] { vek_map_decode_from(map_, VecReader::fn, &r); }), "");
}

std::string traced(const std::function<void()> &fn) {
    vektest::TraceLevel tl(12);
    return vektest::capture_stdout(fn);
}

TEST_F(DecodeTest, TraceLines) {
    const auto fn = ptr(reinterpret_cast<void *>(&VecReader::fn));
    VecReader r;
    r.in = Stream().u32(1).key("k", 4).u32(1).bytes();
    std::string out = traced([&] { vek_map_decode_from(map_, VecReader::fn, &r); });
    // The entry goes in through the set path, which copies its key with vek_map_strdup.
    EXPECT_TRUE(
        maptest::trace_matches(out,
                               format("vek_map_decode_from vek_map=%llx rdfn=%llx arg=%llx\n", ptr(map_), fn, ptr(&r)) +
                                   maptest::strdup_lines(ptr(map_->keys[0])) + "vek_map_decode_from vekStatus=0\n"));
    // A failed count read: no exit line; a null reader: no exit line.
    VecReader empty;
    out = traced([&] { vek_map_decode_from(map_, VecReader::fn, &empty); });
    EXPECT_EQ(out, format("vek_map_decode_from vek_map=%llx rdfn=%llx arg=%llx\n", ptr(map_), fn, ptr(&empty)));
    out = traced([&] { vek_map_decode_from(map_, nullptr, nullptr); });
    EXPECT_EQ(out, format("vek_map_decode_from vek_map=%llx rdfn=0 arg=0\n", ptr(map_)));
    // A failed value read prints the exit line.
    VecReader cut;
    cut.in = Stream().u32(1).key("k", 4).bytes();
    out = traced([&] { vek_map_decode_from(map_, VecReader::fn, &cut); });
    EXPECT_EQ(out, format("vek_map_decode_from vek_map=%llx rdfn=%llx arg=%llx\nvek_map_decode_from vekStatus=6c\n",
                          ptr(map_), fn, ptr(&cut)));
    // vek_map_decode: its own lines around those of the reader.
    const Bytes one = Stream().u32(0).bytes();
    out = traced([&] { vek_map_decode(map_, one.data(), 4); });
    EXPECT_EQ(out.rfind(format("vek_map_decode vek_map=%llx len=4\nvek_map_decode_from vek_map=%llx rdfn=", ptr(map_),
                               ptr(map_)),
                        0),
              0u)
        << out;
    const std::string tail = "vek_map_decode_from vekStatus=0\nvek_map_decode vekStatus=0\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST_F(DecodeTest, NestedTraceLines) {
    const auto fn = ptr(reinterpret_cast<void *>(&VecReader::fn));
    VecReader r;
    r.in = Stream().u32(1).key("m", 2).u32(0).u32(0).bytes();
    const std::string out = traced([&] { vek_map_decode_from(map_, VecReader::fn, &r); });
    ASSERT_EQ(map_->count, 1);
    const vek_map_t *child = map_->values[0]->payload.map;
    // The child comes from vek_map_create (its out-variable is the
    // decoder's own) and is inserted once read.
    EXPECT_TRUE(maptest::trace_matches(out, format("vek_map_decode_from vek_map=%llx rdfn=%llx arg=%llx\n"
                                                   "vek_map_create map={}\n"
                                                   "vek_map_create vekStatus=0\n"
                                                   "vek_map_decode_from vek_map=%llx rdfn=%llx arg=%llx\n"
                                                   "vek_map_decode_from vekStatus=0\n",
                                                   ptr(map_), fn, ptr(&r), ptr(child), fn, ptr(&r)) +
                                                maptest::strdup_lines(ptr(map_->keys[0])) +
                                                "vek_map_decode_from vekStatus=0\n"));
}

TEST_F(DecodeTest, AllocationFailureClearsTheDestination) {
    std::vector<size_t> ends;
    const Bytes full = rich_stream(&ends);
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t nth) {
        vek_saltest_reset();
        vek_map_t *m = nullptr;
        ASSERT_EQ(vek_map_create(&m), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(m, "before", 1, 0), 0u);
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, nth, 1);
        const vek_st_t st = maptest::decode(m, full);
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
        if (st == VEK_ST_SUCCESS) {
            EXPECT_EQ(m->count, 7);
        } else if (nth == 1) {
            EXPECT_EQ(st, VEK_ST_NO_MEMORY); // the reading context: nothing decoded, nothing cleared
            EXPECT_EQ(m->count, 1);
        } else {
            EXPECT_EQ(st, VEK_ST_NO_MEMORY);
            EXPECT_EQ(m->count, 0);
        }
        vek_map_destroy(m);
    });
    EXPECT_GT(points, 20u);
}

// The quiet and the traced decode build the same tree, on maps of every
// size (the entry arrays grow on the way), with repeated, dotted, bracketed
// and empty keys, and nested maps.
TEST_F(DecodeTest, QuietAndTracedDecodesBuildTheSameTree) {
    std::vector<size_t> ends;
    const Bytes rich = rich_stream(&ends);
    for (uint32_t n : {1u, 4u, 5u, 9u, 17u, 40u}) {
        Stream s;
        s.u32(n + 1);
        for (uint32_t i = 0; i < n; ++i) {
            const std::string key = i % 3 == 0 ? "k" : (i % 3 == 1 ? format("p[id=%u]", i) : format("x.y%u", i));
            s.key(key, VEK_MAP_TYPE_I32).u32(i);
        }
        s.key("r", VEK_MAP_TYPE_MAP).u32(0).raw(rich);
        vek_map_t *quiet = nullptr;
        vek_map_t *traced = nullptr;
        ASSERT_EQ(vek_map_create(&quiet), 0u);
        ASSERT_EQ(vek_map_create(&traced), 0u);
        EXPECT_EQ(maptest::decode(quiet, s.bytes()), 0u);
        {
            vektest::TraceLevel trace(12);
            vektest::capture_stdout([&] { EXPECT_EQ(maptest::decode(traced, s.bytes()), 0u); });
        }
        std::string why;
        EXPECT_TRUE(maptest::same_tree(quiet, traced, &why)) << n << ": " << why;
        EXPECT_EQ(maptest::encode(quiet), maptest::encode(traced)) << n;
        vek_map_destroy(quiet);
        vek_map_destroy(traced);
    }
}

// One decode of `in` into a map holding one entry, at a trace level, with
// heap allocation `nth` failing (0: none): what it answers, what it leaves
// and what it asks of the platform.
struct DecodeRun {
    vek_st_t st;
    int32_t count;
    uint32_t heap_allocs;
    uint32_t platform_calls;
    bool fired;
    bool operator==(const DecodeRun &) const = default;
};

DecodeRun decode_run(const Bytes &in, uint32_t level, uint32_t nth) {
    vek_saltest_reset();
    vek_map_t *m = nullptr;
    EXPECT_EQ(vek_map_create(&m), 0u);
    EXPECT_EQ(vek_map_set_i32_ll(m, "before", 1, 0), 0u);
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, nth, nth != 0 ? 1 : 0);
    const uint32_t allocs0 = vek_saltest_alloc_calls(VEK_SALTEST_HEAP);
    const uint32_t calls0 = vek_saltest_platform_calls();
    DecodeRun r{};
    {
        vektest::TraceLevel trace(level);
        vektest::capture_stdout([&] { r.st = maptest::decode(m, in); });
    }
    r.heap_allocs = vek_saltest_alloc_calls(VEK_SALTEST_HEAP) - allocs0;
    r.platform_calls = vek_saltest_platform_calls() - calls0;
    r.fired = vek_saltest_faults_fired() != 0;
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
    r.count = m->count;
    vek_map_destroy(m);
    vek_saltest_reset();
    return r;
}

// The trace level changes the lines and, where a traced line prints the
// address of a key copy, the copies made: every heap allocation that may
// fail, at either level, fails the decode with 2 and leaves the map
// cleared (or untouched), and the quiet decode makes fewer allocations (no key
// copies). The stream has dotted keys, a nested map and a map whose entry
// arrays grow twice.
TEST_F(DecodeTest, QuietAndTracedDecodesFailAlike) {
    std::vector<size_t> ends;
    Stream s;
    s.u32(4);
    s.key("r", VEK_MAP_TYPE_MAP).u32(0).raw(rich_stream(&ends));
    s.key("p.q", VEK_MAP_TYPE_STR).u32(2).raw("hi");
    s.key("g", VEK_MAP_TYPE_MAP).u32(0).u32(9);
    for (uint32_t i = 0; i < 9; ++i) s.key(format("e%u", i), VEK_MAP_TYPE_U32).u32(i);
    s.key("k", VEK_MAP_TYPE_I32).u32(5);
    const Bytes in = s.bytes();

    const DecodeRun quiet_ok = decode_run(in, 0, 0);
    const DecodeRun traced_ok = decode_run(in, 12, 0);
    ASSERT_EQ(quiet_ok.st, VEK_ST_SUCCESS);
    ASSERT_EQ(traced_ok.st, VEK_ST_SUCCESS);
    EXPECT_EQ(quiet_ok.count, 5);
    EXPECT_EQ(traced_ok.count, 5);
    EXPECT_LT(quiet_ok.heap_allocs, traced_ok.heap_allocs);
    for (const uint32_t level : {0u, 12u}) {
        const DecodeRun &ok = level == 0 ? quiet_ok : traced_ok;
        uint32_t nth = 1;
        for (;; ++nth) {
            const DecodeRun run = decode_run(in, level, nth);
            if (!run.fired) {
                EXPECT_EQ(run, ok) << "level " << level;
                break;
            }
            EXPECT_EQ(run.st, VEK_ST_NO_MEMORY) << "level " << level << ", allocation " << nth;
            // cleared, or untouched when the failure came before the first entry
            EXPECT_TRUE(run.count == 0 || run.count == 1) << "level " << level << ", allocation " << nth;
        }
        EXPECT_EQ(nth, ok.heap_allocs + 1u) << "level " << level;
    }
}

} // namespace
