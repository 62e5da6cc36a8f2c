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

namespace {

constexpr int kBlocks = 1024;

std::vector<std::size_t> mixed_sizes() {
    std::mt19937 rng(7);
    std::vector<std::size_t> s(kBlocks);
    for (std::size_t &n : s) n = 16 + rng() % 241;
    return s;
}

struct Vek {
    static void *take(std::size_t n) {
        void *p = nullptr;
        return vek_nvm_robust_malloc(n, &p, VEK_NVM_NO_FILL) == VEK_ST_SUCCESS ? p : nullptr;
    }
    static void give(void *p) { vek_nvm_robust_free(&p); }
};

struct Glibc {
    static void *take(std::size_t n) { return std::malloc(n); }
    static void give(void *p) { std::free(p); }
};

template <typename A>
void pair(benchmark::State &state, std::size_t size) {
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) {
            void *p = A::take(size);
            benchmark::DoNotOptimize(p);
            A::give(p);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
}

template <typename A>
void batch(benchmark::State &state) {
    const std::vector<std::size_t> sizes = mixed_sizes();
    std::vector<void *> held(kBlocks);
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) {
            held[i] = A::take(sizes[i]);
            benchmark::DoNotOptimize(held[i]);
        }
        for (int i = 0; i < kBlocks; ++i) A::give(held[i]);
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
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
