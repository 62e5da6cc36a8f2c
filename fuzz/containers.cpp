// Operation sequences on the bitmap, the paged direct table, the hash
// table and the sorted set, each checked after every step against a simple
// model that follows the documented algorithms: results, out-parameters,
// the bitmap's words and hint, the table's pages, the chain order and the
// node pool; and by the library's own structure check of the container.
// Robust allocations fail at input-chosen points.
//
// Input: byte 0 picks the container (and its size), then operations.
#include <map>
#include <vector>

#include "bitmap/bitmap_check.hpp"
#include "containers/verify.hpp"
#include "fuzz_support.hpp"
#include "sorted_set/sorted_set_internal.hpp"

namespace {

// ---- bitmap ------------------------------------------------------------

struct BitmapModel {
    uint32_t size;
    std::vector<bool> used;
    uint32_t first_free = 0;

    explicit BitmapModel(uint32_t n) : size(n), used(n, false) {}

    bool is_used(uint64_t id) const { return id >= size || used[id]; }
    uint32_t run(uint32_t pos) const { // free identifiers from pos, exact
        uint32_t n = 0;
        while (!is_used(static_cast<uint64_t>(pos) + n)) ++n;
        return n;
    }
    uint32_t lowest_free_from(uint32_t p) const {
        while (p < size && used[p]) ++p;
        return p;
    }
    uint32_t next_free(uint32_t pos) const {
        uint32_t p = pos;
        if (!is_used(pos)) p = pos + run(pos);
        if (p >= size) return lowest_free_from(0);
        return lowest_free_from(p);
    }
    void set_run(uint32_t n, uint32_t start) {
        for (uint64_t i = start; i < static_cast<uint64_t>(start) + n && i < size; ++i) used[i] = true;
    }
    void clear_run(uint32_t n, uint32_t start) {
        for (uint64_t i = start; i < static_cast<uint64_t>(start) + n && i < size; ++i) used[i] = false;
    }
    // Steps 4 to 9 of the reservation scan from start; the candidate or -1.
    int64_t scan(uint32_t start, uint32_t n) const {
        uint32_t candidate = start;
        bool wrapped = false;
        uint32_t wrap_pos = 0;
        for (;;) {
            if (run(candidate) >= n) return candidate;
            const uint32_t next = next_free(candidate);
            if (next == size) return -1;
            if (wrapped && !(wrap_pos < next && next < start)) return -1;
            if (!wrapped && next <= start) {
                wrapped = true;
                wrap_pos = next;
            }
            candidate = next;
        }
    }
    int32_t reserve(uint32_t n, uint32_t *base, bool test) {
        if (!test && n > size) return -2;
        if (first_free >= size) return test ? -1 : -2;
        uint32_t start = first_free;
        if (used[start]) {
            start = next_free(start);
            if (start == size) return -1;
        }
        const int64_t c = scan(start, n);
        if (c < 0) return -1;
        *base = static_cast<uint32_t>(c);
        if (test) return 0;
        set_run(n, *base);
        if (*base == first_free) {
            first_free = next_free(*base);
            if (first_free == size) first_free = 0;
        }
        return 0;
    }
    int32_t find_from(uint32_t begin, uint32_t n, uint32_t *base) const {
        uint32_t start = begin != 0 ? begin + 1 : first_free;
        if (start >= size) return -1;
        if (used[start]) {
            start = next_free(start);
            if (start == size) return -1;
        }
        const int64_t c = scan(start, n);
        if (c < 0) return -1;
        *base = static_cast<uint32_t>(c);
        return 0;
    }
    void took(uint32_t base) {
        if (base == first_free) first_free = next_free(base);
    }
    int32_t ranged(uint32_t n, uint32_t *base, uint32_t lo, uint32_t hi, bool test) {
        if (hi > size || lo > size) return -1;
        uint32_t candidate = lo;
        if (lo < hi) {
            while (run(candidate) < n) {
                const uint32_t next = next_free(candidate);
                if (next <= candidate) return -1;
                candidate = next;
                if (candidate >= hi) break;
            }
        }
        const uint64_t end = static_cast<uint64_t>(candidate) + n;
        if (test ? end < hi : end <= hi) {
            *base = candidate;
            if (!test) {
                set_run(n, candidate);
                took(candidate);
            }
            return 0;
        }
        return -1;
    }
    int32_t aligned_offsets(uint32_t n, uint32_t *base, uint32_t align, uint32_t so, uint32_t eo, bool test) {
        const uint32_t blocks = size / align + (size % align != 0 ? 1 : 0);
        for (uint32_t k = 0; k < blocks; ++k) {
            const uint32_t s = so + k * align;
            if (ranged(n, base, s, s + (eo - so), test) == 0) return 0;
        }
        return -1;
    }
    int32_t aligned(uint32_t n, uint32_t align, uint32_t *base) {
        uint32_t candidate = first_free;
        if (candidate % align != 0) candidate = first_free + (align - first_free % align);
        while (candidate < size) {
            if (!used[candidate] && run(candidate) >= n) break;
            candidate += align;
        }
        if (candidate >= size) return -1;
        *base = candidate;
        set_run(n, candidate);
        took(candidate);
        return 0;
    }
};

void same_bitmap(const vek_bitmap_t *b, const BitmapModel &m) {
    FUZZ_WHOLE(vek::bitmap::verify(b));
    FUZZ_CHECK(b->size == m.size && b->words_needed == (m.size + 31) / 32);
    FUZZ_CHECK(b->firstFree == m.first_free);
    for (uint32_t w = 0; w < b->words_needed; ++w) {
        uint32_t want = 0;
        for (uint32_t i = 0; i < 32; ++i) {
            if (m.is_used(w * 32 + i)) want |= 1u << i;
        }
        FUZZ_CHECK(b->bits[w] == want);
    }
}

uint32_t count_spans(uint32_t, uint32_t, uintptr_t args) {
    ++*reinterpret_cast<uint32_t *>(args);
    return 0;
}

void fuzz_bitmap(fuzz::Input &in) {
    const uint32_t size = 1 + (in.u16() % 300);
    vek_bitmap_t *b = vek_bitmap_create(size);
    FUZZ_CHECK(b != nullptr);
    BitmapModel m(size);
    same_bitmap(b, m);
    FUZZ_CHECK(vek_bitmap_get_size(b) == size);
    for (int step = 0; step < 96 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        const uint32_t n = (op & 0x80) != 0 ? in.u16() % (size + 3) : in.u8() % 12;
        const uint32_t at = in.u16() % (size + 2);
        uint32_t got = 0xFFFFFFFF;
        uint32_t want = 0xFFFFFFFF;
        switch (op & 0x0F) {
        case 0: FUZZ_CHECK(vek_bitmap_reserve(b, n, &got) == m.reserve(n, &want, false) && got == want); break;
        case 1: FUZZ_CHECK(vek_bitmap_reserve_test(b, n, &got) == m.reserve(n, &want, true) && got == want); break;
        case 2: {
            if (at >= size) break;
            const int32_t r = m.run(at) < n ? -2 : 0;
            if (r == 0) {
                m.set_run(n, at);
                m.took(at);
            }
            FUZZ_CHECK(vek_bitmap_reserve_fixed(b, n, at) == r);
            break;
        }
        case 3:
            if (at >= size) break;
            FUZZ_CHECK(vek_bitmap_unreserve(b, n, at) == 0);
            m.clear_run(n, at);
            if (at < m.first_free) m.first_free = at;
            break;
        case 4: FUZZ_CHECK(vek_bitmap_find(b, n, &got) == m.find_from(0, n, &want) && got == want); break;
        case 5: FUZZ_CHECK(vek_bitmap_find_from(b, at, n, &got) == m.find_from(at, n, &want) && got == want); break;
        case 6: {
            const int32_t r = m.is_used(at) ? -1 : 0;
            if (r == 0) {
                m.used[at] = true;
                m.took(at);
            }
            FUZZ_CHECK(vek_bitmap_set(b, at) == r);
            break;
        }
        case 7:
            FUZZ_CHECK(vek_bitmap_clr(b, at) == 0);
            if (at < size) {
                m.used[at] = false;
                if (at < m.first_free) m.first_free = at;
            }
            break;
        case 8: {
            FUZZ_CHECK(vek_bitmap_isset(b, at) == (at < size && m.used[at] ? 1 : 0));
            int32_t used = 0;
            for (uint32_t i = 0; i < size; ++i) used += m.used[i] ? 1 : 0;
            FUZZ_CHECK(vek_bitmap_count(b, 1) == used && vek_bitmap_count(b, 0) == static_cast<int32_t>(size) - used);
            break;
        }
        case 9: {
            const uint32_t hi = in.u16() % (size + 2);
            const bool test = (op & 0x40) != 0;
            const int32_t r = test ? vek_bitmap_reserve_ranged_test(b, n, &got, at, hi)
                                   : vek_bitmap_reserve_ranged(b, n, &got, at, hi);
            FUZZ_CHECK(r == m.ranged(n, &want, at, hi, test) && got == want);
            break;
        }
        case 10: {
            const uint32_t align = 1 + in.u8() % 40;
            const uint32_t so = in.u8() % 48;
            const uint32_t eo = in.u8() % 48;
            const bool test = (op & 0x40) != 0;
            const int32_t r = test ? vek_bitmap_reserve_aligned_offsets_test(b, n, &got, align, so, eo)
                                   : vek_bitmap_reserve_aligned_offsets(b, n, &got, align, so, eo);
            FUZZ_CHECK(r == m.aligned_offsets(n, &want, align, so, eo, test) && got == want);
            break;
        }
        case 11: {
            const uint32_t align = 1 + in.u8() % 40;
            FUZZ_CHECK(vek_bitmap_reserve_aligned(b, n, align, &got) == m.aligned(n, align, &want) && got == want);
            break;
        }
        case 12: { // a copy, possibly failing
            const uint8_t f = in.u8() % 4;
            vek_saltest_reset();
            if (f != 0) vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, f, 1);
            vek_bitmap_t *c = vek_bitmap_copy(b);
            const bool fired = vek_saltest_faults_fired() != 0;
            vek_saltest_reset();
            FUZZ_CHECK((c == nullptr) == fired);
            if (c != nullptr) {
                same_bitmap(c, m);
                FUZZ_CHECK(vek_bitmap_delete(c) == 0);
            }
            break;
        }
        default: { // spans and nice identifiers read the bitmap only
            uint32_t spans = 0;
            vek_bitmap_find_spans(b, count_spans, reinterpret_cast<uintptr_t>(&spans));
            const uint32_t nice =
                (op & 0x40) != 0 ? vek_pick_a_nice_id_from_bitmap(b) : vek_pick_a_nice_id_from_bitmap1(b);
            (void)nice;
            break;
        }
        }
        same_bitmap(b, m);
    }
    FUZZ_CHECK(vek_bitmap_delete(b) == 0);
}

