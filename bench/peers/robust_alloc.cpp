// Small robust blocks through the platform layer (vek_nvm_robust_malloc and
// vek_nvm_robust_free: the private robust heap with the stand-in's counters
// on top) beside the C library's malloc and free. Cases: one block taken
// and given back at once, and 1024 blocks of mixed small sizes taken, then
// given back in the order they were taken. One iteration does 1024 pairs.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <vek/vekcommon.h>

#include "peers.hpp"
#include "vek_saltest.h"

namespace {

constexpr int kBlocks = 1024;

std::vector<std::size_t> mixed_sizes() {
    std::mt19937 rng(7);
    std::vector<std::size_t> s(kBlocks);
    for (std::size_t &n : s) n = 16 + rng() % 241;
    return s;
}

// Each side writes a block through its holder and releases the block a
// holder holds, as the library does (and so that the compiler cannot
// drop a block it sees unused).
struct Vek {
    static void take(std::size_t n, void **holder) { vek_nvm_robust_malloc(n, holder, VEK_NVM_NO_FILL); }
    static void give(void **holder) { vek_nvm_robust_free(holder); }
};

struct Glibc {
    static void take(std::size_t n, void **holder) { *holder = std::malloc(n); }
    static void give(void **holder) {
        std::free(*holder);
        *holder = nullptr;
    }
};

template <typename A>
void pair(benchmark::State &state, std::size_t size) {
    void *held = nullptr;
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) {
            A::take(size, &held);
            benchmark::DoNotOptimize(held);
            A::give(&held);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
}

template <typename A>
void batch(benchmark::State &state) {
    const std::vector<std::size_t> sizes = mixed_sizes();
    std::vector<void *> held(kBlocks);
    const std::uint32_t steps = vek_saltest_heap_steps();
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) A::take(sizes[i], &held[i]);
        benchmark::ClobberMemory();
        for (int i = 0; i < kBlocks; ++i) {
            if (held[i] == nullptr) return state.SkipWithError("out of memory");
            A::give(&held[i]);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
    // Ordered stores the heap's areas took per iteration (thread caches
    // filled and emptied): 0 once the working set has settled in the cache.
    state.counters["heap_steps"] =
        benchmark::Counter(vek_saltest_heap_steps() - steps, benchmark::Counter::kAvgIterations);
}

const bool registered = [] {
    for (const std::size_t size : {16, 64, 256}) {
        const std::string name = "robust_alloc/pair/" + std::to_string(size);
        peers::add(name, "vek", [size](benchmark::State &st) { pair<Vek>(st, size); });
        peers::add(name, "glibc_malloc", [size](benchmark::State &st) { pair<Glibc>(st, size); });
    }
    peers::add("robust_alloc/batch1024/16-256", "vek", [](benchmark::State &st) { batch<Vek>(st); });
    peers::add("robust_alloc/batch1024/16-256", "glibc_malloc", [](benchmark::State &st) { batch<Glibc>(st); });
    return true;
}();

} // namespace
