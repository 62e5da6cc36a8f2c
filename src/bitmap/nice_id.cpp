// Nice identifiers: a free identifier in the middle of the widest gap
// between used identifiers, the bitmap read as a ring. Neither picker
// reserves what it returns.
#include <algorithm>

#include "bitmap/bitmap_internal.hpp"
#include "bitmap/nice_id_internal.hpp"
#include "foundation/invariant.hpp"
#include "foundation/memory.hpp"
#include "foundation/trace.hpp"

namespace {

// Free identifiers of the gap plus one.
uint32_t span_length(uint32_t before, uint32_t after, uint32_t size) {
    if (before < after) return after - before;
    if (after < before) return after - before + size;
    return size;
}

// A position on the ring of `size` identifiers: `id` (below 2 * size)
// brought back below size.
uint32_t on_ring(uint64_t id, uint32_t size) { return static_cast<uint32_t>(id >= size ? id - size : id); }

// The middle of the gap (before, after) on a ring of `size` identifiers.
uint32_t middle_of(uint32_t before, uint32_t after, uint32_t size) {
    uint32_t d = size / 2u;
    if (before < after) d = (after - before) / 2u;
    if (after < before) d = (after - before + size) / 2u;
    return on_ring(uint64_t{before} + d, size);
}

// Ranks the records of the chain of longest gaps by how close their
// neighbours in the chain lie, smallest distance first; equal distances keep
// the record put last.
void rank_chain(vek_sorted_set_t *picks, vek_span_rec_t *chain, uint32_t size) {
    auto put = [picks](uint32_t key, vek_span_rec_t *rec) {
        vek_sorted_set_put(picks, key, vek::bitmap::pick_cmp_ascending, reinterpret_cast<uintptr_t>(rec));
    };
    vek_span_rec_t *r0 = chain;
    vek_span_rec_t *r1 = chain->next;
    if (r1 == nullptr) {
        put(1u, r0);
        return;
    }
    // Interior records: the distance between their two neighbours.
    vek_span_rec_t *prev = r0;
    vek_span_rec_t *cur = r1;
    while (cur->next != nullptr) {
        put(cur->next->before - prev->before, cur);
        prev = cur;
        cur = cur->next;
    }
    // The two ends, whose neighbours wrap round the ring: cur is the last
    // record, prev the one before it.
    put(r0->before - prev->before + size, cur);
    put(r1->before - cur->before + size, r0);
}

} // namespace

int32_t vek::bitmap::pick_cmp_descending(uintptr_t a, uintptr_t b) {
    if (a > b) return 1;
    if (a < b) return 2;
    return 0;
}

int32_t vek::bitmap::pick_cmp_ascending(uintptr_t a, uintptr_t b) {
    if (a > b) return 2;
    if (a < b) return 1;
    return 0;
}

int32_t vek::bitmap::pick_free_chain(uintptr_t /*key*/, uintptr_t value) {
    auto *rec = reinterpret_cast<vek_span_rec_t *>(value);
    while (rec != nullptr) {
        vek_span_rec_t *next = rec->next;
        vek::robust_free(&rec);
        rec = next;
    }
    return 0;
}

uint32_t vek::bitmap::pick_span_cb(uint32_t before, uint32_t after, uintptr_t ctx) {
    const auto *pick = reinterpret_cast<const vek_pick_ctx_t *>(ctx);
    const uint32_t len = span_length(before, after, pick->size);
    vek_span_rec_t *rec = nullptr;
    if (vek::robust_alloc(&rec, VEK_NVM_NO_FILL) != VEK_ST_SUCCESS) return static_cast<uint32_t>(-1);
    rec->before = before;
    rec->after = after;
    rec->next = nullptr;
    auto *chain =
        reinterpret_cast<vek_span_rec_t *>(vek_sorted_set_get(pick->spans, len, vek::bitmap::pick_cmp_descending));
    if (chain != nullptr) {
        rec->tail = nullptr;
        chain->tail->next = rec;
        chain->tail = rec;
        return 0;
    }
    rec->tail = rec;
    const uint32_t count = vek_sorted_set_size(pick->spans);
    vek_sorted_set_put(pick->spans, len, vek::bitmap::pick_cmp_descending, reinterpret_cast<uintptr_t>(rec));
    // A set that could not grow did not file the record: it is dropped.
    if (vek_sorted_set_size(pick->spans) == count) vek::robust_free(&rec);
    return 0;
}