// ---- paged direct table ------------------------------------------------

struct DptModel {
    uint32_t table_size;
    uint32_t page_size;
    uint32_t pages;
    std::map<uint32_t, uintptr_t> values;

    uint32_t used_in(uint32_t p) const {
        uint32_t n = 0;
        for (auto it = values.lower_bound(p * page_size); it != values.end() && it->first < (p + 1) * page_size; ++it)
            ++n;
        return n;
    }
    int32_t pick(uint32_t *key) const {
        for (uint32_t p = 0; p < pages; ++p) {
            const uint32_t u = used_in(p);
            if (u != 0 && u < page_size) {
                // The lowest empty slot of the lowest open page; when that
                // lies past the table (last page only), an absent page.
                uint32_t s = 0;
                while (values.count(p * page_size + s) != 0) ++s;
                if (p * page_size + s < table_size) {
                    *key = p * page_size + s;
                    return 0;
                }
                break;
            }
        }
        for (uint32_t p = 0; p < pages; ++p) {
            if (used_in(p) == 0) {
                *key = p * page_size;
                return 0;
            }
        }
        *key = 0;
        return -1;
    }
};

void same_dpt(const vek_dpt_t *t, const DptModel &m) {
    uint32_t allocated = 0;
    for (uint32_t p = 0; p < m.pages; ++p) {
        const uint32_t u = m.used_in(p);
        const vek_dpt_page_t *page = t->pageDir[p];
        FUZZ_CHECK((page != nullptr) == (u != 0));
        FUZZ_CHECK(vek_bitmap_isset(t->allocatedPages, p) == (u != 0 ? 1 : 0));
        FUZZ_CHECK(vek_bitmap_isset(t->unavailablePages, p) == (u == 0 || u == m.page_size ? 1 : 0));
        if (page != nullptr) {
            ++allocated;
            FUZZ_CHECK(page->numUsed == u);
        }
    }
    FUZZ_CHECK(t->numAllocatedPages == allocated);
}

