// Bitmap pairs: vek_bitmap_find, reserve + unreserve and the span walk on
// 2^24-identifier bitmaps, beside two peers written here over the same
// words: a minimal word-at-a-time scan (32-bit words, count-trailing-zeros
// inside a word, whole words skipped) and a bit-by-bit loop. Every peer's
// answer is checked against the library's before anything is timed.
//
// Shapes:
//   empty:      mostly empty, one used identifier every 4096;
//   fragmented: used runs of 1..64 between free runs of 2000..6000;
//   dense:      used runs of 1..64 between free runs of 1..1024;
//   full:       nearly full, a hole of 1..8 free about every 1024
//               identifiers and one free run of 256 at 15/16.
// Finds: 1, 256 and a size that never fits (one more than the longest free
// run: a whole pass over the bitmap).
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <vek/vekcommon.h>

namespace {

constexpr uint32_t kSize = 1u << 24;

enum Shape { Empty, Fragmented, Dense, Full, NumShapes };
const char *const kShapeName[NumShapes] = {"empty", "fragmented", "dense", "full"};

vek_bitmap_t *build(Shape shape) {
    vek_bitmap_t *m = vek_bitmap_create(kSize);
    std::mt19937 rng(4242u + shape);
    switch (shape) {
    case Empty:
        for (uint32_t at = 4095; at < kSize; at += 4096) vek_bitmap_reserve_fixed(m, 1, at);
        break;
    case Fragmented:
        for (uint32_t at = 2000 + rng() % 4000; at < kSize;) {
            const uint32_t used = 1 + rng() % 64;
            vek_bitmap_reserve_fixed(m, used, at);
            at += used + 2000 + rng() % 4000;
        }
        break;
    case Dense:
        for (uint32_t at = 1 + rng() % 1024; at < kSize;) {
            const uint32_t used = 1 + rng() % 64;
            vek_bitmap_reserve_fixed(m, used, at);
            at += used + 1 + rng() % 1024;
        }
        break;
    case Full:
        vek_bitmap_reserve_fixed(m, kSize, 0);
        for (uint32_t at = 512; at + 16 < kSize; at += 1024) vek_bitmap_unreserve(m, 1 + rng() % 8, at + rng() % 64);
        vek_bitmap_unreserve(m, 256, kSize / 16 * 15 + 100);
        break;
    default: break;
    }
    return m;
}

vek_bitmap_t *bitmap(Shape shape) {
    static vek_bitmap_t *maps[NumShapes] = {build(Empty), build(Fragmented), build(Dense), build(Full)};
    return maps[shape];
}

// ---- peer 1: minimal word-at-a-time scan -----------------------------------

struct WordScan {
    const uint32_t *bits;
    uint64_t nbits; // words * 32; tail bits of the last word read as used

    // First position >= p whose bit equals `set`, or nbits.
    uint64_t next(uint64_t p, bool set) const {
        if (p >= nbits) return nbits;
        const uint32_t flip = set ? 0u : ~0u;
        uint64_t wi = p / 32;
        uint32_t w = (bits[wi] ^ flip) & (~0u << (p % 32));
        while (w == 0) {
            if (++wi * 32 >= nbits) return nbits;
            w = bits[wi] ^ flip;
        }
        return wi * 32 + static_cast<uint32_t>(__builtin_ctz(w));
    }

