// Map decoding on untrusted input, seeded and bounded: random buffers,
// mutated / truncated / length-inflated encodings of random trees, streams
// nested around the depth limit, and reader callbacks with odd results.
// Every result must be a documented status, a failure that clears must
// leave the destination empty, and the destination must stay a valid map
// that encodes, dumps and is destroyed without leaking.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "model_support.hpp"

using maptest::Bytes;
using maptest::Stream;

namespace {

bool documented(vek_st_t st) {
    return st == VEK_ST_SUCCESS || st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_INTERNAL_ERROR ||
           st == VEK_ST_MAP_INVALID_MAP || st == VEK_ST_MAP_CALLBACK_ERROR;
}

uint32_t be32(const Bytes &b, size_t at) {
    return (static_cast<uint32_t>(b[at]) << 24) | (static_cast<uint32_t>(b[at + 1]) << 16) |
           (static_cast<uint32_t>(b[at + 2]) << 8) | b[at + 3];
}

// Offsets of the count and length words of a well-formed stream (entry
// counts, key lengths, text and byte-block lengths), found by walking it;
// `counts` receives the offsets of the entry counts.
void length_fields(const Bytes &b, size_t *pos, std::vector<size_t> *out, std::vector<size_t> *counts) {
    out->push_back(*pos);
    counts->push_back(*pos);
    const uint32_t count = be32(b, *pos);
    *pos += 4;
    for (uint32_t i = 0; i<count &&static_cast<int32_t>(count)> 0; ++i) {
        out->push_back(*pos);
        *pos += 4 + be32(b, *pos);
        const uint32_t type = be32(b, *pos);
        *pos += 4;
        switch (type) {
        case VEK_MAP_TYPE_STR:
        case VEK_MAP_TYPE_BIN:
            out->push_back(*pos);
            *pos += 4 + be32(b, *pos);
            break;
        case VEK_MAP_TYPE_MAP:
            *pos += 4;
            length_fields(b, pos, out, counts);
            break;
        case VEK_MAP_TYPE_I64:
        case VEK_MAP_TYPE_U64:
        case VEK_MAP_TYPE_DOUBLE: *pos += 8; break;
        case VEK_MAP_TYPE_I32:
        case VEK_MAP_TYPE_U32:
        case VEK_MAP_TYPE_FLOAT:
        case VEK_MAP_TYPE_BOOL: *pos += 4; break;
        default: break;
        }
    }
}

class DecodeRandomTest : public vektest::LeakCheckedTest {
protected:
    std::mt19937 rng_{20261210u};

    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }

    std::string random_key() {
        static const char alphabet[] = "abcXYZ019_[]=-";
        std::string k;
        const uint32_t n = below(4);
        for (uint32_t i = 0; i < n; ++i) k += alphabet[below(sizeof alphabet - 1)];
        return k;
    }

    // Fills m with a few entries of every type, nesting up to `depth` levels.
    void random_tree(vek_map_t *m, int depth) {
        const uint32_t n = below(5);
        for (uint32_t i = 0; i < n; ++i) {
            const std::string k = random_key();
            const char *key = k.c_str();
            const uint8_t check = static_cast<uint8_t>(below(2));
            vek_st_t st = 0;
            switch (below(depth > 0 ? 11 : 10)) {
            case 0: st = vek_map_set_i32_ll(m, key, static_cast<int32_t>(rng_()), check); break;
            case 1: st = vek_map_set_u32_ll(m, key, rng_(), check); break;
            case 2: st = vek_map_set_i64_ll(m, key, static_cast<int64_t>(rng_()) << 20, check); break;
            case 3: st = vek_map_set_u64_ll(m, key, (static_cast<uint64_t>(rng_()) << 32) | rng_(), check); break;
            case 4: st = vek_map_set_float_ll(m, key, static_cast<float>(rng_()) / 7.0f, check); break;
            case 5: st = vek_map_set_double_ll(m, key, static_cast<double>(rng_()) / 3.0, check); break;
            case 6: st = vek_map_set_bool_ll(m, key, static_cast<uint8_t>(below(3)), check); break;
            case 7: st = vek_map_set_str_ll(m, key, vek_map_strdup(std::string(below(6), 's').c_str()), check); break;
            case 8: {
                const uint32_t len = below(5);
                void *b = len == 0 ? nullptr : vek_map_malloc(len);
                if (b != nullptr) std::memset(b, static_cast<int>(rng_()), len);
                st = vek_map_set_bin_ll(m, key, b, len, check);
                break;
            }
            case 9: st = vek_map_set_value_ll(m, key, nullptr, check); break;
            default: {
                vek_map_t *child = nullptr;
                ASSERT_EQ(vek_map_create(&child), 0u);
                random_tree(child, depth - 1);
                st = vek_map_set_map_ll(m, key, child, check);
                break;
            }
            }
            ASSERT_EQ(st, 0u) << key;
        }
    }

