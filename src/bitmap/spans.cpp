// Span walk: reports every gap between used identifiers of a bitmap, read
// as a ring, as (used before, used after). All-zero and all-ones words are
// skipped whole. The tail bits of the last word read as used positions
// size, size + 1, ...: a gap that runs to the end from an earlier word is
// reported as (p, size) and then (size - 1, F) for the identifiers below the
// lowest used position F; one that starts in the last word joins the
// identifiers below F directly.
#include "bitmap/bitmap_internal.hpp"
#include "foundation/trace.hpp"

namespace {

using vek::bitmap::find_next;

class SpanWalk {
public:
    SpanWalk(const vek_bitmap_t *map, vek_bitmap_span_fn_t fn, uintptr_t args)
        : bits_(map->bits), words_(map->words_needed), size_(map->size), fn_(fn), args_(args) {}

    int32_t run() {
        uint64_t first = 0;
        if (!lowest_set(&first)) return -1;
        first_ = static_cast<uint32_t>(first);
        if (first_ >= size_ - 1u) return report(first_, first_) ? 0 : -1;
        uint64_t p = first_;
        for (;;) {
            // p is used: the gap after its run, then the used position after the gap.
            uint64_t last = 0;
            if (!last_of_set_run(p, &last)) return finish_at_end();
            uint64_t next = 0;
            if (!next_set(last + 1u, &next)) return report(static_cast<uint32_t>(last), first_) ? 0 : -1;
            if (!report(static_cast<uint32_t>(last), static_cast<uint32_t>(next))) return -1;
            p = next;
        }
    }

private:
    bool report(uint32_t before, uint32_t after) const { return fn_(before, after, args_) == 0u; }

    uint64_t next(bool used, uint64_t from) const {
        const uint64_t end = uint64_t{words_} * 32u;
        return used ? find_next<true>(bits_, words_, from, end) : find_next<false>(bits_, words_, from, end);
    }

    bool lowest_set(uint64_t *pos) const {
        *pos = next(true, 0);
        return *pos < uint64_t{words_} * 32u;
    }

    // Next set bit above the clear bit q. A tail bit counts only when the
    // gap began in an earlier word: inside the last word the search stops
    // at the size. False when the gap runs to the end of the array.
    bool next_set(uint64_t q, uint64_t *pos) const {
        *pos = next(true, q);
        if (q / 32u + 1u == words_ && *pos >= size_) return false;
        return *pos < uint64_t{words_} * 32u;
    }

    // Last set bit of the run of set bits that holds q. False when the run
    // reaches the end of the array (tail bits included).
    bool last_of_set_run(uint64_t q, uint64_t *pos) const {
        const uint64_t clear = next(false, q);
        *pos = clear - 1u;
        return clear < uint64_t{words_} * 32u;
    }

    // The used positions reach the end: the gap below the lowest used
    // position, if there is one, closes the ring.
    int32_t finish_at_end() const {
        if (first_ == 0u) return 0;
        return report(size_ - 1u, first_) ? 0 : -1;
    }

    const uint32_t *bits_;
    uint32_t words_;
    uint32_t size_;
    vek_bitmap_span_fn_t fn_;
    uintptr_t args_;
    uint32_t first_ = 0;
};

} // namespace

extern "C" VEK_API int32_t vek_bitmap_find_spans(vek_bitmap_t *map, vek_bitmap_span_fn_t fn, uintptr_t args) {
    const vek::trace::Call call(__func__, {{"map", map}, {"fn", fn}, {"args", args}});
    const bool usable = map != nullptr && map->bits != nullptr && fn != nullptr;
    const int32_t rc = usable ? SpanWalk(map, fn, args).run() : -1;
    vek_st_t st = VEK_ST_INVALID_VALUE;
    if (usable) st = (rc == 0) ? VEK_ST_SUCCESS : VEK_ST_ERROR;
    call.exit({{"vekStatus", st}});
    return rc;
}
