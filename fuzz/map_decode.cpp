// Map decoding of untrusted bytes: decode, encode, decode again, encode
// again. The decoder must answer with a documented status, clear the map
// when it says so, and leave a tree that passes the library's structure
// check after every step, encodes, re-decodes to the
// same stream, answers its queries, dumps, copies and is released without a
// block left over.
//
// Input: byte 0 = heap allocation of the first decode that fails (0: none);
// byte 1 = call of the reader callback that returns a negative value other
// than -1 (0: none, and vek_map_decode reads from memory); the rest is the
// stream. Built with VEK_FUZZ_TRACE, every operation runs with the trace
// lines and the decoder's error line on.
#include "map_check.hpp"

namespace {

struct Reader {
    const uint8_t *data;
    size_t size;
    size_t pos;
    uint32_t calls;
    uint32_t odd_call;
    int32_t odd_result;

    static int32_t fn(void *arg, void *dst, uint32_t len) {
        auto *r = static_cast<Reader *>(arg);
        if (++r->calls == r->odd_call) {
            // Only the count and key length reads treat this as an error; the
            // others take it as success, so the destination gets defined bytes.
            if (len != 0) std::memset(dst, 0, len);
            return r->odd_result;
        }
        if (len > r->size - r->pos) return -1;
        if (len != 0) std::memcpy(dst, r->data + r->pos, len);
        r->pos += len;
        return static_cast<int32_t>(len);
    }
};

bool documented(vek_st_t st) {
    return st == VEK_ST_SUCCESS || st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_INTERNAL_ERROR ||
           st == VEK_ST_MAP_CALLBACK_ERROR;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
#ifdef VEK_FUZZ_TRACE
    vek_trace_level = VEK_TRACE_API_MASK | VEK_TRACE_DECODE_ERROR;
#endif
    fuzz::Input in(data, size);
    const uint8_t fail_at = in.u8();
    const uint8_t odd_call = in.u8();
    size_t len = 0;
    const uint8_t *stream = in.rest(&len);

    const fuzz::LeakCheck leaks;
    vek_map_t *map = nullptr;
    FUZZ_CHECK(vek_map_create(&map) == VEK_ST_SUCCESS);

    vek_saltest_reset();
    if (fail_at != 0) vek_saltest_fail_alloc(VEK_SALTEST_HEAP, fail_at, 1);
    vek_st_t st;
    if (odd_call != 0) {
        Reader r{stream, len, 0, 0, odd_call, -2 - static_cast<int32_t>(odd_call & 3)};
        st = vek_map_decode_from(map, &Reader::fn, &r);
    } else {
        st = vek_map_decode(map, stream, static_cast<int32_t>(len));
    }
    const bool fired = vek_saltest_faults_fired() != 0;
    vek_saltest_reset();

    FUZZ_CHECK(documented(st));
    if (st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_INTERNAL_ERROR) {
        FUZZ_CHECK(map->count == 0 && map->keys == nullptr && map->values == nullptr);
    }
    FUZZ_WHOLE(vek::map::verify(map));
    const int depth = fuzz::check_tree(map, false);
    FUZZ_CHECK(depth <= VEK_MAP_DECODE_MAX_DEPTH + 8);
    (void)fired;

    fuzz::check_queries(map);
    fuzz::dump_all(map);
    FUZZ_WHOLE(vek::map::verify(map));

    // Encode, decode again, encode again.
    const fuzz::Bytes first = fuzz::encode(map);
    vek_map_t *again = nullptr;
    FUZZ_CHECK(vek_map_create(&again) == VEK_ST_SUCCESS);
    const vek_st_t st2 = vek_map_decode(again, first.data(), static_cast<int32_t>(first.size()));
    FUZZ_WHOLE(vek::map::verify(again));
    if (depth <= VEK_MAP_DECODE_MAX_DEPTH) {
        FUZZ_CHECK(st2 == VEK_ST_SUCCESS);
    } else {
        // Keys holding '.' nest a decoded tree deeper than its stream did.
        FUZZ_CHECK(st2 == VEK_ST_SUCCESS || st2 == VEK_ST_MAP_INTERNAL_ERROR);
    }
    if (st2 == VEK_ST_SUCCESS) {
        const fuzz::Bytes second = fuzz::encode(again);
        FUZZ_CHECK(second == first);
        vek_map_t *third = nullptr;
        FUZZ_CHECK(vek_map_create(&third) == VEK_ST_SUCCESS);
        FUZZ_CHECK(vek_map_decode(third, second.data(), static_cast<int32_t>(second.size())) == VEK_ST_SUCCESS);
        FUZZ_WHOLE(vek::map::verify(third));
        FUZZ_CHECK(fuzz::encode(third) == second);
        FUZZ_CHECK(vek_map_destroy(third) == VEK_ST_SUCCESS);

        // A deep copy encodes the same; the source is untouched.
        vek_map_t *copy = nullptr;
        FUZZ_CHECK(vek_map_create(&copy) == VEK_ST_SUCCESS);
        FUZZ_CHECK(vek_map_copy(map, copy) == VEK_ST_SUCCESS);
        FUZZ_WHOLE(vek::map::verify(copy));
        FUZZ_WHOLE(vek::map::verify(map));
        FUZZ_CHECK(fuzz::encode(copy) == first);
        FUZZ_CHECK(vek_map_destroy(copy) == VEK_ST_SUCCESS);
    } else {
        FUZZ_CHECK(again->count == 0);
    }
    FUZZ_CHECK(fuzz::encode(map) == first);

    // Clearing leaves an empty, usable map.
    FUZZ_CHECK(vek_map_clear(again) == VEK_ST_SUCCESS);
    FUZZ_CHECK(again->count == 0 && again->keys == nullptr && again->values == nullptr);
    FUZZ_WHOLE(vek::map::verify(again));
    FUZZ_CHECK(vek_map_set_i32_ll(again, "k", -2, 1) == VEK_ST_SUCCESS);
    FUZZ_WHOLE(vek::map::verify(again));
    static const uint8_t k_minus_2[] = {0, 0, 0, 1, 0, 0, 0, 1, 'k', 0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0xFE};
    FUZZ_CHECK(fuzz::encode(again) == fuzz::Bytes(k_minus_2, k_minus_2 + sizeof k_minus_2));

    FUZZ_CHECK(vek_map_destroy(again) == VEK_ST_SUCCESS);
    FUZZ_CHECK(vek_map_destroy(map) == VEK_ST_SUCCESS);
    FUZZ_NO_LEAK(leaks);
    vek_trace_level = 0;
    return 0;
}