    Bytes random_encoding() {
        vek_map_t *m = nullptr;
        EXPECT_EQ(vek_map_create(&m), 0u);
        random_tree(m, 2);
        vek_st_t st = 1;
        Bytes out = maptest::encode(m, &st);
        EXPECT_EQ(st, 0u);
        EXPECT_EQ(vek_map_destroy(m), 0u);
        return out;
    }

    // Checks the destination after a decode that returned st; `had_marker`
    // tells whether the entry "marker" was put in before the call.
    // `before_reading` marks a failure of vek_map_decode's own reading
    // context, which comes before the destination is touched.
    void check_destination(vek_map_t *m, vek_st_t st, bool had_marker, const std::string &what,
                           bool before_reading = false) {
        EXPECT_TRUE(documented(st)) << what << " status " << st;
        EXPECT_NE(st, VEK_ST_MAP_INVALID_MAP) << what; // the destination was valid
        ASSERT_EQ(m->magic, VEK_MAP_MAGIC) << what;
        if (before_reading) {
            EXPECT_EQ(m->count, had_marker ? 1 : 0) << what;
        } else if (st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_INTERNAL_ERROR) {
            EXPECT_EQ(m->count, 0) << what;
            EXPECT_EQ(m->keys, nullptr) << what;
            EXPECT_EQ(m->values, nullptr) << what;
        } else if (had_marker) {
            ASSERT_GE(m->count, 1) << what;
            EXPECT_STREQ(m->keys[0], "marker") << what;
        }
        // Still a valid tree: it encodes, the encoding decodes to the same
        // tree, and it dumps.
        vek_st_t enc = 1;
        const Bytes again = maptest::encode(m, &enc);
        EXPECT_EQ(enc, 0u) << what;
        vek_map_t *copy = nullptr;
        ASSERT_EQ(vek_map_create(&copy), 0u);
        EXPECT_EQ(maptest::decode(copy, again), 0u) << what;
        EXPECT_EQ(maptest::encode(copy), again) << what;
        EXPECT_EQ(vek_map_destroy(copy), 0u);
        char *text = nullptr;
        size_t size = 0;
        std::FILE *f = open_memstream(&text, &size);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(vek_map_dump_to_stream(m, f), 0u) << what;
        std::fclose(f);
        std::free(text);
    }

    // Decodes `in` into a fresh map (sometimes holding "marker" first),
    // checks the invariants and destroys the map.
    vek_st_t decode_and_check(const Bytes &in, const std::string &what) {
        vek_map_t *m = nullptr;
        EXPECT_EQ(vek_map_create(&m), 0u);
        const bool marker = below(2) == 1;
        if (marker) {
            EXPECT_EQ(vek_map_set_i32_ll(m, "marker", 1, 0), 0u);
        }
        const vek_st_t st = maptest::decode(m, in);
        check_destination(m, st, marker, what);
        EXPECT_EQ(vek_map_destroy(m), 0u) << what;
        return st;
    }
};

TEST_F(DecodeRandomTest, UniformlyRandomBuffers) {
    for (int iter = 0; iter < 2000; ++iter) {
        Bytes in(below(64));
        for (auto &b : in) b = static_cast<uint8_t>(rng_());
        // Small plausible counts and lengths make the decoder go deeper.
        if (in.size() >= 4 && below(2) == 1) in[0] = in[1] = in[2] = 0;
        decode_and_check(in, "random buffer " + std::to_string(iter));
    }
}