std::vector<std::pair<uint32_t, uintptr_t>> g_visits;
int32_t visit(uint32_t key, uintptr_t value) {
    g_visits.emplace_back(key, value);
    return 0;
}
uint32_t g_deleted;
int32_t count_value(uintptr_t) {
    ++g_deleted;
    return 0;
}

void fuzz_dpt(fuzz::Input &in) {
    const uint32_t page_size = 1 + in.u8() % 16;
    const uint32_t table_size = 1 + in.u8() % 160;
    vek_dpt_t *t = vek_dpt_create_table(table_size, page_size);
    FUZZ_CHECK(t != nullptr);
    DptModel m{table_size, page_size, table_size / page_size + (table_size % page_size != 0 ? 1 : 0), {}};
    FUZZ_CHECK(t->numPages == m.pages);
    FUZZ_WHOLE(vek::dpt::verify(t));
    for (int step = 0; step < 96 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        const uint32_t key = in.u8() % (table_size + 2);
        const uintptr_t value = (op & 0x80) != 0 ? 0 : 1 + in.u8();
        switch (op & 7) {
        case 0:
        case 1: {
            const uint8_t f = (op >> 4) & 3;
            vek_saltest_reset();
            if (f != 0) vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, f, 1);
            uintptr_t old = 77;
            const int32_t r = vek_dpt_put(t, key, value, (op & 0x40) != 0 ? nullptr : &old);
            const bool fired = vek_saltest_faults_fired() != 0;
            vek_saltest_reset();
            const uintptr_t prev = m.values.count(key) != 0 ? m.values[key] : 0;
            if (key >= table_size || fired) {
                FUZZ_CHECK(r == -1);
                if ((op & 0x40) == 0) FUZZ_CHECK(old == 0);
            } else {
                FUZZ_CHECK(r == 0);
                if ((op & 0x40) == 0) FUZZ_CHECK(old == prev);
                if (value != 0) m.values[key] = value;
                else m.values.erase(key);
            }
            break;
        }
        case 2: FUZZ_CHECK(vek_dpt_get(t, key) == (m.values.count(key) != 0 ? m.values[key] : 0)); break;
        case 3: {
            const uintptr_t prev = m.values.count(key) != 0 ? m.values[key] : 0;
            FUZZ_CHECK(vek_dpt_rem(t, key) == prev);
            m.values.erase(key);
            break;
        }
        case 4: {
            uint32_t got = 77, want = 0;
            FUZZ_CHECK_EQ(vek_dpt_pick_key(t, &got), m.pick(&want));
            FUZZ_CHECK_EQ(got, want);
            break;
        }
        case 5: {
            uint32_t got = 77, want = 0;
            const int32_t picked = value != 0 ? m.pick(&want) : -1;
            const int32_t r = vek_dpt_put_pick_key(t, value, &got);
            if (picked != 0 || want >= table_size) {
                FUZZ_CHECK(r == -1);
            } else {
                FUZZ_CHECK(r == 0 && got == want);
                m.values[want] = value;
            }
            break;
        }
        default: {
            g_visits.clear();
            vek_dpt_traverse(t, visit);
            using Visits = std::vector<std::pair<uint32_t, uintptr_t>>;
            const Visits want(m.values.begin(), m.values.end());
            FUZZ_CHECK(g_visits == want);
            break;
        }
        }
        same_dpt(t, m);
        FUZZ_WHOLE(vek::dpt::verify(t));
    }
    g_deleted = 0;
    vek_dpt_delete_nodes_and_table(t, count_value);
    uint32_t slots = 0;
    for (uint32_t p = 0; p < m.pages; ++p) slots += m.used_in(p) != 0 ? page_size : 0;
    FUZZ_CHECK(g_deleted == slots);
}

