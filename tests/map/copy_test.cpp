// Deep copy and round trips: encode, decode and copy of fixed and randomly
// generated trees (seeded, bounded), and copy under allocation failure.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "model_support.hpp"

using maptest::Bytes;
using maptest::VecReader;
using maptest::VecWriter;

namespace {

using CopyTest = maptest::MapTest;

// Random tree builder. Keys have no '.', so decoding rebuilds the same
// shape; floats avoid the patterns that do not read back bit for bit
// (exponent 255 and negative zero).
class RandomTree {
public:
    explicit RandomTree(uint32_t seed) : rng_(seed) {}

    void fill(vek_map_t *m, int depth) {
        const int n = static_cast<int>(pick(depth == 0 ? 24 : 10));
        for (int i = 0; i < n; ++i) add(m, key(), depth);
    }

private:
    uint32_t pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

    std::string key() {
        static const char chars[] = "abcXYZ_[]=09 -";
        std::string k;
        const uint32_t len = pick(6);
        for (uint32_t i = 0; i < len; ++i) k += chars[pick(sizeof chars - 1)];
        return k;
    }

    void add(vek_map_t *m, const std::string &k, int depth) {
        const char *key = k.c_str();
        switch (pick(depth < 4 ? 13 : 10)) {
        case 0: ASSERT_EQ(vek_map_set_i32_ll(m, key, static_cast<int32_t>(rng_()), 0), 0u); break;
        case 1: ASSERT_EQ(vek_map_set_u32_ll(m, key, static_cast<uint32_t>(rng_()), 0), 0u); break;
        case 2: ASSERT_EQ(vek_map_set_i64_ll(m, key, static_cast<int64_t>(wide()), 0), 0u); break;
        case 3: ASSERT_EQ(vek_map_set_u64_ll(m, key, wide(), 0), 0u); break;
        case 4: {
            uint32_t bits = static_cast<uint32_t>(rng_());
            if (((bits >> 23) & 0xFF) == 0xFF || bits == 0x80000000u) bits &= 0x3FFFFFFFu;
            float f = 0;
            std::memcpy(&f, &bits, sizeof f);
            ASSERT_EQ(vek_map_set_float_ll(m, key, f, 0), 0u);
            break;
        }
        case 5: {
            const uint64_t bits = wide();
            double d = 0;
            std::memcpy(&d, &bits, sizeof d);
            ASSERT_EQ(vek_map_set_double_ll(m, key, d, 0), 0u);
            break;
        }
        case 6: ASSERT_EQ(vek_map_set_bool_ll(m, key, static_cast<uint8_t>(pick(2)), 0), 0u); break;
        case 7: ASSERT_EQ(vek_map_set_str_ll(m, key, maptest::text(this->key().c_str()), 0), 0u); break;
        case 8: {
            const uint32_t len = pick(40);
            auto *bytes = static_cast<uint8_t *>(len != 0 ? vek_map_malloc(len) : nullptr);
            for (uint32_t i = 0; i < len; ++i) bytes[i] = static_cast<uint8_t>(rng_());
            ASSERT_EQ(vek_map_set_bin_ll(m, key, bytes, len, 0), 0u);
            break;
        }
        case 9: ASSERT_EQ(vek_map_set_str_ll(m, key, nullptr, 0), 0u); break;
        default: {
            vek_map_t *child = nullptr;
            ASSERT_EQ(vek_map_create(&child), 0u);
            fill(child, depth + 1);
            ASSERT_EQ(vek_map_set_map_ll(m, key, child, 0), 0u);
            break;
        }
        }
    }

    uint64_t wide() { return (static_cast<uint64_t>(rng_()) << 32) | rng_(); }

    std::mt19937 rng_;
};

TEST_F(CopyTest, RandomTreesRoundTrip) {
    size_t total = 0;
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE(seed);
        vek_map_t *src = nullptr;
        ASSERT_EQ(vek_map_create(&src), 0u);
        RandomTree(seed).fill(src, 0);
        const Bytes stream = maptest::encode(src);
        total += stream.size();

        vek_map_t *decoded = nullptr;
        ASSERT_EQ(vek_map_create(&decoded), 0u);
        ASSERT_EQ(maptest::decode(decoded, stream), 0u);
        std::string why;
        EXPECT_TRUE(maptest::same_tree(src, decoded, &why)) << why;
        EXPECT_EQ(maptest::encode(decoded), stream);

        // Through callbacks.
        VecWriter w;
        ASSERT_EQ(vek_map_encode_to(src, VecWriter::fn, &w), 0u);
        EXPECT_EQ(w.out, stream);
        VecReader r;
        r.in = stream;
        vek_map_t *read = nullptr;
        ASSERT_EQ(vek_map_create(&read), 0u);
        ASSERT_EQ(vek_map_decode_from(read, VecReader::fn, &r), 0u);
        EXPECT_EQ(r.pos, stream.size());
        EXPECT_TRUE(maptest::same_tree(src, read, &why)) << why;

        // The copy is deep: new storage everywhere.
        vek_map_t *copy = nullptr;
        ASSERT_EQ(vek_map_create(&copy), 0u);
        ASSERT_EQ(vek_map_copy(src, copy), 0u);
        EXPECT_TRUE(maptest::same_tree(src, copy, &why)) << why;
        ASSERT_EQ(vek_map_destroy(src), 0u);
        EXPECT_EQ(maptest::encode(copy), stream);
        vek_map_destroy(copy);
        vek_map_destroy(decoded);
        vek_map_destroy(read);
    }
    EXPECT_GT(total, 20000u); // the generator makes trees of some size
}