namespace {

// The picker over the chains of widest gaps; the bitmap's size when
// nothing can be picked, half of it when the span walk fails.
uint32_t pick_by_spans(vek_bitmap_t *map) {
    const uint32_t size = vek_bitmap_get_size(map);
    if (map == nullptr) return size;
    const uint32_t half = size / 2u;
    vek_sorted_set_t *spans = vek_sorted_set_create(1024, half);
    if (spans == nullptr) return size;
    vek_pick_ctx_t ctx{spans, size};
    if (vek_bitmap_find_spans(map, vek::bitmap::pick_span_cb, reinterpret_cast<uintptr_t>(&ctx)) == -1) {
        vek_sorted_set_delete_nodes_and_set(spans, vek::bitmap::pick_free_chain);
        return half;
    }
    uint32_t id = size;
    vek_sorted_set_t *picks = nullptr;
    auto *chain = reinterpret_cast<vek_span_rec_t *>(vek_sorted_set_get_n(spans, 0));
    if (chain != nullptr) {
        picks = vek_sorted_set_create(1024, 16);
        if (picks != nullptr) {
            rank_chain(picks, chain, size);
            const auto *chosen = reinterpret_cast<const vek_span_rec_t *>(vek_sorted_set_get_n(picks, 0));
            // The first put of rank_chain always fits the 16 initial nodes.
            if (VEK_ALWAYS(chosen != nullptr)) id = middle_of(chosen->before, chosen->after, size);
        }
    }
    // The spans first, with their records; then the picks, whose values are
    // those records and are not released again.
    vek_sorted_set_delete_nodes_and_set(spans, vek::bitmap::pick_free_chain);
    if (picks != nullptr) vek_sorted_set_delete_nodes_and_set(picks, nullptr);
    return id;
}

} // namespace

namespace {

// The single-pass scan over the used positions up to and including size
// (the first tail bit, when the array has one there).
uint32_t pick_single_pass(vek_bitmap_t *map) {
    using vek::bitmap::next_used;
    const uint32_t size = map->size;
    uint32_t best_start = 0;
    uint32_t best_end = size;
    uint32_t length = size;
    const uint64_t end = uint64_t{map->words_needed} * 32u;
    const uint64_t lowest = next_used(map, 0);
    if (lowest < end) {
        const uint64_t limit = std::min<uint64_t>(size, end - 1u);
        uint32_t prev = 0;
        uint32_t last = 0;
        best_end = 0;
        for (uint64_t at = lowest; at <= limit; at = next_used(map, at + 1u)) {
            const auto pos = static_cast<uint32_t>(at);
            const uint32_t gap = pos - prev;
            if (gap > 1u && gap > best_end - best_start) {
                best_start = prev;
                best_end = pos;
            }
            last = pos;
            if (pos < size - 1u) prev = pos;
        }
        const auto first = static_cast<uint32_t>(lowest);
        length = best_end - best_start;
        if (prev == last) {
            // No tail bit read: the gap from the last used position round to
            // the first one.
            const uint32_t wrap = size + first - last;
            if (wrap > length) {
                best_start = last;
                best_end = size + first;
                length = wrap;
            }
        } else if (last - prev == 1u) {
            const bool prev_used = vek_bitmap_isset(map, prev) == 1;
            const bool last_used = vek_bitmap_isset(map, last) == 1;
            if (!(prev_used && last_used)) return on_ring(uint64_t{last_used ? prev : last} + size / 2u, size);
        }
    }
    if (length <= 1u) return size;
    return on_ring(uint64_t{best_start} + length / 2u, size);
}

} // namespace

// Its trace lines are those of the operations it calls.
extern "C" VEK_API uint32_t vek_pick_a_nice_id_from_bitmap(vek_bitmap_t *map) {
    const vek::trace::Call call(__func__);
    return pick_by_spans(map);
}

extern "C" VEK_API uint32_t vek_pick_a_nice_id_from_bitmap1(vek_bitmap_t *map) {
    const vek::trace::Call call(__func__, {{"map", map}});
    // A missing bitmap or word array answers 0 without an exit line.
    if (map == nullptr || map->bits == nullptr) return 0;
    const uint32_t choice = pick_single_pass(map);
    call.exit({{"choice", choice}});
    return choice;
}