// ---- hash table --------------------------------------------------------

void fuzz_hash(fuzz::Input &in) {
    const uint32_t buckets = 1 + in.u8() % 8;
    vek_hash_t *h = vek_hash_create_table(buckets);
    FUZZ_CHECK(h != nullptr);
    FUZZ_WHOLE(vek::hash::verify(h));
    std::vector<std::vector<std::pair<uint32_t, uintptr_t>>> chains(buckets); // head first
    uint32_t pool = 0;
    auto find = [&](uint32_t key, size_t *at) {
        auto &c = chains[key % buckets];
        for (size_t i = 0; i < c.size(); ++i) {
            if (c[i].first == key) {
                *at = i;
                return true;
            }
        }
        return false;
    };
    for (int step = 0; step < 128 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        const uint32_t key = (op & 0x80) != 0 ? in.u32() : in.u8() % 48;
        auto &c = chains[key % buckets];
        size_t at = 0;
        const bool present = find(key, &at);
        switch (op & 7) {
        case 0:
        case 1: {
            const uintptr_t value = in.u8();
            const uint8_t f = (op >> 4) & 1;
            vek_saltest_reset();
            if (f != 0) vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
            const uintptr_t old = vek_hash_put(h, key, value);
            const bool fired = vek_saltest_faults_fired() != 0;
            vek_saltest_reset();
            if (present) {
                FUZZ_CHECK(old == c[at].second);
                c[at].second = value;
            } else {
                FUZZ_CHECK(old == 0);
                FUZZ_CHECK(fired == (f != 0 && pool == 0));
                if (!fired) {
                    c.emplace_back(key, value);
                    if (pool > 0) --pool;
                }
            }
            break;
        }
        case 2:
        case 3:
            if (present) {
                FUZZ_CHECK(vek_hash_get(h, key) == c[at].second);
                const auto e = c[at];
                c.erase(c.begin() + static_cast<std::ptrdiff_t>(at));
                c.insert(c.begin(), e);
            } else {
                FUZZ_CHECK(vek_hash_get(h, key) == 0);
            }
            break;
        case 4:
            if (present) {
                FUZZ_CHECK(vek_hash_rem(h, key) == c[at].second);
                c.erase(c.begin() + static_cast<std::ptrdiff_t>(at));
                if (pool < VEK_HASH_MAX_FREE_NODES) ++pool;
            } else {
                FUZZ_CHECK(vek_hash_rem(h, key) == 0);
            }
            break;
        case 5: {
            uint32_t k = 0xABCD;
            const uintptr_t v = vek_hash_first_entry(h, &k);
            bool any = false;
            for (const auto &ch : chains) {
                if (!ch.empty()) {
                    FUZZ_CHECK(v == ch[0].second && k == ch[0].first);
                    any = true;
                    break;
                }
            }
            if (!any) FUZZ_CHECK(v == 0 && k == 0xABCD);
            break;
        }
        case 6: vek_hash_print(h); break;
        default: break;
        }
        // Chains in the model's order, and the pool's size.
        for (uint32_t bkt = 0; bkt < buckets; ++bkt) {
            const vek_hash_node_t *n = h->buckets[bkt];
            const vek_hash_node_t *prev = nullptr;
            for (const auto &e : chains[bkt]) {
                FUZZ_CHECK(n != nullptr && n->key == e.first && n->value == e.second);
                FUZZ_CHECK(reinterpret_cast<const vek_hash_node_t *>(n->link.prev) == prev);
                prev = n;
                n = reinterpret_cast<const vek_hash_node_t *>(n->link.next);
            }
            FUZZ_CHECK(n == nullptr);
        }
        FUZZ_CHECK(h->numFreeNodes == pool);
        FUZZ_WHOLE(vek::hash::verify(h));
    }
    g_deleted = 0;
    size_t entries = 0;
    for (const auto &ch : chains) entries += ch.size();
    vek_hash_delete_nodes_and_table(h, count_value);
    FUZZ_CHECK(g_deleted == entries);
}