TEST_F(DecodeRandomTest, MutatedTruncatedAndInflatedEncodings) {
    static const uint32_t kLengths[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu};
    int ok = 0;
    for (int iter = 0; iter < 1000; ++iter) {
        const Bytes good = random_encoding();
        ASSERT_EQ(decode_and_check(good, "intact " + std::to_string(iter)), 0u);
        Bytes bad = good;
        std::string what = "iter " + std::to_string(iter);
        switch (below(4)) {
        case 0: { // a few random byte mutations
            const uint32_t n = 1 + below(4);
            for (uint32_t i = 0; i < n; ++i)
                bad[below(static_cast<uint32_t>(bad.size()))] = static_cast<uint8_t>(rng_());
            what += " mutated";
            break;
        }
        case 1: // truncated
            bad.resize(below(static_cast<uint32_t>(bad.size())));
            what += " truncated to " + std::to_string(bad.size());
            break;
        default: { // a 4-byte word (count, key length, text length ...) set large
            if (bad.size() < 4) break;
            std::vector<size_t> fields;
            std::vector<size_t> counts;
            size_t walked = 0;
            length_fields(good, &walked, &fields, &counts);
            EXPECT_EQ(walked, good.size());
            // Mostly a real count or length word, sometimes any word.
            const uint32_t pos = below(4) != 0
                                     ? static_cast<uint32_t>(fields[below(static_cast<uint32_t>(fields.size()))])
                                     : below(static_cast<uint32_t>(bad.size()) - 3);
            const uint32_t left = static_cast<uint32_t>(bad.size()) - pos - 4;
            const uint32_t v = below(5) == 0 ? left + 1 : kLengths[below(4)];
            for (int s = 0; s < 4; ++s) bad[pos + s] = static_cast<uint8_t>(v >> (24 - 8 * s));
            what += " word at " + std::to_string(pos) + " = " + std::to_string(v);
            const bool is_count = std::find(counts.begin(), counts.end(), pos) != counts.end();
            const bool is_length = !is_count && std::find(fields.begin(), fields.end(), pos) != fields.end();
            if (is_length) {
                // A length of 0xFFFFFFFF cannot be allocated; any other
                // length here runs past the end of the buffer.
                EXPECT_EQ(decode_and_check(bad, what), v == 0xFFFFFFFFu ? VEK_ST_NO_MEMORY : VEK_ST_MAP_CALLBACK_ERROR)
                    << what;
                continue;
            }
            if (pos == 0) { // the top-level count: below 1 is an empty map, else entries run out
                EXPECT_EQ(decode_and_check(bad, what), static_cast<int32_t>(v) < 1 ? 0u : VEK_ST_MAP_CALLBACK_ERROR)
                    << what;
                continue;
            }
            break;
        }
        }
        if (decode_and_check(bad, what) == 0) ++ok;
    }
    EXPECT_GT(ok, 0); // some corruptions still decode (e.g. in value bytes)
}

// A stream of `levels` nested maps under the key `key`, ending with an i32.
Bytes nested(int levels, const std::string &key) {
    Stream s;
    s.u32(1);
    for (int i = 0; i < levels; ++i) s.key(key, VEK_MAP_TYPE_MAP).u32(0).u32(1);
    s.key("v", VEK_MAP_TYPE_I32).u32(7);
    return s.bytes();
}

TEST_F(DecodeRandomTest, NestingAroundTheDepthLimit) {
    for (int iter = 0; iter < 200; ++iter) {
        const int levels = VEK_MAP_DECODE_MAX_DEPTH - 3 + static_cast<int>(below(7));
        const int dots = static_cast<int>(below(3)); // each dot adds one map level
        std::string key(static_cast<size_t>(dots) + 1, '.');
        key[0] = 'l';
        if (dots != 0) key += 'd';
        const int depth = levels * (dots + 1);
        Bytes in = nested(levels, key);
        std::string what = "levels " + std::to_string(levels) + " dots " + std::to_string(dots);
        const bool cut = below(3) == 0;
        if (cut) {
            in.resize(below(static_cast<uint32_t>(in.size())));
            what += " cut at " + std::to_string(in.size());
        }
        const vek_st_t st = decode_and_check(in, what);
        if (!cut) {
            EXPECT_EQ(st, depth <= VEK_MAP_DECODE_MAX_DEPTH ? 0u : VEK_ST_MAP_INTERNAL_ERROR) << what;
        } else {
            EXPECT_TRUE(st == VEK_ST_MAP_CALLBACK_ERROR || st == VEK_ST_MAP_INTERNAL_ERROR || st == 0) << what;
        }
    }
}

