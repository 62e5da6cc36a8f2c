// Put, get and remove of the hash table and the paged direct table beside
// std::unordered_map, on the same keys: the dense keys 0 .. n-1 in a fixed
// shuffled order. Each iteration handles all n keys; the rates are per key.
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include <vek/vekcommon.h>

namespace {

constexpr uint32_t kPageSize = 64;

const std::vector<uint32_t> &keys(uint32_t n) {
    static std::vector<uint32_t> k;
    if (k.size() != n) {
        k.resize(n);
        std::iota(k.begin(), k.end(), 0u);
        std::shuffle(k.begin(), k.end(), std::mt19937(12345u));
    }
    return k;
}

inline uintptr_t value_of(uint32_t key) { return uintptr_t{key} + 1; }

// One container kind behind a common face.
struct HashTable {
    vek_hash_t *t;
    explicit HashTable(uint32_t n) : t(vek_hash_create_table(n)) {}
    ~HashTable() { vek_hash_delete_table(t); }
    void put(uint32_t k, uintptr_t v) { benchmark::DoNotOptimize(vek_hash_put(t, k, v)); }
    uintptr_t get(uint32_t k) { return vek_hash_get(t, k); }
    uintptr_t rem(uint32_t k) { return vek_hash_rem(t, k); }
};

struct PagedTable {
    vek_dpt_t *t;
    explicit PagedTable(uint32_t n) : t(vek_dpt_create_table(n, kPageSize)) {}
    ~PagedTable() { vek_dpt_delete_nodes_and_table(t, nullptr); }
    void put(uint32_t k, uintptr_t v) { benchmark::DoNotOptimize(vek_dpt_put(t, k, v, nullptr)); }
    uintptr_t get(uint32_t k) { return vek_dpt_get(t, k); }
    uintptr_t rem(uint32_t k) { return vek_dpt_rem(t, k); }
};

struct StdMap {
    std::unordered_map<uint32_t, uintptr_t> t;
    explicit StdMap(uint32_t n) { t.reserve(n); }
    void put(uint32_t k, uintptr_t v) { t[k] = v; }
    uintptr_t get(uint32_t k) {
        auto it = t.find(k);
        return it == t.end() ? 0 : it->second;
    }
    uintptr_t rem(uint32_t k) {
        auto it = t.find(k);
        if (it == t.end()) return 0;
        const uintptr_t v = it->second;
        t.erase(it);
        return v;
    }
};

// Stores every key into an empty container.
template <typename C>
void BM_Put(benchmark::State &state) {
    const uint32_t n = static_cast<uint32_t>(state.range(0));
    const auto &k = keys(n);
    for (auto _ : state) {
        state.PauseTiming();
        {
            C c(n);
            state.ResumeTiming();
            for (uint32_t key : k) c.put(key, value_of(key));
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// Reads every key of a full container.
template <typename C>
void BM_Get(benchmark::State &state) {
    const uint32_t n = static_cast<uint32_t>(state.range(0));
    const auto &k = keys(n);
    C c(n);
    for (uint32_t key : k) c.put(key, value_of(key));
    for (auto _ : state) {
        for (uint32_t key : k) benchmark::DoNotOptimize(c.get(key));
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// Removes every key of a full container.
template <typename C>
void BM_Rem(benchmark::State &state) {
    const uint32_t n = static_cast<uint32_t>(state.range(0));
    const auto &k = keys(n);
    C c(n);
    for (auto _ : state) {
        state.PauseTiming();
        for (uint32_t key : k) c.put(key, value_of(key));
        state.ResumeTiming();
        for (uint32_t key : k) benchmark::DoNotOptimize(c.rem(key));
    }
    state.SetItemsProcessed(state.iterations() * n);
}

#define CONTAINER_BENCHES(C)                                   \
    BENCHMARK_TEMPLATE(BM_Put, C)->Arg(1 << 12)->Arg(1 << 16); \
    BENCHMARK_TEMPLATE(BM_Get, C)->Arg(1 << 12)->Arg(1 << 16); \
    BENCHMARK_TEMPLATE(BM_Rem, C)->Arg(1 << 12)->Arg(1 << 16)

CONTAINER_BENCHES(HashTable);
CONTAINER_BENCHES(PagedTable);
CONTAINER_BENCHES(StdMap);

} // namespace