// ---- sorted set --------------------------------------------------------

int32_t cmp_ascending(uintptr_t a, uintptr_t b) { return a == b ? 0 : (a < b ? 1 : 2); }

struct VisitState {
    std::vector<std::pair<uintptr_t, uintptr_t>> seen;
    uint32_t stop_at;
};
int32_t visit_set(uint32_t n, uintptr_t key, uintptr_t value, uintptr_t args) {
    auto *s = reinterpret_cast<VisitState *>(args);
    FUZZ_CHECK(n == s->seen.size());
    s->seen.emplace_back(key, value);
    return n + 1 == s->stop_at ? 5 : 0;
}

void fuzz_sorted_set(fuzz::Input &in) {
    const uint32_t msize = 8 * (1 + in.u8() % 6);
    const uint32_t initial = in.u8() % 4;
    vek_sorted_set_t *s = vek_sorted_set_create(msize, initial);
    FUZZ_CHECK(s != nullptr && s->maxSortedSetSize == initial);
    FUZZ_WHOLE(vek::sorted_set::verify(s));
    std::map<uintptr_t, uintptr_t> m;
    for (int step = 0; step < 128 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        const uintptr_t key = in.u8() % 64;
        switch (op & 7) {
        case 0:
        case 1: {
            const uintptr_t value = 1 + in.u8();
            const uint8_t f = (op >> 4) & 1;
            vek_saltest_reset();
            if (f != 0) vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
            const uint32_t cap = s->maxSortedSetSize;
            const uintptr_t old = vek_sorted_set_put(s, key, cmp_ascending, value);
            const bool fired = vek_saltest_faults_fired() != 0;
            vek_saltest_reset();
            const bool present = m.count(key) != 0;
            FUZZ_CHECK(old == (present ? m[key] : 0));
            FUZZ_CHECK(fired == (f != 0 && !present && m.size() == cap));
            if (!fired) m[key] = value;
            break;
        }
        case 2: FUZZ_CHECK(vek_sorted_set_get(s, key, cmp_ascending) == (m.count(key) != 0 ? m[key] : 0)); break;
        case 3: {
            const uintptr_t prev = m.count(key) != 0 ? m[key] : 0;
            FUZZ_CHECK(vek_sorted_set_remove(s, key, cmp_ascending) == prev);
            m.erase(key);
            break;
        }
        case 4: {
            const uint32_t n = static_cast<uint32_t>(key % 8);
            auto it = m.begin();
            std::advance(it, std::min<size_t>(n, m.size()));
            FUZZ_CHECK(vek_sorted_set_get_n(s, n) == (it != m.end() ? it->second : 0));
            break;
        }
        case 5: {
            const uint32_t n = static_cast<uint32_t>(key % 8);
            const uintptr_t value = 1 + in.u8();
            auto it = m.begin();
            std::advance(it, std::min<size_t>(n, m.size()));
            const uintptr_t prev = it != m.end() ? it->second : 0;
            FUZZ_CHECK(vek_sorted_set_put_n(s, n, value) == prev);
            if (it != m.end()) it->second = value;
            break;
        }
        default: {
            VisitState v{{}, static_cast<uint32_t>(key % 16)};
            const int32_t r = vek_sorted_set_iterate_through_set(s, visit_set, reinterpret_cast<uintptr_t>(&v));
            const bool stopped = v.stop_at != 0 && v.stop_at <= m.size();
            FUZZ_CHECK(r == (stopped ? 5 : 0));
            FUZZ_CHECK(v.seen.size() == (stopped ? v.stop_at : m.size()));
            auto it = m.begin();
            for (const auto &e : v.seen) {
                FUZZ_CHECK(e.first == it->first && e.second == it->second);
                ++it;
            }
            break;
        }
        }
        FUZZ_CHECK(vek_sorted_set_size(s) == m.size() && s->curSortedSetSize <= s->maxSortedSetSize);
        FUZZ_WHOLE(vek::sorted_set::verify(s));
    }
    vek_sorted_set_delete_nodes_and_set(s, nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input in(data, size);
    const fuzz::LeakCheck leaks;
    vek_saltest_reset();
    switch (in.u8() % 4) {
    case 0: fuzz_bitmap(in); break;
    case 1: fuzz_dpt(in); break;
    case 2: fuzz_hash(in); break;
    default: fuzz_sorted_set(in); break;
    }
    vek_saltest_reset();
    FUZZ_NO_LEAK(leaks);
    return 0;
}