TEST_F(CopyTest, CopyIsDeepAndAppends) {
    ASSERT_EQ(vek_map_set_str_ll(map_, "a.s", maptest::text("x"), 1), 0u);
    ASSERT_EQ(vek_map_set_float_ll(map_, "big", std::ldexp(1.0f, 100), 1), 0u);
    ASSERT_EQ(vek_map_set_float_ll(map_, "e30", 1e30f, 1), 0u);
    ASSERT_EQ(vek_map_set_float_ll(map_, "neg", -0.375f, 1), 0u);
    ASSERT_EQ(vek_map_set_float_ll(map_, "tiny", std::numeric_limits<float>::denorm_min(), 1), 0u);
    ASSERT_EQ(vek_map_set_double_ll(map_, "dtiny", -std::numeric_limits<double>::denorm_min(), 1), 0u);
    vek_map_t *dst = nullptr;
    ASSERT_EQ(vek_map_create(&dst), 0u);
    ASSERT_EQ(vek_map_set_i32_ll(dst, "a", 1, 1), 0u);
    ASSERT_EQ(vek_map_copy(map_, dst), 0u);
    ASSERT_EQ(dst->count, 7);
    EXPECT_STREQ(dst->keys[0], "a");
    EXPECT_STREQ(dst->keys[1], "a");
    char *s1 = nullptr;
    char *s2 = nullptr;
    ASSERT_EQ(vek_map_get_str(map_, "a.s", &s1), 0u);
    ASSERT_EQ(vek_map_get_str(dst->values[1]->payload.map, "s", &s2), 0u);
    EXPECT_NE(s1, s2);
    EXPECT_STREQ(s2, "x");
    for (const char *k : {"big", "e30", "neg", "tiny"}) {
        float a = 0;
        float b = 1;
        ASSERT_EQ(vek_map_get_float(map_, k, &a), 0u);
        ASSERT_EQ(vek_map_get_float(dst, k, &b), 0u);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << k;
    }
    double da = 0;
    double db = 1;
    ASSERT_EQ(vek_map_get_double(map_, "dtiny", &da), 0u);
    ASSERT_EQ(vek_map_get_double(dst, "dtiny", &db), 0u);
    EXPECT_EQ(std::memcmp(&da, &db, sizeof da), 0);
    vek_map_destroy(dst);
}

TEST_F(CopyTest, CopyStatuses) {
    vek_map_t bad{};
    EXPECT_EQ(vek_map_copy(nullptr, map_), VEK_ST_MAP_INVALID_MAP);
    EXPECT_EQ(vek_map_copy(&bad, map_), VEK_ST_MAP_INVALID_MAP);
    EXPECT_EQ(vek_map_copy(map_, nullptr), VEK_ST_MAP_INVALID_MAP);
    std::string deep;
    for (int i = 0; i <= VEK_MAP_DECODE_MAX_DEPTH; ++i) deep += "l.";
    ASSERT_EQ(vek_map_set_i32_ll(map_, (deep + "v").c_str(), 1, 1), 0u);
    vek_map_t *dst = nullptr;
    ASSERT_EQ(vek_map_create(&dst), 0u);
    EXPECT_EQ(vek_map_copy(map_, dst), VEK_ST_MAP_INTERNAL_ERROR);
    EXPECT_EQ(dst->count, 0);
    vek_map_destroy(dst);
}

TEST_F(CopyTest, TraceLinesAroundTheEncodeAndDecode) {
    vek_map_t *dst = nullptr;
    ASSERT_EQ(vek_map_create(&dst), 0u);
    std::string out;
    {
        vektest::TraceLevel tl(4);
        out = vektest::capture_stdout([&] { vek_map_copy(map_, dst); });
    }
    const std::string first = vektest::format("vek_map_copy vek_map=%llx vek_mapcopy=%llx\nvek_map_encode vek_map=%llx",
                                              vektest::ptr(map_), vektest::ptr(dst), vektest::ptr(map_));
    const std::string last = "vek_map_decode vekStatus=0\nvek_map_copy vekStatus=0\n";
    EXPECT_EQ(out.rfind(first, 0), 0u) << out;
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last) << out;
    EXPECT_NE(out.find(vektest::format("vek_map_decode vek_map=%llx len=4\n", vektest::ptr(dst))), std::string::npos);
    vek_map_destroy(dst);
}

TEST_F(CopyTest, CopyUnderAllocationFailure) {
    RandomTree(99).fill(map_, 0);
    vek_map_t *reference = nullptr;
    ASSERT_EQ(vek_map_create(&reference), 0u);
    ASSERT_EQ(vek_map_copy(map_, reference), 0u);
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t nth) {
        vek_saltest_reset();
        vek_map_t *dst = nullptr;
        ASSERT_EQ(vek_map_create(&dst), 0u);
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, nth, 1);
        const vek_st_t st = vek_map_copy(map_, dst);
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 0, 0);
        std::string why;
        if (st == VEK_ST_SUCCESS) {
            EXPECT_TRUE(maptest::same_tree(dst, reference, &why)) << why;
        } else {
            EXPECT_TRUE(st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_CALLBACK_ERROR) << st;
            EXPECT_EQ(dst->count, 0);
        }
        vek_map_destroy(dst);
    });
    EXPECT_GT(points, 10u);
    // The source is untouched by all this.
    std::string why;
    EXPECT_TRUE(maptest::same_tree(map_, reference, &why)) << why;
    vek_map_destroy(reference);
}

} // namespace