// Reader over a byte stream whose results are drawn at random: the full
// length, −1 (failure), another negative value, 0 or a short positive
// value. Every result but −1 fills the destination, as the callback
// contract asks; lengths past the stream fail with −1.
struct OddReader {
    Bytes in;
    size_t pos = 0;
    std::mt19937 *rng = nullptr;
    uint32_t calls = 0;

    static int32_t fn(void *arg, void *data, uint32_t len) {
        auto *r = static_cast<OddReader *>(arg);
        ++r->calls;
        const uint32_t pick = (*r->rng)() % 16;
        if (pick == 0 || len > r->in.size() - r->pos) return -1;
        if (len != 0) std::memcpy(data, r->in.data() + r->pos, len);
        r->pos += len;
        switch (pick) {
        case 1: return -2;
        case 2: return INT32_MIN;
        case 3: return 0;
        case 4: return static_cast<int32_t>(len / 2);
        default: return static_cast<int32_t>(len);
        }
    }
};

TEST_F(DecodeRandomTest, ReaderCallbacksWithOddResults) {
    int outcomes[4] = {0, 0, 0, 0}; // 0, 108, 102, other
    for (int iter = 0; iter < 1000; ++iter) {
        OddReader r;
        r.in = random_encoding();
        r.rng = &rng_;
        vek_map_t *m = nullptr;
        ASSERT_EQ(vek_map_create(&m), 0u);
        const bool marker = below(2) == 1;
        if (marker) {
            ASSERT_EQ(vek_map_set_i32_ll(m, "marker", 1, 0), 0u);
        }
        const vek_st_t st = vek_map_decode_from(m, OddReader::fn, &r);
        const std::string what = "iter " + std::to_string(iter);
        EXPECT_TRUE(st == 0 || st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_INTERNAL_ERROR ||
                    st == VEK_ST_MAP_CALLBACK_ERROR)
            << what << " status " << st;
        EXPECT_LE(r.pos, r.in.size());
        check_destination(m, st, marker, what);
        ASSERT_EQ(vek_map_destroy(m), 0u);
        ++outcomes[st == 0 ? 0 : st == VEK_ST_MAP_CALLBACK_ERROR ? 1 : st == VEK_ST_MAP_INTERNAL_ERROR ? 2 : 3];
    }
    // The draw reaches the three main outcomes.
    EXPECT_GT(outcomes[0], 0);
    EXPECT_GT(outcomes[1], 0);
    EXPECT_GT(outcomes[2], 0);
}

TEST_F(DecodeRandomTest, AllocationFailuresAtRandomPointsClearTheDestination) {
    int fired_runs = 0;
    for (int iter = 0; iter < 400; ++iter) {
        const Bytes in = random_encoding();
        vek_map_t *m = nullptr;
        ASSERT_EQ(vek_map_create(&m), 0u);
        ASSERT_EQ(vek_map_set_i32_ll(m, "marker", 1, 0), 0u);
        // The failure point lies among the allocations a fault-free decode
        // of the same stream makes (counted on a map of its own).
        vek_map_t *probe = nullptr;
        ASSERT_EQ(vek_map_create(&probe), 0u);
        vek_saltest_reset();
        maptest::decode(probe, in);
        const uint32_t calls = vek_saltest_alloc_calls(VEK_SALTEST_HEAP);
        ASSERT_EQ(vek_map_destroy(probe), 0u);
        vek_saltest_reset();
        const uint32_t nth = 1 + below(calls);
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, nth, 1);
        const vek_st_t st = maptest::decode(m, in);
        const bool fired = vek_saltest_faults_fired() != 0;
        vek_saltest_reset();
        fired_runs += fired ? 1 : 0;
        const std::string what = "iter " + std::to_string(iter) + " nth " + std::to_string(nth);
        // Every allocation failure while decoding is reported as such.
        EXPECT_EQ(st, fired ? VEK_ST_NO_MEMORY : 0u) << what;
        // The first allocation is the reading context: that failure leaves
        // the destination as it was; every later one clears it.
        check_destination(m, st, true, what, fired && nth == 1);
        ASSERT_EQ(vek_map_destroy(m), 0u);
    }
    EXPECT_GT(fired_runs, 100);
}

} // namespace
