// Reserve, find and the span walk on large fragmented bitmaps of 2^24
// identifiers, beside a plain bit-by-bit loop over the same words that
// answers the same question. Two shapes:
//   used-heavy: long stretches in use with a short hole (1..8 free) about
//     every 1024 identifiers, and one free run of 256 at 15/16 of the way;
//     reserving 256 walks every hole (the hint is at the first one).
//   free-heavy: free runs of 2000..6000 between used runs of 1..64, and one
//     free run of 100000 near the end; finding 100000 measures every run.
#include <cstdint>
#include <random>
#include <utility>

#include <benchmark/benchmark.h>

#include <vek/vekcommon.h>

namespace {

constexpr uint32_t kSize = 1u << 24;

enum Shape { UsedHeavy = 0, FreeHeavy = 1 };

vek_bitmap_t *build(Shape shape) {
    vek_bitmap_t *m = vek_bitmap_create(kSize);
    std::mt19937 rng(4242u);
    if (shape == UsedHeavy) {
        vek_bitmap_reserve_fixed(m, kSize, 0);
        for (uint32_t at = 512; at + 16 < kSize; at += 1024) {
            vek_bitmap_unreserve(m, 1 + rng() % 8, at + rng() % 64);
        }
        vek_bitmap_unreserve(m, 256, kSize / 16 * 15 + 100);
    } else {
        uint32_t at = 0;
        while (at < kSize - 200000) {
            at += 2000 + rng() % 4000;
            const uint32_t used = 1 + rng() % 64;
            vek_bitmap_reserve_fixed(m, used, at);
            at += used;
        }
        vek_bitmap_reserve_fixed(m, kSize - at - 150000, at); // leaves 150000 free at the end
    }
    return m;
}

// One bitmap per shape for the whole run.
vek_bitmap_t *bitmap(Shape shape) {
    static vek_bitmap_t *maps[2] = {build(UsedHeavy), build(FreeHeavy)};
    return maps[shape];
}

constexpr uint32_t want_of(Shape shape) { return shape == UsedHeavy ? 256u : 100000u; }

bool used_bit(const vek_bitmap_t *m, uint32_t i) { return (m->bits[i / 32] >> (i % 32)) & 1u; }

// First fit from the hint, one bit at a time (no wrap needed here).
bool naive_first_fit(const vek_bitmap_t *m, uint32_t want, uint32_t *base) {
    uint32_t run = 0;
    for (uint32_t i = m->firstFree; i < m->size; ++i) {
        if (used_bit(m, i)) {
            run = 0;
        } else if (++run == want) {
            *base = i + 1 - want;
            return true;
        }
    }
    return false;
}

uint32_t count_span(uint32_t, uint32_t, uintptr_t args) {
    ++*reinterpret_cast<uint64_t *>(args);
    return 0;
}

// Gaps between used identifiers, one bit at a time, with the same callback.
void naive_spans(const vek_bitmap_t *m, uint64_t *count) {
    int64_t prev = -1;
    for (uint32_t i = 0; i < m->size; ++i) {
        if (!used_bit(m, i)) continue;
        if (prev >= 0 && i - prev > 1) count_span(static_cast<uint32_t>(prev), i, reinterpret_cast<uintptr_t>(count));
        prev = i;
    }
}

void BM_Reserve(benchmark::State &state) {
    const auto shape = static_cast<Shape>(state.range(0));
    vek_bitmap_t *m = bitmap(shape);
    const uint32_t want = want_of(shape);
    for (auto _ : state) {
        uint32_t base = 0;
        benchmark::DoNotOptimize(vek_bitmap_reserve(m, want, &base));
        vek_bitmap_unreserve(m, want, base);
    }
}

void BM_ReserveBitByBit(benchmark::State &state) {
    const auto shape = static_cast<Shape>(state.range(0));
    vek_bitmap_t *m = bitmap(shape);
    const uint32_t want = want_of(shape);
    for (auto _ : state) {
        uint32_t base = 0;
        if (naive_first_fit(m, want, &base)) {
            for (uint32_t i = base; i < base + want; ++i) m->bits[i / 32] |= 1u << (i % 32);
            for (uint32_t i = base; i < base + want; ++i) m->bits[i / 32] &= ~(1u << (i % 32));
        }
        benchmark::DoNotOptimize(base);
    }
}

void BM_Find(benchmark::State &state) {
    const auto shape = static_cast<Shape>(state.range(0));
    vek_bitmap_t *m = bitmap(shape);
    for (auto _ : state) {
        uint32_t base = 0;
        benchmark::DoNotOptimize(vek_bitmap_find(m, want_of(shape), &base));
        benchmark::DoNotOptimize(base);
    }
}

void BM_FindBitByBit(benchmark::State &state) {
    const auto shape = static_cast<Shape>(state.range(0));
    vek_bitmap_t *m = bitmap(shape);
    for (auto _ : state) {
        uint32_t base = 0;
        benchmark::DoNotOptimize(naive_first_fit(m, want_of(shape), &base));
        benchmark::DoNotOptimize(base);
    }
}

void BM_SpanWalk(benchmark::State &state) {
    vek_bitmap_t *m = bitmap(static_cast<Shape>(state.range(0)));
    uint64_t spans = 0;
    for (auto _ : state) {
        spans = 0;
        benchmark::DoNotOptimize(vek_bitmap_find_spans(m, count_span, reinterpret_cast<uintptr_t>(&spans)));
    }
    state.counters["spans"] = static_cast<double>(spans);
}

void BM_SpanWalkBitByBit(benchmark::State &state) {
    vek_bitmap_t *m = bitmap(static_cast<Shape>(state.range(0)));
    uint64_t spans = 0;
    for (auto _ : state) {
        spans = 0;
        naive_spans(m, &spans);
        benchmark::DoNotOptimize(spans);
    }
    state.counters["spans"] = static_cast<double>(spans);
}

// Argument 0: used-heavy, 1: free-heavy.
BENCHMARK(BM_Reserve)->Arg(UsedHeavy)->Arg(FreeHeavy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReserveBitByBit)->Arg(UsedHeavy)->Arg(FreeHeavy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Find)->Arg(UsedHeavy)->Arg(FreeHeavy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindBitByBit)->Arg(UsedHeavy)->Arg(FreeHeavy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpanWalk)->Arg(UsedHeavy)->Arg(FreeHeavy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpanWalkBitByBit)->Arg(UsedHeavy)->Arg(FreeHeavy)->Unit(benchmark::kMicrosecond);

} // namespace
