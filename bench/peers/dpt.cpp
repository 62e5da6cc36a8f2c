// The paged direct table beside a plain array of values (0 = empty) of the
// same size: put, get and remove of every key 0 .. n-1 in a fixed shuffled
// order, and filling an empty table through "pick the lowest free key".
// One iteration handles all n keys.
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <vek/vekcommon.h>

#include "peers.hpp"

namespace {

constexpr uint32_t kPageSize = 64;

inline uintptr_t value_of(uint32_t key) { return uintptr_t{key} * 2 + 1; }

std::vector<uint32_t> make_keys(uint32_t n) {
    std::vector<uint32_t> k(n);
    std::iota(k.begin(), k.end(), 0u);
    std::shuffle(k.begin(), k.end(), std::mt19937(777u + n));
    return k;
}

struct Vek {
    vek_dpt_t *t;
    explicit Vek(uint32_t n) : t(vek_dpt_create_table(n, kPageSize)) {}
    ~Vek() { vek_dpt_delete_nodes_and_table(t, nullptr); }
    void put(uint32_t k, uintptr_t v) { benchmark::DoNotOptimize(vek_dpt_put(t, k, v, nullptr)); }
    uintptr_t get(uint32_t k) { return vek_dpt_get(t, k); }
    uintptr_t rem(uint32_t k) { return vek_dpt_rem(t, k); }
    uint32_t put_pick(uintptr_t v) {
        uint32_t key = 0;
        return vek_dpt_put_pick_key(t, v, &key) == 0 ? key : UINT32_MAX;
    }
};

// A plain array; the lowest free key is found by a scan from the lowest
// key that may be free.
struct Array {
    std::vector<uintptr_t> t;
    uint32_t low = 0;
    explicit Array(uint32_t n) : t(n, 0) {}
    void put(uint32_t k, uintptr_t v) {
        t[k] = v;
        if (v == 0 && k < low) low = k;
    }
    uintptr_t get(uint32_t k) { return t[k]; }
    uintptr_t rem(uint32_t k) {
        const uintptr_t v = t[k];
        t[k] = 0;
        if (k < low) low = k;
        return v;
    }
    uint32_t put_pick(uintptr_t v) {
        while (low < t.size() && t[low] != 0) ++low;
        if (low == t.size()) return UINT32_MAX;
        t[low] = v;
        return low;
    }
};

template <typename C>
bool check(const std::vector<uint32_t> &keys) {
    const uint32_t n = static_cast<uint32_t>(keys.size());
    C c(n);
    for (uint32_t k : keys) c.put(k, value_of(k));
    for (uint32_t k : keys) {
        if (c.get(k) != value_of(k)) return false;
    }
    for (uint32_t k : keys) {
        if (c.rem(k) != value_of(k)) return false;
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (c.put_pick(value_of(i)) != i) return false;
    }
    return c.put_pick(1) == UINT32_MAX;
}

template <typename C>
void put(benchmark::State &state, const std::vector<uint32_t> &keys) {
    if (!check<C>(keys)) return state.SkipWithError("wrong results");
    C c(static_cast<uint32_t>(keys.size()));
    for (auto _ : state) {
        for (uint32_t k : keys) c.put(k, value_of(k));
        state.PauseTiming();
        for (uint32_t k : keys) c.rem(k);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

template <typename C>
void get(benchmark::State &state, const std::vector<uint32_t> &keys) {
    if (!check<C>(keys)) return state.SkipWithError("wrong results");
    C c(static_cast<uint32_t>(keys.size()));
    for (uint32_t k : keys) c.put(k, value_of(k));
    for (auto _ : state) {
        for (uint32_t k : keys) benchmark::DoNotOptimize(c.get(k));
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

template <typename C>
void rem(benchmark::State &state, const std::vector<uint32_t> &keys) {
    if (!check<C>(keys)) return state.SkipWithError("wrong results");
    C c(static_cast<uint32_t>(keys.size()));
    for (auto _ : state) {
        state.PauseTiming();
        for (uint32_t k : keys) c.put(k, value_of(k));
        state.ResumeTiming();
        for (uint32_t k : keys) benchmark::DoNotOptimize(c.rem(k));
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

template <typename C>
void put_pick(benchmark::State &state, const std::vector<uint32_t> &keys) {
    if (!check<C>(keys)) return state.SkipWithError("wrong results");
    const uint32_t n = static_cast<uint32_t>(keys.size());
    C c(n);
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i) benchmark::DoNotOptimize(c.put_pick(value_of(i)));
        state.PauseTiming();
        for (uint32_t k : keys) c.rem(k);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

template <typename C>
void add_all(uint32_t n, const std::string &impl) {
    const std::vector<uint32_t> keys = make_keys(n);
    const std::string size = "/" + std::to_string(n);
    peers::add("dpt/put" + size, impl, [keys](benchmark::State &st) { put<C>(st, keys); });
    peers::add("dpt/get" + size, impl, [keys](benchmark::State &st) { get<C>(st, keys); });
    peers::add("dpt/rem" + size, impl, [keys](benchmark::State &st) { rem<C>(st, keys); });
    peers::add("dpt/put_pick" + size, impl, [keys](benchmark::State &st) { put_pick<C>(st, keys); });
}

const bool registered = [] {
    for (const uint32_t n : {4096u, 65536u}) {
        add_all<Vek>(n, "vek");
        add_all<Array>(n, "plain_array");
    }
    return true;
}();

} // namespace