    // First fit from `from`, no wrap.
    bool first_fit(uint32_t size, uint32_t from, uint32_t want, uint32_t *base) const {
        for (uint64_t p = next(from, false); p < size;) {
            const uint64_t end = next(p, true);
            if (end - p >= want) {
                *base = static_cast<uint32_t>(p);
                return true;
            }
            p = next(end, false);
        }
        return false;
    }
};

WordScan word_scan(const vek_bitmap_t *m) { return {m->bits, uint64_t{m->words_needed} * 32}; }

void set_words(uint32_t *bits, uint32_t base, uint32_t n, bool set) {
    for (uint32_t i = base; i < base + n;) {
        const uint32_t off = i % 32;
        const uint32_t k = std::min(32 - off, base + n - i);
        const uint32_t mask = (k == 32 ? ~0u : ((1u << k) - 1u)) << off;
        if (set) {
            bits[i / 32] |= mask;
        } else {
            bits[i / 32] &= ~mask;
        }
        i += k;
    }
}

// ---- peer 2: one bit at a time ---------------------------------------------

bool used_bit(const vek_bitmap_t *m, uint64_t i) { return (m->bits[i / 32] >> (i % 32)) & 1u; }

bool bit_first_fit(const vek_bitmap_t *m, uint32_t from, uint32_t want, uint32_t *base) {
    uint32_t run = 0;
    for (uint32_t i = from; i < m->size; ++i) {
        if (used_bit(m, i)) {
            run = 0;
        } else if (++run == want) {
            *base = i + 1 - want;
            return true;
        }
    }
    return false;
}

// ---- span walks: same callback, same ring closure --------------------------

struct SpanSum {
    uint64_t count = 0;
    uint64_t sum = 0;
    bool operator==(const SpanSum &) const = default;
};

uint32_t add_span(uint32_t before, uint32_t after, uintptr_t args) {
    auto *s = reinterpret_cast<SpanSum *>(args);
    ++s->count;
    s->sum += before * 3ull + after;
    return 0;
}

// The ring closure the library reports after the last used identifier.
void close_ring(uint32_t size, uint64_t first, uint64_t last, SpanSum *s) {
    if (last < size - 1u) {
        add_span(static_cast<uint32_t>(last), static_cast<uint32_t>(first), reinterpret_cast<uintptr_t>(s));
    } else if (first != 0) {
        add_span(size - 1u, static_cast<uint32_t>(first), reinterpret_cast<uintptr_t>(s));
    }
}

void word_spans(const vek_bitmap_t *m, SpanSum *s) {
    const WordScan w = word_scan(m);
    const uint64_t first = w.next(0, true);
    if (first >= m->size) return;
    uint64_t last = first;
    for (;;) {
        const uint64_t gap = w.next(last + 1, false);
        if (gap >= m->size) break;
        const uint64_t used = w.next(gap, true);
        if (used >= m->size) break;
        add_span(static_cast<uint32_t>(gap - 1), static_cast<uint32_t>(used), reinterpret_cast<uintptr_t>(s));
        last = w.next(used, false) - 1;
    }
    last = std::min<uint64_t>(last, m->size - 1u);
    // The last used identifier below the size.
    for (uint64_t i = m->size; i-- > last;) {
        if (used_bit(m, i)) {
            last = i;
            break;
        }
    }
    close_ring(m->size, first, last, s);
}

void bit_spans(const vek_bitmap_t *m, SpanSum *s) {
    int64_t first = -1;
    int64_t prev = -1;
    for (uint32_t i = 0; i < m->size; ++i) {
        if (!used_bit(m, i)) continue;
        if (prev >= 0 && i - prev > 1) add_span(static_cast<uint32_t>(prev), i, reinterpret_cast<uintptr_t>(s));
        if (first < 0) first = i;
        prev = i;
    }
    if (first >= 0) close_ring(m->size, static_cast<uint64_t>(first), static_cast<uint64_t>(prev), s);
}

// ---- cross-checks ---------------------------------------------------------

uint32_t longest_free_run(const vek_bitmap_t *m) {
    uint32_t best = 0;
    uint32_t run = 0;
    for (uint32_t i = 0; i < m->size; ++i) {
        run = used_bit(m, i) ? 0 : run + 1;
        best = std::max(best, run);
    }
    return best;
}

uint32_t never_fits(Shape shape) {
    static uint32_t sizes[NumShapes] = {longest_free_run(bitmap(Empty)) + 1, longest_free_run(bitmap(Fragmented)) + 1,
                                        longest_free_run(bitmap(Dense)) + 1, longest_free_run(bitmap(Full)) + 1};
    return sizes[shape];
}

bool check_find(Shape shape, uint32_t want, std::string *why) {
    vek_bitmap_t *m = bitmap(shape);
    uint32_t a = 0;
    uint32_t b = 0;
    uint32_t c = 0;
    const bool fa = vek_bitmap_find(m, want, &a) == 0;
    const bool fb = word_scan(m).first_fit(m->size, m->firstFree, want, &b);
    const bool fc = bit_first_fit(m, m->firstFree, want, &c);
    if (fa == fb && fb == fc && (!fa || (a == b && b == c))) return true;
    *why = "find " + std::to_string(want) + " disagrees: " + std::to_string(fa) + "/" + std::to_string(a) + " " +
           std::to_string(fb) + "/" + std::to_string(b) + " " + std::to_string(fc) + "/" + std::to_string(c);
    return false;
}

bool check_spans(Shape shape, std::string *why) {
    vek_bitmap_t *m = bitmap(shape);
    SpanSum a;
    SpanSum b;
    SpanSum c;
    vek_bitmap_find_spans(m, add_span, reinterpret_cast<uintptr_t>(&a));
    word_spans(m, &b);
    bit_spans(m, &c);
    if (a == b && b == c) return true;
    *why = "span walks disagree: " + std::to_string(a.count) + " " + std::to_string(b.count) + " " +
           std::to_string(c.count);
    return false;
}

// ---- the pairs -------------------------------------------------------------

enum Peer { Vek, Word, Bit };

void find_bench(benchmark::State &state, Shape shape, uint32_t want, Peer peer) {
    std::string why;
    if (!check_find(shape, want, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    vek_bitmap_t *m = bitmap(shape);
    const WordScan w = word_scan(m);
    for (auto _ : state) {
        uint32_t base = 0;
        bool found = false;
        switch (peer) {
        case Vek: found = vek_bitmap_find(m, want, &base) == 0; break;
        case Word: found = w.first_fit(m->size, m->firstFree, want, &base); break;
        case Bit: found = bit_first_fit(m, m->firstFree, want, &base); break;
        }
        benchmark::DoNotOptimize(found);
        benchmark::DoNotOptimize(base);
    }
}

void reserve_bench(benchmark::State &state, Shape shape, uint32_t want, Peer peer) {
    std::string why;
    if (!check_find(shape, want, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    vek_bitmap_t *m = bitmap(shape);
    const WordScan w = word_scan(m);
    for (auto _ : state) {
        uint32_t base = 0;
        switch (peer) {
        case Vek:
            if (vek_bitmap_reserve(m, want, &base) == 0) vek_bitmap_unreserve(m, want, base);
            break;
        case Word:
            if (w.first_fit(m->size, m->firstFree, want, &base)) {
                set_words(m->bits, base, want, true);
                set_words(m->bits, base, want, false);
            }
            break;
        case Bit:
            if (bit_first_fit(m, m->firstFree, want, &base)) {
                for (uint32_t i = base; i < base + want; ++i) m->bits[i / 32] |= 1u << (i % 32);
                for (uint32_t i = base; i < base + want; ++i) m->bits[i / 32] &= ~(1u << (i % 32));
            }
            break;
        }
        benchmark::DoNotOptimize(base);
    }
}

void spans_bench(benchmark::State &state, Shape shape, Peer peer) {
    std::string why;
    if (!check_spans(shape, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    vek_bitmap_t *m = bitmap(shape);
    SpanSum s;
    for (auto _ : state) {
        s = SpanSum{};
        switch (peer) {
        case Vek: vek_bitmap_find_spans(m, add_span, reinterpret_cast<uintptr_t>(&s)); break;
        case Word: word_spans(m, &s); break;
        case Bit: bit_spans(m, &s); break;
        }
        benchmark::DoNotOptimize(s);
    }
    state.counters["spans"] = static_cast<double>(s.count);
}

const char *const kPeerName[] = {"vek", "word_scan", "bit_by_bit"};

const bool registered = [] {
    for (int sh = 0; sh < NumShapes; ++sh) {
        const auto shape = static_cast<Shape>(sh);
        const std::string tail = std::string("_") + kShapeName[sh];
        for (int p = 0; p < 3; ++p) {
            const auto peer = static_cast<Peer>(p);
            const std::string who = std::string("/") + kPeerName[p];
            for (const uint32_t want : {1u, 256u}) {
                benchmark::RegisterBenchmark(("peers/bitmap_find_" + std::to_string(want) + tail + who).c_str(),
                                             [=](benchmark::State &st) { find_bench(st, shape, want, peer); })
                    ->Unit(benchmark::kMicrosecond);
            }
            benchmark::RegisterBenchmark(("peers/bitmap_find_never_fits" + tail + who).c_str(),
                                         [=](benchmark::State &st) { find_bench(st, shape, never_fits(shape), peer); })
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("peers/bitmap_reserve_unreserve_256" + tail + who).c_str(),
                                         [=](benchmark::State &st) { reserve_bench(st, shape, 256, peer); })
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("peers/bitmap_spans" + tail + who).c_str(), [=](benchmark::State &st) {
                spans_bench(st, shape, peer);
            })->Unit(benchmark::kMicrosecond);
        }
    }
    return true;
}();

} // namespace
