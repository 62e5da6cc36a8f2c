// Span walk: reports every gap between used identifiers of a bitmap, read
// as a ring, as (used before, used after). All-zero and all-ones words are
// skipped whole. The tail bits of the last word read as used positions
// size, size + 1, ...: a gap that runs to the end from an earlier word is
// reported as (p, size) and then (size - 1, F) for the identifiers below the
// lowest used position F; one that starts in the last word joins the
// identifiers below F directly.
#include <bit>

#include "bitmap/bitmap_internal.hpp"
#include "foundation/trace.hpp"

using vek::trace::line;

namespace {

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
            const uint64_t q = p + 1u;
            if (q >= static_cast<uint64_t>(words_) * 32u) return finish_at_end();
            if (!bit(q)) {
                uint64_t next = 0;
                if (!next_set(q, &next)) return report(static_cast<uint32_t>(p), first_) ? 0 : -1;
                if (!report(static_cast<uint32_t>(p), static_cast<uint32_t>(next))) return -1;
                p = next;
            } else if (!last_of_set_run(q, &p)) {
                return finish_at_end();
            }
        }
    }

private:
    bool report(uint32_t before, uint32_t after) const { return fn_(before, after, args_) == 0u; }

    bool bit(uint64_t pos) const { return ((bits_[pos / 32u] >> (pos % 32u)) & 1u) != 0u; }

    // Bits of word `wi` from bit `from` up that a search inside that word may
    // look at: in the last word only those below size % 32 (when not 0).
    uint32_t window(uint64_t wi, uint32_t from) const {
        uint32_t m = ~0u << from;
        if (wi + 1u == words_ && size_ % 32u != 0u) m &= ~(~0u << (size_ % 32u));
        return m;
    }

    bool lowest_set(uint64_t *pos) const {
        for (uint64_t wi = 0; wi < words_; ++wi) {
            if (bits_[wi] != 0u) {
                *pos = wi * 32u + static_cast<uint32_t>(std::countr_zero(bits_[wi]));
                return true;
            }
        }
        return false;
    }

    // Next set bit above the clear bit q: within q's own word (limited),
    // then the lowest set bit of the first non-zero word after it (which
    // may be a tail bit). False when the gap runs to the end of the array.
    bool next_set(uint64_t q, uint64_t *pos) const {
        uint64_t wi = q / 32u;
        const uint32_t m = bits_[wi] & window(wi, static_cast<uint32_t>(q % 32u));
        if (m != 0u) {
            *pos = wi * 32u + static_cast<uint32_t>(std::countr_zero(m));
            return true;
        }
        for (++wi; wi < words_; ++wi) {
            if (bits_[wi] != 0u) {
                *pos = wi * 32u + static_cast<uint32_t>(std::countr_zero(bits_[wi]));
                return true;
            }
        }
        return false;
    }

    // Last set bit of the run of set bits that begins at q. False when the
    // run reaches the end of the array (tail bits included).
    bool last_of_set_run(uint64_t q, uint64_t *pos) const {
        uint64_t wi = q / 32u;
        const uint32_t clear = ~bits_[wi] & window(wi, static_cast<uint32_t>(q % 32u));
        if (clear != 0u) {
            *pos = wi * 32u + static_cast<uint32_t>(std::countr_zero(clear)) - 1u;
            return true;
        }
        for (++wi; wi < words_; ++wi) {
            if (bits_[wi] != ~0u) {
                *pos = wi * 32u + static_cast<uint32_t>(std::countr_zero(~bits_[wi])) - 1u;
                return true;
            }
        }
        return false;
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
    line("vek_bitmap_find_spans", {{"map", map}, {"fn", fn}, {"args", args}});
    if (map == nullptr || map->bits == nullptr || fn == nullptr) {
        line("vek_bitmap_find_spans", {{"vekStatus", VEK_ST_INVALID_VALUE}});
        return -1;
    }
    const int32_t rc = SpanWalk(map, fn, args).run();
    line("vek_bitmap_find_spans", {{"vekStatus", rc == 0 ? VEK_ST_SUCCESS : VEK_ST_ERROR}});
    return rc;
}
